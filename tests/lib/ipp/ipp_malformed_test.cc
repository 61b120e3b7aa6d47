// Malformed and oversized messages: each must end the read with IPP_ERROR,
// whole or fed a byte at a time, without over-reading (the sanitizers watch)
// and without growing past the documented limits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "vorn/ipp.h"

namespace {


std::string be16(size_t v) { return {char(v >> 8), char(v & 0xFF)}; }

std::string be32(uint32_t v) {
  return {char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF), char(v & 0xFF)};
}

std::string item(int tag, const std::string& name, const std::string& value) {
  return std::string(1, char(tag)) + be16(name.size()) + name + be16(value.size()) + value;
}

const std::string H("\x01\x01\x00\x02\x00\x00\x00\x01", 8);  // 1.1 Print-Job, request 1
const std::string OP("\x01", 1);
const std::string END("\x03", 1);
const std::string INT1 = be32(1);

std::string member(const std::string& name) { return item(0x4A, "", name); }
std::string beg(const std::string& name) { return item(0x34, name, ""); }
std::string endc() { return item(0x37, "", ""); }

struct source_t {
  std::string data;
  size_t pos = 0;
  size_t chunk = 0;  // 0: as much as asked
  bool stall = false;
  size_t calls = 0;
};

ssize_t source_read(void* ctx, uint8_t* buf, size_t len) {
  auto* s = static_cast<source_t*>(ctx);
  if (s->stall && s->calls++ % 2 == 1) return 0;
  if (s->pos >= s->data.size()) return -1;
  size_t n = std::min(len, s->data.size() - s->pos);
  if (s->chunk) n = std::min(n, s->chunk);
  std::memcpy(buf, s->data.data() + s->pos, n);
  s->pos += n;
  return ssize_t(n);
}

ipp_state_t read_bytes(const std::string& data, size_t chunk, bool stall) {
  source_t src{data, 0, chunk, stall};
  ipp_ptr ipp(ippNew());
  ipp_state_t st = IPP_IDLE;
  for (size_t i = 0; i < 4 * data.size() + 10; i++) {
    st = ippReadIO(&src, source_read, 0, nullptr, ipp.get());
    if (st == IPP_DATA || st == IPP_ERROR) break;
  }
  return st;
}

TEST(IppMalformed, EachGivesError) {
  const std::string I = item(0x21, "n", INT1);
  struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"short header", H.substr(0, 5)},
      {"no end tag", H},
      {"attributes cut off", H + OP + I},
      {"cut inside name length", H + OP + std::string("\x21\x00", 2)},
      {"name past the end", H + OP + "\x21" + be16(5) + "ab"},
      {"value past the end", H + OP + "\x21" + be16(1) + "n" + be16(4) + std::string("\x00\x01", 2)},
      {"name longer than 32767", H + OP + "\x44" + be16(0x8000) + std::string(0x8000, 'a') + be16(0) + END},
      {"value longer than 32767", H + OP + "\x41" + be16(1) + "t" + be16(0xFFFF) + std::string(0xFFFF, 'a') + END},
      {"integer of 3 bytes", H + OP + item(0x21, "n", std::string("\x00\x00\x01", 3)) + END},
      {"integer of 5 bytes", H + OP + item(0x21, "n", std::string(5, '\0')) + END},
      {"enum of 2 bytes", H + OP + item(0x23, "e", std::string(2, '\0')) + END},
      {"boolean of 2 bytes", H + OP + item(0x22, "b", std::string(2, '\1')) + END},
      {"boolean of 0 bytes", H + OP + item(0x22, "b", "") + END},
      {"dateTime of 10 bytes", H + OP + item(0x31, "d", std::string(10, '\1')) + END},
      {"dateTime of 12 bytes", H + OP + item(0x31, "d", std::string(12, '\1')) + END},
      {"resolution of 8 bytes", H + OP + item(0x32, "r", std::string(8, '\1')) + END},
      {"range of 4 bytes", H + OP + item(0x33, "g", INT1) + END},
      {"textWithLanguage under 4 bytes", H + OP + item(0x35, "t", std::string("\x00\x00\x00", 3)) + END},
      {"language past the value", H + OP + item(0x35, "t", be16(9) + "en" + be16(0)) + END},
      {"text past the value", H + OP + item(0x36, "t", be16(2) + "en" + be16(5) + "ab") + END},
      {"text short of the value", H + OP + item(0x35, "t", be16(2) + "en" + be16(1) + "abc") + END},
      {"value before any group", H + I + END},
      {"additional value first", H + OP + item(0x21, "", INT1) + END},
      {"additional value after a group tag", H + OP + I + "\x02" + item(0x21, "", INT1) + END},
      {"memberAttrName at top level", H + OP + member("m") + END},
      {"endCollection at top level", H + OP + I + endc() + END},
      {"collection never closed", H + OP + beg("c") + member("m") + I.substr(0, 1) + be16(0) + be16(4) + INT1 + END},
      {"group tag inside a collection", H + OP + beg("c") + "\x02" + endc() + END},
      {"member value with a name", H + OP + beg("c") + member("m") + I + endc() + END},
      {"memberAttrName with a name", H + OP + beg("c") + item(0x4A, "x", "m") + item(0x21, "", INT1) + endc() + END},
      {"memberAttrName without a value", H + OP + beg("c") + item(0x4A, "", "") + item(0x21, "", INT1) + endc() + END},
      {"two memberAttrNames", H + OP + beg("c") + member("a") + member("b") + item(0x21, "", INT1) + endc() + END},
      {"member without a value", H + OP + beg("c") + member("a") + endc() + END},
      {"value with no member", H + OP + beg("c") + item(0x21, "", INT1) + endc() + END},
      {"endCollection with a name", H + OP + beg("c") + item(0x37, "x", "") + END},
      {"reserved delimiter 0x00", H + OP + I + std::string(1, '\0') + END},
      {"reserved delimiter 0x08", H + "\x08" + I + END},
      {"reserved delimiter 0x0f", H + OP + I + "\x0f" + END},
      {"value tag 0x60", H + OP + item(0x60, "x", "") + END},
      {"extension tag 0x7f", H + OP + item(0x7F, "x", INT1 + INT1) + END},
      {"value tag 0xff", H + OP + item(0xFF, "x", "") + END},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IPP_ERROR, read_bytes(c.bytes, 0, false)) << c.what;
    if (c.bytes.size() < 1000) {
      EXPECT_EQ(IPP_ERROR, read_bytes(c.bytes, 1, true)) << c.what << ", a byte at a time";
    }
  }
}

