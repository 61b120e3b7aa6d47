// Picture buffer memory: large buffers are mapped on their own, aligned to
// and sized in huge pages, and marked for huge pages. A 36 MB picture then
// takes some twenty faults on first touch rather than nine thousand, which
// on a virtual machine was the larger part of opening it.
#include <sys/mman.h>

#include <cstdint>
#include <new>

#include "vorn/image.h"

namespace vorn {
namespace {

constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kMapFrom = size_t(4) << 20;  // below this the heap serves

size_t mapped_size(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void* image_memory_allocate(size_t bytes) {
  if (bytes < kMapFrom) return ::operator new(bytes);
  if (bytes > SIZE_MAX - 2 * kHugePage) throw std::bad_alloc();
  const size_t size = mapped_size(bytes);
  // Over-map by a huge page, then give back the ends around the aligned
  // block so that only [start, start + size) stays mapped.
  void* raw = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const uintptr_t at = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t start = (at + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
  if (start > at) ::munmap(raw, start - at);
  const size_t tail = kHugePage - (start - at);
  if (tail > 0) ::munmap(reinterpret_cast<void*>(start + size), tail);
  void* p = reinterpret_cast<void*>(start);
  ::madvise(p, size, MADV_HUGEPAGE);  // advice only: without it the pages are small
  return p;
}

void image_memory_free(void* p, size_t bytes) noexcept {
  if (!p) return;
  if (bytes < kMapFrom)
    ::operator delete(p);
  else
    ::munmap(p, mapped_size(bytes));
}

}  // namespace vorn
