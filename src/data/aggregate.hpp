// Bar aggregation: finer records (bars or trade prints) into coarser bars through one of
// five builders (time, calendar, count, signed flow, Renko) behind one interface. Pure C++
// (no Python); failures are values of the indicator error family.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string_view>
#include <variant>

#include "common/buffer.hpp"
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

// max and min ignoring NaN: of two values the non-NaN one wins, NaN only when both are.
// Written as one select each so the per-record merge has no branches.
inline double max_skip_nan(double a, double b) { return (a > b || b != b) ? a : b; }
inline double min_skip_nan(double a, double b) { return (a < b || b != b) ? a : b; }

// The bar under construction.
struct PartialBar {
  double open, high, low, close, volume;

  static PartialBar start(const SourceRecord& r) {
    return {r.open, r.high, r.low, r.close, r.volume};
  }
  // Open is kept; high/low ignore NaN; close is the record's; volumes add.
  void merge(const SourceRecord& r) {
    high = max_skip_nan(high, r.high);
    low = min_skip_nan(low, r.low);
    close = r.close;
    volume = volume + r.volume;
  }
  Bar stamped(std::int64_t ts) const { return {ts, open, high, low, close, volume}; }
};

// One record through a builder's batch path (push_rows), so the streaming and array entry
// points share the same loop.
template <class Builder>
std::optional<Bar> push_one(Builder& builder, const SourceRecord& record) {
  std::optional<Bar> out;
  builder.push_rows(
      1,
      [&](std::size_t, SourceRecord& r) {
        r = record;
        return true;
      },
      [&](const Bar& b) { out = b; });
  return out;
}

// Fixed-width windows of width_ns, aligned at multiples of the width in local time
// (UTC + align_offset_ns) and stamped with the window end as a UTC instant. Any change of
// window closes the bar, an earlier one included: out-of-order records are not refused,
// they just cut the bar short.
class TimeBarBuilder {
 public:
  TimeBarBuilder(std::int64_t width_ns, std::int64_t align_offset_ns)
      : width_ns_(width_ns), align_offset_ns_(align_offset_ns) {}

  std::optional<Bar> push(const SourceRecord& record) { return push_one(*this, record); }
  std::optional<Bar> flush();
  std::optional<Bar> next_pending() { return std::nullopt; }

  std::int64_t width_ns() const { return width_ns_; }

  // push() for rows 0..n-1 in order: row(i, r) fills r and returns false for a row to
  // skip; emit(bar) receives each completed bar. The bar under construction lives in
  // locals, and a record inside the current window costs two comparisons on its local
  // time; window arithmetic (a division, 128-bit products) runs only when the window
  // changes, and not even the division when it moves to the adjacent one.
  template <class Row, class Emit>
  void push_rows(std::size_t n, Row&& row, Emit&& emit) {
    bool open = partial_.has_value();
    PartialBar p = open ? *partial_ : PartialBar{};
    std::int64_t w = open ? *window_ : 0;
    std::int64_t lo = local_lo_, hi = local_hi_;
    const std::int64_t offset = align_offset_ns_, width = width_ns_;
    SourceRecord r{};
    std::size_t i = 0;
    while (i < n) {
      if (open && lo != hi) {
        i = merge_window(row, i, n, lo, hi, offset, p, r);
        if (i == n) break;
      } else if (!row(i, r)) {
        ++i;
        continue;
      }
      ++i;
      // r left the current window (or no window is open, or its bounds do not fit).
      std::int64_t local;
      const bool fits = !__builtin_add_overflow(r.timestamp, offset, &local);
      std::int64_t next;
      if (open && fits && lo != hi && local >= hi && local - hi < width) {
        next = w + 1;
      } else {
        next = window_of(r.timestamp);
        if (open && next == w) {  // the current window, beyond 64-bit local bounds
          p.merge(r);
          continue;
        }
      }
      if (open) emit(p.stamped(window_end(w)));
      p = PartialBar::start(r);
      open = true;
      w = next;
      local_bounds(w, lo, hi);
    }
    if (open) {
      partial_ = p;
      window_ = w;
    }
    local_lo_ = lo;
    local_hi_ = hi;
  }

