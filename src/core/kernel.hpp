// The execution kernel: one instrument's account view, open positions and trades, stepped
// once per bar in ascending time order, with its recorder of equity, drawdown and returns.
// Every backtester and session drives it, so the bar step keeps a fixed order of operations
// and the common path (flat, or one position under netting) allocates nothing: events go
// into a buffer reused from step to step and the series into pre-reserved buffers.
// Pure C++ over config/, metrics/ and common/; no Python.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/buffer.hpp"
#include "config/config.hpp"
#include "core/errors.hpp"
#include "core/orders.hpp"
#include "core/records.hpp"
#include "execution/execution.hpp"
#include "metrics/metrics.hpp"

namespace quillon::core {

struct KernelSetup {
  config::EngineSettings settings;  // the run's snapshot of the configuration
  std::string symbol = "UNKNOWN";
  std::int8_t direction = 1;  // of signal entries
  std::optional<config::InstrumentConfig> instrument_config;
  OmsType oms = OmsType::Netting;
  AccountType account = AccountType::cash();
  // The single-instrument driver hands its own timestamp array to the metrics and skips
  // recording a copy; sessions record them.
  bool record_timestamps = true;
  std::size_t expected_bars = 0;  // capacity hint for the series
};

// Whole-array input of run(): bar i is element i of each array; `volume`, `size_mult` and
// `atr` may be null (volume not supplied; no size multiplier; ATR unknown, i.e. 0).
struct BarArrays {
  const std::int64_t* timestamp = nullptr;
  const double* open = nullptr;
  const double* high = nullptr;
  const double* low = nullptr;
  const double* close = nullptr;
  const double* volume = nullptr;
  std::size_t size = 0;
};
struct IntentArrays {
  const std::uint8_t* entries = nullptr;  // clean signals, exactly 0 or 1
  const std::uint8_t* exits = nullptr;
  const double* size_mult = nullptr;
  const double* atr = nullptr;
};

// How an opening fill is sized.
enum class SizingMode : std::uint8_t {
  AllIn,     // signal entries: available capital / ((margin rate + fees) × m × p) × multiplier
  Units,     // typed orders: the units given, checked against the available capital
  Fraction,  // typed orders: fraction × available capital / (p × m × (margin rate + fees))
};

struct OpenRequest {
  std::uint64_t idx = 0;
  std::int64_t timestamp = 0;
  double reference = 0.0;  // price before slippage
  std::int8_t direction = 1;
  SizingMode sizing = SizingMode::AllIn;
  double amount = 0.0;  // units or fraction
  std::optional<double> size_mult;
  std::optional<double> stop_price;  // explicit levels win over the models
  std::optional<double> target_price;
  double atr = 0.0;
};

struct OpenOutcome {
  bool opened = false;
  std::optional<EntryRefusal> refusal;  // neither: netting kept the open position
};

class Kernel {
 public:
  explicit Kernel(KernelSetup setup);

  // Installs a copy of a tradable specification (callers refuse an index first): its lot
  // size when the instrument configuration sets none and it is > 0 and not exactly 1, its
  // multiplier, grids, margin rates, activation, expiry and settlement fee.
  void install_instrument(const config::InstrumentSpec& spec);

  // One bar step, then its marking; callers always call both, in this order.
  void step(std::uint64_t idx, const Bar& bar, const Intents& intents);
  void mark(std::uint64_t idx, const Bar& bar);

  // step + mark for every bar of the arrays (the loop of the array runners).
  void run(const BarArrays& bars, const IntentArrays& intents);

  // Closes what is open at the last marked bar ("EndOfData": no slippage, no exit fees;
  // the series are not marked again), computes the metrics and hands over the outcome.
  // The kernel is consumed. The first form uses the recorded timestamps.
  metrics::BacktestResult finish();
  metrics::BacktestResult finish(std::span<const std::int64_t> timestamps);

