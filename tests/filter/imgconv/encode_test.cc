// The image data encoders: ASCII85 decoded back by an independent decoder
// here, across row boundaries that split 4-byte groups, and hex lines.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "filter/imgconv/ps-encode.h"
#include "tests/filter/filter_test_env.h"

namespace {

using vorn::imgconv::ascii85_writer;
using vorn::imgconv::hex_writer;

// Decodes ASCII85 text up to "~>", ignoring white space.
bool DecodeAscii85(const std::string& text, std::string& out) {
  uint64_t v = 0;
  int n = 0;
  size_t i = 0;
  for (; i < text.size(); i++) {
    char c = text[i];
    if (c == '\n' || c == ' ') continue;
    if (c == '~') break;
    if (c == 'z' && n == 0) {
      out.append(4, '\0');
      continue;
    }
    if (c < '!' || c > 'u') return false;
    v = v * 85 + uint64_t(c - '!');
    if (++n == 5) {
      if (v > 0xffffffffu) return false;
      for (int k = 3; k >= 0; k--) out += char((v >> (8 * k)) & 0xff);
      v = 0;
      n = 0;
    }
  }
  if (i + 1 >= text.size() || text.substr(i, 2) != "~>") return false;
  if (n == 1) return false;
  if (n > 0) {
    for (int k = n; k < 5; k++) v = v * 85 + 84;
    for (int k = 3; k > 3 - (n - 1); k--) out += char((v >> (8 * k)) & 0xff);
  }
  return true;
}

std::string Encode85(const std::vector<std::string>& rows) {
  filter_test::MemOut out;
  ascii85_writer enc(out.fp());
  for (const std::string& r : rows) enc.write(reinterpret_cast<const uint8_t*>(r.data()), r.size());
  enc.finish();
  return out.str();
}

TEST(Ascii85, RoundTripsRowsOfEveryLength) {
  std::string pattern;
  for (int i = 0; i < 1000; i++) pattern += char((i * 7919) >> 3);
  struct Case {
    const char* name;
    std::vector<std::string> rows;
  };
  std::vector<Case> cases = {
      {"one full group", {"abcd"}},
      {"rows of 3 carry over", {"abc", "def", "ghi", "jkl", "m"}},
      {"remainder 1", {"abcde"}},
      {"remainder 2", {"abcdef"}},
      {"remainder 3", {"abcdefg"}},
      {"zeros across rows", {std::string(2, '\0'), std::string(6, '\0'), "x"}},
      {"long rows", {pattern, pattern.substr(1), pattern.substr(3)}},
      {"all ones", {std::string(9, '\xff')}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = Encode85(c.rows), want, got;
    for (const std::string& r : c.rows) want += r;
    ASSERT_TRUE(DecodeAscii85(text, got)) << text;
    EXPECT_TRUE(got == want);
    EXPECT_TRUE(text.ends_with("~>\n"));
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      EXPECT_LE(end - start, 79u);  // a break follows once a line passes 74
      start = end + 1;
    }
  }
}

TEST(Ascii85, ZeroGroupIsZ) {
  EXPECT_EQ(Encode85({std::string(4, '\0')}), "z~>\n");
  // A short zero group at the end is written out, never as "z".
  EXPECT_EQ(Encode85({std::string(6, '\0')}), "z!!!~>\n");
}

// The text an ASCII85 encoder must write, made the slow way: digit by
// digit, a line ending after the group that takes it past 74 characters.
std::string Reference85(const std::string& data) {
  std::string text;
  int column = 0;
  size_t i = 0;
  for (; i + 4 <= data.size(); i += 4) {
    uint32_t v = 0;
    for (int k = 0; k < 4; k++) v = v << 8 | uint8_t(data[i + size_t(k)]);
    if (v == 0) {
      text += 'z';
      column += 1;
    } else {
      char c[5];
      for (int k = 4; k >= 0; k--, v /= 85) c[k] = char('!' + v % 85);
      text.append(c, 5);
      column += 5;
    }
    if (column > 74) {
      text += '\n';
      column = 0;
    }
  }
  if (i < data.size()) {
    uint32_t v = 0;
    for (int k = 0; k < 4; k++) v = v << 8 | (i + size_t(k) < data.size() ? uint8_t(data[i + size_t(k)]) : 0);
    char c[5];
    for (int k = 4; k >= 0; k--, v /= 85) c[k] = char('!' + v % 85);
    text.append(c, data.size() - i + 1);
  }
  return text + "~>\n";
}

TEST(Ascii85, LargeBlocksMatchTheDigitByDigitText) {
  // Pseudo-random bytes with runs of zero groups (which shift the line
  // ends), long enough to cross the encoder's buffer several times, fed in
  // one block and in rows of odd sizes.
  std::string data;
  uint32_t x = 12345;
  for (size_t i = 0; i < (size_t(3) << 20) + 3; i++) {
    x = x * 1103515245u + 12345u;
    data += (i / 4096) % 3 == 1 && (i / 64) % 2 ? '\0' : char(x >> 16);
  }
  std::vector<std::string> one = {data}, rows;
  for (size_t at = 0, n = 1; at < data.size(); at += n, n = n * 7 % 100003 + 1) rows.push_back(data.substr(at, n));
  const std::string want = Reference85(data);
  EXPECT_TRUE(Encode85(one) == want);
  EXPECT_TRUE(Encode85(rows) == want);
  std::vector<std::string> small = {"\xff\x01", std::string(8, '\0'), "\x80"};
  EXPECT_EQ(Encode85(small), Reference85("\xff\x01" + std::string(8, '\0') + "\x80"));
}

TEST(Hex, LinesAndRows) {
  filter_test::MemOut out;
  hex_writer enc(out.fp());
  std::string row(50, '\xab');
  enc.write(reinterpret_cast<const uint8_t*>(row.data()), row.size());
  enc.write(reinterpret_cast<const uint8_t*>("\x01\x2f"), 2);
  enc.finish();
  std::string text = out.str();
  // 104 digits: a line of 78 and the rest, the column running across rows.
  std::string want;
  for (int i = 0; i < 39; i++) want += "AB";
  want += "\n";
  for (int i = 0; i < 11; i++) want += "AB";
  want += "012F\n";
  EXPECT_EQ(text, want);
}

}  // namespace
