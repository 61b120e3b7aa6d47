// unzipconv: expands a gzip-compressed document for the next filter.
//
//   unzipconv job-id user title copies options file
//
// The options, the PPD and the content are not looked at; the plain bytes
// go to standard output.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "filter/unzipconv/unzip.h"
#include "vorn/fd.h"
#include "vorn/file.h"

int main(int argc, char** argv) {
  setbuf(stderr, nullptr);
  if (argc != 7) {
    std::fputs("ERROR: unzipconv job-id user title copies options file\n", stderr);
    return 1;
  }
  vorn::unique_fd fd(open(argv[6], O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    std::fprintf(stderr, "ERROR: Unable to open GZIP file: %s\n", std::strerror(errno));
    return 1;
  }
  vorn::gzip_reader in(fd.get(), 65536);
  return vorn::unzip::unzip_copy(in, 1, stderr);
}
