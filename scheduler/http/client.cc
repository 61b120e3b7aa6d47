// The client table: accepting, encrypting and closing connections.
#include "scheduler/http/client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include "scheduler/http/client-private.h"
#include "scheduler/conf/conf.h"
#include "scheduler/fdset.h"
#include "scheduler/http/listeners.h"
#include "scheduler/log.h"
#include "scheduler/loop.h"
#include "scheduler/http/tls.h"
#include "vorn/strings.h"

std::vector<std::unique_ptr<client_t>> Clients;

namespace {

constexpr int kDosMessageInterval = 60;  // seconds between "Possible DoS attack" lines
time_t LastDosMessage = 0;

bool same_address(const http_addr_t& a, const http_addr_t& b) {
  if (a.addr.sa_family != b.addr.sa_family) return false;
  if (a.addr.sa_family == AF_INET)
    return a.ipv4.sin_port == b.ipv4.sin_port && a.ipv4.sin_addr.s_addr == b.ipv4.sin_addr.s_addr;
  if (a.addr.sa_family == AF_INET6)
    return a.ipv6.sin6_port == b.ipv6.sin6_port &&
           std::memcmp(&a.ipv6.sin6_addr, &b.ipv6.sin6_addr, sizeof(in6_addr)) == 0;
  return false;
}

bool is_loopback(const http_addr_t& a) {
  if (a.addr.sa_family == AF_INET) return ntohl(a.ipv4.sin_addr.s_addr) == INADDR_LOOPBACK;
  if (a.addr.sa_family == AF_INET6) return IN6_IS_ADDR_LOOPBACK(&a.ipv6.sin6_addr);
  return false;
}

bool is_own_address(const http_addr_t& a) {
  if (a.addr.sa_family != OwnAddress.addr.sa_family) return false;
  if (a.addr.sa_family == AF_INET)
    return a.ipv4.sin_addr.s_addr == OwnAddress.ipv4.sin_addr.s_addr &&
           OwnAddress.ipv4.sin_addr.s_addr != 0;
  return std::memcmp(&a.ipv6.sin6_addr, &OwnAddress.ipv6.sin6_addr, sizeof(in6_addr)) == 0;
}

// Whether `h` lists the peer's address.
bool lists_address(const hostent* h, const http_addr_t& a) {
  if (!h || h->h_addrtype != a.addr.sa_family) return false;
  const void* mine = a.addr.sa_family == AF_INET ? static_cast<const void*>(&a.ipv4.sin_addr)
                                                 : static_cast<const void*>(&a.ipv6.sin6_addr);
  size_t length = a.addr.sa_family == AF_INET ? sizeof(in_addr) : sizeof(in6_addr);
  if (size_t(h->h_length) != length) return false;
  for (char** p = h->h_addr_list; p && *p; p++)
    if (std::memcmp(*p, mine, length) == 0) return true;
  return false;
}

// Names the peer: "localhost", ServerName for our own address, else with
// HostNameLookups the reverse name, else the numeric address. False when
// double lookups refuse the connection (the reverse name is missing or does
// not resolve back to the peer).
bool set_host_name(client_t* con) {
  http_t& http = con->http;
  if (is_loopback(http.hostaddr)) {
    vorn::strlcpy(http.hostname, "localhost", sizeof(http.hostname));
    return true;
  }
  if (is_own_address(http.hostaddr)) {
    vorn::strlcpy(http.hostname, ServerName, sizeof(http.hostname));
    return true;
  }
  if (HostNameLookups == HOSTNAME_OFF) return true;
  char name[HTTP_MAX_HOST];
  socklen_t length = http.hostaddr.addr.sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (::getnameinfo(&http.hostaddr.addr, length, name, sizeof(name), nullptr, 0, NI_NAMEREQD) != 0) {
    if (HostNameLookups == HOSTNAME_DOUBLE) {
      LogDiagnostic(L_WARN, "Name lookup failed - connection from %s closed!", http.hostname);
      return false;
    }
    return true;  // the numeric address stays
  }
  vorn::strlcpy(http.hostname, name, sizeof(http.hostname));
  if (HostNameLookups == HOSTNAME_DOUBLE && !lists_address(httpGetHostByName(name), http.hostaddr)) {
    LogDiagnostic(L_WARN, "IP lookup failed - connection from %s closed!", http.hostname);
    return false;
  }
  return true;
}

}  // namespace

