// Trend indicators: sma, ema, macd, supertrend, and the SMA/EMA passes other indicators reuse.
// Pure C++; every loop keeps the operation order its comment states, because results are
// compared bit for bit with an independent computation.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "indicators/batch_detail.hpp"
#include "indicators/indicators.hpp"

namespace quillon::indicators {
namespace detail {

void sma_into(std::span<const double> x, std::size_t p, double* out) {
  const std::size_t n = x.size();
  const double dp = static_cast<double>(p);
  // Warm-up p-1. S is a running sum, S = (S - x[i-p]) + x[i], never re-added from the window:
  // once a NaN or infinity has entered, every later value is NaN (documented, and pinned by
  // test_nan_poisons_every_later_average). Divide by p each time; no reciprocal multiply.
  double s = sum_in_order(x.data(), p);
  out[p - 1] = s / dp;
  for (std::size_t i = p; i < n; ++i) {
    s = (s - x[i - p]) + x[i];
    out[i] = s / dp;
  }
}

void ema_into(std::span<const double> x, std::size_t p, double* out) {
  const std::size_t n = x.size();
  const double alpha = 2.0 / (static_cast<double>(p) + 1.0);
  const double keep = 1.0 - alpha;
  // Warm-up p-1, seeded with the in-order mean of x[0 .. p-1]. Then exactly
  // out[i] = out[i-1]*(1-alpha) + x[i]*alpha: not the algebraically equal
  // out[i-1] + alpha*(x[i] - out[i-1]), whose last bits differ.
  double e = sum_in_order(x.data(), p) / static_cast<double>(p);
  out[p - 1] = e;
  for (std::size_t i = p; i < n; ++i) {
    e = e * keep + x[i] * alpha;
    out[i] = e;
  }
}

}  // namespace detail

Result<Series> sma(std::span<const double> data, std::uint64_t period) {
  if (period == 0) return common::Err{Error::invalid_parameter("SMA period must be > 0")};
  Series out(data.size(), detail::kNaN);
  if (data.size() < period) return out;
  detail::sma_into(data, period, out.data());
  return out;
}

Result<Series> ema(std::span<const double> data, std::uint64_t period) {
  if (period == 0) return common::Err{Error::invalid_parameter("EMA period must be > 0")};
  Series out(data.size(), detail::kNaN);
  if (data.size() < period) return out;
  detail::ema_into(data, period, out.data());
  return out;
}

Result<Macd> macd(std::span<const double> data, std::uint64_t fast_period,
                  std::uint64_t slow_period, std::uint64_t signal_period) {
  if (fast_period == 0 || slow_period == 0 || signal_period == 0) {
    return common::Err{Error::invalid_parameter("MACD periods must be > 0")};
  }
  if (fast_period >= slow_period) {
    return common::Err{Error::invalid_parameter("MACD fast period must be < slow period")};
  }
  const std::size_t n = data.size();
  Macd r{Series(n, detail::kNaN), Series(n, detail::kNaN), Series(n, detail::kNaN)};
  if (n < slow_period) return r;
  const std::size_t slow = slow_period;
  double* line = r.line.data();
  double* sig = r.signal.data();
  double* hist = r.histogram.data();

  // The fast EMA goes to the line and the slow one to the histogram, which is rewritten last:
  // no buffers beyond the three outputs.
  detail::ema_into(data, fast_period, line);
  detail::ema_into(data, slow, hist);
  // Warm-up slow-1. line = fast - slow (a NaN in either gives NaN by IEEE subtraction).
  for (std::size_t i = 0; i + 1 < slow; ++i) line[i] = detail::kNaN;
  for (std::size_t i = slow - 1; i < n; ++i) line[i] = line[i] - hist[i];

  // Signal: warm-up j = slow-1 + signal-1, seeded with the in-order mean of line[slow-1 .. j]
  // only when none of those is NaN (otherwise the signal stays all NaN); then
  // sig[i] = sig[i-1]*(1-beta) + line[i]*beta, so a NaN line value poisons the rest.
  // Written as a difference of lengths so a huge signal period cannot overflow.
  const std::size_t defined = n - (slow - 1);  // line values from slow-1 on
  if (signal_period - 1 < defined) {
    const std::size_t m = signal_period;
    const std::size_t j = slow - 1 + (m - 1);
    bool seed_has_nan = false;
    for (std::size_t i = slow - 1; i <= j; ++i) seed_has_nan |= std::isnan(line[i]);
    if (!seed_has_nan) {
      const double beta = 2.0 / (static_cast<double>(m) + 1.0);
      const double keep = 1.0 - beta;
      double s = detail::sum_in_order(line + (slow - 1), m) / static_cast<double>(m);
      sig[j] = s;
      for (std::size_t i = j + 1; i < n; ++i) {
        s = s * keep + line[i] * beta;
        sig[i] = s;
      }
    }
  }
  // Histogram = line - signal; NaN wherever either is (IEEE subtraction does that).
  for (std::size_t i = 0; i < n; ++i) hist[i] = line[i] - sig[i];
  return r;
}

Result<Supertrend> supertrend(std::span<const double> high, std::span<const double> low,
                              std::span<const double> close, std::uint64_t period,
                              double multiplier) {
  if (auto e = detail::check_lengths(close.size(), {high.size(), low.size()})) {
    return common::Err{*e};
  }
  if (period == 0) return common::Err{Error::invalid_parameter("Supertrend period must be > 0")};
  const std::size_t n = close.size();
  Supertrend r{Series(n, detail::kNaN), std::vector<std::int8_t>(n, 0)};
  if (period >= n) return r;
  const std::size_t p = period;
  const double* h = high.data();
  const double* l = low.data();
  const double* c = close.data();
  double* line = r.line.data();
  std::int8_t* dir = r.direction.data();

  // One pass that carries the ATR, the final bands and the direction. The ATR is exactly
  // atr(): seed at p-1 from TR[0 .. p-1], then a = a*(1-1/p) + TR*(1/p). Bands: mid =
  // (high + low)*0.5, then mid + a*multiplier and mid - a*multiplier (NaN with a NaN ATR).
  const double inv = 1.0 / static_cast<double>(p);
  const double keep = 1.0 - inv;
  double a = detail::atr_seed(h, l, c, p);
  double mid = (h[p - 1] + l[p - 1]) * 0.5;
  double fu = mid + a * multiplier;
  double fl = mid - a * multiplier;
  // Warm-up p-1. Start below the upper band (or with a NaN in the test) means falling.
  std::int8_t d = (fu >= c[p - 1]) ? std::int8_t{-1} : std::int8_t{1};
  line[p - 1] = d < 0 ? fu : fl;
  dir[p - 1] = d;
  for (std::size_t i = p; i < n; ++i) {
    a = a * keep + detail::true_range(h[i], l[i], c[i - 1]) * inv;
    mid = (h[i] + l[i]) * 0.5;
    const double bu = mid + a * multiplier;
    const double bl = mid - a * multiplier;
    // The upper band only tightens while the previous close stayed at or below it, the lower
    // only while it stayed at or above it. A NaN band or close fails the comparisons and the
    // basic band is taken; on equal values the basic band is the one kept.
    fu = (c[i - 1] <= fu && fu < bu) ? fu : bu;
    fl = (c[i - 1] >= fl && fl > bl) ? fl : bl;
    if (d > 0) {
      if (c[i] < fl) d = -1;
    } else if (c[i] > fu) {
      d = 1;
    }
    line[i] = d > 0 ? fl : fu;
    dir[i] = d;
  }
  return r;
}

}  // namespace quillon::indicators
