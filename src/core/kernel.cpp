// The bar step, opening and closing of positions, marking and the end-of-data close.
// Every formula keeps the operation order written in its comment: the tests recompute
// runs in plain Python from the same formulas and compare bit for bit.
#include "core/kernel.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace quillon::core {
namespace {

// Volume of bars whose volume the caller did not supply (nothing in the kernel reads it).
constexpr double kNoVolume = std::numeric_limits<double>::quiet_NaN();

inline double as_double(std::int8_t direction) { return static_cast<double>(direction); }

inline const config::InstrumentSpec* ptr(const std::optional<config::InstrumentSpec>& s) {
  return s ? &*s : nullptr;
}

}  // namespace

Kernel::Kernel(KernelSetup setup)
    : settings_(std::move(setup.settings)),
      models_(config::resolve_protective_models(
          settings_, setup.instrument_config ? &*setup.instrument_config : nullptr)),
      symbol_(std::move(setup.symbol)),
      direction_(setup.direction),
      oms_(setup.oms),
      record_timestamps_(setup.record_timestamps),
      peak_(settings_.initial_capital) {
  if (setup.instrument_config) {
    lot_size_ = config::entry_lot_size(&*setup.instrument_config, nullptr);
    alloted_capital_ = setup.instrument_config->alloted_capital;
  }
  account_.cash = settings_.initial_capital;
  account_.type = setup.account;
  rng_state_ = settings_.fill_seed;
  positions_.reserve(4);
  events_.reserve(16);
  pending_events_.reserve(8);
  equity_.reserve(setup.expected_bars);
  drawdown_.reserve(setup.expected_bars);
  returns_.reserve(setup.expected_bars);
  if (record_timestamps_) timestamps_.reserve(setup.expected_bars);
}

void Kernel::install_instrument(const config::InstrumentSpec& spec) {
  spec_ = spec;
  // A lot size configured for the instrument wins; the contract's lot of exactly 1 means
  // "no lots".
  if (!lot_size_ && spec.lot_size > 0.0 && spec.lot_size != 1.0) lot_size_ = spec.lot_size;
  terms_.multiplier = config::contract_multiplier(&*spec_);
  terms_.price_increment = spec.price_increment;
  terms_.size_increment = spec.size_increment;
  terms_.margin_init = spec.margin_init;
  terms_.margin_maint = spec.margin_maint;
  terms_.settlement_fee = spec.settlement_fee;
  terms_.activation_ns = spec.activation_ns;
  terms_.expiration_ns = spec.expiration_ns;
}

// ---- the bar step ----------------------------------------------------------------------

// The step and the marking are written once, inline, and used both by the per-bar entry
// points (sessions) and by run(), whose loop then has no call per bar.
void Kernel::step_bar(std::uint64_t idx, const Bar& bar, const Intents& intents) {
  events_.clear();
  if (!pending_events_.empty()) {
    events_.insert(events_.end(), pending_events_.begin(), pending_events_.end());
    pending_events_.clear();
  }
  // A. An expired instrument only settles (on this and every later bar).
  if (terms_.expiration_ns && bar.timestamp >= *terms_.expiration_ns) {
    settle_expired(idx, bar, intents);
    return;
  }
  // B. A normal bar.
  const double selected =
      settings_.price_selector == config::PriceSelector::Close ? bar.close : bar.open;
  if (!positions_.empty()) manage_positions(idx, bar, intents, selected);  // B1-B3
  if (!close_requests_.empty()) close_requested(idx, bar, selected);        // B4
  if (account_.type.kind == AccountKind::Margin && !positions_.empty() &&
      !account_.margin_call) {
    check_margin(idx, bar, selected);  // B5
  }
  if (has_live_orders()) evaluate_working_orders(idx, bar, intents);  // B6
  if (intents.entry && positions_.empty()) signal_entry(idx, bar, intents, selected);  // B7
  // B8: TWAP slices first, so that a slice is filled on the bar that took it.
  if (!schedules_.empty()) slice_schedules(idx, bar);
  if (has_live_orders()) fill_orders_for_bar(idx, bar, selected, intents);
}

