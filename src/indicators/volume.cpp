// Volume indicators: vwap, cumulative from the first bar with no session reset. Pure C++; the
// loop's operation order is fixed (see the comment) because results are compared bit for bit.
#include <cstddef>
#include <span>

#include "indicators/batch_detail.hpp"
#include "indicators/indicators.hpp"

namespace quillon::indicators {
using detail::load_pair;
using detail::Pair;

Result<Series> vwap(std::span<const double> high, std::span<const double> low,
                    std::span<const double> close, std::span<const double> volume) {
  if (auto e = detail::check_lengths(close.size(), {high.size(), low.size(), volume.size()})) {
    return common::Err{*e};
  }
  const std::size_t n = close.size();
  Series out = detail::with_warm_up(n, 0);  // every index is written below
  const double* h = high.data();
  const double* l = low.data();
  const double* c = close.data();
  const double* v = volume.data();
  // No warm-up beyond leading zero volume. Both sums start at +0.0 and run in index order:
  // V = V + volume; PV = ((high + low + close)/3)*volume + PV; out = PV/V while V > 0, NaN
  // otherwise (also when V is NaN). Bars go in pairs so that the two divisions of each step
  // (by 3 and by V) run two bars per instruction; the sums themselves stay one bar at a time.
  double cum_v = 0.0;
  double cum_pv = 0.0;
  std::size_t i = 0;
  for (; i + 2 <= n; i += 2) {
    const Pair vol = load_pair(v + i);
    const Pair typical = (load_pair(h + i) + load_pair(l + i) + load_pair(c + i)) / 3.0;
    Pair cv, cpv;
    cum_v = cum_v + vol[0];
    cum_pv = typical[0] * vol[0] + cum_pv;
    cv[0] = cum_v;
    cpv[0] = cum_pv;
    cum_v = cum_v + vol[1];
    cum_pv = typical[1] * vol[1] + cum_pv;
    cv[1] = cum_v;
    cpv[1] = cum_pv;
    const Pair ratio = cpv / cv;
    out[i] = cv[0] > 0 ? ratio[0] : detail::kNaN;
    out[i + 1] = cv[1] > 0 ? ratio[1] : detail::kNaN;
  }
  for (; i < n; ++i) {
    cum_v = cum_v + v[i];
    cum_pv = ((h[i] + l[i] + c[i]) / 3.0) * v[i] + cum_pv;
    out[i] = cum_v > 0 ? cum_pv / cum_v : detail::kNaN;
  }
  return out;
}

}  // namespace quillon::indicators
