// RFC 2910 encoder. One walk over the message serves both ippLength (it
// counts) and ippWriteIO (it fills a buffer), so the two always agree. A
// write encodes a few attributes at a time into a buffer and hands it to
// the sink as it takes the bytes: a reply of megabytes never exists whole in
// memory beside the message it comes from.
#include <cstdint>
#include <cstring>
#include <memory>

#include "ipp-private.h"
#include "vorn/fd.h"

using namespace vorn::ipp;

namespace {

struct count_sink {
  size_t n = 0;
  void put(uint8_t) { n++; }
  void put(const void*, size_t len) { n += len; }
};

// Fills a buffer sized by a count_sink pass; never writes past its end
// (`overflow` says the two passes disagreed, which they cannot for one
// unchanged message).
struct buffer_sink {
  char* p;
  char* end;
  bool overflow = false;
  void put(uint8_t b) {
    if (p == end) {
      overflow = true;
      return;
    }
    *p++ = char(b);
  }
  void put(const void* src, size_t len) {
    if (size_t(end - p) < len) {
      overflow = true;
      return;
    }
    std::memcpy(p, src, len);
    p += len;
  }
};

// Appends to a string.
struct string_sink {
  std::string& out;
  void put(uint8_t b) { out.push_back(char(b)); }
  void put(const void* src, size_t len) { out.append(static_cast<const char*>(src), len); }
};

template <class Sink>
void put16(Sink& s, size_t v) {
  s.put(uint8_t(v >> 8));
  s.put(uint8_t(v));
}

template <class Sink>
void put32(Sink& s, int32_t v) {
  uint32_t u = uint32_t(v);
  s.put(uint8_t(u >> 24));
  s.put(uint8_t(u >> 16));
  s.put(uint8_t(u >> 8));
  s.put(uint8_t(u));
}

template <class Sink>
bool put_string(Sink& s, const std::string& str) {
  if (str.size() > IPP_MAX_LENGTH) return false;
  put16(s, str.size());
  s.put(str.data(), str.size());
  return true;
}

template <class Sink>
bool put_members(Sink& s, const ipp_t* col, int depth);

// Value length and value of one value of `tag`.
template <class Sink>
bool put_value(Sink& s, int tag, const ipp_value_t& v, int depth) {
  switch (value_kind(tag)) {
    case kind::integer:
      put16(s, 4);
      put32(s, v.integer);
      return true;
    case kind::boolean:
      put16(s, 1);
      s.put(uint8_t(v.boolean ? 1 : 0));
      return true;
    case kind::date:
      put16(s, 11);
      s.put(v.date, 11);
      return true;
    case kind::resolution:
      put16(s, 9);
      put32(s, v.resolution.xres);
      put32(s, v.resolution.yres);
      s.put(uint8_t(v.resolution.units));
      return true;
    case kind::range:
      put16(s, 8);
      put32(s, v.range.lower);
      put32(s, v.range.upper);
      return true;
    case kind::langstring: {
      size_t len = 4 + v.string.language.size() + v.string.text.size();
      if (len > IPP_MAX_LENGTH) return false;
      put16(s, len);
      return put_string(s, v.string.language) && put_string(s, v.string.text);
    }
    case kind::string: return put_string(s, v.string.text);
    case kind::raw: return put_string(s, v.unknown);
    case kind::collection:
      put16(s, 0);
      if (depth + 1 > IPP_MAX_DEPTH) return false;
      if (!v.collection) return put_members(s, nullptr, depth + 1);
      return put_members(s, v.collection.get(), depth + 1);
    default: return false;  // memberAttrName, endCollection, delimiters: not values
  }
}

// Every value of `attr`; the first carries `name` (empty inside a collection).
template <class Sink>
bool put_values(Sink& s, const ipp_attribute_t* attr, const std::string& name, int depth) {
  if (attr->values.empty() || attr->value_tag < 0x10 || attr->value_tag > 0xFF) return false;
  static const std::string none;
  bool first = true;
  for (const ipp_value_t& v : attr->values) {
    s.put(uint8_t(attr->value_tag));
    if (!put_string(s, first ? name : none)) return false;
    if (!put_value(s, attr->value_tag, v, depth)) return false;
    first = false;
  }
  return true;
}

// The members of a collection (at nesting `depth`) and its endCollection.
template <class Sink>
bool put_members(Sink& s, const ipp_t* col, int depth) {
  static const std::string none;
  for (const ipp_attribute_t* a = col ? col->attrs : nullptr; a; a = a->next) {
    if (is_separator(a)) continue;  // groups mean nothing inside a collection
    if (a->name.empty()) return false;
    s.put(uint8_t(IPP_TAG_MEMBERNAME));
    put16(s, 0);
    if (!put_string(s, a->name)) return false;
    if (!put_values(s, a, none, depth)) return false;
  }
  s.put(uint8_t(IPP_TAG_END_COLLECTION));
  put16(s, 0);
  put16(s, 0);
  return true;
}

template <class Sink>
bool put_message(Sink& s, const ipp_t* ipp) {
  s.put(ipp->version, 2);
  put16(s, ipp->op_status);
  put32(s, ipp->request_id);
  int group = -1;
  bool split = false;
  for (const ipp_attribute_t* a = ipp->attrs; a; a = a->next) {
    if (is_separator(a)) {
      split = true;
      continue;
    }
    if (a->name.empty() || !is_group(a->group_tag)) return false;
    if (a->group_tag != group || split) {
      s.put(uint8_t(a->group_tag));
      group = a->group_tag;
      split = false;
    }
    if (!put_values(s, a, a->name, 0)) return false;
  }
  for (const ipp_piece_t& p : ipp->pieces) {
    if (!p.bytes || p.offset > p.bytes->size() || p.length > p.bytes->size() - p.offset) return false;
    s.put(p.bytes->data() + p.offset, p.length);
  }
  s.put(uint8_t(IPP_TAG_END));
  return true;
}

template <class Sink>
bool encode(Sink& s, const ipp_t* ipp, bool body_only) {
  return body_only ? put_members(s, ipp, 1) : put_message(s, ipp);
}

ipp_state_t finish(ipp_t* ipp, ipp_state_t state) {
  ipp->io.writing = false;
  ipp->io.out = std::string();
  ipp->io.out_pos = 0;
  ipp->io.next_attr = nullptr;
  ipp->state = state;
  return state;
}

// Bytes encoded ahead of the sink: enough that each call hands it a good
// share, little beside a large message.
constexpr size_t kWriteChunk = 32768;

enum stage_t { STAGE_HEADER, STAGE_ATTRS, STAGE_PIECES, STAGE_END, STAGE_DONE };

// Encodes the next stretch of a top-level message into io.out (emptied
// first): the header, attributes until the chunk is full, pieces, the end
// tag. False when an attribute cannot be encoded.
bool refill(ipp_t* ipp) {
  ipp_io_t& io = ipp->io;
  io.out.clear();
  io.out_pos = 0;
  string_sink s{io.out};
  while (io.out.size() < kWriteChunk && io.stage != STAGE_DONE) {
    switch (io.stage) {
      case STAGE_HEADER:
        s.put(ipp->version, 2);
        put16(s, ipp->op_status);
        put32(s, ipp->request_id);
        io.next_attr = ipp->attrs;
        io.out_group = -1;
        io.out_split = false;
        io.stage = STAGE_ATTRS;
        break;
      case STAGE_ATTRS: {
        const ipp_attribute_t* a = io.next_attr;
        if (!a) {
          io.next_piece = 0;
          io.stage = STAGE_PIECES;
          break;
        }
        io.next_attr = a->next;
        if (is_separator(a)) {
          io.out_split = true;
          break;
        }
        if (a->name.empty() || !is_group(a->group_tag)) return false;
        if (a->group_tag != io.out_group || io.out_split) {
          s.put(uint8_t(a->group_tag));
          io.out_group = a->group_tag;
          io.out_split = false;
        }
        if (!put_values(s, a, a->name, 0)) return false;
        break;
      }
      case STAGE_PIECES: {
        if (io.next_piece >= ipp->pieces.size()) {
          io.stage = STAGE_END;
          break;
        }
        const ipp_piece_t& p = ipp->pieces[io.next_piece++];
        if (!p.bytes || p.offset > p.bytes->size() || p.length > p.bytes->size() - p.offset) return false;
        s.put(p.bytes->data() + p.offset, p.length);
        break;
      }
      case STAGE_END:
        s.put(uint8_t(IPP_TAG_END));
        io.stage = STAGE_DONE;
        break;
      default: return false;
    }
  }
  return true;
}

}  // namespace

