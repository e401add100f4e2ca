// Typed orders in the kernel: submission checks, the session's operations on orders (cancel,
// modify, one-cancels-other groups), the two order passes of the bar step, fill admission
// with the random fill model, and the TWAP schedules that feed market orders into the
// second pass. Every price rule keeps the operation order written in its comment; the
// tests recompute fills in plain Python and compare bit for bit.
#include <array>
#include <cstddef>
#include <cmath>
#include <utility>

#include "core/kernel.hpp"
#include "core/session.hpp"

namespace quillon::core {
namespace {

// The one table of each enumeration's caller text.
constexpr std::array<std::string_view, 9> kKindNames{
    "market",           "limit",           "stop_market",
    "stop_limit",       "market_if_touched", "limit_if_touched",
    "market_to_limit",  "trailing_stop_market", "trailing_stop_limit",
};
constexpr std::array<std::string_view, 7> kTifNames{"gtc", "day", "gtd", "ioc",
                                                    "fok", "at_open", "at_close"};

template <class E, std::size_t N>
std::optional<E> lookup(const std::array<std::string_view, N>& names, std::string_view text) {
  for (std::size_t i = 0; i < N; ++i)
    if (names[i] == text) return static_cast<E>(i);
  return std::nullopt;
}

bool is_trailing(OrderKind k) {
  return k == OrderKind::TrailingStopMarket || k == OrderKind::TrailingStopLimit;
}

// A market order that waits for the step of its own submitted index (the second pass).
bool fills_on_its_bar(const Order& o) {
  return o.kind == OrderKind::Market && !o.parent_id && o.tif != TimeInForce::AtOpen &&
         o.tif != TimeInForce::AtClose;
}

}  // namespace

std::optional<OrderSide> parse_side(std::string_view text) {
  if (text == "buy") return OrderSide::Buy;
  if (text == "sell") return OrderSide::Sell;
  return std::nullopt;
}

std::string_view kind_name(OrderKind kind) { return kKindNames[static_cast<std::size_t>(kind)]; }

Result<Order> validate_order(OrderRequest r, double price_increment) {
  Order o;
  // 1. Side.
  const auto side = parse_side(r.side);
  if (!side) return common::Err{Error::unknown_side(r.side)};
  o.side = *side;
  // 2. Quantity. Written as "not inside" so that NaN is refused with the others.
  if (r.units && r.size_frac) return common::Err{Error::units_and_fraction()};
  if (r.units) {
    if (!(*r.units > 0.0)) return common::Err{Error::non_positive_units()};
    o.quantity_mode = QuantityMode::Units;
    o.amount = *r.units;
  } else if (r.size_frac) {
    if (!(*r.size_frac > 0.0 && *r.size_frac <= 1.0)) {
      return common::Err{Error::fraction_out_of_range()};
    }
    o.quantity_mode = QuantityMode::Fraction;
    o.amount = *r.size_frac;
  } else {
    o.quantity_mode = QuantityMode::CloseFull;
  }
  // 3. Kind and its prices (trigger before limit where both are needed).
  const auto kind = lookup<OrderKind>(kKindNames, r.kind);
  if (!kind) return common::Err{Error::unknown_kind(r.kind)};
  o.kind = *kind;
  const std::string_view name = kind_name(o.kind);
  switch (o.kind) {
    case OrderKind::Limit:
      if (!r.limit_price) return common::Err{Error::needs_limit_price(name)};
      break;
    case OrderKind::StopMarket:
    case OrderKind::MarketIfTouched:
      if (!r.trigger_price) return common::Err{Error::needs_trigger_price(name)};
      break;
    case OrderKind::StopLimit:
    case OrderKind::LimitIfTouched:
      if (!r.trigger_price) return common::Err{Error::needs_trigger_price(name)};
      if (!r.limit_price) return common::Err{Error::needs_limit_price(name)};
      break;
    default:
      break;
  }
  o.limit_price = r.limit_price.value_or(0.0);
  o.trigger_price = r.trigger_price.value_or(0.0);
  // 4. Trailing offset; ticks become a price distance on the contract's grid.
  if (is_trailing(o.kind)) {
    if (!r.offset) return common::Err{Error::needs_offset(name)};
    if (!(*r.offset > 0.0)) return common::Err{Error::non_positive_offset()};
    o.offset = *r.offset;
    if (r.offset_kind == "price") {
      o.offset_kind = OffsetKind::Price;
    } else if (r.offset_kind == "bps") {
      o.offset_kind = OffsetKind::Bps;
    } else if (r.offset_kind == "ticks") {
      if (!(price_increment > 0.0)) return common::Err{Error::ticks_without_increment()};
      o.offset_kind = OffsetKind::Price;
      o.offset = *r.offset * price_increment;
    } else {
      return common::Err{Error::unknown_offset_kind(r.offset_kind)};
    }
    o.limit_offset = r.limit_offset;
  }
  // 5. Time in force.
  const auto tif = lookup<TimeInForce>(kTifNames, r.tif);
  if (!tif) return common::Err{Error::unknown_tif(r.tif)};
  o.tif = *tif;
  if (o.tif == TimeInForce::Gtd) {
    if (!r.expire_ns) return common::Err{Error::gtd_without_expiry()};
    o.expire_ns = r.expire_ns;
  }
  if ((o.tif == TimeInForce::AtOpen || o.tif == TimeInForce::AtClose) &&
      o.kind != OrderKind::Market) {
    return common::Err{Error::session_tif_not_market()};
  }
  // 6. Post-only.
  if (r.post_only && o.kind != OrderKind::Limit) return common::Err{Error::post_only_not_limit()};
  o.client_id = std::move(r.client_id);
  o.stop_price = r.stop_price;
  o.target_price = r.target_price;
  o.post_only = r.post_only;
  o.reduce_only = r.reduce_only;
  o.parent_id = r.parent_id;
  o.submitted_idx = r.submitted_idx;
  o.submitted_ns = r.submitted_ts;
  return o;
}

// ---- operations between steps ----------------------------------------------------------

Result<std::uint64_t> Kernel::submit_order(const OrderRequest& request) {
  auto checked = validate_order(request, terms_.price_increment);
  if (!checked.ok()) return common::Err{std::move(checked).error()};
  Order o = std::move(checked).value();
  o.id = next_order_id_++;
  if (o.parent_id) {
    // A child waits, silently, for its parent to fill. A parent that has already filled
    // releases it at once, as its fill would have.
    const Order* parent = find_order(*o.parent_id);
    o.state = parent != nullptr && parent->state == OrderState::Filled ? OrderState::Working
                                                                        : OrderState::Pending;
  } else {
    // A plain market order waits for the step of its submitted index; the rest work now.
    o.state = fills_on_its_bar(o) ? OrderState::Pending : OrderState::Working;
  }
  const std::uint64_t id = o.id;
  const std::uint64_t idx = o.submitted_idx;
  const bool accepted = o.state == OrderState::Working;
  orders_.push_back(std::move(o));
  if (accepted) {
    Event e;
    e.kind = EventKind::OrderAccepted;
    e.idx = idx;
    e.order_id = id;
    pending_events_.push_back(e);
  }
  return id;
}

bool Kernel::cancel_order(std::uint64_t idx, std::uint64_t order_id) {
  if (order_id >= orders_.size() || is_terminal(orders_[order_id].state)) return false;
  orders_[order_id].state = OrderState::Canceled;
  Event e;
  e.kind = EventKind::OrderCanceled;
  e.idx = idx;
  e.order_id = order_id;
  pending_events_.push_back(e);
  return true;
}

std::vector<std::uint64_t> Kernel::cancel_all_orders(std::uint64_t idx) {
  std::vector<std::uint64_t> ids;
  for (std::size_t k = live_from_; k < orders_.size(); ++k) {
    if (!is_terminal(orders_[k].state)) ids.push_back(orders_[k].id);
  }
  for (const std::uint64_t id : ids) (void)cancel_order(idx, id);
  return ids;
}

bool Kernel::modify_order(std::uint64_t order_id, const OrderChange& c) {
  if (order_id >= orders_.size()) return false;
  Order& o = orders_[order_id];
  if (is_terminal(o.state)) return false;
  // Decide first, then write: a refused modification leaves the order untouched.
  switch (o.kind) {
    case OrderKind::Limit:
      if (c.trigger_price) return false;
      break;
    case OrderKind::StopMarket:
    case OrderKind::MarketIfTouched:
      if (c.limit_price) return false;
      break;
    case OrderKind::StopLimit:
    case OrderKind::LimitIfTouched:
      if (c.trigger_price && o.state == OrderState::Triggered) return false;
      break;
    default:
      return false;
  }
  if (c.limit_price) o.limit_price = *c.limit_price;
  if (c.trigger_price) o.trigger_price = *c.trigger_price;
  if (c.units) {
    o.quantity_mode = QuantityMode::Units;
    o.amount = *c.units;
  } else if (c.size_frac) {
    o.quantity_mode = QuantityMode::Fraction;
    o.amount = *c.size_frac;
  }
  return true;
}

void Kernel::link_oco(std::span<const std::uint64_t> order_ids) {
  if (order_ids.empty()) return;
  std::uint64_t group = order_ids[0];
  for (const std::uint64_t id : order_ids) group = id < group ? id : group;
  for (const std::uint64_t id : order_ids) {
    if (id < orders_.size()) orders_[id].oco_group = group;
  }
}

std::vector<std::uint64_t> Kernel::open_order_ids() const {
  std::vector<std::uint64_t> ids;
  for (std::size_t k = live_from_; k < orders_.size(); ++k) {
    if (!is_terminal(orders_[k].state)) ids.push_back(orders_[k].id);
  }
  return ids;
}

// ---- the working-order pass (B6) -------------------------------------------------------

void Kernel::evaluate_working_orders(std::uint64_t idx, const Bar& bar, const Intents& intents) {
  while (live_from_ < orders_.size() && is_terminal(orders_[live_from_].state)) ++live_from_;
  const std::int64_t today = local_day(bar.timestamp, settings_.session_tz_offset_ns);
  const double ls = settings_.limit_slippage;
  const double O = bar.open, H = bar.high, L = bar.low, C = bar.close;
  actions_.clear();
  for (std::size_t k = live_from_; k < orders_.size(); ++k) {
    Order& o = orders_[k];
    // 1. Orders take part from the bar after their submitted index.
    if (is_terminal(o.state) || o.submitted_idx >= idx) continue;
    // 2. A child works only once its parent has filled, and ends with a parent that ended
    // otherwise.
    if (o.parent_id) {
      const Order* parent = find_order(*o.parent_id);
      if (parent == nullptr) continue;
      const OrderState ps = parent->state;
      if (ps == OrderState::Canceled || ps == OrderState::Expired || ps == OrderState::Rejected) {
        actions_.push_back({ActionKind::Cancel, k, 0.0, OrderRefusal::Unfillable});
        continue;
      }
      if (ps != OrderState::Filled) continue;
    }
    // 3. Time in force: a day order lives through its local trading date.
    const bool expired =
        (o.tif == TimeInForce::Day &&
         local_day(o.submitted_ns, settings_.session_tz_offset_ns) < today) ||
        (o.tif == TimeInForce::Gtd && bar.timestamp >= *o.expire_ns);
    if (expired) {
      actions_.push_back({ActionKind::Expire, k, 0.0, OrderRefusal::Unfillable});
      continue;
    }
    // 4. By kind. A limit fill at P is P × (1 + ls) for a buy, P × (1 − ls) for a sell, and
    // a gap beyond P never improves it; a stop fill gaps to the open.
    const bool buy = o.side == OrderSide::Buy;
    const auto limit_fill = [&](double p) { return buy ? p * (1.0 + ls) : p * (1.0 - ls); };
    const auto limit_reached = [&](double p) { return buy ? L <= p : H >= p; };
    std::optional<OrderAction> found;
    const auto fill = [&](double price) {
      found = OrderAction{ActionKind::Fill, k, price, OrderRefusal::Unfillable};
    };
    const auto trigger = [&](double limit) {
      found = OrderAction{ActionKind::Trigger, k, limit, OrderRefusal::Unfillable};
    };
    switch (o.kind) {
      case OrderKind::Limit: {
        const double p = o.limit_price;
        if (o.post_only && idx == o.submitted_idx + 1 && (buy ? p >= O : p <= O)) {
          found = OrderAction{ActionKind::Reject, k, 0.0, OrderRefusal::PostOnly};
        } else if (limit_reached(p)) {
          fill(limit_fill(p));
        }
        break;
      }
      case OrderKind::StopMarket: {
        const double t = o.trigger_price;
        if (buy ? H >= t : L <= t) fill(buy ? (O > t ? O : t) : (O < t ? O : t));
        break;
      }
      case OrderKind::StopLimit:
      case OrderKind::LimitIfTouched: {
        if (o.state == OrderState::Triggered) {
          if (limit_reached(o.limit_price)) fill(limit_fill(o.limit_price));
        } else {
          const double t = o.trigger_price;
          // A stop-limit triggers through the trigger, an if-touched one on touching it
          // from the other side.
          const bool hit = o.kind == OrderKind::StopLimit ? (buy ? H >= t : L <= t)
                                                           : (buy ? L <= t : H >= t);
          if (hit) trigger(o.limit_price);
        }
        break;
      }
      case OrderKind::MarketIfTouched:
        if (limit_reached(o.trigger_price)) fill(limit_fill(o.trigger_price));
        break;
      case OrderKind::MarketToLimit:
        fill(O);
        break;
      case OrderKind::TrailingStopMarket:
      case OrderKind::TrailingStopLimit: {
        if (o.kind == OrderKind::TrailingStopLimit && o.state == OrderState::Triggered) {
          if (limit_reached(o.triggered_limit)) fill(limit_fill(o.triggered_limit));
          break;
        }
        // The reference follows the favourable extreme, updated before the test. A NaN
        // reference (a NaN first bar) is replaced by the next real extreme instead of
        // freezing the order for good.
        if (!o.has_reference || std::isnan(o.reference)) {
          o.reference = buy ? L : H;
          o.has_reference = true;
        }
        if (buy) {
          o.reference = L < o.reference ? L : o.reference;
        } else {
          o.reference = H > o.reference ? H : o.reference;
        }
        const double distance =
            o.offset_kind == OffsetKind::Bps ? o.offset * o.reference / 10000.0 : o.offset;
        const double stop = buy ? o.reference + distance : o.reference - distance;
        if (!(buy ? H >= stop : L <= stop)) break;
        if (o.kind == OrderKind::TrailingStopMarket) {
          fill(buy ? (O > stop ? O : stop) : (O < stop ? O : stop));
        } else {
          trigger(buy ? stop + o.limit_offset : stop - o.limit_offset);
        }
        break;
      }
      case OrderKind::Market:
        // Opening and closing auction orders fill on their first evaluated bar; a child
        // released by its parent's fill fills at the open. Plain market orders belong to
        // the pass of their own bar.
        if (o.tif == TimeInForce::AtOpen) {
          fill(O);
        } else if (o.tif == TimeInForce::AtClose) {
          fill(C);
        } else if (o.parent_id) {
          fill(O);
        }
        break;
    }
    // 5. Immediate-or-cancel orders that found nothing on their bar end here.
    if (!found && (o.tif == TimeInForce::Ioc || o.tif == TimeInForce::Fok)) {
      found = OrderAction{ActionKind::Cancel, k, 0.0, OrderRefusal::Unfillable};
    }
    if (found) actions_.push_back(*found);
  }
  // Carried out after the pass, in the order found. An order that an earlier action ended
  // (a one-cancels-other sibling of a fill) is left as it is.
  for (std::size_t a = 0; a < actions_.size(); ++a) {
    const OrderAction act = actions_[a];
    Order& o = orders_[act.order];
    if (is_terminal(o.state)) continue;
    switch (act.kind) {
      case ActionKind::Fill:
        if (!admit_fill(act.order, idx, bar, act.price, intents) && !is_terminal(o.state) &&
            (o.tif == TimeInForce::Ioc || o.tif == TimeInForce::Fok)) {
          // The fill model said "not now": an immediate-or-cancel order has no later bar.
          o.state = OrderState::Canceled;
          order_event(EventKind::OrderCanceled, idx, o.id);
        }
        break;
      case ActionKind::Trigger:
        o.state = OrderState::Triggered;
        if (o.kind == OrderKind::TrailingStopLimit) {
          o.triggered_limit_set = true;
          o.triggered_limit = act.price;
        }
        order_event(EventKind::OrderTriggered, idx, o.id);
        break;
      case ActionKind::Expire:
        // A pending order expires too: left pending it would expire again on every bar.
        o.state = OrderState::Expired;
        order_event(EventKind::OrderExpired, idx, o.id);
        break;
      case ActionKind::Cancel:
        o.state = OrderState::Canceled;
        order_event(EventKind::OrderCanceled, idx, o.id);
        break;
      case ActionKind::Reject:
        reject_order(act.order, idx, act.refusal);
        break;
    }
  }
}

// ---- the current bar's market orders (B8) ----------------------------------------------

void Kernel::fill_orders_for_bar(std::uint64_t idx, const Bar& bar, double selected,
                                 const Intents& intents) {
  for (std::size_t k = live_from_; k < orders_.size(); ++k) {
    Order& o = orders_[k];
    if (is_terminal(o.state) || o.submitted_idx != idx || !fills_on_its_bar(o)) continue;
    if (o.state == OrderState::Pending) {
      o.state = OrderState::Working;
      order_event(EventKind::OrderAccepted, idx, o.id);
    }
    (void)admit_fill(k, idx, bar, selected, intents);
  }
}

// ---- fill admission --------------------------------------------------------------------

double Kernel::draw() {
  // SplitMix64: the state advances by the golden-ratio increment (wrapping), the output is
  // the mixed state; its top 53 bits make a uniform double in [0, 1).
  rng_state_ += 0x9E3779B97F4A7C15ULL;
  std::uint64_t z = rng_state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z = z ^ (z >> 31);
  return static_cast<double>(z >> 11) * 0x1.0p-53;
}

bool Kernel::admit_fill(std::size_t k, std::uint64_t idx, const Bar& bar, double price,
                        const Intents& intents) {
  Order& o = orders_[k];
  const bool buy = o.side == OrderSide::Buy;
  // 1. The random model. Resting limits (and a stop-limit resting after its trigger) may
  // not fill although marketable; every other fill may slip one tick. Trade-print steps of
  // a caller with a depth book would ask the queue-position model here instead of the
  // probability; bar steps always use the probability.
  const bool resting_limit = o.kind == OrderKind::Limit ||
                             (o.kind == OrderKind::StopLimit && o.state == OrderState::Triggered);
  if (resting_limit) {
    if (settings_.fill_prob_limit < 1.0 && !(draw() < settings_.fill_prob_limit)) return false;
  } else if (settings_.fill_prob_slippage > 0.0) {
    if (draw() < settings_.fill_prob_slippage && terms_.price_increment > 0.0) {
      price = buy ? price + terms_.price_increment : price - terms_.price_increment;
    }
  }
  const std::int8_t direction = buy ? 1 : -1;
  const auto refuse = [&](OrderRefusal reason) {
    reject_order(k, idx, reason);
    return false;
  };
  // A price that is not a number (a NaN bar) can neither open nor close anything: taken,
  // it would poison the cash for the rest of the run.
  const bool priced = std::isfinite(price);
  if (positions_.empty() || oms_ == OmsType::Hedging) {
    // 2. Opening fill.
    if (o.reduce_only) return refuse(OrderRefusal::ReduceOnly);
    if (account_.margin_call) return refuse(OrderRefusal::MarginCall);
    if (account_.drawdown_halt) return refuse(OrderRefusal::DrawdownHalt);
    if (settings_.max_positions &&
        portfolio_open_.value_or(positions_.size()) >= *settings_.max_positions) {
      return refuse(OrderRefusal::MaxPositions);
    }
    if (o.quantity_mode == QuantityMode::CloseFull) {
      return refuse(OrderRefusal::InvalidQty);
    }
    if (!priced) return refuse(OrderRefusal::Unfillable);
    OpenRequest r;
    r.idx = idx;
    r.timestamp = bar.timestamp;
    r.reference = price;
    r.direction = direction;
    r.sizing = o.quantity_mode == QuantityMode::Units ? SizingMode::Units : SizingMode::Fraction;
    r.amount = o.amount;
    r.stop_price = o.stop_price;
    r.target_price = o.target_price;
    r.atr = intents.atr;
    const std::size_t at = events_.size();
    const OpenOutcome out = open_position(r);
    if (!out.opened) {
      return refuse(out.refusal ? order_refusal(*out.refusal)
                                              : OrderRefusal::Unfillable);
    }
    // "order_filled" goes before the position's "entered".
    Event e;
    e.kind = EventKind::OrderFilled;
    e.idx = idx;
    e.price = price;
    e.size = positions_.back().size;
    e.order_id = o.id;
    events_.insert(events_.begin() + static_cast<std::ptrdiff_t>(at), e);
  } else {
    // 3. Closing fill (netting, one position). Only the opposite side reduces a position:
    // a reduce-only order of the position's own side cannot, and is refused as such.
    const Position& p = positions_.front();
    if (p.direction == direction) {
      return refuse(o.reduce_only ? OrderRefusal::ReduceOnly
                                                : OrderRefusal::PositionOpen);
    }
    if (!priced) return refuse(OrderRefusal::Unfillable);
    Event e;
    e.kind = EventKind::OrderFilled;
    e.idx = idx;
    e.price = price;
    e.size = p.size;
    e.order_id = o.id;
    events_.push_back(e);
    close_position(0, idx, bar.timestamp, price, ExitReason::Order);
  }
  orders_[k].state = OrderState::Filled;
  after_fill(k, idx);
  return true;
}

void Kernel::after_fill(std::size_t k, std::uint64_t idx) {
  const std::uint64_t id = orders_[k].id;
  const std::optional<std::uint64_t> group = orders_[k].oco_group;
  // 5. Pending children start working; the rest of the group is canceled.
  for (std::size_t j = live_from_; j < orders_.size(); ++j) {
    Order& c = orders_[j];
    if (c.state == OrderState::Pending && c.parent_id == id) {
      c.state = OrderState::Working;
      order_event(EventKind::OrderAccepted, idx, c.id);
    }
  }
  if (!group) return;
  for (std::size_t j = live_from_; j < orders_.size(); ++j) {
    Order& s = orders_[j];
    if (j != k && s.oco_group == group && !is_terminal(s.state)) {
      s.state = OrderState::Canceled;
      order_event(EventKind::OrderCanceled, idx, s.id);
    }
  }
}

void Kernel::reject_order(std::size_t k, std::uint64_t idx, OrderRefusal reason) {
  Order& o = orders_[k];
  if (is_terminal(o.state)) return;
  o.state = OrderState::Rejected;
  Event e;
  e.kind = EventKind::OrderRejected;
  e.idx = idx;
  e.order_id = o.id;
  e.order_refusal = reason;
  events_.push_back(e);
}

void Kernel::order_event(EventKind kind, std::uint64_t idx, std::uint64_t order_id) {
  Event e;
  e.kind = kind;
  e.idx = idx;
  e.order_id = order_id;
  events_.push_back(e);
}

// ---- TWAP schedules --------------------------------------------------------------------

Result<std::uint64_t> Kernel::submit_twap(double units, OrderSide side, std::uint32_t slices,
                                          std::int64_t interval_ns, std::uint64_t submitted_idx,
                                          std::int64_t submitted_ts, std::string client_id,
                                          bool reduce_only) {
  if (slices < 1) return common::Err{Error::twap_slices()};
  if (interval_ns <= 0) return common::Err{Error::twap_interval()};
  if (!std::isfinite(units) || !(units > 0.0)) return common::Err{Error::twap_units()};
  execution::TwapSchedule s;
  s.id = algo_client_ids_.size();
  s.client_id = client_id;
  s.units = units;
  s.interval_ns = interval_ns;
  s.slices = slices;
  s.next_due = submitted_ts;
  s.sell = side == OrderSide::Sell;
  s.reduce_only = reduce_only;
  algo_client_ids_.push_back(std::move(client_id));
  schedules_.push_back(std::move(s));
  Event e;
  e.kind = EventKind::AlgoStarted;
  e.idx = submitted_idx;
  e.order_id = schedules_.back().id;
  pending_events_.push_back(e);
  return schedules_.back().id;
}

bool Kernel::cancel_twap(std::uint64_t algo_id, std::uint64_t idx) {
  execution::TwapSchedule* found = nullptr;
  for (execution::TwapSchedule& s : schedules_) {
    if (s.id == algo_id) found = &s;
  }
  if (found == nullptr || !found->active) return false;
  found->active = false;
  for (std::size_t k = live_from_; k < orders_.size(); ++k) {
    if (orders_[k].algo_id == algo_id) (void)cancel_order(idx, orders_[k].id);
  }
  return true;
}

const std::string& Kernel::algo_client_id(std::uint64_t algo_id) const {
  static const std::string none;
  return algo_id < algo_client_ids_.size() ? algo_client_ids_[algo_id] : none;
}

void Kernel::slice_schedules(std::uint64_t idx, const Bar& bar) {
  bool any_ended = false;
  for (execution::TwapSchedule& s : schedules_) {
    if (s.due(bar.timestamp)) {
      const std::uint32_t k = s.done;
      // The next slice is measured from the bar that took this one, not from the due time.
      s.next_due = bar.timestamp + s.interval_ns;
      s.done = k + 1;
      Order o;
      o.id = next_order_id_++;
      o.client_id = common::fill("{}#{}", s.client_id, k);
      o.side = s.sell ? OrderSide::Sell : OrderSide::Buy;
      o.kind = OrderKind::Market;
      o.tif = TimeInForce::Gtc;
      o.quantity_mode = QuantityMode::Units;
      o.amount = execution::twap_slice_quantity(s.units, s.slices, k);
      o.reduce_only = s.reduce_only;
      o.submitted_idx = idx;
      o.submitted_ns = bar.timestamp;
      o.algo_id = s.id;
      o.state = OrderState::Pending;  // filled by this bar's market-order pass
      orders_.push_back(std::move(o));
    }
    any_ended = any_ended || s.finished() || !s.active;
  }
  if (!any_ended) return;
  // Completed and stopped schedules leave the list, each with one "algo_completed", in
  // list order, before the slice just taken has filled.
  std::size_t keep = 0;
  for (std::size_t j = 0; j < schedules_.size(); ++j) {
    execution::TwapSchedule& s = schedules_[j];
    if (s.finished() || !s.active) {
      Event e;
      e.kind = EventKind::AlgoCompleted;
      e.idx = idx;
      e.order_id = s.id;
      events_.push_back(e);
    } else {
      if (keep != j) schedules_[keep] = std::move(s);
      ++keep;
    }
  }
  schedules_.resize(keep);
}

}  // namespace quillon::core
