// Bindings of the array runners: run_single_backtest.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "config/config.hpp"
#include "portfolio/portfolio.hpp"
#include "python/results.hpp"
#include "python/toolkit.hpp"

namespace quillon::python {
namespace {

namespace cfg = quillon::config;
using Floats = common::Buffer<double>;

constexpr Signature<14> sig_run_single_backtest{
    "run_single_backtest",
    {{{"timestamps"}, {"open"}, {"high"}, {"low"}, {"close"}, {"volume"}, {"entries"},
      {"exits"}, {"direction", "1"}, {"weight", "1.0"}, {"symbol", "\"UNKNOWN\""},
      {"config", "None"}, {"position_sizes", "None"}, {"instrument_config", "None"}}}};

constexpr char doc_run_single_backtest[] =
    "Run single instrument backtest.\n\n"
    "Note: the array-based runners (precomputed boolean entry/exit signals)\n"
    "are the legacy strategy path. For new strategies prefer the class-based\n"
    "strategy contract (`quillon.Strategy` + `run_strategy_backtest`), which\n"
    "shares the same execution core and result types. Array runners remain\n"
    "supported and will only be deprecated in a future major release.";

PyObject* py_run_single_backtest(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    // Series are read in place when no argument can run Python code, else copied.
    Series<std::int64_t> timestamps;
    Series<double> open, high, low, close;
    Series<double> volume;  // only its length matters: the run never reads volume
    Series<std::uint8_t> entries, exits;
    std::int32_t direction = 1;
    double weight = 1.0;  // accepted and converted; it does not change a single-instrument run
    std::string symbol = "UNKNOWN";
    std::optional<Ref<cfg::BacktestConfig>> config;
    std::optional<Series<double>> position_sizes;
    std::optional<Ref<cfg::InstrumentConfig>> instrument_config;
    if (!parse(sig_run_single_backtest, args, nargs, kwnames, timestamps, open, high, low, close,
               volume, entries, exits, direction, weight, symbol, config, position_sizes,
               instrument_config)) {
      return nullptr;
    }
    portfolio::SingleRunInputs in;
    in.timestamps = timestamps;
    in.open = open;
    in.high = high;
    in.low = low;
    in.close = close;
    in.volume_length = volume.size();
    in.entries = entries;
    in.exits = exits;
    in.direction = direction;
    in.symbol = std::move(symbol);
    // Read once, at the start: later changes to the Python objects never reach this run.
    if (config) in.config = **config;
    if (position_sizes) in.position_sizes = position_sizes->span();
    if (instrument_config) in.instrument_config = **instrument_config;
    return reply(portfolio::run_single_backtest(in),
                 [](metrics::BacktestResult&& r) { return result_object(std::move(r)); });
  });
}

const Registration registration{
    function_item(sig_run_single_backtest.view(), py_run_single_backtest,
                  doc_run_single_backtest),
};

}  // namespace
}  // namespace quillon::python