  // Events of the most recent step, in the order produced (queued events first).
  std::span<const Event> events() const { return events_; }
  const std::vector<Trade>& trades() const { return trades_; }
  const std::vector<Position>& positions() const { return positions_; }
  const std::vector<Order>& orders() const { return orders_; }
  const Account& account() const { return account_; }
  const TradeStats& trade_stats() const { return stats_; }
  double cash() const { return account_.cash; }
  // Cash, less the initial margin locked for open positions in a margin account.
  double free_capital() const;
  // The last marked equity; the initial capital before the first step.
  double equity() const { return marked_ ? last_equity_ : settings_.initial_capital; }
  bool halted() const { return account_.drawdown_halt || account_.margin_call; }

  // ---- requests between steps (sessions) ----
  void request_close(std::uint64_t position_id) { close_requests_.push_back(position_id); }
  // New stop / target of the position with that id, or of the earliest position when no
  // id is given (nothing happens when flat). False when the id is unknown.
  bool set_stop(std::optional<std::uint64_t> position_id, std::optional<double> price);
  bool set_target(std::optional<std::uint64_t> position_id, std::optional<double> price);
  void set_underlying_price(std::optional<double> price) { underlying_price_ = price; }
  // Portfolio-wide open-position count for the max_positions gate; a caller that manages
  // several kernels hands it over before each step.
  void set_open_position_count(std::optional<std::uint64_t> count) { portfolio_open_ = count; }
  // Events produced between steps; the next step reports them first.
  void queue_event(const Event& e) { pending_events_.push_back(e); }

  // ---- typed orders (orders.cpp) ----
  // Validates and records an order; a working order's "order_accepted" is queued for the
  // next step. Returns the engine order id, or the first failed check's error.
  Result<std::uint64_t> submit_order(const OrderRequest& request);
  // Cancels a non-terminal order and queues its "order_canceled" with `idx`; false (and
  // nothing changes) for an unknown id or a terminal order.
  bool cancel_order(std::uint64_t idx, std::uint64_t order_id);
  // Cancels every non-terminal order in submission order; the canceled ids.
  std::vector<std::uint64_t> cancel_all_orders(std::uint64_t idx);
  // Replaces prices and/or quantity of a non-terminal order. All or nothing: false leaves
  // the order exactly as it was. The caller has refused units together with size_frac.
  bool modify_order(std::uint64_t order_id, const OrderChange& change);
  // One one-cancels-other group, id = the smallest id listed; unknown ids are skipped.
  void link_oco(std::span<const std::uint64_t> order_ids);
  std::vector<std::uint64_t> open_order_ids() const;
  // The order with that id (ids are positions in the submission list), or null.
  const Order* find_order(std::uint64_t order_id) const {
    return order_id < orders_.size() ? &orders_[order_id] : nullptr;
  }

  // ---- TWAP schedules (orders.cpp) ----
  // Registration after the caller has checked the side: slices, interval and units are
  // checked here, in that order. Queues "algo_started" with `submitted_idx`.
  Result<std::uint64_t> submit_twap(double units, OrderSide side, std::uint32_t slices,
                                    std::int64_t interval_ns, std::uint64_t submitted_idx,
                                    std::int64_t submitted_ts, std::string client_id,
                                    bool reduce_only);
  // Stops an active schedule and cancels its non-terminal slices (as cancel_order does);
  // false for an unknown, completed or already stopped schedule.
  bool cancel_twap(std::uint64_t algo_id, std::uint64_t idx);
  // The client id a schedule was registered with (kept after the schedule is removed).
  const std::string& algo_client_id(std::uint64_t algo_id) const;

