// One borrow flag per object: > 0 readers, -1 one writer. A conflicting borrow fails at
// once instead of waiting: the conflict comes from re-entry (an argument's __float__
// calling back into the object) or from another thread, and waiting under the
// interpreter lock would deadlock.
#pragma once

#include "python/python_api.hpp"

namespace quillon::python {

enum class Access { shared, exclusive };

class Borrow {
 public:
  Borrow() = default;
  Borrow(int& flag, Access access) {
    if (access == Access::exclusive) {
      if (flag != 0) {
        PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
        return;
      }
      flag = -1;
    } else {
      if (flag < 0) {
        PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
        return;
      }
      ++flag;
    }
    flag_ = &flag;
  }
  Borrow(Borrow&& other) noexcept : flag_(other.flag_) { other.flag_ = nullptr; }
  Borrow& operator=(Borrow&& other) noexcept {
    if (this != &other) {
      release();
      flag_ = other.flag_;
      other.flag_ = nullptr;
    }
    return *this;
  }
  Borrow(const Borrow&) = delete;
  Borrow& operator=(const Borrow&) = delete;
  ~Borrow() { release(); }

  explicit operator bool() const { return flag_ != nullptr; }

 private:
  void release() {
    if (flag_ != nullptr) {
      if (*flag_ < 0) *flag_ = 0;
      else --*flag_;
      flag_ = nullptr;
    }
  }
  int* flag_ = nullptr;
};

}  // namespace quillon::python
