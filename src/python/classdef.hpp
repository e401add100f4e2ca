// Native classes described once. A ClassDef<T> wraps a plain core record T: it builds the
// heap type on first use and owns the behaviour every class shares -- no instance dict,
// "can't delete attribute", "No constructor defined", a new Python object on every property
// read, conversion on every property write, and the borrow flag around every method.
//
//   PyTypeObject* build_stop_config() {
//     static ClassDef<StopConfig> def("StopConfig", "Stop-loss model.");
//     return def.constructor<new_stop_config>(sig_StopConfig.view())
//               .property<&StopConfig::percent>("percent", "Fraction of the entry price.")
//               .method<py_set_fixed>(sig_set_fixed.view(), "Use a fixed stop.")
//               .build();
//   }
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/state.hpp"
#include "python/args.hpp"
#include "python/borrow.hpp"
#include "python/convert.hpp"
#include "python/numpy_bridge.hpp"
#include "python/py_errors.hpp"
#include "python/python_api.hpp"

namespace quillon::python {

using FastCall = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

template <class T>
struct Instance {
  PyObject ob_base;
  int borrow;
  union {
    T value;  // constructed in place after tp_alloc, destroyed in dealloc
  };
};

// The type object of record T once its ClassDef has been built.
template <class T>
inline PyTypeObject* type_object = nullptr;

template <class T>
Instance<T>* instance(PyObject* self) {
  return reinterpret_cast<Instance<T>*>(self);
}

// A new instance of `type` (T's class or a subclass of it) holding `value` (moved in).
template <class T>
PyObject* new_instance(PyTypeObject* type, T&& value) {
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  auto* inst = instance<T>(self);
  inst->borrow = 0;
  new (&inst->value) T(std::move(value));
  return self;
}

// A new Python object of T's class holding `value` (moved in).
template <class T>
PyObject* wrap(T value) {
  PyTypeObject* type = type_object<T>;
  if (type == nullptr) return raise_internal("class used before registration");
  return new_instance(type, std::move(value));
}

// An instance argument (the class or a subclass), read through a shared borrow that
// lasts as long as the Ref.
template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(Ref&& o) noexcept : obj_(o.obj_), borrow_(std::move(o.borrow_)) { o.obj_ = nullptr; }
  Ref& operator=(Ref&& o) noexcept {
    if (this != &o) {
      borrow_ = Borrow();
      Py_XDECREF(obj_);
      obj_ = o.obj_;
      borrow_ = std::move(o.borrow_);
      o.obj_ = nullptr;
    }
    return *this;
  }
  ~Ref() {
    borrow_ = Borrow();
    Py_XDECREF(obj_);
  }
  bool bind(PyObject* obj, const char* name) {
    PyTypeObject* type = type_object<T>;
    if (type == nullptr || !PyObject_TypeCheck(obj, type))
      return argument_error(name, cannot_convert(obj, type ? type_name(type) : "?"));
    Borrow b(instance<T>(obj)->borrow, Access::shared);
    if (!b) return false;
    obj_ = Py_NewRef(obj);
    borrow_ = std::move(b);
    return true;
  }
  const T& operator*() const { return instance<T>(obj_)->value; }
  const T* operator->() const { return &instance<T>(obj_)->value; }

 private:
  static const char* type_name(PyTypeObject* t) {
    const char* dot = std::strrchr(t->tp_name, '.');
    return dot ? dot + 1 : t->tp_name;
  }
  PyObject* obj_ = nullptr;
  Borrow borrow_;
};

template <class T>
bool convert(PyObject* obj, const char* name, Ref<T>& out) {
  return out.bind(obj, name);
}

namespace detail {

template <class M>
struct member_of;
template <class C, class F>
struct member_of<F C::*> {
  using record = C;
  using field = F;
};

template <class F>
struct method_of;
template <class T>
struct method_of<PyObject* (*)(T&, PyObject* const*, Py_ssize_t, PyObject*)> {
  using record = T;
  static constexpr Access access = Access::exclusive;
};
template <class T>
struct method_of<PyObject* (*)(const T&, PyObject* const*, Py_ssize_t, PyObject*)> {
  using record = T;
  static constexpr Access access = Access::shared;
};

}  // namespace detail

