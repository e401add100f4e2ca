// Front door of the execution algorithms: the TWAP schedule and its slicing arithmetic.
// The kernel keeps the schedules and turns each slice into an ordinary market order.
#pragma once

#include "execution/twap.hpp"
