#include "vorn/strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(Strings, Cut) {
  EXPECT_EQ(vorn::cut("abcdef", 3), "abc");
  EXPECT_EQ(vorn::cut("abc", 3), "abc");
  EXPECT_EQ(vorn::cut("ab", 3), "ab");
  EXPECT_EQ(vorn::cut("abc", 0), "");
}

TEST(Strings, Strlcpy) {
  static const struct {
    const char* src;
    size_t size;
    const char* expected;
  } cases[] = {
      {"hello", 10, "hello"}, {"hello", 6, "hello"}, {"hello", 5, "hell"},
      {"hello", 1, ""},       {"", 4, ""},
  };
  for (const auto& c : cases) {
    char buf[16];
    std::memset(buf, 'X', sizeof(buf));
    EXPECT_EQ(vorn::strlcpy(buf, c.src, c.size), std::strlen(c.src));
    EXPECT_STREQ(buf, c.expected) << c.src << " into " << c.size;
    EXPECT_EQ(buf[c.size], 'X') << "wrote past the buffer";  // nothing beyond size
  }
  char untouched = 'X';
  EXPECT_EQ(vorn::strlcpy(&untouched, "abc", 0), 3u);
  EXPECT_EQ(untouched, 'X');
}

TEST(Strings, CompareWithoutCase) {
  static const struct {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"abc", "ABC", 0}, {"", "", 0},       {"a", "", 1},       {"", "a", -1},
      {"ab", "abc", -1}, {"abd", "ABC", 1}, {"Zeta", "alpha", 1}, {"[", "a", -1},
      // ASCII only: bytes above 127 compare as they are, never folded
      {"\xc3\x84", "\xc3\xa4", -1}, {"a\xff", "A\x01", 1},
  };
  for (const auto& c : cases) {
    int r = vorn::strcasecmp(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
    EXPECT_EQ(vorn::iequals(c.a, c.b), c.sign == 0) << c.a << " vs " << c.b;
  }
  EXPECT_FALSE(vorn::iequals(std::string_view("ab\0", 3), "ab"));
}

TEST(Strings, StartsWithoutCase) {
  EXPECT_TRUE(vorn::istarts_with("NoCollate", "no"));
  EXPECT_TRUE(vorn::istarts_with("abc", ""));
  EXPECT_TRUE(vorn::istarts_with("abc", "ABC"));
  EXPECT_FALSE(vorn::istarts_with("ab", "abc"));
  EXPECT_FALSE(vorn::istarts_with("xabc", "abc"));
}

TEST(Strings, CharacterClasses) {
  for (int c = 0; c < 256; c++) {
    char ch = char(c);
    bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z';
    EXPECT_EQ(vorn::tolower(ch), upper ? char(c + 32) : ch) << c;
    EXPECT_EQ(vorn::toupper(ch), lower ? char(c - 32) : ch) << c;
    EXPECT_EQ(vorn::isdigit(ch), c >= '0' && c <= '9') << c;
    EXPECT_EQ(vorn::isspace(ch), c == ' ' || (c >= '\t' && c <= '\r')) << c;
  }
}

TEST(Strings, Trim) {
  static const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""}, {"   ", ""}, {" a ", "a"}, {"\t\r\n a b \v\f", "a b"}, {"x", "x"}, {"a  ", "a"},
  };
  for (const auto& c : cases) EXPECT_EQ(vorn::trim(c.in), c.out) << '"' << c.in << '"';
}

}  // namespace
