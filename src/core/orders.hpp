// The typed-order record, its vocabulary and the submission checks. Orders live in the
// kernel in submission order and are never removed; the kernel evaluates working ones in
// its bar step (the pass after the margin check) and fills the market orders submitted for
// the current bar (the pass after the signal entry). The enumeration texts callers pass
// ("buy", "stop_limit", "gtc", ...) are spelled once, in orders.cpp. Plain values; no
// Python.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/errors.hpp"

namespace quillon::core {

enum class OrderSide : std::uint8_t { Buy, Sell };

enum class OrderKind : std::uint8_t {
  Market,
  Limit,
  StopMarket,
  StopLimit,
  MarketIfTouched,
  LimitIfTouched,
  MarketToLimit,
  TrailingStopMarket,
  TrailingStopLimit,
};

enum class TimeInForce : std::uint8_t { Gtc, Day, Gtd, Ioc, Fok, AtOpen, AtClose };

// Pending, Working and Triggered are the non-terminal states.
enum class OrderState : std::uint8_t { Pending, Working, Triggered, Filled, Canceled, Expired, Rejected };

constexpr bool is_terminal(OrderState s) {
  return s != OrderState::Pending && s != OrderState::Working && s != OrderState::Triggered;
}

// Units with an amount, a fraction of the available capital, or close the whole position.
enum class QuantityMode : std::uint8_t { Units, Fraction, CloseFull };

// A trailing offset is a price distance or basis points of the reference; an offset given
// in ticks is turned into a price distance at submission.
enum class OffsetKind : std::uint8_t { Price, Bps };

struct Order {
  std::uint64_t id = 0;  // per-kernel counter in submission order
  std::string client_id;
  OrderSide side = OrderSide::Buy;
  OrderKind kind = OrderKind::Market;
  double limit_price = 0.0;    // Limit, StopLimit, LimitIfTouched
  double trigger_price = 0.0;  // StopMarket, StopLimit, MarketIfTouched, LimitIfTouched
  double offset = 0.0;         // trailing kinds
  OffsetKind offset_kind = OffsetKind::Price;
  double limit_offset = 0.0;  // TrailingStopLimit
  TimeInForce tif = TimeInForce::Gtc;
  std::optional<std::int64_t> expire_ns;  // Gtd
  QuantityMode quantity_mode = QuantityMode::CloseFull;
  double amount = 0.0;  // units, or the fraction
  std::optional<double> stop_price;    // levels of the position this order opens
  std::optional<double> target_price;
  bool post_only = false;
  bool reduce_only = false;
  std::optional<std::uint64_t> parent_id;
  std::optional<std::uint64_t> oco_group;
  std::uint64_t submitted_idx = 0;
  std::int64_t submitted_ns = 0;
  bool has_reference = false;  // trailing state
  double reference = 0.0;
  bool triggered_limit_set = false;  // trailing-stop-limit after its trigger
  double triggered_limit = 0.0;
  std::optional<std::uint64_t> algo_id;
  OrderState state = OrderState::Pending;
};

// An order as a session hands it over: the enumerations still as the caller's text, in
// the parameter order of the Python signature. validate_order checks it.
struct OrderRequest {
  std::string_view side;
  std::string_view kind;
  std::uint64_t submitted_idx = 0;
  std::int64_t submitted_ts = 0;
  std::string client_id;
  std::optional<double> units;
  std::optional<double> size_frac;
  std::optional<double> limit_price;
  std::optional<double> trigger_price;
  std::string_view tif = "gtc";
  std::optional<std::int64_t> expire_ns;
  std::optional<double> stop_price;
  std::optional<double> target_price;
  std::optional<double> offset;
  std::string_view offset_kind = "price";
  double limit_offset = 0.0;
  bool post_only = false;
  bool reduce_only = false;
  std::optional<std::uint64_t> parent_id;
};

// The submission checks, in their fixed order; the first failure is returned and no order
// is made. On success the record is complete except for its id and state. An offset in
// ticks becomes a price distance here, so `price_increment` is the installed contract's
// (0 without one).
Result<Order> validate_order(OrderRequest request, double price_increment);

// The replacement fields of modify_order; absent ones stay as they are.
struct OrderChange {
  std::optional<double> units;
  std::optional<double> size_frac;
  std::optional<double> limit_price;
  std::optional<double> trigger_price;
};

// "buy" / "sell" exactly, for the TWAP registration (which words its refusal itself).
std::optional<OrderSide> parse_side(std::string_view text);
// "limit", "stop_market", ...: the kind's name as messages print it.
std::string_view kind_name(OrderKind kind);

}  // namespace quillon::core
