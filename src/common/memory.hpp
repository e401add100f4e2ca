// Allocation failure as a value. A core routine that sizes a buffer from a caller's number
// (a window period, say) checks the request itself and returns this instead of letting the
// allocation abort or throw; the binding raises it as MemoryError.
#pragma once

#include <string>

namespace quillon::common {

struct OutOfMemory {
  std::string message;  // "memory allocation of {} bytes failed"
};

}  // namespace quillon::common