void Kernel::settle_expired(std::uint64_t idx, const Bar& bar, const Intents& intents) {
  const double price = config::settlement_price(*spec_, bar.close, underlying_price_);
  while (!positions_.empty()) {
    const Position& p = positions_.front();
    // Settlement is not a trade out of the market: no slippage, no brokerage or tax, only
    // the contract's settlement fee.
    const double fee = terms_.settlement_fee > 0.0
                           ? p.size * price * terms_.multiplier * terms_.settlement_fee
                           : 0.0;
    close_position(0, idx, bar.timestamp, price, ExitReason::Settlement, fee);
  }
  for (Order& o : orders_) {
    if (is_terminal(o.state)) continue;
    o.state = OrderState::Canceled;
    Event e;
    e.kind = EventKind::OrderCanceled;
    e.idx = idx;
    e.order_id = o.id;
    events_.push_back(e);
  }
  if (intents.entry) refuse_entry(idx, EntryRefusal::Expired);
  // Nothing is left to close; stale requests must not pile up bar after bar.
  close_requests_.clear();
}

void Kernel::manage_positions(std::uint64_t idx, const Bar& bar, const Intents& intents,
                              double selected) {
  // B1. Watermarks of every position first (a NaN bound leaves them unchanged). Selects,
  // not branches: new extremes come at random.
  for (Position& p : positions_) {
    p.highest_high = bar.high > p.highest_high ? bar.high : p.highest_high;
    p.lowest_low = bar.low < p.lowest_low ? bar.low : p.lowest_low;
  }
  // B2-B3, one position at a time in opening order. Most bars close nothing: the tests
  // and the ratchet stay inline here, the exit itself is out of line.
  const bool trailing = models_.stop.kind == config::StopKind::Trailing;
  std::size_t k = 0;
  while (k < positions_.size()) {
    Position& p = positions_[k];
    const bool is_long = p.direction > 0;
    const bool stop_hit = p.stop && (is_long ? bar.low <= *p.stop : bar.high >= *p.stop);
    const bool target_hit = p.target && (is_long ? bar.high >= *p.target : bar.low <= *p.target);
    if (stop_hit || target_hit || intents.exit) {
      exit_position(k, idx, bar, stop_hit, target_hit, selected);
      continue;
    }
    // B3. Trailing ratchet from the extremes including this bar; it first applies on the
    // next bar and never loosens.
    if (trailing) {
      const double f = models_.stop.percent;
      if (is_long) {
        const double candidate = (1.0 - f) * p.highest_high;
        if (!p.stop || candidate > *p.stop) p.stop = candidate;
      } else {
        const double candidate = (1.0 + f) * p.lowest_low;
        if (!p.stop || candidate < *p.stop) p.stop = candidate;
      }
    }
    ++k;
  }
}

void Kernel::exit_position(std::size_t k, std::uint64_t idx, const Bar& bar, bool stop_hit,
                           bool target_hit, double selected) {
  const Position& p = positions_[k];
  const bool is_long = p.direction > 0;
  if (stop_hit && target_hit) {
    // Both inside one bar: the stop is assumed first unless the candle says otherwise
    // (a bearish bar visited its high first, so a long's target came first).
    const bool target_first =
        settings_.bar_path_adaptive && (is_long ? bar.close < bar.open : bar.close >= bar.open);
    (target_first ? stop_hit : target_hit) = false;
  }
  if (stop_hit) {
    // A gap through the stop fills at the open.
    const double s = *p.stop;
    const double price = is_long ? (s < bar.open ? s : bar.open) : (s > bar.open ? s : bar.open);
    close_position(k, idx, bar.timestamp, price, ExitReason::StopLoss);
  } else if (target_hit) {
    // A limit-style fill: never improved by a gap.
    const double price = is_long ? *p.target * (1.0 - settings_.limit_slippage)
                                 : *p.target * (1.0 + settings_.limit_slippage);
    close_position(k, idx, bar.timestamp, price, ExitReason::TakeProfit);
  } else {
    close_position(k, idx, bar.timestamp, selected, ExitReason::Signal);
  }
}

void Kernel::close_requested(std::uint64_t idx, const Bar& bar, double selected) {
  for (const std::uint64_t id : close_requests_) {
    for (std::size_t k = 0; k < positions_.size(); ++k) {
      if (positions_[k].id == id) {
        close_position(k, idx, bar.timestamp, selected, ExitReason::Signal);
        break;
      }
    }
  }
  close_requests_.clear();
}

