// Streaming indicator cores. The arithmetic of every update is written in exactly the form
// the batch twins use (seed = left-to-right sum / p, smoothing (1 - a) * v + x * a, Wilder
// weight 1/p computed per update), because equality with the batch values is bit for bit.
#include "indicators/streaming.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <new>

#include "common/text.hpp"

namespace quillon::indicators {
namespace detail {
namespace {

__extension__ typedef unsigned __int128 u128;

std::string decimal(u128 v) {
  if (v == 0) return "0";
  std::string s;
  while (v != 0) {
    s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  }
  return s;
}

}  // namespace

bool Ring::allocate(std::uint64_t values, std::uint64_t extra, AllocationFailure& failure) {
  const u128 capacity = static_cast<u128>(values) + extra;
  const u128 bytes = capacity * sizeof(double);
  // Above PTRDIFF_MAX no allocation can succeed; asking would only make new[] throw.
  if (bytes <= static_cast<u128>(std::numeric_limits<std::ptrdiff_t>::max())) {
    buf_.reset(new (std::nothrow) double[static_cast<std::size_t>(capacity)]);
    if (buf_) {
      cap_ = static_cast<std::uint64_t>(capacity);
      head_ = 0;
      len_ = 0;
      return true;
    }
  }
  failure.message = common::fill("memory allocation of {} bytes failed", decimal(bytes));
  return false;
}

// Warm-up: sum the first p values left to right, seed = sum / p (the value exists from
// update p on). Then v = (1 - a) * v + x * a in exactly this form.
bool EmaState::update(double x) noexcept {
  if (seeded) {
    value = (1.0 - alpha) * value + x * alpha;
    return true;
  }
  sum = sum + x;
  ++count;
  if (count == period) {
    value = sum / static_cast<double>(period);
    seeded = true;
  }
  return seeded;
}

}  // namespace detail

namespace {

using namespace detail;
__extension__ typedef unsigned __int128 u128;

std::uint64_t at_least_one(std::uint64_t p) { return p == 0 ? 1 : p; }

EmaState ema_state(std::uint64_t p, double alpha) {
  EmaState s;
  s.period = p;
  s.alpha = alpha;
  return s;
}

double ema_alpha(std::uint64_t p) { return 2.0 / (static_cast<double>(p) + 1.0); }

// max and min ignoring NaN: of two values the non-NaN one wins, NaN only when both are.
double max_skip_nan(double a, double b) {
  if (std::isnan(a)) return b;
  if (std::isnan(b)) return a;
  return a > b ? a : b;
}
double min_skip_nan(double a, double b) {
  if (std::isnan(a)) return b;
  if (std::isnan(b)) return a;
  return a < b ? a : b;
}

StreamValue one(double x) { return StreamValue{1, {x, 0.0, 0.0}}; }

}  // namespace

StreamingIndicator::Made StreamingIndicator::sma(std::uint64_t period) {
  SmaCore c{at_least_one(period), Ring{}, 0.0};
  AllocationFailure f;
  if (!c.window.allocate(c.period, 0, f)) return common::Err{f};
  return StreamingIndicator(StreamKind::Sma, std::move(c));
}

StreamingIndicator::Made StreamingIndicator::ema(std::uint64_t period) {
  const std::uint64_t p = at_least_one(period);
  return StreamingIndicator(StreamKind::Ema, EmaCore{ema_state(p, ema_alpha(p))});
}

StreamingIndicator::Made StreamingIndicator::wilder_ma(std::uint64_t period) {
  const std::uint64_t p = at_least_one(period);
  return StreamingIndicator(StreamKind::WilderMa,
                            EmaCore{ema_state(p, 1.0 / static_cast<double>(p))});
}

StreamingIndicator::Made StreamingIndicator::wma(std::uint64_t period) {
  const std::uint64_t p = at_least_one(period);
  // p * (p + 1) as an integer; 128 bits so a huge period cannot wrap it.
  const u128 pp = static_cast<u128>(p) * (static_cast<u128>(p) + 1);
  WmaCore c{p, Ring{}, static_cast<double>(pp) * 0.5};
  AllocationFailure f;
  if (!c.window.allocate(p, 0, f)) return common::Err{f};
  return StreamingIndicator(StreamKind::Wma, std::move(c));
}

StreamingIndicator::Made StreamingIndicator::roc(std::uint64_t period) {
  const std::uint64_t p = at_least_one(period);
  RocCore c{p, Ring{}};
  AllocationFailure f;
  if (!c.window.allocate(p, 1, f)) return common::Err{f};  // p + 1 closes
  return StreamingIndicator(StreamKind::Roc, std::move(c));
}

StreamingIndicator::Made StreamingIndicator::stddev(std::uint64_t period) {
  StddevCore c{at_least_one(period), Ring{}, 0.0, 0.0};
  AllocationFailure f;
  if (!c.window.allocate(c.period, 0, f)) return common::Err{f};
  return StreamingIndicator(StreamKind::Stddev, std::move(c));
}

StreamingIndicator::Made StreamingIndicator::rsi(std::uint64_t period) {
  RsiCore c{};
  c.period = at_least_one(period);
  return StreamingIndicator(StreamKind::Rsi, c);
}

StreamingIndicator::Made StreamingIndicator::atr(std::uint64_t period) {
  AtrCore c{};
  c.period = at_least_one(period);
  return StreamingIndicator(StreamKind::Atr, c);
}

StreamingIndicator::Made StreamingIndicator::donchian(std::uint64_t period) {
  DonchianCore c{at_least_one(period), Ring{}, Ring{}};
  AllocationFailure f;
  if (!c.highs.allocate(c.period, 0, f) || !c.lows.allocate(c.period, 0, f)) {
    return common::Err{f};
  }
  return StreamingIndicator(StreamKind::Donchian, std::move(c));
}

StreamingIndicator::Made StreamingIndicator::bollinger(std::uint64_t period, double k) {
  StddevCore c{at_least_one(period), Ring{}, 0.0, k};
  AllocationFailure f;
  if (!c.window.allocate(c.period, 0, f)) return common::Err{f};
  return StreamingIndicator(StreamKind::Bollinger, std::move(c));
}

StreamingIndicator::Made StreamingIndicator::macd(std::uint64_t fast, std::uint64_t slow,
                                                  std::uint64_t signal) {
  const std::uint64_t f = at_least_one(fast), s = at_least_one(slow), g = at_least_one(signal);
  return StreamingIndicator(
      StreamKind::Macd, MacdCore{ema_state(f, ema_alpha(f)), ema_state(s, ema_alpha(s)),
                                 ema_state(g, ema_alpha(g))});
}

namespace {

struct Updater {
  StreamValue& value;
  StreamKind kind;
  double high, low, close;

