#define QUILLON_OWNS_NUMPY_API
#include "python/numpy_bridge.hpp"

#include <cstring>
#include <string>
#include <type_traits>

#include "python/convert.hpp"
#include "python/py_errors.hpp"

namespace quillon::python {

bool import_numpy() {
  import_array1(false);
  return true;
}

namespace {

std::string dtype_name(PyArrayObject* arr) {
  PyArray_Descr* d = PyArray_DESCR(arr);
  PyObject* s = PyObject_Str(reinterpret_cast<PyObject*>(d));
  std::string out = "unknown";
  if (s != nullptr) {
    if (const char* t = PyUnicode_AsUTF8(s)) out = t;
    Py_DECREF(s);
  }
  PyErr_Clear();
  return out;
}

// Returns the array if it is a 1-D (or `ndim`-D) array of exactly `type_num` in native
// byte order; otherwise sets the argument error (or the internal error for a strided
// 1-D view) and returns nullptr.
PyArrayObject* checked_array(PyObject* obj, const char* name, int type_num, int ndim,
                             const char* expected_name, bool need_contiguous) {
  if (!PyArray_Check(obj)) {
    argument_error(name, cannot_convert(obj, "ndarray"));
    return nullptr;
  }
  auto* arr = reinterpret_cast<PyArrayObject*>(obj);
  if (PyArray_NDIM(arr) != ndim) {
    argument_error(name, "dimensionality mismatch:\n from=" + std::to_string(PyArray_NDIM(arr)) +
                             ", to=" + std::to_string(ndim));
    return nullptr;
  }
  // A byte-swapped float64 has the right type number but the wrong bits: refuse it like
  // any other dtype rather than read garbage.
  if (PyArray_TYPE(arr) != type_num || !PyArray_ISNOTSWAPPED(arr)) {
    argument_error(name, "type mismatch:\n from=" + dtype_name(arr) + ", to=" + expected_name);
    return nullptr;
  }
  if (need_contiguous && !PyArray_IS_C_CONTIGUOUS(arr) && !PyArray_IS_F_CONTIGUOUS(arr)) {
    raise_internal(std::string("argument '") + name + "': array is not contiguous");
    return nullptr;
  }
  return arr;
}

template <class Vec>
bool copy_1d(PyObject* obj, const char* name, int type_num, const char* expected, Vec& out) {
  using T = typename Vec::value_type;
  PyArrayObject* arr = checked_array(obj, name, type_num, 1, expected, true);
  if (arr == nullptr) return false;
  const auto n = static_cast<std::size_t>(PyArray_DIM(arr, 0));
  Vec v;
  if constexpr (std::is_same_v<typename Vec::allocator_type, common::BufferAllocator<T>>) {
    // An owned series buffer: resize() leaves the elements uninitialised, so the copy is a
    // single memcpy pass.
    v.resize(n);
    if (n != 0) std::memcpy(v.data(), PyArray_DATA(arr), n * sizeof(T));
  } else if (PyArray_ISALIGNED(arr)) {
    // Copy straight into fresh storage: no zero-fill pass before the copy.
    const T* src = static_cast<const T*>(PyArray_DATA(arr));
    v.assign(src, src + n);
  } else {
    v.resize(n);
    if (n != 0) std::memcpy(v.data(), PyArray_DATA(arr), n * sizeof(T));
  }
  out = std::move(v);
  return true;
}

template <class Vec>
struct Owner {
  Vec storage;
};

template <class Vec>
void free_owner(PyObject* capsule) {
  delete static_cast<Owner<Vec>*>(PyCapsule_GetPointer(capsule, "quillon.buffer"));
}

// Hands the vector's storage to a new array through a capsule base, so the buffer lives
// exactly as long as the array and no copy is made.
template <class Vec>
PyObject* adopt(Vec&& v, int type_num) {
  using T = typename Vec::value_type;
  auto* owner = new Owner<Vec>{std::move(v)};
  npy_intp dims[1] = {static_cast<npy_intp>(owner->storage.size())};
  PyObject* capsule = PyCapsule_New(owner, "quillon.buffer", free_owner<Vec>);
  if (capsule == nullptr) {
    delete owner;
    return nullptr;
  }
  // An empty vector has no storage; NumPy still wants a non-null pointer.
  static T empty_slot{};
  void* data = owner->storage.empty() ? static_cast<void*>(&empty_slot) : owner->storage.data();
  PyObject* arr = PyArray_New(&PyArray_Type, 1, dims, type_num, nullptr, data, 0,
                              NPY_ARRAY_CARRAY, nullptr);
  if (arr == nullptr) {
    Py_DECREF(capsule);
    return nullptr;
  }
  if (owner->storage.empty()) {
    // Never let a caller write into the shared empty slot: give them a real empty array.
    Py_DECREF(arr);
    Py_DECREF(capsule);
    return PyArray_SimpleNew(1, dims, type_num);
  }
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(arr), capsule) < 0) {
    Py_DECREF(arr);
    Py_DECREF(capsule);
    return nullptr;
  }
  return arr;
}

}  // namespace

