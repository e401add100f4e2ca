// Front door of the indicators subsystem: the batch indicators over whole series.
// Pure C++ (no Python); inputs are spans, outputs owned vectors of the input's length with
// NaN in the warm-up. The arithmetic order of every formula is fixed so results are
// reproducible bit for bit; the kernel's ATR stops call atr() from here.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/buffer.hpp"
#include "indicators/errors.hpp"

namespace quillon::indicators {

using Series = common::Buffer<double>;

struct Macd {
  Series line, signal, histogram;
};
struct Stochastic {
  Series k, d;
};
struct Bollinger {
  Series upper, middle, lower;
};
struct Supertrend {
  Series line;
  std::vector<std::int8_t> direction;
};

Result<Series> sma(std::span<const double> data, std::uint64_t period);
Result<Series> ema(std::span<const double> data, std::uint64_t period);
Result<Series> rsi(std::span<const double> data, std::uint64_t period);
Result<Macd> macd(std::span<const double> data, std::uint64_t fast_period,
                  std::uint64_t slow_period, std::uint64_t signal_period);
Result<Stochastic> stochastic(std::span<const double> high, std::span<const double> low,
                              std::span<const double> close, std::uint64_t k_period,
                              std::uint64_t d_period);
Result<Series> atr(std::span<const double> high, std::span<const double> low,
                   std::span<const double> close, std::uint64_t period);
Result<Bollinger> bollinger_bands(std::span<const double> data, std::uint64_t period,
                                  double std_dev);
Result<Series> adx(std::span<const double> high, std::span<const double> low,
                   std::span<const double> close, std::uint64_t period);
Result<Series> vwap(std::span<const double> high, std::span<const double> low,
                    std::span<const double> close, std::span<const double> volume);
Result<Supertrend> supertrend(std::span<const double> high, std::span<const double> low,
                              std::span<const double> close, std::uint64_t period,
                              double multiplier);
Result<Series> rolling_min(std::span<const double> data, std::uint64_t period);
Result<Series> rolling_max(std::span<const double> data, std::uint64_t period);

}  // namespace quillon::indicators
