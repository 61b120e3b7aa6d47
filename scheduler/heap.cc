#include "scheduler/heap.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr size_t kReserve = size_t(64) << 20;  // heap grown ahead at a time
constexpr uintptr_t kHugePage = uintptr_t(2) << 20;

}  // namespace

void PrepareHeap() {
  // Each extension of the heap reserves this much ahead (address space,
  // not memory until touched), and freed memory is not given back below it,
  // so most records land in the region advised here.
  ::mallopt(M_TOP_PAD, int(kReserve));
  ::mallopt(M_TRIM_THRESHOLD, int(2 * kReserve));
  auto start = reinterpret_cast<uintptr_t>(::sbrk(0));
  // A block larger than what is left on top makes malloc extend the heap
  // (by the block and the pad); freed, it stays there for the records. It
  // must not be mapped on its own as large blocks are, for this once.
  ::mallopt(M_MMAP_THRESHOLD, int(kReserve));
  void* volatile block = std::malloc(kReserve / 2);  // volatile: the pair must not be optimized away
  std::free(block);
  ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  auto end = reinterpret_cast<uintptr_t>(::sbrk(0));
  uintptr_t from = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (end > from) ::madvise(reinterpret_cast<void*>(from), end - from, MADV_HUGEPAGE);  // a hint: failure is fine
}
