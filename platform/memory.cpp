#include "platform/memory.h"

#include <sys/mman.h>

#include <cerrno>
#include <cstdint>

namespace zelk {

namespace {
constexpr std::size_t HUGE_PAGE = std::size_t(2) << 20;
}

void* mapBlock(std::size_t bytes, bool populate) {
  if (bytes == 0) return nullptr;
  const int flags = MAP_PRIVATE | MAP_ANONYMOUS;
  if (bytes < HUGE_PAGE) {
    void* p =
        mmap(nullptr, bytes, PROT_READ | PROT_WRITE, flags | (populate ? MAP_POPULATE : 0), -1, 0);
    return p == MAP_FAILED ? nullptr : p;
  }
  // Over-ask by one huge page and trim both ends to the boundary.
  if (bytes > SIZE_MAX - HUGE_PAGE) return nullptr;
  void* raw = mmap(nullptr, bytes + HUGE_PAGE, PROT_READ | PROT_WRITE, flags, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
  if (aligned > start) munmap(raw, aligned - start);
  if (const std::size_t tail = start + HUGE_PAGE - aligned)
    munmap(reinterpret_cast<void*>(aligned + bytes), tail);
  void* p = reinterpret_cast<void*>(aligned);
  madvise(p, bytes, MADV_HUGEPAGE);
  if (populate && !populateBlock(p, bytes)) {
    munmap(p, bytes);
    return nullptr;
  }
  return p;
}

bool populateBlock(void* start, std::size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  // Kernels before 5.14 do not know it (EINVAL): the pages then fault in as
  // they are used.
  if (madvise(start, bytes, MADV_POPULATE_WRITE) != 0) return errno != ENOMEM && errno != EFAULT;
#else
  (void)start;
  (void)bytes;
#endif
  return true;
}

void unmapBlock(void* block, std::size_t bytes) {
  if (block) munmap(block, bytes);
}

}  // namespace zelk
