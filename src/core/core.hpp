// Front door of the execution kernel: bar and intent records, positions, events, the
// account and instrument terms, typed-order records, and the Kernel itself. Runners and
// sessions include this header only.
#pragma once

#include "core/errors.hpp"
#include "core/kernel.hpp"
#include "core/orders.hpp"
#include "core/records.hpp"
