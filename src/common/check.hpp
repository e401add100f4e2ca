// Broken internal invariants (arrays that must match in length, an index past the end,
// a layout requirement) as values. They are not user errors: the binding raises them as
// the module's BaseException-derived internal-error class so `except Exception` does not
// swallow them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/text.hpp"

namespace quillon::common {

struct InternalError {
  std::string message;
};

// Equality assertion in the fixed multi-line form:
//   assertion `left == right` failed: <what>\n  left: <l>\n right: <r>
template <class L, class R>
std::optional<InternalError> check_eq(const L& left, const R& right, std::string_view what) {
  if (left == right) return std::nullopt;
  return InternalError{fill("assertion `left {} right` failed: {}\n  left: {}\n right: {}", "==",
                            what, left, right)};
}

inline InternalError index_out_of_bounds(std::size_t index, std::size_t len) {
  return InternalError{
      fill("index out of bounds: the len is {} but the index is {}", len, index)};
}

}  // namespace quillon::common
