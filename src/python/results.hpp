// Conversion of a run's outcome into the result classes (BacktestResult, BacktestMetrics,
// Trade), shared by every binding that returns them: the array runners and the sessions.
#pragma once

#include <string_view>

#include "metrics/metrics.hpp"
#include "python/python_api.hpp"

namespace quillon::python {

// A new BacktestResult that takes over the outcome's buffers (no copy).
PyObject* result_object(metrics::BacktestResult&& outcome);
// A new Trade holding a copy of the record.
PyObject* trade_object(const metrics::Trade& trade);
// "Signal", "StopLoss", ...: the one table of exit-reason texts.
std::string_view exit_reason_text(metrics::ExitReason reason);

}  // namespace quillon::python
