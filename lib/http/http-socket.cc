// Byte transport of a connection: reads and writes over the plain socket or
// the TLS session, and the input buffer.

#include "http-private.h"
#include "tls-loader.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace vorn::http {

int poll_fd(int fd, short events, int msec) {
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::milliseconds(msec > 0 ? msec : 0);
  for (;;) {
    int left = msec;
    if (msec > 0) {
      auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
      left = ms > 0 ? int(ms) : 0;
    }
    pollfd p{fd, events, 0};
    int n = ::poll(&p, 1, left);
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
  }
}

namespace {

// What an SSL call that did not complete asks for: POLLIN, POLLOUT, or 0 when
// it failed for good (http->error set, OpenSSL's error queue cleared). A peer
// that closed without a close_notify counts as closed (`*closed`), since
// printers commonly do that.
short tls_wants(const tls_api& t, http_t* http, int ret, bool* closed) {
  int e = t.SSL_get_error(http->tls, ret);
  switch (e) {
    case SSL_ERROR_WANT_READ:
      return POLLIN;
    case SSL_ERROR_WANT_WRITE:
      return POLLOUT;
    case SSL_ERROR_ZERO_RETURN:
      *closed = true;
      break;
    case SSL_ERROR_SSL:
      if (ERR_GET_REASON(t.ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        *closed = true;
      } else {
        http->error = EIO;
      }
      break;
    case SSL_ERROR_SYSCALL:
      if (errno == 0 && ret == 0) {
        *closed = true;
      } else {
        http->error = errno ? errno : EIO;
      }
      break;
    default:
      http->error = EIO;
      break;
  }
  t.ERR_clear_error();
  return 0;
}

}  // namespace

ssize_t recv_some(http_t* http, char* buf, size_t len, bool wait) {
  if (http->fd < 0) {
    http->error = EBADF;
    return -1;
  }
  if (len == 0) {
    http->error = EINVAL;
    return -1;
  }
  len = std::min<size_t>(len, INT_MAX);
  for (;;) {
    short want = POLLIN;
    if (http->tls) {
      const tls_api* t = tls_library();
      if (!t) return tls_unavailable(http);
      t->ERR_clear_error();
      errno = 0;
      int n = t->SSL_read(http->tls, buf, int(len));
      if (n > 0) {
        http->activity = time(nullptr);
        return n;
      }
      bool closed = false;
      want = tls_wants(*t, http, n, &closed);
      if (closed) return 0;
      if (!want) return -1;
    } else {
      ssize_t n = ::recv(http->fd, buf, len, 0);
      if (n > 0) http->activity = time(nullptr);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        http->error = errno;
        return -1;
      }
    }
    if (!wait) {
      http->error = EAGAIN;
      return -1;
    }
    int ready = poll_fd(http->fd, want, wait_limit(http));
    if (ready <= 0) {
      http->error = ready == 0 ? ETIMEDOUT : errno;
      return -1;
    }
  }
}

int send_all(http_t* http, const char* buf, size_t len) {
  if (http->fd < 0) {
    http->error = EBADF;
    return -1;
  }
  while (len > 0) {
    short want = POLLOUT;
    size_t piece = std::min<size_t>(len, INT_MAX);
    if (http->tls) {
      const tls_api* t = tls_library();
      if (!t) return tls_unavailable(http);
      t->ERR_clear_error();
      errno = 0;
      int n = t->SSL_write(http->tls, buf, int(piece));
      if (n > 0) {
        buf += n;
        len -= size_t(n);
        continue;
      }
      bool closed = false;
      want = tls_wants(*t, http, n, &closed);
      if (closed) http->error = EPIPE;
      if (!want) return -1;
    } else {
      ssize_t n = ::send(http->fd, buf, piece, MSG_NOSIGNAL);
      if (n >= 0) {
        buf += n;
        len -= size_t(n);
        continue;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        http->error = errno;
        return -1;
      }
    }
    int ready = poll_fd(http->fd, want, wait_limit(http));
    if (ready <= 0) {
      http->error = ready == 0 ? ETIMEDOUT : errno;
      return -1;
    }
  }
  http->activity = time(nullptr);
  return 0;
}

