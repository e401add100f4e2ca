// Stop and target models, their Python-facing descriptors, the per-instrument overrides and
// the one resolution rule (override wins, else the global model) that the kernel, the
// runners and resolve_atr_period all share. Plain values only; no Python, no kernel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quillon::config {

// Every number is stored exactly as given: no range check anywhere (a negative fraction
// or a zero period is the caller's business, and the kernel applies it literally).
enum class StopKind : std::uint8_t { None, Fixed, Atr, Trailing };

struct StopModel {
  StopKind kind = StopKind::None;
  double percent = 0.0;     // Fixed, Trailing: fraction of the entry price
  double multiplier = 0.0;  // Atr
  std::uint64_t period = 0; // Atr

  static constexpr StopModel none() { return {}; }
  static constexpr StopModel fixed(double percent) { return {StopKind::Fixed, percent, 0.0, 0}; }
  static constexpr StopModel atr(double multiplier, std::uint64_t period) {
    return {StopKind::Atr, 0.0, multiplier, period};
  }
  static constexpr StopModel trailing(double percent) {
    return {StopKind::Trailing, percent, 0.0, 0};
  }
  friend bool operator==(const StopModel&, const StopModel&) = default;
};

enum class TargetKind : std::uint8_t { None, Fixed, Atr, RiskReward };

struct TargetModel {
  TargetKind kind = TargetKind::None;
  double percent = 0.0;     // Fixed
  double multiplier = 0.0;  // Atr
  std::uint64_t period = 0; // Atr
  double ratio = 0.0;       // RiskReward

  static constexpr TargetModel none() { return {}; }
  static constexpr TargetModel fixed(double percent) {
    return {TargetKind::Fixed, percent, 0.0, 0, 0.0};
  }
  static constexpr TargetModel atr(double multiplier, std::uint64_t period) {
    return {TargetKind::Atr, 0.0, multiplier, period, 0.0};
  }
  static constexpr TargetModel risk_reward(double ratio) {
    return {TargetKind::RiskReward, 0.0, 0.0, 0, ratio};
  }
  friend bool operator==(const TargetModel&, const TargetModel&) = default;
};

// Descriptor records behind StopConfig / TargetConfig. They only describe a model for
// Python code (nothing in the engine reads them), so the type text is free-form and every
// field is independently writable.
struct StopConfig {
  std::string stop_type = "none";
  std::optional<double> percent;
  std::optional<double> multiplier;
  std::optional<std::uint64_t> period;

  static StopConfig fixed(double percent) { return {"fixed", percent, {}, {}}; }
  static StopConfig atr(double multiplier, std::uint64_t period) {
    return {"atr", {}, multiplier, period};
  }
  static StopConfig trailing(double percent) { return {"trailing", percent, {}, {}}; }
};

struct TargetConfig {
  std::string target_type = "none";
  std::optional<double> percent;
  std::optional<double> multiplier;
  std::optional<std::uint64_t> period;
  std::optional<double> ratio;

  static TargetConfig fixed(double percent) { return {"fixed", percent, {}, {}, {}}; }
  static TargetConfig atr(double multiplier, std::uint64_t period) {
    return {"atr", {}, multiplier, period, {}};
  }
  static TargetConfig risk_reward(double ratio) { return {"risk_reward", {}, {}, {}, ratio}; }
};

// Per-instrument overrides. existing_qty and avg_price are carried for the caller; no
// simulation reads them.
struct InstrumentConfig {
  std::optional<double> lot_size;
  std::optional<double> alloted_capital;
  std::optional<double> existing_qty;
  std::optional<double> avg_price;
  std::optional<StopModel> stop_override;
  std::optional<TargetModel> target_override;
};

// "InstrumentConfig(lot_size=Some(75.0), alloted_capital=None)".
std::string instrument_config_repr(const InstrumentConfig& ic);

// The models a run actually applies to one instrument.
struct ProtectiveModels {
  StopModel stop;
  TargetModel target;
};

// The single resolution rule: an override replaces the whole global model of its kind
// (a fixed stop override removes a global ATR stop), independently for stop and target.
// `instrument` may be null (no per-instrument configuration).
inline ProtectiveModels resolve_protective_models(const StopModel& global_stop,
                                                  const TargetModel& global_target,
                                                  const InstrumentConfig* instrument) {
  ProtectiveModels m{global_stop, global_target};
  if (instrument != nullptr) {
    if (instrument->stop_override) m.stop = *instrument->stop_override;
    if (instrument->target_override) m.target = *instrument->target_override;
  }
  return m;
}

// ATR period the kernel needs precomputed: the stop's when it is ATR-based, else the
// target's when that is, else none.
inline std::optional<std::uint64_t> atr_period(const ProtectiveModels& m) {
  if (m.stop.kind == StopKind::Atr) return m.stop.period;
  if (m.target.kind == TargetKind::Atr) return m.target.period;
  return std::nullopt;
}

}  // namespace quillon::config