 private:
  // The hot loop: merges rows from i on while they fall in [lo, hi) of local time and
  // returns the index of the first row that does not (r then holds it), or n. A function
  // of its own, without calls inside, so the bar stays in registers instead of being
  // spilled around the window arithmetic of the caller.
  template <class Row>
  [[gnu::noinline]] static std::size_t merge_window(Row& row, std::size_t i, std::size_t n,
                                                    std::int64_t lo, std::int64_t hi,
                                                    std::int64_t offset, PartialBar& bar,
                                                    SourceRecord& r) {
    PartialBar p = bar;
    for (; i < n; ++i) {
      if (!row(i, r)) continue;
      std::int64_t local;
      if (__builtin_add_overflow(r.timestamp, offset, &local) || local < lo || local >= hi) {
        break;
      }
      p.merge(r);
    }
    bar = p;
    return i;
  }

  // floor((timestamp + offset) / width), exact for every 64-bit input.
  std::int64_t window_of(std::int64_t timestamp) const;
  // The window's end as a UTC instant, clamped to the 64-bit range.
  std::int64_t window_end(std::int64_t window) const;
  // [lo, hi) of the window in local time; lo == hi when that does not fit 64 bits, which
  // sends every record through the exact path.
  void local_bounds(std::int64_t window, std::int64_t& lo, std::int64_t& hi) const;

  std::int64_t width_ns_;
  std::int64_t align_offset_ns_;
  std::optional<std::int64_t> window_;
  std::optional<PartialBar> partial_;
  std::int64_t local_lo_ = 0;
  std::int64_t local_hi_ = 0;
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

  std::optional<Bar> push(const SourceRecord& record) { return push_one(*this, record); }
  std::optional<Bar> flush();
  std::optional<Bar> next_pending() { return std::nullopt; }

  // push() for rows 0..n-1 in order (row and emit as for the time builder).
  template <class Row, class Emit>
  void push_rows(std::size_t n, Row&& row, Emit&& emit) {
    State st{partial_.has_value(), partial_ ? *partial_ : PartialBar{}, ticks_, accumulated_,
             last_ts_};
    std::size_t i = 0;
    while (i < n) {
      i = fill_bar(row, i, n, st);
      if (i == n && !st.complete) break;
      // The excess beyond the threshold is not carried into the next bar.
      st.complete = false;
      st.ticks = 0;
      st.accumulated = 0.0;
      st.open = false;
      emit(st.bar.stamped(st.last_ts));
    }
    partial_.reset();
    if (st.open) partial_ = st.bar;
    ticks_ = st.ticks;
    accumulated_ = st.accumulated;
    last_ts_ = st.last_ts;
  }

 private:
  struct State {
    bool open;
    PartialBar bar;
    std::uint64_t ticks;
    double accumulated;
    std::int64_t last_ts;
    bool complete = false;
  };

  // Merges rows from i on until one completes the bar (complete set, returns the index
  // after it) or the rows run out (returns n). Kept free of calls so the bar stays in
  // registers.
  template <class Row>
  [[gnu::noinline]] std::size_t fill_bar(Row& row, std::size_t i, std::size_t n,
                                         State& state) const {
    State st = state;
    SourceRecord r{};
    while (i < n) {
      if (!row(i++, r)) continue;
      if (st.open) {
        st.bar.merge(r);
      } else {
        st.bar = PartialBar::start(r);
        st.open = true;
      }
      ++st.ticks;
      st.last_ts = r.timestamp;
      if (kind_ == Threshold::Ticks) {
        st.complete = st.ticks >= count_;
      } else {
        st.accumulated =
            st.accumulated + (kind_ == Threshold::Volume ? r.volume : r.volume * r.close);
        st.complete = st.accumulated >= amount_;  // a NaN accumulation never completes
      }
      if (st.complete) break;
    }
    state = st;
    return i;
  }

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
  common::Buffer<std::int64_t> timestamps;
  common::Buffer<double> open, high, low, close, volume;
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
