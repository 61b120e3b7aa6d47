// Byte sources for the PPD reader: a stdio stream or a descriptor, either
// plain or gzip (libvorn's gzip reader decides and inflates; data cut short
// is an error).
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "ppd-private.h"
#include "vorn/fd.h"
#include "vorn/file.h"

namespace vorn::ppd_detail {
namespace {

ssize_t read_stream(void* ctx, void* buf, size_t len) {
  FILE* fp = static_cast<FILE*>(ctx);
  size_t n = std::fread(buf, 1, len, fp);
  if (n == 0 && std::ferror(fp)) {
    if (errno == 0) errno = EIO;
    return -1;
  }
  return ssize_t(n);
}

class stream_source final : public source {
 public:
  explicit stream_source(FILE* fp) : in_(read_stream, fp) {}
  ssize_t read(char* buf, size_t len) override { return in_.read(buf, len); }

 private:
  gzip_reader in_;
};

class fd_source final : public source {
 public:
  explicit fd_source(int fd) : fd_(fd), in_(fd) {}
  ssize_t read(char* buf, size_t len) override { return in_.read(buf, len); }

 private:
  unique_fd fd_;  // declared first: closed after the reader is gone
  gzip_reader in_;
};

}  // namespace

std::unique_ptr<source> open_stream_source(FILE* fp, ppd_status_t* status) {
  *status = PPD_OK;
  return std::make_unique<stream_source>(fp);
}

std::unique_ptr<source> open_fd_source(int fd, ppd_status_t* status) {
  *status = PPD_OK;
  return std::make_unique<fd_source>(fd);
}

}  // namespace vorn::ppd_detail
