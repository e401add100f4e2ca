// Bar aggregation: finer records (bars or trade prints) into coarser bars through one of
// five builders (time, calendar, count, signed flow, Renko) behind one interface. Pure C++
// (no Python); failures are values of the indicator error family.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "indicators/errors.hpp"

namespace quillon::data {

using indicators::Error;
template <class T>
using Result = indicators::Result<T>;

enum class BarUnit : std::uint8_t {
  Millisecond,
  Second,
  Minute,
  Hour,
  Day,
  Week,
  Month,
  Year,
  Tick,
  Volume,
  Value,
  Renko,
  TickImbalance,
  TickRuns,
  VolumeImbalance,
  VolumeRuns,
  ValueImbalance,
  ValueRuns,
};

// Exact, case-sensitive spellings ("m", "min", "minute", ...); nullopt for anything else.
std::optional<BarUnit> parse_bar_unit(std::string_view text);

struct BarSpec {
  std::uint32_t step;
  BarUnit unit;
};

// What every builder consumes. A finer bar has signed_volume 0; a trade has all four
// prices equal to its price, volume = size and signed_volume = buy minus sell volume.
struct SourceRecord {
  std::int64_t timestamp;  // ns since the Unix epoch, UTC
  double open, high, low, close, volume, signed_volume;
};

// What every builder emits.
struct Bar {
  std::int64_t timestamp;
  double open, high, low, close, volume;
};

namespace detail {

// The bar under construction.
struct PartialBar {
  double open, high, low, close, volume;

  static PartialBar start(const SourceRecord& r) {
    return {r.open, r.high, r.low, r.close, r.volume};
  }
  void merge(const SourceRecord& r);
  Bar stamped(std::int64_t ts) const { return {ts, open, high, low, close, volume}; }
};

// Fixed-width windows of width_ns, aligned at multiples of the width in local time
// (UTC + align_offset_ns) and stamped with the window end as a UTC instant.
class TimeBarBuilder {
 public:
  TimeBarBuilder(std::int64_t width_ns, std::int64_t align_offset_ns)
      : width_ns_(width_ns), align_offset_ns_(align_offset_ns) {}
  std::optional<Bar> push(const SourceRecord& r);
  std::optional<Bar> flush();
  std::optional<Bar> next_pending() { return std::nullopt; }

 private:
  std::int64_t window_end(std::int64_t window) const;

  std::int64_t width_ns_;
  std::int64_t align_offset_ns_;
  std::optional<std::int64_t> window_;
  std::optional<PartialBar> partial_;
};

// Month or year buckets of `step` units counted from January of year 0 (step 3 months
// gives calendar quarters), in local time, stamped with the next bucket's first instant.
class CalendarBarBuilder {
 public:
  CalendarBarBuilder(BarSpec spec, std::int64_t align_offset_ns)
      : spec_(spec), align_offset_ns_(align_offset_ns) {}
  std::optional<Bar> push(const SourceRecord& r);
  std::optional<Bar> flush();
  std::optional<Bar> next_pending() { return std::nullopt; }

 private:
  std::int64_t bucket_end(std::int64_t bucket) const;

  BarSpec spec_;
  std::int64_t align_offset_ns_;
  std::optional<std::int64_t> window_;
  std::optional<PartialBar> partial_;
};

// A bar per `step` records, or once accumulated volume / value reaches the threshold.
class CountBarBuilder {
 public:
  enum class Threshold : std::uint8_t { Ticks, Volume, Value };
  CountBarBuilder(Threshold kind, std::uint64_t count, double amount)
      : kind_(kind), count_(count), amount_(amount) {}
  std::optional<Bar> push(const SourceRecord& r);
  std::optional<Bar> flush();
  std::optional<Bar> next_pending() { return std::nullopt; }

 private:
  Threshold kind_;
  std::uint64_t count_;  // Ticks
  double amount_;        // Volume, Value
  std::uint64_t ticks_ = 0;
  double accumulated_ = 0.0;
  std::int64_t last_ts_ = 0;
  std::optional<PartialBar> partial_;
};

// Signed-flow bars: buy and sell magnitude (ticks, volume or value) accumulate per bar;
// a bar closes once the imbalance |buy - sell| or the longer run max(buy, sell) reaches
// the threshold. Direction comes from the signed volume, or the tick rule when unknown.
class FlowBarBuilder {
 public:
  enum class Magnitude : std::uint8_t { Tick, Volume, Value };
  enum class Rule : std::uint8_t { Imbalance, Runs };
  FlowBarBuilder(Magnitude magnitude, Rule rule, double threshold)
      : magnitude_(magnitude), rule_(rule), threshold_(threshold) {}
  std::optional<Bar> push(const SourceRecord& r);
  std::optional<Bar> flush();
  std::optional<Bar> next_pending() { return std::nullopt; }

