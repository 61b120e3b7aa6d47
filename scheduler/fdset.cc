#include "scheduler/fdset.h"

#include <cstddef>
#include <sys/resource.h>

int DescriptorLimit = 0;
int FdSetBytes = 0;
fd_bits InputSet, OutputSet;

namespace {
constexpr rlim_t kMaxDescriptors = 4096;
}

void fd_bits::resize(int limit) {
  limit_ = limit > 0 ? limit : 0;
  words_.assign(size_t((limit_ + kBits - 1) / kBits), 0);
}

void fd_bits::set(int fd) {
  if (fd >= 0 && fd < limit_) words_[size_t(fd / kBits)] |= 1UL << (fd % kBits);
}

void fd_bits::clear(int fd) {
  if (fd >= 0 && fd < limit_) words_[size_t(fd / kBits)] &= ~(1UL << (fd % kBits));
}

bool fd_bits::isset(int fd) const {
  return fd >= 0 && fd < limit_ && (words_[size_t(fd / kBits)] >> (fd % kBits) & 1UL);
}

void fd_bits::zero() {
  for (unsigned long& w : words_) w = 0;
}

void fd_bits::copy_from(const fd_bits& other) {
  words_ = other.words_;  // same size: no allocation
  limit_ = other.limit_;
}

bool InitDescriptorSets() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  rlim_t max = limit.rlim_max;
  if (max == RLIM_INFINITY || max > kMaxDescriptors) max = kMaxDescriptors;
  limit.rlim_cur = max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
  DescriptorLimit = int(max);
  FdSetBytes = (DescriptorLimit + 7) / 8;
  InputSet.resize(DescriptorLimit);
  OutputSet.resize(DescriptorLimit);
  return true;
}
