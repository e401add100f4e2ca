// The annualisation factor of the return ratios: configured, legacy, or inferred from the
// median bar spacing. The median is exact (mean of the two middle gaps for an even count).
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "metrics/metrics.hpp"

namespace quillon::metrics {
namespace {

constexpr double kDayNs = 8.64e13;
constexpr double kYearNs = 3.1536e16;  // 365 days
constexpr double kMinuteNs = 6e10;
constexpr double kNseSessionMinutes = 375.0;
constexpr double kTradingDays = 252.0;

// Real bar series have few distinct gaps (the bar interval, overnight and weekend gaps,
// holidays), so the median is usually found from a small table of distinct gaps and their
// counts in one pass, without sorting a million gaps. Past kDistinct distinct values the
// gaps are collected and the middle found by selection, which gives the same value.
constexpr std::size_t kDistinct = 64;

struct GapTable {
  std::array<std::uint64_t, kDistinct> value{};
  std::array<std::uint64_t, kDistinct> count{};
  std::size_t size = 0;

  // Adds `times` occurrences of `gap`; false when the table is full and `gap` is new.
  bool add(std::uint64_t gap, std::uint64_t times) {
    for (std::size_t k = 0; k < size; ++k) {
      if (value[k] == gap) {
        count[k] += times;
        return true;
      }
    }
    if (size == kDistinct) return false;
    value[size] = gap;
    count[size] = times;
    ++size;
    return true;
  }

  // The gap of 0-based rank r in sorted order.
  std::uint64_t at_rank(std::uint64_t r) const {
    std::array<std::size_t, kDistinct> order{};
    for (std::size_t k = 0; k < size; ++k) order[k] = k;
    std::sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(size),
              [&](std::size_t a, std::size_t b) { return value[a] < value[b]; });
    std::uint64_t seen = 0;
    for (std::size_t k = 0; k < size; ++k) {
      seen += count[order[k]];
      if (r < seen) return value[order[k]];
    }
    return value[order[size - 1]];
  }
};

double mean_of_middle(std::uint64_t a, std::uint64_t b) {
  return (static_cast<double>(a) + static_cast<double>(b)) / 2.0;
}

// A later timestamp's gap to its predecessor, exact in 64 unsigned bits.
inline std::uint64_t gap(std::int64_t later, std::int64_t earlier) {
  return static_cast<std::uint64_t>(later) - static_cast<std::uint64_t>(earlier);
}

std::optional<double> median_by_selection(std::span<const std::int64_t> t) {
  common::Buffer<std::uint64_t> gaps;
  gaps.reserve(t.size());
  for (std::size_t i = 1; i < t.size(); ++i) {
    if (t[i] > t[i - 1]) gaps.push_back(gap(t[i], t[i - 1]));
  }
  const std::size_t n = gaps.size();
  const auto mid = gaps.begin() + static_cast<std::ptrdiff_t>(n / 2);
  std::nth_element(gaps.begin(), mid, gaps.end());
  const std::uint64_t upper = *mid;
  if (n % 2 == 1) return static_cast<double>(upper);
  const std::uint64_t lower = *std::max_element(gaps.begin(), mid);
  return mean_of_middle(lower, upper);
}

}  // namespace

std::optional<double> median_positive_gap(std::span<const std::int64_t> t) {
  GapTable table;
  std::uint64_t total = 0;
  // Runs of equal gaps are counted in registers and entered into the table once per run.
  std::uint64_t current = 0;
  std::uint64_t run = 0;
  for (std::size_t i = 1; i < t.size(); ++i) {
    // A pair that does not increase is skipped; the later timestamp is the next reference.
    if (t[i] <= t[i - 1]) continue;
    const std::uint64_t g = gap(t[i], t[i - 1]);
    if (g == current && run != 0) {
      ++run;
      continue;
    }
    if (run != 0 && !table.add(current, run)) return median_by_selection(t);
    total += run;
    current = g;
    run = 1;
  }
  if (run != 0 && !table.add(current, run)) return median_by_selection(t);
  total += run;
  if (total == 0) return std::nullopt;
  if (total % 2 == 1) return static_cast<double>(table.at_rank(total / 2));
  return mean_of_middle(table.at_rank(total / 2 - 1), table.at_rank(total / 2));
}

double annualization_factor(std::span<const std::int64_t> timestamps,
                            const MetricsSettings& s) {
  if (s.legacy_annualization) return 365.0;
  if (s.periods_per_year && *s.periods_per_year > 0.0) return *s.periods_per_year;
  const auto g = median_positive_gap(timestamps);
  if (!g) return 365.0;
  // Daily or slower bars, and any bars of a market that never closes, count calendar time.
  if (*g >= kDayNs || (s.session_minutes && *s.session_minutes <= 0.0)) return kYearNs / *g;
  const double minutes = s.session_minutes ? *s.session_minutes : kNseSessionMinutes;
  const double bars_per_session = minutes * kMinuteNs / *g;
  return (bars_per_session < 1.0 ? 1.0 : bars_per_session) * kTradingDays;
}

}  // namespace quillon::metrics
