// Argument binding with the interpreter's own wording for call errors.
#include "python/args.hpp"

#include <cstring>
#include <string>

namespace quillon::python {
namespace {

std::string quoted_list(const std::vector<const char*>& names) {
  // 'a'; 'a' and 'b'; 'a', 'b', and 'c' -- as the interpreter lists missing names.
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() == 2) out += " and ";
      else if (i + 1 == names.size()) out += ", and ";
      else out += ", ";
    }
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

bool too_many_positional(const SignatureView& sig, Py_ssize_t nargs) {
  std::size_t n_required = 0;
  for (std::size_t i = 0; i < sig.count; ++i)
    if (sig.params[i].default_text == nullptr) ++n_required;
  const char* verb = nargs == 1 ? "was" : "were";
  if (n_required == sig.count) {
    PyErr_Format(PyExc_TypeError, "%s() takes %zu positional argument%s but %zd %s given", sig.name,
                 sig.count, sig.count == 1 ? "" : "s", nargs, verb);
  } else {
    PyErr_Format(PyExc_TypeError, "%s() takes from %zu to %zu positional arguments but %zd %s given",
                 sig.name, n_required, sig.count, nargs, verb);
  }
  return false;
}

}  // namespace

bool bind_args(const SignatureView& sig, PyObject* const* args, Py_ssize_t nargs,
               PyObject* kwnames, PyObject** out) {
  nargs = PyVectorcall_NARGS(nargs);
  if (static_cast<std::size_t>(nargs) > sig.count) return too_many_positional(sig, nargs);
  for (std::size_t i = 0; i < sig.count; ++i)
    out[i] = i < static_cast<std::size_t>(nargs) ? args[i] : nullptr;

  if (kwnames != nullptr) {
    const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      PyObject* key = PyTuple_GET_ITEM(kwnames, k);
      Py_ssize_t len = 0;
      const char* text = PyUnicode_AsUTF8AndSize(key, &len);
      if (text == nullptr) return false;
      std::size_t found = sig.count;
      for (std::size_t i = 0; i < sig.count; ++i) {
        if (std::strlen(sig.params[i].name) == static_cast<std::size_t>(len) &&
            std::memcmp(sig.params[i].name, text, static_cast<std::size_t>(len)) == 0) {
          found = i;
          break;
        }
      }
      if (found == sig.count) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.name,
                     key);
        return false;
      }
      if (out[found] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.name,
                     sig.params[found].name);
        return false;
      }
      out[found] = args[nargs + k];
    }
  }

  std::vector<const char*> missing;
  for (std::size_t i = 0; i < sig.count; ++i)
    if (out[i] == nullptr && sig.params[i].default_text == nullptr)
      missing.push_back(sig.params[i].name);
  if (!missing.empty()) {
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s", sig.name,
                 missing.size(), missing.size() == 1 ? "" : "s", quoted_list(missing).c_str());
    return false;
  }
  return true;
}

std::string make_doc(const SignatureView& sig, const char* prose, bool self_param) {
  const char* bare = std::strrchr(sig.name, '.');
  std::string out = bare ? bare + 1 : sig.name;
  out += '(';
  bool first = true;
  if (self_param) {
    out += "$self";
    first = false;
  }
  for (std::size_t i = 0; i < sig.count; ++i) {
    if (!first) out += ", ";
    first = false;
    out += sig.params[i].name;
    if (sig.params[i].default_text) {
      out += '=';
      out += sig.params[i].default_text;
    }
  }
  out += ")\n--\n\n";
  out += prose ? prose : "";
  return out;
}

}  // namespace quillon::python
