// The typed-order passes of the bar step: working orders after the margin check, and the
// market orders submitted for the current bar after the signal entry. Orders enter the
// book only through submission, which the sessions bring; until then the book is empty
// and the step skips both passes before calling them.
#include "core/kernel.hpp"

namespace quillon::core {

void Kernel::evaluate_working_orders(std::uint64_t, const Bar&) {}

void Kernel::fill_orders_for_bar(std::uint64_t, const Bar&, double) {}

}  // namespace quillon::core
