// Test driver for the execution kernel parts that no Python entry reaches yet: installed
// instrument specifications (expiry settlement, activation, price and quantity grids,
// multipliers), margin accounts with margin calls and liquidation, hedging, close
// requests, explicit stop/target prices, the event list of each step, and the signal
// processor's accumulating mode. Reads one command per line on stdin and answers each
// with one line. Floats travel as C99 hex literals, so comparisons are bit-exact.
//
//   kernel key=value ...     create a kernel (keys below); answers "ok"
//   spec key=value ...       install a specification; answers "ok"
//   underlying <x|none>      set the option settlement price; answers "ok"
//   close <position id>      queue a close request; answers "ok"
//   step idx ts o h l c entry exit [mult stop target atr]   ("-" for absent); answers
//                            the events, then "|" and equity drawdown return
//   positions                answers id:stop:target per open position
//   account                  answers cash free_capital margin_call drawdown_halt refused
//   finish                   answers the trades (fields separated by ",") then "|" metrics
//   process accumulate max_units entries exits     (0/1 strings); answers entries exits
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/core.hpp"
#include "signals/signals.hpp"

using namespace quillon;

namespace {

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  std::string w;
  while (in >> w) out.push_back(w);
  return out;
}

double num(const std::string& s) { return std::strtod(s.c_str(), nullptr); }

std::optional<double> opt_num(const std::string& s) {
  if (s == "-") return std::nullopt;
  return num(s);
}

std::string hex(double x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%a", x);
  return buf;
}

std::string opt_hex(const std::optional<double>& x) { return x ? hex(*x) : "-"; }

const char* reason_text(metrics::ExitReason r) {
  static const char* names[] = {"Signal",     "StopLoss",   "TakeProfit",  "TrailingStop",
                                "EndOfData",  "Order",      "Settlement",  "Liquidation",
                                "TimeExit",   "Squareoff"};
  return names[static_cast<int>(r)];
}

const char* refusal_text(core::EntryRefusal r) {
  static const char* names[] = {"MaxPositions", "DrawdownHalt",        "ZeroSize",  "Expired",
                                "Inactive",     "InsufficientCapital", "MarginCall"};
  return names[static_cast<int>(r)];
}

const char* kind_text(core::EventKind k) {
  static const char* names[] = {"entered",        "exited",         "entry_rejected",
                                "order_accepted", "order_triggered", "order_filled",
                                "order_canceled", "order_expired",  "order_rejected",
                                "margin_call",    "algo_started",   "algo_completed"};
  return names[static_cast<int>(k)];
}

// "key=value" pairs after the command word.
struct Args {
  std::vector<std::pair<std::string, std::string>> kv;
  explicit Args(const std::vector<std::string>& w) {
    for (std::size_t i = 1; i < w.size(); ++i) {
      const auto eq = w[i].find('=');
      kv.emplace_back(w[i].substr(0, eq), w[i].substr(eq + 1));
    }
  }
  const std::string* get(const std::string& k) const {
    for (const auto& [key, value] : kv)
      if (key == k) return &value;
    return nullptr;
  }
};

// "fixed:0.05", "atr:2:14", "trailing:0.03", "risk_reward:2".
std::vector<std::string> parts(const std::string& s) {
  std::vector<std::string> out(1);
  for (char c : s) {
    if (c == ':') out.emplace_back();
    else out.back() += c;
  }
  return out;
}

std::unique_ptr<core::Kernel> kernel;

