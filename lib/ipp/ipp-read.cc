// Incremental reader of RFC 2910 messages. The message is read piece by
// piece (header, tag, name length, name, value length, value), asking the
// source for exactly the bytes the current piece still needs, so a read can
// stop anywhere and resume, and never takes a byte beyond the end tag.
#include <cstring>

#include "ipp-private.h"
#include "vorn/fd.h"

using namespace vorn::ipp;

namespace {

enum phase_t { READ_HEADER, READ_TAG, READ_NAME_LEN, READ_NAME, READ_VALUE_LEN, READ_VALUE };

enum step_t { STEP_FAIL, STEP_MORE, STEP_DONE };

inline uint16_t get16(const char* p) {
  return uint16_t((uint8_t(p[0]) << 8) | uint8_t(p[1]));
}

inline int32_t get32(const char* p) {
  return int32_t((uint32_t(uint8_t(p[0])) << 24) | (uint32_t(uint8_t(p[1])) << 16) |
                 (uint32_t(uint8_t(p[2])) << 8) | uint32_t(uint8_t(p[3])));
}

void expect(ipp_io_t& io, phase_t phase, size_t len) {
  io.phase = phase;
  io.piece.resize(len);
  io.have = 0;
}

// Fills `v` from the value bytes of a `tag` value; a begCollection opens a
// new frame for the members that follow.
bool decode_value(ipp_io_t& io, int tag, std::string_view data, ipp_value_t& v) {
  const char* p = data.data();
  switch (value_kind(tag)) {
    case kind::integer:
      if (data.size() != 4) return false;
      v.integer = get32(p);
      return true;
    case kind::boolean:
      if (data.size() != 1) return false;
      v.boolean = p[0] != 0;
      return true;
    case kind::date:
      if (data.size() != 11) return false;
      std::memcpy(v.date, p, 11);
      return true;
    case kind::resolution:
      if (data.size() != 9) return false;
      v.resolution.xres = get32(p);
      v.resolution.yres = get32(p + 4);
      v.resolution.units = ipp_res_t(uint8_t(p[8]));
      return true;
    case kind::range:
      if (data.size() != 8) return false;
      v.range.lower = get32(p);
      v.range.upper = get32(p + 4);
      return true;
    case kind::langstring: {
      // language length, language, text length, text: exactly the value.
      if (data.size() < 4) return false;
      size_t lang_len = get16(p);
      if (2 + lang_len + 2 > data.size()) return false;
      size_t text_len = get16(p + 2 + lang_len);
      if (4 + lang_len + text_len != data.size()) return false;
      v.string.language.assign(p + 2, lang_len);
      v.string.text.assign(p + 4 + lang_len, text_len);
      return true;
    }
    case kind::string:
      v.string.text.assign(data);
      return true;
    case kind::raw:
      v.unknown.assign(data);
      return true;
    case kind::collection: {
      // The begCollection value itself carries nothing; its bytes are ignored.
      size_t depth = io.stack.size() + 1;
      if (depth > size_t(IPP_MAX_DEPTH)) return false;
      v.collection.reset(ippNew());
      io.stack.push_back({v.collection.get(), nullptr, {}, false});
      return true;
    }
    default: return false;
  }
}

// The attribute that takes a value of `tag` named `name` in `target`: a new
// one for a name, else the open attribute `open`. An additional value of
// another type (an integer after a range, say) starts a new attribute of
// that name, since an attribute has one value tag.
ipp_attribute_t* value_target(ipp_t* target, ipp_tag_t group, int tag, const std::string& name,
                              ipp_attribute_t* open) {
  if (!name.empty()) return append(target, group, ipp_tag_t(tag), name, 0);
  if (!open) return nullptr;  // an additional value with nothing before it
  if (open->value_tag != tag) return append(target, group, ipp_tag_t(tag), open->name, 0);
  return open;
}

bool add_value(ipp_io_t& io, ipp_attribute_t* attr, std::string_view data) {
  attr->values.emplace_back();
  return decode_value(io, attr->value_tag, data, attr->values.back());
}

// One complete item (tag, name, value) of the top-level message.
step_t top_item(ipp_t* ipp, int tag, std::string_view data) {
  ipp_io_t& io = ipp->io;
  kind k = value_kind(tag);
  if (k == kind::member || k == kind::end_collection) return STEP_FAIL;
  if (io.group == IPP_TAG_ZERO) return STEP_FAIL;  // a value before any group tag
  ipp_attribute_t* attr = value_target(ipp, io.group, tag, io.name, io.attr);
  if (!attr) return STEP_FAIL;
  io.attr = attr;
  return add_value(io, attr, data) ? STEP_MORE : STEP_FAIL;
}

// One complete item inside the innermost open collection.
step_t member_item(ipp_t* ipp, int tag, std::string_view data) {
  ipp_io_t& io = ipp->io;
  ipp_io_t::frame_t& f = io.stack.back();
  if (!io.name.empty()) return STEP_FAIL;  // members are named by memberAttrName only
  switch (value_kind(tag)) {
    case kind::member:
      if (f.member_pending || data.empty()) return STEP_FAIL;
      f.member.assign(data);
      f.member_pending = true;
      return STEP_MORE;
    case kind::end_collection:
      if (f.member_pending) return STEP_FAIL;  // a member without a value
      io.stack.pop_back();
      // Closing the bottom frame of a collection body ends that read.
      return io.body_only && io.stack.empty() ? STEP_DONE : STEP_MORE;
    default: break;
  }
  ipp_attribute_t* attr;
  if (f.member_pending) {
    attr = append(f.col, IPP_TAG_ZERO, ipp_tag_t(tag), f.member, 0);
    f.member_pending = false;
  } else {
    attr = value_target(f.col, IPP_TAG_ZERO, tag, {}, f.attr);
    if (!attr) return STEP_FAIL;
  }
  f.attr = attr;  // before add_value, which may push a frame and move `f`
  return add_value(io, attr, data) ? STEP_MORE : STEP_FAIL;
}

step_t delimiter(ipp_t* ipp, int tag) {
  ipp_io_t& io = ipp->io;
  if (!io.stack.empty()) return STEP_FAIL;  // a collection left open
  if (tag == IPP_TAG_END) return STEP_DONE;
  if (!is_group(tag)) return STEP_FAIL;
  // The same group again (one per job, say) is kept apart by a separator.
  if (ipp->last && !is_separator(ipp->last) && ipp->last->group_tag == tag)
    ippAddSeparator(ipp);
  io.group = ipp_tag_t(tag);
  io.attr = nullptr;
  return STEP_MORE;
}

// Acts on the piece just completed and sets up the next one.
step_t next_piece(ipp_t* ipp) {
  ipp_io_t& io = ipp->io;
  const char* p = io.piece.data();
  switch (io.phase) {
    case READ_HEADER:
      ipp->version[0] = uint8_t(p[0]);
      ipp->version[1] = uint8_t(p[1]);
      ipp->op_status = get16(p + 2);
      ipp->request_id = get32(p + 4);
      ipp->state = IPP_ATTRIBUTE;
      expect(io, READ_TAG, 1);
      return STEP_MORE;
    case READ_TAG: {
      io.tag = uint8_t(p[0]);
      if (io.tag < 0x10) {
        step_t s = delimiter(ipp, io.tag);
        if (s == STEP_MORE) expect(io, READ_TAG, 1);
        return s;
      }
      if (value_kind(io.tag) == kind::invalid) return STEP_FAIL;
      if (++io.values > ipp->limits.values) return STEP_FAIL;
      expect(io, READ_NAME_LEN, 2);
      return STEP_MORE;
    }
    case READ_NAME_LEN: {
      size_t len = get16(p);
      if (len > IPP_MAX_LENGTH) return STEP_FAIL;
      io.name.clear();
      expect(io, len ? READ_NAME : READ_VALUE_LEN, len ? len : 2);
      return STEP_MORE;
    }
    case READ_NAME:
      io.name = io.piece;
      expect(io, READ_VALUE_LEN, 2);
      return STEP_MORE;
    case READ_VALUE_LEN: {
      size_t len = get16(p);
      if (len > IPP_MAX_LENGTH) return STEP_FAIL;
      if (len) {
        expect(io, READ_VALUE, len);
        return STEP_MORE;
      }
      io.piece.clear();
      [[fallthrough]];
    }
    case READ_VALUE: {
      step_t s = io.stack.empty() ? top_item(ipp, io.tag, io.piece)
                                  : member_item(ipp, io.tag, io.piece);
      if (s == STEP_MORE) expect(io, READ_TAG, 1);
      return s;
    }
    default: return STEP_FAIL;
  }
}

void start(ipp_t* ipp, bool body_only) {
  ipp_io_t& io = ipp->io;
  io = ipp_io_t{};
  io.reading = true;
  io.body_only = body_only;
  if (body_only) {
    io.stack.push_back({ipp, nullptr, {}, false});
    ipp->state = IPP_ATTRIBUTE;
    expect(io, READ_TAG, 1);
  } else {
    ipp->state = IPP_HEADER;
    expect(io, READ_HEADER, 8);
  }
}

ipp_state_t finish(ipp_t* ipp, ipp_state_t state) {
  ipp_io_t& io = ipp->io;
  io.reading = false;
  io.stack.clear();
  io.piece = std::string();
  io.name = std::string();
  ipp->state = state;
  return state;
}

}  // namespace

