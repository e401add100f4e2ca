// The one place the binding layer includes Python and NumPy. Every file of src/python/
// includes this header first; NumPy's API table is owned by numpy_bridge.cpp.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define PY_ARRAY_UNIQUE_SYMBOL quillon_ARRAY_API
#ifndef QUILLON_OWNS_NUMPY_API
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>
