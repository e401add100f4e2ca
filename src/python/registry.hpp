// Module items (functions and classes) announce themselves here from their binding files;
// bindings.cpp adds them to the module in the one fixed public order.
#pragma once

#include <initializer_list>
#include <vector>

#include "python/args.hpp"
#include "python/python_api.hpp"

namespace quillon::python {

using FastFunction = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

struct ModuleItem {
  const char* name;
  PyMethodDef* function = nullptr;     // a module function, or
  PyTypeObject* (*type)() = nullptr;   // a class, built on first use
};

std::vector<ModuleItem>& registered_items();

struct Registration {
  Registration(std::initializer_list<ModuleItem> items);
};

// A module function whose docstring starts with the text signature made from `sig`.
ModuleItem function_item(const SignatureView& sig, FastFunction fn, const char* prose);
ModuleItem class_item(const char* name, PyTypeObject* (*build)());

}  // namespace quillon::python
