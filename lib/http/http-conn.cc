// Opening, closing and encrypting connections, client and server side.

#include "http-private.h"
#include "tls-loader.h"
#include "vorn/strings.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace vorn::http {
namespace {

// Connects a new non-blocking socket to one address; the descriptor or -1.
int connect_one(const addrinfo* ai, int msec) {
  int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
  if (fd < 0) return -1;
  int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
  if (rc < 0 && errno == EINPROGRESS) {
    int ready = poll_fd(fd, POLLOUT, msec);
    if (ready == 0) {
      errno = ETIMEDOUT;
    } else if (ready > 0) {
      int err = 0;
      socklen_t len = sizeof(err);
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0) {
        rc = err ? -1 : 0;
        errno = err;
      }
    }
  }
  if (rc < 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

// Resets what belongs to one byte stream, for a fresh socket.
void reset_stream(http_t* http) {
  http->used = 0;
  http->discard_line = 0;
  http->body_open = 0;
  http->until_close = 0;
  http->chunk_phase = HTTP_CHUNK_SIZE;
  http->header_lines = 0;
  http->got_status = 0;
  http->peer_closes = 0;
  http->state = HTTP_WAITING;
  http->status = HTTP_CONTINUE;
  http->data_encoding = HTTP_ENCODE_LENGTH;
  http->data_remaining = 0;
}

// Upgrades a plain client connection to TLS in place: OPTIONS * with
// "Connection: Upgrade", a 101 answer, the handshake, then the answer to the
// OPTIONS request itself over TLS. The caller's fields survive.
int upgrade(http_t* http) {
  // No use asking the server to switch when the session cannot be started.
  if (!tls_library()) return tls_unavailable(http);
  if (http->fd < 0 || http->peer_closes || http->status == HTTP_ERROR || http->status >= 400) {
    return httpReconnect(http);  // reconnecting upgrades the new connection
  }
  std::vector<char> saved(sizeof(http->fields));
  std::memcpy(saved.data(), http->fields, saved.size());
  int blocking = http->blocking;
  http->blocking = 1;

  httpClearFields(http);
  httpSetField(http, HTTP_FIELD_CONNECTION, "Upgrade");
  httpSetField(http, HTTP_FIELD_UPGRADE, "TLS/1.0,HTTP/1.1");
  int result = -1;
  if (httpOptions(http, "*") == 0) {
    http_status_t st;
    while ((st = httpUpdate(http)) == HTTP_CONTINUE) {
    }
    if (st == HTTP_SWITCHING_PROTOCOLS) {
      if (start_client_tls(http) == 0) {
        httpClearFields(http);
        http->state = HTTP_OPTIONS;
        http->status = HTTP_CONTINUE;
        http->got_status = 0;
        while ((st = httpUpdate(http)) == HTTP_CONTINUE) {
        }
        if (st >= 200 && st < 300) {
          httpFlush(http);
          result = 0;
        } else if (st != HTTP_ERROR) {
          http->error = EPROTO;
        }
      }
    } else if (st != HTTP_ERROR) {
      httpFlush(http);
      http->error = EPROTO;  // the server would not switch to TLS
    }
  }

  std::memcpy(http->fields, saved.data(), saved.size());
  http->blocking = blocking;
  http->state = HTTP_WAITING;
  if (result < 0) errno = http->error;
  return result;
}

}  // namespace

int open_socket(http_t* http) {
  h_errno = 0;
  std::string_view host = http->hostname;
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  std::string name(host);
  std::string port = std::to_string(http->port);

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc = ::getaddrinfo(name.c_str(), port.c_str(), &hints, &list);
  if (rc != 0) {
    h_errno = lookup_error(rc);
    http->error = errno = ENXIO;
    return -1;
  }
  int fd = -1;
  int err = ECONNREFUSED;
  const addrinfo* used = nullptr;
  for (const addrinfo* ai = list; ai && fd < 0; ai = ai->ai_next) {
    fd = connect_one(ai, wait_limit(http));
    if (fd < 0) {
      err = errno;
    } else {
      used = ai;
    }
  }
  if (fd < 0) {
    ::freeaddrinfo(list);
    http->error = errno = err;
    return -1;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  http->hostaddr = http_addr_t{};
  std::memcpy(&http->hostaddr, used->ai_addr, std::min<size_t>(used->ai_addrlen, sizeof(http->hostaddr)));
  ::freeaddrinfo(list);

  http->fd = fd;
  http->activity = time(nullptr);
  reset_stream(http);
  return 0;
}

int apply_encryption(http_t* http) {
  if (http->encryption == HTTP_ENCRYPT_ALWAYS) return start_client_tls(http);
  if (http->encryption == HTTP_ENCRYPT_REQUIRED) return upgrade(http);
  return 0;
}

}  // namespace vorn::http

using namespace vorn::http;

http_t* httpConnect(const char* host, int port) {
  return httpConnectEncrypt(host, port, HTTP_ENCRYPT_IF_REQUESTED);
}

http_t* httpConnectEncrypt(const char* host, int port, http_encryption_t encryption) {
  h_errno = 0;
  if (!host || !*host || port <= 0 || port > 65535) {
    errno = EINVAL;
    return nullptr;
  }
  auto http = std::make_unique<http_t>();
  vorn::strlcpy(http->hostname, host, sizeof(http->hostname));
  http->port = port;
  http->encryption = encryption;
  if (open_socket(http.get()) < 0) return nullptr;
  if (apply_encryption(http.get()) < 0) {
    int err = http->error;
    httpCloseSocket(http.get());
    errno = err;
    return nullptr;
  }
  return http.release();
}

int httpReconnect(http_t* http) {
  if (!http || http->server) {
    errno = EINVAL;
    return -1;
  }
  httpCloseSocket(http);
  if (open_socket(http) < 0) return -1;
  if (apply_encryption(http) < 0) {
    int err = http->error;
    httpCloseSocket(http);
    http->error = errno = err;
    return -1;
  }
  return 0;
}

void httpCloseSocket(http_t* http) {
  if (!http) return;
  // A session exists only once the table was loaded.
  const vorn::http::tls_api* t = (http->tls || http->tls_ctx) ? tls_library() : nullptr;
  if (http->tls) {
    if (t) {
      t->SSL_shutdown(http->tls);  // one close_notify, no waiting for the peer's
      t->SSL_free(http->tls);
      t->ERR_clear_error();
    }
    http->tls = nullptr;
  }
  if (http->tls_ctx) {
    if (t) t->SSL_CTX_free(http->tls_ctx);
    http->tls_ctx = nullptr;
  }
  if (http->fd >= 0) ::close(http->fd);
  http->fd = -1;
  http->used = 0;
  http->discard_line = 0;
  http->body_open = 0;
}

void httpClose(http_t* http) {
  if (!http) return;
  httpCloseSocket(http);
  delete http;
}

int httpEncryption(http_t* http, http_encryption_t e) {
  if (!http) return -1;
  http->encryption = e;
  if (http->server || http->fd < 0) return 0;
  if ((e == HTTP_ENCRYPT_ALWAYS && !http->tls) || (e == HTTP_ENCRYPT_NEVER && http->tls)) {
    return httpReconnect(http);
  }
  if (e == HTTP_ENCRYPT_REQUIRED && !http->tls) return upgrade(http);
  return 0;
}

void httpInitServer(http_t* http, int fd, const sockaddr* peer, socklen_t peer_len) {
  *http = http_t{};
  http->fd = fd;
  http->server = 1;
  http->blocking = 0;
  http->timeout = 30000;
  http->version = HTTP_1_0;
  http->activity = time(nullptr);
  if (fd >= 0) {
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  }
  if (peer && peer_len > 0) {
    std::memcpy(&http->hostaddr, peer, std::min<size_t>(peer_len, sizeof(http->hostaddr)));
    const void* addr = nullptr;
    if (http->hostaddr.addr.sa_family == AF_INET) addr = &http->hostaddr.ipv4.sin_addr;
    if (http->hostaddr.addr.sa_family == AF_INET6) addr = &http->hostaddr.ipv6.sin6_addr;
    if (!addr || !::inet_ntop(http->hostaddr.addr.sa_family, addr, http->hostname, sizeof(http->hostname))) {
      http->hostname[0] = '\0';
    }
  }
}

http_t* httpAcceptConnection(int listen_fd, int blocking) {
  http_addr_t peer{};
  socklen_t len = sizeof(peer);
  int fd;
  do fd = ::accept4(listen_fd, &peer.addr, &len, SOCK_CLOEXEC); while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  auto* http = new http_t;
  httpInitServer(http, fd, &peer.addr, len);
  http->blocking = blocking;
  return http;
}
