// Transaction costs of one fill: the flat fraction of notional or the itemised statutory
// schedule of one of eight Indian exchange segments. The leg cost is evaluated on every
// fill inside every kernel's bar loop, so it is inline, allocation-free and computes the
// six components in one pass. No Python; depends only on common/.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "config/errors.hpp"

namespace quillon::config {

// The order is the row index of the rate table.
enum class Segment : std::uint8_t {
  EquityIntraday,
  EquityDelivery,
  FuturesNfo,
  OptionsNfo,
  FuturesMcx,
  OptionsMcx,
  FuturesCds,
  OptionsCds,
};
inline constexpr std::size_t segment_count = 8;

struct SegmentRates {
  double brokerage_flat;  // fixed brokerage where there is no rate, else the per-leg cap
  double brokerage_rate;
  double stt_rate;
  double exchange_txn_rate;
  double stamp_duty_rate;
};

inline constexpr std::array<SegmentRates, segment_count> segment_rates{{
    {20.0, 0.0003, 0.00025, 0.0000307, 0.00003},  // equity_intraday
    {0.0, 0.0, 0.001, 0.0000307, 0.00015},        // equity_delivery
    {20.0, 0.0003, 0.0005, 0.0000183, 0.00002},   // futures_nfo
    {20.0, 0.0, 0.0015, 0.0003553, 0.00003},      // options_nfo
    {20.0, 0.0003, 0.0001, 0.000021, 0.00002},    // futures_mcx
    {20.0, 0.0, 0.0005, 0.000418, 0.00003},       // options_mcx
    {20.0, 0.0003, 0.0, 0.0000035, 0.000001},     // futures_cds
    {20.0, 0.0, 0.0, 0.000311, 0.000001},         // options_cds
}};

// Common to every segment. The depository charge is a money amount per ISIN and day; it
// is exported and used by the rebalance simulation, never charged by the kernel.
inline constexpr double sebi_turnover_rate = 0.000001;
inline constexpr double gst_rate = 0.18;
inline constexpr double dp_sell_charge_per_isin_per_day = 15.34;

constexpr const SegmentRates& rates_of(Segment s) {
  return segment_rates[static_cast<std::size_t>(s)];
}

// "equity_intraday", ..., "options_cds".
std::string_view segment_name(Segment s);

// Exact segment name, compared after ASCII lower-casing ("Options_NFO" is options_nfo).
std::optional<Segment> segment_from_name(std::string_view name);

// Exchange/product notation of BacktestConfig.fee_segment ("NSE", "NFO-OPT", "MCX-FUT",
// "nse-delivery", ...). None when the exchange is not one we know: the caller then
// charges the flat fraction, by design without an error.
std::optional<Segment> segment_from_fee_segment(std::string_view text);

enum class FeeKind : std::uint8_t { Flat, Itemised };

struct FeeModel {
  FeeKind kind = FeeKind::Flat;
  double rate = 0.001;                      // Flat: fraction of notional
  Segment segment = Segment::EquityIntraday;  // Itemised

  static constexpr FeeModel flat(double rate) {
    return {FeeKind::Flat, rate, Segment::EquityIntraday};
  }
  static constexpr FeeModel itemised(Segment s) { return {FeeKind::Itemised, 0.0, s}; }
  friend bool operator==(const FeeModel&, const FeeModel&) = default;
};

// From the configuration's fee_segment (absent: flat) and flat fraction. An unrecognised
// segment text silently selects the flat fraction.
FeeModel resolve_fee_model(const std::optional<std::string_view>& fee_segment, double fees);

// Side of the fill: opening a long and closing a short are buys.
enum class LegSide : std::uint8_t { Buy, Sell };

struct CostBreakdown {
  double brokerage = 0.0;
  double stt = 0.0;
  double exchange_txn = 0.0;
  double sebi_fee = 0.0;
  double stamp_duty = 0.0;
  double gst = 0.0;

  // The six components added in this fixed order.
  constexpr double sum() const {
    return brokerage + stt + exchange_txn + sebi_fee + stamp_duty + gst;
  }
  constexpr CostBreakdown& operator+=(const CostBreakdown& o) {
    brokerage += o.brokerage;
    stt += o.stt;
    exchange_txn += o.exchange_txn;
    sebi_fee += o.sebi_fee;
    stamp_duty += o.stamp_duty;
    gst += o.gst;
    return *this;
  }
  friend constexpr CostBreakdown operator+(CostBreakdown a, const CostBreakdown& b) {
    return a += b;
  }
  friend bool operator==(const CostBreakdown&, const CostBreakdown&) = default;
};

struct LegCost {
  double total = 0.0;
  bool itemised = false;    // breakdown is meaningful only when true
  CostBreakdown breakdown;  // all zero under the flat model
};

// Itemised components of one leg of notional N. The statutory order matters for the last
// bits: each component is rate × N, and gst is taken on brokerage + exchange_txn +
// sebi_fee in that order (stt and stamp duty are outside its base).
constexpr CostBreakdown itemised_breakdown(Segment s, LegSide side, double notional) {
  const SegmentRates& r = rates_of(s);
  const bool sell = side == LegSide::Sell;
  CostBreakdown b;
  if (s == Segment::EquityDelivery) {
    b.brokerage = 0.0;
  } else if (r.brokerage_rate > 0.0) {
    const double pct = r.brokerage_rate * notional;
    b.brokerage = pct < r.brokerage_flat ? pct : r.brokerage_flat;
  } else {
    b.brokerage = r.brokerage_flat;
  }
  b.stt = (sell || s == Segment::EquityDelivery) ? r.stt_rate * notional : 0.0;
  b.exchange_txn = r.exchange_txn_rate * notional;
  b.sebi_fee = sebi_turnover_rate * notional;
  b.stamp_duty = sell ? 0.0 : r.stamp_duty_rate * notional;
  b.gst = gst_rate * (b.brokerage + b.exchange_txn + b.sebi_fee);
  return b;
}

// Cost of one leg: N = |quantity| × price. No currency rounding anywhere.
inline LegCost leg_cost(const FeeModel& model, LegSide side, double price, double quantity) {
  const double notional = std::fabs(quantity) * price;
  if (model.kind == FeeKind::Flat) return {notional * model.rate, false, {}};
  const CostBreakdown b = itemised_breakdown(model.segment, side, notional);
  return {b.sum(), true, b};
}

// The kernel's form: the price handed on is the fill price times the contract multiplier,
// so N = |quantity| × (price × multiplier), in that order.
inline LegCost leg_cost(const FeeModel& model, LegSide side, double price, double quantity,
                        double multiplier) {
  return leg_cost(model, side, price * multiplier, quantity);
}

// The exported schedule of one segment (indian_cost_schedule).
struct CostSchedule {
  double brokerage_flat;
  double brokerage_rate;
  double stt_rate;
  double exchange_txn_rate;
  double stamp_duty_rate;
  double sebi_turnover_rate;
  double gst_rate;
  double dp_sell_charge_per_isin_per_day;
};

// Name looked up case-insensitively; an unknown name is an error naming it lower-cased.
Result<CostSchedule> indian_cost_schedule(std::string_view segment);

}  // namespace quillon::config
