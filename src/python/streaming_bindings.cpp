// Binding of the streaming `Indicator`: eleven static constructors, update_bar, reset and
// three read-only properties. No public constructor; the kind text lives only here.
#include <cstdint>
#include <string>

#include "indicators/streaming.hpp"
#include "python/toolkit.hpp"

namespace quillon::python {
namespace {

using indicators::StreamingIndicator;
using indicators::StreamKind;
using indicators::StreamValue;

const char* kind_text(StreamKind k) {
  switch (k) {
    case StreamKind::Sma: return "sma";
    case StreamKind::Ema: return "ema";
    case StreamKind::WilderMa: return "wilder_ma";
    case StreamKind::Wma: return "wma";
    case StreamKind::Roc: return "roc";
    case StreamKind::Stddev: return "stddev";
    case StreamKind::Rsi: return "rsi";
    case StreamKind::Atr: return "atr";
    case StreamKind::Donchian: return "donchian";
    case StreamKind::Bollinger: return "bollinger";
    case StreamKind::Macd: return "macd";
  }
  return "?";
}

// None, a float, or a tuple of two or three floats, built anew each time.
PyObject* value_to_py(const StreamValue& v) {
  switch (v.arity) {
    case 0: return Py_NewRef(Py_None);
    case 1: return to_py(v.v[0]);
    case 2: return tuple_of({to_py(v.v[0]), to_py(v.v[1])});
    default: return tuple_of({to_py(v.v[0]), to_py(v.v[1]), to_py(v.v[2])});
  }
}

PyObject* made(StreamingIndicator::Made&& m) {
  return reply(std::move(m), [](StreamingIndicator&& ind) { return wrap(std::move(ind)); });
}

// ---- static constructors ------------------------------------------------------------------

template <const auto& Sig, StreamingIndicator::Made (*Make)(std::uint64_t)>
PyObject* py_period_ctor(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::uint64_t period = 0;
  if (!parse(Sig, args, nargs, kwnames, period)) return nullptr;
  return made(Make(period));
}

constexpr Signature<1> sig_sma{"Indicator.sma", {{{"period"}}}};
constexpr Signature<1> sig_ema{"Indicator.ema", {{{"period"}}}};
constexpr Signature<1> sig_wilder_ma{"Indicator.wilder_ma", {{{"period"}}}};
constexpr Signature<1> sig_wma{"Indicator.wma", {{{"period"}}}};
constexpr Signature<1> sig_roc{"Indicator.roc", {{{"period"}}}};
constexpr Signature<1> sig_stddev{"Indicator.stddev", {{{"period"}}}};
constexpr Signature<1> sig_rsi{"Indicator.rsi", {{{"period"}}}};
constexpr Signature<1> sig_atr{"Indicator.atr", {{{"period"}}}};
constexpr Signature<1> sig_donchian{"Indicator.donchian", {{{"period"}}}};

constexpr Signature<2> sig_bollinger{"Indicator.bollinger", {{{"period"}, {"k", "2.0"}}}};
PyObject* py_bollinger(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::uint64_t period = 0;
  double k = 2.0;
  if (!parse(sig_bollinger, args, nargs, kwnames, period, k)) return nullptr;
  return made(StreamingIndicator::bollinger(period, k));
}

constexpr Signature<3> sig_macd{
    "Indicator.macd", {{{"fast", "12"}, {"slow", "26"}, {"signal", "9"}}}};
PyObject* py_macd(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::uint64_t fast = 12, slow = 26, signal = 9;
  if (!parse(sig_macd, args, nargs, kwnames, fast, slow, signal)) return nullptr;
  return made(StreamingIndicator::macd(fast, slow, signal));
}

// ---- methods ------------------------------------------------------------------------------

constexpr Signature<4> sig_update_bar{
    "Indicator.update_bar", {{{"_open"}, {"high"}, {"low"}, {"close"}}}};
PyObject* py_update_bar(StreamingIndicator& self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
  double open = 0.0, high = 0.0, low = 0.0, close = 0.0;
  if (!parse(sig_update_bar, args, nargs, kwnames, open, high, low, close)) return nullptr;
  return value_to_py(self.update_bar(open, high, low, close));
}

constexpr Signature<0> sig_reset{"Indicator.reset"};
PyObject* py_reset(StreamingIndicator& self, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) {
  if (!parse(sig_reset, args, nargs, kwnames)) return nullptr;
  self.reset();
  return Py_NewRef(Py_None);
}

PyObject* get_value(const StreamingIndicator& self) { return value_to_py(self.value()); }
PyObject* get_initialized(const StreamingIndicator& self) { return to_py(self.initialized()); }
PyObject* get_kind(const StreamingIndicator& self) { return to_py(kind_text(self.kind())); }

std::string indicator_repr(const StreamingIndicator& self) {
  return std::string("Indicator(kind=") + kind_text(self.kind()) + ")";
}

PyTypeObject* build_indicator() {
  static ClassDef<StreamingIndicator> def("Indicator",
                                          "Streaming indicator with batch-identical values.");
  return def
      .static_method<py_period_ctor<sig_sma, StreamingIndicator::sma>>(sig_sma.view(), nullptr)
      .static_method<py_period_ctor<sig_ema, StreamingIndicator::ema>>(sig_ema.view(), nullptr)
      .static_method<py_period_ctor<sig_wilder_ma, StreamingIndicator::wilder_ma>>(
          sig_wilder_ma.view(), "Wilder-smoothed moving average (alpha = 1/period).")
      .static_method<py_period_ctor<sig_wma, StreamingIndicator::wma>>(sig_wma.view(), nullptr)
      .static_method<py_period_ctor<sig_roc, StreamingIndicator::roc>>(
          sig_roc.view(), "Rate of change over `period` bars, in percent.")
      .static_method<py_period_ctor<sig_stddev, StreamingIndicator::stddev>>(
          sig_stddev.view(), "Rolling population standard deviation.")
      .static_method<py_period_ctor<sig_rsi, StreamingIndicator::rsi>>(sig_rsi.view(), nullptr)
      .static_method<py_period_ctor<sig_atr, StreamingIndicator::atr>>(sig_atr.view(), nullptr)
      .static_method<py_period_ctor<sig_donchian, StreamingIndicator::donchian>>(
          sig_donchian.view(),
          "Highest-high / lowest-low channel; value is `(upper, lower)`.")
      .static_method<py_bollinger>(sig_bollinger.view(),
                                   "Bollinger bands; value is `(middle, upper, lower)`.")
      .static_method<py_macd>(sig_macd.view(), "MACD; value is `(macd, signal, histogram)`.")
      .method<py_update_bar>(
          sig_update_bar.view(),
          "Feed one bar. Price-series cores consume the close; bar cores (atr,\n"
          "donchian) consume high/low/close. Returns the new value, if warm.")
      .method<py_reset>(sig_reset.view(), "Forget all state.")
      .getter<get_value>("value", "Latest value (`None` during warmup).")
      .getter<get_initialized>("initialized", "Whether the warmup period has completed.")
      .getter<get_kind>("kind")
      .repr<indicator_repr>()
      .build();
}

const Registration registration{class_item("Indicator", build_indicator)};

}  // namespace
}  // namespace quillon::python
