// run_single_backtest: the preparation steps in their fixed order, then one kernel step
// and mark per bar, then the end-of-data close and the metrics.
#include "portfolio/engine.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "indicators/indicators.hpp"
#include "signals/signals.hpp"

namespace quillon::portfolio {
namespace {

// The loop reads bar i of every array, in this order, before stepping bar i, so the first
// array to run out is the shortest one (the earliest of them in reading order on a tie),
// at the index equal to its length. Checking that up front reports exactly what the loop
// would report, before any bar is read past an array's end.
std::optional<common::InternalError> short_array(const SingleRunInputs& in, std::size_t n) {
  std::size_t lengths[] = {in.timestamps.size(), in.open.size(), in.high.size(), in.low.size(),
                           in.volume_length, in.position_sizes ? in.position_sizes->size() : n};
  const std::size_t shortest = *std::min_element(std::begin(lengths), std::end(lengths));
  if (shortest >= n) return std::nullopt;
  return common::index_out_of_bounds(shortest, shortest);
}

}  // namespace

common::Result<metrics::BacktestResult, RunError> run_single_backtest(const SingleRunInputs& in) {
  // 2. Direction.
  if (in.direction != 1 && in.direction != -1) {
    return common::Err{RunError{core::Error::invalid_direction(in.direction)}};
  }
  // 3. The run's snapshot of the configuration, with its fee model.
  config::EngineSettings settings = config::engine_settings(in.config);
  const std::size_t n = in.close.size();
  // 4-5. Signal lengths, then the clean intents (at most one unit, no accumulation).
  if (auto broken = common::check_eq(n, in.entries.size(), "OHLCV and signals must have same length")) {
    return common::Err{RunError{std::move(*broken)}};
  }
  auto cleaned = signals::process(in.entries, in.exits, 1, false);
  if (!cleaned.ok()) return common::Err{RunError{std::move(cleaned).error()}};
  const signals::CleanSignals& clean = cleaned.value();
  // 6. The kernel, with a cash account holding the initial capital.
  const config::InstrumentConfig* ic = in.instrument_config ? &*in.instrument_config : nullptr;
  const config::ProtectiveModels models = config::resolve_protective_models(settings, ic);
  core::KernelSetup setup;
  setup.settings = std::move(settings);
  setup.symbol = in.symbol;
  setup.direction = static_cast<std::int8_t>(in.direction);
  setup.instrument_config = in.instrument_config;
  setup.record_timestamps = false;  // the metrics read the caller's timestamps
  setup.expected_bars = n;
  core::Kernel kernel(std::move(setup));
  // 7. ATR once over the whole series when a resolved model needs it; the stop's period
  // wins. Mismatched high/low lengths or a zero period leave it unknown (all zero).
  indicators::Series atr;
  bool have_atr = false;
  if (const auto period = config::atr_period(models)) {
    auto computed = indicators::atr(in.high, in.low, in.close, *period);
    if (computed.ok()) {
      atr = std::move(computed).value();
      have_atr = true;
    }
  }
  // 8. The bar loop.
  if (auto broken = short_array(in, n)) return common::Err{RunError{std::move(*broken)}};
  core::BarArrays bars{in.timestamps.data(), in.open.data(), in.high.data(), in.low.data(),
                       in.close.data(),      nullptr,          n};
  core::IntentArrays intents{clean.entries.data(), clean.exits.data(),
                             in.position_sizes ? in.position_sizes->data() : nullptr,
                             have_atr ? atr.data() : nullptr};
  kernel.run(bars, intents);
  // 9. End of data and the metrics.
  return kernel.finish(in.timestamps.first(n));
}

}  // namespace quillon::portfolio
