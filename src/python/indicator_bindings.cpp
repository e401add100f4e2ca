// Bindings of the batch indicators: sma ... rolling_max.
#include <cstdint>
#include <vector>

#include "indicators/indicators.hpp"
#include "python/toolkit.hpp"

namespace quillon::python {
namespace {

namespace ind = quillon::indicators;
// Inputs are read in place where that is indistinguishable from a copy (see Series).
using Floats = Series<double>;

PyObject* array(ind::Series&& v) { return to_numpy(std::move(v)); }

// The common shapes: one series and a period; three price series and a period.
template <const auto& Sig, auto Fn>
PyObject* series_period(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Floats data;
    std::uint64_t period = 0;
    if (!parse(Sig, args, nargs, kwnames, data, period)) return nullptr;
    return reply(Fn(data, period), array);
  });
}

template <const auto& Sig, auto Fn>
PyObject* hlc_period(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Floats high, low, close;
    std::uint64_t period = 0;
    if (!parse(Sig, args, nargs, kwnames, high, low, close, period)) return nullptr;
    return reply(Fn(high, low, close, period), array);
  });
}

constexpr Signature<2> sig_sma{"sma", {{{"data"}, {"period"}}}};
constexpr Signature<2> sig_ema{"ema", {{{"data"}, {"period"}}}};
constexpr Signature<2> sig_rsi{"rsi", {{{"data"}, {"period"}}}};
constexpr Signature<2> sig_rolling_min{"rolling_min", {{{"data"}, {"period"}}}};
constexpr Signature<2> sig_rolling_max{"rolling_max", {{{"data"}, {"period"}}}};
constexpr Signature<4> sig_atr{"atr", {{{"high"}, {"low"}, {"close"}, {"period"}}}};
constexpr Signature<4> sig_adx{"adx", {{{"high"}, {"low"}, {"close"}, {"period"}}}};

constexpr Signature<4> sig_macd{
    "macd", {{{"data"}, {"fast_period", "12"}, {"slow_period", "26"}, {"signal_period", "9"}}}};
PyObject* py_macd(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Floats data;
    std::uint64_t fast = 12, slow = 26, signal = 9;
    if (!parse(sig_macd, args, nargs, kwnames, data, fast, slow, signal)) return nullptr;
    return reply(ind::macd(data, fast, slow, signal), [](ind::Macd&& m) {
      return tuple_of({array(std::move(m.line)), array(std::move(m.signal)),
                       array(std::move(m.histogram))});
    });
  });
}

constexpr Signature<5> sig_stochastic{
    "stochastic", {{{"high"}, {"low"}, {"close"}, {"k_period", "14"}, {"d_period", "3"}}}};
PyObject* py_stochastic(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Floats high, low, close;
    std::uint64_t k = 14, d = 3;
    if (!parse(sig_stochastic, args, nargs, kwnames, high, low, close, k, d)) return nullptr;
    return reply(ind::stochastic(high, low, close, k, d), [](ind::Stochastic&& s) {
      return tuple_of({array(std::move(s.k)), array(std::move(s.d))});
    });
  });
}

constexpr Signature<3> sig_bollinger_bands{
    "bollinger_bands", {{{"data"}, {"period", "20"}, {"std_dev", "2.0"}}}};
PyObject* py_bollinger_bands(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Floats data;
    std::uint64_t period = 20;
    double std_dev = 2.0;
    if (!parse(sig_bollinger_bands, args, nargs, kwnames, data, period, std_dev)) return nullptr;
    return reply(ind::bollinger_bands(data, period, std_dev), [](ind::Bollinger&& b) {
      return tuple_of({array(std::move(b.upper)), array(std::move(b.middle)),
                       array(std::move(b.lower))});
    });
  });
}

constexpr Signature<4> sig_vwap{"vwap", {{{"high"}, {"low"}, {"close"}, {"volume"}}}};
PyObject* py_vwap(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Floats high, low, close, volume;
    if (!parse(sig_vwap, args, nargs, kwnames, high, low, close, volume)) return nullptr;
    return reply(ind::vwap(high, low, close, volume), array);
  });
}

constexpr Signature<5> sig_supertrend{
    "supertrend",
    {{{"high"}, {"low"}, {"close"}, {"period", "10"}, {"multiplier", "3.0"}}}};
PyObject* py_supertrend(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    Floats high, low, close;
    std::uint64_t period = 10;
    double multiplier = 3.0;
    if (!parse(sig_supertrend, args, nargs, kwnames, high, low, close, period, multiplier))
      return nullptr;
    return reply(ind::supertrend(high, low, close, period, multiplier), [](ind::Supertrend&& s) {
      return tuple_of({array(std::move(s.line)), to_numpy(std::move(s.direction))});
    });
  });
}

const Registration registration{
    function_item(sig_sma.view(), series_period<sig_sma, ind::sma>, "Simple Moving Average."),
    function_item(sig_ema.view(), series_period<sig_ema, ind::ema>,
                  "Exponential Moving Average."),
    function_item(sig_rsi.view(), series_period<sig_rsi, ind::rsi>, "Relative Strength Index."),
    function_item(sig_macd.view(), py_macd, "MACD indicator."),
    function_item(sig_stochastic.view(), py_stochastic, "Stochastic oscillator."),
    function_item(sig_atr.view(), hlc_period<sig_atr, ind::atr>, "Average True Range."),
    function_item(sig_bollinger_bands.view(), py_bollinger_bands, "Bollinger Bands."),
    function_item(sig_adx.view(), hlc_period<sig_adx, ind::adx>, "Average Directional Index."),
    function_item(sig_vwap.view(), py_vwap, "Volume Weighted Average Price."),
    function_item(sig_supertrend.view(), py_supertrend, "Supertrend indicator."),
    function_item(sig_rolling_min.view(), series_period<sig_rolling_min, ind::rolling_min>,
                  "Rolling minimum (Lowest Low Value)."),
    function_item(sig_rolling_max.view(), series_period<sig_rolling_max, ind::rolling_max>,
                  "Rolling maximum (Highest High Value)."),
};

}  // namespace
}  // namespace quillon::python