namespace {

thread_local bool t_inert_call = false;

std::vector<PyTypeObject*>& inert_types() {
  static std::vector<PyTypeObject*> types;
  return types;
}

template <class T>
bool borrow_or_copy(PyObject* obj, const char* name, int type_num, const char* expected,
                    Series<T>& out) {
  PyArrayObject* arr = checked_array(obj, name, type_num, 1, expected, true);
  if (arr == nullptr) return false;
  if (t_inert_call && PyArray_ISALIGNED(arr)) {
    out.borrow(obj, static_cast<const T*>(PyArray_DATA(arr)),
               static_cast<std::size_t>(PyArray_DIM(arr, 0)));
    return true;
  }
  common::Buffer<T> copy;
  if (!copy_1d(obj, name, type_num, expected, copy)) return false;
  out.own(std::move(copy));
  return true;
}

}  // namespace

bool convert(PyObject* obj, const char* name, Series<double>& out) {
  return borrow_or_copy(obj, name, NPY_DOUBLE, "float64", out);
}

bool convert(PyObject* obj, const char* name, Series<std::int64_t>& out) {
  return borrow_or_copy(obj, name, NPY_INT64, "int64", out);
}

bool convert(PyObject* obj, const char* name, Series<std::uint8_t>& out) {
  return borrow_or_copy(obj, name, NPY_BOOL, "bool", out);
}

bool inert_argument(PyObject* obj) {
  if (obj == nullptr || obj == Py_None || PyFloat_CheckExact(obj) || PyLong_CheckExact(obj) ||
      PyBool_Check(obj) || PyUnicode_CheckExact(obj) || PyArray_CheckExact(obj)) {
    return true;
  }
  // NumPy's own scalar types (np.float64, np.int64, np.bool_, ...: static types, unlike a
  // Python subclass of them) convert through their C slots. Values taken out of arrays are
  // such scalars, so this keeps the common call on the fast path.
  if (PyArray_IsScalar(obj, Generic) && !(Py_TYPE(obj)->tp_flags & Py_TPFLAGS_HEAPTYPE)) {
    return true;
  }
  for (PyTypeObject* type : inert_types())
    if (Py_IS_TYPE(obj, type)) return true;
  return false;
}

void register_inert_type(PyTypeObject* type) { inert_types().push_back(type); }

InertCallScope::InertCallScope(bool inert) : previous_(t_inert_call) { t_inert_call = inert; }
InertCallScope::~InertCallScope() { t_inert_call = previous_; }

bool convert(PyObject* obj, const char* name, common::Buffer<double>& out) {
  return copy_1d(obj, name, NPY_DOUBLE, "float64", out);
}

bool convert(PyObject* obj, const char* name, common::Buffer<std::int64_t>& out) {
  return copy_1d(obj, name, NPY_INT64, "int64", out);
}

bool convert(PyObject* obj, const char* name, std::vector<double>& out) {
  return copy_1d(obj, name, NPY_DOUBLE, "float64", out);
}

bool convert(PyObject* obj, const char* name, std::vector<std::int64_t>& out) {
  return copy_1d(obj, name, NPY_INT64, "int64", out);
}

bool convert(PyObject* obj, const char* name, BoolArray& out) {
  if (!copy_1d(obj, name, NPY_BOOL, "bool", out.values)) return false;
  // A uint8 buffer viewed as bool can hold 2..255; the core relies on exactly 0 or 1.
  for (auto& b : out.values) b = b != 0;
  return true;
}

bool convert(PyObject* obj, const char* name, Matrix& out) {
  PyArrayObject* arr = checked_array(obj, name, NPY_DOUBLE, 2, "float64", false);
  if (arr == nullptr) return false;
  Matrix m;
  m.rows = static_cast<std::size_t>(PyArray_DIM(arr, 0));
  m.cols = static_cast<std::size_t>(PyArray_DIM(arr, 1));
  m.data.resize(m.rows * m.cols);
  const char* base = static_cast<const char*>(PyArray_DATA(arr));
  const npy_intp s0 = PyArray_STRIDE(arr, 0), s1 = PyArray_STRIDE(arr, 1);
  for (std::size_t r = 0; r < m.rows; ++r)
    for (std::size_t c = 0; c < m.cols; ++c)
      std::memcpy(&m.data[r * m.cols + c],
                  base + static_cast<npy_intp>(r) * s0 + static_cast<npy_intp>(c) * s1,
                  sizeof(double));
  out = std::move(m);
  return true;
}

PyObject* to_numpy(common::Buffer<double>&& v) { return adopt(std::move(v), NPY_DOUBLE); }
PyObject* to_numpy(common::Buffer<std::int64_t>&& v) { return adopt(std::move(v), NPY_INT64); }
PyObject* to_numpy(std::vector<double>&& v) { return adopt(std::move(v), NPY_DOUBLE); }
PyObject* to_numpy(std::vector<std::int64_t>&& v) { return adopt(std::move(v), NPY_INT64); }
PyObject* to_numpy(std::vector<std::int8_t>&& v) { return adopt(std::move(v), NPY_INT8); }
PyObject* to_numpy(BoolArray&& v) { return adopt(std::move(v.values), NPY_BOOL); }

PyObject* to_numpy(Matrix&& m) {
  npy_intp dims[2] = {static_cast<npy_intp>(m.rows), static_cast<npy_intp>(m.cols)};
  PyObject* arr = PyArray_SimpleNew(2, dims, NPY_DOUBLE);
  if (arr != nullptr && !m.data.empty())
    std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(arr)), m.data.data(),
                m.data.size() * sizeof(double));
  return arr;
}

}  // namespace quillon::python
