// Session-time utilities shared by the kernel, the runners and the sessions: the local
// trading date of a UTC timestamp. Pure C++; no Python.
#pragma once

#include <cstdint>

namespace quillon::core {

inline constexpr std::int64_t kNsPerDay = 86'400'000'000'000;

// floor((timestamp + offset) / one day): the local calendar date as a day number. The sum
// is taken in 128 bits and the division floors, so instants before the epoch and offsets
// near the ends of the 64-bit range land on the right day instead of wrapping.
constexpr std::int64_t local_day(std::int64_t timestamp_ns, std::int64_t offset_ns) {
  const __int128 local = static_cast<__int128>(timestamp_ns) + offset_ns;
  __int128 day = local / kNsPerDay;
  if (local % kNsPerDay < 0) --day;
  return static_cast<std::int64_t>(day);
}

}  // namespace quillon::core
