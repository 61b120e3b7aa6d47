// TLS sessions of connections: client handshakes, server handshakes with the
// caller's context, and the socket BIO they run over.

#include "http-private.h"
#include "tls-loader.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <string>
#include <sys/socket.h>

namespace vorn::http {
namespace {

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE when the
// peer has gone; a library must not kill its program for that, so sessions
// run over this BIO, which sends with MSG_NOSIGNAL. Its only state is the
// descriptor, so the connection struct may be moved in memory. OpenSSL only
// calls these once the method was made through the loaded table, so the
// table is there.
const tls_api& api() { return *tls_library(); }

int fd_of(BIO* b) { return int(reinterpret_cast<intptr_t>(api().BIO_get_data(b))); }

// BIO_clear_retry_flags, BIO_set_retry_write and BIO_set_retry_read.
void clear_retry(BIO* b) { api().BIO_clear_flags(b, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY); }
void set_retry(BIO* b, int direction) { api().BIO_set_flags(b, direction | BIO_FLAGS_SHOULD_RETRY); }

int bio_write(BIO* b, const char* data, int len) {
  clear_retry(b);
  ssize_t n;
  do n = ::send(fd_of(b), data, size_t(len), MSG_NOSIGNAL); while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) set_retry(b, BIO_FLAGS_WRITE);
  return int(n);
}

int bio_read(BIO* b, char* data, int len) {
  clear_retry(b);
  ssize_t n;
  do n = ::recv(fd_of(b), data, size_t(len), 0); while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) set_retry(b, BIO_FLAGS_READ);
  return int(n);
}

int bio_puts(BIO* b, const char* s) { return bio_write(b, s, int(std::char_traits<char>::length(s))); }

long bio_ctrl(BIO*, int cmd, long, void*) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

int bio_create(BIO* b) {
  api().BIO_set_init(b, 1);
  return 1;
}

BIO_METHOD* socket_method(const tls_api& t) {
  static BIO_METHOD* method = [&t] {
    BIO_METHOD* m = t.BIO_meth_new(t.BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vorn socket");
    if (m) {
      t.BIO_meth_set_write(m, bio_write);
      t.BIO_meth_set_read(m, bio_read);
      t.BIO_meth_set_puts(m, bio_puts);
      t.BIO_meth_set_ctrl(m, bio_ctrl);
      t.BIO_meth_set_create(m, bio_create);
    }
    return m;
  }();
  return method;
}

// Puts `ssl` on the connection's socket; false when no BIO could be made.
bool attach_socket(const tls_api& t, SSL* ssl, int fd) {
  BIO_METHOD* m = socket_method(t);
  BIO* bio = m ? t.BIO_new(m) : nullptr;
  if (!bio) return false;
  t.BIO_set_data(bio, reinterpret_cast<void*>(intptr_t(fd)));
  t.SSL_set_bio(ssl, bio, bio);
  return true;
}

// Runs the handshake on the non-blocking socket, waiting at most the
// connection's timeout per step. 0 or -1 (http->error set).
int handshake(const tls_api& t, http_t* http, SSL* ssl, bool server) {
  for (;;) {
    t.ERR_clear_error();
    errno = 0;
    int r = server ? t.SSL_accept(ssl) : t.SSL_connect(ssl);
    if (r == 1) return 0;
    int e = t.SSL_get_error(ssl, r);
    short want = e == SSL_ERROR_WANT_READ ? POLLIN : e == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
    if (!want) {
      http->error = (e == SSL_ERROR_SYSCALL && errno) ? errno : EPROTO;
      return -1;
    }
    int ready = poll_fd(http->fd, want, wait_limit(http));
    if (ready <= 0) {
      http->error = ready == 0 ? ETIMEDOUT : errno;
      return -1;
    }
  }
}

bool is_address(const char* host) {
  unsigned char buf[sizeof(in6_addr)];
  return inet_pton(AF_INET, host, buf) == 1 || inet_pton(AF_INET6, host, buf) == 1 ||
         host[0] == '[';
}

}  // namespace

int tls_unavailable(http_t* http) {
  http->error = errno = kTlsUnavailable;
  return -1;
}

int start_client_tls(http_t* http) {
  const tls_api* t = tls_library();
  if (!t) return tls_unavailable(http);
  tls_ctx_ptr ctx(t->SSL_CTX_new(t->TLS_client_method()));
  tls_ptr ssl(ctx ? t->SSL_new(ctx.get()) : nullptr);
  bool ok = ssl && attach_socket(*t, ssl.get(), http->fd);
  if (ok) {
    // Printers present self-signed certificates; the session is not verified.
    t->SSL_set_verify(ssl.get(), SSL_VERIFY_NONE, nullptr);
    if (http->hostname[0] && !is_address(http->hostname)) {
      // SSL_set_tlsext_host_name
      t->SSL_ctrl(ssl.get(), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, http->hostname);
    }
    // Plain bytes received before the handshake must not pass as protected.
    http->used = 0;
    http->discard_line = 0;
    ok = handshake(*t, http, ssl.get(), false) == 0;
  } else {
    http->error = ENOMEM;
  }
  if (!ok) {
    t->ERR_clear_error();
    return -1;
  }
  http->tls = ssl.release();
  http->tls_ctx = ctx.release();
  return 0;
}

}  // namespace vorn::http

// A session or context exists only when the table was loaded (or, in a
// program that links OpenSSL itself, loads at once from the same library).
void vorn::tls_free::operator()(ssl_st* ssl) const {
  if (const auto* t = vorn::http::tls_library()) t->SSL_free(ssl);
}
void vorn::tls_free::operator()(ssl_ctx_st* ctx) const {
  if (const auto* t = vorn::http::tls_library()) t->SSL_CTX_free(ctx);
}

using namespace vorn::http;

ssl_st* httpNewTLS(http_t* http, ssl_ctx_st* ctx) {
  if (!http || !ctx || http->fd < 0) {
    if (http) http->error = EINVAL;
    return nullptr;
  }
  const tls_api* t = tls_library();
  if (!t) {
    tls_unavailable(http);
    return nullptr;
  }
  vorn::tls_ptr ssl(t->SSL_new(ctx));
  if (!ssl || !attach_socket(*t, ssl.get(), http->fd)) {
    http->error = ENOMEM;
    return nullptr;
  }
  t->SSL_set_accept_state(ssl.get());
  return ssl.release();
}

int httpAcceptTLS(http_t* http, ssl_ctx_st* ctx) {
  if (!http || !ctx || http->fd < 0 || http->tls) {
    if (http) http->error = EINVAL;
    return -1;
  }
  vorn::tls_ptr ssl(httpNewTLS(http, ctx));
  if (!ssl) return -1;
  http->used = 0;
  http->discard_line = 0;
  if (handshake(*tls_library(), http, ssl.get(), true) < 0) return -1;
  httpAttachTLS(http, ssl.release());
  return 0;
}

void httpAttachTLS(http_t* http, ssl_st* ssl) {
  if (!http) return;
  http->tls = ssl;
  http->tls_ctx = nullptr;  // the caller's context, referenced by the session
  http->used = 0;           // plain bytes from before the handshake
  http->discard_line = 0;
}
