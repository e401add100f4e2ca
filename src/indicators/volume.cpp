// Volume indicators: vwap, cumulative from the first bar with no session reset. Pure C++; the
// loop's operation order is fixed (see the comment) because results are compared bit for bit.
#include <cstddef>
#include <span>

#include "indicators/batch_detail.hpp"
#include "indicators/indicators.hpp"

namespace quillon::indicators {

Result<Series> vwap(std::span<const double> high, std::span<const double> low,
                    std::span<const double> close, std::span<const double> volume) {
  if (auto e = detail::check_lengths(close.size(), {high.size(), low.size(), volume.size()})) {
    return common::Err{*e};
  }
  const std::size_t n = close.size();
  Series out(n, detail::kNaN);
  const double* h = high.data();
  const double* l = low.data();
  const double* c = close.data();
  const double* v = volume.data();
  // No warm-up beyond leading zero volume. Both sums start at +0.0 and run in index order:
  // V = V + volume; PV = ((high + low + close)/3)*volume + PV; out = PV/V while V > 0, NaN
  // otherwise (also when V is NaN).
  double cum_v = 0.0;
  double cum_pv = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    cum_v = cum_v + v[i];
    cum_pv = ((h[i] + l[i] + c[i]) / 3.0) * v[i] + cum_pv;
    out[i] = cum_v > 0 ? cum_pv / cum_v : detail::kNaN;
  }
  return out;
}

}  // namespace quillon::indicators
