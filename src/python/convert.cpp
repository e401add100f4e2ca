#include "python/convert.hpp"

namespace quillon::python {

bool argument_error(const char* name, const std::string& reason) {
  PyErr_Format(PyExc_TypeError, "argument '%s': %s", name, reason.c_str());
  return false;
}

std::string cannot_convert(PyObject* obj, const char* expected) {
  return std::string("'") + Py_TYPE(obj)->tp_name + "' object cannot be converted to '" +
         expected + "'";
}

namespace {

// A TypeError raised by the interpreter's own protocol lookup becomes our argument error;
// anything else (an OverflowError, an exception raised inside a user's __index__) stays.
bool retarget_type_error(PyObject* obj, const char* name, const char* expected) {
  if (PyErr_ExceptionMatches(PyExc_TypeError)) {
    PyErr_Clear();
    return argument_error(name, cannot_convert(obj, expected));
  }
  return false;
}

PyObject* as_index(PyObject* obj, const char* name) {
  PyObject* index = PyNumber_Index(obj);
  if (index == nullptr) retarget_type_error(obj, name, "int");
  return index;
}

}  // namespace

bool convert(PyObject* obj, const char* name, double& out) {
  if (PyFloat_CheckExact(obj)) {
    out = PyFloat_AS_DOUBLE(obj);
    return true;
  }
  // The float protocol: __float__, then __index__.
  const double v = PyFloat_AsDouble(obj);
  if (v == -1.0 && PyErr_Occurred()) return retarget_type_error(obj, name, "float");
  out = v;
  return true;
}

bool convert(PyObject* obj, const char* name, std::int64_t& out) {
  PyObject* index = as_index(obj, name);
  if (index == nullptr) return false;
  const long long v = PyLong_AsLongLong(index);
  Py_DECREF(index);
  if (v == -1 && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool convert(PyObject* obj, const char* name, std::int32_t& out) {
  std::int64_t wide = 0;
  if (!convert(obj, name, wide)) return false;
  if (wide < INT32_MIN || wide > INT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C int");
    return false;
  }
  out = static_cast<std::int32_t>(wide);
  return true;
}

bool convert(PyObject* obj, const char* name, std::uint64_t& out) {
  PyObject* index = as_index(obj, name);
  if (index == nullptr) return false;
  // The interpreter's own texts: "can't convert negative int to unsigned" for a negative
  // value, "int too big to convert" past 64 bits.
  const unsigned long long v = PyLong_AsUnsignedLongLong(index);
  Py_DECREF(index);
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool convert(PyObject* obj, const char* name, std::uint32_t& out) {
  std::uint64_t wide = 0;
  if (!convert(obj, name, wide)) return false;
  if (wide > UINT32_MAX) {
    PyErr_SetString(PyExc_OverflowError,
                    "Python int too large to convert to C unsigned int");
    return false;
  }
  out = static_cast<std::uint32_t>(wide);
  return true;
}

bool convert(PyObject* obj, const char* name, bool& out) {
  if (obj == Py_True || obj == Py_False) {
    out = obj == Py_True;
    return true;
  }
  return argument_error(name, cannot_convert(obj, "bool"));
}

bool convert(PyObject* obj, const char* name, std::string& out) {
  if (!PyUnicode_Check(obj)) return argument_error(name, cannot_convert(obj, "str"));
  Py_ssize_t len = 0;
  const char* text = PyUnicode_AsUTF8AndSize(obj, &len);
  if (text == nullptr) return false;  // lone surrogates: the codec's UnicodeEncodeError
  out.assign(text, static_cast<std::size_t>(len));
  return true;
}

PyObject* tuple_of(std::initializer_list<PyObject*> owned_items) {
  bool ok = true;
  for (PyObject* item : owned_items) ok = ok && item != nullptr;
  PyObject* tuple = ok ? PyTuple_New(static_cast<Py_ssize_t>(owned_items.size())) : nullptr;
  Py_ssize_t i = 0;
  for (PyObject* item : owned_items) {
    if (tuple != nullptr) PyTuple_SET_ITEM(tuple, i++, item);
    else Py_XDECREF(item);
  }
  return tuple;
}

PyObject* dict_of(std::initializer_list<std::pair<const char*, PyObject*>> owned_items) {
  bool ok = true;
  for (const auto& item : owned_items) ok = ok && item.second != nullptr;
  PyObject* dict = ok ? PyDict_New() : nullptr;
  for (const auto& [key, value] : owned_items) {
    if (dict != nullptr && PyDict_SetItemString(dict, key, value) < 0) Py_CLEAR(dict);
    Py_XDECREF(value);
  }
  return dict;
}

}  // namespace quillon::python
