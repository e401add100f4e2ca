// Bindings of InstrumentSpec: six static constructors (there is no direct constructor),
// read-only contract terms, and the two settable fields (settlement_fee, expiration_ns).
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "config/config.hpp"
#include "python/toolkit.hpp"

namespace quillon::python {
namespace {

namespace cfg = quillon::config;
using Spec = cfg::InstrumentSpec;

PyObject* spec_reply(cfg::Result<Spec>&& made) {
  return reply(std::move(made), [](Spec&& s) { return wrap(std::move(s)); });
}

// Arguments are converted first, in parameter order; validation runs only on the converted
// terms, so a conversion failure always names its argument before any value is checked.

constexpr Signature<8> sig_equity{
    "InstrumentSpec.equity",
    {{{"symbol"}, {"price_increment", "0.0"}, {"lot_size", "1.0"}, {"size_increment", "0.0"},
      {"margin_init", "0.0"}, {"margin_maint", "0.0"}, {"maker_fee", "0.0"},
      {"taker_fee", "0.0"}}}};
PyObject* py_equity(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  cfg::EquityTerms t;
  if (!parse(sig_equity, args, nargs, kwnames, t.symbol, t.price_increment, t.lot_size,
             t.size_increment, t.margin_init, t.margin_maint, t.maker_fee, t.taker_fee))
    return nullptr;
  return spec_reply(cfg::equity(std::move(t)));
}

constexpr Signature<8> sig_currency_pair{
    "InstrumentSpec.currency_pair",
    {{{"symbol"}, {"price_increment", "0.0"}, {"size_increment", "0.0"}, {"lot_size", "1.0"},
      {"margin_init", "0.0"}, {"margin_maint", "0.0"}, {"maker_fee", "0.0"},
      {"taker_fee", "0.0"}}}};
PyObject* py_currency_pair(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  cfg::CurrencyPairTerms t;
  if (!parse(sig_currency_pair, args, nargs, kwnames, t.symbol, t.price_increment,
             t.size_increment, t.lot_size, t.margin_init, t.margin_maint, t.maker_fee,
             t.taker_fee))
    return nullptr;
  return spec_reply(cfg::currency_pair(std::move(t)));
}

constexpr Signature<11> sig_futures_contract{
    "InstrumentSpec.futures_contract",
    {{{"symbol"}, {"expiration_ns"}, {"lot_size"}, {"multiplier", "1.0"},
      {"price_increment", "0.0"}, {"underlying", "None"}, {"activation_ns", "None"},
      {"margin_init", "0.0"}, {"margin_maint", "0.0"}, {"maker_fee", "0.0"},
      {"taker_fee", "0.0"}}}};
PyObject* py_futures_contract(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  cfg::FuturesTerms t;
  if (!parse(sig_futures_contract, args, nargs, kwnames, t.symbol, t.expiration_ns, t.lot_size,
             t.multiplier, t.price_increment, t.underlying, t.activation_ns, t.margin_init,
             t.margin_maint, t.maker_fee, t.taker_fee))
    return nullptr;
  return spec_reply(cfg::futures_contract(std::move(t)));
}

constexpr Signature<10> sig_perpetual{
    "InstrumentSpec.perpetual",
    {{{"symbol"}, {"lot_size", "1.0"}, {"multiplier", "1.0"}, {"price_increment", "0.0"},
      {"size_increment", "0.0"}, {"underlying", "None"}, {"margin_init", "0.0"},
      {"margin_maint", "0.0"}, {"maker_fee", "0.0"}, {"taker_fee", "0.0"}}}};
PyObject* py_perpetual(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  cfg::PerpetualTerms t;
  if (!parse(sig_perpetual, args, nargs, kwnames, t.symbol, t.lot_size, t.multiplier,
             t.price_increment, t.size_increment, t.underlying, t.margin_init, t.margin_maint,
             t.maker_fee, t.taker_fee))
    return nullptr;
  return spec_reply(cfg::perpetual(std::move(t)));
}

constexpr Signature<14> sig_option{
    "InstrumentSpec.option",
    {{{"symbol"}, {"strike"}, {"right"}, {"expiration_ns"}, {"lot_size"}, {"multiplier", "1.0"},
      {"price_increment", "0.0"}, {"underlying", "None"}, {"binary", "False"},
      {"activation_ns", "None"}, {"margin_init", "0.0"}, {"margin_maint", "0.0"},
      {"maker_fee", "0.0"}, {"taker_fee", "0.0"}}}};
PyObject* py_option(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  cfg::OptionTerms t;
  if (!parse(sig_option, args, nargs, kwnames, t.symbol, t.strike, t.right, t.expiration_ns,
             t.lot_size, t.multiplier, t.price_increment, t.underlying, t.binary,
             t.activation_ns, t.margin_init, t.margin_maint, t.maker_fee, t.taker_fee))
    return nullptr;
  return spec_reply(cfg::option(std::move(t)));
}

constexpr Signature<2> sig_index{"InstrumentSpec.index",
                                 {{{"symbol"}, {"price_increment", "0.0"}}}};
PyObject* py_index(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::string symbol;
  double price_increment = 0.0;
  if (!parse(sig_index, args, nargs, kwnames, symbol, price_increment)) return nullptr;
  return spec_reply(cfg::index(std::move(symbol), price_increment));
}

PyObject* get_kind(const Spec& s) { return to_py(cfg::kind_text(s.kind)); }
PyObject* get_tradable(const Spec& s) { return to_py(cfg::tradable(s)); }
PyObject* get_strike(const Spec& s) { return to_py(cfg::option_strike(s)); }
PyObject* get_right(const Spec& s) {
  const auto right = cfg::option_right(s);
  return right ? to_py(cfg::right_text(*right)) : Py_NewRef(Py_None);
}
PyObject* get_underlying(const Spec& s) { return to_py(cfg::underlying(s)); }

PyTypeObject* build_instrument_spec() {
  static ClassDef<Spec> def("InstrumentSpec", "Python-exposed instrument market definition.");
  return def.readonly<&Spec::symbol>("symbol")
      .getter<get_kind>("kind",
                        "Instrument family: \"cash\", \"currency_pair\", \"contract\", "
                        "\"option\", \"index\".")
      .getter<get_tradable>("tradable", "Whether orders may be placed on this instrument.")
      .readonly<&Spec::price_increment>("price_increment")
      .readonly<&Spec::size_increment>("size_increment")
      .readonly<&Spec::lot_size>("lot_size")
      .readonly<&Spec::multiplier>("multiplier")
      .readonly<&Spec::margin_init>("margin_init")
      .readonly<&Spec::margin_maint>("margin_maint")
      .readonly<&Spec::maker_fee>("maker_fee")
      .readonly<&Spec::taker_fee>("taker_fee")
      .property<&Spec::settlement_fee>("settlement_fee",
                                       "Fee fraction charged on settlement at expiry.")
      .readonly<&Spec::activation_ns>("activation_ns")
      .property<&Spec::expiration_ns>("expiration_ns")
      .getter<get_strike>("strike", "Option strike, or None for non-options.")
      .getter<get_right>("right", "\"call\"/\"put\" for options, None otherwise.")
      .getter<get_underlying>("underlying", "Underlying symbol for derivatives, None otherwise.")
      .static_method<py_equity>(sig_equity.view(), "A cash equity / spot instrument.")
      .static_method<py_currency_pair>(sig_currency_pair.view(), "A spot currency pair.")
      .static_method<py_futures_contract>(sig_futures_contract.view(),
                                          "A dated futures contract.")
      .static_method<py_perpetual>(sig_perpetual.view(),
                                   "A perpetual contract (dated future without expiry).")
      .static_method<py_option>(sig_option.view(), "A vanilla or binary option contract.")
      .static_method<py_index>(sig_index.view(), "A non-tradable reference index.")
      .repr<cfg::instrument_spec_repr>()
      .build();
}

const Registration registration{class_item("InstrumentSpec", build_instrument_spec)};

}  // namespace
}  // namespace quillon::python
