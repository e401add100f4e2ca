// Complete byte states of the records behind the picklable classes: the configuration
// records, the instrument specification and the run results. Every field is written,
// including those without a property (the global stop and target models of a
// BacktestConfig, an InstrumentConfig's overrides), so an unpickled object runs exactly
// like the original. Used through ClassDef::picklable.
#pragma once

#include "common/state.hpp"
#include "config/config.hpp"
#include "metrics/metrics.hpp"

namespace quillon::python {

void encode_state(const config::BacktestConfig& v, common::StateWriter& w);
bool decode_state(common::StateReader& r, config::BacktestConfig& v);
void encode_state(const config::InstrumentConfig& v, common::StateWriter& w);
bool decode_state(common::StateReader& r, config::InstrumentConfig& v);
void encode_state(const config::StopConfig& v, common::StateWriter& w);
bool decode_state(common::StateReader& r, config::StopConfig& v);
void encode_state(const config::TargetConfig& v, common::StateWriter& w);
bool decode_state(common::StateReader& r, config::TargetConfig& v);
void encode_state(const config::InstrumentSpec& v, common::StateWriter& w);
bool decode_state(common::StateReader& r, config::InstrumentSpec& v);
void encode_state(const metrics::Trade& v, common::StateWriter& w);
bool decode_state(common::StateReader& r, metrics::Trade& v);
void encode_state(const metrics::BacktestMetrics& v, common::StateWriter& w);
bool decode_state(common::StateReader& r, metrics::BacktestMetrics& v);
void encode_state(const metrics::BacktestResult& v, common::StateWriter& w);
bool decode_state(common::StateReader& r, metrics::BacktestResult& v);

// The function pointers ClassDef::picklable takes, for one record type.
template <class T>
inline constexpr void (*encoder)(const T&, common::StateWriter&) = &encode_state;
template <class T>
inline constexpr bool (*decoder)(common::StateReader&, T&) = &decode_state;

}  // namespace quillon::python
