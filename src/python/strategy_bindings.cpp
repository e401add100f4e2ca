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
    Bound<14> bound;
    if (!bind(sig_run_single_backtest, args, nargs, kwnames, bound)) return nullptr;
    // The arrays are read in place when nothing converted after them can run the caller's
    // code (only direction and weight could, through an __index__ or __float__ of their
    // own): then nothing can change them before the run ends, and the run reads each
    // element once, so a copy would only cost time and memory.
    const bool in_place =
        converts_without_python_code(bound[8]) && converts_without_python_code(bound[9]);
    ArrayArg<std::int64_t> timestamps{in_place};
    ArrayArg<double> open{in_place}, high{in_place}, low{in_place}, close{in_place};
    Float64Length volume;  // validated, never read by this run
    ArrayArg<std::uint8_t> entries{in_place}, exits{in_place};
    std::int32_t direction = 1;
    double weight = 1.0;  // accepted and converted; it does not change a single-instrument run
    std::string symbol = "UNKNOWN";
    std::optional<Ref<cfg::BacktestConfig>> config;
    std::optional<ArrayArg<double>> position_sizes;
    std::optional<Ref<cfg::InstrumentConfig>> instrument_config;
    if (bound[12] != nullptr && bound[12] != Py_None) position_sizes.emplace().in_place = in_place;
    if (!convert_bound(sig_run_single_backtest, bound, timestamps, open, high, low, close, volume,
                       entries, exits, direction, weight, symbol, config, position_sizes,
                       instrument_config)) {
      return nullptr;
    }
    portfolio::SingleRunInputs in;
    in.timestamps = timestamps.view();
    in.open = open.view();
    in.high = high.view();
    in.low = low.view();
    in.close = close.view();
    in.volume_length = volume.length;
    in.entries = entries.view();
    in.exits = exits.view();
    in.direction = direction;
    in.symbol = std::move(symbol);
    // Read once, at the start: later changes to the Python objects never reach this run.
    if (config) in.config = **config;
    if (position_sizes) in.position_sizes = position_sizes->view();
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
