// Front door of the data subsystem: what other directories may call. Today that is bar
// aggregation (builders, the streaming aggregator and the two array entry points).
#pragma once

#include "data/aggregate.hpp"
