// Reads arbitrary bytes as an IPP message, in pieces whose sizes (and
// "nothing for now" pauses) come from the input. A message that decodes must
// encode to ippLength bytes, read back to the same message and encode to the
// same bytes again; a deep copy must encode the same too.
//
// Input: byte 0 chooses the mode (bit 0: read one collection body instead of
// a message), byte 1 seeds the piece sizes, the rest is the message.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vorn/ipp.h"

namespace {

using ipp_ptr = std::unique_ptr<ipp_t, ipp_delete_t>;

struct source_t {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
  uint32_t rng;
};

uint32_t next(uint32_t& s) {
  s ^= s << 13;
  s ^= s >> 17;
  s ^= s << 5;
  return s;
}

ssize_t source_read(void* ctx, uint8_t* buf, size_t len) {
  auto* s = static_cast<source_t*>(ctx);
  uint32_t r = next(s->rng);
  if (r % 7 == 0) return 0;  // would block
  if (s->pos >= s->size) return -1;
  size_t n = 1 + (r >> 8) % 64;
  if (n > len) n = len;
  if (n > s->size - s->pos) n = s->size - s->pos;
  std::memcpy(buf, s->data + s->pos, n);
  s->pos += n;
  return ssize_t(n);
}

struct sink_t {
  std::string out;
  uint32_t rng;
};

ssize_t sink_write(void* ctx, uint8_t* buf, size_t len) {
  auto* s = static_cast<sink_t*>(ctx);
  uint32_t r = next(s->rng);
  if (r % 5 == 0) return 0;
  size_t n = 1 + (r >> 8) % 97;
  if (n > len) n = len;
  s->out.append(reinterpret_cast<const char*>(buf), n);
  return ssize_t(n);
}

ipp_state_t read(const uint8_t* data, size_t size, uint32_t seed, ipp_t* parent, ipp_t* ipp,
                 size_t* consumed) {
  source_t src{data, size, 0, seed | 1};
  ipp_state_t st = IPP_IDLE;
  // Every call either moves a byte, pauses (at most a run of a few), or ends.
  for (size_t i = 0; i < 8 * size + 64; i++) {
    st = ippReadIO(&src, source_read, 0, parent, ipp);
    if (st == IPP_DATA || st == IPP_ERROR) break;
  }
  *consumed = src.pos;
  return st;
}

std::string write(ipp_t* parent, ipp_t* ipp, uint32_t seed) {
  sink_t sink{{}, seed | 1};
  ipp_state_t st = IPP_IDLE;
  for (int i = 0; i < 1000000; i++) {
    st = ippWriteIO(&sink, sink_write, 0, parent, ipp);
    if (st == IPP_DATA || st == IPP_ERROR) break;
  }
  if (st != IPP_DATA) std::abort();  // what we read we must be able to write
  return sink.out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  bool body = data[0] & 1;
  uint32_t seed = data[1] * 2654435761u;
  data += 2;
  size -= 2;

  ipp_ptr parent(body ? ippNew() : nullptr);
  ipp_ptr ipp(ippNew());
  size_t consumed = 0;
  ipp_state_t st = read(data, size, seed, parent.get(), ipp.get(), &consumed);
  if (consumed > size) std::abort();
  if (st != IPP_DATA) return 0;

  std::string first = write(parent.get(), ipp.get(), seed);
  if (!body && first.size() != ippLength(ipp.get())) std::abort();

  ipp_ptr again(ippNew());
  size_t consumed2 = 0;
  st = read(reinterpret_cast<const uint8_t*>(first.data()), first.size(), seed + 1,
            parent.get(), again.get(), &consumed2);
  if (st != IPP_DATA || consumed2 != first.size()) std::abort();
  if (write(parent.get(), again.get(), seed + 2) != first) std::abort();

  ipp_ptr copy(ippNew());
  copy->version[0] = ipp->version[0];
  copy->version[1] = ipp->version[1];
  copy->op_status = ipp->op_status;
  copy->request_id = ipp->request_id;
  for (ipp_attribute_t* a = ipp->attrs; a; a = a->next) ippCopyAttribute(copy.get(), a);
  if (write(parent.get(), copy.get(), seed + 3) != first) std::abort();
  return 0;
}
