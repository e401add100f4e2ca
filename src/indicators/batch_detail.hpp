// Pieces the batch indicators share: the NaN-aware pairwise max, the true range, the
// in-order sums, the SMA pass that bollinger_bands reuses, the ATR seed that supertrend reuses,
// the length check and the window fold behind stochastic and rolling_min/rolling_max. Internal to
// src/indicators/; nothing outside this directory includes it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <optional>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "indicators/errors.hpp"
#include "indicators/indicators.hpp"

namespace quillon::indicators::detail {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

// Max ignoring NaN: the other value when one is NaN, NaN only when both are. Between values
// that compare equal (0.0 and -0.0) the first argument is kept, so the result never depends on
// what the hardware's max instruction does with signed zeros. Written as a plain
// "b > a ? b : a" (one max instruction) and a separate NaN select: a combined condition makes
// compilers emit a branch that price noise renders unpredictable.
inline double max_ignoring_nan(double a, double b) {
  const double m = b > a ? b : a;
  return std::isnan(a) ? b : m;
}

// True range of a bar after the first: the largest of high - low, |high - prev close| and
// |low - prev close|, folded in that order and ignoring NaN (a NaN high still yields the low's
// distance). The first bar's true range is high - low alone.
inline double true_range(double high, double low, double prev_close) {
  return max_ignoring_nan(max_ignoring_nan(high - low, std::fabs(high - prev_close)),
                          std::fabs(low - prev_close));
}

// Two adjacent bars side by side for the loops whose per-bar work does not depend on the
// previous bar. Each lane is plain IEEE arithmetic (no fused multiply-add, we build with
// -ffp-contract=off), so a lane gives exactly the scalar result, bit for bit.
typedef double Pair __attribute__((vector_size(16)));
typedef long long PairMask __attribute__((vector_size(16)));

inline Pair load_pair(const double* x) {
  Pair v;
  std::memcpy(&v, x, sizeof v);
  return v;
}

inline Pair abs_pair(Pair v) {
  const PairMask magnitude = {0x7fffffffffffffffLL, 0x7fffffffffffffffLL};
  return reinterpret_cast<Pair>(reinterpret_cast<PairMask>(v) & magnitude);
}

// max_ignoring_nan on both lanes.
inline Pair max_ignoring_nan(Pair a, Pair b) {
  const Pair m = b > a ? b : a;
  return a != a ? b : m;
}

// true_range of bars i and i+1, given high + i, low + i and close + i - 1.
inline Pair true_range_pair(const double* high, const double* low, const double* prev_close) {
  const Pair h = load_pair(high);
  const Pair l = load_pair(low);
  const Pair c = load_pair(prev_close);
  return max_ignoring_nan(max_ignoring_nan(h - l, abs_pair(h - c)), abs_pair(l - c));
}

// x[0] + x[1] + ... + x[count-1], strictly left to right, count >= 1. The sum starts from the
// first element rather than from +0.0, so a window of -0.0 sums to -0.0 like the elements do.
// No pairwise or vectorised reduction: the last bits must not depend on the compiler.
inline double sum_in_order(const double* x, std::size_t count) {
  double s = x[0];
  for (std::size_t i = 1; i < count; ++i) s += x[i];
  return s;
}

// An all-NaN output: what every indicator returns when the input is too short for a value.
inline Series all_nan(std::size_t n) { return Series(n, kNaN); }

// An output of n values whose first `warm` (at most n) are NaN and the rest not yet written:
// the caller writes every later index exactly once. Series does not zero its elements, so this
// saves a full pass over memory that the loop would overwrite anyway.
inline Series with_warm_up(std::size_t n, std::size_t warm) {
  Series s(n);
  std::fill_n(s.data(), std::min(warm, n), kNaN);
  return s;
}

// The first of `others` (high, low, volume in that order) whose length differs from close's,
// as the length failure naming close's length and then that array's own, so the message points
// at the array that is actually wrong.
inline std::optional<Error> check_lengths(std::size_t close_len,
                                          std::initializer_list<std::size_t> others) {
  for (std::size_t len : others) {
    if (len != close_len) return Error::length_mismatch(close_len, len);
  }
  return std::nullopt;
}

// Writes the SMA of x (n = x.size() >= p >= 1) to out[p-1 .. n-1]; out[0 .. p-2] is untouched.
void sma_into(std::span<const double> x, std::size_t p, double* out);

// Wilder's ATR seed: (TR[0] + ... + TR[p-1]) / p with TR[0] = high[0] - low[0]; needs n >= p.
double atr_seed(const double* high, const double* low, const double* close, std::size_t p);

// The window fold "min ignoring NaN from +inf" (Lower) or "max ignoring NaN from -inf" (Upper)
// over x[i-p+1 .. i], in O(1) per index whatever p is, with no branch that depends on the data.
//
// The fold is acc = (x < acc) ? x : acc (x > acc for the maximum): NaN never replaces acc, and
// among values that compare equal (0.0 and -0.0) the earliest in the window is the one kept.
// The series is cut into blocks aligned at multiples of p; window i is the tail of one block
// (its suffix fold, taken right to left) followed by the head of the next (the prefix fold, left
// to right). Every step below keeps the earliest of equal values and the two parts are joined
// preferring the suffix (the earlier part) on a tie, so the result is the very element the
// plain fold returns, signed zeros included. A window with no non-NaN value gives the start
// value (+inf / -inf). Only input elements and the start value are ever selected, never
// computed, so every formulation that selects the same element gives the same bits.
//
// While block b is walked forwards (windows ending in it, joined with block b-1's suffixes), it
// is also walked backwards to park its own suffixes for block b+1: two independent chains in
// one loop, each advancing two elements per step (the pair is folded first, off the chain).
// The parked suffixes live in a ring of 2(p+1) doubles, the only memory beyond the output.
//
// The selections go through Lane, a double held in the low half of an SSE register, so that
// each one is exactly one min/max instruction: compilers otherwise turn some of these
// selects into branches on the data, which mispredict on every other price.
#if defined(__SSE2__)
using Lane = __m128d;
inline Lane lane_load(const double* p) { return _mm_load_sd(p); }
inline Lane lane_of(double v) { return _mm_set_sd(v); }
inline double value_of(Lane v) { return _mm_cvtsd_f64(v); }
inline Lane lane_min(Lane a, Lane b) { return _mm_min_sd(a, b); }  // a < b ? a : b
inline Lane lane_max(Lane a, Lane b) { return _mm_max_sd(a, b); }  // a > b ? a : b
// v, or NaN where v == s: v - (v == s ? NaN : +0.0). Subtracting +0.0 leaves every value
// unchanged, -0.0 included, and v - NaN is that (quiet, positive) NaN.
inline double nan_where_equal(Lane v, Lane s) {
  const Lane hit = _mm_cmpeq_sd(v, s);
  return _mm_cvtsd_f64(_mm_sub_sd(v, _mm_and_pd(hit, _mm_set_sd(kNaN))));
}
#else
using Lane = double;
inline Lane lane_load(const double* p) { return *p; }
inline Lane lane_of(double v) { return v; }
inline double value_of(Lane v) { return v; }
inline Lane lane_min(Lane a, Lane b) { return a < b ? a : b; }
inline Lane lane_max(Lane a, Lane b) { return a > b ? a : b; }
inline double nan_where_equal(Lane v, Lane s) { return v == s ? kNaN : v; }
#endif

struct Lower {
  static constexpr double start = kInf;
  // a when strictly better than b, else b (so b when either is NaN).
  static Lane pick(Lane a, Lane b) { return lane_min(a, b); }
};
struct Upper {
  static constexpr double start = -kInf;
  static Lane pick(Lane a, Lane b) { return lane_max(a, b); }
};

template <class Order>
class WindowFold {
 public:
  static constexpr std::size_t ring_size(std::size_t p) { return 2 * (p + 1); }

