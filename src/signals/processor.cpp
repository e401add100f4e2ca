// The signal processor: a two-state (or unit-counting) pass over the raw signals.
#include <algorithm>
#include <cstddef>

#include "signals/signals.hpp"

namespace quillon::signals {

common::Result<CleanSignals, common::InternalError> process(std::span<const std::uint8_t> e,
                                                            std::span<const std::uint8_t> x,
                                                            std::uint64_t max_units,
                                                            bool accumulate) {
  if (auto broken = common::check_eq(e.size(), x.size(),
                                     "Entry and exit arrays must have same length")) {
    return common::Err{std::move(*broken)};
  }
  const std::size_t n = e.size();
  // Every element is written below when not accumulating; the other mode starts from zero.
  CleanSignals out{Flags(n), Flags(n)};
  if (accumulate) {
    std::fill(out.entries.begin(), out.entries.end(), std::uint8_t{0});
    std::fill(out.exits.begin(), out.exits.end(), std::uint8_t{0});
  }
  std::uint8_t* ce = out.entries.data();
  std::uint8_t* cx = out.exits.data();
  if (!accumulate) {
    // Branch-free form of: flat and entry -> enter; in position, exit and no entry -> exit.
    std::uint8_t in = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint8_t ei = e[i] != 0;
      const std::uint8_t xi = x[i] != 0;
      const std::uint8_t enter = static_cast<std::uint8_t>((in ^ 1u) & ei);
      const std::uint8_t leave = static_cast<std::uint8_t>(in & xi & (ei ^ 1u));
      ce[i] = enter;
      cx[i] = leave;
      in = static_cast<std::uint8_t>((in | enter) & (leave ^ 1u));
    }
    return out;
  }
  bool in_position = false;
  std::uint64_t units = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!in_position) {
      if (e[i]) {
        ce[i] = 1;
        units = 1;
        in_position = true;
      }
    } else if (x[i] && !e[i]) {
      cx[i] = 1;
      in_position = units != 1;
      units = units - 1;
    } else if (e[i] && units < max_units) {
      ce[i] = 1;
      units = units + 1;
    }
  }
  return out;
}

}  // namespace quillon::signals
