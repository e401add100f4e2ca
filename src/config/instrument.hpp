// Contract specifications: the InstrumentSpec record, its six validated constructors, and
// the rules the kernel applies with an installed specification (quantity and price grids,
// margin rates, lot size and multiplier selection, settlement price). Plain values; no
// Python and nothing from the kernel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "config/errors.hpp"
#include "config/stops.hpp"

namespace quillon::config {

enum class OptionRight : std::uint8_t { Call, Put };

struct CashKind {
  friend bool operator==(const CashKind&, const CashKind&) = default;
};
struct CurrencyPairKind {
  friend bool operator==(const CurrencyPairKind&, const CurrencyPairKind&) = default;
};
struct ContractKind {
  std::optional<std::string> underlying;
  friend bool operator==(const ContractKind&, const ContractKind&) = default;
};
struct OptionKind {
  std::optional<std::string> underlying;
  double strike = 0.0;
  OptionRight right = OptionRight::Call;
  bool binary = false;
  friend bool operator==(const OptionKind&, const OptionKind&) = default;
};
struct IndexKind {
  friend bool operator==(const IndexKind&, const IndexKind&) = default;
};

// The family with its per-family data; the alternative order is the family order.
using InstrumentKind =
    std::variant<CashKind, CurrencyPairKind, ContractKind, OptionKind, IndexKind>;

struct InstrumentSpec {
  std::optional<std::int64_t> activation_ns;
  std::optional<std::int64_t> expiration_ns;
  std::string symbol;
  InstrumentKind kind;
  double price_increment = 0.0;  // 0: no price grid
  double size_increment = 0.0;   // 0: no quantity grid
  double lot_size = 1.0;         // never 0 (a given 0 is stored as 1)
  double multiplier = 1.0;
  double margin_init = 0.0;      // 0: derive from the account's leverage
  double margin_maint = 0.0;     // 0: derive from the initial rate
  double maker_fee = 0.0;        // carried and reported; the cost model does not use it
  double taker_fee = 0.0;
  double settlement_fee = 0.0;   // fraction charged on settlement at expiry
};

// Lower-case family text: "cash", "currency_pair", "contract", "option", "index".
std::string_view kind_text(const InstrumentKind& kind);
// Family name as messages print it: "Cash", "CurrencyPair", "Contract", "Option", "Index".
std::string_view kind_variant_name(const InstrumentKind& kind);

inline bool tradable(const InstrumentSpec& spec) {
  return !std::holds_alternative<IndexKind>(spec.kind);
}
std::optional<double> option_strike(const InstrumentSpec& spec);
std::optional<OptionRight> option_right(const InstrumentSpec& spec);
std::string_view right_text(OptionRight right);  // "call" / "put"
// The underlying of a contract or option, when it has one.
const std::optional<std::string>& underlying(const InstrumentSpec& spec);

// "InstrumentSpec(symbol=NIFTY, kind=contract, lot_size=50, multiplier=1)".
std::string instrument_spec_repr(const InstrumentSpec& spec);

// Constructor arguments, with the defaults of the Python signatures. The binding converts
// each argument into these and calls the matching factory, which validates in the
// documented order and returns the first failure.
struct EquityTerms {
  std::string symbol;
  double price_increment = 0.0;
  double lot_size = 1.0;
  double size_increment = 0.0;
  double margin_init = 0.0;
  double margin_maint = 0.0;
  double maker_fee = 0.0;
  double taker_fee = 0.0;
};
using CurrencyPairTerms = EquityTerms;  // same fields; the Python parameter order differs

struct FuturesTerms {
  std::string symbol;
  std::int64_t expiration_ns = 0;
  double lot_size = 1.0;
  double multiplier = 1.0;
  double price_increment = 0.0;
  std::optional<std::string> underlying;
  std::optional<std::int64_t> activation_ns;
  double margin_init = 0.0;
  double margin_maint = 0.0;
  double maker_fee = 0.0;
  double taker_fee = 0.0;
};

struct PerpetualTerms {
  std::string symbol;
  double lot_size = 1.0;
  double multiplier = 1.0;
  double price_increment = 0.0;
  double size_increment = 0.0;
  std::optional<std::string> underlying;
  double margin_init = 0.0;
  double margin_maint = 0.0;
  double maker_fee = 0.0;
  double taker_fee = 0.0;
};

struct OptionTerms {
  std::string symbol;
  double strike = 0.0;
  std::string right;  // "call"/"c"/"ce" or "put"/"p"/"pe", any ASCII case
  std::int64_t expiration_ns = 0;
  double lot_size = 1.0;
  double multiplier = 1.0;
  double price_increment = 0.0;
  std::optional<std::string> underlying;
  bool binary = false;
  std::optional<std::int64_t> activation_ns;
  double margin_init = 0.0;
  double margin_maint = 0.0;
  double maker_fee = 0.0;
  double taker_fee = 0.0;
};

Result<InstrumentSpec> equity(EquityTerms terms);
Result<InstrumentSpec> currency_pair(CurrencyPairTerms terms);
Result<InstrumentSpec> futures_contract(FuturesTerms terms);
Result<InstrumentSpec> perpetual(PerpetualTerms terms);
Result<InstrumentSpec> option(OptionTerms terms);
Result<InstrumentSpec> index(std::string symbol, double price_increment);

// Option right from caller text, compared after ASCII lower-casing.
std::optional<OptionRight> parse_right(std::string_view text);

// ---- Rules the kernel applies with an installed specification ----

// Tolerance of both grids: a value within max(|r|, 1) × 1e-9 steps of the nearest grid
// point r is taken to be on it, so binary noise such as 12.3000000001 does not lose a
// whole step to the floor.
inline constexpr double grid_tolerance = 1e-9;

// Whole lots: floor(q / lot) × lot when lot > 0, else q unchanged.
double floor_to_lots(double quantity, double lot);

// Quantity grid: on-grid within tolerance keeps the nearest step, else floors to the step
// below. No grid when size_increment ≤ 0.
double snap_quantity(double quantity, double size_increment);

// Lot floor then quantity grid, as entry sizing applies them. `lot` ≤ 0 means none.
double round_entry_quantity(double quantity, double lot, double size_increment);

// Price grid for stop and target levels computed from the models: on-grid within
// tolerance keeps the nearest tick, else floors (long, direction > 0) or ceils (short).
// No grid when price_increment ≤ 0.
double snap_price(double level, double price_increment, int direction);

// Lot size of entry sizing: the InstrumentConfig's when it sets one; else the
// specification's when it is > 0 and not exactly 1 (1 means "no lots"); else none. Either
// pointer may be null.
std::optional<double> entry_lot_size(const InstrumentConfig* instrument_config,
                                     const InstrumentSpec* spec);

// Contract multiplier for notional, fees and P&L: the instrument's own when > 0, else 1.
double contract_multiplier(const InstrumentSpec* spec);

// Initial margin rate: margin_init when > 0, else 1 / max(leverage, 1). With no
// specification attached only the leverage counts.
double initial_margin_rate(const InstrumentSpec* spec, double leverage);

// Maintenance margin rate: margin_maint when > 0; else half the initial rate, except that a
// fully funded position (initial rate ≥ 1) has no maintenance requirement (none).
std::optional<double> maintenance_margin_rate(const InstrumentSpec* spec, double leverage);

// Settlement price at expiry: for an option with an underlying price, its intrinsic value
// (binary: 1 when in the money, else 0); otherwise the bar's close.
double settlement_price(const InstrumentSpec& spec, double close,
                        std::optional<double> underlying_price);

}  // namespace quillon::config
