// The global backtest configuration record, the parsing of its squareoff time, and the
// engine copy a run snapshots at its start (with the derived slippage model, fee model and
// fill-price selector). Plain values; no Python and nothing from the kernel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/errors.hpp"
#include "config/fees.hpp"
#include "config/stops.hpp"

namespace quillon::config {

// Mirrors BacktestConfig field for field. Nothing is range-checked: a negative capital or
// a probability outside [0, 1] is stored and used as given.
struct BacktestConfig {
  double initial_capital = 100000.0;
  double fees = 0.001;
  double slippage = 0.0;
  bool upon_bar_close = true;
  bool apply_slippage = true;
  std::optional<double> periods_per_year;
  double risk_free_rate = 0.0;
  std::optional<double> session_minutes;
  std::optional<std::string> fee_segment;
  std::optional<std::uint64_t> max_positions;
  std::optional<double> max_drawdown_pct;
  bool legacy_annualization = false;
  double fill_prob_limit = 1.0;
  double fill_prob_slippage = 0.0;
  std::uint64_t fill_seed = 0;
  bool bar_path_adaptive = false;
  bool queue_fill_model = false;
  std::int64_t session_tz_offset_ns = 0;
  double limit_slippage = 0.0;
  bool liquidate_on_margin_call = false;
  std::optional<std::uint32_t> squareoff_time_minutes;  // minutes after local midnight
  StopModel stop;      // set only through the six setter methods
  TargetModel target;
};

// "HH:MM" in 24-hour local time -> minutes after midnight. Blanks around the whole text
// and around each side of the first ':' are ignored; each side is an unsigned decimal
// (optional leading '+'), hour < 24, minute < 60. "9:05", " 9:05 ", "09:5", "+9:05" all
// give 545.
Result<std::uint32_t> parse_squareoff_time(std::string_view text);

enum class SlippageKind : std::uint8_t { None, Proportional };

struct SlippageModel {
  SlippageKind kind = SlippageKind::None;
  double fraction = 0.0;

  // Adverse amount for a fill at reference price p.
  constexpr double amount(double p) const {
    return kind == SlippageKind::Proportional ? fraction * p : 0.0;
  }
};

// Which bar price fills signal-driven entries and exits.
enum class PriceSelector : std::uint8_t { Close, Open };

// Everything a run reads from the configuration, copied by value at its start so later
// changes to the Python object never reach a run in progress. Kernels take it by value.
struct EngineSettings {
  double initial_capital = 100000.0;
  double fees = 0.001;  // flat fraction; also the fee term of entry sizing under any model
  SlippageModel slippage;
  double limit_slippage = 0.0;
  FeeModel fee_model;
  PriceSelector price_selector = PriceSelector::Close;
  bool bar_path_adaptive = false;
  bool liquidate_on_margin_call = false;
  // Present only when the limit is active: set and non-zero.
  std::optional<std::uint64_t> max_positions;
  // Present only when the kill-switch is active: set and > 0 (NaN counts as unset).
  std::optional<double> max_drawdown_pct;
  std::int64_t session_tz_offset_ns = 0;
  double fill_prob_limit = 1.0;
  double fill_prob_slippage = 0.0;
  std::uint64_t fill_seed = 0;
  bool queue_fill_model = false;
  std::optional<std::uint32_t> squareoff_time_minutes;
  // Annualisation inputs of the metrics.
  std::optional<double> periods_per_year;
  double risk_free_rate = 0.0;
  std::optional<double> session_minutes;
  bool legacy_annualization = false;
  // Global models; a per-instrument override is applied with resolve_protective_models.
  StopModel stop;
  TargetModel target;
};

FeeModel resolve_fee_model(const BacktestConfig& config);
EngineSettings engine_settings(const BacktestConfig& config);

// Override resolution against the configuration; a null configuration has no models.
ProtectiveModels resolve_protective_models(const BacktestConfig* config,
                                           const InstrumentConfig* instrument);
inline ProtectiveModels resolve_protective_models(const EngineSettings& settings,
                                                  const InstrumentConfig* instrument) {
  return resolve_protective_models(settings.stop, settings.target, instrument);
}

// Period of the ATR series a run over these settings would compute, if any.
std::optional<std::uint64_t> resolve_atr_period(const BacktestConfig* config,
                                                const InstrumentConfig* instrument);

}  // namespace quillon::config
