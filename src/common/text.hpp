// Message and repr text: placeholder filling and the float spellings every message
// uses. Everything here is locale-independent (std::to_chars), so texts are identical
// on every machine.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::common {

// Shortest decimal that reads back to the same double, never in exponent form, with no
// trailing ".0" (252.0 -> "252", 0.1 -> "0.1"). NaN -> "NaN", infinities -> "inf"/"-inf".
std::string shortest(double x);

// Shortest round-trip form that always shows a decimal point and switches to exponent
// form for magnitudes >= 1e16 or below 1e-4 (75.0 -> "75.0", 1e-5 -> "1e-5").
std::string shortest_debug(double x);

// Two decimals, rounded exactly from the binary value (12.345 -> "12.35" only if the
// double is above the midpoint). NaN -> "NaN".
std::string fixed2(double x);

// Fixed number of decimals (as fixed2).
std::string fixed(double x, int decimals);

// "Some(75.0)" / "None" as optional numbers appear in reprs.
std::string some_or_none(const double* x);


namespace detail {
inline std::string to_text(std::string_view s) { return std::string(s); }
inline std::string to_text(const char* s) { return std::string(s); }
inline std::string to_text(const std::string& s) { return s; }
inline std::string to_text(double x) { return shortest(x); }
inline std::string to_text(float x) { return shortest(static_cast<double>(x)); }
inline std::string to_text(bool b) { return b ? "true" : "false"; }
inline std::string to_text(char c) { return std::string(1, c); }
template <std::integral I>
  requires(!std::same_as<I, bool> && !std::same_as<I, char>)
std::string to_text(I v) {
  return std::to_string(v);
}
}  // namespace detail

// Substitutes each "{}" in `pattern` by the next argument, in order. Doubles use
// shortest(); a placeholder without an argument is left as is.
template <class... Args>
std::string fill(std::string_view pattern, const Args&... args) {
  const std::string parts[] = {std::string(), detail::to_text(args)...};
  std::string out;
  out.reserve(pattern.size() + 16 * sizeof...(Args));
  std::size_t next = 1;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '{' && i + 1 < pattern.size() && pattern[i + 1] == '}' &&
        next <= sizeof...(Args)) {
      out += parts[next++];
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

}  // namespace quillon::common