 private:
  struct Marks {
    double equity;
    double drawdown;
    double ret;
  };
  [[gnu::always_inline]] inline void step_bar(std::uint64_t idx, const Bar& bar,
                                              const Intents& intents);
  [[gnu::always_inline]] inline Marks mark_bar(const Bar& bar);
  // Cash plus the open positions' value at `close`.
  [[gnu::always_inline]] inline double equity_at(double close) const;
  void latch_drawdown(double peak, double drawdown);
  void settle_expired(std::uint64_t idx, const Bar& bar, const Intents& intents);
  [[gnu::always_inline]] inline void manage_positions(std::uint64_t idx, const Bar& bar,
                                                      const Intents& intents, double selected);
  // Stop, target or signal exit of positions_[k] on this bar (at least one applies).
  void exit_position(std::size_t k, std::uint64_t idx, const Bar& bar, bool stop_hit,
                     bool target_hit, double selected);
  void close_requested(std::uint64_t idx, const Bar& bar, double selected);
  void check_margin(std::uint64_t idx, const Bar& bar, double selected);
  void signal_entry(std::uint64_t idx, const Bar& bar, const Intents& intents, double selected);
  void refuse_entry(std::uint64_t idx, EntryRefusal reason);
  // The typed-order passes of the step: working orders after the margin check; TWAP
  // slices, then the market orders submitted for this bar, after the signal entry.
  void evaluate_working_orders(std::uint64_t idx, const Bar& bar, const Intents& intents);
  void slice_schedules(std::uint64_t idx, const Bar& bar);
  void fill_orders_for_bar(std::uint64_t idx, const Bar& bar, double selected,
                           const Intents& intents);
  bool has_live_orders() const { return live_from_ < orders_.size(); }
  // One fill of orders_[k] at `price` through admission: the random model, then the
  // opening or closing rules, then the fill's effect on children and group. False when
  // the fill did not happen (the draw said wait, or the order was rejected).
  bool admit_fill(std::size_t k, std::uint64_t idx, const Bar& bar, double price,
                  const Intents& intents);
  void after_fill(std::size_t k, std::uint64_t idx);
  void reject_order(std::size_t k, std::uint64_t idx, OrderRefusal reason);
  void order_event(EventKind kind, std::uint64_t idx, std::uint64_t order_id);
  double draw();  // SplitMix64, uniform in [0, 1)

  OpenOutcome open_position(const OpenRequest& request);
  // Closes positions_[index] at `reference` (slippage applied except for settlement and
  // end of data), records the trade and emits "exited". `exit_fees` overrides the leg
  // cost (settlement and end of data).
  void close_position(std::size_t index, std::uint64_t idx, std::int64_t timestamp,
                      double reference, ExitReason reason,
                      std::optional<double> exit_fees = std::nullopt);
  double locked_margin() const;
  void release_margin(std::uint64_t position_id);
  Position* find_position(std::optional<std::uint64_t> position_id, bool& known);

  config::EngineSettings settings_;
  config::ProtectiveModels models_;
  std::string symbol_;
  std::int8_t direction_;
  OmsType oms_;
  std::optional<double> lot_size_;
  std::optional<double> alloted_capital_;
  std::optional<config::InstrumentSpec> spec_;
  InstrumentTerms terms_;
  std::optional<double> underlying_price_;
  std::optional<std::uint64_t> portfolio_open_;

  Account account_;
  std::vector<Position> positions_;  // opening order
  std::vector<Trade> trades_;        // closing order
  std::vector<Order> orders_;        // submission order, never removed; id = position
  std::size_t live_from_ = 0;        // every order before this one is terminal
  // What the working-order pass found for one order; carried out after the pass, in the
  // order found.
  enum class ActionKind : std::uint8_t { Fill, Trigger, Expire, Cancel, Reject };
  struct OrderAction {
    ActionKind kind;
    std::size_t order;  // position in orders_
    double price;       // Fill: the fill price; Trigger: a trailing-stop-limit's limit
    OrderRefusal refusal;
  };
  std::vector<OrderAction> actions_;  // found by the working-order pass, reused
  std::vector<execution::TwapSchedule> schedules_;  // registration order, finished removed
  std::vector<std::string> algo_client_ids_;        // by algorithm id, never removed
  std::vector<std::uint64_t> close_requests_;
  std::vector<Event> pending_events_;
  std::vector<Event> events_;
  std::uint64_t next_position_id_ = 0;
  std::uint64_t next_trade_id_ = 0;
  std::uint64_t next_order_id_ = 0;
  std::uint64_t rng_state_ = 0;  // random fill model, seeded with fill_seed

  // Recorder.
  bool record_timestamps_;
  common::Buffer<double> equity_;
  common::Buffer<double> drawdown_;
  common::Buffer<double> returns_;
  common::Buffer<std::int64_t> timestamps_;
  double peak_;
  double last_equity_ = 0.0;
  bool marked_ = false;
  std::uint64_t last_idx_ = 0;
  Bar last_bar_;
  TradeStats stats_;
  metrics::SeriesFigures figures_;  // of the drawdown and return series, kept as they grow
  bool finished_ = false;
};

}  // namespace quillon::core
