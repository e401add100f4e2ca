// NumPy arrays in and out. Inputs are copied once into owned buffers (nothing is cast:
// the dtype must match exactly, in native byte order); outputs are new arrays that own
// their storage, so nothing handed back aliases internal state.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/buffer.hpp"
#include "python/python_api.hpp"

namespace quillon::python {

// Called once from module initialisation.
bool import_numpy();

// One-dimensional arrays of exactly float64 / int64 / bool. A strided view raises the
// internal-error exception (the caller must pass contiguous data; we never guess a copy).
// Bool elements are normalised to 0/1.
// Series inputs go into common::Buffer (reused large blocks); std::vector serves the rest.
bool convert(PyObject* obj, const char* name, common::Buffer<double>& out);
bool convert(PyObject* obj, const char* name, common::Buffer<std::int64_t>& out);
bool convert(PyObject* obj, const char* name, std::vector<double>& out);
bool convert(PyObject* obj, const char* name, std::vector<std::int64_t>& out);
struct BoolArray {
  std::vector<std::uint8_t> values;
};
bool convert(PyObject* obj, const char* name, BoolArray& out);

// A float64 array argument that the call validates like any other (type, dtype,
// dimensions, contiguity) but never reads, so it is not copied: only its length is kept
// (the single-instrument run checks the volume array's length and has no use for its
// values).
struct Float64Length {
  std::size_t length = 0;
};
bool convert(PyObject* obj, const char* name, Float64Length& out);

// A one-dimensional array argument that a call may read in place. When `in_place` is set
// before conversion (by a binding whose conversion and computation run no Python code of
// the caller's after this argument, so nothing can change the array meanwhile; the
// interpreter lock is held throughout), an aligned array is validated like any other and
// then read where it lies, for the duration of the call only; otherwise it is copied into
// `owned`. Either way `data`/`size` describe the elements. This spares a copy of every
// large input on calls that read each element once. Bool elements read in place are any
// nonzero byte for true (a uint8 buffer viewed as bool can hold 2..255).
template <class T>
struct ArrayArg {
  bool in_place = false;
  common::Buffer<T> owned;
  const T* data = nullptr;
  std::size_t size = 0;
  std::span<const T> view() const { return {data, size}; }
};
bool convert(PyObject* obj, const char* name, ArrayArg<double>& out);
bool convert(PyObject* obj, const char* name, ArrayArg<std::int64_t>& out);
bool convert(PyObject* obj, const char* name, ArrayArg<std::uint8_t>& out);  // bool arrays

// A two-dimensional float64 array of any strides, copied row-major.
struct Matrix {
  std::size_t rows = 0;
  std::size_t cols = 0;
  std::vector<double> data;
  double operator()(std::size_t r, std::size_t c) const { return data[r * cols + c]; }
};
bool convert(PyObject* obj, const char* name, Matrix& out);

// New one-dimensional arrays that take over the vector's storage (no copy).
PyObject* to_numpy(common::Buffer<double>&& v);
PyObject* to_numpy(common::Buffer<std::int64_t>&& v);
PyObject* to_numpy(std::vector<double>&& v);
PyObject* to_numpy(std::vector<std::int64_t>&& v);
PyObject* to_numpy(std::vector<std::int8_t>&& v);
PyObject* to_numpy(BoolArray&& v);
// A new rows x cols float64 array from a row-major buffer.
PyObject* to_numpy(Matrix&& m);

}  // namespace quillon::python
