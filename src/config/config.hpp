// Front door of the configuration and market model: the backtest configuration and its
// engine copy, stop/target models and per-instrument overrides, the fee model and Indian
// cost schedules, and instrument specifications. Pure C++ over common/; the kernel, the
// runners and the bindings include this header only.
#pragma once

#include "config/backtest_config.hpp"
#include "config/errors.hpp"
#include "config/fees.hpp"
#include "config/instrument.hpp"
#include "config/stops.hpp"
