// Owning wrapper for a file descriptor, and read/write helpers that retry on
// EINTR. Every descriptor the system opens should be held by a unique_fd,
// every directory stream by a unique_dir.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <cstddef>
#include <memory>

namespace vorn {

class unique_fd {
 public:
  unique_fd() = default;
  explicit unique_fd(int fd) : fd_(fd) {}
  ~unique_fd() { reset(); }
  unique_fd(const unique_fd&) = delete;
  unique_fd& operator=(const unique_fd&) = delete;
  unique_fd(unique_fd&& o) noexcept : fd_(o.release()) {}
  unique_fd& operator=(unique_fd&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() { int f = fd_; fd_ = -1; return f; }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// A directory stream from opendir or fdopendir, closed with closedir.
struct dir_closer {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using unique_dir = std::unique_ptr<DIR, dir_closer>;

// read()/write() that retry on EINTR; write_all loops until every byte is
// written and returns 0, or -1 with errno set.
ssize_t read_retry(int fd, void* buf, size_t len);
ssize_t write_retry(int fd, const void* buf, size_t len);
int write_all(int fd, const void* buf, size_t len);

}  // namespace vorn
