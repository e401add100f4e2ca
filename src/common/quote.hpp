// Quoted-literal spelling of caller text inside messages, so that blanks, quotes and
// control characters in a refused value stay visible. Header-only; standard library only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillon::common {

namespace detail {

inline void append_hex_escape(std::string& out, std::uint32_t cp) {
  static constexpr char digits[] = "0123456789abcdef";
  char buf[8];
  int n = 0;
  do {
    buf[n++] = digits[cp & 0xF];
    cp >>= 4;
  } while (cp != 0);
  out += "\\u{";
  while (n > 0) out += buf[--n];
  out += '}';
}

// Code points that print as nothing or move the cursor: controls, and the invisible
// format characters most likely to sneak into pasted text (zero-width spaces and joiners,
// direction marks and overrides, line/paragraph separators, the byte-order mark).
inline bool is_invisible(std::uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp == 0xAD || (cp >= 0x200B && cp <= 0x200F) ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2060 && cp <= 0x206F) || cp == 0xFEFF;
}

// Decodes one UTF-8 sequence at s[i]; returns its length, or 0 for a malformed byte.
inline std::size_t decode_utf8(std::string_view s, std::size_t i, std::uint32_t& cp) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  const std::size_t len = b0 < 0x80           ? 1
                          : (b0 >> 5) == 0x6   ? 2
                          : (b0 >> 4) == 0xE   ? 3
                          : (b0 >> 3) == 0x1E  ? 4
                                               : 0;
  if (len == 0 || i + len > s.size()) return 0;
  cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1Fu) : len == 3 ? (b0 & 0x0Fu) : (b0 & 0x07u);
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b >> 6) != 0x2) return 0;
    cp = (cp << 6) | (b & 0x3Fu);
  }
  static constexpr std::uint32_t min_for_len[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < min_for_len[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace detail

// "9:05" -> "\"9:05\""; a quote or backslash is escaped with a backslash, tab/CR/LF/NUL as
// \t \r \n \0, other invisible code points as \u{hex}; printable text, including
// non-ASCII letters, is copied unchanged. A malformed UTF-8 byte is shown as \x{hex}.
inline std::string debug_quoted(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  out += '"';
  for (std::size_t i = 0; i < s.size();) {
    std::uint32_t cp = 0;
    const std::size_t len = detail::decode_utf8(s, i, cp);
    if (len == 0) {
      out += "\\x{";
      static constexpr char digits[] = "0123456789abcdef";
      const auto b = static_cast<unsigned char>(s[i]);
      out += digits[b >> 4];
      out += digits[b & 0xF];
      out += '}';
      ++i;
      continue;
    }
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\0': out += "\\0"; break;
      default:
        if (detail::is_invisible(cp)) {
          detail::append_hex_escape(out, cp);
        } else {
          out.append(s.substr(i, len));
        }
    }
    i += len;
  }
  out += '"';
  return out;
}

}  // namespace quillon::common
