// Pieces the batch indicators share: the NaN-aware pairwise max/min, the true range, the
// in-order sums, the SMA/EMA passes that macd and bollinger_bands reuse, the length check and
// the window extremum behind stochastic and rolling_min/rolling_max. Internal to
// src/indicators/; nothing outside this directory includes it.
#pragma once

#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <limits>
#include <optional>
#include <span>

#include "indicators/errors.hpp"

namespace quillon::indicators::detail {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

// Max ignoring NaN: the other value when one is NaN, NaN only when both are. Between values
// that compare equal (0.0 and -0.0) the first argument is kept, so the result never depends on
// what the hardware's max instruction does with signed zeros.
inline double max_ignoring_nan(double a, double b) { return (b > a || std::isnan(a)) ? b : a; }
inline double min_ignoring_nan(double a, double b) { return (b < a || std::isnan(a)) ? b : a; }

// True range of a bar after the first: the largest of high - low, |high - prev close| and
// |low - prev close|, folded in that order and ignoring NaN (a NaN high still yields the low's
// distance). The first bar's true range is high - low alone.
inline double true_range(double high, double low, double prev_close) {
  return max_ignoring_nan(max_ignoring_nan(high - low, std::fabs(high - prev_close)),
                          std::fabs(low - prev_close));
}

// x[0] + x[1] + ... + x[count-1], strictly left to right, count >= 1. The sum starts from the
// first element rather than from +0.0, so a window of -0.0 sums to -0.0 like the elements do.
// No pairwise or vectorised reduction: the last bits must not depend on the compiler.
inline double sum_in_order(const double* x, std::size_t count) {
  double s = x[0];
  for (std::size_t i = 1; i < count; ++i) s += x[i];
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

// Writes the EMA of x (n >= p >= 1) to out[p-1 .. n-1]; out[0 .. p-2] is untouched.
void ema_into(std::span<const double> x, std::size_t p, double* out);

// Wilder's ATR seed: (TR[0] + ... + TR[p-1]) / p with TR[0] = high[0] - low[0]; needs n >= p.
double atr_seed(const double* high, const double* low, const double* close, std::size_t p);

// The window fold "min ignoring NaN from +inf" (Lower) or "max ignoring NaN from -inf" (Upper)
// over x[i-p+1 .. i], in O(1) per index whatever p is.
//
// The fold is acc = (x < acc) ? x : acc (x > acc for the maximum): NaN never replaces acc, and
// among values that compare equal (0.0 and -0.0) the earliest in the window is the one kept.
// The window is cut into blocks aligned at multiples of p; window i spans the tail of one block
// (a suffix fold, taken right to left) and the head of the next (a prefix fold, left to right).
// Both folds keep the earliest of equal values, and the combination prefers the suffix (the
// earlier part) on a tie, so the result is the very element the plain fold would return,
// signed zeros included. A window with no non-NaN value gives the start value (+inf / -inf).
struct Lower {
  static constexpr double start = kInf;
  static bool better(double a, double b) { return a < b; }
};
struct Upper {
  static constexpr double start = -kInf;
  static bool better(double a, double b) { return a > b; }
};

template <class Order>
class WindowExtremum {
 public:
  // x has n >= p >= 1 elements; `slots` has n. The suffix folds are parked in slots[p-1 ..
  // n-1], at the index of the window that consumes each, so next(i) may overwrite slots[i]
  // with its own result: no buffer beyond the outputs is needed.
  WindowExtremum(const double* x, std::size_t n, std::size_t p, double* slots)
      : x_(x), slots_(slots), p_(p), left_(p) {
    park_suffixes(n);
  }

  // Feeds x[i] for i < p-1 (no window is complete yet). Call with i = 0, 1, ... in order.
  void skip(std::size_t i) {
    acc_ = fold(acc_, x_[i]);
    tick();
  }

  // Feeds x[i] for i >= p-1 and returns the fold of x[i-p+1 .. i]. Reads slots[i].
  double next(std::size_t i) {
    acc_ = fold(acc_, x_[i]);
    const double suffix = slots_[i];
    const double r = Order::better(acc_, suffix) ? acc_ : suffix;
    tick();
    return r;
  }

 private:
  static double fold(double acc, double v) { return Order::better(v, acc) ? v : acc; }

  void tick() {
    if (--left_ == 0) {
      acc_ = Order::start;
      left_ = p_;
    }
  }

  // Right-to-left pass: for every window start j in [0, n-p], the fold of x[j .. end of j's
  // block] goes to slots[j+p-1]. Going backwards the earlier element arrives second, so it wins
  // ties (kept unless the running value is strictly better); a NaN counts as the start value,
  // which is value-for-value the same as skipping it.
  void park_suffixes(std::size_t n) {
    const std::size_t last_start = n - p_;
    std::size_t k = (last_start / p_) * p_ + p_;  // one past the last block any window starts in
    double s = Order::start;
    // The part of that block past the last window start only feeds the fold.
    while (k > last_start + 1) {
      --k;
      s = suffix_step(s, x_[k]);
    }
    std::size_t left = k - (last_start / p_) * p_;  // elements of this block still to fold
    while (k > 0) {
      --k;
      s = suffix_step(s, x_[k]);
      slots_[k + p_ - 1] = s;
      if (--left == 0) {
        s = Order::start;
        left = p_;
      }
    }
  }

  static double suffix_step(double s, double v) {
    const double w = std::isnan(v) ? Order::start : v;
    return Order::better(s, w) ? s : w;
  }

  const double* x_;
  double* slots_;
  std::size_t p_;
  std::size_t left_;  // elements until the current block ends (prefix fold restarts)
  double acc_ = Order::start;
};

}  // namespace quillon::indicators::detail
