// Momentum indicators: rsi and stochastic. Pure C++; the operation order of every loop is
// fixed (see the comments) because results are compared bit for bit.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "indicators/batch_detail.hpp"
#include "indicators/indicators.hpp"

namespace quillon::indicators {
namespace {

// Gain and loss of one price change: a change > 0 is a gain, anything else (a NaN change too)
// a loss of -change. The loss is taken as gain - change, which is -change exactly except that a
// zero change gives +0.0 instead of -0.0; the sign of a zero loss never reaches the output
// (L only meets "L == 0" and, when non-zero, G/L). Written this way the pair is two
// branch-free instructions instead of a branch that price noise makes unpredictable.
struct Move {
  double gain, loss;
};
inline Move move(double prev, double cur) {
  const double d = cur - prev;
  const double gain = d > 0.0 ? d : 0.0;
  return {gain, gain - d};
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

  // %D needs d complete %K values: first at k-1 + d-1, written as a length difference so a
  // huge d cannot overflow (and then never reached).
  const std::size_t d = d_period;
  const std::size_t first_d = (d - 1 < n - (k - 1)) ? (k - 1) + (d - 1) : n;
  const double dd = static_cast<double>(d);
  // Warm-up k-1 for %K: HH and LL are the raw window folds of high (max) and low (min); an
  // all-NaN window leaves -inf / +inf, whose difference is not > 0, so it reads 50. Then
  // %K = ((close - LL)/(HH - LL))*100 when HH - LL > 0, else 50.
  // Warm-up k+d-2 for %D: the in-order sum of %K[i-d+1 .. i], over d, recomputed from the
  // window each time (a running sum would change the last bits); NaN if any %K is NaN.
  auto emit = [&](std::size_t i, double top, double bottom) {
    const double range = top - bottom;
    pk[i] = range > 0 ? ((c[i] - bottom) / range) * 100.0 : 50.0;
    if (i >= first_d) pd[i] = detail::sum_in_order(pk + (i + 1 - d), d) / dd;
  };
  using Hi = detail::WindowFold<detail::Upper>;
  using Lo = detail::WindowFold<detail::Lower>;
  std::vector<double> ring(Hi::ring_size(k) + Lo::ring_size(k));
  Hi hh(high.data(), k, ring.data());
  Lo ll(low.data(), k, ring.data() + Hi::ring_size(k));
  emit(k - 1, hh.first(), ll.first());
  for (std::size_t base = k; base < n; base += k) {
    if (n - base >= k) {
      for (std::size_t j = 0; j < k; ++j) emit(base + j, hh.full(base, j), ll.full(base, j));
    } else {
      for (std::size_t j = 0; j < n - base; ++j) emit(base + j, hh.tail(base, j), ll.tail(base, j));
    }
    hh.end_block();
    ll.end_block();
  }
  return r;
}

}  // namespace quillon::indicators