void shutdown_tls(client_t* con) {
  con->handshake.reset();  // never completed: nothing to shut down
  if (!con->http.tls) return;
  vorn::tls_ptr tls(con->http.tls);  // taken from the connection, freed on return
  con->http.tls = nullptr;
  ERR_clear_error();
  int r = SSL_shutdown(tls.get());
  if (r < 0) {
    LogDiagnostic(L_ERROR, "CloseClient: Fatal error during SSL shutdown!");
    ERR_clear_error();
  } else if (r == 1) {
    LogDiagnostic(L_INFO, "CloseClient: SSL shutdown successful!");
  } else {
    LogTLSErrors(L_ERROR, "CloseClient");
  }
}

int continue_handshake(client_t* con) {
  ERR_clear_error();
  int r = SSL_accept(con->handshake.get());
  int fd = con->http.fd;
  if (r == 1) {
    httpAttachTLS(&con->http, con->handshake.release());
    OutputSet.clear(fd);
    LogDiagnostic(L_DEBUG, "EncryptClient() %d Connection now encrypted.", fd);
    return 1;
  }
  switch (SSL_get_error(con->handshake.get(), r)) {
    case SSL_ERROR_WANT_READ:
      OutputSet.clear(fd);
      return 1;
    case SSL_ERROR_WANT_WRITE:
      OutputSet.set(fd);
      return 1;
    default:
      LogTLSErrors(L_ERROR, "EncryptClient");
      con->handshake.reset();
      OutputSet.clear(fd);
      return 0;
  }
}

void AllocateClients(int max_clients) {
  FreeClients();
  Clients.reserve(size_t(max_clients > 0 ? max_clients : 0));
}

void FreeClients() {
  CloseAllClients();
  // The type database is reloaded while the clients are gone.
  ForgetFileCache();
  Clients.clear();
  Clients.shrink_to_fit();
}

void AcceptClient(listener_t* lis) {
  LogDiagnostic(L_DEBUG2, "AcceptClient(%p) %d NumClients = %d", static_cast<void*>(lis),
                lis->fd.get(), int(Clients.size()));
  if (int(Clients.size()) >= MaxClients) return;

  sockaddr_storage peer{};
  socklen_t peer_len = sizeof(peer);
  int fd = ::accept4(lis->fd.get(), reinterpret_cast<sockaddr*>(&peer), &peer_len,
                     SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) {
    // A peer that gave up between select() and accept() is no error.
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED && errno != EINTR)
      LogDiagnostic(L_ERROR, "Unable to accept client connection - %s.", std::strerror(errno));
    return;
  }
  auto con = std::make_unique<client_t>();
  httpInitServer(&con->http, fd, reinterpret_cast<sockaddr*>(&peer), peer_len);

  // Later parts see the local port the client connected to.
  int port = sock_addr_port(lis->address);
  if (con->http.hostaddr.addr.sa_family == AF_INET6)
    con->http.hostaddr.ipv6.sin6_port = htons(uint16_t(port));
  else
    con->http.hostaddr.ipv4.sin_port = htons(uint16_t(port));

  int same = 0;
  const client_t* last = nullptr;
  for (const auto& other : Clients) {
    if (same >= MaxClientsPerHost) break;
    if (same_address(other->http.hostaddr, con->http.hostaddr)) {
      same++;
      last = other.get();
    }
  }
  if (same >= MaxClientsPerHost && last) {
    httpCloseSocket(&con->http);
    time_t now = ::time(nullptr);
    if (now - LastDosMessage >= kDosMessageInterval) {
      LogDiagnostic(L_WARN, "Possible DoS attack - more than %d clients connecting from %s!",
                    MaxClientsPerHost, last->http.hostname);
      LastDosMessage = now;
    }
    return;
  }

  if (!set_host_name(con.get())) {
    httpCloseSocket(&con->http);
    return;
  }
  LogDiagnostic(L_DEBUG, "AcceptClient() %d from %s:%d.", fd, con->http.hostname, port);
  LogDiagnostic(L_DEBUG2, "AcceptClient: Adding fd %d to InputSet...", fd);
  InputSet.set(fd);

  client_t* added = con.get();
  Clients.push_back(std::move(con));
  if (int(Clients.size()) == MaxClients) PauseListening();

  if (lis->encryption == HTTP_ENCRYPT_ALWAYS) {
    added->http.encryption = HTTP_ENCRYPT_ALWAYS;
    if (!EncryptClient(added)) CloseClient(added);
  }
}