ipp_state_t ippReadIO(void* ctx, ipp_iocb_t cb, int blocking, ipp_t* parent, ipp_t* ipp) {
  if (!ipp) return IPP_ERROR;
  if (!cb) return finish(ipp, IPP_ERROR);
  ipp_io_t& io = ipp->io;
  if (!io.reading) {
    if (ipp->state != IPP_IDLE) return ipp->state;  // done, failed, or being written
    start(ipp, parent != nullptr);
  }
  for (;;) {
    while (io.have < io.piece.size()) {
      size_t want = io.piece.size() - io.have;
      ssize_t n = cb(ctx, reinterpret_cast<uint8_t*>(io.piece.data()) + io.have, want);
      if (n == 0 && !blocking) return ipp->state;
      if (n <= 0 || size_t(n) > want) return finish(ipp, IPP_ERROR);
      io.have += size_t(n);
      io.total += size_t(n);
      if (io.total > ipp->limits.bytes) return finish(ipp, IPP_ERROR);
    }
    switch (next_piece(ipp)) {
      case STEP_FAIL: return finish(ipp, IPP_ERROR);
      case STEP_DONE: return finish(ipp, IPP_DATA);
      case STEP_MORE: break;
    }
  }
}

namespace {

ssize_t read_fd(void* ctx, uint8_t* buf, size_t len) {
  ssize_t n = vorn::read_retry(*static_cast<int*>(ctx), buf, len);
  return n > 0 ? n : -1;  // end of file before the end tag is an error
}

}  // namespace

ipp_state_t ippReadFile(int fd, ipp_t* ipp) { return ippReadIO(&fd, read_fd, 1, nullptr, ipp); }
