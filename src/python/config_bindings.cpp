// Bindings of the configuration records: BacktestConfig, InstrumentConfig, StopConfig,
// TargetConfig, resolve_atr_period and indian_cost_schedule. Each class mirrors its core
// record field for field; runs read the record, never the Python object, after their start.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "config/config.hpp"
#include "python/record_state.hpp"
#include "python/toolkit.hpp"

namespace quillon::python {
namespace {

namespace cfg = quillon::config;

// ---- the six stop/target setters, shared by BacktestConfig and InstrumentConfig ----------

// BacktestConfig holds the global models; InstrumentConfig the per-instrument overrides.
void assign_model(cfg::BacktestConfig& c, const cfg::StopModel& m) { c.stop = m; }
void assign_model(cfg::BacktestConfig& c, const cfg::TargetModel& m) { c.target = m; }
void assign_model(cfg::InstrumentConfig& c, const cfg::StopModel& m) { c.stop_override = m; }
void assign_model(cfg::InstrumentConfig& c, const cfg::TargetModel& m) { c.target_override = m; }

// percent / ratio: stored as given, no range check.
template <class T, const auto& Sig, auto Make>
PyObject* set_model_1(T& record, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  double value = 0.0;
  if (!parse(Sig, args, nargs, kwnames, value)) return nullptr;
  assign_model(record, Make(value));
  Py_RETURN_NONE;
}

// (multiplier, period) of the ATR models.
template <class T, const auto& Sig, auto Make>
PyObject* set_model_atr(T& record, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  double multiplier = 0.0;
  std::uint64_t period = 0;
  if (!parse(Sig, args, nargs, kwnames, multiplier, period)) return nullptr;
  assign_model(record, Make(multiplier, period));
  Py_RETURN_NONE;
}

// The six setter signatures of one class, named "<Class>.<method>" for the messages.
template <const char* Class>
struct SetterSignatures;

constexpr char backtest_config_name[] = "BacktestConfig";
constexpr char instrument_config_name[] = "InstrumentConfig";

#define QN_SETTER_SIGNATURES(CLASS, NAME)                                                     \
  template <>                                                                                 \
  struct SetterSignatures<NAME> {                                                             \
    static constexpr Signature<1> fixed_stop{CLASS ".set_fixed_stop", {{{"percent"}}}};       \
    static constexpr Signature<2> atr_stop{CLASS ".set_atr_stop",                             \
                                           {{{"multiplier"}, {"period"}}}};                   \
    static constexpr Signature<1> trailing_stop{CLASS ".set_trailing_stop", {{{"percent"}}}}; \
    static constexpr Signature<1> fixed_target{CLASS ".set_fixed_target", {{{"percent"}}}};   \
    static constexpr Signature<2> atr_target{CLASS ".set_atr_target",                         \
                                             {{{"multiplier"}, {"period"}}}};                 \
    static constexpr Signature<1> risk_reward_target{CLASS ".set_risk_reward_target",         \
                                                     {{{"ratio"}}}};                          \
  };
QN_SETTER_SIGNATURES("BacktestConfig", backtest_config_name)
QN_SETTER_SIGNATURES("InstrumentConfig", instrument_config_name)
#undef QN_SETTER_SIGNATURES

struct SetterDocs {
  const char* fixed_stop;
  const char* atr_stop;
  const char* trailing_stop;
  const char* fixed_target;
  const char* atr_target;
  const char* risk_reward_target;
};

template <class T, const char* Class>
ClassDef<T>& add_model_setters(ClassDef<T>& def, const SetterDocs& docs) {
  using S = SetterSignatures<Class>;
  return def
      .template method<set_model_1<T, S::fixed_stop, cfg::StopModel::fixed>>(S::fixed_stop.view(),
                                                                              docs.fixed_stop)
      .template method<set_model_atr<T, S::atr_stop, cfg::StopModel::atr>>(S::atr_stop.view(),
                                                                            docs.atr_stop)
      .template method<set_model_1<T, S::trailing_stop, cfg::StopModel::trailing>>(
          S::trailing_stop.view(), docs.trailing_stop)
      .template method<set_model_1<T, S::fixed_target, cfg::TargetModel::fixed>>(
          S::fixed_target.view(), docs.fixed_target)
      .template method<set_model_atr<T, S::atr_target, cfg::TargetModel::atr>>(
          S::atr_target.view(), docs.atr_target)
      .template method<set_model_1<T, S::risk_reward_target, cfg::TargetModel::risk_reward>>(
          S::risk_reward_target.view(), docs.risk_reward_target);
}

// ---- BacktestConfig ----------------------------------------------------------------------

constexpr Signature<21> sig_BacktestConfig{
    "BacktestConfig",
    {{{"initial_capital", "100000.0"},
      {"fees", "0.001"},
      {"slippage", "0.0"},
      {"upon_bar_close", "True"},
      {"apply_slippage", "True"},
      {"periods_per_year", "None"},
      {"risk_free_rate", "0.0"},
      {"session_minutes", "None"},
      {"fee_segment", "None"},
      {"max_positions", "None"},
      {"max_drawdown_pct", "None"},
      {"legacy_annualization", "False"},
      {"fill_prob_limit", "1.0"},
      {"fill_prob_slippage", "0.0"},
      {"fill_seed", "0"},
      {"bar_path_adaptive", "False"},
      {"queue_fill_model", "False"},
      {"session_tz_offset_ns", "0"},
      {"limit_slippage", "0.0"},
      {"liquidate_on_margin_call", "False"},
      {"squareoff_time", "None"}}}};

std::optional<cfg::BacktestConfig> new_backtest_config(PyObject* const* args, Py_ssize_t nargs,
                                                       PyObject* kwnames) {
  cfg::BacktestConfig c;  // the record's defaults are the signature's
  std::optional<std::string> squareoff_time;
  if (!parse(sig_BacktestConfig, args, nargs, kwnames, c.initial_capital, c.fees, c.slippage,
             c.upon_bar_close, c.apply_slippage, c.periods_per_year, c.risk_free_rate,
             c.session_minutes, c.fee_segment, c.max_positions, c.max_drawdown_pct,
             c.legacy_annualization, c.fill_prob_limit, c.fill_prob_slippage, c.fill_seed,
             c.bar_path_adaptive, c.queue_fill_model, c.session_tz_offset_ns, c.limit_slippage,
             c.liquidate_on_margin_call, squareoff_time)) {
    return std::nullopt;
  }
  if (squareoff_time) {
    auto minutes = cfg::parse_squareoff_time(*squareoff_time);
    if (!minutes.ok()) {
      raise(minutes.error());
      return std::nullopt;
    }
    c.squareoff_time_minutes = minutes.value();
  }
  return c;
}

PyTypeObject* build_backtest_config() {
  using C = cfg::BacktestConfig;
  static ClassDef<C> def("BacktestConfig", "Python-exposed backtest configuration.");
  def.constructor<new_backtest_config>(sig_BacktestConfig.view())
      .property<&C::initial_capital>("initial_capital")
      .property<&C::fees>("fees")
      .property<&C::slippage>("slippage")
      .property<&C::upon_bar_close>("upon_bar_close")
      .property<&C::apply_slippage>(
          "apply_slippage",
          "Whether `slippage` is applied to fills. Ignored entirely before 0.5.0.")
      .property<&C::periods_per_year>(
          "periods_per_year", "Explicit annualization factor; `None` infers it from bar spacing.")
      .property<&C::risk_free_rate>("risk_free_rate", "Annual risk-free rate as a fraction.")
      .property<&C::session_minutes>(
          "session_minutes",
          "Trading minutes per session for intraday annualization.\n\n"
          "NSE equity 375, MCX 870, CDS 480. `0` marks a 24x7 market.\n"
          "`None` defaults to NSE.")
      .property<&C::fee_segment>(
          "fee_segment",
          "Itemized Indian cost segment, e.g. \"NSE\", \"NFO-OPT\", \"MCX-FUT\".\n\n"
          "When set, the engine charges the real regulatory schedule instead of\n"
          "the flat `fees` fraction, and reports the breakdown per trade.")
      .property<&C::max_positions>("max_positions",
                                   "Maximum concurrent open positions. `None` is unlimited.")
      .property<&C::max_drawdown_pct>("max_drawdown_pct",
                                      "Drawdown percent that halts new entries. `None` disables.")
      .property<&C::legacy_annualization>("legacy_annualization",
                                          "Reproduce pre-0.5.0 annualization constants.")
      .property<&C::fill_prob_limit>(
          "fill_prob_limit", "Probability a marketable resting limit order fills (1.0 = always).")
      .property<&C::fill_prob_slippage>(
          "fill_prob_slippage", "Probability a stop/market fill slips one tick against the trader.")
      .property<&C::fill_seed>("fill_seed", "Seed for the stochastic-fill RNG.")
      .property<&C::bar_path_adaptive>(
          "bar_path_adaptive",
          "Infer intra-bar high/low order from candle geometry on stop/target\n"
          "conflicts; false keeps the legacy stop-first assumption.")
      .property<&C::queue_fill_model>(
          "queue_fill_model",
          "Fill resting limits from observed queue position (needs depth data).")
      .property<&C::session_tz_offset_ns>(
          "session_tz_offset_ns", "Offset for the trading date DAY orders expire on (0 = UTC).")
      .property<&C::limit_slippage>(
          "limit_slippage", "Adverse adjustment on limit fills, as a fraction of the limit price.")
      .property<&C::liquidate_on_margin_call>(
          "liquidate_on_margin_call",
          "Force-close positions on a margin call instead of only halting entries.")
      .readonly<&C::squareoff_time_minutes>(
          "squareoff_time_minutes",
          "Squareoff time as minutes from local midnight; `None` disables.\n\n"
          "Set through the `squareoff_time` \"HH:MM\" argument, not directly.");
  add_model_setters<C, backtest_config_name>(
      def, {"Set fixed percentage stop-loss.", "Set ATR-based stop-loss.",
            "Set trailing stop-loss.", "Set fixed percentage take-profit.",
            "Set ATR-based take-profit.", "Set risk-reward based take-profit."});
  return def.picklable<encoder<C>, decoder<C>>().build();
}

// ---- InstrumentConfig --------------------------------------------------------------------

constexpr Signature<4> sig_InstrumentConfig{
    "InstrumentConfig",
    {{{"lot_size", "None"}, {"alloted_capital", "None"}, {"existing_qty", "None"},
      {"avg_price", "None"}}}};

std::optional<cfg::InstrumentConfig> new_instrument_config(PyObject* const* args,
                                                           Py_ssize_t nargs, PyObject* kwnames) {
  cfg::InstrumentConfig c;
  if (!parse(sig_InstrumentConfig, args, nargs, kwnames, c.lot_size, c.alloted_capital,
             c.existing_qty, c.avg_price)) {
    return std::nullopt;
  }
  return c;
}

PyTypeObject* build_instrument_config() {
  using C = cfg::InstrumentConfig;
  static ClassDef<C> def("InstrumentConfig", "Python-exposed per-instrument configuration.");
  def.constructor<new_instrument_config>(sig_InstrumentConfig.view())
      .property<&C::lot_size>("lot_size")
      .property<&C::alloted_capital>("alloted_capital")
      .property<&C::existing_qty>("existing_qty")
      .property<&C::avg_price>("avg_price")
      .repr<cfg::instrument_config_repr>();
  add_model_setters<C, instrument_config_name>(
      def, {"Set fixed percentage stop-loss override.", "Set ATR-based stop-loss override.",
            "Set trailing stop-loss override.", "Set fixed percentage take-profit override.",
            "Set ATR-based take-profit override.",
            "Set risk-reward based take-profit override."});
  return def.picklable<encoder<C>, decoder<C>>().build();
}

// ---- StopConfig / TargetConfig -----------------------------------------------------------

template <class T>
std::optional<T> new_empty(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

constexpr Signature<0> sig_StopConfig{"StopConfig"};
constexpr Signature<0> sig_TargetConfig{"TargetConfig"};

template <>
std::optional<cfg::StopConfig> new_empty(PyObject* const* args, Py_ssize_t nargs,
                                         PyObject* kwnames) {
  if (!parse(sig_StopConfig, args, nargs, kwnames)) return std::nullopt;
  return cfg::StopConfig{};
}
template <>
std::optional<cfg::TargetConfig> new_empty(PyObject* const* args, Py_ssize_t nargs,
                                           PyObject* kwnames) {
  if (!parse(sig_TargetConfig, args, nargs, kwnames)) return std::nullopt;
  return cfg::TargetConfig{};
}

// Static constructors: one float, or (multiplier, period).
template <const auto& Sig, auto Make>
PyObject* make_1(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  double value = 0.0;
  if (!parse(Sig, args, nargs, kwnames, value)) return nullptr;
  return wrap(Make(value));
}
template <const auto& Sig, auto Make>
PyObject* make_atr(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  double multiplier = 0.0;
  std::uint64_t period = 0;
  if (!parse(Sig, args, nargs, kwnames, multiplier, period)) return nullptr;
  return wrap(Make(multiplier, period));
}

constexpr Signature<1> sig_stop_fixed{"StopConfig.fixed", {{{"percent"}}}};
constexpr Signature<2> sig_stop_atr{"StopConfig.atr", {{{"multiplier"}, {"period"}}}};
constexpr Signature<1> sig_stop_trailing{"StopConfig.trailing", {{{"percent"}}}};
constexpr Signature<1> sig_target_fixed{"TargetConfig.fixed", {{{"percent"}}}};
constexpr Signature<2> sig_target_atr{"TargetConfig.atr", {{{"multiplier"}, {"period"}}}};
constexpr Signature<1> sig_target_risk_reward{"TargetConfig.risk_reward", {{{"ratio"}}}};

PyTypeObject* build_stop_config() {
  using C = cfg::StopConfig;
  static ClassDef<C> def("StopConfig", "Python-exposed stop configuration.");
  return def.constructor<new_empty<C>>(sig_StopConfig.view())
      .property<&C::stop_type>("stop_type")
      .property<&C::percent>("percent")
      .property<&C::multiplier>("multiplier")
      .property<&C::period>("period")
      .static_method<make_1<sig_stop_fixed, C::fixed>>(sig_stop_fixed.view(), "")
      .static_method<make_atr<sig_stop_atr, C::atr>>(sig_stop_atr.view(), "")
      .static_method<make_1<sig_stop_trailing, C::trailing>>(sig_stop_trailing.view(), "")
      .picklable<encoder<C>, decoder<C>>()
      .build();
}

PyTypeObject* build_target_config() {
  using C = cfg::TargetConfig;
  static ClassDef<C> def("TargetConfig", "Python-exposed target configuration.");
  return def.constructor<new_empty<C>>(sig_TargetConfig.view())
      .property<&C::target_type>("target_type")
      .property<&C::percent>("percent")
      .property<&C::multiplier>("multiplier")
      .property<&C::period>("period")
      .property<&C::ratio>("ratio")
      .static_method<make_1<sig_target_fixed, C::fixed>>(sig_target_fixed.view(), "")
      .static_method<make_atr<sig_target_atr, C::atr>>(sig_target_atr.view(), "")
      .static_method<make_1<sig_target_risk_reward, C::risk_reward>>(
          sig_target_risk_reward.view(), "")
      .picklable<encoder<C>, decoder<C>>()
      .build();
}

// ---- functions ---------------------------------------------------------------------------

constexpr Signature<2> sig_resolve_atr_period{
    "resolve_atr_period", {{{"config", "None"}, {"instrument_config", "None"}}}};
constexpr char doc_resolve_atr_period[] =
    "Resolve the ATR period a backtest would use for stop/target computation.\n\n"
    "Mirrors the batch engine's resolution: per-instrument stop/target override\n"
    "the global config; the stop's period wins over the target's; `None` when\n"
    "neither is ATR-based. The Python strategy runner uses this to precompute\n"
    "the same ATR series the array path would.";

PyObject* py_resolve_atr_period(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::optional<Ref<cfg::BacktestConfig>> config;
    std::optional<Ref<cfg::InstrumentConfig>> instrument_config;
    if (!parse(sig_resolve_atr_period, args, nargs, kwnames, config, instrument_config))
      return nullptr;
    return to_py(cfg::resolve_atr_period(config ? &**config : nullptr,
                                         instrument_config ? &**instrument_config : nullptr));
  });
}

constexpr Signature<1> sig_indian_cost_schedule{"indian_cost_schedule", {{{"segment"}}}};
constexpr char doc_indian_cost_schedule[] =
    "Export a segment's cost schedule, including the DP sell charge.\n\n"
    "This is the single numeric source of truth for cost-parity tests between\n"
    "this library and your own cost model: read the rates from here instead of\n"
    "copying them, so the two can never drift apart.\n\n"
    "`segment` is one of equity_intraday, equity_delivery, futures_nfo,\n"
    "options_nfo, futures_mcx, options_mcx, futures_cds, options_cds (any case).\n"
    "Returns a new dict of floats: brokerage_flat, brokerage_rate, stt_rate,\n"
    "exchange_txn_rate, stamp_duty_rate, sebi_turnover_rate, gst_rate and\n"
    "dp_sell_charge_per_isin_per_day. An unknown name raises ValueError.";

PyObject* py_indian_cost_schedule(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    std::string segment;
    if (!parse(sig_indian_cost_schedule, args, nargs, kwnames, segment)) return nullptr;
    return reply(cfg::indian_cost_schedule(segment), [](const cfg::CostSchedule& s) {
      return dict_of({
          {"brokerage_flat", to_py(s.brokerage_flat)},
          {"brokerage_rate", to_py(s.brokerage_rate)},
          {"stt_rate", to_py(s.stt_rate)},
          {"exchange_txn_rate", to_py(s.exchange_txn_rate)},
          {"stamp_duty_rate", to_py(s.stamp_duty_rate)},
          {"sebi_turnover_rate", to_py(s.sebi_turnover_rate)},
          {"gst_rate", to_py(s.gst_rate)},
          {"dp_sell_charge_per_isin_per_day", to_py(s.dp_sell_charge_per_isin_per_day)},
      });
    });
  });
}

const Registration registration{
    class_item("BacktestConfig", build_backtest_config),
    class_item("InstrumentConfig", build_instrument_config),
    class_item("StopConfig", build_stop_config),
    class_item("TargetConfig", build_target_config),
    function_item(sig_resolve_atr_period.view(), py_resolve_atr_period, doc_resolve_atr_period),
    function_item(sig_indian_cost_schedule.view(), py_indian_cost_schedule,
                  doc_indian_cost_schedule),
};

}  // namespace
}  // namespace quillon::python
