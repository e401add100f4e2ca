// Byte encoding of plain records, for handing a record's complete state to another
// process (pickling). Values are written in native layout (the module targets one
// platform); the reader checks every length against what is left, so a truncated or
// foreign byte string fails cleanly instead of being read past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace quillon::common {

class StateWriter {
 public:
  template <class T>
    requires std::is_arithmetic_v<T> || std::is_enum_v<T>
  void put(T v) {
    out_.append(reinterpret_cast<const char*>(&v), sizeof v);
  }
  void put(std::string_view s) {
    put(static_cast<std::uint64_t>(s.size()));
    out_.append(s.data(), s.size());
  }
  void put(const std::string& s) { put(std::string_view(s)); }
  template <class T>
  void put(const std::optional<T>& v) {
    put(static_cast<bool>(v));
    if (v) put(*v);
  }
  // A contiguous run of arithmetic values: its count, then the raw elements.
  template <class T>
    requires std::is_arithmetic_v<T>
  void put_array(const T* data, std::size_t count) {
    put(static_cast<std::uint64_t>(count));
    if (count != 0) out_.append(reinterpret_cast<const char*>(data), count * sizeof(T));
  }

  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

class StateReader {
 public:
  explicit StateReader(std::string_view bytes) : in_(bytes) {}

  template <class T>
    requires std::is_arithmetic_v<T> || std::is_enum_v<T>
  bool get(T& v) {
    if (in_.size() < sizeof v) return false;
    std::memcpy(&v, in_.data(), sizeof v);
    in_.remove_prefix(sizeof v);
    return true;
  }
  bool get(bool& v) {
    std::uint8_t b = 0;
    if (in_.empty()) return false;
    std::memcpy(&b, in_.data(), 1);
    if (b > 1) return false;  // only what put(bool) writes
    in_.remove_prefix(1);
    v = b == 1;
    return true;
  }
  bool get(std::string& s) {
    std::uint64_t n = 0;
    if (!get(n) || n > in_.size()) return false;
    s.assign(in_.data(), static_cast<std::size_t>(n));
    in_.remove_prefix(static_cast<std::size_t>(n));
    return true;
  }
  template <class T>
  bool get(std::optional<T>& v) {
    bool present = false;
    if (!get(present)) return false;
    if (!present) {
      v.reset();
      return true;
    }
    T value{};
    if (!get(value)) return false;
    v = std::move(value);
    return true;
  }
  // Into any container with resize() and data(), e.g. a Buffer<double>.
  template <class Vec>
  bool get_array(Vec& out) {
    using T = typename Vec::value_type;
    std::uint64_t n = 0;
    if (!get(n) || n > in_.size() / sizeof(T)) return false;
    out.resize(static_cast<std::size_t>(n));
    if (n != 0) std::memcpy(out.data(), in_.data(), static_cast<std::size_t>(n) * sizeof(T));
    in_.remove_prefix(static_cast<std::size_t>(n) * sizeof(T));
    return true;
  }
  // An enumeration stored as its underlying value, accepted only below `count`.
  template <class E>
    requires std::is_enum_v<E>
  bool get_enum(E& v, std::size_t count) {
    std::underlying_type_t<E> raw{};
    if (!get(raw) || static_cast<std::size_t>(raw) >= count) return false;
    v = static_cast<E>(raw);
    return true;
  }

  bool at_end() const { return in_.empty(); }

 private:
  std::string_view in_;
};

}  // namespace quillon::common
