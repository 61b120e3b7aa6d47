#include "filter/unzipconv/unzip.h"

#include <cerrno>
#include <cstring>

#include "vorn/fd.h"

namespace vorn::unzip {

int unzip_copy(gzip_reader& in, int out_fd, FILE* status) {
  char buf[8192];
  for (;;) {
    ssize_t n = in.read(buf, sizeof(buf));
    if (n == 0) return 0;
    if (n < 0) {
      int e = errno;
      // A damaged or cut stream reads as EIO; say what that means here.
      const char* why = e == EIO ? "the compressed data is cut short or damaged" : std::strerror(e);
      std::fprintf(status, "ERROR: Unable to read compressed document data: %s\n", why);
      return 1;
    }
    if (write_all(out_fd, buf, size_t(n)) != 0) {
      std::fprintf(status, "ERROR: Unable to write uncompressed document data: %s\n", std::strerror(errno));
      return 1;
    }
  }
}

}  // namespace vorn::unzip
