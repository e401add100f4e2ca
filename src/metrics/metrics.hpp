// Front door of the metrics: the 34-field metric block computed once at the end of every
// run from its equity, drawdown and return series and its trades, the annualisation factor
// (configured or inferred from the bar spacing), and the run outcome record that becomes a
// BacktestResult. Pure C++ over config/ and common/; no kernel, no Python.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/buffer.hpp"
#include "metrics/trade.hpp"

namespace quillon::metrics {

// Field order is the property order of BacktestMetrics. The six ratios that may be
// infinite (sortino, calmar, omega, profit factor, payoff, recovery) are stored as computed;
// the Python side shows a non-finite value as None.
struct BacktestMetrics {
  double total_return_pct = 0.0;
  double sharpe_ratio = 0.0;
  double sortino_ratio = 0.0;
  double calmar_ratio = 0.0;
  double omega_ratio = 0.0;
  double max_drawdown_pct = 0.0;
  std::uint64_t max_drawdown_duration = 0;
  double win_rate_pct = 0.0;
  double profit_factor = 0.0;
  double expectancy = 0.0;
  double sqn = 0.0;
  std::uint64_t total_trades = 0;
  std::uint64_t total_closed_trades = 0;
  std::uint64_t total_open_trades = 0;
  double open_trade_pnl = 0.0;
  std::uint64_t winning_trades = 0;
  std::uint64_t losing_trades = 0;
  double start_value = 0.0;
  double end_value = 0.0;
  double total_fees_paid = 0.0;
  double best_trade_pct = 0.0;
  double worst_trade_pct = 0.0;
  double avg_trade_return_pct = 0.0;
  double avg_win_pct = 0.0;
  double avg_loss_pct = 0.0;
  double avg_winning_duration = 0.0;
  double avg_losing_duration = 0.0;
  std::uint64_t max_consecutive_wins = 0;
  std::uint64_t max_consecutive_losses = 0;
  double avg_holding_period = 0.0;
  double exposure_pct = 0.0;
  double payoff_ratio = 0.0;
  double recovery_factor = 0.0;
  double total_turnover = 0.0;
};

// What the metrics read from the run's configuration.
struct MetricsSettings {
  double initial_capital = 100000.0;
  std::optional<double> periods_per_year;
  double risk_free_rate = 0.0;
  std::optional<double> session_minutes;  // unset: 375 (NSE); <= 0: a 24x7 market
  bool legacy_annualization = false;
};

// Periods per year: 365 under the legacy constants; the configured value when > 0; else
// inferred from the median positive gap between consecutive timestamps.
double annualization_factor(std::span<const std::int64_t> timestamps,
                            const MetricsSettings& settings);

// Median of the positive consecutive gaps in nanoseconds (mean of the two middle ones for
// an even count); nullopt when no timestamp increases on its predecessor.
std::optional<double> median_positive_gap(std::span<const std::int64_t> timestamps);

// The figures of the drawdown and return series that the block needs besides the
// variance: running sums over the non-NaN returns (all, negative squared, positive,
// negative magnitudes), the largest drawdown and the longest run under water. A recorder
// accumulates them bar by bar as it appends to the series, in index order, so a run does
// not read its series twice; summarize() gets the same figures from whole series.
struct SeriesFigures {
  std::uint64_t returns = 0;  // non-NaN returns
  double sum = 0.0;
  double downside = 0.0;  // Σ r² over r < 0
  double gains = 0.0;     // Σ r over r > 0
  double losses = 0.0;    // Σ |r| over r < 0
  double max_drawdown = 0.0;
  std::uint64_t longest_under_water = 0;
  std::uint64_t under_water = 0;

  void add(double drawdown, double r) {
    // Selects throughout (NaN never compares greater, so it changes nothing).
    max_drawdown = drawdown > max_drawdown ? drawdown : max_drawdown;
    under_water = drawdown > 0.0 ? under_water + 1 : 0;
    longest_under_water = under_water > longest_under_water ? under_water : longest_under_water;
    if (r != r) return;  // NaN returns do not count
    ++returns;
    sum += r;
    // The negative and positive parts as min/max selects (returns change sign at random,
    // so branches would mispredict). Adding the +0.0 (or -0.0) a part is for the other
    // sign changes no bit of these sums, none of which can be -0.0.
    const double neg = r < 0.0 ? r : 0.0;
    const double pos = r > 0.0 ? r : 0.0;
    downside += neg * neg;
    losses += -neg;
    gains += pos;
  }
};

SeriesFigures summarize(std::span<const double> drawdown, std::span<const double> returns);

// Every formula sums left to right in index order, so the block is reproducible bit for
// bit. `equity`, `drawdown` and `returns` have one value per bar; `trades` are in closing
// order; `timestamps` are the run's bar times. `figures` must be those of the two series.
BacktestMetrics compute(std::span<const double> equity, std::span<const double> drawdown,
                        std::span<const double> returns, std::span<const Trade> trades,
                        std::span<const std::int64_t> timestamps, const MetricsSettings& settings,
                        const SeriesFigures& figures);
inline BacktestMetrics compute(std::span<const double> equity, std::span<const double> drawdown,
                               std::span<const double> returns, std::span<const Trade> trades,
                               std::span<const std::int64_t> timestamps,
                               const MetricsSettings& settings) {
  return compute(equity, drawdown, returns, trades, timestamps, settings,
                 summarize(drawdown, returns));
}

// The outcome of one run, owned by value; the binding turns it into a BacktestResult.
struct BacktestResult {
  BacktestMetrics metrics;
  common::Buffer<double> equity;
  common::Buffer<double> drawdown;
  common::Buffer<double> returns;
  std::vector<Trade> trades;
};

}  // namespace quillon::metrics
