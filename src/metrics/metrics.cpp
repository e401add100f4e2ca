// The metric block. Every sum runs left to right in index (or closing) order, and every
// formula keeps the operation order written next to it: the test suite recomputes the
// block in plain Python from the same formulas and compares bit for bit.
#include "metrics/metrics.hpp"

#include <cmath>
#include <cstddef>
#include <limits>

namespace quillon::metrics {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kYearNs = 3.1536e16;  // 365 days

struct ReturnRatios {
  double sharpe = 0.0;
  double sortino = 0.0;
  double omega = 1.0;
};

// Sharpe, Sortino and Omega over the non-NaN returns; the variance needs the mean, so it
// is the one figure that takes a pass of its own.
ReturnRatios return_ratios(std::span<const double> r, const SeriesFigures& f, double periods,
                           double risk_free) {
  ReturnRatios out;
  const std::uint64_t k = f.returns;
  if (k < 2) return out;
  const double kd = static_cast<double>(k);
  const double mean = f.sum / kd;
  double squares = 0.0;
  for (const double x : r) {
    if (std::isnan(x)) continue;
    const double e = x - mean;
    squares += e * e;
  }
  const double variance = squares / (kd - 1.0);
  const double excess = periods > 0.0 ? mean - risk_free / periods : mean;
  out.sharpe = variance > 0.0 ? excess / std::sqrt(variance) * std::sqrt(periods) : 0.0;
  // Downside deviation divides by every return's count, not only the negative ones.
  const double q = f.downside / kd;
  if (q > 0.0) {
    out.sortino = std::sqrt(periods) * excess / std::sqrt(q);
  } else {
    out.sortino = excess > 0.0 ? kInf : 0.0;
  }
  if (f.losses > 0.0) {
    out.omega = f.gains / f.losses;
  } else {
    out.omega = f.gains > 0.0 ? kInf : 1.0;
  }
  return out;
}

// Years the run spans: the wall-clock span of its timestamps when there is one (at least
// 1 ns), else the bar count read as days. The span is taken exactly before it is divided.
double years_spanned(std::span<const std::int64_t> t, std::size_t bars, bool legacy) {
  const double by_count = static_cast<double>(bars > 0 ? bars : 1) / 365.25;
  if (legacy || t.size() < 2) return by_count;
  const __int128 span = static_cast<__int128>(t.back()) - static_cast<__int128>(t.front());
  if (span < 1) return by_count;
  return static_cast<double>(span) / kYearNs;
}

}  // namespace

SeriesFigures summarize(std::span<const double> drawdown, std::span<const double> returns) {
  SeriesFigures f;
  const std::size_t n = drawdown.size() < returns.size() ? returns.size() : drawdown.size();
  for (std::size_t i = 0; i < n; ++i) {
    // A series shorter than the other still counts alone: pad with values that add nothing.
    f.add(i < drawdown.size() ? drawdown[i] : 0.0,
          i < returns.size() ? returns[i] : std::numeric_limits<double>::quiet_NaN());
  }
  return f;
}

