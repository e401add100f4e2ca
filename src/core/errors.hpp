// The kernel's error family: failures of a run's or a session's own checks, reported to
// Python as ValueError with `message` unchanged. Refusals during a simulation are events,
// never errors; broken internal invariants are common::InternalError. Every text of order
// submission, the session's checks and TWAP registration is produced here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/quote.hpp"
#include "common/result.hpp"
#include "common/text.hpp"

namespace quillon::core {

struct Error {
  std::string message;  // final text, exactly as the caller reads it

  static Error invalid_direction(long long given) {
    return {common::fill("direction must be 1 (long) or -1 (short), got {}", given)};
  }

  // ---- order submission, in the order the checks run ----
  static Error unknown_side(std::string_view given) {
    return {common::fill("unknown side {}", common::debug_quoted(given))};
  }
  static Error units_and_fraction() { return {"pass units or size_frac, not both"}; }
  static Error non_positive_units() { return {"units must be > 0"}; }
  static Error fraction_out_of_range() { return {"size_frac must be in (0, 1]"}; }
  static Error unknown_kind(std::string_view given) {
    return {common::fill("unknown order kind {}", common::debug_quoted(given))};
  }
  static Error needs_limit_price(std::string_view kind) {
    return {common::fill("{} needs limit_price", kind)};
  }
  static Error needs_trigger_price(std::string_view kind) {
    return {common::fill("{} needs trigger_price", kind)};
  }
  static Error needs_offset(std::string_view kind) {
    return {common::fill("{} needs offset", kind)};
  }
  static Error non_positive_offset() { return {"offset must be > 0"}; }
  static Error ticks_without_increment() {
    return {"offset_kind='ticks' needs an instrument with price_increment"};
  }
  static Error unknown_offset_kind(std::string_view given) {
    return {common::fill("offset_kind must be 'price', 'bps', or 'ticks', got {}",
                         common::debug_quoted(given))};
  }
  static Error gtd_without_expiry() { return {"gtd orders need expire_ns"}; }
  static Error session_tif_not_market() { return {"at_open/at_close apply to market orders"}; }
  static Error unknown_tif(std::string_view given) {
    return {common::fill("unknown tif {}", common::debug_quoted(given))};
  }
  static Error post_only_not_limit() { return {"post_only applies to limit orders"}; }

  // ---- sessions ----
  static Error unknown_oms_type(std::string_view given) {
    return {common::fill("oms_type must be 'netting' or 'hedging', got {}", given)};
  }
  static Error unknown_account_type(std::string_view given) {
    return {common::fill("account_type must be 'cash' or 'margin', got {}", given)};
  }
  static Error non_positive_leverage() { return {"leverage must be > 0"}; }
  static Error not_tradable(std::string_view symbol, std::string_view kind_name) {
    return {common::fill("instrument {} is not tradable (kind={})", symbol, kind_name)};
  }
  static Error session_finished() { return {"session is finished; create a new one"}; }
  static Error session_already_finished() { return {"session is already finished"}; }
  static Error unknown_position(std::uint64_t id) {
    return {common::fill("unknown position id {}", id)};
  }

  // ---- TWAP registration, in the order the checks run ----
  static Error twap_side(std::string_view given) {
    return {common::fill("side must be 'buy' or 'sell', got {}", given)};
  }
  static Error twap_slices() { return {"slices must be >= 1"}; }
  static Error twap_interval() { return {"interval must be > 0"}; }
  static Error twap_units() { return {"total units must be finite and > 0"}; }
};

template <class T>
using Result = common::Result<T, Error>;

}  // namespace quillon::core
