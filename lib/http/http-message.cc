// Messages: header lines, bodies (length-delimited and chunked) and client
// requests.

#include "http-private.h"
#include "vorn/strings.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace vorn::http {
namespace {

bool has_token(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    size_t comma = list.find(',');
    if (iequals(trim(list.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

http_status_t fail(http_t* http, int err) {
  http->error = err;
  http->status = HTTP_ERROR;
  http->body_open = 0;
  return HTTP_ERROR;
}

// "HTTP/1.1 200 OK": version and a three-digit code from 100 to 599.
bool parse_status_line(std::string_view line, int* version, int* code) {
  if (!line.starts_with("HTTP/") || line.size() < 12) return false;
  line.remove_prefix(5);
  if (!isdigit(line[0]) || line[1] != '.' || !isdigit(line[2]) || line[3] != ' ') return false;
  *version = (line[0] - '0') * 100 + (line[2] - '0');
  line.remove_prefix(4);
  if (line.size() < 3 || !isdigit(line[0]) || !isdigit(line[1]) || !isdigit(line[2])) return false;
  if (line.size() > 3 && line[3] != ' ') return false;
  *code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
  return *code >= 100 && *code <= 599;
}

// The empty line after the headers: sets up the body and moves the state on.
http_status_t end_of_headers(http_t* http) {
  if (!http->server && http->status == HTTP_CONTINUE) {
    // An interim "100 Continue": the real response follows.
    http->got_status = 0;
    http->header_lines = 0;
    httpClearFields(http);
    return HTTP_CONTINUE;
  }
  http->header_lines = 0;
  http->body_open = 1;
  http->until_close = 0;
  http->chunk_phase = HTTP_CHUNK_SIZE;
  http->data_remaining = 0;
  http->data_encoding = HTTP_ENCODE_LENGTH;

  bool no_body = !http->server && (http->state == HTTP_HEAD || http->status < 200 ||
                                   http->status == HTTP_NO_CONTENT || http->status == HTTP_NOT_MODIFIED);
  if (no_body) {
    // nothing follows the headers
  } else if (has_token(http->fields[HTTP_FIELD_TRANSFER_ENCODING], "chunked")) {
    http->data_encoding = HTTP_ENCODE_CHUNKED;
  } else if (http->fields[HTTP_FIELD_CONTENT_LENGTH][0]) {
    int64_t n = parse_length(http->fields[HTTP_FIELD_CONTENT_LENGTH]);
    if (n < 0) return fail(http, EINVAL);
    http->data_remaining = n;
  } else if (!http->server) {
    http->data_remaining = INT64_MAX;
    http->until_close = 1;
  }

  if (http->server) {
    if (http->state == HTTP_GET) http->state = HTTP_GET_SEND;
    else if (http->state == HTTP_POST) http->state = HTTP_POST_RECV;
    else if (http->state == HTTP_PUT) http->state = HTTP_PUT_RECV;
    if (http->status == HTTP_CONTINUE) http->status = HTTP_OK;
  } else {
    if (http->state == HTTP_GET) http->state = HTTP_GET_SEND;
    else if (http->state == HTTP_POST_RECV) http->state = HTTP_POST_SEND;
    else if (http->state == HTTP_PUT_RECV) http->state = HTTP_STATUS;
    std::string_view conn = http->fields[HTTP_FIELD_CONNECTION];
    bool keep = !has_token(conn, "close") && (http->version >= HTTP_1_1 || has_token(conn, "keep-alive"));
    http->keep_alive = keep ? HTTP_KEEPALIVE_ON : HTTP_KEEPALIVE_OFF;
    http->peer_closes = !keep || http->until_close;
  }
  return http->status;
}

// Ends the body being read.
void end_of_body(http_t* http) {
  http->body_open = 0;
  http->state = (http->server && http->state == HTTP_POST_RECV) ? HTTP_POST_SEND : HTTP_WAITING;
}

// Ends the body being written.
void end_of_write(http_t* http) {
  if (http->state == HTTP_POST_RECV) http->state = HTTP_POST_SEND;
  else if (http->state == HTTP_PUT_RECV) http->state = HTTP_STATUS;
  else http->state = HTTP_WAITING;
}

// Body bytes from the buffer, else straight from the socket; never more
// than `want`. Small reads (an IPP reader asks for a field of a few bytes at
// a time) are served from the buffer, which one receive fills for many of
// them: what it takes past the body stays there for the next message, as
// the header reader's receives do. Large ones go straight to the caller.
ssize_t read_body(http_t* http, char* buf, size_t want) {
  if (http->used <= 0 && want < size_t(HTTP_MAX_BUFFER) / 4) {
    ssize_t got = fill_buffer(http);
    if (got <= 0) return got;
  }
  if (http->used > 0) {
    size_t n = std::min(want, size_t(http->used));
    std::memcpy(buf, http->buffer + http->start, n);
    consume(http, n);
    return ssize_t(n);
  }
  return recv_some(http, buf, want, http->blocking != 0);
}

// Turns the result of a body read that gave no bytes into httpRead's answer.
int no_bytes(http_t* http, ssize_t n) {
  if (n == 0) {
    http->error = EPIPE;  // closed before the end of the body
    http->body_open = 0;
    return -1;
  }
  return http->error == EAGAIN ? 0 : -1;
}

// Parses a chunk-size line: hex digits, then optional white space and
// extensions after ";". The size, or -1.
int64_t parse_chunk_size(std::string_view line) {
  line = trim(line);
  int64_t size = 0;
  size_t i = 0;
  for (; i < line.size(); i++) {
    char c = tolower(line[i]);
    int d = isdigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
    if (d < 0) break;
    if (i >= 15) return -1;  // past 2^60 bytes: nobody sends that much
    size = size * 16 + d;
  }
  if (i == 0) return -1;
  std::string_view rest = trim(line.substr(i));
  if (!rest.empty() && rest[0] != ';') return -1;
  return size;
}

int read_chunked(http_t* http, char* buffer, size_t length) {
  char line[256];
  for (;;) {
    switch (http->chunk_phase) {
      case HTTP_CHUNK_SIZE: {
        int r = get_line(http, line, sizeof(line));
        if (r <= 0) return r == 0 ? 0 : (http->body_open = 0, -1);
        int64_t size = parse_chunk_size(line);
        if (size < 0) {
          fail(http, EPROTO);
          return -1;
        }
        if (size == 0) {
          http->chunk_phase = HTTP_CHUNK_TRAILER;
          http->header_lines = 0;
        } else {
          http->data_remaining = size;
          http->chunk_phase = HTTP_CHUNK_DATA;
        }
        break;
      }
      case HTTP_CHUNK_DATA: {
        size_t want = size_t(std::min<int64_t>(int64_t(length), http->data_remaining));
        ssize_t n = read_body(http, buffer, want);
        if (n <= 0) return no_bytes(http, n);
        http->data_remaining -= n;
        if (http->data_remaining == 0) http->chunk_phase = HTTP_CHUNK_DATA_END;
        return int(n);
      }
      case HTTP_CHUNK_DATA_END: {
        int r = get_line(http, line, sizeof(line));
        if (r <= 0) return r == 0 ? 0 : (http->body_open = 0, -1);
        if (line[0]) {
          fail(http, EPROTO);  // chunk data longer than its size
          return -1;
        }
        http->chunk_phase = HTTP_CHUNK_SIZE;
        break;
      }
      case HTTP_CHUNK_TRAILER: {
        int r = get_line(http, line, sizeof(line));
        if (r <= 0) return r == 0 ? 0 : (http->body_open = 0, -1);
        if (!line[0]) {
          http->header_lines = 0;
          end_of_body(http);
          return 0;
        }
        if (++http->header_lines > HTTP_MAX_HEADER_LINES) {
          fail(http, EMSGSIZE);
          return -1;
        }
        break;  // trailer fields are not kept
      }
    }
  }
}

std::string escape_uri(std::string_view uri) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(uri.size());
  for (unsigned char c : uri) {
    if (c <= ' ' || c >= 0x7f) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += char(c);
    }
  }
  return out;
}

std::string host_field(const http_t* http) {
  std::string host = http->hostname;
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  return host + ":" + std::to_string(http->port);
}

}  // namespace

int send_request(http_t* http, http_state_t state, const char* method, const char* uri) {
  if (!http || !uri || http->server) {
    if (http) http->error = EINVAL;
    errno = EINVAL;
    return -1;
  }
  bool fresh = false;
  if (http->fd < 0 || http->peer_closes || http->status == HTTP_ERROR || http->status >= 400) {
    if (httpReconnect(http) < 0) return -1;
    fresh = true;
  }

  std::string req = std::string(method) + " " + escape_uri(uri) + " HTTP/1.1\r\n";
  for (int f = 0; f < HTTP_FIELD_MAX; f++) {
    const char* value = http->fields[f];
    std::string host;
    if (f == HTTP_FIELD_HOST && !value[0]) value = (host = host_field(http)).c_str();
    if (f == HTTP_FIELD_AUTHORIZATION && !value[0]) value = http->authstring;
    // A cookie set for this request wins over the one kept from Set-Cookie.
    if (f == HTTP_FIELD_COOKIE && !value[0]) value = http->cookie;
    if (!value[0]) continue;
    req.append(httpFieldName(http_field_t(f))).append(": ").append(value).append("\r\n");
  }
  req += "\r\n";

  // How the body that follows is written.
  if (has_token(http->fields[HTTP_FIELD_TRANSFER_ENCODING], "chunked")) {
    http->data_encoding = HTTP_ENCODE_CHUNKED;
    http->data_remaining = 0;
  } else {
    int64_t n = http->fields[HTTP_FIELD_CONTENT_LENGTH][0] ? parse_length(http->fields[HTTP_FIELD_CONTENT_LENGTH]) : 0;
    if (n < 0) {
      http->error = errno = EINVAL;
      return -1;
    }
    http->data_encoding = HTTP_ENCODE_LENGTH;
    http->data_remaining = n;
  }

  int rc = send_all(http, req.data(), req.size());
  if (rc < 0 && !fresh && (http->error == EPIPE || http->error == ECONNRESET)) {
    // The server dropped a kept-alive connection; one new attempt.
    int64_t remaining = http->data_remaining;
    http_encoding_t encoding = http->data_encoding;
    if (httpReconnect(http) < 0) return -1;
    http->data_remaining = remaining;
    http->data_encoding = encoding;
    rc = send_all(http, req.data(), req.size());
  }
  if (rc < 0) {
    errno = http->error;
    return -1;
  }
  httpClearFields(http);
  http->state = state;
  http->status = HTTP_CONTINUE;
  http->got_status = 0;
  http->body_open = 0;
  http->until_close = 0;
  http->header_lines = 0;
  return 0;
}

}  // namespace vorn::http

using namespace vorn::http;

char* httpGets(char* line, int length, http_t* http) {
  if (!http || !line || length < 1) {
    if (http) http->error = EINVAL;
    return nullptr;
  }
  http->error = 0;
  return get_line(http, line, size_t(length)) == 1 ? line : nullptr;
}

http_status_t httpUpdate(http_t* http) {
  if (!http) return HTTP_ERROR;
  if (http->fd < 0) return fail(http, EBADF);
  http->error = 0;

  // Field values are kept to 255 characters; the rest of a longer line is
  // dropped by get_line.
  char line[2048];
  int r = get_line(http, line, sizeof(line));
  if (r == 0) return HTTP_CONTINUE;
  if (r < 0) return fail(http, http->error);
  if (++http->header_lines > HTTP_MAX_HEADER_LINES) return fail(http, EMSGSIZE);

  if (!line[0]) {
    if (!http->server && !http->got_status) return HTTP_CONTINUE;  // stray empty line
    return end_of_headers(http);
  }
  if (!http->server && !http->got_status) {
    int version = 0, code = 0;
    if (!parse_status_line(line, &version, &code)) return fail(http, EPROTO);
    http->version = http_version_t(version);
    http->status = http_status_t(code);
    http->got_status = 1;
    return HTTP_CONTINUE;
  }
  if (line[0] == ' ' || line[0] == '\t') return HTTP_CONTINUE;  // folded continuation: dropped

  std::string_view text = line;
  size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0) return fail(http, EPROTO);
  std::string_view name = text.substr(0, colon);
  if (name.find_first_of(" \t") != std::string_view::npos) return fail(http, EPROTO);
  std::string_view value = vorn::trim(text.substr(colon + 1));

