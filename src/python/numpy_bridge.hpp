// NumPy arrays in and out. Inputs are copied once into owned buffers (nothing is cast:
// the dtype must match exactly, in native byte order); outputs are new arrays that own
// their storage, so nothing handed back aliases internal state.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
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

// The input series of a call that holds the interpreter lock from conversion to return.
// It reads the caller's contiguous array in place when nothing can run Python code between
// this argument's conversion and the end of the call (every argument is of an inert kind:
// exact int/float/str/bool/None, an ndarray, an instance of a module class). Then no other
// Python code can observe, change or free the array while it is read, so the call sees
// exactly what a copy made at its start would hold -- without paying for the copy, which
// costs as much as a whole indicator over the same data. Otherwise (user code may run in a
// later argument's __index__/__float__) the data is copied, as owned inputs always are.
// Calls that release the interpreter lock must convert to common::Buffer instead.
template <class T>
class Series {
 public:
  Series() = default;
  Series(const Series&) = delete;
  Series& operator=(const Series&) = delete;
  Series(Series&& o) noexcept { *this = std::move(o); }
  Series& operator=(Series&& o) noexcept {
    if (this != &o) {
      Py_XDECREF(array_);
      array_ = o.array_;
      data_ = o.data_;
      size_ = o.size_;
      copy_ = std::move(o.copy_);
      if (array_ == nullptr) data_ = copy_.data();
      o.array_ = nullptr;
      o.data_ = nullptr;
      o.size_ = 0;
    }
    return *this;
  }
  ~Series() { Py_XDECREF(array_); }

  std::span<const T> span() const { return {data_, size_}; }
  operator std::span<const T>() const { return span(); }  // NOLINT: the core takes spans
  std::size_t size() const { return size_; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  bool borrowed() const { return array_ != nullptr; }

  // Used by the converter only.
  void borrow(PyObject* array, const T* data, std::size_t size) {
    Py_XDECREF(array_);
    array_ = Py_NewRef(array);
    data_ = data;
    size_ = size;
    copy_.clear();
  }
  void own(common::Buffer<T>&& copy) {
    Py_XDECREF(array_);
    array_ = nullptr;
    copy_ = std::move(copy);
    data_ = copy_.data();
    size_ = copy_.size();
  }

 private:
  PyObject* array_ = nullptr;
  const T* data_ = nullptr;
  std::size_t size_ = 0;
  common::Buffer<T> copy_;
};

bool convert(PyObject* obj, const char* name, Series<double>& out);
bool convert(PyObject* obj, const char* name, Series<std::int64_t>& out);
// A bool array read the same way. Its elements are the array's bytes as they are: any
// nonzero byte is true (a uint8 buffer viewed as bool can hold 2..255), which the reader
// must allow for -- unlike BoolArray, which normalises a copy to exactly 0 or 1.
bool convert(PyObject* obj, const char* name, Series<std::uint8_t>& out);

// Whether converting `obj` can run Python code of the caller's (see Series). Module classes
// register their types here so their instances count as inert.
bool inert_argument(PyObject* obj);
void register_inert_type(PyTypeObject* type);

// Set by parse() for the duration of the conversions of one call.
class InertCallScope {
 public:
  explicit InertCallScope(bool inert);
  ~InertCallScope();
  InertCallScope(const InertCallScope&) = delete;
  InertCallScope& operator=(const InertCallScope&) = delete;

 private:
  bool previous_;
};

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
