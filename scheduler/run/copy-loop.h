// The copy process's work, shared by its small program (vorn-copy, beside
// vornd), the scheduler's own copy mode and the scheduler's copy of small
// documents: standard input to standard output. Only system calls: it also
// runs before any initialization.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vorn::copy {

inline void write_error(int fd, const char* what, int err) {
  const char* text = std::strerror(err);
  (void)!::write(fd, what, std::strlen(what));
  (void)!::write(fd, ": ", 2);
  (void)!::write(fd, text, std::strlen(text));
  (void)!::write(fd, "\n", 1);
}

// Copies `in` to `out` to the end of `in`: 0, or the errno of the read or
// write that failed, after an "ERROR:" line on `errfd`.
inline int copy_all(int in, int out, int errfd) {
  static char buf[65536];
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof(buf));
    if (n == 0) return 0;
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      write_error(errfd, "ERROR: Unable to read print data", err);
      return err;
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(out, buf + done, size_t(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        int err = errno;
        write_error(errfd, "ERROR: Unable to write print data", err);
        return err;
      }
      done += w;
    }
  }
}

// Never returns: exit status 0, or errno after an "ERROR:" line on
// standard error.
[[noreturn]] inline void run() { ::_exit(copy_all(0, 1, 2)); }

}  // namespace vorn::copy
