// Time-weighted schedules: the record the kernel keeps per registration and the slicing
// arithmetic. A slice is due on the first bar whose timestamp reaches next_due; at most
// one slice per schedule per bar. Plain values over the standard library; no Python and
// nothing from the kernel (the side is kept as a flag so this layer stays below core/).
#pragma once

#include <cstdint>
#include <string>

namespace quillon::execution {

struct TwapSchedule {
  std::uint64_t id = 0;  // per-session counter from 0, independent of order ids
  std::string client_id;
  double units = 0.0;  // total quantity U, finite and > 0
  std::int64_t interval_ns = 0;
  std::uint32_t slices = 1;  // N >= 1
  std::int64_t next_due = 0;
  std::uint32_t done = 0;
  bool sell = false;
  bool reduce_only = false;
  bool active = true;

  bool finished() const { return done >= slices; }
  bool due(std::int64_t bar_ns) const { return active && !finished() && bar_ns >= next_due; }
};

// Quantity of slice k (from 0) of a schedule of total `units` in `slices` slices: the
// cumulative target (k + 1) × U / N less the previous one, k × U / N, and the last slice
// takes exactly U less the previous target. In exact arithmetic the slices telescope to U;
// computed this way the last one absorbs the rounding of the others.
inline double twap_slice_quantity(double units, std::uint32_t slices, std::uint32_t k) {
  const double n = static_cast<double>(slices);
  const double target = k + 1 == slices ? units : static_cast<double>(k + 1) * units / n;
  return target - static_cast<double>(k) * units / n;
}

}  // namespace quillon::execution