std::string make_kernel(const Args& a) {
  config::BacktestConfig c;
  std::optional<config::InstrumentConfig> ic;
  core::KernelSetup s;
  if (auto v = a.get("capital")) c.initial_capital = num(*v);
  if (auto v = a.get("fees")) c.fees = num(*v);
  if (auto v = a.get("segment")) c.fee_segment = *v;
  if (auto v = a.get("slippage")) c.slippage = num(*v);
  if (auto v = a.get("limit_slippage")) c.limit_slippage = num(*v);
  if (auto v = a.get("close")) c.upon_bar_close = *v == "1";
  if (auto v = a.get("adaptive")) c.bar_path_adaptive = *v == "1";
  if (auto v = a.get("max_dd")) c.max_drawdown_pct = num(*v);
  if (auto v = a.get("max_positions")) c.max_positions = std::stoull(*v);
  if (auto v = a.get("liquidate")) c.liquidate_on_margin_call = *v == "1";
  if (auto v = a.get("stop")) {
    const auto p = parts(*v);
    if (p[0] == "fixed") c.stop = config::StopModel::fixed(num(p[1]));
    if (p[0] == "trailing") c.stop = config::StopModel::trailing(num(p[1]));
    if (p[0] == "atr") c.stop = config::StopModel::atr(num(p[1]), std::stoull(p[2]));
  }
  if (auto v = a.get("target")) {
    const auto p = parts(*v);
    if (p[0] == "fixed") c.target = config::TargetModel::fixed(num(p[1]));
    if (p[0] == "risk_reward") c.target = config::TargetModel::risk_reward(num(p[1]));
    if (p[0] == "atr") c.target = config::TargetModel::atr(num(p[1]), std::stoull(p[2]));
  }
  if (auto v = a.get("lot")) {
    ic = ic.value_or(config::InstrumentConfig{});
    ic->lot_size = num(*v);
  }
  s.settings = config::engine_settings(c);
  s.instrument_config = ic;
  if (auto v = a.get("direction")) s.direction = static_cast<std::int8_t>(std::stoi(*v));
  if (auto v = a.get("oms")) s.oms = *v == "hedging" ? core::OmsType::Hedging : core::OmsType::Netting;
  if (auto v = a.get("account"); v && *v == "margin") {
    const auto lev = a.get("leverage");
    s.account = core::AccountType::margin(lev ? num(*lev) : 1.0);
  }
  kernel = std::make_unique<core::Kernel>(std::move(s));
  return "ok";
}

std::string install(const Args& a) {
  config::InstrumentSpec spec;
  spec.symbol = "X";
  const std::string kind = a.get("kind") ? *a.get("kind") : "cash";
  if (kind == "contract") spec.kind = config::ContractKind{};
  if (kind == "option") {
    config::OptionKind o;
    o.strike = num(*a.get("strike"));
    o.right = *a.get("right") == "put" ? config::OptionRight::Put : config::OptionRight::Call;
    o.binary = a.get("binary") && *a.get("binary") == "1";
    spec.kind = o;
  }
  if (auto v = a.get("expiration")) spec.expiration_ns = std::stoll(*v);
  if (auto v = a.get("activation")) spec.activation_ns = std::stoll(*v);
  if (auto v = a.get("price_inc")) spec.price_increment = num(*v);
  if (auto v = a.get("size_inc")) spec.size_increment = num(*v);
  if (auto v = a.get("lot")) spec.lot_size = num(*v);
  if (auto v = a.get("mult")) spec.multiplier = num(*v);
  if (auto v = a.get("margin_init")) spec.margin_init = num(*v);
  if (auto v = a.get("margin_maint")) spec.margin_maint = num(*v);
  if (auto v = a.get("settlement_fee")) spec.settlement_fee = num(*v);
  kernel->install_instrument(spec);
  return "ok";
}

std::string describe(const core::Event& e) {
  std::string s = std::string(kind_text(e.kind)) + ":" + std::to_string(e.idx);
  switch (e.kind) {
    case core::EventKind::Entered:
      s += ":" + hex(e.price) + ":" + hex(e.size) + ":" + std::to_string(e.direction);
      break;
    case core::EventKind::Exited: {
      const auto& t = kernel->trades()[e.trade];
      s += ":" + std::string(reason_text(t.exit_reason)) + ":" + hex(e.price) + ":" +
           hex(e.size) + ":" + std::to_string(e.direction);
      break;
    }
    case core::EventKind::EntryRejected:
      s += std::string(":") + refusal_text(e.entry_refusal);
      break;
    case core::EventKind::MarginCall:
      s += ":" + hex(e.price) + ":" + hex(e.size);
      break;
    default:
      s += ":" + std::to_string(e.order_id);
  }
  return s;
}

