// Test driver for the configuration core functions that have no Python entry of their own
// (fee-segment resolution, leg cost, quantity and price grids, margin rates, settlement,
// the engine snapshot). Reads one command per line on stdin, writes one answer per line.
// Floats travel as C99 hex literals in both directions so comparisons are bit-exact;
// caller text travels hex-encoded so tabs and blanks survive.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "config/config.hpp"

using namespace quillon::config;

namespace {

// Every tab separates two fields, so a trailing empty field (an empty text) is kept.
std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == '\t') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

double num(const std::string& s) { return std::strtod(s.c_str(), nullptr); }

std::string unhex(const std::string& h) {
  std::string out;
  for (std::size_t i = 0; i + 1 < h.size(); i += 2) {
    out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  }
  return out;
}

std::string hex(double x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%a", x);
  return buf;
}

std::string opt(const std::optional<double>& x) { return x ? hex(*x) : "none"; }

FeeModel model_of(const std::string& s) {
  if (s.rfind("flat:", 0) == 0) return FeeModel::flat(num(s.substr(5)));
  return FeeModel::itemised(*segment_from_name(s));
}

std::string describe(const FeeModel& m) {
  return m.kind == FeeKind::Flat ? "flat:" + hex(m.rate) : std::string(segment_name(m.segment));
}

std::string answer(const std::vector<std::string>& f) {
  const std::string& cmd = f.at(0);
  if (cmd == "segment") {  // fee_segment text -> model under fees = 0.001
    return describe(resolve_fee_model(std::optional<std::string_view>(unhex(f.at(1))), 0.001));
  }
  if (cmd == "leg") {  // model side price qty [multiplier]
    const LegSide side = f.at(2) == "buy" ? LegSide::Buy : LegSide::Sell;
    const LegCost c = f.size() > 5 ? leg_cost(model_of(f.at(1)), side, num(f.at(3)), num(f.at(4)),
                                              num(f.at(5)))
                                   : leg_cost(model_of(f.at(1)), side, num(f.at(3)), num(f.at(4)));
    const CostBreakdown& b = c.breakdown;
    return std::string(c.itemised ? "itemised" : "flat") + "\t" + hex(b.brokerage) + "\t" +
           hex(b.stt) + "\t" + hex(b.exchange_txn) + "\t" + hex(b.sebi_fee) + "\t" +
           hex(b.stamp_duty) + "\t" + hex(b.gst) + "\t" + hex(c.total);
  }
  if (cmd == "trade") {  // segment buy_price sell_price qty: open long, close long
    const FeeModel m = model_of(f.at(1));
    const LegCost a = leg_cost(m, LegSide::Buy, num(f.at(2)), num(f.at(4)));
    const LegCost z = leg_cost(m, LegSide::Sell, num(f.at(3)), num(f.at(4)));
    const CostBreakdown b = a.breakdown + z.breakdown;
    return hex(b.brokerage) + "\t" + hex(b.stt) + "\t" + hex(b.exchange_txn) + "\t" +
           hex(b.sebi_fee) + "\t" + hex(b.stamp_duty) + "\t" + hex(b.gst) + "\t" + hex(b.sum());
  }
  if (cmd == "snapq") return hex(snap_quantity(num(f.at(1)), num(f.at(2))));
  if (cmd == "entryq") return hex(round_entry_quantity(num(f.at(1)), num(f.at(2)), num(f.at(3))));
  if (cmd == "snapp") return hex(snap_price(num(f.at(1)), num(f.at(2)), std::stoi(f.at(3))));
  if (cmd == "margin") {  // margin_init margin_maint leverage | "nospec" leverage
    InstrumentSpec spec;
    const InstrumentSpec* p = nullptr;
    double leverage = 0.0;
    if (f.at(1) == "nospec") {
      leverage = num(f.at(2));
    } else {
      spec.margin_init = num(f.at(1));
      spec.margin_maint = num(f.at(2));
      leverage = num(f.at(3));
      p = &spec;
    }
    return hex(initial_margin_rate(p, leverage)) + "\t" + opt(maintenance_margin_rate(p, leverage));
  }
  if (cmd == "lot") {  // ic_lot|none spec_lot|nospec
    InstrumentConfig ic;
    if (f.at(1) != "none") ic.lot_size = num(f.at(1));
    InstrumentSpec spec;
    const InstrumentSpec* p = nullptr;
    if (f.at(2) != "nospec") {
      spec.lot_size = num(f.at(2));
      p = &spec;
    }
    return opt(entry_lot_size(&ic, p));
  }
  if (cmd == "multiplier") {  // multiplier of an attached specification | nospec
    InstrumentSpec spec;
    if (f.at(1) == "nospec") return hex(contract_multiplier(nullptr));
    spec.multiplier = num(f.at(1));
    return hex(contract_multiplier(&spec));
  }
  if (cmd == "settle") {  // kind(call|put|contract) binary strike close underlying|none
    InstrumentSpec spec;
    if (f.at(1) == "contract") {
      spec.kind = ContractKind{};
    } else {
      const OptionRight right = f.at(1) == "call" ? OptionRight::Call : OptionRight::Put;
      spec.kind = OptionKind{{}, num(f.at(3)), right, f.at(2) == "1"};
    }
    std::optional<double> u;
    if (f.at(5) != "none") u = num(f.at(5));
    return hex(settlement_price(spec, num(f.at(4)), u));
  }
  if (cmd == "engine") {
    // slippage apply_slippage upon_bar_close fees fee_segment_hex|none max_positions|none
    // max_drawdown_pct|none
    BacktestConfig c;
    c.slippage = num(f.at(1));
    c.apply_slippage = f.at(2) == "1";
    c.upon_bar_close = f.at(3) == "1";
    c.fees = num(f.at(4));
    if (f.at(5) != "none") c.fee_segment = unhex(f.at(5));
    if (f.at(6) != "none") c.max_positions = std::stoull(f.at(6));
    if (f.at(7) != "none") c.max_drawdown_pct = num(f.at(7));
    const EngineSettings s = engine_settings(c);
    const std::string slip = s.slippage.kind == SlippageKind::Proportional
                                 ? "proportional:" + hex(s.slippage.fraction)
                                 : "none";
    const std::string sel = s.price_selector == PriceSelector::Close ? "close" : "open";
    const std::string maxp = s.max_positions ? std::to_string(*s.max_positions) : "none";
    return slip + "\t" + describe(s.fee_model) + "\t" + sel + "\t" + maxp + "\t" +
           opt(s.max_drawdown_pct) + "\t" + hex(s.fees);
  }
  return "unknown command";
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::cout << answer(split(line)) << '\n';
  }
  return 0;
}
