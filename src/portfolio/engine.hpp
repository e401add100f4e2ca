// The single-instrument engine behind run_single_backtest: preparation in its fixed order
// (direction, configuration snapshot, signal lengths, the signal processor, the kernel,
// the ATR pre-computation), the bar loop and the end of the run. Pure C++ over core/,
// signals/, indicators/ and metrics/; no Python.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include "common/check.hpp"
#include "common/result.hpp"
#include "config/config.hpp"
#include "core/core.hpp"
#include "metrics/metrics.hpp"

namespace quillon::portfolio {

struct SingleRunInputs {
  std::span<const std::int64_t> timestamps;
  std::span<const double> open;
  std::span<const double> high;
  std::span<const double> low;
  std::span<const double> close;  // its length is the number of bars
  // The kernel of a single-instrument run never reads volume: only the array's length is
  // checked, like every other bar array's.
  std::size_t volume_length = 0;
  std::span<const std::uint8_t> entries;  // raw signals, any nonzero byte is true
  std::span<const std::uint8_t> exits;
  std::int64_t direction = 1;
  std::string symbol = "UNKNOWN";
  config::BacktestConfig config;  // defaults when the caller passed none
  std::optional<std::span<const double>> position_sizes;
  std::optional<config::InstrumentConfig> instrument_config;
};

// A refused argument (ValueError) or a broken length invariant (the internal error).
using RunError = std::variant<core::Error, common::InternalError>;

common::Result<metrics::BacktestResult, RunError> run_single_backtest(const SingleRunInputs& in);

}  // namespace quillon::portfolio
