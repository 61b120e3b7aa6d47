// Small string helpers shared by every program: fixed-limit copies and
// comparisons without regard to case (ASCII only, never the locale).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vorn {

// The first `max` bytes of `s` at most: fields with a fixed limit are cut,
// never overflowed.
inline std::string_view cut(std::string_view s, size_t max) {
  return s.size() > max ? s.substr(0, max) : s;
}

// Copies `src` into the buffer `dst` of `size` bytes, always terminated when
// size > 0; returns the length of `src`, so a result >= size means it was cut.
size_t strlcpy(char* dst, std::string_view src, size_t size);

// ASCII case-insensitive comparison, <0, 0 or >0 like strcmp.
int strcasecmp(std::string_view a, std::string_view b);
bool iequals(std::string_view a, std::string_view b);
bool istarts_with(std::string_view s, std::string_view prefix);

inline char tolower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }
inline char toupper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; }
inline bool isspace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
inline bool isdigit(char c) { return c >= '0' && c <= '9'; }
// The value of a hexadecimal digit (either case), or -1.
inline int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = tolower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// A TCP port written as "1" to "65535" and nothing else; 0 for anything else.
int parse_port(std::string_view s);

// `s` without leading and trailing white space.
std::string_view trim(std::string_view s);

}  // namespace vorn
