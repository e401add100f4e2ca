// Squareoff-time parsing and the engine copy of the configuration.
#include "config/backtest_config.hpp"

#include <limits>

#include "common/quote.hpp"

namespace quillon::config {
namespace {

// Length of the white-space code point (Unicode White_Space) that starts / ends `s`, or 0.
// Pasted times often carry a no-break or ideographic space, so ASCII blanks are not enough.
constexpr bool is_space_code_point(std::uint32_t cp) {
  return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
         (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
         cp == 0x205F || cp == 0x3000;
}

std::size_t leading_space(std::string_view s) {
  std::uint32_t cp = 0;
  const std::size_t len = s.empty() ? 0 : common::detail::decode_utf8(s, 0, cp);
  return len != 0 && is_space_code_point(cp) ? len : 0;
}

std::size_t trailing_space(std::string_view s) {
  // A code point is at most four bytes; try each possible start.
  for (std::size_t len = 1; len <= 4 && len <= s.size(); ++len) {
    std::uint32_t cp = 0;
    if (common::detail::decode_utf8(s, s.size() - len, cp) == len) {
      return is_space_code_point(cp) ? len : 0;
    }
  }
  return 0;
}

std::string_view trim(std::string_view s) {
  while (const std::size_t n = leading_space(s)) s.remove_prefix(n);
  while (const std::size_t n = trailing_space(s)) s.remove_suffix(n);
  return s;
}

// Unsigned 32-bit decimal with an optional '+': no '-', no empty digits, no overflow.
std::optional<std::uint32_t> parse_u32(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
    if (v > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  }
  return static_cast<std::uint32_t>(v);
}

}  // namespace

Result<std::uint32_t> parse_squareoff_time(std::string_view text) {
  const std::string_view t = trim(text);
  const auto colon = t.find(':');
  if (colon == std::string_view::npos) return common::Err{Error::invalid_squareoff_time(text)};
  const auto hour = parse_u32(trim(t.substr(0, colon)));
  const auto minute = parse_u32(trim(t.substr(colon + 1)));
  if (!hour || !minute || *hour >= 24 || *minute >= 60) {
    return common::Err{Error::invalid_squareoff_time(text)};
  }
  return *hour * 60 + *minute;
}

FeeModel resolve_fee_model(const BacktestConfig& config) {
  std::optional<std::string_view> segment;
  if (config.fee_segment) segment = *config.fee_segment;
  return resolve_fee_model(segment, config.fees);
}

EngineSettings engine_settings(const BacktestConfig& c) {
  EngineSettings s;
  s.initial_capital = c.initial_capital;
  s.fees = c.fees;
  if (c.apply_slippage && c.slippage > 0.0) {
    s.slippage = {SlippageKind::Proportional, c.slippage};
  }
  s.limit_slippage = c.limit_slippage;
  s.fee_model = resolve_fee_model(c);
  s.price_selector = c.upon_bar_close ? PriceSelector::Close : PriceSelector::Open;
  s.bar_path_adaptive = c.bar_path_adaptive;
  s.liquidate_on_margin_call = c.liquidate_on_margin_call;
  if (c.max_positions && *c.max_positions != 0) s.max_positions = c.max_positions;
  if (c.max_drawdown_pct && *c.max_drawdown_pct > 0.0) s.max_drawdown_pct = c.max_drawdown_pct;
  s.session_tz_offset_ns = c.session_tz_offset_ns;
  s.fill_prob_limit = c.fill_prob_limit;
  s.fill_prob_slippage = c.fill_prob_slippage;
  s.fill_seed = c.fill_seed;
  s.queue_fill_model = c.queue_fill_model;
  s.squareoff_time_minutes = c.squareoff_time_minutes;
  s.periods_per_year = c.periods_per_year;
  s.risk_free_rate = c.risk_free_rate;
  s.session_minutes = c.session_minutes;
  s.legacy_annualization = c.legacy_annualization;
  s.stop = c.stop;
  s.target = c.target;
  return s;
}

ProtectiveModels resolve_protective_models(const BacktestConfig* config,
                                           const InstrumentConfig* instrument) {
  static constexpr StopModel no_stop{};
  static constexpr TargetModel no_target{};
  return resolve_protective_models(config ? config->stop : no_stop,
                                   config ? config->target : no_target, instrument);
}

std::optional<std::uint64_t> resolve_atr_period(const BacktestConfig* config,
                                                const InstrumentConfig* instrument) {
  return atr_period(resolve_protective_models(config, instrument));
}

}  // namespace quillon::config
