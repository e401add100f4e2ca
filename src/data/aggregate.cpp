// The five bar builders and the two array entry points. Window arithmetic is done in
// 128 bits where a timestamp plus an offset, or a window end, can leave the signed 64-bit
// nanosecond range; stamps that cannot be represented are clamped to it.
#include "data/aggregate.hpp"

#include <cmath>
#include <limits>
#include <type_traits>
#include <utility>

namespace quillon::data {
namespace {

__extension__ typedef __int128 i128;

constexpr std::int64_t ns_per_day = 86'400'000'000'000;

// Floor division for a positive divisor, also for negative numerators.
std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if (a % b != 0 && a < 0) --q;
  return q;
}
i128 floor_div_wide(i128 a, i128 b) {
  i128 q = a / b;
  if (a % b != 0 && a < 0) --q;
  return q;
}

// (timestamp + offset) / width, floored; the sum is formed in 128 bits only when it would
// overflow 64, which keeps the common path cheap.
std::int64_t local_index(std::int64_t timestamp, std::int64_t offset, std::int64_t width) {
  std::int64_t local;
  if (!__builtin_add_overflow(timestamp, offset, &local)) return floor_div(local, width);
  return static_cast<std::int64_t>(floor_div_wide(static_cast<i128>(timestamp) + offset, width));
}

std::int64_t clamp_ns(i128 v) {
  constexpr auto lo = std::numeric_limits<std::int64_t>::min();
  constexpr auto hi = std::numeric_limits<std::int64_t>::max();
  if (v < lo) return lo;
  if (v > hi) return hi;
  return static_cast<std::int64_t>(v);
}

// Proleptic Gregorian calendar <-> days since 1970-01-01, by 400-year eras (146,097 days)
// with years starting in March so the leap day falls at the end.
struct YearMonth {
  std::int64_t year;
  std::int64_t month;  // 1..12
};

YearMonth year_month_from_days(std::int64_t days) {
  const std::int64_t z = days + 719'468;  // days since 0000-03-01
  const std::int64_t era = floor_div(z, 146'097);
  const std::int64_t doe = z - era * 146'097;                                  // [0, 146096]
  const std::int64_t yoe = (doe - doe / 1'460 + doe / 36'524 - doe / 146'096) / 365;  // [0, 399]
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);             // [0, 365]
  const std::int64_t mp = (5 * doy + 2) / 153;                                  // March = 0
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  return {yoe + era * 400 + (month <= 2 ? 1 : 0), month};
}

std::int64_t days_from_first_of_month(std::int64_t year, std::int64_t month) {
  const std::int64_t y = year - (month <= 2 ? 1 : 0);
  const std::int64_t era = floor_div(y, 400);
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146'097 + doe - 719'468;
}

std::int64_t unit_length_ns(BarUnit u) {
  switch (u) {
    case BarUnit::Millisecond: return 1'000'000;
    case BarUnit::Second: return 1'000'000'000;
    case BarUnit::Minute: return 60'000'000'000;
    case BarUnit::Hour: return 3'600'000'000'000;
    case BarUnit::Day: return ns_per_day;
    case BarUnit::Week: return 604'800'000'000'000;
    default: return 0;
  }
}

}  // namespace

std::optional<BarUnit> parse_bar_unit(std::string_view t) {
  struct Entry {
    std::string_view text;
    BarUnit unit;
  };
  static constexpr Entry table[] = {
      {"ms", BarUnit::Millisecond},
      {"millisecond", BarUnit::Millisecond},
      {"s", BarUnit::Second},
      {"sec", BarUnit::Second},
      {"second", BarUnit::Second},
      {"m", BarUnit::Minute},
      {"min", BarUnit::Minute},
      {"minute", BarUnit::Minute},
      {"h", BarUnit::Hour},
      {"hour", BarUnit::Hour},
      {"d", BarUnit::Day},
      {"day", BarUnit::Day},
      {"w", BarUnit::Week},
      {"week", BarUnit::Week},
      {"month", BarUnit::Month},
      {"y", BarUnit::Year},
      {"year", BarUnit::Year},
      {"tick", BarUnit::Tick},
      {"volume", BarUnit::Volume},
      {"value", BarUnit::Value},
      {"renko", BarUnit::Renko},
      {"tick_imbalance", BarUnit::TickImbalance},
      {"tick_runs", BarUnit::TickRuns},
      {"volume_imbalance", BarUnit::VolumeImbalance},
      {"volume_runs", BarUnit::VolumeRuns},
      {"value_imbalance", BarUnit::ValueImbalance},
      {"value_runs", BarUnit::ValueRuns},
  };
  for (const Entry& e : table) {
    if (e.text == t) return e.unit;
  }
  return std::nullopt;
}

namespace detail {

// ---- time -------------------------------------------------------------------------------

std::int64_t TimeBarBuilder::window_of(std::int64_t timestamp) const {
  return local_index(timestamp, align_offset_ns_, width_ns_);
}

std::int64_t TimeBarBuilder::window_end(std::int64_t window) const {
  return clamp_ns((static_cast<i128>(window) + 1) * width_ns_ - align_offset_ns_);
}

void TimeBarBuilder::local_bounds(std::int64_t window, std::int64_t& lo,
                                  std::int64_t& hi) const {
  const i128 l = static_cast<i128>(window) * width_ns_;
  const i128 h = l + width_ns_;
  if (l >= std::numeric_limits<std::int64_t>::min() &&
      h <= std::numeric_limits<std::int64_t>::max()) {
    lo = static_cast<std::int64_t>(l);
    hi = static_cast<std::int64_t>(h);
  } else {
    lo = hi = 0;
  }
}

std::optional<Bar> TimeBarBuilder::flush() {
  std::optional<Bar> out;
  if (partial_ && window_) out = partial_->stamped(window_end(*window_));
  partial_.reset();
  window_.reset();
  local_lo_ = local_hi_ = 0;
  return out;
}

// ---- calendar ---------------------------------------------------------------------------

// The first local instant of bucket + 1 (day 1 of month (bucket + 1) * step, or 1 January
// of year (bucket + 1) * step), as UTC. A large step can put it past 2262; it is clamped.
std::int64_t CalendarBarBuilder::bucket_end(std::int64_t bucket) const {
  const std::int64_t next = (bucket + 1) * static_cast<std::int64_t>(spec_.step);
  std::int64_t days;
  if (spec_.unit == BarUnit::Month) {
    days = days_from_first_of_month(floor_div(next, std::int64_t{12}),
                                    next - floor_div(next, std::int64_t{12}) * 12 + 1);
  } else {
    days = days_from_first_of_month(next, 1);
  }
  return clamp_ns(static_cast<i128>(days) * ns_per_day - align_offset_ns_);
}

std::optional<Bar> CalendarBarBuilder::push(const SourceRecord& r) {
  const YearMonth ym = year_month_from_days(local_index(r.timestamp, align_offset_ns_, ns_per_day));
  const std::int64_t index = spec_.unit == BarUnit::Month ? ym.year * 12 + (ym.month - 1) : ym.year;
  // Timestamps span years 1385..2554 even with an offset, so the index is never negative;
  // floor division keeps the alignment right regardless.
  const std::int64_t bucket = floor_div(index, static_cast<std::int64_t>(spec_.step));
  if (window_ && partial_ && bucket == *window_) {
    partial_->merge(r);
    return std::nullopt;
  }
  std::optional<Bar> out;
  if (window_ && partial_) out = partial_->stamped(bucket_end(*window_));
  partial_ = PartialBar::start(r);
  window_ = bucket;
  return out;
}

std::optional<Bar> CalendarBarBuilder::flush() {
  std::optional<Bar> out;
  if (partial_ && window_) out = partial_->stamped(bucket_end(*window_));
  partial_.reset();
  window_.reset();
  return out;
}

// ---- count ------------------------------------------------------------------------------

std::optional<Bar> CountBarBuilder::flush() {
  ticks_ = 0;
  accumulated_ = 0.0;
  std::optional<Bar> out;
  if (partial_) out = partial_->stamped(last_ts_);
  partial_.reset();
  return out;
}

// ---- signed flow ------------------------------------------------------------------------

std::optional<Bar> FlowBarBuilder::push(const SourceRecord& r) {
  const double s = r.signed_volume;
  double d;
  if (s != 0.0) {  // known direction (NaN is "known" and counts as a sell)
    d = std::isnan(s) ? s : (s > 0.0 ? 1.0 : -1.0);
  } else {  // tick rule: an unchanged (or incomparable) price repeats the last direction
    if (!prev_close_) {
      d = 1.0;
    } else if (r.close > *prev_close_) {
      d = 1.0;
    } else if (r.close < *prev_close_) {
      d = -1.0;
    } else {
      d = prev_sign_;
    }
    prev_sign_ = d;
  }
  prev_close_ = r.close;
  last_ts_ = r.timestamp;

  double m = 1.0;
  if (magnitude_ == Magnitude::Volume) m = r.volume;
  if (magnitude_ == Magnitude::Value) m = r.volume * r.close;
  if (d >= 0.0) {
    buy_ = buy_ + m;
  } else {
    sell_ = sell_ + m;
  }

  if (partial_) {
    partial_->merge(r);
  } else {
    partial_ = PartialBar::start(r);
  }

  const double stat = rule_ == Rule::Runs ? max_skip_nan(buy_, sell_) : std::fabs(buy_ - sell_);
  if (!(threshold_ <= stat)) return std::nullopt;
  buy_ = 0.0;
  sell_ = 0.0;
  const Bar done = partial_->stamped(r.timestamp);
  partial_.reset();
  return done;
}

std::optional<Bar> FlowBarBuilder::flush() {
  buy_ = 0.0;
  sell_ = 0.0;
  std::optional<Bar> out;
  if (partial_) out = partial_->stamped(last_ts_);
  partial_.reset();
  return out;
}

// ---- Renko ------------------------------------------------------------------------------

std::optional<Bar> RenkoBarBuilder::push(const SourceRecord& r) {
  const double close = r.close;
  if (!anchor_) {
    // A NaN close cannot anchor: a NaN anchor would never move again and every later
    // record would be silently dropped. Wait for the first comparable close instead.
    if (!std::isnan(close)) anchor_ = std::floor(close / brick_) * brick_;
    return std::nullopt;
  }
  const double moves = std::floor(std::fabs(close - *anchor_) / brick_);
  std::uint64_t k;
  if (!(moves >= 1.0)) {
    k = 0;  // NaN included
  } else if (moves >= 18446744073709551616.0) {
    k = std::numeric_limits<std::uint64_t>::max();
  } else {
    k = static_cast<std::uint64_t>(moves);
  }
  if (k == 0) return std::nullopt;  // bricks still queued stay queued

  const std::uint64_t m = k < max_bricks_per_push ? k : max_bricks_per_push;
  const bool up = close > *anchor_;
  double open = *anchor_;
  for (std::uint64_t j = 0; j < m; ++j) {
    const double shut = up ? open + brick_ : open - brick_;
    pending_.push_back(Bar{r.timestamp, open, open > shut ? open : shut,
                           open < shut ? open : shut, shut, j + 1 == m ? r.volume : 0.0});
    open = shut;
  }
  anchor_ = k > max_bricks_per_push ? std::floor(close / brick_) * brick_ : open;
  return pop();
}

std::optional<Bar> RenkoBarBuilder::pop() {
  if (pending_.empty()) return std::nullopt;
  const Bar b = pending_.front();
  pending_.pop_front();
  return b;
}

}  // namespace detail

// ---- construction and entry points ------------------------------------------------------

Result<BarBuilder> BarBuilder::make(std::uint32_t step, std::string_view unit_text,
                                    std::int64_t tz_offset_ns, double brick_size) {
  const std::optional<BarUnit> unit = parse_bar_unit(unit_text);
  if (!unit) return common::Err{Error::unknown_aggregation_unit(unit_text)};
  if (step == 0) return common::Err{Error::aggregation_step_zero()};
  using detail::CountBarBuilder;
  using detail::FlowBarBuilder;
  const double amount = static_cast<double>(step);
  switch (*unit) {
    case BarUnit::Millisecond:
    case BarUnit::Second:
    case BarUnit::Minute:
    case BarUnit::Hour:
    case BarUnit::Day:
    case BarUnit::Week: {
      std::int64_t width;
      // A wrapped width would silently give nonsense windows; refuse it instead.
      if (__builtin_mul_overflow(static_cast<std::int64_t>(step), unit_length_ns(*unit), &width)) {
        return common::Err{Error::invalid_builder_parameter(
            "step * unit length must fit in signed 64-bit nanoseconds")};
      }
      return BarBuilder(detail::TimeBarBuilder(width, tz_offset_ns));
    }
    case BarUnit::Month:
    case BarUnit::Year:
      return BarBuilder(detail::CalendarBarBuilder(BarSpec{step, *unit}, tz_offset_ns));
    case BarUnit::Tick:
      return BarBuilder(CountBarBuilder(CountBarBuilder::Threshold::Ticks, step, 0.0));
    case BarUnit::Volume:
      return BarBuilder(CountBarBuilder(CountBarBuilder::Threshold::Volume, 0, amount));
    case BarUnit::Value:
      return BarBuilder(CountBarBuilder(CountBarBuilder::Threshold::Value, 0, amount));
    case BarUnit::Renko: {
      // Zero, negative and NaN sizes fall back to the step.
      const double brick = brick_size > 0.0 ? brick_size : amount;
      if (brick == std::numeric_limits<double>::infinity()) {
        return common::Err{Error::invalid_builder_parameter("brick_size must be finite and > 0")};
      }
      return BarBuilder(detail::RenkoBarBuilder(brick));
    }
    case BarUnit::TickImbalance:
      return BarBuilder(FlowBarBuilder(FlowBarBuilder::Magnitude::Tick,
                                       FlowBarBuilder::Rule::Imbalance, amount));
    case BarUnit::TickRuns:
      return BarBuilder(
          FlowBarBuilder(FlowBarBuilder::Magnitude::Tick, FlowBarBuilder::Rule::Runs, amount));
    case BarUnit::VolumeImbalance:
      return BarBuilder(FlowBarBuilder(FlowBarBuilder::Magnitude::Volume,
                                       FlowBarBuilder::Rule::Imbalance, amount));
    case BarUnit::VolumeRuns:
      return BarBuilder(FlowBarBuilder(FlowBarBuilder::Magnitude::Volume,
                                       FlowBarBuilder::Rule::Runs, amount));
    case BarUnit::ValueImbalance:
      return BarBuilder(FlowBarBuilder(FlowBarBuilder::Magnitude::Value,
                                       FlowBarBuilder::Rule::Imbalance, amount));
    case BarUnit::ValueRuns:
      return BarBuilder(FlowBarBuilder(FlowBarBuilder::Magnitude::Value,
                                       FlowBarBuilder::Rule::Runs, amount));
  }
  return common::Err{Error::unknown_aggregation_unit(unit_text)};  // unreachable
}

Result<BarAggregator> BarAggregator::make(std::uint32_t step, std::string_view unit,
                                          std::int64_t tz_offset_ns, double brick_size) {
  auto b = BarBuilder::make(step, unit, tz_offset_ns, brick_size);
  if (!b.ok()) return common::Err{std::move(b).error()};
  return BarAggregator(std::move(b).value());
}

namespace {

void reserve(BarColumns& out, std::size_t n) {
  out.timestamps.reserve(n);
  out.open.reserve(n);
  out.high.reserve(n);
  out.low.reserve(n);
  out.close.reserve(n);
  out.volume.reserve(n);
}

void append(BarColumns& out, const Bar& b) {
  out.timestamps.push_back(b.timestamp);
  out.open.push_back(b.open);
  out.high.push_back(b.high);
  out.low.push_back(b.low);
  out.close.push_back(b.close);
  out.volume.push_back(b.volume);
}

std::uint64_t span_of(std::span<const std::int64_t> ts) {
  if (ts.empty()) return 0;
  const i128 d = static_cast<i128>(ts.back()) - ts.front();
  return static_cast<std::uint64_t>(d < 0 ? -d : d);
}

// Pushes each record in order, draining held-back bars after every push, then flushes
// once. Dispatches on the builder once, outside the loop; time and count bars (the common
// cases over large arrays) take their dedicated loops.
// `span_ns` is the distance from the first to the last timestamp: with the time builder
// it bounds the number of bars of ascending data, so the columns are sized once instead
// of growing (a hint only: descending records may need more, and growth covers that).
template <class Row>
BarColumns run(BarBuilder& builder, std::size_t n, std::uint64_t span_ns, Row&& row) {
  BarColumns out;
  builder.visit([&](auto& b) {
    auto emit = [&](const Bar& bar) { append(out, bar); };
    using B = std::decay_t<decltype(b)>;
    if constexpr (std::is_same_v<B, detail::TimeBarBuilder>) {
      const std::uint64_t windows = span_ns / static_cast<std::uint64_t>(b.width_ns()) + 2;
      reserve(out, windows < n + 1 ? static_cast<std::size_t>(windows) : n + 1);
      b.push_rows(n, row, emit);
    } else if constexpr (std::is_same_v<B, detail::CountBarBuilder>) {
      b.push_rows(n, row, emit);
    } else {
      SourceRecord r{};
      for (std::size_t i = 0; i < n; ++i) {
        if (!row(i, r)) continue;
        if (auto bar = b.push(r)) emit(*bar);
        while (auto more = b.next_pending()) emit(*more);
      }
    }
    if (auto last = b.flush()) emit(*last);
  });
  return out;
}

}  // namespace

Result<BarColumns> aggregate_bars(std::span<const std::int64_t> timestamps,
                                  std::span<const double> open, std::span<const double> high,
                                  std::span<const double> low, std::span<const double> close,
                                  std::span<const double> volume, std::uint32_t step,
                                  std::string_view unit, std::int64_t tz_offset_ns,
                                  double brick_size) {
  const std::size_t n = timestamps.size();
  if (open.size() != n || high.size() != n || low.size() != n || close.size() != n ||
      volume.size() != n) {
    return common::Err{Error::aggregation_lengths_differ()};
  }
  auto made = BarBuilder::make(step, unit, tz_offset_ns, brick_size);
  if (!made.ok()) return common::Err{std::move(made).error()};
  return run(made.value(), n, span_of(timestamps), [&](std::size_t i, SourceRecord& r) {
    r = SourceRecord{timestamps[i], open[i], high[i], low[i], close[i], volume[i], 0.0};
    return true;
  });
}

Result<BarColumns> bars_from_ticks(std::span<const std::int64_t> timestamps,
                                   std::span<const double> ltp,
                                   std::span<const double> buy_qty_delta,
                                   std::span<const double> sell_qty_delta, std::uint32_t step,
                                   std::string_view unit, std::int64_t tz_offset_ns,
                                   double brick_size) {
  const std::size_t n = timestamps.size();
  if (ltp.size() != n || buy_qty_delta.size() != n || sell_qty_delta.size() != n) {
    return common::Err{Error::aggregation_lengths_differ()};
  }
  auto made = BarBuilder::make(step, unit, tz_offset_ns, brick_size);
  if (!made.ok()) return common::Err{std::move(made).error()};
  return run(made.value(), n, span_of(timestamps), [&](std::size_t i, SourceRecord& r) {
    const double price = ltp[i];
    if (!(price > 0.0)) return false;  // zero, negative and NaN: no print
    const double buy = std::fabs(buy_qty_delta[i]);
    const double sell = std::fabs(sell_qty_delta[i]);
    r = SourceRecord{timestamps[i], price, price, price, price, buy + sell, buy - sell};
    return true;
  });
}

}  // namespace quillon::data
