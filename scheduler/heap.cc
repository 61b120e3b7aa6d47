#include "scheduler/heap.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr size_t kReserve = size_t(64) << 20;  // heap grown ahead at a time
constexpr uintptr_t kHugePage = uintptr_t(2) << 20;
constexpr size_t kBlock = 120 * 1024;  // below malloc's threshold for mapping a block alone

}  // namespace

void PrepareHeap() {
  // Each extension of the heap reserves this much ahead (address space,
  // not memory until touched), and freed memory is not given back below it,
  // so most records land in the region advised here.
  ::mallopt(M_TOP_PAD, int(kReserve));
  ::mallopt(M_TRIM_THRESHOLD, int(2 * kReserve));
  auto start = reinterpret_cast<uintptr_t>(::sbrk(0));
  // Blocks taken until the heap grows (it starts with a little room on
  // top): the growth is the pad. They are below the size that malloc maps
  // on its own, and freed they stay for the records.
  void* volatile blocks[4] = {};  // volatile: the allocations must not be optimized away
  for (int i = 0; i < 4 && reinterpret_cast<uintptr_t>(::sbrk(0)) == start; i++) blocks[i] = std::malloc(kBlock);
  for (void* b : blocks) std::free(b);
  auto end = reinterpret_cast<uintptr_t>(::sbrk(0));
  uintptr_t from = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (end > from) ::madvise(reinterpret_cast<void*>(from), end - from, MADV_HUGEPAGE);  // a hint: failure is fine
}