ssize_t fill_buffer(http_t* http) {
  if (http->used <= 0) {
    http->used = 0;
    http->start = 0;
  } else if (http->start + http->used >= HTTP_MAX_BUFFER && http->start > 0) {
    // Out of room at the end: the unread bytes move to the front.
    std::memmove(http->buffer, http->buffer + http->start, size_t(http->used));
    http->start = 0;
  }
  if (http->used >= HTTP_MAX_BUFFER) return 0;
  const int end = http->start + http->used;
  ssize_t n = recv_some(http, http->buffer + end, size_t(HTTP_MAX_BUFFER - end), http->blocking != 0);
  if (n > 0) http->used += int(n);
  return n;
}

void consume(http_t* http, size_t n) {
  // The start moves, nothing is copied: a reader taking a few bytes at a
  // time must not move the rest of the buffer for each.
  n = std::min(n, size_t(http->used));
  http->used -= int(n);
  http->start = http->used > 0 ? http->start + int(n) : 0;
}

int get_line(http_t* http, char* line, size_t size) {
  for (;;) {
    if (http->discard_line) {
      const char* data = http->buffer + http->start;
      auto* nl = static_cast<const char*>(std::memchr(data, '\n', size_t(http->used)));
      if (nl) {
        consume(http, size_t(nl - data) + 1);
        http->discard_line = 0;
      } else {
        consume(http, size_t(http->used));
      }
    }
    if (!http->discard_line) {
      const char* data = http->buffer + http->start;
      auto* nl = static_cast<const char*>(std::memchr(data, '\n', size_t(http->used)));
      if (nl || http->used == HTTP_MAX_BUFFER) {
        size_t end = nl ? size_t(nl - data) : size_t(http->used);
        size_t n = end;
        if (nl && n > 0 && data[n - 1] == '\r') n--;
        size_t keep = size > 0 ? std::min(n, size - 1) : 0;
        if (size > 0) {
          std::memcpy(line, data, keep);
          line[keep] = '\0';
        }
        if (nl) {
          consume(http, end + 1);
        } else {
          // A line longer than the whole buffer: keep its start, drop the rest.
          consume(http, size_t(http->used));
          http->discard_line = 1;
        }
        return 1;
      }
    }
    ssize_t got = fill_buffer(http);
    if (got > 0) continue;
    if (got == 0) {
      http->error = EPIPE;
      return -1;
    }
    return http->error == EAGAIN ? 0 : -1;
  }
}

}  // namespace vorn::http

using namespace vorn::http;

int httpWait(http_t* http, int msec) {
  if (!http) return 0;
  if (http->used > 0) return 1;
  if (http->tls) {
    const tls_api* t = tls_library();
    if (t && t->SSL_pending(http->tls) > 0) return 1;
  }
  if (http->fd < 0) return 0;
  return poll_fd(http->fd, POLLIN, msec < 0 ? -1 : msec) > 0 ? 1 : 0;
}

int httpCheck(http_t* http) { return httpWait(http, 0); }

int httpWriteSome(http_t* http, const char* buffer, int length) {
  if (!http || http->fd < 0) {
    if (http) http->error = EBADF;
    return -1;
  }
  if (length <= 0) return 0;
  http->error = 0;
  if (http->tls) {
    const tls_api* t = tls_library();
    if (!t) return tls_unavailable(http);
    // The caller retries with the same bytes at a new address (its buffer
    // moves as it grows) and takes a partial write as progress: SSL_set_mode.
    t->SSL_ctrl(http->tls, SSL_CTRL_MODE, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER,
                nullptr);
    t->ERR_clear_error();
    errno = 0;
    int n = t->SSL_write(http->tls, buffer, length);
    if (n > 0) {
      http->activity = time(nullptr);
      return n;
    }
    bool closed = false;
    short want = tls_wants(*t, http, n, &closed);
    if (closed) http->error = EPIPE;
    if (want) return 0;
    return -1;
  }
  for (;;) {
    ssize_t n = ::send(http->fd, buffer, size_t(length), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      if (n > 0) http->activity = time(nullptr);
      return int(n);
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    http->error = errno;
    return -1;
  }
}
