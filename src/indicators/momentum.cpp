// Momentum indicators: rsi and stochastic. Pure C++; the operation order of every loop is
// fixed (see the comments) because results are compared bit for bit.
#include <cstddef>
#include <cstdint>
#include <span>

#include "indicators/batch_detail.hpp"
#include "indicators/indicators.hpp"

namespace quillon::indicators {
namespace {

// Gain and loss of one price change. A change that is not > 0 is a loss, so a NaN change (and
// a zero one, as -0.0) lands in the loss.
struct Move {
  double gain, loss;
};
inline Move move(double prev, double cur) {
  const double d = cur - prev;
  return d > 0 ? Move{d, 0.0} : Move{0.0, -d};
}

}  // namespace

Result<Series> rsi(std::span<const double> data, std::uint64_t period) {
  if (period == 0) return common::Err{Error::invalid_parameter("RSI period must be > 0")};
  const std::size_t n = data.size();
  Series out(n, detail::kNaN);
  if (period >= n) return out;  // the first value needs p+1 prices
  const std::size_t p = period;
  const double* x = data.data();
  const double dp = static_cast<double>(p);
  const double inv = 1.0 / dp;
  const double keep = 1.0 - inv;

  // Seed: G and L are the in-order means of the gains and losses of changes 1 .. p.
  Move m = move(x[0], x[1]);
  double g = m.gain;
  double l = m.loss;
  for (std::size_t i = 2; i <= p; ++i) {
    m = move(x[i - 1], x[i]);
    g += m.gain;
    l += m.loss;
  }
  g /= dp;
  l /= dp;
  // Warm-up p. out[i] = 100 when L == 0 (a flat series reads 100), else
  // 100 - 100/(G/L + 1); then Wilder smoothing with change i+1, in exactly the form
  // G*(1 - 1/p) + gain*(1/p).
  for (std::size_t i = p; i + 1 < n; ++i) {
    out[i] = l == 0 ? 100.0 : 100.0 - 100.0 / (g / l + 1.0);
    m = move(x[i], x[i + 1]);
    g = g * keep + m.gain * inv;
    l = l * keep + m.loss * inv;
  }
  out[n - 1] = l == 0 ? 100.0 : 100.0 - 100.0 / (g / l + 1.0);
  return out;
}

Result<Stochastic> stochastic(std::span<const double> high, std::span<const double> low,
                              std::span<const double> close, std::uint64_t k_period,
                              std::uint64_t d_period) {
  if (auto e = detail::check_lengths(close.size(), {high.size(), low.size()})) {
    return common::Err{*e};
  }
  if (k_period == 0 || d_period == 0) {
    return common::Err{Error::invalid_parameter("Stochastic periods must be > 0")};
  }
  const std::size_t n = close.size();
  Stochastic r{Series(n, detail::kNaN), Series(n, detail::kNaN)};
  if (n < k_period) return r;
  const std::size_t k = k_period;
  const double* c = close.data();
  double* pk = r.k.data();
  double* pd = r.d.data();

  // The window folds park their suffixes in the outputs (highs in %K, lows in %D); each slot
  // is read at its own index before that index is written.
  detail::WindowExtremum<detail::Upper> hh(high.data(), n, k, pk);
  detail::WindowExtremum<detail::Lower> ll(low.data(), n, k, pd);
  for (std::size_t i = 0; i + 1 < k; ++i) {
    hh.skip(i);
    ll.skip(i);
  }
  // %D needs d complete %K values: first at k-1 + d-1, written as a length difference so a
  // huge d cannot overflow. An index without a %D gets its NaN back.
  const std::size_t d = (d_period - 1 < n - (k - 1)) ? d_period : 0;
  const std::size_t first_d = d ? (k - 1) + (d - 1) : n;
  const double dd = static_cast<double>(d_period);
  // Warm-up k-1 for %K: HH and LL are the raw folds (an all-NaN window leaves -inf / +inf,
  // whose difference is not > 0, so it reads 50); %K = ((close - LL)/(HH - LL))*100.
  // Warm-up k+d-2 for %D: the in-order sum of %K[i-d+1 .. i], over d, recomputed from the
  // window each time (a running sum would change the last bits); NaN if any %K is NaN.
  for (std::size_t i = k - 1; i < n; ++i) {
    const double top = hh.next(i);
    const double bottom = ll.next(i);
    const double range = top - bottom;
    pk[i] = range > 0 ? ((c[i] - bottom) / range) * 100.0 : 50.0;
    pd[i] = i >= first_d ? detail::sum_in_order(pk + (i + 1 - d), d) / dd : detail::kNaN;
  }
  return r;
}

}  // namespace quillon::indicators
