// Module entry point. Read this file first: it lists every public name in the fixed order
// of `__all__`. Each binding file registers its items (see registry.hpp); a name whose
// binding does not exist yet is skipped, so the order holds as areas are added.
//
//   constants, then                       (this file)
//   BacktestConfig ... Trade              config_bindings, result_bindings
//   run_*_backtest                        strategy_bindings
//   InstrumentSpec, Indicator, BarAggregator, aggregate_bars, bars_from_ticks
//   KernelSession ... PositionSnapshot    session_bindings
//   analytics classes and functions       portfolio_bindings
//   sma ... rolling_max                   indicator_bindings
#include <cstring>
#include <string>

#include "python/numpy_bridge.hpp"
#include "python/py_errors.hpp"
#include "python/python_api.hpp"
#include "python/registry.hpp"

namespace quillon::python {
namespace {

constexpr const char* kPublicOrder[] = {
    "SESSION_NSE", "SESSION_MCX", "SESSION_CDS", "SESSION_CONTINUOUS", "IST_OFFSET_NS",
    "BacktestConfig", "InstrumentConfig", "StopConfig", "TargetConfig", "BacktestResult",
    "BacktestMetrics", "Trade", "PortfolioResult", "InstrumentSummary",
    "run_single_backtest", "run_basket_backtest", "run_portfolio_backtest",
    "run_options_backtest", "run_pairs_backtest", "run_multi_backtest", "run_spread_backtest",
    "run_tick_backtest",
    "InstrumentSpec", "Indicator", "BarAggregator",
    "aggregate_bars", "bars_from_ticks",
    "KernelSession", "PortfolioSession", "EngineEvent", "PositionSnapshot",
    "resolve_atr_period",
    "BatchSpreadItem",
    "batch_spread_backtest", "simulate_portfolio_mc",
    "RiskModel", "OptimizerConfig", "OptimizationResult", "RiskContributions", "OptimizeItem",
    "RebalanceSimResult", "RankIC",
    "estimate_covariance", "optimize_portfolio", "batch_optimize_portfolios",
    "compute_risk_contributions", "winsorize_panel", "zscore_panel", "rank_panel",
    "momentum_panel", "composite_scores", "rank_ic", "simulate_rebalance_policy",
    "indian_cost_schedule", "compute_tick_entry_signals", "compute_tick_exit_signals",
    "tick_spread_pct", "buy_sell_imbalance_delta", "return_window", "realized_vol_rolling",
    "oi_position_pct", "tick_velocity",
    "sma", "ema", "rsi", "macd", "stochastic", "atr", "bollinger_bands", "adx", "vwap",
    "supertrend", "rolling_min", "rolling_max",
};

PyObject* constant(const char* name) {
  if (std::strcmp(name, "SESSION_NSE") == 0) return PyFloat_FromDouble(375.0);
  if (std::strcmp(name, "SESSION_MCX") == 0) return PyFloat_FromDouble(870.0);
  if (std::strcmp(name, "SESSION_CDS") == 0) return PyFloat_FromDouble(480.0);
  if (std::strcmp(name, "SESSION_CONTINUOUS") == 0) return PyFloat_FromDouble(0.0);
  if (std::strcmp(name, "IST_OFFSET_NS") == 0) return PyLong_FromLongLong(19800000000000LL);
  return nullptr;
}

const ModuleItem* find_item(const char* name) {
  for (const auto& item : registered_items())
    if (std::strcmp(item.name, name) == 0) return &item;
  return nullptr;
}

bool in_public_order(const char* name) {
  for (const char* n : kPublicOrder)
    if (std::strcmp(n, name) == 0) return true;
  return false;
}

// Adds `name` to the module and appends it to __all__; steals `value`.
bool add_public(PyObject* module, PyObject* all, const char* name, PyObject* value) {
  if (value == nullptr) return false;
  if (PyModule_AddObject(module, name, value) < 0) {
    Py_DECREF(value);
    return false;
  }
  PyObject* text = PyUnicode_FromString(name);
  if (text == nullptr) return false;
  const int rc = PyList_Append(all, text);
  Py_DECREF(text);
  return rc == 0;
}

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_quillon",
    "Python module entry point",
    // Non-negative so that a second interpreter runs PyInit again (and is refused there)
    // instead of silently sharing this interpreter's objects.
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject* init_module() {
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    PyErr_SetString(PyExc_ImportError,
                    "_quillon does not support sub-interpreters; import it in the main "
                    "interpreter");
    return nullptr;
  }
  for (const auto& item : registered_items()) {
    if (!in_public_order(item.name)) {
      PyErr_Format(PyExc_SystemError, "_quillon: '%s' has no place in the public order",
                   item.name);
      return nullptr;
    }
  }
  if (!import_numpy()) return nullptr;

  PyObject* module = PyModule_Create(&module_def);
  if (module == nullptr) return nullptr;
  PyObject* all = PyList_New(0);
  PyObject* module_name = PyModule_GetNameObject(module);
  bool ok = all != nullptr && module_name != nullptr;
  for (const char* name : kPublicOrder) {
    if (!ok) break;
    if (PyObject* value = constant(name)) {
      ok = add_public(module, all, name, value);
      continue;
    }
    const ModuleItem* item = find_item(name);
    if (item == nullptr) continue;  // not built yet
    if (item->function != nullptr) {
      ok = add_public(module, all, name, PyCFunction_NewEx(item->function, module, module_name));
    } else {
      PyTypeObject* type = item->type();
      ok = type != nullptr &&
           add_public(module, all, name, Py_NewRef(reinterpret_cast<PyObject*>(type)));
    }
  }
  Py_XDECREF(module_name);
  ok = ok && create_internal_error_type(module);
  if (ok) {
    ok = PyModule_AddObject(module, "__all__", all) == 0;
    if (ok) all = nullptr;
  }
  Py_XDECREF(all);
  if (!ok) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}

}  // namespace
}  // namespace quillon::python

PyMODINIT_FUNC PyInit__quillon(void) { return quillon::python::init_module(); }
