#include "python/py_errors.hpp"

namespace quillon::python {
namespace {
PyObject* g_internal_error = nullptr;
}

PyObject* internal_error_type() { return g_internal_error; }

bool create_internal_error_type(PyObject* module) {
  if (g_internal_error == nullptr) {
    g_internal_error = PyErr_NewExceptionWithDoc(
        "_quillon.InternalError",
        "A broken internal invariant (mismatched array lengths, an index past the end, a\n"
        "non-contiguous array). Derives from BaseException so `except Exception` does not\n"
        "hide it.",
        PyExc_BaseException, nullptr);
    if (g_internal_error == nullptr) return false;
  }
  Py_INCREF(g_internal_error);
  if (PyModule_AddObject(module, "InternalError", g_internal_error) < 0) {
    Py_DECREF(g_internal_error);
    return false;
  }
  return true;
}

PyObject* raise_internal(const std::string& message) {
  PyErr_SetString(g_internal_error ? g_internal_error : PyExc_SystemError, message.c_str());
  return nullptr;
}

}  // namespace quillon::python