void Kernel::check_margin(std::uint64_t idx, const Bar& bar, double selected) {
  const auto rate = config::maintenance_margin_rate(ptr(spec_), account_.type.leverage);
  if (!rate) return;  // fully funded: no maintenance requirement
  const double m = terms_.multiplier;
  double exposure = 0.0;
  double open_pnl = 0.0;
  for (const Position& p : positions_) {
    exposure += p.size * bar.close * m;
    open_pnl += as_double(p.direction) * (bar.close - p.entry_price) * p.size * m;
  }
  const double requirement = *rate * exposure;
  const double equity = account_.cash + open_pnl;
  if (!(requirement > 0.0) || !(equity < requirement)) return;
  account_.margin_call = true;
  Event e;
  e.kind = EventKind::MarginCall;
  e.idx = idx;
  e.price = equity;
  e.size = requirement;
  events_.push_back(e);
  if (settings_.liquidate_on_margin_call) {
    while (!positions_.empty()) {
      close_position(0, idx, bar.timestamp, selected, ExitReason::Liquidation);
    }
  }
}

void Kernel::signal_entry(std::uint64_t idx, const Bar& bar, const Intents& intents,
                          double selected) {
  if (terms_.activation_ns && bar.timestamp < *terms_.activation_ns) {
    return refuse_entry(idx, EntryRefusal::Inactive);
  }
  if (account_.margin_call) return refuse_entry(idx, EntryRefusal::MarginCall);
  if (account_.drawdown_halt) return refuse_entry(idx, EntryRefusal::DrawdownHalt);
  // Only a caller that runs several kernels hands over a count; alone, the gate never
  // refuses.
  if (settings_.max_positions && portfolio_open_.value_or(0) >= *settings_.max_positions) {
    return refuse_entry(idx, EntryRefusal::MaxPositions);
  }
  OpenRequest r;
  r.idx = idx;
  r.timestamp = bar.timestamp;
  r.reference = selected;
  r.direction = direction_;
  r.sizing = SizingMode::AllIn;
  r.size_mult = intents.size_mult;
  r.stop_price = intents.stop_price;
  r.target_price = intents.target_price;
  r.atr = intents.atr;
  const OpenOutcome out = open_position(r);
  if (out.refusal) refuse_entry(idx, *out.refusal);
}

void Kernel::refuse_entry(std::uint64_t idx, EntryRefusal reason) {
  ++account_.refused_entries;
  Event e;
  e.kind = EventKind::EntryRejected;
  e.idx = idx;
  e.entry_refusal = reason;
  events_.push_back(e);
}

// ---- opening and closing ---------------------------------------------------------------