  // S = S + x first, then S = S - dropped: the order is part of the result's bits.
  static void slide(Ring& w, double& sum, double x) {
    double dropped = 0.0;
    const bool full = w.push(x, dropped);
    sum = sum + x;
    if (full) sum = sum - dropped;
  }

  void operator()(SmaCore& c) const {
    slide(c.window, c.sum, close);
    if (c.window.full()) value = one(c.sum / static_cast<double>(c.period));
  }

  void operator()(EmaCore& c) const {
    if (c.ema.update(close)) value = one(c.ema.value);
  }

  // Weights 1 (oldest) .. p (newest); the window is re-read each time, so a NaN only
  // matters while it is inside it.
  void operator()(WmaCore& c) const {
    double dropped = 0.0;
    c.window.push(close, dropped);
    if (!c.window.full()) return;
    double n = 0.0;
    std::uint64_t w = 0;
    c.window.for_each([&](double x) {
      ++w;
      n = n + static_cast<double>(w) * x;
    });
    value = one(n / c.denominator);
  }

  // A zero base (either sign) computes nothing and keeps the previous value; NaN is not
  // zero and propagates.
  void operator()(RocCore& c) const {
    double dropped = 0.0;
    c.window.push(close, dropped);
    if (!c.window.full()) return;
    const double b = c.window.oldest();
    if (b != 0.0) value = one(((close - b) / b) * 100.0);
  }

  // Mean from the running sum; squared deviations re-read from the window, oldest first.
  void operator()(StddevCore& c) const {
    slide(c.window, c.sum, close);
    if (!c.window.full()) return;
    const double p = static_cast<double>(c.period);
    const double m = c.sum / p;
    double v = 0.0;
    c.window.for_each([&](double x) {
      const double d = x - m;
      v = v + d * d;
    });
    const double sd = std::sqrt(v / p);
    if (kind == StreamKind::Stddev) {
      value = one(sd);
    } else {
      const double w = sd * c.k;
      value = StreamValue{3, {m, m + w, m - w}};
    }
  }

