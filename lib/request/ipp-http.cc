// The IPP codec's byte callbacks over an HTTP connection.

#include "vorn/ipp-http.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <poll.h>

namespace {

ssize_t read_body(void* ctx, uint8_t* buf, size_t len) {
  auto* http = static_cast<http_t*>(ctx);
  int n = httpRead(http, reinterpret_cast<char*>(buf), int(std::min<size_t>(len, INT_MAX)));
  if (n > 0) return n;
  if (n < 0) return -1;
  // Nothing now while the body goes on; otherwise the body has ended.
  return http->body_open ? 0 : -1;
}

struct WriteStep {
  http_t* http;
  bool wrote = false;  // non-blocking: one piece per ippWrite call
};

ssize_t write_body(void* ctx, uint8_t* buf, size_t len) {
  auto* step = static_cast<WriteStep*>(ctx);
  http_t* http = step->http;
  if (!http->blocking) {
    if (step->wrote) return 0;
    pollfd p{http->fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) != 1) return 0;
    len = std::min<size_t>(len, HTTP_MAX_BUFFER);
    step->wrote = true;
  }
  len = std::min<size_t>(len, INT_MAX);
  return httpWrite(http, reinterpret_cast<const char*>(buf), int(len)) == int(len) ? ssize_t(len) : -1;
}

}  // namespace

ipp_state_t ippRead(http_t* http, ipp_t* ipp) {
  if (!http || !ipp) return IPP_ERROR;
  return ippReadIO(http, read_body, http->blocking, nullptr, ipp);
}

ipp_state_t ippWrite(http_t* http, ipp_t* ipp) {
  if (!http || !ipp) return IPP_ERROR;
  WriteStep step{http};
  return ippWriteIO(&step, write_body, http->blocking, nullptr, ipp);
}