OpenOutcome Kernel::open_position(const OpenRequest& r) {
  const double d = as_double(r.direction);
  // 1. Adverse slippage: a long pays more, a short receives less.
  const double p = r.reference + d * settings_.slippage.amount(r.reference);
  // 2-3. Margin rate and available capital.
  const bool margin = account_.type.kind == AccountKind::Margin;
  const double q = margin ? config::initial_margin_rate(ptr(spec_), account_.type.leverage) : 1.0;
  const double m = terms_.multiplier;
  double w = margin ? account_.cash - locked_margin() : account_.cash;
  if (alloted_capital_ && *alloted_capital_ < w) w = *alloted_capital_;
  // 4. Units. The flat fee fraction is the sizing's fee term under any fee model. A
  // signal entry is not checked against the cash afterwards: a multiplier above 1 spends
  // more than is available.
  double u = 0.0;
  switch (r.sizing) {
    case SizingMode::AllIn:
      u = w / ((q + settings_.fees) * m * p);
      if (r.size_mult) u = u * *r.size_mult;
      break;
    case SizingMode::Fraction:
      u = r.amount * w / (p * m * (q + settings_.fees));
      break;
    case SizingMode::Units:
      u = r.amount;
      break;
  }
  // 5-6. Whole lots, then the quantity grid.
  u = config::round_entry_quantity(u, lot_size_.value_or(0.0), terms_.size_increment);
  // 7. Nothing to buy. A size that is not a finite number (a NaN or zero price on the
  // entry bar) is refused the same way instead of poisoning the cash for the whole run.
  if (!(u > 0.0) || !std::isfinite(u)) return {false, EntryRefusal::ZeroSize};
  // 8. Entry costs on the side of the fill.
  const config::LegSide side = r.direction > 0 ? config::LegSide::Buy : config::LegSide::Sell;
  const config::LegCost fee = config::leg_cost(settings_.fee_model, side, p, u, m);
  if (r.sizing == SizingMode::Units) {
    const double required = (margin ? q * u * m * p : u * m * p) + fee.total;
    if (required > w) return {false, EntryRefusal::InsufficientCapital};
  }
  // 9. Stop: explicit, else the model.
  std::optional<double> model_stop;
  switch (models_.stop.kind) {
    case config::StopKind::Fixed:
    case config::StopKind::Trailing:
      model_stop = (1.0 - models_.stop.percent * d) * p;
      break;
    case config::StopKind::Atr:
      if (r.atr > 0.0) model_stop = p - models_.stop.multiplier * d * r.atr;
      break;
    case config::StopKind::None:
      break;
  }
  // 10. Target: explicit, else the model; risk-reward measures from the model's stop.
  std::optional<double> model_target;
  switch (models_.target.kind) {
    case config::TargetKind::Fixed:
      model_target = (1.0 + models_.target.percent * d) * p;
      break;
    case config::TargetKind::Atr:
      if (r.atr > 0.0) model_target = p + models_.target.multiplier * d * r.atr;
      break;
    case config::TargetKind::RiskReward:
      if (model_stop) model_target = p + d * models_.target.ratio * std::fabs(p - *model_stop);
      break;
    case config::TargetKind::None:
      break;
  }
  // 11. Model levels on the contract's price grid (explicit levels are taken as given).
  const double tick = terms_.price_increment;
  std::optional<double> stop = r.stop_price;
  if (!stop && model_stop) stop = config::snap_price(*model_stop, tick, r.direction);
  std::optional<double> target = r.target_price;
  if (!target && model_target) target = config::snap_price(*model_target, tick, r.direction);
  // 12. Netting keeps the position already open.
  if (oms_ == OmsType::Netting && !positions_.empty()) return {false, std::nullopt};
  // 13. Record and pay.
  Position pos;
  pos.id = next_position_id_++;
  pos.direction = r.direction;
  pos.entry_idx = r.idx;
  pos.entry_time = r.timestamp;
  pos.entry_price = p;
  pos.size = u;
  pos.stop = stop;
  pos.target = target;
  pos.highest_high = p;
  pos.lowest_low = p;
  pos.entry_fees = fee.total;
  if (fee.itemised) pos.entry_breakdown = fee.breakdown;
  if (margin) {
    account_.locked.push_back({pos.id, q * u * m * p});
    account_.cash -= fee.total;
  } else {
    account_.cash -= u * m * p + fee.total;
  }
  positions_.push_back(pos);
  // 14. Report.
  Event e;
  e.kind = EventKind::Entered;
  e.idx = r.idx;
  e.price = p;
  e.size = u;
  e.direction = r.direction;
  events_.push_back(e);
  return {true, std::nullopt};
}

void Kernel::close_position(std::size_t index, std::uint64_t idx, std::int64_t timestamp,
                            double reference, ExitReason reason,
                            std::optional<double> exit_fees) {
  Position pos = std::move(positions_[index]);
  positions_.erase(positions_.begin() + static_cast<std::ptrdiff_t>(index));
  const double d = as_double(pos.direction);
  const double m = terms_.multiplier;
  const double e = pos.entry_price;
  const double u = pos.size;
  // 1. Adverse slippage, except where nothing is traded (settlement, end of data).
  const bool traded = reason != ExitReason::Settlement && reason != ExitReason::EndOfData;
  const double y = traded ? reference - d * settings_.slippage.amount(reference) : reference;
  // 2. Exit costs on the closing side.
  double xf = 0.0;
  std::optional<config::CostBreakdown> exit_breakdown;
  if (exit_fees) {
    xf = *exit_fees;
  } else {
    const config::LegSide side = pos.direction > 0 ? config::LegSide::Sell : config::LegSide::Buy;
    const config::LegCost leg = config::leg_cost(settings_.fee_model, side, y, u, m);
    xf = leg.total;
    if (leg.itemised) exit_breakdown = leg.breakdown;
  }
  // 3. Profit net of both legs' costs, and as percent of the entry notional.
  const double pnl = (y - e) * u * d * m - (pos.entry_fees + xf);
  const double notional = e * u * m;
  const double return_pct = notional > 0.0 ? pnl / notional * 100.0 : 0.0;
  // 4. The trade.
  Trade t;
  t.id = next_trade_id_++;
  t.symbol = symbol_;
  t.entry_idx = pos.entry_idx;
  t.exit_idx = idx;
  t.entry_price = e;
  t.exit_price = y;
  t.size = u;
  t.direction = pos.direction;
  t.pnl = pnl;
  t.return_pct = return_pct;
  t.entry_time = pos.entry_time;
  t.exit_time = timestamp;
  t.fees = pos.entry_fees + xf;
  t.entry_fees = pos.entry_fees;
  t.exit_fees = xf;
  t.exit_reason = reason;
  if (pos.entry_breakdown) {
    t.fee_breakdown = exit_breakdown ? *pos.entry_breakdown + *exit_breakdown : *pos.entry_breakdown;
  }
  // 5. Cash: a cash account gets the position's value back (for a long, the exit
  // notional), less exit costs; a margin account releases the margin and books the pnl.
  if (account_.type.kind == AccountKind::Margin) {
    release_margin(pos.id);
    account_.cash += pnl + pos.entry_fees;
  } else {
    account_.cash += u * m * (e + d * (y - e)) - xf;
  }
  // 6. Report and count.
  stats_.add(return_pct / 100.0);
  trades_.push_back(std::move(t));
  Event ev;
  ev.kind = EventKind::Exited;
  ev.idx = idx;
  ev.price = y;
  ev.size = u;
  ev.direction = pos.direction;
  ev.trade = trades_.size() - 1;
  events_.push_back(ev);
}

