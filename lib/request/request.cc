// One IPP request over HTTP: the request and its document out, the status
// back, with a dead kept-alive connection, 401 and 426 dealt with on the way.

#include "vorn/request.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "../http/tls-loader.h"
#include "request-private.h"
#include "vorn/fd.h"
#include "vorn/ipp-http.h"
#include "vorn/language.h"

namespace vorn::request {
namespace {

constexpr int kDefaultTimeout = 300000;     // ms per wait when the connection sets none
constexpr int kMaxAttempts = 8;             // resend + remembered password + prompts + upgrade
constexpr int kMaxStatusLines = HTTP_MAX_HEADER_LINES + 2;  // httpUpdate calls per response
constexpr size_t kMaxLeftover = 1 << 20;    // body bytes after a response worth reading

thread_local ipp_status_t last_error = IPP_OK;

enum write_result { kWritten, kAnsweredEarly, kWriteFailed, kDocumentFailed };

// Errors that mean the server had closed the connection before the request.
bool dropped(int err) { return err == EPIPE || err == ECONNRESET || err == ECONNABORTED; }

// Whether the server has sent something of an answer. On TLS a readable
// socket may hold only a session ticket, which is no answer.
bool answer_waiting(http_t* http) {
  if (!httpCheck(http)) return false;
  if (!http->tls || http->used > 0) return true;
  const vorn::http::tls_api* t = vorn::http::tls_library();
  if (!t) return true;  // the read reports it
  char c;
  t->ERR_clear_error();
  int n = t->SSL_peek(http->tls, &c, 1);
  int e = n > 0 ? SSL_ERROR_NONE : t->SSL_get_error(http->tls, n);
  t->ERR_clear_error();
  return e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE;  // data, or a close the read will report
}

// Waits until the socket can take more of the body (1) or the server has
// answered early (0): a server that refuses a request and stops reading
// must not leave the client blocked on a full socket. -1 on timeout.
int wait_to_write(http_t* http) {
  for (int i = 0; i < 100000; i++) {
    if (answer_waiting(http)) return 0;
    pollfd p{http->fd, POLLIN | POLLOUT, 0};
    int n = ::poll(&p, 1, http->timeout > 0 ? http->timeout : -1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      http->error = n == 0 ? ETIMEDOUT : errno;
      return -1;
    }
    if (p.revents & POLLIN) continue;  // looked at first thing in the next round
    return 1;                          // writable, or an error the write reports
  }
  http->error = EIO;
  return -1;
}

// Writes what follows the headers, stopping when the server answers before
// it has read everything (a refusal).
write_result write_body(http_t* http, const body_t& body, bool first_send) {
  if (body.ipp && ippWrite(http, body.ipp) != IPP_DATA) return kWriteFailed;
  bool chunked = body.size < 0;
  if (body.fd >= 0) {
    // A pipe cannot be rewound: its bytes can be sent once only.
    if (::lseek(body.fd, 0, SEEK_SET) < 0 && !first_send) return kDocumentFailed;
    // Blocks small enough that a writable socket takes one without waiting.
    char buf[8192];
    int64_t left = body.size;
    while (chunked || left > 0) {
      int ready = wait_to_write(http);
      if (ready == 0) return kAnsweredEarly;
      if (ready < 0) return kWriteFailed;
      size_t want = chunked ? sizeof(buf) : size_t(std::min<int64_t>(left, sizeof(buf)));
      ssize_t n = vorn::read_retry(body.fd, buf, want);
      if (n < 0 || (n == 0 && !chunked)) return kDocumentFailed;  // a shrunk file cannot fill the length
      if (n == 0) break;
      if (httpWrite(http, buf, int(n)) < 0) return kWriteFailed;
      left -= n;
    }
  }
  if (chunked && httpWrite(http, "", 0) < 0) return kWriteFailed;
  return kWritten;
}

// Reads the status line and headers. `*nothing` stays true when the
// connection failed before a single line of a response arrived.
http_status_t read_status(http_t* http, bool* nothing) {
  *nothing = true;
  for (int i = 0; i < kMaxStatusLines; i++) {
    http_status_t st = httpUpdate(http);
    if (st != HTTP_CONTINUE) return st;
    *nothing = false;
  }
  http->error = EPROTO;  // endless interim responses or header lines
  return HTTP_ERROR;
}

// Reads the rest of a response body so the connection can carry the next
// request; false when it is too long or broken (the caller closes then).
bool drain(http_t* http) {
  char buf[4096];
  size_t total = 0;
  for (;;) {
    int n = httpRead(http, buf, sizeof(buf));
    if (n == 0) return true;
    if (n < 0) return false;
    total += size_t(n);
    if (total > kMaxLeftover) return false;
  }
}

std::string accept_language() {
  vorn_lang_t* lang = vornLangGet(nullptr);
  std::string name = lang->language;
  vornLangFree(lang);
  return name;
}

}  // namespace

void set_last_error(ipp_status_t status) { last_error = status; }

ipp_status_t status_of_http(http_status_t status) {
  static const struct {
    http_status_t http;
    ipp_status_t ipp;
  } kMap[] = {
      {HTTP_BAD_REQUEST, IPP_BAD_REQUEST},
      {HTTP_UNAUTHORIZED, IPP_NOT_AUTHENTICATED},
      {HTTP_FORBIDDEN, IPP_FORBIDDEN},
      {HTTP_NOT_FOUND, IPP_NOT_FOUND},
      {HTTP_REQUEST_TOO_LARGE, IPP_REQUEST_ENTITY_TOO_LARGE},
      {HTTP_UPGRADE_REQUIRED, IPP_NOT_AUTHORIZED},  // refused until encrypted
      {HTTP_SERVICE_UNAVAILABLE, IPP_SERVICE_UNAVAILABLE},
  };
  for (const auto& m : kMap)
    if (m.http == status) return m.ipp;
  return IPP_INTERNAL_ERROR;
}

request_mode::request_mode(http_t* http) : http_(http), blocking_(http->blocking), timeout_(http->timeout) {
  http->blocking = 1;
  if (http->timeout <= 0) http->timeout = kDefaultTimeout;
}

request_mode::~request_mode() {
  http_->blocking = blocking_;
  http_->timeout = timeout_;
}

exchange_t exchange(http_t* http, const char* method, const char* resource, const body_t* body) {
  exchange_t result;
  const bool post = std::strcmp(method, "POST") == 0;
  const size_t ipp_length = body && body->ipp ? ippLength(body->ipp) : 0;
  const std::string language = accept_language();
  auth_attempt_t auth;
  bool resent = false, upgraded = false, sent_once = false;

  for (int attempt = 0; attempt < kMaxAttempts; attempt++) {
    httpClearFields(http);
    if (post) {
      httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/ipp");
      if (body && body->size < 0) {
        httpSetField(http, HTTP_FIELD_TRANSFER_ENCODING, "chunked");
      } else {
        int64_t length = int64_t(ipp_length) + (body ? body->size : 0);
        httpSetField(http, HTTP_FIELD_CONTENT_LENGTH, std::to_string(length).c_str());
      }
    }
    httpSetField(http, HTTP_FIELD_ACCEPT_LANGUAGE, language.c_str());
    refresh_digest(http, method, resource);

    // Only a connection that already carried a response and was kept open
    // can have been closed by the server's idle timer. On a new connection
    // silence means the server failed, perhaps after doing the work, so the
    // request is not sent twice.
    const bool reused = http->fd >= 0 && http->status >= 200 && http->status < 400 &&
                        http->keep_alive == HTTP_KEEPALIVE_ON;
    if ((post ? httpPost(http, resource) : httpGet(http, resource)) < 0) {
      if (reused && !resent && dropped(http->error)) {
        resent = true;
        httpCloseSocket(http);
        continue;
      }
      // After a 426 a connection that fails is one that could not switch to TLS.
      result.status = upgraded ? HTTP_UPGRADE_REQUIRED : HTTP_ERROR;
      return result;
    }

    write_result written = kWritten;
    if (post && body) written = write_body(http, *body, !sent_once);
    sent_once = true;
    if (written == kDocumentFailed) {
      result.document_error = true;
      httpCloseSocket(http);  // the server must not take a cut body for a whole one
      return result;
    }

    bool nothing = false;
    http_status_t st = read_status(http, &nothing);
    if (st == HTTP_ERROR) {
      int err = http->error;
      httpCloseSocket(http);
      // A kept-alive connection the server had closed before the request
      // came: nothing was processed, so it may go again on a new connection.
      if (reused && nothing && !resent && dropped(err)) {
        resent = true;
        continue;
      }
      return result;
    }
    // The server answered before it had the whole body: the stream is out
    // of step for a next request even when the answer is 200.
    result.cut_short = written != kWritten;

    if (st == HTTP_UNAUTHORIZED) {
      bool again = answer_challenge(http, method, resource, auth);
      httpCloseSocket(http);
      if (again) continue;
      result.status = st;
      return result;
    }
    if (st == HTTP_UPGRADE_REQUIRED && !upgraded && !http->tls) {
      upgraded = true;
      httpCloseSocket(http);
      // Recorded on the closed connection; the next request reconnects with
      // the upgrade.
      httpEncryption(http, HTTP_ENCRYPT_REQUIRED);
      continue;
    }
    auth_succeeded(http, auth);
    result.status = st;
    return result;
  }
  httpCloseSocket(http);
  return result;
}

}  // namespace vorn::request