  // First value after p changes (update p + 1); Wilder weight h = 1/p taken per update.
  void operator()(RsiCore& c) const {
    const bool had_prev = c.has_prev;
    const double prev = c.prev;
    c.has_prev = true;
    c.prev = close;
    if (!had_prev) return;
    const double d = close - prev;
    double gain = 0.0, loss = 0.0;
    if (d > 0.0) {
      gain = d;
    } else {
      loss = -d;  // a NaN change lands here
    }
    const double p = static_cast<double>(c.period);
    if (c.seeded) {
      const double h = 1.0 / p;
      c.avg_gain = (1.0 - h) * c.avg_gain + gain * h;
      c.avg_loss = (1.0 - h) * c.avg_loss + loss * h;
    } else {
      c.gain_sum = c.gain_sum + gain;
      c.loss_sum = c.loss_sum + loss;
      ++c.seed_count;
      if (c.seed_count < c.period) return;
      c.avg_gain = c.gain_sum / p;
      c.avg_loss = c.loss_sum / p;
      c.seeded = true;
    }
    if (c.avg_loss == 0.0) {
      value = one(100.0);
    } else {
      value = one(100.0 - 100.0 / (c.avg_gain / c.avg_loss + 1.0));
    }
  }

  // The seed (after p bars) includes the first bar's high - low.
  void operator()(AtrCore& c) const {
    double tr = high - low;
    if (c.has_prev) {
      tr = max_skip_nan(tr, std::fabs(high - c.prev));
      tr = max_skip_nan(tr, std::fabs(low - c.prev));
    }
    c.has_prev = true;
    c.prev = close;
    const double p = static_cast<double>(c.period);
    if (value.present()) {
      value = one((1.0 - 1.0 / p) * value.v[0] + tr * (1.0 / p));
      return;
    }
    c.seed_sum = c.seed_sum + tr;
    ++c.seed_count;
    if (c.seed_count == c.period) value = one(c.seed_sum / p);
  }

  // Folds start at the largest finite magnitudes, and an untouched start is reported as is.
  void operator()(DonchianCore& c) const {
    double dropped = 0.0;
    c.highs.push(high, dropped);
    c.lows.push(low, dropped);
    if (!c.highs.full()) return;
    double upper = -std::numeric_limits<double>::max();
    double lower = std::numeric_limits<double>::max();
    c.highs.for_each([&](double x) { upper = max_skip_nan(upper, x); });
    c.lows.for_each([&](double x) { lower = min_skip_nan(lower, x); });
    value = StreamValue{2, {upper, lower, 0.0}};
  }

  // Line values feed the signal average only once both fast and slow are seeded; nothing
  // is reported until the signal average is seeded too.
  void operator()(MacdCore& c) const {
    const bool f = c.fast.update(close);
    const bool s = c.slow.update(close);
    if (!f || !s) return;
    const double line = c.fast.value - c.slow.value;
    if (!c.signal.update(line)) return;
    value = StreamValue{3, {line, c.signal.value, line - c.signal.value}};
  }
};

struct Resetter {
  void operator()(SmaCore& c) const {
    c.window.clear();
    c.sum = 0.0;
  }
  void operator()(EmaCore& c) const { c.ema.reset(); }
  void operator()(WmaCore& c) const { c.window.clear(); }
  void operator()(RocCore& c) const { c.window.clear(); }
  void operator()(StddevCore& c) const {
    c.window.clear();
    c.sum = 0.0;
  }
  void operator()(RsiCore& c) const {
    const std::uint64_t p = c.period;
    c = RsiCore{};
    c.period = p;
  }
  void operator()(AtrCore& c) const {
    const std::uint64_t p = c.period;
    c = AtrCore{};
    c.period = p;
  }
  void operator()(DonchianCore& c) const {
    c.highs.clear();
    c.lows.clear();
  }
  void operator()(MacdCore& c) const {
    c.fast.reset();
    c.slow.reset();
    c.signal.reset();
  }
};

}  // namespace

StreamValue StreamingIndicator::update_bar(double /*open*/, double high, double low,
                                           double close) noexcept {
  std::visit(Updater{value_, kind_, high, low, close}, core_);
  return value_;
}

void StreamingIndicator::reset() noexcept {
  std::visit(Resetter{}, core_);
  value_ = StreamValue{};
}

}  // namespace quillon::indicators
