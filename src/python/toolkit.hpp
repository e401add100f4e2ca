// The binding toolkit in one include. A binding reads as a recipe: declare the signature,
// parse (bind + convert each argument in parameter order, stopping at the first failure),
// call the core, convert the result:
//
//   constexpr Signature<2> sig_sma{"sma", {{{"data"}, {"period"}}}};
//   PyObject* py_sma(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
//     return guarded([&]() -> PyObject* {
//       std::vector<double> data;
//       std::uint64_t period = 0;
//       if (!parse(sig_sma, args, nargs, kwnames, data, period)) return nullptr;
//       return reply(indicators::sma(data, period), [](auto&& s) { return to_numpy(std::move(s)); });
//     });
//   }
//   static const Registration reg{function_item(sig_sma.view(), py_sma, "Simple Moving Average.")};
//
// Defaults: an argument not given leaves its output variable untouched, so initialise each
// variable with the parameter's default (std::optional for `=None`).
#pragma once

#include <cstddef>
#include <utility>

#include "common/result.hpp"
#include "python/args.hpp"
#include "python/borrow.hpp"
#include "python/classdef.hpp"
#include "python/convert.hpp"
#include "python/numpy_bridge.hpp"
#include "python/py_errors.hpp"
#include "python/python_api.hpp"
#include "python/registry.hpp"

namespace quillon::python {

namespace detail {
template <class Out>
bool convert_given(PyObject* obj, const char* name, Out& out) {
  return obj == nullptr || convert(obj, name, out);
}
template <std::size_t... I, class... Outs>
bool convert_all(const Param* params, PyObject* const* bound, std::index_sequence<I...>,
                 Outs&... outs) {
  return (convert_given(bound[I], params[I].name, outs) && ...);
}
}  // namespace detail

template <std::size_t N, class... Outs>
bool parse(const Signature<N>& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
           Outs&... outs) {
  static_assert(sizeof...(Outs) == N, "one output variable per parameter");
  PyObject* bound[N > 0 ? N : 1];
  if (!bind_args(sig.view(), args, nargs, kwnames, bound)) return false;
  if constexpr (N == 0) {
    return true;
  } else {
    bool inert = true;
    for (std::size_t i = 0; i < N && inert; ++i) inert = inert_argument(bound[i]);
    InertCallScope scope(inert);
    return detail::convert_all(sig.params.data(), bound, std::index_sequence_for<Outs...>{},
                               outs...);
  }
}

// Turns a core result into the Python reply: the value through `to_python`, or the error
// value raised as its exception.
template <class T, class E, class F>
PyObject* reply(common::Result<T, E>&& r, F&& to_python) {
  if (!r.ok()) return raise(r.error());
  return to_python(std::move(r).value());
}

}  // namespace quillon::python
