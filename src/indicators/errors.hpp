// The indicator error family: every failure text of the batch and streaming indicators,
// the bar builders and the tick features is produced here and nowhere else.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/quote.hpp"
#include "common/result.hpp"
#include "common/text.hpp"

namespace quillon::indicators {

struct Error {
  std::string message;  // final text, exactly as the caller reads it

  static Error length_mismatch(std::size_t expected, std::size_t got) {
    return {common::fill("Data length mismatch: expected {}, got {}", expected, got)};
  }
  static Error invalid_parameter(std::string_view detail) {
    return {common::fill("Invalid parameter: {}", detail)};
  }
  static Error insufficient_data(std::size_t need, std::size_t got) {
    return {common::fill("Insufficient data: need at least {} elements, got {}", need, got)};
  }
  static Error invalid_configuration(std::string_view detail) {
    return {common::fill("Invalid configuration: {}", detail)};
  }
  static Error division_by_zero(std::string_view what) {
    return {common::fill("Division by zero in {}", what)};
  }
  static Error empty_data(std::string_view what) {
    return {common::fill("Empty data provided for {}", what)};
  }
  static Error index_out_of_bounds(std::size_t index, std::size_t len) {
    return {common::fill("Index {} out of bounds for length {}", index, len)};
  }
  static Error conversion(std::string_view detail) {
    return {common::fill("Python conversion error: {}", detail)};
  }

  // Bar aggregation (the bar builders share this family).
  static Error unknown_aggregation_unit(std::string_view unit) {
    return {common::fill("unknown aggregation unit {}", common::debug_quoted(unit))};
  }
  static Error aggregation_step_zero() { return {"aggregation step must be >= 1"}; }
  static Error invalid_builder_parameter(std::string_view detail) {
    return {common::fill("invalid builder parameter: {}", detail)};
  }
  static Error aggregation_lengths_differ() { return {"all input arrays must share one length"}; }
};

template <class T>
using Result = common::Result<T, Error>;

}  // namespace quillon::indicators
