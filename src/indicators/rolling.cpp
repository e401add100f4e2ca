// Rolling extremes: rolling_min and rolling_max over a window of p values, skipping NaN, in
// O(1) per index whatever p is (the window fold lives in batch_detail.hpp and is shared with
// stochastic). Pure C++.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "indicators/batch_detail.hpp"
#include "indicators/indicators.hpp"

namespace quillon::indicators {
namespace {

template <class Order>
Result<Series> rolling(std::span<const double> data, std::uint64_t period) {
  if (period == 0) return common::Err{Error::invalid_parameter("period must be at least 1")};
  const std::size_t n = data.size();
  // A period beyond the input allocates nothing more: there is no complete window.
  if (n < period) return detail::all_nan(n);
  const std::size_t p = period;
  Series out = detail::with_warm_up(n, p - 1);
  double* o = out.data();
  std::vector<double> ring(detail::WindowFold<Order>::ring_size(p));
  detail::WindowFold<Order> fold(data.data(), p, ring.data());
  // A fold still at its start value (only NaN, or only +inf for the minimum / -inf for the
  // maximum) is written as NaN.
  const detail::Lane start = detail::lane_of(Order::start);
  auto finish = [start](detail::Lane v) { return detail::nan_where_equal(v, start); };
  // Warm-up p-1. Each value is the fold of x[i-p+1 .. i] (min from +inf / max from -inf, NaN
  // skipped, the earliest of equal values kept), computed block by block.
  o[p - 1] = finish(detail::lane_of(fold.first()));
  for (std::size_t base = p; base < n; base += p) {
    fold.block(base, std::min(p, n - base), o + base, finish);
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
