// Argument binding for METH_FASTCALL | METH_KEYWORDS entry points. Parameters are all
// positional-or-keyword; missing, surplus, duplicate and unknown arguments are worded as
// the interpreter words them for a Python function. The same Signature yields the text
// signature line of the docstring, so names and defaults are written down once.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "python/python_api.hpp"

namespace quillon::python {

struct Param {
  const char* name;
  const char* default_text = nullptr;  // as shown in the text signature; nullptr: required
};

inline constexpr const char* required = nullptr;

struct SignatureView {
  const char* name;  // may be dotted ("KernelSession.step"); messages use it whole
  const Param* params;
  std::size_t count;
};

template <std::size_t N>
struct Signature {
  const char* name;
  std::array<Param, N> params;
  constexpr SignatureView view() const { return {name, params.data(), N}; }
};
template <>
struct Signature<0> {
  const char* name;
  constexpr SignatureView view() const { return {name, nullptr, 0}; }
};

// Fills out[0..count) with borrowed references (nullptr where an optional argument was not
// given). On failure sets TypeError and returns false.
bool bind_args(const SignatureView& sig, PyObject* const* args, Py_ssize_t nargs,
               PyObject* kwnames, PyObject** out);

// "name(a, b=2)\n--\n\n<prose>": the layout the interpreter reads __text_signature__ from.
// `self_param` adds the "$self" marker used by methods.
std::string make_doc(const SignatureView& sig, const char* prose, bool self_param = false);

}  // namespace quillon::python
