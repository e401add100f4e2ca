// Rolling extremes: rolling_min and rolling_max over a window of p values, skipping NaN, in
// O(1) per index whatever p is (the shared window fold lives in batch_detail.hpp and is also
// what stochastic uses). Pure C++.
#include <cstddef>
#include <cstdint>
#include <span>

#include "indicators/batch_detail.hpp"
#include "indicators/indicators.hpp"

namespace quillon::indicators {
namespace {

template <class Order>
Result<Series> rolling(std::span<const double> data, std::uint64_t period) {
  if (period == 0) return common::Err{Error::invalid_parameter("period must be at least 1")};
  const std::size_t n = data.size();
  Series out(n, detail::kNaN);
  // A period beyond the input allocates nothing more: there is no complete window.
  if (n < period) return out;
  const std::size_t p = period;
  double* o = out.data();
  detail::WindowExtremum<Order> window(data.data(), n, p, o);
  // Warm-up p-1. Each value is the fold of x[i-p+1 .. i] (min from +inf / max from -inf,
  // NaN skipped, the earliest of equal values kept); a fold still at its start value (only
  // NaN, or only +inf for the minimum / -inf for the maximum) is written as NaN.
  for (std::size_t i = 0; i + 1 < p; ++i) window.skip(i);
  for (std::size_t i = p - 1; i < n; ++i) {
    const double v = window.next(i);
    o[i] = v == Order::start ? detail::kNaN : v;
  }
  return out;
}

}  // namespace

Result<Series> rolling_min(std::span<const double> data, std::uint64_t period) {
  return rolling<detail::Lower>(data, period);
}

Result<Series> rolling_max(std::span<const double> data, std::uint64_t period) {
  return rolling<detail::Upper>(data, period);
}

}  // namespace quillon::indicators
