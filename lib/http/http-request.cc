// The server side's reading of request lines: "METHOD resource HTTP/x.y".
// The scheduler, the test servers and the fuzz target all take request lines
// apart here, so that they agree on what a request is.

#include "vorn/http.h"

#include <string_view>

#include "vorn/strings.h"

namespace {

struct method_t {
  std::string_view name;
  http_state_t state;
};
// The methods a server understands; compared case-sensitively, as methods are.
constexpr method_t kMethods[] = {
    {"GET", HTTP_GET},       {"HEAD", HTTP_HEAD},   {"POST", HTTP_POST},       {"PUT", HTTP_PUT},
    {"DELETE", HTTP_DELETE}, {"TRACE", HTTP_TRACE}, {"OPTIONS", HTTP_OPTIONS},
};

// The next word (separated by blanks or other white space) of `line`, removed from it; empty at the end.
std::string_view next_word(std::string_view& line) {
  size_t i = 0;
  while (i < line.size() && vorn::isspace(line[i])) i++;
  size_t start = i;
  while (i < line.size() && !vorn::isspace(line[i])) i++;
  std::string_view word = line.substr(start, i - start);
  line.remove_prefix(i);
  return word;
}

// One to three decimal digits at the front of `text`, removed from it.
bool version_number(std::string_view& text, int* out) {
  size_t n = 0;
  int value = 0;
  while (n < text.size() && vorn::isdigit(text[n])) {
    if (++n > 3) return false;
    value = value * 10 + (text[n - 1] - '0');
  }
  if (n == 0) return false;
  text.remove_prefix(n);
  *out = value;
  return true;
}

// "HTTP/major.minor"; false for anything else.
bool parse_version(std::string_view text, int* major, int* minor) {
  if (!text.starts_with("HTTP/")) return false;
  text.remove_prefix(5);
  if (!version_number(text, major) || text.empty() || text[0] != '.') return false;
  text.remove_prefix(1);
  return version_number(text, minor) && text.empty();
}

}  // namespace

http_state_t httpMethodState(std::string_view method) {
  for (const method_t& m : kMethods)
    if (m.name == method) return m.state;
  return HTTP_WAITING;
}

http_status_t httpParseRequestLine(std::string_view line, http_request_line_t* out) {
  *out = http_request_line_t{};
  std::string_view method = next_word(line);
  std::string_view resource = next_word(line);
  std::string_view version = next_word(line);
  vorn::strlcpy(out->method, method, sizeof(out->method));
  vorn::strlcpy(out->resource, resource, sizeof(out->resource));
  out->state = httpMethodState(method);
  if (resource.empty()) return HTTP_BAD_REQUEST;
  if (version.empty()) {
    out->version = HTTP_0_9;
    return HTTP_OK;
  }
  int major = 0, minor = 0;
  if (!parse_version(version, &major, &minor)) return HTTP_BAD_REQUEST;
  out->version = http_version_t(major * 100 + minor);
  return major > 1 ? HTTP_NOT_SUPPORTED : HTTP_OK;
}
