// Conversion of Python scalars to core values and back. Every converter has the shape
//   bool convert(PyObject* obj, const char* name, T& out)
// returning false with a Python exception set; a wrong type reads
//   argument '<name>': '<given type>' object cannot be converted to '<expected>'
// while integer overflow keeps the interpreter's own OverflowError text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/buffer.hpp"
#include "python/python_api.hpp"

namespace quillon::python {

// Sets TypeError "argument '<name>': <reason>".
bool argument_error(const char* name, const std::string& reason);
// The reason for an object of the wrong Python type.
std::string cannot_convert(PyObject* obj, const char* expected);

bool convert(PyObject* obj, const char* name, double& out);
bool convert(PyObject* obj, const char* name, std::int64_t& out);
bool convert(PyObject* obj, const char* name, std::int32_t& out);
bool convert(PyObject* obj, const char* name, std::uint64_t& out);
bool convert(PyObject* obj, const char* name, std::uint32_t& out);
bool convert(PyObject* obj, const char* name, bool& out);  // only True or False
bool convert(PyObject* obj, const char* name, std::string& out);

// One-dimensional NumPy arrays (defined in numpy_bridge.cpp). Declared here, before the
// optional and list templates below, so that `std::optional<Buffer<double>>` (an optional
// array argument) finds them: those templates see only what is declared before them.
bool convert(PyObject* obj, const char* name, common::Buffer<double>& out);
bool convert(PyObject* obj, const char* name, common::Buffer<std::int64_t>& out);
bool convert(PyObject* obj, const char* name, std::vector<double>& out);
bool convert(PyObject* obj, const char* name, std::vector<std::int64_t>& out);

// `None` (or an argument not given) selects the documented default: an empty optional.
template <class T>
bool convert(PyObject* obj, const char* name, std::optional<T>& out) {
  if (obj == nullptr || obj == Py_None) {
    out.reset();
    return true;
  }
  T value{};
  if (!convert(obj, name, value)) return false;
  out = std::move(value);
  return true;
}

// Python lists and tuples converted element by element. The element's position joins the
// argument name so a failure points at the bad element.
template <class T>
  requires(!std::is_arithmetic_v<T>)
bool convert(PyObject* obj, const char* name, std::vector<T>& out) {
  if (!PyList_Check(obj) && !PyTuple_Check(obj))
    return argument_error(name, cannot_convert(obj, "list"));
  // A tuple snapshot: an element's conversion may run user code that mutates the list.
  PyObject* items = PySequence_Tuple(obj);
  if (items == nullptr) return false;
  const Py_ssize_t n = PyTuple_GET_SIZE(items);
  std::vector<T> result;
  result.reserve(static_cast<std::size_t>(n));
  bool ok = true;
  for (Py_ssize_t i = 0; ok && i < n; ++i) {
    T value{};
    ok = convert(PyTuple_GET_ITEM(items, i), name, value);
    if (ok) result.push_back(std::move(value));
  }
  Py_DECREF(items);
  if (ok) out = std::move(result);
  return ok;
}

// Results: new references, nullptr with an exception set on failure.
inline PyObject* to_py(double v) { return PyFloat_FromDouble(v); }
inline PyObject* to_py(std::int64_t v) { return PyLong_FromLongLong(v); }
inline PyObject* to_py(std::int32_t v) { return PyLong_FromLong(v); }
inline PyObject* to_py(std::uint64_t v) { return PyLong_FromUnsignedLongLong(v); }
inline PyObject* to_py(std::uint32_t v) { return PyLong_FromUnsignedLong(v); }
inline PyObject* to_py(bool v) { return Py_NewRef(v ? Py_True : Py_False); }
inline PyObject* to_py(const std::string& v) {
  return PyUnicode_FromStringAndSize(v.data(), static_cast<Py_ssize_t>(v.size()));
}
inline PyObject* to_py(const char* v) { return PyUnicode_FromString(v); }
inline PyObject* to_py(std::string_view v) {
  return PyUnicode_FromStringAndSize(v.data(), static_cast<Py_ssize_t>(v.size()));
}
template <class T>
PyObject* to_py(const std::optional<T>& v) {
  return v ? to_py(*v) : Py_NewRef(Py_None);
}

// A tuple of freshly converted results; steals nothing, fails cleanly if any part fails.
PyObject* tuple_of(std::initializer_list<PyObject*> owned_items);

// A dict with str keys in the given insertion order, taking ownership of the freshly
// converted values; fails cleanly (releasing every value) if any value or insertion fails.
PyObject* dict_of(std::initializer_list<std::pair<const char*, PyObject*>> owned_items);

}  // namespace quillon::python