size_t ippLength(const ipp_t* ipp) {
  if (!ipp) return 0;
  count_sink s;
  return encode(s, ipp, false) ? s.n : 0;
}

bool ippEncodeAttribute(std::string& out, const ipp_attribute_t* attr) {
  if (!attr || attr->name.empty()) return false;
  size_t size = out.size();
  string_sink s{out};
  if (put_values(s, attr, attr->name, 0)) return true;
  out.resize(size);
  return false;
}

std::shared_ptr<const ipp_encoded_t> ippEncodeGroup(const ipp_t* ipp, ipp_tag_t group) {
  if (!ipp) return nullptr;
  auto enc = std::make_shared<ipp_encoded_t>();
  enc->changes = ipp->changes;
  for (const ipp_attribute_t* a = ipp->attrs; a; a = a->next) {
    if (is_separator(a)) {
      enc->starts.push_back(uint32_t(enc->bytes.size()));
      enc->bytes.push_back(char(group));
      continue;
    }
    if (a->group_tag != group) {
      enc->skipped++;
      continue;
    }
    enc->starts.push_back(uint32_t(enc->bytes.size()));
    if (!ippEncodeAttribute(enc->bytes, a) || enc->bytes.size() > UINT32_MAX) return nullptr;
  }
  enc->bytes.shrink_to_fit();
  enc->starts.shrink_to_fit();
  return enc;
}

