#include "vorn/strings.h"

#include <cstring>

namespace vorn {

size_t strlcpy(char* dst, std::string_view src, size_t size) {
  if (size > 0) {
    size_t n = src.size() < size - 1 ? src.size() : size - 1;
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
  }
  return src.size();
}

int strcasecmp(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; i++) {
    char ca = tolower(a[i]), cb = tolower(b[i]);
    if (ca != cb) return (unsigned char)ca < (unsigned char)cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strcasecmp(a, b) == 0;
}

bool istarts_with(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

int parse_port(std::string_view s) {
  if (s.empty() || s.size() > 5) return 0;
  int port = 0;
  for (char c : s) {
    if (!isdigit(c)) return 0;
    port = port * 10 + (c - '0');
  }
  return port <= 65535 ? port : 0;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isspace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isspace(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace vorn
