// Float spellings for messages and reprs. std::to_chars gives exact, locale-free output.
#include "common/text.hpp"

#include <charconv>
#include <cmath>
#include <system_error>

namespace quillon::common {
namespace {

std::string non_finite(double x) {
  if (std::isnan(x)) return "NaN";
  return x > 0 ? "inf" : "-inf";
}

std::string chars(double x, std::chars_format fmt) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, x, fmt);
  return std::string(buf, r.ptr);
}

std::string chars(double x, std::chars_format fmt, int precision) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, x, fmt, precision);
  return std::string(buf, r.ptr);
}

}  // namespace

std::string shortest(double x) {
  if (!std::isfinite(x)) return non_finite(x);
  return chars(x, std::chars_format::fixed);
}

std::string shortest_debug(double x) {
  if (!std::isfinite(x)) return non_finite(x);
  const double a = std::fabs(x);
  if (a != 0.0 && (a >= 1e16 || a < 1e-4)) {
    // to_chars writes "1e+16" / "1.5e-05"; the repr form is "1e16" / "1.5e-5".
    std::string s = chars(x, std::chars_format::scientific);
    const auto e = s.find('e');
    std::string mant = s.substr(0, e);
    std::string exp = s.substr(e + 1);
    bool neg = false;
    if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) {
      neg = exp[0] == '-';
      exp.erase(0, 1);
    }
    while (exp.size() > 1 && exp[0] == '0') exp.erase(0, 1);
    return mant + "e" + (neg ? "-" : "") + exp;
  }
  std::string s = chars(x, std::chars_format::fixed);
  if (s.find('.') == std::string::npos) s += ".0";
  return s;
}

std::string fixed(double x, int decimals) {
  if (!std::isfinite(x)) return non_finite(x);
  return chars(x, std::chars_format::fixed, decimals);
}

std::string fixed2(double x) { return fixed(x, 2); }

std::string some_or_none(const double* x) {
  return x ? "Some(" + shortest_debug(*x) + ")" : std::string("None");
}

}  // namespace quillon::common
