// Bindings of bar aggregation: the `BarAggregator` class and the array functions
// `aggregate_bars` and `bars_from_ticks`. A bar crosses as (timestamp, open, high, low,
// close, volume): an int and five floats.
#include <cstdint>
#include <optional>
#include <string>

#include "data/data.hpp"
#include "python/toolkit.hpp"

namespace quillon::python {
namespace {

using data::Bar;
using data::BarAggregator;
using data::BarColumns;

PyObject* bar_to_py(const std::optional<Bar>& b) {
  if (!b) return Py_NewRef(Py_None);
  return tuple_of({to_py(b->timestamp), to_py(b->open), to_py(b->high), to_py(b->low),
                   to_py(b->close), to_py(b->volume)});
}

PyObject* columns_to_py(BarColumns&& c) {
  return tuple_of({to_numpy(std::move(c.timestamps)), to_numpy(std::move(c.open)),
                   to_numpy(std::move(c.high)), to_numpy(std::move(c.low)),
                   to_numpy(std::move(c.close)), to_numpy(std::move(c.volume))});
}

// ---- BarAggregator ------------------------------------------------------------------------

constexpr Signature<4> sig_BarAggregator{
    "BarAggregator",
    {{{"step"}, {"unit"}, {"tz_offset_ns", "0"}, {"brick_size", "0.0"}}}};
std::optional<BarAggregator> new_bar_aggregator(PyObject* const* args, Py_ssize_t nargs,
                                                PyObject* kwnames) {
  std::uint32_t step = 0;
  std::string unit;
  std::int64_t tz_offset_ns = 0;
  double brick_size = 0.0;
  if (!parse(sig_BarAggregator, args, nargs, kwnames, step, unit, tz_offset_ns, brick_size))
    return std::nullopt;
  auto made = BarAggregator::make(step, unit, tz_offset_ns, brick_size);
  if (!made.ok()) {
    raise(made.error());
    return std::nullopt;
  }
  return std::move(made).value();
}

constexpr Signature<6> sig_push_bar{
    "BarAggregator.push_bar",
    {{{"timestamp"}, {"open"}, {"high"}, {"low"}, {"close"}, {"volume"}}}};
PyObject* py_push_bar(BarAggregator& self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
  std::int64_t timestamp = 0;
  double open = 0.0, high = 0.0, low = 0.0, close = 0.0, volume = 0.0;
  if (!parse(sig_push_bar, args, nargs, kwnames, timestamp, open, high, low, close, volume))
    return nullptr;
  return bar_to_py(self.push_bar(timestamp, open, high, low, close, volume));
}

constexpr Signature<4> sig_push_trade{
    "BarAggregator.push_trade",
    {{{"timestamp"}, {"price"}, {"size"}, {"signed_size", "0.0"}}}};
PyObject* py_push_trade(BarAggregator& self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  std::int64_t timestamp = 0;
  double price = 0.0, size = 0.0, signed_size = 0.0;
  if (!parse(sig_push_trade, args, nargs, kwnames, timestamp, price, size, signed_size))
    return nullptr;
  return bar_to_py(self.push_trade(timestamp, price, size, signed_size));
}

constexpr Signature<0> sig_next_pending{"BarAggregator.next_pending"};
PyObject* py_next_pending(BarAggregator& self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  if (!parse(sig_next_pending, args, nargs, kwnames)) return nullptr;
  return bar_to_py(self.next_pending());
}

constexpr Signature<0> sig_flush{"BarAggregator.flush"};
PyObject* py_flush(BarAggregator& self, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) {
  if (!parse(sig_flush, args, nargs, kwnames)) return nullptr;
  return bar_to_py(self.flush());
}

PyTypeObject* build_bar_aggregator() {
  static ClassDef<BarAggregator> def(
      "BarAggregator",
      "Streaming bar aggregator.\n\n"
      "Push source records (finer bars or trades) in ascending time order; a completed bar "
      "is returned as `(timestamp, open, high, low, close, volume)` when its boundary is "
      "crossed. Time bars are stamped with their window-end timestamp, so a bar labeled `t` "
      "contains only data before `t`.");
  return def.constructor<new_bar_aggregator>(sig_BarAggregator.view())
      .method<py_push_bar>(sig_push_bar.view(),
                           "Push one bar; returns the completed coarser bar, if any.")
      .method<py_push_trade>(
          sig_push_trade.view(),
          "Push one trade; returns the completed bar, if any.\n\n"
          "`signed_size` is buy-initiated minus sell-initiated volume, which the signed-flow "
          "units consume. `0.0` means unknown, and those units then classify direction by "
          "the tick rule.")
      .method<py_next_pending>(
          sig_next_pending.view(),
          "A bar completed alongside the last push but held back.\n\n"
          "One large move completes several Renko bricks at once, and `push` returns only "
          "the first. Drain this after every push, or those bars are lost.")
      .method<py_flush>(sig_flush.view(), "Emit any in-progress bar at end of data.")
      .build();
}

// ---- array functions ----------------------------------------------------------------------

constexpr Signature<10> sig_aggregate_bars{
    "aggregate_bars",
    {{{"timestamps"}, {"open"}, {"high"}, {"low"}, {"close"}, {"volume"}, {"step"}, {"unit"},
      {"tz_offset_ns", "0"}, {"brick_size", "0.0"}}}};
PyObject* py_aggregate_bars(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Series<std::int64_t> timestamps;
    Series<double> open, high, low, close, volume;
    std::uint32_t step = 0;
    std::string unit;
    std::int64_t tz_offset_ns = 0;
    double brick_size = 0.0;
    if (!parse(sig_aggregate_bars, args, nargs, kwnames, timestamps, open, high, low, close,
               volume, step, unit, tz_offset_ns, brick_size))
      return nullptr;
    return reply(data::aggregate_bars(timestamps, open, high, low, close, volume, step, unit,
                                      tz_offset_ns, brick_size),
                 columns_to_py);
  });
}

