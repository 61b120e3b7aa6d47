// The copy process's work, shared by its small program (vorn-copy, beside
// vornd) and the scheduler's own copy mode: standard input to standard
// output. Only system calls: it also runs before any initialization.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vorn::copy {

inline void write_error(const char* what, int err) {
  const char* text = std::strerror(err);
  (void)!::write(2, what, std::strlen(what));
  (void)!::write(2, ": ", 2);
  (void)!::write(2, text, std::strlen(text));
  (void)!::write(2, "\n", 1);
}

// Never returns: exit status 0, or errno after an "ERROR:" line on
// standard error.
[[noreturn]] inline void run() {
  static char buf[65536];
  for (;;) {
    ssize_t n = ::read(0, buf, sizeof(buf));
    if (n == 0) ::_exit(0);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      write_error("ERROR: Unable to read print data", err);
      ::_exit(err);
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(1, buf + done, size_t(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        int err = errno;
        write_error("ERROR: Unable to write print data", err);
        ::_exit(err);
      }
      done += w;
    }
  }
}

}  // namespace vorn::copy
