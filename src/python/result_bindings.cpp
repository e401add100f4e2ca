// Bindings of the result classes: BacktestResult, BacktestMetrics and Trade. They are
// created only by runs (no constructor), never change, and hand out fresh copies: every
// method call builds a new array or list, every property read a new object.
#include <array>
#include <cmath>
#include <string>
#include <utility>

#include "common/text.hpp"
#include "python/record_state.hpp"
#include "python/results.hpp"
#include "python/toolkit.hpp"

namespace quillon::python {

namespace {
constexpr std::array<std::string_view, metrics::exit_reason_count> exit_reason_texts{
    "Signal",     "StopLoss",   "TakeProfit",  "TrailingStop", "EndOfData",
    "Order",      "Settlement", "Liquidation", "TimeExit",     "Squareoff",
};
}  // namespace

std::string_view exit_reason_text(metrics::ExitReason reason) {
  return exit_reason_texts[static_cast<std::size_t>(reason)];
}

PyObject* result_object(metrics::BacktestResult&& outcome) { return wrap(std::move(outcome)); }

PyObject* trade_object(const metrics::Trade& trade) { return wrap(metrics::Trade(trade)); }

namespace {

using Metrics = metrics::BacktestMetrics;
using Result = metrics::BacktestResult;
using Trade = metrics::Trade;

// ---- Trade -------------------------------------------------------------------------------

PyObject* get_direction(const Trade& t) { return to_py(static_cast<std::int32_t>(t.direction)); }
PyObject* get_exit_reason(const Trade& t) { return to_py(exit_reason_text(t.exit_reason)); }

// "total" is the trade's fees, the amount the cash and the equity curve were charged. The
// sum of the six summed components can differ from it in the last bit (the legs' totals
// were rounded separately), and the promise to the caller is that the two agree.
PyObject* get_fee_breakdown(const Trade& t) {
  if (!t.fee_breakdown) return Py_NewRef(Py_None);
  const config::CostBreakdown& b = *t.fee_breakdown;
  return dict_of({
      {"brokerage", to_py(b.brokerage)},
      {"stt", to_py(b.stt)},
      {"exchange_txn", to_py(b.exchange_txn)},
      {"sebi_fee", to_py(b.sebi_fee)},
      {"stamp_duty", to_py(b.stamp_duty)},
      {"gst", to_py(b.gst)},
      {"total", to_py(t.fees)},
  });
}

std::string trade_repr(const Trade& t) {
  return "Trade(symbol=" + t.symbol + ", entry=" + common::fixed2(t.entry_price) +
         ", exit=" + common::fixed2(t.exit_price) + ", pnl=" + common::fixed2(t.pnl) +
         ", return=" + common::fixed2(t.return_pct) + "%)";
}

PyTypeObject* build_trade() {
  static ClassDef<Trade> def("Trade", "Python-exposed trade.");
  return def.readonly<&Trade::id>("id")
      .readonly<&Trade::symbol>("symbol")
      .readonly<&Trade::entry_idx>("entry_idx")
      .readonly<&Trade::exit_idx>("exit_idx")
      .readonly<&Trade::entry_price>("entry_price")
      .readonly<&Trade::exit_price>("exit_price")
      .readonly<&Trade::size>("size")
      .getter<get_direction>("direction")
      .readonly<&Trade::pnl>("pnl")
      .readonly<&Trade::return_pct>("return_pct")
      .readonly<&Trade::entry_time>("entry_time")
      .readonly<&Trade::exit_time>("exit_time")
      .readonly<&Trade::fees>("fees",
                             "Total costs over the round trip, equal to `entry_fees + exit_fees`.")
      .readonly<&Trade::entry_fees>("entry_fees", "Costs charged when the position was opened.")
      .readonly<&Trade::exit_fees>(
          "exit_fees",
          "Costs charged when it was closed.\n\n"
          "Zero when the exit was not a trade-out -- an option left to expire is\n"
          "never sold, so it owes no exit-side brokerage or transaction tax.")
      .getter<get_fee_breakdown>(
          "fee_breakdown",
          "Itemized regulatory costs, when `config.fee_segment` is set.\n\n"
          "Keys: brokerage, stt, exchange_txn, sebi_fee, stamp_duty, gst, total.\n"
          "`total` equals `fees`, so reported costs and the equity curve agree.")
      .getter<get_exit_reason>("exit_reason")
      .repr<trade_repr>()
      .picklable<encoder<Trade>, decoder<Trade>>()
      .build();
}

// ---- BacktestMetrics ---------------------------------------------------------------------

// The six ratios that can be infinite (or NaN) reach Python as None in that case.
template <auto Member>
PyObject* finite_or_none(const Metrics& m) {
  const double v = m.*Member;
  return std::isfinite(v) ? to_py(v) : Py_NewRef(Py_None);
}

constexpr Signature<0> sig_to_dict{"BacktestMetrics.to_dict"};
PyObject* py_to_dict(const Metrics& m, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) {
  if (!parse(sig_to_dict, args, nargs, kwnames)) return nullptr;
  return dict_of({
      {"Start Value", to_py(m.start_value)},
      {"End Value", to_py(m.end_value)},
      {"Total Return [%]", to_py(m.total_return_pct)},
      {"Total Fees Paid", to_py(m.total_fees_paid)},
      {"Total Turnover", to_py(m.total_turnover)},
      {"Max Drawdown [%]", to_py(m.max_drawdown_pct)},
      {"Max Drawdown Duration", to_py(m.max_drawdown_duration)},
      {"Total Trades", to_py(m.total_trades)},
      {"Total Closed Trades", to_py(m.total_closed_trades)},
      {"Total Open Trades", to_py(m.total_open_trades)},
      {"Open Trade PnL", to_py(m.open_trade_pnl)},
      {"Win Rate [%]", to_py(m.win_rate_pct)},
      {"Best Trade [%]", to_py(m.best_trade_pct)},
      {"Worst Trade [%]", to_py(m.worst_trade_pct)},
      {"Avg Winning Trade [%]", to_py(m.avg_win_pct)},
      {"Avg Losing Trade [%]", to_py(m.avg_loss_pct)},
      {"Avg Winning Trade Duration", to_py(m.avg_winning_duration)},
      {"Avg Losing Trade Duration", to_py(m.avg_losing_duration)},
      {"Profit Factor", finite_or_none<&Metrics::profit_factor>(m)},
      {"Expectancy", to_py(m.expectancy)},
      {"SQN", to_py(m.sqn)},
      {"Sharpe Ratio", to_py(m.sharpe_ratio)},
      {"Sortino Ratio", finite_or_none<&Metrics::sortino_ratio>(m)},
      {"Calmar Ratio", finite_or_none<&Metrics::calmar_ratio>(m)},
      {"Omega Ratio", finite_or_none<&Metrics::omega_ratio>(m)},
  });
}

std::string metrics_repr(const Metrics& m) {
  return "BacktestMetrics(return=" + common::fixed2(m.total_return_pct) +
         "%, sharpe=" + common::fixed2(m.sharpe_ratio) +
         ", max_dd=" + common::fixed2(m.max_drawdown_pct) +
         "%, trades=" + std::to_string(m.total_trades) + ")";
}

PyTypeObject* build_metrics() {
  static ClassDef<Metrics> def("BacktestMetrics", "Python-exposed backtest metrics.");
  return def.readonly<&Metrics::total_return_pct>("total_return_pct")
      .readonly<&Metrics::sharpe_ratio>("sharpe_ratio")
      .getter<finite_or_none<&Metrics::sortino_ratio>>("sortino_ratio")
      .getter<finite_or_none<&Metrics::calmar_ratio>>("calmar_ratio")
      .getter<finite_or_none<&Metrics::omega_ratio>>("omega_ratio")
      .readonly<&Metrics::max_drawdown_pct>("max_drawdown_pct")
      .readonly<&Metrics::max_drawdown_duration>("max_drawdown_duration")
      .readonly<&Metrics::win_rate_pct>("win_rate_pct")
      .getter<finite_or_none<&Metrics::profit_factor>>("profit_factor")
      .readonly<&Metrics::expectancy>("expectancy")
      .readonly<&Metrics::sqn>("sqn")
      .readonly<&Metrics::total_trades>("total_trades")
      .readonly<&Metrics::total_closed_trades>("total_closed_trades")
      .readonly<&Metrics::total_open_trades>("total_open_trades")
      .readonly<&Metrics::open_trade_pnl>("open_trade_pnl")
      .readonly<&Metrics::winning_trades>("winning_trades")
      .readonly<&Metrics::losing_trades>("losing_trades")
      .readonly<&Metrics::start_value>("start_value")
      .readonly<&Metrics::end_value>("end_value")
      .readonly<&Metrics::total_fees_paid>("total_fees_paid")
      .readonly<&Metrics::best_trade_pct>("best_trade_pct")
      .readonly<&Metrics::worst_trade_pct>("worst_trade_pct")
      .readonly<&Metrics::avg_trade_return_pct>("avg_trade_return_pct")
      .readonly<&Metrics::avg_win_pct>("avg_win_pct")
      .readonly<&Metrics::avg_loss_pct>("avg_loss_pct")
      .readonly<&Metrics::avg_winning_duration>("avg_winning_duration")
      .readonly<&Metrics::avg_losing_duration>("avg_losing_duration")
      .readonly<&Metrics::max_consecutive_wins>("max_consecutive_wins")
      .readonly<&Metrics::max_consecutive_losses>("max_consecutive_losses")
      .readonly<&Metrics::avg_holding_period>("avg_holding_period")
      .readonly<&Metrics::exposure_pct>("exposure_pct")
      .getter<finite_or_none<&Metrics::payoff_ratio>>("payoff_ratio")
      .getter<finite_or_none<&Metrics::recovery_factor>>("recovery_factor")
      .readonly<&Metrics::total_turnover>(
          "total_turnover",
          "Total traded notional, entry and exit sides both counted (exits at the end\n"
          "of data and settlements are not trades and add nothing).")
      .method<py_to_dict>(sig_to_dict.view(), "Convert to dictionary of all metrics.")
      .repr<metrics_repr>()
      .picklable<encoder<Metrics>, decoder<Metrics>>()
      .build();
}

// ---- BacktestResult ----------------------------------------------------------------------

PyObject* get_metrics(const Result& r) { return wrap(Metrics(r.metrics)); }

constexpr Signature<0> sig_equity_curve{"BacktestResult.equity_curve"};
constexpr Signature<0> sig_drawdown_curve{"BacktestResult.drawdown_curve"};
constexpr Signature<0> sig_returns{"BacktestResult.returns"};
constexpr Signature<0> sig_trades{"BacktestResult.trades"};

template <const auto& Sig, common::Buffer<double> Result::*Series>
PyObject* py_series(const Result& r, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (!parse(Sig, args, nargs, kwnames)) return nullptr;
  const common::Buffer<double>& s = r.*Series;
  return to_numpy(common::Buffer<double>(s.begin(), s.end()));
}

PyObject* py_trades(const Result& r, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (!parse(sig_trades, args, nargs, kwnames)) return nullptr;
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(r.trades.size()));
  if (list == nullptr) return nullptr;
  for (std::size_t k = 0; k < r.trades.size(); ++k) {
    PyObject* t = trade_object(r.trades[k]);
    if (t == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(k), t);
  }
  return list;
}

std::string result_repr(const Result& r) {
  return "BacktestResult(return=" + common::fixed2(r.metrics.total_return_pct) +
         "%, trades=" + std::to_string(r.metrics.total_trades) +
         ", max_dd=" + common::fixed2(r.metrics.max_drawdown_pct) + "%)";
}

PyTypeObject* build_result() {
  static ClassDef<Result> def("BacktestResult", "Python-exposed backtest result.");
  return def.getter<get_metrics>("metrics")
      .method<py_series<sig_equity_curve, &Result::equity>>(sig_equity_curve.view(),
                                                            "Get equity curve as numpy array.")
      .method<py_series<sig_drawdown_curve, &Result::drawdown>>(
          sig_drawdown_curve.view(), "Get drawdown curve as numpy array.")
      .method<py_series<sig_returns, &Result::returns>>(sig_returns.view(),
                                                       "Get returns as numpy array.")
      .method<py_trades>(sig_trades.view(), "Get list of trades.")
      .repr<result_repr>()
      .picklable<encoder<Result>, decoder<Result>>()
      .build();
}

const Registration registration{
    class_item("BacktestResult", build_result),
    class_item("BacktestMetrics", build_metrics),
    class_item("Trade", build_trade),
};

}  // namespace
}  // namespace quillon::python
