// Volatility indicators: atr (also the one the kernel's ATR stops and targets use) and
// bollinger_bands. Pure C++; every loop keeps the operation order its comment states.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "indicators/batch_detail.hpp"
#include "indicators/indicators.hpp"

namespace quillon::indicators {
namespace detail {

double atr_seed(const double* high, const double* low, const double* close, std::size_t p) {
  // TR[0] (high - low alone) opens the in-order sum of TR[0 .. p-1].
  double s = high[0] - low[0];
  for (std::size_t i = 1; i < p; ++i) s += true_range(high[i], low[i], close[i - 1]);
  return s / static_cast<double>(p);
}

}  // namespace detail

Result<Series> atr(std::span<const double> high, std::span<const double> low,
                   std::span<const double> close, std::uint64_t period) {
  if (auto e = detail::check_lengths(close.size(), {high.size(), low.size()})) {
    return common::Err{*e};
  }
  if (period == 0) return common::Err{Error::invalid_parameter("ATR period must be > 0")};
  const std::size_t n = close.size();
  // One more bar than an SMA needs: n == p gives no value at all.
  if (period >= n) return detail::all_nan(n);
  const std::size_t p = period;
  Series out = detail::with_warm_up(n, p - 1);
  const double* h = high.data();
  const double* l = low.data();
  const double* c = close.data();
  const double inv = 1.0 / static_cast<double>(p);
  const double keep = 1.0 - inv;
  // Warm-up p-1 (the seed includes TR[0]). Then Wilder smoothing in exactly the form
  // a = a*(1 - 1/p) + TR*(1/p); (a*(p-1) + TR)/p differs in the last bits.
  // The true ranges of two bars are formed side by side; the smoothing stays one bar at a time.
  double a = detail::atr_seed(h, l, c, p);
  out[p - 1] = a;
  std::size_t i = p;
  for (; i + 2 <= n; i += 2) {
    const detail::Pair t = detail::true_range_pair(h + i, l + i, c + i - 1) * inv;
    a = a * keep + t[0];
    out[i] = a;
    a = a * keep + t[1];
    out[i + 1] = a;
  }
  for (; i < n; ++i) {
    a = a * keep + detail::true_range(h[i], l[i], c[i - 1]) * inv;
    out[i] = a;
  }
  return out;
}

namespace {

// Eight windows are summed side by side (four pairs of adjacent windows) so the additions of
// different windows overlap, while each window's own sum still runs left to right; each lane
// gives exactly the scalar result.
using detail::load_pair;
using detail::Pair;
constexpr std::size_t kGroup = 8;

// Population variance of x[i-p+1 .. i] about m: (sum of (x[j] - m)^2, j ascending) / p.
inline double variance_about(const double* x, std::size_t i, std::size_t p, double m) {
  const double* w = x + (i + 1 - p);
  double s = 0.0;  // the squares are never -0.0, so starting from +0.0 changes no bit
  for (std::size_t j = 0; j < p; ++j) {
    const double e = w[j] - m;
    s += e * e;
  }
  return s / static_cast<double>(p);
}

}  // namespace

Result<Bollinger> bollinger_bands(std::span<const double> data, std::uint64_t period,
                                  double std_dev) {
  if (period == 0) {
    return common::Err{Error::invalid_parameter("Bollinger Bands period must be > 0")};
  }
  // A NaN std_dev is not <= 0: it passes and gives NaN bands around a defined middle.
  if (std_dev <= 0) {
    return common::Err{Error::invalid_parameter("Bollinger Bands std_dev must be > 0")};
  }
  const std::size_t n = data.size();
  if (n < period) return Bollinger{detail::all_nan(n), detail::all_nan(n), detail::all_nan(n)};
  const std::size_t p = period;
  Bollinger r{detail::with_warm_up(n, p - 1), detail::with_warm_up(n, p - 1),
              detail::with_warm_up(n, p - 1)};
  const double* x = data.data();
  double* up = r.upper.data();
  double* mid = r.middle.data();
  double* lo = r.lower.data();
  detail::sma_into(data, p, mid);  // the middle band is the SMA, bit for bit
  const double dp = static_cast<double>(p);

  // Warm-up p-1. At each index with a defined middle m: v = (sum over the window, ascending,
  // of (x[j] - m)^2)/p, w = sqrt(v)*std_dev, upper = m + w, lower = m - w. The window is
  // re-read at every index (about the moving average, so no running form is exact). Where m
  // is NaN all three stay NaN; the running SMA never recovers from NaN, so the first NaN
  // middle ends the work.
  std::size_t i = p - 1;
  for (; i + kGroup <= n; i += kGroup) {
    if (std::isnan(mid[i + kGroup - 1])) break;  // the middle stays NaN once it is
    const Pair m0 = load_pair(mid + i), m1 = load_pair(mid + i + 2);
    const Pair m2 = load_pair(mid + i + 4), m3 = load_pair(mid + i + 6);
    const double* w = x + (i + 1 - p);
    Pair s0 = {0.0, 0.0}, s1 = {0.0, 0.0}, s2 = {0.0, 0.0}, s3 = {0.0, 0.0};
    for (std::size_t j = 0; j < p; ++j) {
      const Pair e0 = load_pair(w + j) - m0, e1 = load_pair(w + j + 2) - m1;
      const Pair e2 = load_pair(w + j + 4) - m2, e3 = load_pair(w + j + 6) - m3;
      s0 += e0 * e0;
      s1 += e1 * e1;
      s2 += e2 * e2;
      s3 += e3 * e3;
    }
    const Pair variances[4] = {s0 / dp, s1 / dp, s2 / dp, s3 / dp};
    for (std::size_t k = 0; k < kGroup; ++k) {
      const double m = mid[i + k];
      const double width = std::sqrt(variances[k / 2][k % 2]) * std_dev;
      up[i + k] = m + width;
      lo[i + k] = m - width;
    }
  }
  for (; i < n; ++i) {
    const double m = mid[i];
    if (std::isnan(m)) break;
    const double width = std::sqrt(variance_about(x, i, p, m)) * std_dev;
    up[i] = m + width;
    lo[i] = m - width;
  }
  // From the first NaN middle on, both bands are NaN.
  std::fill(up + i, up + n, detail::kNaN);
  std::fill(lo + i, lo + n, detail::kNaN);
  return r;
}

}  // namespace quillon::indicators
