// Pieces the batch indicators share: the NaN-aware pairwise max, the true range, the
// in-order sums, the SMA pass that bollinger_bands reuses, the ATR seed that supertrend reuses,
// the length check and the window fold behind stochastic and rolling_min/rolling_max. Internal to
// src/indicators/; nothing outside this directory includes it.
#pragma once

#include <cmath>
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <optional>
#include <span>

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

// The first of `others` whose length differs from close's, as the length failure naming
// close's length and that array's.
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
// to right). Both folds keep the earliest of equal values and the two are joined preferring the
// suffix (the earlier part) on a tie, so the result is the very element the plain fold returns,
// signed zeros included. A window with no non-NaN value gives the start value (+inf / -inf).
//
// While block b is walked forwards (windows ending in it, joined with block b-1's suffixes), it
// is also walked backwards to park its own suffixes for block b+1: two independent chains in one
// loop. The parked suffixes live in a ring of 2(p+1) doubles, the only memory beyond the output.
struct Lower {
  static constexpr double start = kInf;
  // a when strictly better than b, else b (so b when either is NaN): one min instruction.
  static double pick(double a, double b) { return a < b ? a : b; }
};
struct Upper {
  static constexpr double start = -kInf;
  static double pick(double a, double b) { return a > b ? a : b; }
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
    double s = Order::start;
    for (std::size_t k = p_; k-- > 0;) {
      s = suffix_step(s, x_[k]);
      prev_[k] = s;
    }
    return s;
  }

  // Window ending at base + r (r = 0, 1, ... in order) of the block starting at base, when the
  // whole block [base, base+p) exists: its suffixes are parked for the next block.
  double full(std::size_t base, std::size_t r) {
    const std::size_t back = p_ - 1 - r;
    back_ = suffix_step(back_, x_[base + back]);
    next_[back] = back_;
    return front(base, r);
  }

  // The same for the last, incomplete block: nothing follows it, nothing to park.
  double tail(std::size_t base, std::size_t r) { return front(base, r); }

  void end_block() {
    double* t = prev_;
    prev_ = next_;
    next_ = t;
    acc_ = Order::start;
    back_ = Order::start;
  }

 private:
  double front(std::size_t base, std::size_t r) {
    acc_ = Order::pick(x_[base + r], acc_);  // strictly better replaces: earliest kept, NaN skipped
    return Order::pick(acc_, prev_[r + 1]);  // the suffix (earlier) wins a tie
  }

  // Right to left the earlier element arrives second and must win ties: keep s only when
  // strictly better. A NaN first becomes the start value, which is value-for-value the same as
  // skipping it (pick(v, start) is NaN-proof because a NaN comparison is false).
  static double suffix_step(double s, double v) {
    return Order::pick(s, Order::pick(v, Order::start));
  }

  const double* x_;
  std::size_t p_;
  double* prev_;  // suffix folds of the previous block, prev_[p] = start
  double* next_;  // being filled for the next block
  double acc_ = Order::start;
  double back_ = Order::start;
};

}  // namespace quillon::indicators::detail