double Kernel::locked_margin() const {
  double sum = 0.0;
  for (const LockedMargin& l : account_.locked) sum += l.amount;
  return sum;
}

void Kernel::release_margin(std::uint64_t position_id) {
  for (std::size_t k = 0; k < account_.locked.size(); ++k) {
    if (account_.locked[k].position_id == position_id) {
      account_.locked.erase(account_.locked.begin() + static_cast<std::ptrdiff_t>(k));
      return;
    }
  }
}

double Kernel::free_capital() const {
  return account_.type.kind == AccountKind::Margin ? account_.cash - locked_margin()
                                                   : account_.cash;
}

// ---- marking ---------------------------------------------------------------------------

double Kernel::equity_at(double close) const {
  const double m = terms_.multiplier;
  double value = 0.0;
  if (account_.type.kind == AccountKind::Cash) {
    for (const Position& p : positions_) {
      value += p.size * m * (p.entry_price + as_double(p.direction) * (close - p.entry_price));
    }
  } else {
    for (const Position& p : positions_) {
      value += as_double(p.direction) * (close - p.entry_price) * p.size * m;
    }
  }
  return account_.cash + value;
}

void Kernel::latch_drawdown(double peak, double drawdown) {
  // Entries are refused from the next step on; open positions keep being managed.
  if (peak > 0.0 && !account_.drawdown_halt && settings_.max_drawdown_pct &&
      drawdown >= *settings_.max_drawdown_pct) {
    account_.drawdown_halt = true;
  }
}

Kernel::Marks Kernel::mark_bar(const Bar& bar) {
  Marks out;
  out.equity = equity_at(bar.close);
  peak_ = peak_ < out.equity ? out.equity : peak_;
  out.drawdown = (peak_ - out.equity) / peak_ * 100.0;
  latch_drawdown(peak_, out.drawdown);
  out.ret = 0.0;
  if (marked_ && last_equity_ != 0.0) out.ret = (out.equity - last_equity_) / last_equity_;
  last_equity_ = out.equity;
  marked_ = true;
  return out;
}

void Kernel::step(std::uint64_t idx, const Bar& bar, const Intents& intents) {
  step_bar(idx, bar, intents);
}

void Kernel::mark(std::uint64_t idx, const Bar& bar) {
  const Marks marks = mark_bar(bar);
  equity_.push_back(marks.equity);
  drawdown_.push_back(marks.drawdown);
  returns_.push_back(marks.ret);
  if (record_timestamps_) timestamps_.push_back(bar.timestamp);
  figures_.add(marks.drawdown, marks.ret);
  last_idx_ = idx;
  last_bar_ = bar;
}

