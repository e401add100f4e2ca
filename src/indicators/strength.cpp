// Trend strength: adx (the ADX line only). Pure C++; the operation order of the loop is fixed
// (see the comments) because results are compared bit for bit.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "indicators/batch_detail.hpp"
#include "indicators/indicators.hpp"

namespace quillon::indicators {
namespace {

// One bar's directional movement and true range (bar i >= 1).
struct Movement {
  double plus_dm, minus_dm, tr;
};

inline Movement movement(const double* h, const double* l, const double* c, std::size_t i) {
  const double up = h[i] - h[i - 1];
  const double down = l[i - 1] - l[i];
  return {(up > 0 && up > down) ? up : 0.0, (down > up && down > 0) ? down : 0.0,
          detail::true_range(h[i], l[i], c[i - 1])};
}

// DX from the three Wilder sums: 0 unless the TR sum is > 0 and PDI + MDI > 0. Each index is
// computed as written: (sum*100)/tr, then (|PDI - MDI|*100)/(PDI + MDI).
inline double dx(double plus_sum, double minus_sum, double tr_sum) {
  if (!(tr_sum > 0)) return 0.0;
  const double pdi = (plus_sum * 100.0) / tr_sum;
  const double mdi = (minus_sum * 100.0) / tr_sum;
  if (!(pdi + mdi > 0)) return 0.0;
  return (std::fabs(pdi - mdi) * 100.0) / (pdi + mdi);
}

}  // namespace

Result<Series> adx(std::span<const double> high, std::span<const double> low,
                   std::span<const double> close, std::uint64_t period) {
  if (auto e = detail::check_lengths(close.size(), {high.size(), low.size()})) {
    return common::Err{*e};
  }
  if (period == 0) return common::Err{Error::invalid_parameter("ADX period must be > 0")};
  const std::size_t n = close.size();
  Series out(n, detail::kNaN);
  if (period > n / 2) return out;  // n < 2p, written so that 2p cannot overflow
  const std::size_t p = period;
  const double* h = high.data();
  const double* l = low.data();
  const double* c = close.data();
  const double dp = static_cast<double>(p);
  const double dp1 = static_cast<double>(p - 1);

  // Wilder sums: at index p the in-order sum of bars 1 .. p (bar 0 is excluded); after that
  // s = (s - s/p) + value, with a true division (a reciprocal multiply changes the bits).
  Movement mv = movement(h, l, c, 1);
  double plus = mv.plus_dm, minus = mv.minus_dm, tr = mv.tr;
  for (std::size_t i = 2; i <= p; ++i) {
    mv = movement(h, l, c, i);
    plus += mv.plus_dm;
    minus += mv.minus_dm;
    tr += mv.tr;
  }
  // Warm-up 2p-1: the ADX seed is the in-order mean of DX[p .. 2p-1]; afterwards
  // adx = (adx*(p-1) + DX)/p in exactly this form.
  double dx_sum = dx(plus, minus, tr);
  for (std::size_t i = p + 1; i < 2 * p; ++i) {
    mv = movement(h, l, c, i);
    plus = (plus - plus / dp) + mv.plus_dm;
    minus = (minus - minus / dp) + mv.minus_dm;
    tr = (tr - tr / dp) + mv.tr;
    dx_sum += dx(plus, minus, tr);
  }
  double a = dx_sum / dp;
  out[2 * p - 1] = a;
  for (std::size_t i = 2 * p; i < n; ++i) {
    mv = movement(h, l, c, i);
    plus = (plus - plus / dp) + mv.plus_dm;
    minus = (minus - minus / dp) + mv.minus_dm;
    tr = (tr - tr / dp) + mv.tr;
    a = (a * dp1 + dx(plus, minus, tr)) / dp;
    out[i] = a;
  }
  return out;
}

}  // namespace quillon::indicators