template <class T>
class ClassDef {
 public:
  ClassDef(const char* name, const char* prose) : name_(name), prose_(prose ? prose : "") {
    qualified_ = std::string("_quillon.") + name;
  }
  ClassDef(const ClassDef&) = delete;
  ClassDef& operator=(const ClassDef&) = delete;

  // Fn: std::optional<T> (*)(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames),
  // returning nullopt with a Python exception set. `sig` supplies the class's text signature.
  template <auto Fn>
  ClassDef& constructor(const SignatureView& sig) {
    ctor_sig_ = sig;
    has_ctor_ = true;
    new_ = &construct<Fn>;
    return *this;
  }

  // Read-write property backed by a field; writes convert like a constructor argument.
  template <auto Member>
  ClassDef& property(const char* name, const char* doc = nullptr) {
    return add_getset(name, doc, &get_member<Member>, &set_member<Member>);
  }
  template <auto Member>
  ClassDef& readonly(const char* name, const char* doc = nullptr) {
    return add_getset(name, doc, &get_member<Member>, &set_readonly);
  }
  // Computed read-only property: Get is PyObject* (*)(const T&).
  template <auto Get>
  ClassDef& getter(const char* name, const char* doc = nullptr) {
    return add_getset(name, doc, &get_computed<Get>, &set_readonly);
  }
  // Computed read-write property: Set is bool (*)(T&, PyObject* value, const char* name).
  template <auto Get, auto Set>
  ClassDef& getset(const char* name, const char* doc = nullptr) {
    return add_getset(name, doc, &get_computed<Get>, &set_computed<Set>);
  }