  http_field_t field = httpFieldValue(std::string(name).c_str());
  if (field == HTTP_FIELD_CONTENT_LENGTH && http->fields[field][0] &&
      std::string_view(http->fields[field]) != value) {
    return fail(http, EPROTO);  // two different lengths: the body is ambiguous
  }
  if (field != HTTP_FIELD_UNKNOWN) {
    vorn::strlcpy(http->fields[field], value, HTTP_MAX_VALUE);
  } else if (!http->server && vorn::iequals(name, "Set-Cookie")) {
    vorn::strlcpy(http->cookie, vorn::trim(value.substr(0, value.find(';'))), sizeof(http->cookie));
  }
  return HTTP_CONTINUE;
}

int httpRead(http_t* http, char* buffer, int length) {
  if (!http || length < 0 || (length > 0 && !buffer)) {
    if (http) http->error = EINVAL;
    return -1;
  }
  http->error = 0;
  if (length == 0 || !http->body_open) return 0;
  if (http->data_encoding == HTTP_ENCODE_CHUNKED) return read_chunked(http, buffer, size_t(length));

  if (http->data_remaining <= 0) {
    end_of_body(http);
    return 0;
  }
  size_t want = size_t(std::min<int64_t>(length, http->data_remaining));
  ssize_t n = read_body(http, buffer, want);
  if (n == 0 && http->until_close) {
    end_of_body(http);
    return 0;
  }
  if (n <= 0) return no_bytes(http, n);
  if (!http->until_close) {
    http->data_remaining -= n;
    if (http->data_remaining == 0) end_of_body(http);
  }
  return int(n);
}