using namespace vorn::request;

ipp_t* vornDoFileRequest(http_t* http, ipp_t* request, const char* resource, const char* filename) {
  ipp_ptr req(request);
  if (!http || http->server || !req || !resource || !*resource) {
    set_last_error(IPP_INTERNAL_ERROR);
    return nullptr;
  }
  if (ippLength(req.get()) == 0) {  // a message that cannot be encoded
    set_last_error(IPP_INTERNAL_ERROR);
    return nullptr;
  }

  body_t body;
  body.ipp = req.get();
  vorn::unique_fd document;
  if (filename) {
    document.reset(::open(filename, O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (!document || ::fstat(document.get(), &st) < 0 || S_ISDIR(st.st_mode)) {
      set_last_error(IPP_DOCUMENT_ACCESS_ERROR);
      return nullptr;
    }
    body.fd = document.get();
    body.size = S_ISREG(st.st_mode) ? int64_t(st.st_size) : -1;
  }

  request_mode mode(http);
  exchange_t ex = exchange(http, "POST", resource, &body);
  if (ex.document_error) {
    set_last_error(IPP_DOCUMENT_ACCESS_ERROR);
    return nullptr;
  }
  if (ex.status != HTTP_OK) {
    set_last_error(ex.status == HTTP_ERROR ? IPP_INTERNAL_ERROR : status_of_http(ex.status));
    httpCloseSocket(http);  // its body is not wanted; the next request reconnects
    return nullptr;
  }

  ipp_ptr response(ippNew());
  response->limits = IPP_CLIENT_LIMITS;
  if (ippRead(http, response.get()) != IPP_DATA) {
    set_last_error(IPP_INTERNAL_ERROR);
    httpCloseSocket(http);
    return nullptr;
  }
  if (ex.cut_short || !drain(http)) httpCloseSocket(http);
  set_last_error(ipp_status_t(response->op_status));
  return response.release();
}

ipp_status_t vornLastError() { return last_error; }
