// Owned numeric buffers for series data. Every call copies its input arrays into owned
// buffers and hands its outputs to Python, so a run over n bars allocates several n-sized
// blocks and frees them again. Fresh multi-megabyte blocks cost a page fault per 4 KiB page
// (more than the arithmetic of a whole indicator), so large blocks are reused from a small
// bounded cache and requested as transparent huge pages. Elements are default-initialised:
// `Buffer<double> b(n)` does not write n zeros that the caller overwrites anyway.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace quillon::common {

namespace detail {
void* acquire_block(std::size_t bytes);            // throws std::bad_alloc
void release_block(void* p, std::size_t bytes) noexcept;
}  // namespace detail

template <class T>
struct BufferAllocator {
  using value_type = T;
  BufferAllocator() noexcept = default;
  template <class U>
  BufferAllocator(const BufferAllocator<U>&) noexcept {}  // NOLINT: rebinding

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(detail::acquire_block(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { detail::release_block(p, n * sizeof(T)); }

  // Default-initialise on resize()/count construction; forward everything else.
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    if constexpr (sizeof...(Args) == 0) {
      ::new (static_cast<void*>(p)) U;
    } else {
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
  }

  template <class U>
  bool operator==(const BufferAllocator<U>&) const noexcept {
    return true;
  }
};

template <class T>
using Buffer = std::vector<T, BufferAllocator<T>>;

}  // namespace quillon::common
