// Header fields and their sub-fields, status texts, state names, the client's
// cookie and auth string.

#include "http-private.h"
#include "vorn/strings.h"

#include <string>
#include <string_view>

namespace {

// In the order of http_field_t.
constexpr const char* kFieldNames[HTTP_FIELD_MAX] = {
    "Accept-Language",  "Accept-Ranges", "Authorization",     "Connection",
    "Content-Encoding", "Content-Language", "Content-Length", "Content-Location",
    "Content-MD5",      "Content-Range", "Content-Type",      "Content-Version",
    "Date",             "Host",          "If-Modified-Since", "If-Unmodified-Since",
    "Keep-Alive",       "Last-Modified", "Link",              "Location",
    "Range",            "Referer",       "Retry-After",       "Transfer-Encoding",
    "Upgrade",          "User-Agent",    "WWW-Authenticate",  "Cookie",
};

bool valid(http_field_t field) { return field >= 0 && field < HTTP_FIELD_MAX; }

}  // namespace

namespace vorn::http {

int64_t parse_length(const char* value) {
  std::string_view v = trim(value ? value : "");
  if (v.empty() || v.size() > 18) return -1;  // 18 digits always fit in 63 bits
  int64_t n = 0;
  for (char c : v) {
    if (!isdigit(c)) return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace vorn::http

void httpSetField(http_t* http, http_field_t field, const char* value) {
  if (!http || !valid(field)) return;
  vorn::strlcpy(http->fields[field], value ? value : "", HTTP_MAX_VALUE);
}

const char* httpGetField(http_t* http, http_field_t field) {
  if (!http || !valid(field)) return nullptr;
  return http->fields[field];
}

void httpClearFields(http_t* http) {
  if (!http) return;
  for (auto& f : http->fields) f[0] = '\0';
  http->header_lines = 0;
}

char* httpGetSubField(http_t* http, http_field_t field, const char* name, char* value, size_t size) {
  if (!value || size == 0) return nullptr;
  value[0] = '\0';
  if (!http || !valid(field) || !name) return nullptr;

  std::string_view s = http->fields[field];
  size_t i = 0;
  auto skip_space = [&] {
    while (i < s.size() && vorn::isspace(s[i])) i++;
  };
  while (i < s.size()) {
    while (i < s.size() && (vorn::isspace(s[i]) || s[i] == ',')) i++;
    size_t start = i;
    while (i < s.size() && s[i] != '=' && s[i] != ',' && !vorn::isspace(s[i])) i++;
    std::string_view key = s.substr(start, i - start);
    skip_space();
    if (i >= s.size() || s[i] != '=') continue;  // a bare word, such as the scheme
    i++;
    skip_space();

    bool match = vorn::iequals(key, name);
    size_t n = 0;
    auto put = [&](char c) {
      if (match && n + 1 < size) value[n++] = c;
    };
    if (i < s.size() && s[i] == '"') {
      for (i++; i < s.size() && s[i] != '"'; i++) {
        if (s[i] == '\\' && i + 1 < s.size()) i++;
        put(s[i]);
      }
      if (i < s.size()) i++;  // closing quote
    } else {
      for (; i < s.size() && s[i] != ',' && !vorn::isspace(s[i]); i++) put(s[i]);
    }
    if (match) {
      value[n] = '\0';
      return value;
    }
  }
  return nullptr;
}

int64_t httpGetLength(http_t* http) {
  if (!http) return -1;
  std::string_view te = vorn::trim(http->fields[HTTP_FIELD_TRANSFER_ENCODING]);
  if (vorn::iequals(te, "chunked")) return 0;
  if (!http->fields[HTTP_FIELD_CONTENT_LENGTH][0]) return 0;
  return vorn::http::parse_length(http->fields[HTTP_FIELD_CONTENT_LENGTH]);
}

http_field_t httpFieldValue(const char* name) {
  if (!name) return HTTP_FIELD_UNKNOWN;
  for (int i = 0; i < HTTP_FIELD_MAX; i++) {
    if (vorn::iequals(name, kFieldNames[i])) return http_field_t(i);
  }
  return HTTP_FIELD_UNKNOWN;
}

const char* httpFieldName(http_field_t field) { return valid(field) ? kFieldNames[field] : nullptr; }

const char* httpStatus(http_status_t status) {
  switch (status) {
    case HTTP_CONTINUE: return "Continue";
    case HTTP_SWITCHING_PROTOCOLS: return "Switching Protocols";
    case HTTP_OK: return "OK";
    case HTTP_CREATED: return "Created";
    case HTTP_ACCEPTED: return "Accepted";
    case HTTP_NO_CONTENT: return "No Content";
    case HTTP_PARTIAL_CONTENT: return "Partial Content";
    case HTTP_MOVED_PERMANENTLY: return "Moved Permanently";
    case HTTP_MOVED_TEMPORARILY: return "Moved Temporarily";
    case HTTP_SEE_OTHER: return "See Other";
    case HTTP_NOT_MODIFIED: return "Not Modified";
    case HTTP_BAD_REQUEST: return "Bad Request";
    case HTTP_UNAUTHORIZED: return "Unauthorized";
    case HTTP_FORBIDDEN: return "Forbidden";
    case HTTP_NOT_FOUND: return "Not Found";
    case HTTP_METHOD_NOT_ALLOWED: return "Method Not Allowed";
    case HTTP_NOT_ACCEPTABLE: return "Not Acceptable";
    case HTTP_REQUEST_TIMEOUT: return "Request Timeout";
    case HTTP_CONFLICT: return "Conflict";
    case HTTP_LENGTH_REQUIRED: return "Length Required";
    case HTTP_REQUEST_TOO_LARGE: return "Request Entity Too Large";
    case HTTP_URI_TOO_LONG: return "URI Too Long";
    case HTTP_UNSUPPORTED_MEDIATYPE: return "Unsupported Media Type";
    case HTTP_EXPECTATION_FAILED: return "Expectation Failed";
    case HTTP_UPGRADE_REQUIRED: return "Upgrade Required";
    case HTTP_SERVER_ERROR: return "Internal Server Error";
    case HTTP_NOT_IMPLEMENTED: return "Not Implemented";
    case HTTP_BAD_GATEWAY: return "Bad Gateway";
    case HTTP_SERVICE_UNAVAILABLE: return "Service Unavailable";
    case HTTP_GATEWAY_TIMEOUT: return "Gateway Timeout";
    case HTTP_NOT_SUPPORTED: return "HTTP Version Not Supported";
    default: return "Unknown";
  }
}

const char* httpStateString(http_state_t state) {
  switch (state) {
    case HTTP_WAITING: return "WAITING";
    case HTTP_OPTIONS: return "OPTIONS";
    case HTTP_GET:
    case HTTP_GET_SEND: return "GET";
    case HTTP_HEAD: return "HEAD";
    case HTTP_POST:
    case HTTP_POST_RECV:
    case HTTP_POST_SEND: return "POST";
    case HTTP_PUT:
    case HTTP_PUT_RECV: return "PUT";
    case HTTP_DELETE: return "DELETE";
    case HTTP_TRACE: return "TRACE";
    case HTTP_CLOSE: return "CLOSE";
    case HTTP_STATUS: return "STATUS";
  }
  return "UNKNOWN";
}

void httpClearCookie(http_t* http) {
  if (http) http->cookie[0] = '\0';
}

void httpSetAuthString(http_t* http, const char* scheme, const char* data) {
  if (!http) return;
  if (!scheme || !*scheme) {
    http->authstring[0] = '\0';
    return;
  }
  std::string value = scheme;
  if (data && *data) value.append(" ").append(data);
  vorn::strlcpy(http->authstring, value, sizeof(http->authstring));
}
