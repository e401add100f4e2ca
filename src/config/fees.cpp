// Segment names and the two ways a text selects a segment: the plain segment name
// (cost-schedule export, rebalance simulation) and the exchange/product notation of the
// backtest configuration.
#include "config/fees.hpp"

#include <string>

namespace quillon::config {
namespace {

constexpr std::array<std::string_view, segment_count> names{
    "equity_intraday", "equity_delivery", "futures_nfo", "options_nfo",
    "futures_mcx",     "options_mcx",     "futures_cds", "options_cds",
};

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string ascii_upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace

std::string_view segment_name(Segment s) { return names[static_cast<std::size_t>(s)]; }

std::optional<Segment> segment_from_name(std::string_view name) {
  const std::string lowered = ascii_lower(name);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (lowered == names[i]) return static_cast<Segment>(i);
  }
  return std::nullopt;
}

std::optional<Segment> segment_from_fee_segment(std::string_view text) {
  const auto dash = text.find('-');
  const std::string exchange = ascii_upper(text.substr(0, dash));
  // No dash: no product. A trailing dash: an empty product, which reads as futures.
  const std::string product =
      dash == std::string_view::npos ? std::string() : ascii_upper(text.substr(dash + 1));
  const bool delivery = product == "DELIVERY";
  const bool option = product == "OPT" || product == "CE" || product == "PE";

  if (exchange == "NSE" || exchange == "BSE") {
    return delivery ? Segment::EquityDelivery : Segment::EquityIntraday;
  }
  if (exchange == "NFO" || exchange == "BFO") {
    return option ? Segment::OptionsNfo : Segment::FuturesNfo;
  }
  if (exchange == "MCX") return option ? Segment::OptionsMcx : Segment::FuturesMcx;
  if (exchange == "CDS" || exchange == "BCD") {
    return option ? Segment::OptionsCds : Segment::FuturesCds;
  }
  return std::nullopt;
}

FeeModel resolve_fee_model(const std::optional<std::string_view>& fee_segment, double fees) {
  if (!fee_segment) return FeeModel::flat(fees);
  if (const auto s = segment_from_fee_segment(*fee_segment)) return FeeModel::itemised(*s);
  return FeeModel::flat(fees);
}

Result<CostSchedule> indian_cost_schedule(std::string_view segment) {
  const auto s = segment_from_name(segment);
  if (!s) return common::Err{Error::unknown_segment(ascii_lower(segment))};
  const SegmentRates& r = rates_of(*s);
  return CostSchedule{r.brokerage_flat,    r.brokerage_rate, r.stt_rate,
                      r.exchange_txn_rate, r.stamp_duty_rate, sebi_turnover_rate,
                      gst_rate,            dp_sell_charge_per_isin_per_day};
}

}  // namespace quillon::config
