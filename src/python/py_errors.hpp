// Where failures become Python exceptions: error values of the core's families, broken
// internal invariants, and C++ exceptions that must never unwind into the interpreter.
#pragma once

#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <variant>

#include "common/check.hpp"
#include "common/memory.hpp"
#include "common/result.hpp"
#include "python/python_api.hpp"

namespace quillon::python {

// The module's internal-error class. It derives from BaseException on purpose: a broken
// invariant is not a user error, and a user's `except Exception` must not swallow it.
PyObject* internal_error_type();
bool create_internal_error_type(PyObject* module);

PyObject* raise_internal(const std::string& message);

inline PyObject* raise(const common::InternalError& e) { return raise_internal(e.message); }

// A buffer the core refused to allocate (its size came from the caller).
inline PyObject* raise(const common::OutOfMemory& e) {
  PyErr_SetString(PyExc_MemoryError, e.message.c_str());
  return nullptr;
}

// Every other error family carries its final text in `message` and reaches Python as
// ValueError; a family that needs another class adds an overload here.
template <class E>
  requires requires(const E& e) { e.message; }
PyObject* raise(const E& e) {
  PyErr_SetString(PyExc_ValueError, e.message.c_str());
  return nullptr;
}

// An operation that can fail in more than one family reports the one that occurred.
template <class... E>
PyObject* raise(const std::variant<E...>& e) {
  return std::visit([](const auto& which) { return raise(which); }, e);
}

// Runs a binding body with C++ exceptions mapped to Python ones. Allocation failure
// becomes MemoryError instead of terminating the process.
template <class F>
auto guarded(F&& body) noexcept -> decltype(body()) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::length_error&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_internal(e.what());
  } catch (...) {
    raise_internal("unknown native exception");
  }
  if constexpr (std::is_same_v<decltype(body()), int>) {
    return -1;
  } else {
    return nullptr;
  }
}

}  // namespace quillon::python
