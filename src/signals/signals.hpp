// Front door of the signal tools: the processor that turns raw entry and exit arrays into
// clean alternating intents, shared by the single-instrument driver and the array runners
// (basket, portfolio, pairs, options, multi-strategy). Pure C++ over common/.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/buffer.hpp"
#include "common/check.hpp"
#include "common/result.hpp"

namespace quillon::signals {

// One byte per bar. The processor reads any nonzero byte as true and writes exactly 0 or 1.
using Flags = common::Buffer<std::uint8_t>;

struct CleanSignals {
  Flags entries;
  Flags exits;
};

// Works on the raw signals alone: it assumes every clean entry opens a position and every
// clean exit closes one, so after a position closed by a stop the next clean entry has to
// wait for the next raw exit.
//  - accumulate = false: at most one unit; an exit while flat, an entry while in position,
//    and an exit on a bar that also has an entry are dropped. max_units is not consulted.
//  - accumulate = true: entries add units up to max_units; each exit removes one unit.
// Entries and exits of different lengths are a broken invariant ("Entry and exit arrays
// must have same length", entries' length first).
common::Result<CleanSignals, common::InternalError> process(std::span<const std::uint8_t> entries,
                                                            std::span<const std::uint8_t> exits,
                                                            std::uint64_t max_units,
                                                            bool accumulate);

}  // namespace quillon::signals
