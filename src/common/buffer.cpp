// The block cache behind Buffer. Small blocks go straight to malloc; blocks of at least
// kLargeBlock bytes are rounded up to whole huge pages, so a freed block can serve any later
// request of the same rounded size. The cache is bounded in count and bytes and guarded by a
// mutex because buffers may be freed on a worker thread.
#include "common/buffer.hpp"

#include <cstdlib>
#include <mutex>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace quillon::common::detail {
namespace {

constexpr std::size_t kLargeBlock = std::size_t{1} << 20;  // 1 MiB
constexpr std::size_t kHugePage = std::size_t{2} << 20;    // 2 MiB
constexpr std::size_t kMaxCachedBlocks = 8;
constexpr std::size_t kMaxCachedBytes = std::size_t{256} << 20;

#if defined(QUILLON_NO_BLOCK_CACHE) || defined(__SANITIZE_ADDRESS__)
// Under AddressSanitizer every free must reach the allocator, or use-after-free is hidden.
constexpr bool kCacheEnabled = false;
#else
constexpr bool kCacheEnabled = true;
#endif

std::size_t rounded(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

struct Cache {
  std::mutex mutex;
  void* block[kMaxCachedBlocks] = {};
  std::size_t size[kMaxCachedBlocks] = {};
  std::size_t count = 0;
  std::size_t bytes = 0;
};

Cache& cache() {
  // Never destroyed: buffers owned by Python objects may be released during interpreter
  // shutdown, after static destructors would have run.
  static Cache* c = new Cache;
  return *c;
}

void* fresh_large(std::size_t size) {
  void* p = std::aligned_alloc(kHugePage, size);
  if (p == nullptr) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  ::madvise(p, size, MADV_HUGEPAGE);  // a hint: failure only costs speed
#endif
  return p;
}

}  // namespace

void* acquire_block(std::size_t bytes) {
  if (bytes < kLargeBlock) {
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr) throw std::bad_alloc();
    return p;
  }
  if (bytes > static_cast<std::size_t>(-1) - kHugePage) throw std::bad_alloc();
  const std::size_t size = rounded(bytes);
  if (kCacheEnabled) {
    Cache& c = cache();
    std::lock_guard<std::mutex> lock(c.mutex);
    for (std::size_t i = c.count; i-- > 0;) {  // newest first: most likely still in cache
      if (c.size[i] == size) {
        void* p = c.block[i];
        for (std::size_t j = i + 1; j < c.count; ++j) {
          c.block[j - 1] = c.block[j];
          c.size[j - 1] = c.size[j];
        }
        --c.count;
        c.bytes -= size;
        return p;
      }
    }
  }
  return fresh_large(size);
}

void release_block(void* p, std::size_t bytes) noexcept {
  if (p == nullptr) return;
  if (bytes < kLargeBlock || !kCacheEnabled) {
    std::free(p);
    return;
  }
  const std::size_t size = rounded(bytes);
  if (size > kMaxCachedBytes) {
    std::free(p);
    return;
  }
  Cache& c = cache();
  std::lock_guard<std::mutex> lock(c.mutex);
  // Evict the oldest blocks until the new one fits the bounds.
  while (c.count > 0 && (c.count == kMaxCachedBlocks || c.bytes + size > kMaxCachedBytes)) {
    std::free(c.block[0]);
    c.bytes -= c.size[0];
    for (std::size_t j = 1; j < c.count; ++j) {
      c.block[j - 1] = c.block[j];
      c.size[j - 1] = c.size[j];
    }
    --c.count;
  }
  c.block[c.count] = p;
  c.size[c.count] = size;
  ++c.count;
  c.bytes += size;
}

}  // namespace quillon::common::detail
