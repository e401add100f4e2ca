// Trend indicators: sma, ema, macd, supertrend, and the SMA pass bollinger_bands reuses.
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

}  // namespace detail

Result<Series> sma(std::span<const double> data, std::uint64_t period) {
  if (period == 0) return common::Err{Error::invalid_parameter("SMA period must be > 0")};
  if (data.size() < period) return detail::all_nan(data.size());
  Series out = detail::with_warm_up(data.size(), period - 1);
  detail::sma_into(data, period, out.data());
  return out;
}

Result<Series> ema(std::span<const double> data, std::uint64_t period) {
  if (period == 0) return common::Err{Error::invalid_parameter("EMA period must be > 0")};
  const std::size_t n = data.size();
  if (n < period) return detail::all_nan(n);
  const std::size_t p = period;
  Series out = detail::with_warm_up(n, p - 1);
  const double* x = data.data();
  const double alpha = 2.0 / (static_cast<double>(p) + 1.0);
  const double keep = 1.0 - alpha;
  // Warm-up p-1, seeded with the in-order mean of x[0 .. p-1]. Then exactly
  // out[i] = out[i-1]*(1-alpha) + x[i]*alpha: not the algebraically equal
  // out[i-1] + alpha*(x[i] - out[i-1]), whose last bits differ. macd repeats this form.
  double e = detail::sum_in_order(x, p) / static_cast<double>(p);
  out[p - 1] = e;
  for (std::size_t i = p; i < n; ++i) {
    e = e * keep + x[i] * alpha;
    out[i] = e;
  }
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
  if (n < slow_period) return Macd{detail::all_nan(n), detail::all_nan(n), detail::all_nan(n)};
  const std::size_t fast = fast_period;
  const std::size_t slow = slow_period;
  const std::size_t m = signal_period;
  // Signal warm-up j = slow-1 + signal-1, written as a length difference so a huge signal
  // period cannot overflow; j = n means no signal value at all.
  const std::size_t j = (m - 1 < n - (slow - 1)) ? (slow - 1) + (m - 1) : n;
  Macd r{detail::with_warm_up(n, slow - 1), detail::with_warm_up(n, j),
         detail::with_warm_up(n, j)};
  const double* x = data.data();
  double* line = r.line.data();
  double* sig = r.signal.data();
  double* hist = r.histogram.data();

  // One pass carrying both EMAs and the signal, three independent chains, each in exactly the
  // form ema() uses: seed = in-order mean, then e = e*(1-alpha) + x*alpha.
  //
  // Seeds: the fast seed's sum x[0] + ... + x[fast-1] is the first part of the slow seed's, in
  // the same order, so one running sum yields both.
  const double fa = 2.0 / (static_cast<double>(fast) + 1.0), fk = 1.0 - fa;
  const double sa = 2.0 / (static_cast<double>(slow) + 1.0), sk = 1.0 - sa;
  double sum = detail::sum_in_order(x, fast);
  double f = sum / static_cast<double>(fast);
  for (std::size_t i = fast; i < slow; ++i) {
    sum += x[i];
    f = f * fk + x[i] * fa;
  }
  double s = sum / static_cast<double>(slow);
  // Warm-up slow-1 for the line: line = fast - slow (NaN when either is, by IEEE subtraction).
  line[slow - 1] = f - s;

  // Signal warm-up j: seeded with the in-order mean of line[slow-1 .. j], then
  // sig = sig*(1-beta) + line*beta. A NaN among the seed values makes the seed NaN and every
  // later value with it, which is the "signal stays all NaN" rule; a NaN line value later on
  // likewise poisons the rest. Histogram = line - signal, NaN wherever either is.
  const std::size_t seed_end = j < n ? j : n - 1;
  double seed = line[slow - 1];
  for (std::size_t i = slow; i <= seed_end; ++i) {
    f = f * fk + x[i] * fa;
    s = s * sk + x[i] * sa;
    line[i] = f - s;
    seed += line[i];
  }
  if (j >= n) return r;
  const double ba = 2.0 / (static_cast<double>(m) + 1.0), bk = 1.0 - ba;
  double g = seed / static_cast<double>(m);
  sig[j] = g;
  hist[j] = line[j] - g;
  for (std::size_t i = j + 1; i < n; ++i) {
    f = f * fk + x[i] * fa;
    s = s * sk + x[i] * sa;
    const double v = f - s;
    g = g * bk + v * ba;
    line[i] = v;
    sig[i] = g;
    hist[i] = v - g;
  }
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
  if (period >= n) return Supertrend{detail::all_nan(n), std::vector<std::int8_t>(n, 0)};
  const std::size_t p = period;
  Supertrend r{detail::with_warm_up(n, p - 1), std::vector<std::int8_t>(n, 0)};
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
  auto step = [&](std::size_t i, double tr_scaled, double mid_i) {
    a = a * keep + tr_scaled;
    const double bu = mid_i + a * multiplier;
    const double bl = mid_i - a * multiplier;
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
  };
  // True ranges and midpoints of two bars are formed side by side; the rest runs bar by bar.
  std::size_t i = p;
  for (; i + 2 <= n; i += 2) {
    const detail::Pair t = detail::true_range_pair(h + i, l + i, c + i - 1) * inv;
    const detail::Pair m = (detail::load_pair(h + i) + detail::load_pair(l + i)) * 0.5;
    step(i, t[0], m[0]);
    step(i + 1, t[1], m[1]);
  }
  for (; i < n; ++i) step(i, detail::true_range(h[i], l[i], c[i - 1]) * inv, (h[i] + l[i]) * 0.5);
  return r;
}

}  // namespace quillon::indicators