  // Fn: PyObject* (*)(T& or const T&, PyObject* const*, Py_ssize_t, PyObject*). A `T&` method
  // takes the object exclusively, a `const T&` one shares it.
  template <auto Fn>
  ClassDef& method(const SignatureView& sig, const char* prose) {
    return add_method(sig, prose, reinterpret_cast<PyCFunction>(
                                      reinterpret_cast<void (*)()>(&call_method<Fn>)),
                      METH_FASTCALL | METH_KEYWORDS, true);
  }
  // Fn: PyObject* (*)(PyObject* const*, Py_ssize_t, PyObject*).
  template <auto Fn>
  ClassDef& static_method(const SignatureView& sig, const char* prose) {
    return add_method(sig, prose, reinterpret_cast<PyCFunction>(
                                      reinterpret_cast<void (*)()>(&call_static<Fn>)),
                      METH_FASTCALL | METH_KEYWORDS | METH_STATIC, false);
  }
  // A method defined directly on the object (e.g. __reduce__): Fn is FastCall-shaped and
  // gets the raw self; it manages borrows itself.
  ClassDef& raw_method(const char* name, FastCall fn, int flags, const char* doc) {
    methods_.push_back({name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn)),
                        flags, doc});
    return *this;
  }

  // Pickling (and copy.copy / copy.deepcopy) through the record's complete state:
  // `__reduce__` returns (cls._from_state, (state_bytes,)), and the class method
  // `_from_state` rebuilds an instance of cls (or a subclass) from those bytes, so classes
  // without a constructor pickle too and fields without a property are kept.
  // Encode: void (*)(const T&, common::StateWriter&); Decode: bool (*)(common::StateReader&, T&),
  // false for bytes that are not a state of T (reported as ValueError, never read past
  // their end).
  template <auto Encode, auto Decode>
  ClassDef& picklable() {
    methods_.push_back({"__reduce__",
                        reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&reduce<Encode>)),
                        METH_NOARGS, "Return the state for pickling."});
    methods_.push_back(
        {"_from_state",
         reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&from_state<Decode>)),
         METH_O | METH_CLASS, "Rebuild an instance from the state that __reduce__ returns."});
    return *this;
  }

  // Fn: std::string (*)(const T&).
  template <auto Fn>
  ClassDef& repr() {
    repr_ = &call_repr<Fn>;
    return *this;
  }

  PyTypeObject* build() {
    if (type_object<T> != nullptr) return type_object<T>;
    doc_ = has_ctor_ ? make_doc(ctor_sig_, prose_.c_str()) : prose_;
    getset_.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
    methods_.push_back({nullptr, nullptr, 0, nullptr});
    std::vector<PyType_Slot> slots = {
        {Py_tp_doc, const_cast<char*>(doc_.c_str())},
        {Py_tp_new, reinterpret_cast<void*>(has_ctor_ ? new_ : &no_constructor)},
        {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
        {Py_tp_getset, getset_.data()},
        {Py_tp_methods, methods_.data()},
    };
    if (repr_) slots.push_back({Py_tp_repr, reinterpret_cast<void*>(repr_)});
    slots.push_back({0, nullptr});
    PyType_Spec spec{qualified_.c_str(), static_cast<int>(sizeof(Instance<T>)), 0,
                     static_cast<unsigned>(Py_TPFLAGS_DEFAULT |
                                           (has_ctor_ ? Py_TPFLAGS_BASETYPE : 0)),
                     slots.data()};
    PyObject* type = PyType_FromSpec(&spec);
    if (type == nullptr) return nullptr;
    type_object<T> = reinterpret_cast<PyTypeObject*>(type);  // kept for the process's life
    // Exact instances only: a Python subclass may override anything.
    register_inert_type(type_object<T>);
    return type_object<T>;
  }

 private:
  ClassDef& add_getset(const char* name, const char* doc, ::getter get, ::setter set) {
    getset_.push_back({name, get, set, doc, const_cast<char*>(name)});
    return *this;
  }
  ClassDef& add_method(const SignatureView& sig, const char* prose, PyCFunction fn, int flags,
                       bool self_param) {
    docs_.push_back(make_doc(sig, prose, self_param));
    const char* dot = std::strrchr(sig.name, '.');
    methods_.push_back({dot ? dot + 1 : sig.name, fn, flags, docs_.back().c_str()});
    return *this;
  }

  static PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "No constructor defined");
    return nullptr;
  }

  template <auto Fn>
  static PyObject* construct(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
      // Constructors take the same fast-call form as every other entry point.
      const Py_ssize_t npos = PyTuple_GET_SIZE(args);
      const Py_ssize_t nkw = kwargs ? PyDict_GET_SIZE(kwargs) : 0;
      std::vector<PyObject*> flat(static_cast<std::size_t>(npos + nkw));
      for (Py_ssize_t i = 0; i < npos; ++i) flat[i] = PyTuple_GET_ITEM(args, i);
      PyObject* kwnames = nullptr;
      if (nkw > 0) {
        kwnames = PyTuple_New(nkw);
        if (kwnames == nullptr) return nullptr;
        PyObject *key, *value;
        Py_ssize_t pos = 0, k = 0;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
          PyTuple_SET_ITEM(kwnames, k, Py_NewRef(key));
          flat[npos + k] = value;
          ++k;
        }
      }
      std::optional<T> made = Fn(flat.data(), npos, kwnames);
      Py_XDECREF(kwnames);
      if (!made) return nullptr;
      return new_instance(subtype, std::move(*made));
    });
  }

  static void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    instance<T>(self)->value.~T();
    type->tp_free(self);
    Py_DECREF(type);
  }

  template <auto Member>
  static PyObject* get_member(PyObject* self, void*) {
    auto* inst = instance<T>(self);
    Borrow b(inst->borrow, Access::shared);
    if (!b) return nullptr;
    return guarded([&]() -> PyObject* { return to_py(inst->value.*Member); });
  }
  template <auto Member>
  static int set_member(PyObject* self, PyObject* value, void* closure) {
    if (value == nullptr) return cannot_delete();
    using F = typename detail::member_of<decltype(Member)>::field;
    return guarded([&]() -> int {
      F converted{};
      if (!convert(value, static_cast<const char*>(closure), converted)) return -1;
      auto* inst = instance<T>(self);
      Borrow b(inst->borrow, Access::exclusive);
      if (!b) return -1;
      inst->value.*Member = std::move(converted);
      return 0;
    });
  }
  template <auto Get>
  static PyObject* get_computed(PyObject* self, void*) {
    auto* inst = instance<T>(self);
    Borrow b(inst->borrow, Access::shared);
    if (!b) return nullptr;
    return guarded([&]() -> PyObject* { return Get(inst->value); });
  }
  template <auto Set>
  static int set_computed(PyObject* self, PyObject* value, void* closure) {
    if (value == nullptr) return cannot_delete();
    return guarded([&]() -> int {
      auto* inst = instance<T>(self);
      Borrow b(inst->borrow, Access::exclusive);
      if (!b) return -1;
      return Set(inst->value, value, static_cast<const char*>(closure)) ? 0 : -1;
    });
  }
  static int set_readonly(PyObject*, PyObject* value, void* closure) {
    if (value == nullptr) return cannot_delete();
    PyErr_Format(PyExc_AttributeError, "attribute '%s' of '%s' objects is not writable",
                 static_cast<const char*>(closure), qualified_name());
    return -1;
  }
  static int cannot_delete() {
    PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
    return -1;
  }
  static const char* qualified_name() {
    return type_object<T> ? type_object<T>->tp_name : "?";
  }

  template <auto Fn>
  static PyObject* call_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    using M = detail::method_of<decltype(Fn)>;
    static_assert(std::is_same_v<typename M::record, T>, "method bound to another class");
    auto* inst = instance<T>(self);
    Borrow b(inst->borrow, M::access);
    if (!b) return nullptr;
    return guarded([&]() -> PyObject* { return Fn(inst->value, args, nargs, kwnames); });
  }
  template <auto Fn>
  static PyObject* call_static(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    return guarded([&]() -> PyObject* { return Fn(args, nargs, kwnames); });
  }
  template <auto Fn>
  static PyObject* call_repr(PyObject* self) {
    auto* inst = instance<T>(self);
    Borrow b(inst->borrow, Access::shared);
    if (!b) return nullptr;
    return guarded([&]() -> PyObject* { return to_py(Fn(inst->value)); });
  }

  // The state starts with the class's qualified name and a format version, so bytes of
  // another class or an older layout are refused rather than misread.
  static constexpr std::uint32_t state_version = 1;

  template <auto Encode>
  static PyObject* reduce(PyObject* self, PyObject*) {
    auto* inst = instance<T>(self);
    Borrow b(inst->borrow, Access::shared);
    if (!b) return nullptr;
    return guarded([&]() -> PyObject* {
      common::StateWriter w;
      w.put(std::string_view(qualified_name()));
      w.put(state_version);
      Encode(inst->value, w);
      const std::string bytes = w.take();
      PyObject* restore =
          PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "_from_state");
      PyObject* data =
          PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
      return tuple_of({restore, tuple_of({data})});
    });
  }

  template <auto Decode>
  static PyObject* from_state(PyObject* cls, PyObject* state) {
    return guarded([&]() -> PyObject* {
      if (!PyBytes_Check(state)) {
        argument_error("state", cannot_convert(state, "bytes"));
        return nullptr;
      }
      common::StateReader r(std::string_view(PyBytes_AS_STRING(state),
                                             static_cast<std::size_t>(PyBytes_GET_SIZE(state))));
      std::string tag;
      std::uint32_t version = 0;
      T value{};
      if (!r.get(tag) || tag != qualified_name() || !r.get(version) || version != state_version ||
          !Decode(r, value) || !r.at_end()) {
        PyErr_Format(PyExc_ValueError, "invalid pickled state for %s", qualified_name());
        return nullptr;
      }
      return new_instance(reinterpret_cast<PyTypeObject*>(cls), std::move(value));
    });
  }

  const char* name_;
  std::string prose_;
  std::string qualified_;
  std::string doc_;
  SignatureView ctor_sig_{nullptr, nullptr, 0};
  bool has_ctor_ = false;
  newfunc new_ = nullptr;
  reprfunc repr_ = nullptr;
  std::vector<PyGetSetDef> getset_;
  std::vector<PyMethodDef> methods_;
  std::deque<std::string> docs_;  // stable addresses for the method docstrings
};

}  // namespace quillon::python
