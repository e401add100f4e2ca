// Field-by-field byte states of the picklable records. Each encoder and its decoder list
// the fields in the same order; the size checks below fail the build when a record gains
// a field, so a new field cannot silently be dropped from pickles.
#include "python/record_state.hpp"

#include <variant>

namespace quillon::python {
namespace {

using common::StateReader;
using common::StateWriter;
namespace cfg = config;

static_assert(sizeof(cfg::BacktestConfig) == 288, "BacktestConfig changed: update its state");
static_assert(sizeof(cfg::InstrumentConfig) == 152, "InstrumentConfig changed: update its state");
static_assert(sizeof(cfg::InstrumentSpec) == 200, "InstrumentSpec changed: update its state");
static_assert(sizeof(metrics::Trade) == 208, "Trade changed: update its state");
static_assert(sizeof(metrics::BacktestMetrics) == 272, "BacktestMetrics changed: update its state");

template <class... V>
void put_all(StateWriter& w, const V&... v) {
  (w.put(v), ...);
}
template <class... V>
bool get_all(StateReader& r, V&... v) {
  return (r.get(v) && ...);
}

void put(StateWriter& w, const cfg::StopModel& m) {
  put_all(w, m.kind, m.percent, m.multiplier, m.period);
}
bool get(StateReader& r, cfg::StopModel& m) {
  return r.get_enum(m.kind, 4) && get_all(r, m.percent, m.multiplier, m.period);
}
void put(StateWriter& w, const cfg::TargetModel& m) {
  put_all(w, m.kind, m.percent, m.multiplier, m.period, m.ratio);
}
bool get(StateReader& r, cfg::TargetModel& m) {
  return r.get_enum(m.kind, 4) && get_all(r, m.percent, m.multiplier, m.period, m.ratio);
}
void put(StateWriter& w, const cfg::CostBreakdown& b) {
  put_all(w, b.brokerage, b.stt, b.exchange_txn, b.sebi_fee, b.stamp_duty, b.gst);
}
bool get(StateReader& r, cfg::CostBreakdown& b) {
  return get_all(r, b.brokerage, b.stt, b.exchange_txn, b.sebi_fee, b.stamp_duty, b.gst);
}

template <class M>
void put(StateWriter& w, const std::optional<M>& m) {
  w.put(m.has_value());
  if (m) put(w, *m);
}
template <class M>
bool get(StateReader& r, std::optional<M>& m) {
  bool present = false;
  if (!r.get(present)) return false;
  if (!present) {
    m.reset();
    return true;
  }
  M value{};
  if (!get(r, value)) return false;
  m = value;
  return true;
}

}  // namespace

void encode_state(const cfg::BacktestConfig& c, StateWriter& w) {
  put_all(w, c.initial_capital, c.fees, c.slippage, c.upon_bar_close, c.apply_slippage,
          c.periods_per_year, c.risk_free_rate, c.session_minutes, c.fee_segment,
          c.max_positions, c.max_drawdown_pct, c.legacy_annualization, c.fill_prob_limit,
          c.fill_prob_slippage, c.fill_seed, c.bar_path_adaptive, c.queue_fill_model,
          c.session_tz_offset_ns, c.limit_slippage, c.liquidate_on_margin_call,
          c.squareoff_time_minutes);
  put(w, c.stop);
  put(w, c.target);
}
bool decode_state(StateReader& r, cfg::BacktestConfig& c) {
  return get_all(r, c.initial_capital, c.fees, c.slippage, c.upon_bar_close, c.apply_slippage,
                 c.periods_per_year, c.risk_free_rate, c.session_minutes, c.fee_segment,
                 c.max_positions, c.max_drawdown_pct, c.legacy_annualization,
                 c.fill_prob_limit, c.fill_prob_slippage, c.fill_seed, c.bar_path_adaptive,
                 c.queue_fill_model, c.session_tz_offset_ns, c.limit_slippage,
                 c.liquidate_on_margin_call, c.squareoff_time_minutes) &&
         get(r, c.stop) && get(r, c.target);
}

void encode_state(const cfg::InstrumentConfig& c, StateWriter& w) {
  put_all(w, c.lot_size, c.alloted_capital, c.existing_qty, c.avg_price);
  put(w, c.stop_override);
  put(w, c.target_override);
}
bool decode_state(StateReader& r, cfg::InstrumentConfig& c) {
  return get_all(r, c.lot_size, c.alloted_capital, c.existing_qty, c.avg_price) &&
         get(r, c.stop_override) && get(r, c.target_override);
}

void encode_state(const cfg::StopConfig& c, StateWriter& w) {
  put_all(w, c.stop_type, c.percent, c.multiplier, c.period);
}
bool decode_state(StateReader& r, cfg::StopConfig& c) {
  return get_all(r, c.stop_type, c.percent, c.multiplier, c.period);
}

void encode_state(const cfg::TargetConfig& c, StateWriter& w) {
  put_all(w, c.target_type, c.percent, c.multiplier, c.period, c.ratio);
}
bool decode_state(StateReader& r, cfg::TargetConfig& c) {
  return get_all(r, c.target_type, c.percent, c.multiplier, c.period, c.ratio);
}

void encode_state(const cfg::InstrumentSpec& s, StateWriter& w) {
  put_all(w, s.activation_ns, s.expiration_ns, s.symbol);
  w.put(static_cast<std::uint8_t>(s.kind.index()));
  if (const auto* c = std::get_if<cfg::ContractKind>(&s.kind)) {
    w.put(c->underlying);
  } else if (const auto* o = std::get_if<cfg::OptionKind>(&s.kind)) {
    put_all(w, o->underlying, o->strike, o->right, o->binary);
  }
  put_all(w, s.price_increment, s.size_increment, s.lot_size, s.multiplier, s.margin_init,
          s.margin_maint, s.maker_fee, s.taker_fee, s.settlement_fee);
}
bool decode_state(StateReader& r, cfg::InstrumentSpec& s) {
  std::uint8_t kind = 0;
  if (!get_all(r, s.activation_ns, s.expiration_ns, s.symbol, kind)) return false;
  switch (kind) {
    case 0: s.kind = cfg::CashKind{}; break;
    case 1: s.kind = cfg::CurrencyPairKind{}; break;
    case 2: {
      cfg::ContractKind c;
      if (!r.get(c.underlying)) return false;
      s.kind = std::move(c);
      break;
    }
    case 3: {
      cfg::OptionKind o;
      if (!r.get(o.underlying) || !r.get(o.strike) || !r.get_enum(o.right, 2) ||
          !r.get(o.binary)) {
        return false;
      }
      s.kind = std::move(o);
      break;
    }
    case 4: s.kind = cfg::IndexKind{}; break;
    default: return false;
  }
  return get_all(r, s.price_increment, s.size_increment, s.lot_size, s.multiplier,
                 s.margin_init, s.margin_maint, s.maker_fee, s.taker_fee, s.settlement_fee);
}

void encode_state(const metrics::Trade& t, StateWriter& w) {
  put_all(w, t.id, t.symbol, t.entry_idx, t.exit_idx, t.entry_price, t.exit_price, t.size,
          t.direction, t.pnl, t.return_pct, t.entry_time, t.exit_time, t.fees, t.entry_fees,
          t.exit_fees, t.exit_reason);
  put(w, t.fee_breakdown);
}
bool decode_state(StateReader& r, metrics::Trade& t) {
  return get_all(r, t.id, t.symbol, t.entry_idx, t.exit_idx, t.entry_price, t.exit_price,
                 t.size, t.direction, t.pnl, t.return_pct, t.entry_time, t.exit_time, t.fees,
                 t.entry_fees, t.exit_fees) &&
         r.get_enum(t.exit_reason, metrics::exit_reason_count) && get(r, t.fee_breakdown);
}

void encode_state(const metrics::BacktestMetrics& m, StateWriter& w) {
  put_all(w, m.total_return_pct, m.sharpe_ratio, m.sortino_ratio, m.calmar_ratio,
          m.omega_ratio, m.max_drawdown_pct, m.max_drawdown_duration, m.win_rate_pct,
          m.profit_factor, m.expectancy, m.sqn, m.total_trades, m.total_closed_trades,
          m.total_open_trades, m.open_trade_pnl, m.winning_trades, m.losing_trades,
          m.start_value, m.end_value, m.total_fees_paid, m.best_trade_pct, m.worst_trade_pct,
          m.avg_trade_return_pct, m.avg_win_pct, m.avg_loss_pct, m.avg_winning_duration,
          m.avg_losing_duration, m.max_consecutive_wins, m.max_consecutive_losses,
          m.avg_holding_period, m.exposure_pct, m.payoff_ratio, m.recovery_factor,
          m.total_turnover);
}
bool decode_state(StateReader& r, metrics::BacktestMetrics& m) {
  return get_all(r, m.total_return_pct, m.sharpe_ratio, m.sortino_ratio, m.calmar_ratio,
                 m.omega_ratio, m.max_drawdown_pct, m.max_drawdown_duration, m.win_rate_pct,
                 m.profit_factor, m.expectancy, m.sqn, m.total_trades, m.total_closed_trades,
                 m.total_open_trades, m.open_trade_pnl, m.winning_trades, m.losing_trades,
                 m.start_value, m.end_value, m.total_fees_paid, m.best_trade_pct,
                 m.worst_trade_pct, m.avg_trade_return_pct, m.avg_win_pct, m.avg_loss_pct,
                 m.avg_winning_duration, m.avg_losing_duration, m.max_consecutive_wins,
                 m.max_consecutive_losses, m.avg_holding_period, m.exposure_pct,
                 m.payoff_ratio, m.recovery_factor, m.total_turnover);
}

void encode_state(const metrics::BacktestResult& res, StateWriter& w) {
  encode_state(res.metrics, w);
  w.put_array(res.equity.data(), res.equity.size());
  w.put_array(res.drawdown.data(), res.drawdown.size());
  w.put_array(res.returns.data(), res.returns.size());
  w.put(static_cast<std::uint64_t>(res.trades.size()));
  for (const metrics::Trade& t : res.trades) encode_state(t, w);
}
bool decode_state(StateReader& r, metrics::BacktestResult& res) {
  std::uint64_t count = 0;
  if (!decode_state(r, res.metrics) || !r.get_array(res.equity) || !r.get_array(res.drawdown) ||
      !r.get_array(res.returns) || !r.get(count)) {
    return false;
  }
  res.trades.clear();
  for (std::uint64_t k = 0; k < count; ++k) {
    metrics::Trade t;
    if (!decode_state(r, t)) return false;
    res.trades.push_back(std::move(t));
  }
  return true;
}

}  // namespace quillon::python