// A well-formed neighbour of the cases above reads fine, so they fail for the
// reason they name and not for a slip in how they were put together.
TEST(IppMalformed, WellFormedNeighboursRead) {
  const std::string I = item(0x21, "n", INT1);
  const std::string cases[] = {
      H + END,
      H + OP + I + END,
      H + OP + I + item(0x21, "", INT1) + END,
      H + OP + item(0x35, "t", be16(2) + "en" + be16(3) + "abc") + END,
      H + OP + beg("c") + member("m") + item(0x21, "", INT1) + endc() + END,
      H + OP + beg("c") + endc() + END,
      H + OP + beg("c") + member("a") + item(0x34, "", "") + member("b") + item(0x13, "", "") + endc() + endc() + END,
  };
  for (const auto& c : cases) EXPECT_EQ(IPP_DATA, read_bytes(c, 1, true)) << ::testing::PrintToString(c);
}

std::string nested(int depth) {
  std::string open = beg("c"), close;
  for (int d = 1; d < depth; d++) {
    open += member("c") + item(0x34, "", "");
    close += endc();
  }
  return H + OP + open + member("n") + item(0x21, "", INT1) + close + endc() + END;
}

TEST(IppMalformed, NestingLimit) {
  EXPECT_EQ(IPP_DATA, read_bytes(nested(IPP_MAX_DEPTH), 0, false));
  EXPECT_EQ(IPP_ERROR, read_bytes(nested(IPP_MAX_DEPTH + 1), 0, false));
  EXPECT_EQ(IPP_ERROR, read_bytes(nested(1000), 0, false));
}

// `count` items: one attribute and count - 1 additional values.
std::string many_values(size_t count) {
  std::string m = H + OP + item(0x21, "n", INT1);
  std::string more = item(0x21, "", INT1);
  m.reserve(m.size() + more.size() * count);
  for (size_t i = 1; i < count; i++) m += more;
  return m + END;
}

TEST(IppMalformed, ValueCountLimit) {
  EXPECT_EQ(IPP_DATA, read_bytes(many_values(IPP_MAX_VALUES), 0, false));
  EXPECT_EQ(IPP_ERROR, read_bytes(many_values(IPP_MAX_VALUES + 1), 0, false));
}

TEST(IppMalformed, MessageSizeLimit) {
  // Values of the longest length until the message passes IPP_MAX_MESSAGE.
  std::string big = item(0x41, "", std::string(IPP_MAX_LENGTH, 'x'));
  std::string m = H + OP + item(0x41, "t", "x");
  while (m.size() <= IPP_MAX_MESSAGE) m += big;
  EXPECT_EQ(IPP_ERROR, read_bytes(m + END, 0, false));
  // Just under the limit is fine.
  std::string ok = H + OP + item(0x41, "t", "x");
  while (ok.size() + big.size() + 1 <= IPP_MAX_MESSAGE) ok += big;
  EXPECT_EQ(IPP_DATA, read_bytes(ok + END, 0, false));
}

}  // namespace
