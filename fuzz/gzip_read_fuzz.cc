// Data that may be gzip-compressed, read whole and read in pieces of varying
// sizes: the two readers must agree on every byte and on how the data ends
// (a clean end or the same error).

#include "vorn/file.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

constexpr size_t kMaxOutput = 8 << 20;  // reading stops here: a small bomb is not a finding

struct Source {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
  size_t step;  // bytes handed over per call, 0: as many as asked for
};

ssize_t from_memory(void* ctx, void* buf, size_t len) {
  auto* s = static_cast<Source*>(ctx);
  size_t n = s->size - s->pos;
  if (n > len) n = len;
  if (s->step && n > s->step) n = s->step;
  for (size_t i = 0; i < n; i++) static_cast<uint8_t*>(buf)[i] = s->data[s->pos + i];
  s->pos += n;
  return ssize_t(n);
}

struct Outcome {
  std::string data;
  int error = 0;
};

Outcome read_all(const uint8_t* data, size_t size, size_t step, size_t in_size, size_t chunk) {
  Source src{data, size, 0, step};
  vorn::gzip_reader in(from_memory, &src, in_size);
  Outcome out;
  std::string buf(chunk, '\0');
  while (out.data.size() < kMaxOutput) {
    ssize_t n = in.read(buf.data(), buf.size());
    if (n < 0) {
      out.error = errno;
      if (in.error() != out.error || in.read(buf.data(), buf.size()) != -1) std::abort();
      break;
    }
    if (n == 0) break;
    out.data.append(buf.data(), size_t(n));
  }
  if (out.data.size() > kMaxOutput) out.data.resize(kMaxOutput);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 64 * 1024) return 0;
  // The first byte picks how the second reader is fed.
  const size_t step = data[0] % 17;
  const size_t chunk = 1 + data[0] % 61;
  data++, size--;
  Outcome whole = read_all(data, size, 0, 16384, 65536);
  Outcome pieces = read_all(data, size, step, 16, chunk);
  // Bytes are never wrong: what one reader gave is a prefix of what the other
  // gave. Both end the same way, and a clean end gives the same bytes. (How
  // much zlib inflates before it notices damage depends on how its input
  // and output are cut, so the amounts before an error may differ.)
  const std::string& shorter = whole.data.size() < pieces.data.size() ? whole.data : pieces.data;
  const std::string& longer = whole.data.size() < pieces.data.size() ? pieces.data : whole.data;
  if (longer.compare(0, shorter.size(), shorter) != 0) std::abort();
  if (whole.data.size() < kMaxOutput && pieces.data.size() < kMaxOutput) {
    if (whole.error != pieces.error) std::abort();
    if (whole.error == 0 && whole.data != pieces.data) std::abort();
  }
  return 0;
}
