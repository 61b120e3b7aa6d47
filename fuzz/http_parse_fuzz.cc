// Feeds arbitrary bytes through the HTTP parser from a socket: as requests a
// server reads (header lines, length and chunked bodies, an IPP message in
// the body) or as responses a client reads; and through the URI, date and
// Base64 parsers.
//
// Request lines go through the server's request-line parser.
//
// The first byte picks the mode: bit 0 client side, bit 1 blocking reads,
// bit 2 read an application/ipp body with ippRead, bits 3-4 the state a
// client waits in (POST, GET, HEAD, PUT).

#include "vorn/http.h"
#include "vorn/ipp-http.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

constexpr size_t kMaxInput = 64 * 1024;  // fits a socket buffer: written at once

void parse_strings(const std::string& text) {
  char scheme[HTTP_MAX_SCHEME], user[HTTP_MAX_USER], host[HTTP_MAX_HOST], resource[HTTP_MAX_URI];
  int port = 0;
  httpSeparate(text.c_str(), scheme, user, host, &port, resource);
  httpGetDateTime(text.c_str());
  char out[256];
  int len = sizeof(out);
  httpDecode64(out, &len, text.c_str());
}

void read_body(http_t* http, bool as_ipp) {
  if (as_ipp && std::strncmp(httpGetField(http, HTTP_FIELD_CONTENT_TYPE), "application/ipp", 15) == 0) {
    ipp_t* ipp = ippNew();
    ippRead(http, ipp);
    ippDelete(ipp);
  }
  char buf[4096];
  for (int i = 0; i < 100000; i++) {
    if (httpRead(http, buf, sizeof(buf)) <= 0) break;
  }
}

// Reads the fields a server or a client looks into.
void look_at_fields(http_t* http) {
  char value[HTTP_MAX_VALUE];
  httpGetSubField(http, HTTP_FIELD_AUTHORIZATION, "response", value);
  httpGetSubField(http, HTTP_FIELD_WWW_AUTHENTICATE, "nonce", value);
  httpGetLength(http);
  httpGetDateTime(httpGetField(http, HTTP_FIELD_IF_MODIFIED_SINCE));
}

http_status_t read_headers(http_t* http) {
  http_status_t st = HTTP_CONTINUE;
  for (int i = 0; i < 3000 && st == HTTP_CONTINUE; i++) {
    st = httpUpdate(http);
    if (st == HTTP_CONTINUE && http->error == EAGAIN) break;  // nothing more will come
  }
  return st;
}

void serve(int fd, int mode) {
  http_t http;
  httpInitServer(&http, fd, nullptr, 0);
  http.blocking = (mode & 2) ? 1 : 0;
  for (int n = 0; n < 16; n++) {
    char line[2048];
    if (!httpGets(line, sizeof(line), &http)) break;
    http_request_line_t request;
    http_status_t parsed = httpParseRequestLine(line, &request);
    if (parsed == HTTP_BAD_REQUEST || request.state == HTTP_WAITING) {
      // What a server refuses; the rest is read as a POST to reach the
      // header and body parsers anyway.
      request.state = HTTP_POST;
    } else if (parsed == HTTP_OK && (request.version > 1 * 100 + 999 || !request.method[0] || !request.resource[0])) {
      __builtin_trap();  // a line the parser should have refused (major above 1, a word missing)
    }
    httpClearFields(&http);
    http.state = request.state;
    http.status = HTTP_OK;
    if (read_headers(&http) != HTTP_OK) break;
    look_at_fields(&http);
    read_body(&http, mode & 4);
  }
  httpCloseSocket(&http);
}

void fetch(int fd, int mode) {
  static const http_state_t kStates[] = {HTTP_POST_RECV, HTTP_GET, HTTP_HEAD, HTTP_PUT_RECV};
  http_t http;
  http.fd = fd;
  http.blocking = (mode & 2) ? 1 : 0;
  http.timeout = 1000;
  for (int response = 0; response < 16 && http.fd >= 0; response++) {
    httpClearFields(&http);
    http.state = kStates[(mode >> 3) & 3];
    http.status = HTTP_CONTINUE;
    http_status_t st = read_headers(&http);
    if (st == HTTP_ERROR || st == HTTP_CONTINUE) break;
    look_at_fields(&http);
    read_body(&http, mode & 4);
  }
  httpCloseSocket(&http);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxInput) return 0;
  const int mode = data[0];
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  parse_strings(text);

  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return 0;
  size_t sent = 0;
  while (sent < text.size()) {
    ssize_t n = ::send(sv[1], text.data() + sent, text.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += size_t(n);
  }
  ::close(sv[1]);  // the reader sees the end after the bytes
  if (mode & 1) {
    fetch(sv[0], mode);
  } else {
    serve(sv[0], mode);
  }
  return 0;
}
