// Instrument constructors with their validation order, the printed form, and the grid,
// margin and settlement rules the kernel calls.
#include "config/instrument.hpp"

#include <cmath>
#include <utility>

#include "common/text.hpp"

namespace quillon::config {
namespace {

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Checks shared by every constructor except index(), in this order. The comparisons are
// written so that NaN fails them: a NaN increment or multiplier is not ">= 0" / "> 0",
// and silently accepting it would switch the grid or the multiplier off without a word.
std::optional<Error> check_common(double price_increment, double size_increment, double lot_size,
                                  double multiplier, std::optional<std::int64_t> activation_ns,
                                  std::optional<std::int64_t> expiration_ns) {
  if (!(price_increment >= 0.0) || !(size_increment >= 0.0) || !(lot_size >= 0.0)) {
    return Error::negative_increments();
  }
  if (!(multiplier > 0.0)) return Error::non_positive_multiplier();
  if (activation_ns && expiration_ns && !(*activation_ns < *expiration_ns)) {
    return Error::expiration_not_after_activation();
  }
  return std::nullopt;
}

// A lot size of exactly 0 means "no lots", which the record spells 1.
double stored_lot_size(double lot_size) { return lot_size == 0.0 ? 1.0 : lot_size; }

// Nearest integer (halves away from zero) when k is within tolerance of it.
std::optional<double> on_grid(double k) {
  const double r = std::round(k);
  if (std::fabs(k - r) < std::fmax(std::fabs(r), 1.0) * grid_tolerance) return r;
  return std::nullopt;
}

}  // namespace

std::string_view kind_text(const InstrumentKind& kind) {
  static constexpr std::string_view texts[] = {"cash", "currency_pair", "contract", "option",
                                               "index"};
  return texts[kind.index()];
}

std::string_view kind_variant_name(const InstrumentKind& kind) {
  static constexpr std::string_view names[] = {"Cash", "CurrencyPair", "Contract", "Option",
                                               "Index"};
  return names[kind.index()];
}

std::optional<double> option_strike(const InstrumentSpec& spec) {
  if (const auto* o = std::get_if<OptionKind>(&spec.kind)) return o->strike;
  return std::nullopt;
}

std::optional<OptionRight> option_right(const InstrumentSpec& spec) {
  if (const auto* o = std::get_if<OptionKind>(&spec.kind)) return o->right;
  return std::nullopt;
}

std::string_view right_text(OptionRight right) {
  return right == OptionRight::Call ? "call" : "put";
}

const std::optional<std::string>& underlying(const InstrumentSpec& spec) {
  static const std::optional<std::string> none;
  if (const auto* c = std::get_if<ContractKind>(&spec.kind)) return c->underlying;
  if (const auto* o = std::get_if<OptionKind>(&spec.kind)) return o->underlying;
  return none;
}

std::string instrument_spec_repr(const InstrumentSpec& spec) {
  return common::fill("InstrumentSpec(symbol={}, kind={}, lot_size={}, multiplier={})",
                      spec.symbol, kind_text(spec.kind), spec.lot_size, spec.multiplier);
}

std::optional<OptionRight> parse_right(std::string_view text) {
  const std::string r = ascii_lower(text);
  if (r == "call" || r == "c" || r == "ce") return OptionRight::Call;
  if (r == "put" || r == "p" || r == "pe") return OptionRight::Put;
  return std::nullopt;
}

namespace {

// The fields every tradable kind shares, moved out of its terms after validation.
template <class Terms>
InstrumentSpec tradable_spec(Terms& t, InstrumentKind kind, double size_increment,
                             double multiplier) {
  InstrumentSpec s;
  s.symbol = std::move(t.symbol);
  s.kind = std::move(kind);
  s.price_increment = t.price_increment;
  s.size_increment = size_increment;
  s.lot_size = stored_lot_size(t.lot_size);
  s.multiplier = multiplier;
  s.margin_init = t.margin_init;
  s.margin_maint = t.margin_maint;
  s.maker_fee = t.maker_fee;
  s.taker_fee = t.taker_fee;
  return s;
}

}  // namespace

Result<InstrumentSpec> equity(EquityTerms t) {
  if (auto e = check_common(t.price_increment, t.size_increment, t.lot_size, 1.0, {}, {})) {
    return common::Err{std::move(*e)};
  }
  return tradable_spec(t, CashKind{}, t.size_increment, 1.0);
}

Result<InstrumentSpec> currency_pair(CurrencyPairTerms t) {
  auto r = equity(std::move(t));
  if (r.ok()) r.value().kind = CurrencyPairKind{};
  return r;
}

Result<InstrumentSpec> futures_contract(FuturesTerms t) {
  if (auto e = check_common(t.price_increment, 0.0, t.lot_size, t.multiplier, t.activation_ns,
                            t.expiration_ns)) {
    return common::Err{std::move(*e)};
  }
  InstrumentSpec s =
      tradable_spec(t, ContractKind{std::move(t.underlying)}, 0.0, t.multiplier);
  s.activation_ns = t.activation_ns;
  s.expiration_ns = t.expiration_ns;
  return s;
}

Result<InstrumentSpec> perpetual(PerpetualTerms t) {
  if (auto e = check_common(t.price_increment, t.size_increment, t.lot_size, t.multiplier, {},
                            {})) {
    return common::Err{std::move(*e)};
  }
  return tradable_spec(t, ContractKind{std::move(t.underlying)}, t.size_increment,
                       t.multiplier);
}

Result<InstrumentSpec> option(OptionTerms t) {
  const auto right = parse_right(t.right);
  if (!right) return common::Err{Error::invalid_right(ascii_lower(t.right))};
  if (!(t.strike > 0.0)) return common::Err{Error::non_positive_strike()};
  if (auto e = check_common(t.price_increment, 0.0, t.lot_size, t.multiplier, t.activation_ns,
                            t.expiration_ns)) {
    return common::Err{std::move(*e)};
  }
  InstrumentSpec s = tradable_spec(
      t, OptionKind{std::move(t.underlying), t.strike, *right, t.binary}, 0.0, t.multiplier);
  s.activation_ns = t.activation_ns;
  s.expiration_ns = t.expiration_ns;
  return s;
}

Result<InstrumentSpec> index(std::string symbol, double price_increment) {
  if (!(price_increment >= 0.0)) return common::Err{Error::negative_price_increment()};
  InstrumentSpec s;
  s.symbol = std::move(symbol);
  s.kind = IndexKind{};
  s.price_increment = price_increment;
  return s;
}

double floor_to_lots(double quantity, double lot) {
  if (!(lot > 0.0)) return quantity;
  return std::floor(quantity / lot) * lot;
}

double snap_quantity(double quantity, double size_increment) {
  if (!(size_increment > 0.0)) return quantity;
  const double k = quantity / size_increment;
  const auto r = on_grid(k);
  return (r ? *r : std::floor(k)) * size_increment;
}

double round_entry_quantity(double quantity, double lot, double size_increment) {
  return snap_quantity(floor_to_lots(quantity, lot), size_increment);
}

double snap_price(double level, double price_increment, int direction) {
  if (!(price_increment > 0.0)) return level;
  const double k = level / price_increment;
  const auto r = on_grid(k);
  // Off the grid, long levels move down and short levels up, for stop and target alike.
  const double steps = r ? *r : (direction > 0 ? std::floor(k) : std::ceil(k));
  return steps * price_increment;
}

std::optional<double> entry_lot_size(const InstrumentConfig* instrument_config,
                                     const InstrumentSpec* spec) {
  if (instrument_config != nullptr && instrument_config->lot_size) {
    return instrument_config->lot_size;
  }
  if (spec != nullptr && spec->lot_size > 0.0 && spec->lot_size != 1.0) return spec->lot_size;
  return std::nullopt;
}

double contract_multiplier(const InstrumentSpec* spec) {
  return spec != nullptr && spec->multiplier > 0.0 ? spec->multiplier : 1.0;
}

double initial_margin_rate(const InstrumentSpec* spec, double leverage) {
  if (spec != nullptr && spec->margin_init > 0.0) return spec->margin_init;
  return 1.0 / (leverage > 1.0 ? leverage : 1.0);
}

std::optional<double> maintenance_margin_rate(const InstrumentSpec* spec, double leverage) {
  if (spec != nullptr && spec->margin_maint > 0.0) return spec->margin_maint;
  const double r = initial_margin_rate(spec, leverage);
  if (r >= 1.0) return std::nullopt;
  return 0.5 * r;
}

double settlement_price(const InstrumentSpec& spec, double close,
                        std::optional<double> underlying_price) {
  const auto* o = std::get_if<OptionKind>(&spec.kind);
  if (o == nullptr || !underlying_price) return close;
  const double u = *underlying_price;
  const double intrinsic =
      o->right == OptionRight::Call ? std::fmax(u - o->strike, 0.0) : std::fmax(o->strike - u, 0.0);
  if (o->binary) return intrinsic > 0.0 ? 1.0 : 0.0;
  return intrinsic;
}

}  // namespace quillon::config