BacktestMetrics compute(std::span<const double> equity, std::span<const double> drawdown,
                        std::span<const double> returns, std::span<const Trade> trades,
                        std::span<const std::int64_t> timestamps, const MetricsSettings& s,
                        const SeriesFigures& figures) {
  BacktestMetrics m;
  const std::size_t n = equity.size();

  // 1. Value and return.
  m.start_value = s.initial_capital;
  m.end_value = n > 0 ? equity[n - 1] : m.start_value;
  m.total_return_pct = (m.end_value - m.start_value) / m.start_value * 100.0;

  // 2. Drawdown.
  (void)drawdown;  // its figures arrive in `figures`
  m.max_drawdown_pct = figures.max_drawdown;
  m.max_drawdown_duration = figures.longest_under_water;

  // 3-8. Trades, in closing order.
  std::uint64_t open = 0, closed = 0;
  double open_pnl = 0.0, closed_pnl = 0.0;
  double gross_profit = 0.0, gross_loss = 0.0;
  double win_return_sum = 0.0, loss_return_sum = 0.0;
  std::uint64_t win_bars = 0, loss_bars = 0, held_bars = 0;
  double fees = 0.0, return_sum = 0.0, turnover = 0.0;
  double best = -kInf, worst = kInf;
  std::uint64_t wins_run = 0, losses_run = 0;
  for (const Trade& t : trades) {
    const std::uint64_t held = t.exit_idx - t.entry_idx;
    if (t.open_at_end()) {
      ++open;
      open_pnl += t.pnl;
    } else {
      ++closed;
      closed_pnl += t.pnl;
      if (t.pnl > 0.0) {
        ++m.winning_trades;
        gross_profit += t.pnl;
        win_return_sum += t.return_pct;
        win_bars += held;
      } else if (t.pnl < 0.0) {
        ++m.losing_trades;
        gross_loss += std::fabs(t.pnl);
        loss_return_sum += t.return_pct;
        loss_bars += held;
      }
    }
    fees += t.fees;
    if (t.return_pct > best) best = t.return_pct;
    if (t.return_pct < worst) worst = t.return_pct;
    return_sum += t.return_pct;
    if (t.pnl > 0.0) {
      ++wins_run;
      losses_run = 0;
      if (wins_run > m.max_consecutive_wins) m.max_consecutive_wins = wins_run;
    } else if (t.pnl < 0.0) {
      ++losses_run;
      wins_run = 0;
      if (losses_run > m.max_consecutive_losses) m.max_consecutive_losses = losses_run;
    }
    held_bars += held;
    // Exits at the end of data and at settlement are not trades out of the market.
    turnover += std::fabs(t.size * t.entry_price);
    if (t.exit_reason != ExitReason::EndOfData && t.exit_reason != ExitReason::Settlement) {
      turnover += std::fabs(t.size * t.exit_price);
    }
  }
  const std::uint64_t total = trades.size();
  m.total_trades = total;
  m.total_open_trades = open;
  m.total_closed_trades = total - open;
  m.open_trade_pnl = open_pnl;

  // 4. Closed-trade statistics.
  if (closed > 0) {
    const double c = static_cast<double>(closed);
    m.win_rate_pct = static_cast<double>(m.winning_trades) / c * 100.0;
    m.expectancy = closed_pnl / c;
  }
  if (gross_loss > 0.0) {
    m.profit_factor = gross_profit / gross_loss;
  } else {
    m.profit_factor = gross_profit > 0.0 ? kInf : 0.0;
  }
  if (closed >= 2) {
    double squares = 0.0;
    for (const Trade& t : trades) {
      if (t.open_at_end()) continue;
      const double e = t.pnl - m.expectancy;
      squares += e * e;
    }
    const double variance = squares / static_cast<double>(closed - 1);
    if (variance > 0.0) {
      m.sqn = std::sqrt(static_cast<double>(closed)) * m.expectancy / std::sqrt(variance);
    }
  }
  if (m.winning_trades > 0) {
    const double w = static_cast<double>(m.winning_trades);
    m.avg_win_pct = win_return_sum / w;
    m.avg_winning_duration = static_cast<double>(win_bars) / w;
  }
  if (m.losing_trades > 0) {
    const double l = static_cast<double>(m.losing_trades);
    m.avg_loss_pct = loss_return_sum / l;
    m.avg_losing_duration = static_cast<double>(loss_bars) / l;
  }

  // 5. All-trade statistics; the ±inf starting values never reach the caller.
  m.total_fees_paid = fees;
  m.best_trade_pct = std::isinf(best) ? 0.0 : best;
  m.worst_trade_pct = std::isinf(worst) ? 0.0 : worst;
  if (total > 0) m.avg_trade_return_pct = return_sum / static_cast<double>(total);

  // 6. Holding and exposure.
  if (total > 0) m.avg_holding_period = static_cast<double>(held_bars) / static_cast<double>(total);
  if (n > 0) m.exposure_pct = static_cast<double>(held_bars) / static_cast<double>(n) * 100.0;

  // 7. Ratios of averages.
  if (m.avg_loss_pct != 0.0) {
    m.payoff_ratio = m.avg_win_pct / std::fabs(m.avg_loss_pct);
  } else {
    m.payoff_ratio = m.avg_win_pct > 0.0 ? kInf : 0.0;
  }
  const double profit = m.end_value - m.start_value;
  const double w = m.max_drawdown_pct / 100.0;
  if (w > 0.0 && m.start_value > 0.0) {
    m.recovery_factor = profit / (w * m.start_value);
  } else {
    m.recovery_factor = profit > 0.0 ? kInf : 0.0;
  }

  // 8. Turnover, without the contract multiplier.
  m.total_turnover = turnover;

  // 9. Return-series ratios.
  const double periods = annualization_factor(timestamps, s);
  const ReturnRatios rr = return_ratios(returns, figures, periods, s.risk_free_rate);
  m.sharpe_ratio = rr.sharpe;
  m.sortino_ratio = rr.sortino;
  m.omega_ratio = rr.omega;

  // 10. Calmar from the compound annual growth over the years spanned.
  const double years = years_spanned(timestamps, n, s.legacy_annualization);
  const double cagr =
      years > 0.0 ? std::pow(1.0 + m.total_return_pct / 100.0, 1.0 / years) - 1.0 : 0.0;
  if (m.max_drawdown_pct > 0.0) {
    m.calmar_ratio = cagr / (m.max_drawdown_pct / 100.0);
  } else {
    m.calmar_ratio = m.total_return_pct > 0.0 ? kInf : 0.0;
  }
  return m;
}

}  // namespace quillon::metrics
