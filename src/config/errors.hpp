// The configuration error family: every failure text of the configuration records, the
// cost-schedule lookup and the instrument constructors is produced here and nowhere else.
// Pure C++; the binding raises each of them as ValueError with `message` unchanged.
#pragma once

#include <string>
#include <string_view>

#include "common/quote.hpp"
#include "common/result.hpp"
#include "common/text.hpp"

namespace quillon::config {

struct Error {
  std::string message;  // final text, exactly as the caller reads it

  // `given` is the caller's text as passed (untrimmed); it is shown as a quoted literal
  // with escapes so blanks and control characters stay visible in the message.
  static Error invalid_squareoff_time(std::string_view given) {
    return {common::fill(
        "invalid squareoff_time {}; expected 24-hour \"HH:MM\" local time, e.g. \"15:25\" "
        "for NSE. Pass None to disable squareoff.",
        common::debug_quoted(given))};
  }
  // `lowered` is the requested name after ASCII lower-casing.
  static Error unknown_segment(std::string_view lowered) {
    return {common::fill(
        "unknown segment '{}'; expected one of equity_delivery, equity_intraday, "
        "futures_nfo, options_nfo, futures_mcx, options_mcx, futures_cds, options_cds",
        lowered)};
  }
  static Error negative_price_increment() { return {"price_increment must be >= 0"}; }
  static Error invalid_right(std::string_view lowered) {
    return {common::fill("right must be 'call' or 'put', got {}", lowered)};
  }
  static Error non_positive_strike() { return {"strike must be > 0"}; }
  static Error negative_increments() { return {"increments and lot_size must be >= 0"}; }
  static Error non_positive_multiplier() { return {"multiplier must be > 0"}; }
  static Error expiration_not_after_activation() {
    return {"expiration_ns must be after activation_ns"};
  }
};

template <class T>
using Result = common::Result<T, Error>;

}  // namespace quillon::config