constexpr Signature<8> sig_bars_from_ticks{
    "bars_from_ticks",
    {{{"timestamps"}, {"ltp"}, {"buy_qty_delta"}, {"sell_qty_delta"}, {"step"}, {"unit"},
      {"tz_offset_ns", "0"}, {"brick_size", "0.0"}}}};
PyObject* py_bars_from_ticks(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Series<std::int64_t> timestamps;
    Series<double> ltp, buy_qty_delta, sell_qty_delta;
    std::uint32_t step = 0;
    std::string unit;
    std::int64_t tz_offset_ns = 0;
    double brick_size = 0.0;
    if (!parse(sig_bars_from_ticks, args, nargs, kwnames, timestamps, ltp, buy_qty_delta,
               sell_qty_delta, step, unit, tz_offset_ns, brick_size))
      return nullptr;
    return reply(data::bars_from_ticks(timestamps, ltp, buy_qty_delta, sell_qty_delta, step,
                                       unit, tz_offset_ns, brick_size),
                 columns_to_py);
  });
}

const Registration registration{
    class_item("BarAggregator", build_bar_aggregator),
    function_item(sig_aggregate_bars.view(), py_aggregate_bars,
                  "Aggregate bars into coarser bars.\n\n"
                  "Includes the final in-progress bar (flushed at end of data). Supported "
                  "units: time (`\"ms\"`/`\"s\"`/`\"m\"`/`\"h\"`/`\"d\"`/`\"w\"`), `\"tick\"`, "
                  "`\"volume\"`, `\"value\"`."),
    function_item(sig_bars_from_ticks.view(), py_bars_from_ticks,
                  "Build bars from raw tick arrays (`ltp` + buy/sell quantity deltas).\n\n"
                  "Ticks with a zero last-traded price are skipped, matching the tick "
                  "backtester's treatment of missing data."),
};

}  // namespace
}  // namespace quillon::python
