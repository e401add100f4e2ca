// Plain records of the execution kernel: the bar and its intents, open positions, kernel
// events, the account, the instrument terms and the refusal reasons. Events are plain
// values written into a buffer the kernel reuses from step to step, so a bar step does not
// allocate. No Python.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "config/config.hpp"
#include "metrics/trade.hpp"

namespace quillon::core {

using metrics::ExitReason;
using metrics::Trade;

struct Bar {
  std::int64_t timestamp = 0;  // ns since the Unix epoch (UTC)
  double open = 0.0;
  double high = 0.0;
  double low = 0.0;
  double close = 0.0;
  double volume = 0.0;
};

// What the strategy wants on this bar. Explicit stop and target prices pin the levels of a
// position opened on this bar instead of the configured models.
struct Intents {
  bool entry = false;
  bool exit = false;
  std::optional<double> size_mult;  // scales the capital used to size a signal entry
  std::optional<double> stop_price;
  std::optional<double> target_price;
  double atr = 0.0;  // 0 (or NaN) when unknown: ATR models then set no level
};

// Why an entry was refused, in the enumeration order of the Python strings.
enum class EntryRefusal : std::uint8_t {
  MaxPositions,
  DrawdownHalt,
  ZeroSize,
  Expired,
  Inactive,
  InsufficientCapital,
  MarginCall,
};

// Why a typed order was refused at fill time. The last five mirror the entry refusals of
// the opening rules (see order_refusal()).
enum class OrderRefusal : std::uint8_t {
  PostOnly,
  ReduceOnly,
  MarginCall,
  DrawdownHalt,
  MaxPositions,
  InvalidQty,
  Unfillable,
  PositionOpen,
  ZeroSize,
  Expired,
  Inactive,
  InsufficientCapital,
};

constexpr OrderRefusal order_refusal(EntryRefusal r) {
  switch (r) {
    case EntryRefusal::MaxPositions: return OrderRefusal::MaxPositions;
    case EntryRefusal::DrawdownHalt: return OrderRefusal::DrawdownHalt;
    case EntryRefusal::ZeroSize: return OrderRefusal::ZeroSize;
    case EntryRefusal::Expired: return OrderRefusal::Expired;
    case EntryRefusal::Inactive: return OrderRefusal::Inactive;
    case EntryRefusal::InsufficientCapital: return OrderRefusal::InsufficientCapital;
    case EntryRefusal::MarginCall: return OrderRefusal::MarginCall;
  }
  return OrderRefusal::Unfillable;
}

struct Position {
  std::uint64_t id = 0;  // per-kernel counter from 0, one per opened position
  std::int8_t direction = 1;
  std::uint64_t entry_idx = 0;
  std::int64_t entry_time = 0;
  double entry_price = 0.0;  // fill price after slippage
  double size = 0.0;         // units, positive
  std::optional<double> stop;
  std::optional<double> target;
  double highest_high = 0.0;  // extremes since entry; both start at the entry price
  double lowest_low = 0.0;
  double entry_fees = 0.0;
  std::optional<config::CostBreakdown> entry_breakdown;  // itemised schedule only
};

// Kernel events, in the enumeration order of EngineEvent kinds.
enum class EventKind : std::uint8_t {
  Entered,
  Exited,
  EntryRejected,
  OrderAccepted,
  OrderTriggered,
  OrderFilled,
  OrderCanceled,
  OrderExpired,
  OrderRejected,
  MarginCall,
  AlgoStarted,
  AlgoCompleted,
};

// One observable outcome, as a plain value. Which fields mean something depends on kind:
//   Entered        price, size, direction
//   Exited         trade (index into the kernel's trade list); price, size, direction
//   EntryRejected  entry_refusal
//   Order*         order_id (the order's client id is looked up from the order list);
//                  OrderFilled also price and size; OrderRejected also order_refusal
//   MarginCall     price = account equity, size = maintenance requirement
//   Algo*          order_id = algorithm id
struct Event {
  EventKind kind = EventKind::Entered;
  std::uint64_t idx = 0;  // bar index the event belongs to
  double price = 0.0;
  double size = 0.0;
  std::int8_t direction = 0;
  EntryRefusal entry_refusal = EntryRefusal::ZeroSize;
  OrderRefusal order_refusal = OrderRefusal::Unfillable;
  std::size_t trade = 0;
  std::uint64_t order_id = 0;
};

enum class AccountKind : std::uint8_t { Cash, Margin };

// The array runners always use cash accounts; sessions choose.
struct AccountType {
  AccountKind kind = AccountKind::Cash;
  double leverage = 1.0;  // margin accounts only

  static constexpr AccountType cash() { return {}; }
  static constexpr AccountType margin(double leverage) { return {AccountKind::Margin, leverage}; }
};

// Netting keeps at most one position (opposite fills close it); hedging allows several.
enum class OmsType : std::uint8_t { Netting, Hedging };

struct LockedMargin {
  std::uint64_t position_id = 0;
  double amount = 0.0;
};

struct Account {
  double cash = 0.0;
  AccountType type;
  std::vector<LockedMargin> locked;  // initial margin per open position, in opening order
  bool margin_call = false;          // latches; only switches on
  bool drawdown_halt = false;        // latches; only switches on
  std::uint64_t refused_entries = 0;
};

// The contract terms the kernel applies. Without an installed specification: multiplier 1,
// no grids, no margin rates, no activation and no expiry.
struct InstrumentTerms {
  double multiplier = 1.0;
  double price_increment = 0.0;
  double size_increment = 0.0;
  double margin_init = 0.0;
  double margin_maint = 0.0;
  double settlement_fee = 0.0;
  std::optional<std::int64_t> activation_ns;
  std::optional<std::int64_t> expiration_ns;
};

// Running statistics of closed trades' returns (r = return_pct / 100), updated by every
// close: count, mean and second moment by the streaming formulas, winners' and losers'
// sums and counts, and the sum of squared downside returns.
struct TradeStats {
  std::uint64_t count = 0;
  double mean = 0.0;
  double m2 = 0.0;
  double win_sum = 0.0;
  std::uint64_t win_count = 0;
  double loss_sum = 0.0;
  std::uint64_t loss_count = 0;
  double downside_sq_sum = 0.0;

  void add(double r) {
    ++count;
    const double delta = r - mean;
    mean += delta / static_cast<double>(count);
    m2 += delta * (r - mean);
    if (r > 0.0) {
      win_sum += r;
      ++win_count;
    } else if (r < 0.0) {
      loss_sum += r;
      ++loss_count;
    }
    const double down = r < 0.0 ? r : 0.0;
    downside_sq_sum += down * down;
  }
};

}  // namespace quillon::core