int httpWrite(http_t* http, const char* buffer, int length) {
  if (!http || length < 0 || (length > 0 && !buffer)) {
    if (http) http->error = EINVAL;
    return -1;
  }
  if (http->data_encoding == HTTP_ENCODE_CHUNKED) {
    if (length == 0) {
      if (send_all(http, "0\r\n\r\n", 5) < 0) return -1;
      end_of_write(http);
      return 0;
    }
    char head[32];
    int hl = std::snprintf(head, sizeof(head), "%x\r\n", unsigned(length));
    if (length <= 8192) {
      // One send for small chunks, so a chunk is not split over three packets.
      std::string chunk;
      chunk.reserve(size_t(hl + length + 2));
      chunk.append(head, size_t(hl)).append(buffer, size_t(length)).append("\r\n");
      if (send_all(http, chunk.data(), chunk.size()) < 0) return -1;
    } else if (send_all(http, head, size_t(hl)) < 0 || send_all(http, buffer, size_t(length)) < 0 ||
               send_all(http, "\r\n", 2) < 0) {
      return -1;
    }
    return length;
  }
  if (length == 0) return 0;
  if (send_all(http, buffer, size_t(length)) < 0) return -1;
  if (http->data_remaining > 0) {
    http->data_remaining -= std::min<int64_t>(length, http->data_remaining);
    if (http->data_remaining == 0) end_of_write(http);
  }
  return length;
}

