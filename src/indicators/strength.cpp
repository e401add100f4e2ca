// Trend strength: adx (the ADX line only). Pure C++; the operation order of every loop is
// fixed (see the comments) because results are compared bit for bit.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "indicators/batch_detail.hpp"
#include "indicators/indicators.hpp"

namespace quillon::indicators {
namespace {

using detail::load_pair;
using detail::Pair;

// Directional movement and true range of bars i and i+1 (i >= 1): +DM = up when up > 0 and
// up > down, else 0; -DM = down when down > up and down > 0, else 0. Each is two
// "x > y ? x : 0" selects (clamp at 0, then "> the other move" decides alone): compare-and-mask
// instructions, where the && form becomes branches that price noise makes unpredictable. NaN
// moves give 0 either way.
struct Movement {
  Pair plus_dm, minus_dm, tr;
};

inline Movement movement_pair(const double* h, const double* l, const double* c, std::size_t i) {
  const Pair zero = {0.0, 0.0};
  const Pair up = load_pair(h + i) - load_pair(h + i - 1);
  const Pair down = load_pair(l + i - 1) - load_pair(l + i);
  const Pair up_pos = up > zero ? up : zero;
  const Pair down_pos = down > zero ? down : zero;
  return {up_pos > down ? up_pos : zero, down_pos > up ? down_pos : zero,
          detail::true_range_pair(h + i, l + i, c + i - 1)};
}

// The same for bar i alone (lane 0 of a pair whose second bar may not exist).
inline Movement movement_one(const double* h, const double* l, const double* c, std::size_t i) {
  const Pair hi = {h[i], 0.0}, hp = {h[i - 1], 0.0}, lo = {l[i], 0.0}, lp = {l[i - 1], 0.0};
  const Pair zero = {0.0, 0.0};
  const Pair up = hi - hp;
  const Pair down = lp - lo;
  const Pair up_pos = up > zero ? up : zero;
  const Pair down_pos = down > zero ? down : zero;
  const double tr = detail::true_range(h[i], l[i], c[i - 1]);
  return {up_pos > down ? up_pos : zero, down_pos > up ? down_pos : zero, Pair{tr, 0.0}};
}

// Wilder sums: (+DM, -DM) side by side and TR, each s = (s - s/p) + value with a true
// division (a reciprocal multiply changes the bits).
struct Sums {
  Pair dm;
  double tr;
};

inline void wilder_step(Sums& s, const Movement& m, int lane, double dp) {
  s.dm = (s.dm - s.dm / dp) + Pair{m.plus_dm[lane], m.minus_dm[lane]};
  s.tr = (s.tr - s.tr / dp) + m.tr[lane];
}

// Directional indicators (PDI, MDI) = ((+DM sum)*100/TR sum, (-DM sum)*100/TR sum); only
// meaningful when the TR sum is > 0.
inline Pair indicators_of(const Sums& s) { return (s.dm * 100.0) / s.tr; }

// DX: 0 unless the TR sum is > 0 and PDI + MDI > 0, else (|PDI - MDI|*100)/(PDI + MDI).
inline double dx(const Sums& s) {
  if (!(s.tr > 0)) return 0.0;
  const Pair di = indicators_of(s);
  const double sum = di[0] + di[1];
  if (!(sum > 0)) return 0.0;
  return (std::fabs(di[0] - di[1]) * 100.0) / sum;
}

}  // namespace

Result<Series> adx(std::span<const double> high, std::span<const double> low,
                   std::span<const double> close, std::uint64_t period) {
  if (auto e = detail::check_lengths(close.size(), {high.size(), low.size()})) {
    return common::Err{*e};
  }
  if (period == 0) return common::Err{Error::invalid_parameter("ADX period must be > 0")};
  const std::size_t n = close.size();
  if (period > n / 2) return detail::all_nan(n);  // n < 2p, written so 2p cannot overflow
  const std::size_t p = period;
  Series out = detail::with_warm_up(n, 2 * p - 1);
  const double* h = high.data();
  const double* l = low.data();
  const double* c = close.data();
  const double dp = static_cast<double>(p);
  const double dp1 = static_cast<double>(p - 1);

  // Wilder sums at index p: the in-order sums of bars 1 .. p (bar 0 is excluded).
  Movement m = movement_one(h, l, c, 1);
  Sums s{Pair{m.plus_dm[0], m.minus_dm[0]}, m.tr[0]};
  for (std::size_t i = 2; i <= p; ++i) {
    m = movement_one(h, l, c, i);
    s.dm += Pair{m.plus_dm[0], m.minus_dm[0]};
    s.tr += m.tr[0];
  }
  // Warm-up 2p-1: the ADX seed is the in-order mean of DX[p .. 2p-1].
  double dx_sum = dx(s);
  for (std::size_t i = p + 1; i < 2 * p; ++i) {
    wilder_step(s, movement_one(h, l, c, i), 0, dp);
    dx_sum += dx(s);
  }
  double a = dx_sum / dp;
  out[2 * p - 1] = a;
  // Then adx = (adx*(p-1) + DX)/p in exactly this form. Bars go in pairs: the movements of
  // both and the final DX divisions of both run two per instruction; the sums stay one bar at
  // a time. Where a guard fails the paired quotient is discarded for the documented 0.
  std::size_t i = 2 * p;
  for (; i + 2 <= n; i += 2) {
    const Movement mv = movement_pair(h, l, c, i);
    wilder_step(s, mv, 0, dp);
    const double tr0 = s.tr;
    const Pair di0 = indicators_of(s);
    wilder_step(s, mv, 1, dp);
    const Pair di1 = indicators_of(s);
    const Pair sum = {di0[0] + di0[1], di1[0] + di1[1]};
    const Pair diff = {std::fabs(di0[0] - di0[1]), std::fabs(di1[0] - di1[1])};
    const Pair q = (diff * 100.0) / sum;
    const double dx0 = (tr0 > 0 && sum[0] > 0) ? q[0] : 0.0;
    const double dx1 = (s.tr > 0 && sum[1] > 0) ? q[1] : 0.0;
    a = (a * dp1 + dx0) / dp;
    out[i] = a;
    a = (a * dp1 + dx1) / dp;
    out[i + 1] = a;
  }
  for (; i < n; ++i) {
    wilder_step(s, movement_one(h, l, c, i), 0, dp);
    a = (a * dp1 + dx(s)) / dp;
    out[i] = a;
  }
  return out;
}

}  // namespace quillon::indicators
