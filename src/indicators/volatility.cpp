// Volatility indicators: atr (also the one the kernel's ATR stops and targets use) and
// bollinger_bands. Pure C++; every loop keeps the operation order its comment states.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
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
  Series out(n, detail::kNaN);
  // One more bar than an SMA needs: n == p gives no value at all.
  if (period >= n) return out;
  const std::size_t p = period;
  const double* h = high.data();
  const double* l = low.data();
  const double* c = close.data();
  const double inv = 1.0 / static_cast<double>(p);
  const double keep = 1.0 - inv;
  // Warm-up p-1 (the seed includes TR[0]). Then Wilder smoothing in exactly the form
  // a = a*(1 - 1/p) + TR*(1/p); (a*(p-1) + TR)/p differs in the last bits.
  double a = detail::atr_seed(h, l, c, p);
  out[p - 1] = a;
  for (std::size_t i = p; i < n; ++i) {
    a = a * keep + detail::true_range(h[i], l[i], c[i - 1]) * inv;
    out[i] = a;
  }
  return out;
}

namespace {

// Lanes of independent window sums: four windows are summed side by side so the additions of
// different windows overlap, while each window's own sum still runs left to right. Each lane is
// plain IEEE subtract, multiply, add (no fused multiply-add), so a lane gives exactly the
// scalar result.
typedef double Lanes __attribute__((vector_size(32)));
constexpr std::size_t kLanes = 4;

// By reference: returning a 32-byte vector by value is an ABI question we need not raise.
inline void load(Lanes& v, const double* p) { std::memcpy(&v, p, sizeof v); }

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
  Bollinger r{Series(n, detail::kNaN), Series(n, detail::kNaN), Series(n, detail::kNaN)};
  if (n < period) return r;
  const std::size_t p = period;
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
  for (; i + kLanes <= n; i += kLanes) {
    Lanes m;
    load(m, mid + i);
    if (std::isnan(m[0]) || std::isnan(m[1]) || std::isnan(m[2]) || std::isnan(m[3])) break;
    const double* w = x + (i + 1 - p);
    Lanes s = {0.0, 0.0, 0.0, 0.0};
    for (std::size_t j = 0; j < p; ++j) {
      Lanes e;
      load(e, w + j);
      e -= m;
      s += e * e;
    }
    for (std::size_t k = 0; k < kLanes; ++k) {
      const double width = std::sqrt(s[k] / dp) * std_dev;
      up[i + k] = m[k] + width;
      lo[i + k] = m[k] - width;
    }
  }
  for (; i < n; ++i) {
    const double m = mid[i];
    if (std::isnan(m)) break;
    const double width = std::sqrt(variance_about(x, i, p, m)) * std_dev;
    up[i] = m + width;
    lo[i] = m - width;
  }
  return r;
}

}  // namespace quillon::indicators