  // x has at least p >= 1 elements; `ring` has ring_size(p) doubles.
  WindowFold(const double* x, std::size_t p, double* ring)
      : x_(x), p_(p), prev_(ring), next_(ring + p + 1) {
    // Past the last suffix of a block sits the empty fold: the window that is exactly one
    // block joins its full prefix with it.
    prev_[p] = Order::start;
    next_[p] = Order::start;
  }

  // The fold of the first window, x[0 .. p-1]; parks block 0's suffixes.
  double first() {
    Lane s = lane_of(Order::start);
    for (std::size_t k = p_; k-- > 0;) {
      s = Order::pick(s, clean(x_ + k));
      prev_[k] = value_of(s);
    }
    return value_of(s);
  }

  // Writes finish(fold of the window ending at base + r, as a Lane) to out[r] for r < len,
  // where base is the next block's start (p, 2p, ... in turn) and len = min(p, n - base).
  // A complete block also parks its suffixes for the block after it.
  template <class Finish>
  void block(std::size_t base, std::size_t len, double* out, Finish finish) {
    const double* xb = x_ + base;
    Lane acc = lane_of(Order::start);
    std::size_t r = 0;
    if (len == p_) {
      Lane back = lane_of(Order::start);
      for (; r + 2 <= p_; r += 2) {
        forward_pair(xb, r, acc, out, finish);
        // Backwards the later element comes first; the earlier one must win ties, so the
        // running value is kept only when strictly better.
        const Lane later = clean(xb + (p_ - 1 - r));
        const Lane earlier = clean(xb + (p_ - 2 - r));
        next_[p_ - 1 - r] = value_of(Order::pick(back, later));
        back = Order::pick(back, Order::pick(later, earlier));
        next_[p_ - 2 - r] = value_of(back);
      }
      if (r < p_) {  // odd p: the last forward index meets backward index 0
        acc = Order::pick(clean(xb + r), acc);
        out[r] = finish(Order::pick(acc, lane_load(prev_ + r + 1)));
        next_[0] = value_of(Order::pick(back, clean(xb)));
      }
      double* t = prev_;
      prev_ = next_;
      next_ = t;
      return;
    }
    for (; r + 2 <= len; r += 2) forward_pair(xb, r, acc, out, finish);
    if (r < len) {
      acc = Order::pick(clean(xb + r), acc);
      out[r] = finish(Order::pick(acc, lane_load(prev_ + r + 1)));
    }
  }

 private:
  // A NaN becomes the start value, which is value-for-value the same as skipping it
  // (pick(v, start) is NaN-proof because a comparison with NaN is false).
  static Lane clean(const double* v) { return Order::pick(lane_load(v), lane_of(Order::start)); }

  // Prefix folds at r and r+1 from the prefix before r: the pair is folded first (the earlier
  // wins ties), so the chain through acc takes one step per two elements. Each prefix joins
  // the previous block's suffix, which wins ties.
  template <class Finish>
  void forward_pair(const double* xb, std::size_t r, Lane& acc, double* out, Finish& finish) {
    const Lane a = clean(xb + r);
    const Lane b = clean(xb + r + 1);
    const Lane at_r = Order::pick(a, acc);
    acc = Order::pick(Order::pick(b, a), acc);
    out[r] = finish(Order::pick(at_r, lane_load(prev_ + r + 1)));
    out[r + 1] = finish(Order::pick(acc, lane_load(prev_ + r + 2)));
  }

  const double* x_;
  std::size_t p_;
  double* prev_;  // suffix folds of the previous block, prev_[p] = start
  double* next_;  // being filled for the next block
};

}  // namespace quillon::indicators::detail
