// Bindings of the step-driven single-instrument session: KernelSession, and the two small
// read-only classes it hands out, EngineEvent and PositionSnapshot. The session owns one
// execution kernel until finish(); every method converts its arguments, checks the
// lifecycle, calls the kernel and converts what comes back. The texts of event kinds and
// refusal reasons live here, one table each.
//
// `step` is the per-bar call of a Python driver loop: scalars in, the bar's events out. A
// bar on which nothing happens costs the argument conversion, the kernel step and one empty
// list; nothing else is allocated.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/text.hpp"
#include "config/config.hpp"
#include "core/core.hpp"
#include "python/results.hpp"
#include "python/toolkit.hpp"

namespace quillon::python {
namespace {

namespace cfg = quillon::config;
using core::EventKind;
using core::Kernel;

// ---- the records behind the classes -------------------------------------------------------

// A session is active while it holds its kernel; finish() takes the kernel away.
struct Session {
  std::optional<Kernel> kernel;
};

struct EngineEvent {
  EventKind kind = EventKind::Entered;
  std::uint64_t idx = 0;
  std::optional<double> price;
  std::optional<double> size;
  std::optional<std::int32_t> direction;
  std::optional<metrics::Trade> trade;
  std::string_view reject_reason;  // static text; empty: none
  std::optional<std::uint64_t> order_id;
  std::optional<std::string> client_order_id;
};

struct PositionSnapshot {
  std::optional<double> stop_price;
  std::optional<double> target_price;
  std::uint64_t position_id = 0;
  std::uint64_t entry_idx = 0;
  double entry_price = 0.0;
  double size = 0.0;
  std::int8_t direction = 1;
};

// ---- texts --------------------------------------------------------------------------------

constexpr std::array<std::string_view, 12> kEventKinds{
    "entered",        "exited",          "entry_rejected", "order_accepted",
    "order_triggered", "order_filled",   "order_canceled", "order_expired",
    "order_rejected", "margin_call",     "algo_started",   "algo_completed",
};
constexpr std::array<std::string_view, 7> kEntryRefusals{
    "MaxPositions", "DrawdownHalt", "ZeroSize", "Expired", "Inactive", "InsufficientCapital",
    "MarginCall",
};
constexpr std::array<std::string_view, 12> kOrderRefusals{
    "post_only",     "reduce_only",  "margin_call", "drawdown_halt", "max_positions",
    "invalid_qty",   "unfillable",   "position_open", "zero_size",   "expired",
    "inactive",      "insufficient_capital",
};

template <std::size_t N, class E>
std::string_view text_of(const std::array<std::string_view, N>& table, E value) {
  return table[static_cast<std::size_t>(value)];
}

// ---- conversions --------------------------------------------------------------------------

EngineEvent engine_event(const Kernel& k, const core::Event& e) {
  EngineEvent out;
  out.kind = e.kind;
  out.idx = e.idx;
  switch (e.kind) {
    case EventKind::Entered:
      out.price = e.price;
      out.size = e.size;
      out.direction = e.direction;
      break;
    case EventKind::Exited:
      out.trade = k.trades()[e.trade];
      out.price = e.price;
      out.size = e.size;
      out.direction = e.direction;
      break;
    case EventKind::EntryRejected:
      out.reject_reason = text_of(kEntryRefusals, e.entry_refusal);
      break;
    case EventKind::MarginCall:
      out.price = e.price;
      out.size = e.size;
      break;
    case EventKind::AlgoStarted:
      out.order_id = e.order_id;
      out.client_order_id = k.algo_client_id(e.order_id);
      break;
    case EventKind::AlgoCompleted:
      out.order_id = e.order_id;
      out.client_order_id = std::string();
      break;
    default: {  // the order life cycle
      out.order_id = e.order_id;
      const core::Order* o = k.find_order(e.order_id);
      out.client_order_id = o != nullptr ? o->client_id : std::string();
      if (e.kind == EventKind::OrderFilled) {
        out.price = e.price;
        out.size = e.size;
      } else if (e.kind == EventKind::OrderRejected) {
        out.reject_reason = text_of(kOrderRefusals, e.order_refusal);
      }
      break;
    }
  }
  return out;
}

// The step's events as a new list of EngineEvent (empty when nothing happened).
PyObject* event_list(const Kernel& k) {
  const std::span<const core::Event> events = k.events();
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(events.size()));
  if (list == nullptr || events.empty()) return list;
  for (std::size_t i = 0; i < events.size(); ++i) {
    PyObject* item = wrap(engine_event(k, events[i]));
    if (item == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

PositionSnapshot snapshot(const core::Position& p) {
  return {p.stop, p.target, p.id, p.entry_idx, p.entry_price, p.size, p.direction};
}

PyObject* id_list(const std::vector<std::uint64_t>& ids) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(ids.size()));
  if (list == nullptr) return nullptr;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    PyObject* item = to_py(ids[i]);
    if (item == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

// The active kernel, or null with "session is finished; create a new one" raised.
Kernel* active(Session& s) {
  if (s.kernel) return &*s.kernel;
  raise(core::Error::session_finished());
  return nullptr;
}
const Kernel* active(const Session& s) {
  if (s.kernel) return &*s.kernel;
  raise(core::Error::session_finished());
  return nullptr;
}

// ---- constructor --------------------------------------------------------------------------

constexpr Signature<8> sig_KernelSession{
    "KernelSession",
    {{{"symbol", "\"ASSET\""}, {"direction", "1"}, {"config", "None"},
      {"instrument_config", "None"}, {"instrument", "None"}, {"oms_type", "\"netting\""},
      {"account_type", "\"cash\""}, {"leverage", "1.0"}}}};

constexpr char doc_KernelSession[] =
    "Per-bar simulation session for one instrument.\n\n"
    "Drive it by calling `step` once per bar, in ascending order, then `finish` to\n"
    "obtain the standard backtest result. Only scalars cross the boundary per bar, so a\n"
    "Python driver loop pays one call per bar with no array allocation.";

std::optional<Session> new_session(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::string symbol = "ASSET";
  std::int64_t direction = 1;
  std::optional<Ref<cfg::BacktestConfig>> config;
  std::optional<Ref<cfg::InstrumentConfig>> instrument_config;
  std::optional<Ref<cfg::InstrumentSpec>> instrument;
  std::string oms_type = "netting";
  std::string account_type = "cash";
  double leverage = 1.0;
  if (!parse(sig_KernelSession, args, nargs, kwnames, symbol, direction, config,
             instrument_config, instrument, oms_type, account_type, leverage)) {
    return std::nullopt;
  }
  const auto fail = [](core::Error e) -> std::optional<Session> {
    raise(e);
    return std::nullopt;
  };
  if (direction != 1 && direction != -1) return fail(core::Error::invalid_direction(direction));
  core::OmsType oms = core::OmsType::Netting;
  if (oms_type == "hedging") {
    oms = core::OmsType::Hedging;
  } else if (oms_type != "netting") {
    return fail(core::Error::unknown_oms_type(oms_type));
  }
  core::AccountType account = core::AccountType::cash();
  if (account_type == "margin") {
    // NaN is not > 0 either.
    if (!(leverage > 0.0)) return fail(core::Error::non_positive_leverage());
    account = core::AccountType::margin(leverage);
  } else if (account_type != "cash") {
    return fail(core::Error::unknown_account_type(account_type));
  }
  // Read once: later changes to the Python objects never reach this session.
  core::KernelSetup setup;
  setup.settings = cfg::engine_settings(config ? **config : cfg::BacktestConfig{});
  setup.symbol = symbol;
  setup.direction = static_cast<std::int8_t>(direction);
  if (instrument_config) setup.instrument_config = **instrument_config;
  setup.oms = oms;
  setup.account = account;
  setup.record_timestamps = true;
  Session s;
  s.kernel.emplace(std::move(setup));
  if (instrument) {
    const cfg::InstrumentSpec& spec = **instrument;
    if (!cfg::tradable(spec)) {
      return fail(core::Error::not_tradable(symbol, cfg::kind_variant_name(spec.kind)));
    }
    s.kernel->install_instrument(spec);
  }
  return s;
}

// ---- step ---------------------------------------------------------------------------------

constexpr Signature<13> sig_step{
    "KernelSession.step",
    {{{"idx"}, {"timestamp"}, {"open"}, {"high"}, {"low"}, {"close"}, {"volume"},
      {"entry", "False"}, {"exit", "False"}, {"atr", "0.0"}, {"size_mult", "None"},
      {"stop_price", "None"}, {"target_price", "None"}}}};

PyObject* py_step(Session& self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::uint64_t idx = 0;
  core::Bar bar;
  core::Intents intents;
  if (!parse(sig_step, args, nargs, kwnames, idx, bar.timestamp, bar.open, bar.high, bar.low,
             bar.close, bar.volume, intents.entry, intents.exit, intents.atr, intents.size_mult,
             intents.stop_price, intents.target_price)) {
    return nullptr;
  }
  Kernel* k = active(self);
  if (k == nullptr) return nullptr;
  k->step(idx, bar, intents);
  k->mark(idx, bar);
  return event_list(*k);
}

// ---- orders -------------------------------------------------------------------------------

constexpr Signature<19> sig_submit_order{
    "KernelSession.submit_order",
    {{{"side"}, {"kind"}, {"submitted_idx"}, {"submitted_ts"}, {"client_id"},
      {"units", "None"}, {"size_frac", "None"}, {"limit_price", "None"},
      {"trigger_price", "None"}, {"tif", "\"gtc\""}, {"expire_ns", "None"},
      {"stop_price", "None"}, {"target_price", "None"}, {"offset", "None"},
      {"offset_kind", "\"price\""}, {"limit_offset", "0.0"}, {"post_only", "False"},
      {"reduce_only", "False"}, {"parent_id", "None"}}}};

PyObject* py_submit_order(Session& self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  std::string side, kind, client_id, tif = "gtc", offset_kind = "price";
  core::OrderRequest r;
  if (!parse(sig_submit_order, args, nargs, kwnames, side, kind, r.submitted_idx,
             r.submitted_ts, client_id, r.units, r.size_frac, r.limit_price, r.trigger_price, tif,
             r.expire_ns, r.stop_price, r.target_price, r.offset, offset_kind, r.limit_offset,
             r.post_only, r.reduce_only, r.parent_id)) {
    return nullptr;
  }
  Kernel* k = active(self);
  if (k == nullptr) return nullptr;
  r.side = side;
  r.kind = kind;
  r.client_id = std::move(client_id);
  r.tif = tif;
  r.offset_kind = offset_kind;
  return reply(k->submit_order(r), [](std::uint64_t id) { return to_py(id); });
}

constexpr Signature<1> sig_link_oco{"KernelSession.link_oco", {{{"order_ids"}}}};
PyObject* py_link_oco(Session& self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::vector<std::uint64_t> ids;
  if (!parse(sig_link_oco, args, nargs, kwnames, ids)) return nullptr;
  Kernel* k = active(self);
  if (k == nullptr) return nullptr;
  k->link_oco(ids);
  return Py_NewRef(Py_None);
}

constexpr Signature<2> sig_cancel_order{"KernelSession.cancel_order",
                                        {{{"idx"}, {"order_id"}}}};
PyObject* py_cancel_order(Session& self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  std::uint64_t idx = 0, order_id = 0;
  if (!parse(sig_cancel_order, args, nargs, kwnames, idx, order_id)) return nullptr;
  Kernel* k = active(self);
  if (k == nullptr) return nullptr;
  return to_py(k->cancel_order(idx, order_id));
}

constexpr Signature<1> sig_cancel_all_orders{"KernelSession.cancel_all_orders", {{{"idx"}}}};
PyObject* py_cancel_all_orders(Session& self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  std::uint64_t idx = 0;
  if (!parse(sig_cancel_all_orders, args, nargs, kwnames, idx)) return nullptr;
  Kernel* k = active(self);
  if (k == nullptr) return nullptr;
  return id_list(k->cancel_all_orders(idx));
}

constexpr Signature<5> sig_modify_order{
    "KernelSession.modify_order",
    {{{"order_id"}, {"units", "None"}, {"size_frac", "None"}, {"limit_price", "None"},
      {"trigger_price", "None"}}}};
PyObject* py_modify_order(Session& self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  std::uint64_t order_id = 0;
  core::OrderChange c;
  if (!parse(sig_modify_order, args, nargs, kwnames, order_id, c.units, c.size_frac,
             c.limit_price, c.trigger_price)) {
    return nullptr;
  }
  // Checked before the lifecycle: the call is malformed whatever the session's state.
  if (c.units && c.size_frac) return raise(core::Error::units_and_fraction());
  Kernel* k = active(self);
  if (k == nullptr) return nullptr;
  return to_py(k->modify_order(order_id, c));
}

constexpr Signature<0> sig_open_order_ids{"KernelSession.open_order_ids"};
PyObject* py_open_order_ids(const Session& self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  if (!parse(sig_open_order_ids, args, nargs, kwnames)) return nullptr;
  const Kernel* k = active(self);
  if (k == nullptr) return nullptr;
  return id_list(k->open_order_ids());
}

// ---- TWAP ---------------------------------------------------------------------------------

constexpr Signature<8> sig_submit_twap{
    "KernelSession.submit_twap",
    {{{"units"}, {"side"}, {"slices"}, {"interval_ns"}, {"submitted_idx"}, {"submitted_ts"},
      {"client_id"}, {"reduce_only", "False"}}}};
PyObject* py_submit_twap(Session& self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  double units = 0.0;
  std::string side, client_id;
  std::uint32_t slices = 0;
  std::int64_t interval_ns = 0, submitted_ts = 0;
  std::uint64_t submitted_idx = 0;
  bool reduce_only = false;
  if (!parse(sig_submit_twap, args, nargs, kwnames, units, side, slices, interval_ns,
             submitted_idx, submitted_ts, client_id, reduce_only)) {
    return nullptr;
  }
  // The side is checked before the lifecycle, the rest after it.
  const auto parsed = core::parse_side(side);
  if (!parsed) return raise(core::Error::twap_side(side));
  Kernel* k = active(self);
  if (k == nullptr) return nullptr;
  return reply(k->submit_twap(units, *parsed, slices, interval_ns, submitted_idx, submitted_ts,
                              std::move(client_id), reduce_only),
               [](std::uint64_t id) { return to_py(id); });
}

constexpr Signature<2> sig_cancel_twap{"KernelSession.cancel_twap", {{{"algo_id"}, {"idx"}}}};
PyObject* py_cancel_twap(Session& self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  std::uint64_t algo_id = 0, idx = 0;
  if (!parse(sig_cancel_twap, args, nargs, kwnames, algo_id, idx)) return nullptr;
  Kernel* k = active(self);
  if (k == nullptr) return nullptr;
  return to_py(k->cancel_twap(algo_id, idx));
}

// ---- positions ----------------------------------------------------------------------------

template <bool (Kernel::*Set)(std::optional<std::uint64_t>, std::optional<double>),
          const auto& Sig>
PyObject* py_set_level(Session& self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
  std::optional<double> price;
  std::optional<std::uint64_t> position_id;
  if (!parse(Sig, args, nargs, kwnames, price, position_id)) return nullptr;
  Kernel* k = active(self);
  if (k == nullptr) return nullptr;
  if (!(k->*Set)(position_id, price)) return raise(core::Error::unknown_position(*position_id));
  return Py_NewRef(Py_None);
}
constexpr Signature<2> sig_set_stop_price{"KernelSession.set_stop_price",
                                          {{{"price"}, {"position_id", "None"}}}};
constexpr Signature<2> sig_set_target_price{"KernelSession.set_target_price",
                                            {{{"price"}, {"position_id", "None"}}}};

constexpr Signature<1> sig_request_close{"KernelSession.request_close", {{{"position_id"}}}};
PyObject* py_request_close(Session& self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  std::uint64_t position_id = 0;
  if (!parse(sig_request_close, args, nargs, kwnames, position_id)) return nullptr;
  Kernel* k = active(self);
  if (k == nullptr) return nullptr;
  k->request_close(position_id);
  return Py_NewRef(Py_None);
}

constexpr Signature<1> sig_set_underlying_price{"KernelSession.set_underlying_price",
                                                {{{"price", "None"}}}};
PyObject* py_set_underlying_price(Session& self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  std::optional<double> price;
  if (!parse(sig_set_underlying_price, args, nargs, kwnames, price)) return nullptr;
  Kernel* k = active(self);
  if (k == nullptr) return nullptr;
  k->set_underlying_price(price);
  return Py_NewRef(Py_None);
}

constexpr Signature<0> sig_positions{"KernelSession.positions"};
PyObject* py_positions(const Session& self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
  if (!parse(sig_positions, args, nargs, kwnames)) return nullptr;
  const Kernel* k = active(self);
  if (k == nullptr) return nullptr;
  const std::vector<core::Position>& open = k->positions();
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(open.size()));
  if (list == nullptr) return nullptr;
  for (std::size_t i = 0; i < open.size(); ++i) {
    PyObject* item = wrap(snapshot(open[i]));
    if (item == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

constexpr Signature<0> sig_position{"KernelSession.position"};
PyObject* py_position(const Session& self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) {
  if (!parse(sig_position, args, nargs, kwnames)) return nullptr;
  const Kernel* k = active(self);
  if (k == nullptr) return nullptr;
  if (k->positions().empty()) return Py_NewRef(Py_None);
  return wrap(snapshot(k->positions().front()));
}

template <const auto& Sig, PyObject* (*Read)(const Kernel&)>
PyObject* py_read(const Session& self, PyObject* const* args, Py_ssize_t nargs,
                  PyObject* kwnames) {
  if (!parse(Sig, args, nargs, kwnames)) return nullptr;
  const Kernel* k = active(self);
  if (k == nullptr) return nullptr;
  return Read(*k);
}
constexpr Signature<0> sig_is_in_position{"KernelSession.is_in_position"};
constexpr Signature<0> sig_cash{"KernelSession.cash"};
constexpr Signature<0> sig_equity{"KernelSession.equity"};
constexpr Signature<0> sig_free_capital{"KernelSession.free_capital"};
PyObject* read_in_position(const Kernel& k) { return to_py(!k.positions().empty()); }
PyObject* read_cash(const Kernel& k) { return to_py(k.cash()); }
PyObject* read_equity(const Kernel& k) { return to_py(k.equity()); }
PyObject* read_free_capital(const Kernel& k) { return to_py(k.free_capital()); }

// ---- finish -------------------------------------------------------------------------------

constexpr Signature<0> sig_finish{"KernelSession.finish"};
PyObject* py_finish(Session& self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  if (!parse(sig_finish, args, nargs, kwnames)) return nullptr;
  if (!self.kernel) return raise(core::Error::session_already_finished());
  // Finished before the work starts, so that a failure below still leaves it finished.
  Kernel kernel = std::move(*self.kernel);
  self.kernel.reset();
  return result_object(kernel.finish());
}

// ---- the classes --------------------------------------------------------------------------

PyTypeObject* build_session() {
  static ClassDef<Session> def("KernelSession", doc_KernelSession);
  return def.constructor<new_session>(sig_KernelSession.view())
      .method<py_step>(
          sig_step.view(),
          "Advance the session by one bar.\n\n"
          "`entry`/`exit` carry the strategy's order intents for this bar;\n"
          "`stop_price`/`target_price` optionally pin explicit exit levels for an\n"
          "entry opened on this bar, overriding the configured stop/target models.")
      .method<py_submit_order>(
          sig_submit_order.view(),
          "Submit an order.\n\n"
          "`side` is `\"buy\"`/`\"sell\"`; `kind` is `\"market\"`, `\"limit\"`,\n"
          "`\"stop_market\"`, or `\"stop_limit\"`; `tif` is `\"gtc\"`, `\"day\"`,\n"
          "`\"gtd\"` (requires `expire_ns`), `\"ioc\"`, or `\"fok\"`. Exactly one of\n"
          "`units`/`size_frac` sizes an opening order; omit both to close the\n"
          "full position with a closing-side order. Returns the engine order id.")
      .method<py_link_oco>(sig_link_oco.view(),
                           "Put working orders in one one-cancels-other group.")
      .method<py_cancel_order>(sig_cancel_order.view(),
                               "Cancel a working order; `false` for unknown/finished ids.")
      .method<py_cancel_all_orders>(sig_cancel_all_orders.view(),
                                    "Cancel every working order, returning canceled ids.")
      .method<py_modify_order>(sig_modify_order.view(),
                               "Replace a working order's prices and/or quantity.")
      .method<py_open_order_ids>(sig_open_order_ids.view(),
                                 "Ids of all non-terminal orders, in submission order.")
      .method<py_submit_twap>(sig_submit_twap.view(), "Register a TWAP schedule; returns its id.")
      .method<py_cancel_twap>(sig_cancel_twap.view(),
                              "Stop a schedule and cancel the slices it has working.")
      .method<py_set_level<&Kernel::set_stop, sig_set_stop_price>>(
          sig_set_stop_price.view(),
          "Overwrite a position's stop price; no-op when flat.\n\n"
          "Without `position_id` targets the earliest open position.")
      .method<py_set_level<&Kernel::set_target, sig_set_target_price>>(
          sig_set_target_price.view(), "Overwrite a position's target price; no-op when flat.")
      .method<py_request_close>(sig_request_close.view(),
                                "Request a close of a specific position on the next step.")
      .method<py_set_underlying_price>(
          sig_set_underlying_price.view(),
          "Set the underlying price used to settle options at expiry.\n\n"
          "An option's own bars carry the option's price, so intrinsic value\n"
          "needs the underlying from somewhere else. Without it, contracts\n"
          "settle at their own close.")
      .method<py_positions>(sig_positions.view(),
                            "Read-only views of every open position, in opening order.")
      .method<py_position>(sig_position.view(),
                           "Read-only view of the earliest open position, or `None` when flat.")
      .method<py_read<sig_is_in_position, read_in_position>>(
          sig_is_in_position.view(), "Whether a position is currently open.")
      .method<py_read<sig_cash, read_cash>>(sig_cash.view(), "Current uninvested cash.")
      .method<py_read<sig_equity, read_equity>>(
          sig_equity.view(), "Mark-to-market equity after the most recent step.")
      .method<py_read<sig_free_capital, read_free_capital>>(
          sig_free_capital.view(), "Cash not locked as margin (margin mode); all cash otherwise.")
      .method<py_finish>(sig_finish.view(),
                         "Force-close any open position and compute final metrics.\n\n"
                         "Consumes the session; further calls raise.")
      .build();
}

PyObject* get_kind(const EngineEvent& e) { return to_py(text_of(kEventKinds, e.kind)); }
PyObject* get_trade(const EngineEvent& e) {
  return e.trade ? trade_object(*e.trade) : Py_NewRef(Py_None);
}
PyObject* get_reject_reason(const EngineEvent& e) {
  return e.reject_reason.empty() ? Py_NewRef(Py_None) : to_py(e.reject_reason);
}

std::string event_repr(const EngineEvent& e) {
  return common::fill("EngineEvent(kind={}, idx={})", text_of(kEventKinds, e.kind), e.idx);
}

PyTypeObject* build_event() {
  static ClassDef<EngineEvent> def(
      "EngineEvent",
      "One observable outcome of a session step.\n\n"
      "`kind` is `\"entered\"`, `\"exited\"`, `\"entry_rejected\"`, or one of the\n"
      "order-lifecycle kinds (`\"order_accepted\"`, `\"order_triggered\"`,\n"
      "`\"order_filled\"`, `\"order_canceled\"`, `\"order_expired\"`,\n"
      "`\"order_rejected\"`); the optional fields are populated according to the\n"
      "kind.");
  return def.getter<get_kind>("kind")
      .readonly<&EngineEvent::idx>("idx")
      .readonly<&EngineEvent::price>("price", "Fill price, for `entered`/`order_filled` events.")
      .readonly<&EngineEvent::size>("size", "Position size, for `entered`/`order_filled` events.")
      .readonly<&EngineEvent::direction>(
          "direction", "Trade direction (1 long, -1 short), for `entered` events.")
      .getter<get_trade>("trade", "Completed trade, for `exited` events.")
      .getter<get_reject_reason>(
          "reject_reason", "Refusal reason, for `entry_rejected`/`order_rejected` events.")
      .readonly<&EngineEvent::order_id>("order_id", "Engine order id, for `order_*` events.")
      .readonly<&EngineEvent::client_order_id>(
          "client_order_id", "Caller-supplied order identifier, for `order_*` events.")
      .repr<event_repr>()
      .build();
}

PyObject* get_direction(const PositionSnapshot& p) {
  return to_py(static_cast<std::int32_t>(p.direction));
}

std::string snapshot_repr(const PositionSnapshot& p) {
  return common::fill("PositionSnapshot(entry_idx={}, entry_price={}, size={}, direction={})",
                      p.entry_idx, common::fixed2(p.entry_price), common::fixed2(p.size),
                      static_cast<int>(p.direction));
}

PyTypeObject* build_snapshot() {
  static ClassDef<PositionSnapshot> def("PositionSnapshot",
                                        "Read-only view of the session's open position.");
  return def
      .readonly<&PositionSnapshot::position_id>("position_id",
                                                "Ledger position id, unique within a session.")
      .readonly<&PositionSnapshot::entry_idx>("entry_idx")
      .readonly<&PositionSnapshot::entry_price>("entry_price")
      .readonly<&PositionSnapshot::size>("size")
      .getter<get_direction>("direction", "1 for long, -1 for short.")
      .readonly<&PositionSnapshot::stop_price>("stop_price")
      .readonly<&PositionSnapshot::target_price>("target_price")
      .repr<snapshot_repr>()
      .build();
}

const Registration registration{
    class_item("KernelSession", build_session),
    class_item("EngineEvent", build_event),
    class_item("PositionSnapshot", build_snapshot),
};

}  // namespace
}  // namespace quillon::python
