// Printed form of the per-instrument configuration.
#include "config/stops.hpp"

#include "common/text.hpp"

namespace quillon::config {
namespace {

std::string optional_number(const std::optional<double>& x) {
  return common::some_or_none(x ? &*x : nullptr);
}

}  // namespace

std::string instrument_config_repr(const InstrumentConfig& ic) {
  return common::fill("InstrumentConfig(lot_size={}, alloted_capital={})",
                      optional_number(ic.lot_size), optional_number(ic.alloted_capital));
}

}  // namespace quillon::config
