// unzipconv's copy loop on any bytes: a gzip stream or plain data, written
// to /dev/null. Whatever the input, the loop ends with 0 or 1 and an error
// line for 1, and never runs past the inflated size limit.
// fuzz-links: vorn_unzipconv
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "filter/unzipconv/unzip.h"

namespace {

constexpr size_t kMaxInput = 64 << 10;  // inflates to at most some 64 MB: a bomb is not a finding

struct Source {
  const uint8_t* data;
  size_t size, pos = 0;
};

ssize_t from_memory(void* ctx, void* buf, size_t len) {
  auto* s = static_cast<Source*>(ctx);
  size_t n = s->size - s->pos < len ? s->size - s->pos : len;
  for (size_t i = 0; i < n; i++) static_cast<uint8_t*>(buf)[i] = s->data[s->pos + i];
  s->pos += n;
  return ssize_t(n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  static int null_fd = open("/dev/null", O_WRONLY);
  static FILE* status = std::fopen("/dev/null", "w");
  Source src{data, size};
  vorn::gzip_reader in(&from_memory, &src, 4096);
  int rc = vorn::unzip::unzip_copy(in, null_fd, status);
  if (rc != 0 && rc != 1) std::abort();
  if (rc == 0 && in.error() != 0) std::abort();
  return 0;
}
