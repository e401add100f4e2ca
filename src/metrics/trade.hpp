// The closed-trade record every runner hands to the metrics and to the result objects, and
// the exit reasons. It sits here, below the kernel, because the metrics consume it and the
// kernel, the sessions and the array runners all produce it. No Python.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "config/fees.hpp"

namespace quillon::metrics {

// The order is the enumeration order of the Python strings ("Signal" ... "Squareoff").
enum class ExitReason : std::uint8_t {
  Signal,
  StopLoss,
  TakeProfit,
  TrailingStop,
  EndOfData,
  Order,
  Settlement,
  Liquidation,
  TimeExit,
  Squareoff,
};
inline constexpr std::size_t exit_reason_count = 10;

struct Trade {
  std::uint64_t id = 0;  // per-kernel counter in closing order
  std::string symbol;
  std::uint64_t entry_idx = 0;
  std::uint64_t exit_idx = 0;
  double entry_price = 0.0;  // fill prices after slippage
  double exit_price = 0.0;
  double size = 0.0;  // units, positive
  std::int8_t direction = 1;
  double pnl = 0.0;         // net of entry and exit fees
  double return_pct = 0.0;  // pnl as percent of the entry notional
  std::int64_t entry_time = 0;
  std::int64_t exit_time = 0;
  double fees = 0.0;  // entry_fees + exit_fees
  double entry_fees = 0.0;
  double exit_fees = 0.0;
  ExitReason exit_reason = ExitReason::Signal;
  // Entry leg plus exit leg per component; present only under the itemised schedule.
  std::optional<config::CostBreakdown> fee_breakdown;

  // Positions still open at the end of data are force-closed with EndOfData; the metrics
  // count them as open trades.
  bool open_at_end() const { return exit_reason == ExitReason::EndOfData; }
};

}  // namespace quillon::metrics