ipp_state_t ippWriteIO(void* ctx, ipp_iocb_t cb, int blocking, ipp_t* parent, ipp_t* ipp) {
  if (!ipp) return IPP_ERROR;
  ipp_io_t& io = ipp->io;
  if (!cb) return finish(ipp, IPP_ERROR);
  if (!io.writing) {
    io.written = 0;
    if (parent) {
      // A collection's members: small, encoded whole.
      count_sink count;
      if (!encode(count, ipp, true)) return finish(ipp, IPP_ERROR);
      io.out.resize(count.n);
      buffer_sink s{io.out.data(), io.out.data() + io.out.size()};
      if (!encode(s, ipp, true) || s.overflow || s.p != s.end) return finish(ipp, IPP_ERROR);
      io.out_pos = 0;
      io.stage = STAGE_DONE;
      ipp->state = IPP_ATTRIBUTE;
    } else {
      // Refused before a byte is sent, as a message that cannot be encoded
      // as a whole must be.
      if (ippLength(ipp) == 0) return finish(ipp, IPP_ERROR);
      io.stage = STAGE_HEADER;
      io.out.clear();
      io.out_pos = 0;
      ipp->state = IPP_HEADER;
    }
    io.writing = true;
  }
  for (;;) {
    if (io.out_pos >= io.out.size()) {
      if (io.stage == STAGE_DONE) break;
      if (!refill(ipp)) return finish(ipp, IPP_ERROR);
      continue;
    }
    size_t left = io.out.size() - io.out_pos;
    ssize_t n = cb(ctx, reinterpret_cast<uint8_t*>(io.out.data()) + io.out_pos, left);
    if (n == 0 && !blocking) return ipp->state;
    if (n <= 0 || size_t(n) > left) return finish(ipp, IPP_ERROR);
    io.out_pos += size_t(n);
    io.written += size_t(n);
    if (io.written >= 8) ipp->state = IPP_ATTRIBUTE;
  }
  return finish(ipp, IPP_DATA);
}

namespace {

ssize_t write_fd(void* ctx, uint8_t* buf, size_t len) {
  ssize_t n = vorn::write_retry(*static_cast<int*>(ctx), buf, len);
  return n > 0 ? n : -1;
}

}  // namespace

ipp_state_t ippWriteFile(int fd, ipp_t* ipp) { return ippWriteIO(&fd, write_fd, 1, nullptr, ipp); }