std::string step(const std::vector<std::string>& w) {
  const std::uint64_t idx = std::stoull(w[1]);
  const core::Bar bar{std::stoll(w[2]), num(w[3]), num(w[4]), num(w[5]), num(w[6]), 1.0};
  core::Intents in;
  in.entry = w[7] == "1";
  in.exit = w[8] == "1";
  if (w.size() > 9) in.size_mult = opt_num(w[9]);
  if (w.size() > 10) in.stop_price = opt_num(w[10]);
  if (w.size() > 11) in.target_price = opt_num(w[11]);
  if (w.size() > 12) in.atr = num(w[12]);
  kernel->step(idx, bar, in);
  std::string out;
  for (const auto& e : kernel->events()) out += describe(e) + " ";
  kernel->mark(idx, bar);
  out += "| " + hex(kernel->equity());
  return out;
}

std::string trade_line(const metrics::Trade& t) {
  std::string s = std::to_string(t.id) + "," + std::to_string(t.entry_idx) + "," +
                  std::to_string(t.exit_idx) + "," + hex(t.entry_price) + "," +
                  hex(t.exit_price) + "," + hex(t.size) + "," + std::to_string(t.direction) +
                  "," + hex(t.pnl) + "," + hex(t.return_pct) + "," + hex(t.fees) + "," +
                  hex(t.entry_fees) + "," + hex(t.exit_fees) + "," + reason_text(t.exit_reason) +
                  "," + std::to_string(t.entry_time) + "," + std::to_string(t.exit_time);
  return s;
}

std::string answer(const std::vector<std::string>& w) {
  const std::string& cmd = w.at(0);
  if (cmd == "kernel") return make_kernel(Args(w));
  if (cmd == "spec") return install(Args(w));
  if (cmd == "underlying") {
    kernel->set_underlying_price(w[1] == "none" ? std::nullopt : std::optional<double>(num(w[1])));
    return "ok";
  }
  if (cmd == "close") {
    kernel->request_close(std::stoull(w[1]));
    return "ok";
  }
  if (cmd == "step") return step(w);
  if (cmd == "positions") {
    std::string s;
    for (const auto& p : kernel->positions())
      s += std::to_string(p.id) + ":" + opt_hex(p.stop) + ":" + opt_hex(p.target) + ":" +
           hex(p.size) + " ";
    return s;
  }
  if (cmd == "account") {
    const auto& a = kernel->account();
    return hex(a.cash) + " " + hex(kernel->free_capital()) + " " +
           std::to_string(a.margin_call) + " " + std::to_string(a.drawdown_halt) + " " +
           std::to_string(a.refused_entries);
  }
  if (cmd == "finish") {
    const auto r = kernel->finish();
    std::string s;
    for (const auto& t : r.trades) s += trade_line(t) + " ";
    s += "| " + std::to_string(r.metrics.total_trades) + " " + hex(r.metrics.end_value) + " " +
         std::to_string(r.equity.size());
    kernel.reset();
    return s;
  }
  if (cmd == "process") {
    const bool accumulate = w[1] == "1";
    const std::uint64_t max_units = std::stoull(w[2]);
    std::vector<std::uint8_t> e, x;
    for (char ch : w[3]) e.push_back(ch == '1');
    for (char ch : w[4]) x.push_back(ch == '1');
    auto r = signals::process(e, x, max_units, accumulate);
    if (!r.ok()) return "error " + r.error().message;
    std::string se, sx;
    for (auto b : r.value().entries) se += b ? '1' : '0';
    for (auto b : r.value().exits) sx += b ? '1' : '0';
    return se + " " + sx;
  }
  return "unknown command";
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::string out = answer(words(line));
    // One answer per line, whatever it contains.
    for (char& c : out)
      if (c == '\n') c = '/';
    std::cout << out << '\n';
  }
  return 0;
}