 private:
  Magnitude magnitude_;
  Rule rule_;
  double threshold_;
  std::optional<PartialBar> partial_;
  double buy_ = 0.0;
  double sell_ = 0.0;
  std::optional<double> prev_close_;  // kept across bars and flushes
  double prev_sign_ = 1.0;
  std::int64_t last_ts_ = 0;
};

// Renko bricks of a fixed size from the close. One record can complete many bricks; they
// queue up and leave one per push / next_pending / flush call.
class RenkoBarBuilder {
 public:
  // Bricks built by one push; a larger move re-anchors instead of building the rest.
  static constexpr std::uint64_t max_bricks_per_push = 10'000;

  explicit RenkoBarBuilder(double brick) : brick_(brick) {}
  std::optional<Bar> push(const SourceRecord& r);
  std::optional<Bar> flush() { return pop(); }
  std::optional<Bar> next_pending() { return pop(); }

 private:
  std::optional<Bar> pop();

  double brick_;
  std::optional<double> anchor_;
  std::deque<Bar> pending_;
};

}  // namespace detail

// One builder of any kind, chosen once from (step, unit).
class BarBuilder {
 public:
  using Any = std::variant<detail::TimeBarBuilder, detail::CalendarBarBuilder,
                           detail::CountBarBuilder, detail::FlowBarBuilder,
                           detail::RenkoBarBuilder>;

  // Checks, in this order: the unit string, step >= 1, then the builder's own parameters
  // (a time width that fits signed 64-bit nanoseconds, a finite Renko brick).
  static Result<BarBuilder> make(std::uint32_t step, std::string_view unit,
                                 std::int64_t tz_offset_ns, double brick_size);

  std::optional<Bar> push(const SourceRecord& r) {
    return std::visit([&](auto& b) { return b.push(r); }, any_);
  }
  std::optional<Bar> flush() {
    return std::visit([](auto& b) { return b.flush(); }, any_);
  }
  std::optional<Bar> next_pending() {
    return std::visit([](auto& b) { return b.next_pending(); }, any_);
  }
  // Runs f on the concrete builder, so a loop over many records dispatches once.
  template <class F>
  decltype(auto) visit(F&& f) {
    return std::visit(std::forward<F>(f), any_);
  }

 private:
  explicit BarBuilder(Any any) : any_(std::move(any)) {}
  Any any_;
};

// The streaming aggregator: one builder, fed a record at a time. Usable again after flush.
class BarAggregator {
 public:
  static Result<BarAggregator> make(std::uint32_t step, std::string_view unit,
                                    std::int64_t tz_offset_ns, double brick_size);

  std::optional<Bar> push_bar(std::int64_t timestamp, double open, double high, double low,
                              double close, double volume) {
    return builder_.push({timestamp, open, high, low, close, volume, 0.0});
  }
  std::optional<Bar> push_trade(std::int64_t timestamp, double price, double size,
                                double signed_size) {
    return builder_.push({timestamp, price, price, price, price, size, signed_size});
  }
  std::optional<Bar> next_pending() { return builder_.next_pending(); }
  std::optional<Bar> flush() { return builder_.flush(); }

 private:
  explicit BarAggregator(BarBuilder b) : builder_(std::move(b)) {}
  BarBuilder builder_;
};

// Emitted bars as columns, in emission order.
struct BarColumns {
  std::vector<std::int64_t> timestamps;
  std::vector<double> open, high, low, close, volume;
};

// Every row pushed in order (draining held-back bars after each), then one flush.
Result<BarColumns> aggregate_bars(std::span<const std::int64_t> timestamps,
                                  std::span<const double> open, std::span<const double> high,
                                  std::span<const double> low, std::span<const double> close,
                                  std::span<const double> volume, std::uint32_t step,
                                  std::string_view unit, std::int64_t tz_offset_ns,
                                  double brick_size);

// Rows with ltp > 0 become trade prints of size |buy| + |sell| and signed size
// |buy| - |sell| (the tick feed's rule); all others are skipped.
Result<BarColumns> bars_from_ticks(std::span<const std::int64_t> timestamps,
                                   std::span<const double> ltp,
                                   std::span<const double> buy_qty_delta,
                                   std::span<const double> sell_qty_delta, std::uint32_t step,
                                   std::string_view unit, std::int64_t tz_offset_ns,
                                   double brick_size);

}  // namespace quillon::data
