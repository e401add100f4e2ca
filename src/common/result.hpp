// Value-or-error type used across the core's API. The core never throws across its
// boundary; callers branch on ok() and the binding layer turns the error into a Python
// exception. No dependency beyond the standard library.
#pragma once

#include <cassert>
#include <utility>
#include <variant>

namespace quillon::common {

template <class E>
struct Err {
  E error;
};
template <class E>
Err(E) -> Err<E>;

template <class T, class E>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  template <class F>
  Result(Err<F> e) : v_(std::in_place_index<1>, E(std::move(e.error))) {}  // NOLINT

  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const E& error() const& { return std::get<1>(v_); }
  E&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, E> v_;
};

// Result of an operation that produces nothing but may fail.
struct Unit {};

}  // namespace quillon::common
