// Streaming indicators: one classic indicator advanced one bar at a time, with values equal
// to the batch functions where a batch twin exists. Pure C++ (no Python). Every buffer is
// allocated once when the indicator is made; an update allocates nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "common/memory.hpp"
#include "common/result.hpp"

namespace quillon::indicators {

enum class StreamKind : std::uint8_t {
  Sma,
  Ema,
  WilderMa,
  Wma,
  Roc,
  Stddev,
  Rsi,
  Atr,
  Donchian,
  Bollinger,
  Macd,
};

// The value after an update: absent (arity 0), one float, a pair (donchian) or a triple
// (bollinger, macd). Plain data so an update never allocates.
struct StreamValue {
  std::uint8_t arity = 0;
  std::array<double, 3> v{0.0, 0.0, 0.0};

  bool present() const noexcept { return arity != 0; }
};

// A window too large for memory. The binding raises it as MemoryError; nothing aborts.
using AllocationFailure = common::OutOfMemory;

namespace detail {

// Fixed-capacity ring of float64, read oldest to newest. Allocated once, never grown; the
// storage is left uninitialised so a large period costs address space, not page faults,
// until it is actually filled.
class Ring {
 public:
  Ring() = default;
  // Room for values + extra floats (summed without wrapping, so the largest period plus
  // one is refused rather than wrapped to a tiny buffer). False, with the message set in
  // `failure`, when that cannot be allocated.
  bool allocate(std::uint64_t values, std::uint64_t extra, AllocationFailure& failure);

  std::uint64_t size() const noexcept { return len_; }
  bool full() const noexcept { return len_ == cap_; }
  void clear() noexcept {
    head_ = 0;
    len_ = 0;
  }
  // Appends x. When the ring was already full its oldest value is overwritten and
  // returned through `dropped` (and true is returned).
  bool push(double x, double& dropped) noexcept {
    if (len_ == cap_) {
      dropped = buf_[head_];
      buf_[head_] = x;
      head_ = head_ + 1 == cap_ ? 0 : head_ + 1;
      return true;
    }
    std::uint64_t at = head_ + len_;
    if (at >= cap_) at -= cap_;
    buf_[at] = x;
    ++len_;
    return false;
  }
  double oldest() const noexcept { return buf_[head_]; }
  // Calls f(x) for every value, oldest first.
  template <class F>
  void for_each(F&& f) const {
    const std::uint64_t first = cap_ - head_ < len_ ? cap_ - head_ : len_;
    for (std::uint64_t i = 0; i < first; ++i) f(buf_[head_ + i]);
    for (std::uint64_t i = 0; i < len_ - first; ++i) f(buf_[i]);
  }

 private:
  std::unique_ptr<double[]> buf_;
  std::uint64_t cap_ = 0;
  std::uint64_t head_ = 0;
  std::uint64_t len_ = 0;
};

// Running-sum warm-up followed by exponential smoothing: the ema, wilder_ma and the three
// averages of macd. A warm-up window would only ever be asked for its length
// (it is never read back nor dropped from), so a count stands in for it: the seed is the
// same left-to-right sum either way.
struct EmaState {
  std::uint64_t period = 1;
  double alpha = 1.0;
  std::uint64_t count = 0;
  double sum = 0.0;
  bool seeded = false;
  double value = 0.0;

  // Advances by x; true when a value exists afterwards.
  bool update(double x) noexcept;
  void reset() noexcept {
    count = 0;
    sum = 0.0;
    seeded = false;
    value = 0.0;
  }
};

struct SmaCore {
  std::uint64_t period;
  Ring window;
  double sum = 0.0;
};
struct EmaCore {
  EmaState ema;
};
struct WmaCore {
  std::uint64_t period;
  Ring window;
  double denominator;  // p(p+1)/2, the integer product taken exactly
};
struct RocCore {
  std::uint64_t period;
  Ring window;  // p+1 values: the close p bars back is the oldest
};
struct StddevCore {  // also the bollinger core
  std::uint64_t period;
  Ring window;
  double sum = 0.0;
  double k = 0.0;
};
// The seed lists of rsi and atr are only ever summed left to right once they hold p
// entries, so their running sums (started at 0.0, added in arrival order) give the same
// bits without storing the entries.
struct RsiCore {
  std::uint64_t period;
  bool has_prev = false;
  double prev = 0.0;
  std::uint64_t seed_count = 0;
  double gain_sum = 0.0, loss_sum = 0.0;
  bool seeded = false;
  double avg_gain = 0.0, avg_loss = 0.0;
};
struct AtrCore {
  std::uint64_t period;
  bool has_prev = false;
  double prev = 0.0;
  std::uint64_t seed_count = 0;
  double seed_sum = 0.0;
};
struct DonchianCore {
  std::uint64_t period;
  Ring highs, lows;
};
struct MacdCore {
  EmaState fast, slow, signal;
};

using Core = std::variant<SmaCore, EmaCore, WmaCore, RocCore, StddevCore, RsiCore, AtrCore,
                          DonchianCore, MacdCore>;

}  // namespace detail

// One streaming indicator. Move-only (it owns its windows).
class StreamingIndicator {
 public:
  using Made = common::Result<StreamingIndicator, AllocationFailure>;

  // A period of 0 is read as 1 by every constructor. Factors are fixed here, once.
  static Made sma(std::uint64_t period);
  static Made ema(std::uint64_t period);
  static Made wilder_ma(std::uint64_t period);
  static Made wma(std::uint64_t period);
  static Made roc(std::uint64_t period);
  static Made stddev(std::uint64_t period);
  static Made rsi(std::uint64_t period);
  static Made atr(std::uint64_t period);
  static Made donchian(std::uint64_t period);
  static Made bollinger(std::uint64_t period, double k);
  static Made macd(std::uint64_t fast, std::uint64_t slow, std::uint64_t signal);

  // Advances by one bar and returns the value afterwards. `atr` reads high, low and close;
  // `donchian` high and low; every other kind the close only. The open is never used.
  StreamValue update_bar(double open, double high, double low, double close) noexcept;
  // Back to the state right after creation; windows keep their storage.
  void reset() noexcept;

  const StreamValue& value() const noexcept { return value_; }
  bool initialized() const noexcept { return value_.present(); }
  StreamKind kind() const noexcept { return kind_; }

 private:
  StreamingIndicator(StreamKind kind, detail::Core core) : kind_(kind), core_(std::move(core)) {}

  StreamKind kind_;
  detail::Core core_;
  StreamValue value_;
};

}  // namespace quillon::indicators
