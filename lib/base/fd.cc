#include "vorn/fd.h"

#include <cerrno>
#include <unistd.h>

namespace vorn {

void unique_fd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

ssize_t read_retry(int fd, void* buf, size_t len) {
  ssize_t n;
  do n = ::read(fd, buf, len); while (n < 0 && errno == EINTR);
  return n;
}

ssize_t write_retry(int fd, const void* buf, size_t len) {
  ssize_t n;
  do n = ::write(fd, buf, len); while (n < 0 && errno == EINTR);
  return n;
}

int write_all(int fd, const void* buf, size_t len) {
  const char* p = static_cast<const char*>(buf);
  while (len > 0) {
    ssize_t n = write_retry(fd, p, len);
    if (n < 0) return -1;
    p += n;
    len -= size_t(n);
  }
  return 0;
}

}  // namespace vorn
