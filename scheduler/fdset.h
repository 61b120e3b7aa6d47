// The descriptor sets of the main loop. select() is called with
// DescriptorLimit descriptors, which may exceed FD_SETSIZE, so the sets are
// sized by that limit instead of using fd_set and the FD_* macros.
#pragma once

#include <sys/select.h>
#include <vector>

// Descriptor limit: the hard RLIMIT_NOFILE limit, at most 4096.
extern int DescriptorLimit;
// Bytes per descriptor set: (DescriptorLimit + 7) / 8.
extern int FdSetBytes;

// A bit per descriptor below the limit; descriptors outside it are ignored
// (set/clear do nothing, isset is false).
class fd_bits {
 public:
  void resize(int limit);
  void set(int fd);
  void clear(int fd);
  bool isset(int fd) const;
  void zero();
  void copy_from(const fd_bits& other);  // both must have the same size
  fd_set* get() { return reinterpret_cast<fd_set*>(words_.data()); }
  int limit() const { return limit_; }

 private:
  static constexpr int kBits = 8 * sizeof(unsigned long);
  std::vector<unsigned long> words_;  // the kernel's fd_set layout
  int limit_ = 0;
};

// Descriptors watched for reading and for writing; every subsystem adds and
// removes its own (listeners, clients, files being sent, pipes, sockets).
extern fd_bits InputSet, OutputSet;

// Raises the soft descriptor limit to DescriptorLimit, computes FdSetBytes and
// sizes InputSet and OutputSet, all bits clear. False when no limit can be
// read.
bool InitDescriptorSets();