void CloseClient(client_t* con) {
  int fd = con->http.fd;
  LogDiagnostic(L_DEBUG, "CloseClient() %d", fd);
  shutdown_tls(con);
  LogDiagnostic(L_DEBUG2, "CloseClient: Removing fd %d from InputSet and OutputSet...", fd);
  InputSet.clear(fd);
  OutputSet.clear(fd);
  httpCloseSocket(&con->http);

  if (con->cgi_pid > 0) {
    // An abandoned CGI program is of no more use. The number is still our
    // child's: it is cleared when the child is reaped, and reaping is left
    // to the reaper, which also deletes the program's certificate.
    LogDiagnostic(L_DEBUG, "CloseClient: %d sending SIGKILL to CGI program %d.", fd, int(con->cgi_pid));
    ::kill(con->cgi_pid, SIGKILL);
    con->cgi_pid = 0;
  } else if (con->cgi_output) {
    LogDiagnostic(L_DEBUG, "CloseClient: %d CGI program already ended, no signal sent.", fd);
  }
  con->cgi_output = false;
  if (con->file) {
    int file = con->file.get();
    LogDiagnostic(L_DEBUG2, "CloseClient: %d Closing data file %d.", fd, file);
    LogDiagnostic(L_DEBUG2, "CloseClient: %d Removing fd %d from InputSet.", fd, file);
    InputSet.clear(file);
    con->file.reset();
  }
  // A request file still named here belongs to a request that never
  // completed (a finished one is removed or taken over by then).
  remove_request_file(con);

  // While a reload waits for the clients to go, listening stays paused.
  bool was_full = int(Clients.size()) >= MaxClients;
  for (auto it = Clients.begin(); it != Clients.end(); ++it) {
    if (it->get() == con) {
      Clients.erase(it);
      break;
    }
  }
  if (was_full && !ReloadPending) ResumeListening();
}

void CloseAllClients() {
  while (!Clients.empty()) CloseClient(Clients.back().get());
}

int EncryptClient(client_t* con) {
  if (!ServerContext) {
    LogDiagnostic(L_ERROR, "EncryptClient: no server certificate and key are loaded.");
    return 0;
  }
  ERR_clear_error();
  vorn::tls_ptr ssl(SSL_new(ServerContext));
  if (!ssl || SSL_set_fd(ssl.get(), con->http.fd) != 1) {
    LogTLSErrors(L_ERROR, "EncryptClient");
    return 0;
  }
  // Bytes read before the handshake must not pass as protected data.
  con->http.used = 0;
  con->handshake = std::move(ssl);
  return continue_handshake(con);
}

bool ClientHasBufferedInput(const client_t* con) {
  if (con->input_stalled || con->handshake || con->closing || !con->output.empty()) return false;
  if (con->http.state == HTTP_GET_SEND || con->http.state == HTTP_POST_SEND) return false;
  return con->http.used > 0 || (con->http.tls && SSL_pending(con->http.tls) > 0);
}

bool ClientIsIdle(const client_t* con) {
  return con->http.state == HTTP_WAITING && con->output.empty() && !con->closing && !con->handshake &&
         !con->tls_after_output;
}
