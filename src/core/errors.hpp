// The kernel's error family: failures of a run's or a session's own checks, reported to
// Python as ValueError with `message` unchanged. Refusals during a simulation are events,
// never errors; broken internal invariants are common::InternalError.
#pragma once

#include <string>

#include "common/result.hpp"
#include "common/text.hpp"

namespace quillon::core {

struct Error {
  std::string message;  // final text, exactly as the caller reads it

  static Error invalid_direction(long long given) {
    return {common::fill("direction must be 1 (long) or -1 (short), got {}", given)};
  }
};

template <class T>
using Result = common::Result<T, Error>;

}  // namespace quillon::core