void Kernel::run(const BarArrays& b, const IntentArrays& in) {
  if (b.size == 0) return;
  const std::size_t n = b.size;
  // The series grow by exactly one value per bar: size them once and write in place.
  const std::size_t start = equity_.size();
  equity_.resize(start + n);
  drawdown_.resize(start + n);
  returns_.resize(start + n);
  if (record_timestamps_) timestamps_.resize(start + n);
  double* __restrict eq = equity_.data() + start;
  double* __restrict dd = drawdown_.data() + start;
  double* __restrict rt = returns_.data() + start;
  const bool armed = settings_.max_drawdown_pct.has_value();
  double peak = peak_;     // of the steps' pass (used only when the kill-switch is armed)
  double mark_peak = peak_;  // of the marking pass
  double last = last_equity_;
  bool marked = marked_;
  metrics::SeriesFigures figures = figures_;
  // Two passes per block of bars: first the bar steps and each bar's equity, then the
  // drawdown and return marks from those equities, exactly as mark() computes them. Apart
  // from the steps' long dependency chains the marks' divisions pipeline, which makes two
  // passes much faster than one; blocks keep the equities in the first-level cache.
  constexpr std::size_t kBlock = 1024;
  for (std::size_t lo = 0; lo < n; lo += kBlock) {
    const std::size_t hi = n - lo < kBlock ? n : lo + kBlock;
    for (std::size_t i = lo; i < hi; ++i) {
      const Bar bar{b.timestamp[i], b.open[i], b.high[i], b.low[i], b.close[i],
                    b.volume != nullptr ? b.volume[i] : kNoVolume};
      Intents intents;
      intents.entry = in.entries[i] != 0;
      intents.exit = in.exits[i] != 0;
      if (in.size_mult != nullptr) intents.size_mult = in.size_mult[i];
      if (in.atr != nullptr) intents.atr = in.atr[i];
      step_bar(i, bar, intents);
      const double equity = equity_at(bar.close);
      eq[i] = equity;
      // The kill-switch must latch on the very bar the marking would.
      if (armed) {
        peak = peak < equity ? equity : peak;
        latch_drawdown(peak, (peak - equity) / peak * 100.0);
      }
    }
    for (std::size_t i = lo; i < hi; ++i) {
      const double equity = eq[i];
      mark_peak = mark_peak < equity ? equity : mark_peak;  // a select: new peaks come at random
      const double drawdown = (mark_peak - equity) / mark_peak * 100.0;
      double r = 0.0;
      if (marked && last != 0.0) r = (equity - last) / last;
      last = equity;
      marked = true;
      dd[i] = drawdown;
      rt[i] = r;
      figures.add(drawdown, r);
    }
  }
  peak_ = mark_peak;
  last_equity_ = last;
  marked_ = marked;
  figures_ = figures;
  if (record_timestamps_) {
    std::copy(b.timestamp, b.timestamp + n, timestamps_.begin() + static_cast<std::ptrdiff_t>(start));
  }
  const std::size_t k = n - 1;
  last_idx_ = k;
  last_bar_ = Bar{b.timestamp[k], b.open[k], b.high[k], b.low[k], b.close[k],
                  b.volume != nullptr ? b.volume[k] : kNoVolume};
}

// ---- end of data -----------------------------------------------------------------------

metrics::BacktestResult Kernel::finish() {
  common::Buffer<std::int64_t> recorded = std::move(timestamps_);
  return finish(recorded);
}

metrics::BacktestResult Kernel::finish(std::span<const std::int64_t> timestamps) {
  finished_ = true;
  if (marked_) {
    // The series are not marked again: the last equity point does not include these.
    while (!positions_.empty()) {
      close_position(0, last_idx_, last_bar_.timestamp, last_bar_.close, ExitReason::EndOfData,
                     0.0);
    }
  }
  metrics::MetricsSettings ms;
  ms.initial_capital = settings_.initial_capital;
  ms.periods_per_year = settings_.periods_per_year;
  ms.risk_free_rate = settings_.risk_free_rate;
  ms.session_minutes = settings_.session_minutes;
  ms.legacy_annualization = settings_.legacy_annualization;
  metrics::BacktestResult out;
  out.metrics = metrics::compute(equity_, drawdown_, returns_, trades_, timestamps, ms, figures_);
  out.equity = std::move(equity_);
  out.drawdown = std::move(drawdown_);
  out.returns = std::move(returns_);
  out.trades = std::move(trades_);
  return out;
}

// ---- requests --------------------------------------------------------------------------

Position* Kernel::find_position(std::optional<std::uint64_t> position_id, bool& known) {
  known = true;
  if (!position_id) return positions_.empty() ? nullptr : &positions_.front();
  for (Position& p : positions_) {
    if (p.id == *position_id) return &p;
  }
  known = false;
  return nullptr;
}

bool Kernel::set_stop(std::optional<std::uint64_t> position_id, std::optional<double> price) {
  bool known = false;
  if (Position* p = find_position(position_id, known)) p->stop = price;
  return known;
}

bool Kernel::set_target(std::optional<std::uint64_t> position_id, std::optional<double> price) {
  bool known = false;
  if (Position* p = find_position(position_id, known)) p->target = price;
  return known;
}

}  // namespace quillon::core