int httpPrintf(http_t* http, const char* format, ...) {
  if (!http || !format) return -1;
  va_list ap;
  va_start(ap, format);
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (n > 0) {
    text.resize(size_t(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, ap);
    text.resize(size_t(n));
  }
  va_end(ap);
  if (n < 0) {
    http->error = EINVAL;
    return -1;
  }
  if (n > 0 && send_all(http, text.data(), text.size()) < 0) return -1;
  return n;
}

void httpFlush(http_t* http) {
  if (!http) return;
  char buf[8192];
  while (http->body_open && httpRead(http, buf, sizeof(buf)) > 0) {
  }
}

int httpGet(http_t* http, const char* uri) { return send_request(http, HTTP_GET, "GET", uri); }
int httpHead(http_t* http, const char* uri) { return send_request(http, HTTP_HEAD, "HEAD", uri); }
int httpPost(http_t* http, const char* uri) { return send_request(http, HTTP_POST_RECV, "POST", uri); }
int httpPut(http_t* http, const char* uri) { return send_request(http, HTTP_PUT_RECV, "PUT", uri); }
int httpOptions(http_t* http, const char* uri) { return send_request(http, HTTP_OPTIONS, "OPTIONS", uri); }
int httpDelete(http_t* http, const char* uri) { return send_request(http, HTTP_DELETE, "DELETE", uri); }
int httpTrace(http_t* http, const char* uri) { return send_request(http, HTTP_TRACE, "TRACE", uri); }
