// Momentum indicators: rsi and stochastic. Pure C++; the operation order of every loop is
// fixed (see the comments) because results are compared bit for bit.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "indicators/batch_detail.hpp"
#include "indicators/indicators.hpp"

namespace quillon::indicators {
namespace {

using detail::load_pair;
using detail::Pair;

// Gain and loss of one price change: a change > 0 is a gain, anything else (a NaN change too)
// a loss of -change.
struct Move {
  double gain, loss;
};
inline Move move(double prev, double cur) {
  const double d = cur - prev;
  return d > 0 ? Move{d, 0.0} : Move{0.0, -d};
}

// The same for two consecutive changes side by side, as compare-and-mask instructions: as a
// scalar branch the sign of a price change is a coin toss for the predictor.
struct Moves {
  Pair gain, loss;
};
inline Moves moves(const double* prev) {
  const Pair zero = {0.0, 0.0};
  const Pair d = load_pair(prev + 1) - load_pair(prev);
  return {d > zero ? d : zero, d > zero ? zero : -d};
}

// 100 when L == 0 (a flat series reads 100), else 100 - 100/(G/L + 1).
inline double rsi_value(double g, double l) {
  return l == 0 ? 100.0 : 100.0 - 100.0 / (g / l + 1.0);
}

}  // namespace

Result<Series> rsi(std::span<const double> data, std::uint64_t period) {
  if (period == 0) return common::Err{Error::invalid_parameter("RSI period must be > 0")};
  const std::size_t n = data.size();
  if (period >= n) return detail::all_nan(n);  // the first value needs p+1 prices
  const std::size_t p = period;
  Series out = detail::with_warm_up(n, p);
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
  // Warm-up p. out[i] from the current G and L, then Wilder smoothing with change i+1 in
  // exactly the form G*(1 - 1/p) + gain*(1/p). Two indices per round: the moves of both
  // changes and the two outputs' divisions go side by side, the smoothing stays in order.
  const Pair hundred = {100.0, 100.0};
  const Pair one = {1.0, 1.0};
  std::size_t i = p;
  for (; i + 2 < n; i += 2) {
    const Moves mv = moves(x + i);
    const Pair gs = {g, g * keep + mv.gain[0] * inv};
    const Pair ls = {l, l * keep + mv.loss[0] * inv};
    g = gs[1] * keep + mv.gain[1] * inv;
    l = ls[1] * keep + mv.loss[1] * inv;
    const Pair v = hundred - hundred / (gs / ls + one);
    out[i] = ls[0] == 0 ? 100.0 : v[0];
    out[i + 1] = ls[1] == 0 ? 100.0 : v[1];
  }
  for (; i + 1 < n; ++i) {
    out[i] = rsi_value(g, l);
    m = move(x[i], x[i + 1]);
    g = g * keep + m.gain * inv;
    l = l * keep + m.loss * inv;
  }
  out[n - 1] = rsi_value(g, l);
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
  if (n < k_period) return Stochastic{detail::all_nan(n), detail::all_nan(n)};
  const std::size_t k = k_period;
  // %D needs d complete %K values: first at k-1 + d-1, written as a length difference so a
  // huge d cannot overflow (and then never reached).
  const std::size_t d = d_period;
  const std::size_t first_d = (d - 1 < n - (k - 1)) ? (k - 1) + (d - 1) : n;
  Stochastic r{detail::with_warm_up(n, k - 1), detail::with_warm_up(n, first_d)};
  const double* c = close.data();
  double* pk = r.k.data();
  double* pd = r.d.data();
  const double dd = static_cast<double>(d);
  // Warm-up k-1 for %K: HH and LL are the raw window folds of high (max) and low (min); an
  // all-NaN window leaves -inf / +inf, whose difference is not > 0, so it reads 50. Then
  // %K = ((close - LL)/(HH - LL))*100 when HH - LL > 0, else 50.
  // Warm-up k+d-2 for %D: the in-order sum of %K[i-d+1 .. i], over d, recomputed from the
  // window each time (a running sum would change the last bits); NaN if any %K is NaN.
  auto emit = [&](std::size_t i) {
    const double top = pk[i];
    const double bottom = pd[i];
    const double range = top - bottom;
    pk[i] = range > 0 ? ((c[i] - bottom) / range) * 100.0 : 50.0;
    pd[i] = i >= first_d ? detail::sum_in_order(pk + (i + 1 - d), d) / dd : detail::kNaN;
  };
  // The raw folds of a block go to the outputs first (highs into %K, lows into %D), then each
  // index of the block reads its pair and overwrites it with %K and %D, in index order.
  using Hi = detail::WindowFold<detail::Upper>;
  using Lo = detail::WindowFold<detail::Lower>;
  std::vector<double> ring(Hi::ring_size(k) + Lo::ring_size(k));
  Hi hh(high.data(), k, ring.data());
  Lo ll(low.data(), k, ring.data() + Hi::ring_size(k));
  auto raw = [](detail::Lane v) { return detail::value_of(v); };
  pk[k - 1] = hh.first();
  pd[k - 1] = ll.first();
  emit(k - 1);
  for (std::size_t base = k; base < n; base += k) {
    const std::size_t len = std::min(k, n - base);
    hh.block(base, len, pk + base, raw);
    ll.block(base, len, pd + base, raw);
    for (std::size_t i = base; i < base + len; ++i) emit(i);
  }
  return r;
}

}  // namespace quillon::indicators
