#include "scheduler/http/listeners.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include "scheduler/http/client.h"
#include "scheduler/conf/conf.h"
#include "scheduler/fdset.h"
#include "scheduler/log.h"

std::vector<listener_t> Listeners;
sock_addr_t OwnAddress{};

namespace {

void resolve_own_address() {
  OwnAddress = sock_addr_t{};
  OwnAddress.ipv4.sin_family = AF_INET;
  const hostent* he = httpGetHostByName(ServerName.c_str());
  if (!he) {
    LogDiagnostic(L_ERROR, "StartListening: Unable to find IP address for server name \"%s\" - %s\n",
                  ServerName.c_str(), httpHostErrorString(h_errno));
    return;
  }
  if (he->h_addrtype == AF_INET && he->h_length == sizeof(in_addr)) {
    std::memcpy(&OwnAddress.ipv4.sin_addr, he->h_addr_list[0], sizeof(in_addr));
  } else if (he->h_addrtype == AF_INET6 && he->h_length == sizeof(in6_addr)) {
    OwnAddress.ipv6.sin6_family = AF_INET6;
    std::memcpy(&OwnAddress.ipv6.sin6_addr, he->h_addr_list[0], sizeof(in6_addr));
  }
}

bool same_address(const sock_addr_t& a, const sock_addr_t& b) {
  if (a.addr.sa_family != b.addr.sa_family || sock_addr_port(a) != sock_addr_port(b)) return false;
  if (a.addr.sa_family == AF_INET6)
    return std::memcmp(&a.ipv6.sin6_addr, &b.ipv6.sin6_addr, sizeof(in6_addr)) == 0;
  return a.ipv4.sin_addr.s_addr == b.ipv4.sin_addr.s_addr;
}

// Opens, binds and listens on one socket; false with `error` filled.
bool open_listener(listener_t& lis, int backlog, listen_error_t& error) {
  const sock_addr_t& a = lis.address;
  if (a.addr.sa_family == AF_INET6)
    LogDiagnostic(L_DEBUG, "StartListening: address=[%s] port=%d", sock_addr_text(a).c_str(), sock_addr_port(a));
  else
    LogDiagnostic(L_DEBUG, "StartListening: address=%08x port=%d", unsigned(sock_addr_ipv4(a)), sock_addr_port(a));
  auto failed = [&](const char* what) {
    error = {what, errno, a};
    lis.fd.reset();
    return false;
  };
  // Non-blocking, so that accept() never waits for a peer that went away
  // between select() and accept().
  lis.fd.reset(::socket(a.addr.sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!lis.fd) return failed("Unable to open listen socket");
  int on = 1;
  ::setsockopt(lis.fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  // An IPv6 listener takes only IPv6, so "[::]" and "0.0.0.0" can coexist.
  if (a.addr.sa_family == AF_INET6) ::setsockopt(lis.fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof(on));
  if (::bind(lis.fd.get(), &a.addr, sock_addr_length(a)) != 0) return failed("Unable to bind socket");
  if (::listen(lis.fd.get(), backlog) != 0) return failed("Unable to listen for clients");
  return true;
}

}  // namespace

int OpenListeners(std::vector<listener_t>& wanted, std::vector<listener_t>& current, int backlog,
                  listen_error_t& error) {
  std::vector<std::pair<size_t, size_t>> taken;  // (wanted, current) indexes
  std::vector<size_t> opened, busy, released;

  for (size_t i = 0; i < wanted.size(); i++) {
    if (wanted[i].fd) continue;
    for (size_t j = 0; j < current.size(); j++) {
      if (!current[j].fd || !same_address(current[j].address, wanted[i].address)) continue;
      wanted[i].fd = std::move(current[j].fd);
      // The backlog may have changed; listen() again only sets it.
      ::listen(wanted[i].fd.get(), backlog);
      taken.emplace_back(i, j);
      break;
    }
  }

  auto give_back = [&] {
    for (size_t i : opened) wanted[i].fd.reset();
    for (auto [i, j] : taken) current[j].fd = std::move(wanted[i].fd);
    for (size_t j : released) {
      listen_error_t again;
      if (!open_listener(current[j], backlog, again))
        LogDiagnostic(L_ERROR, "StartListening: Unable to listen on %s again - %s.",
                      sock_addr_message(current[j].address).c_str(), std::strerror(again.error));
    }
    return -1;
  };

  for (size_t i = 0; i < wanted.size(); i++) {
    if (wanted[i].fd) continue;
    if (open_listener(wanted[i], backlog, error)) {
      opened.push_back(i);
    } else if (error.error == EADDRINUSE) {
      busy.push_back(i);
    } else {
      return give_back();
    }
  }
  if (busy.empty()) return 0;

  // Sockets of the old set that are not kept may hold those ports.
  for (size_t j = 0; j < current.size(); j++) {
    if (!current[j].fd) continue;
    InputSet.clear(current[j].fd.get());
    current[j].fd.reset();
    released.push_back(j);
  }
  for (size_t i : busy) {
    if (!open_listener(wanted[i], backlog, error)) return give_back();
    opened.push_back(i);
  }
  return 0;
}

void StartListening() {
  LogDiagnostic(L_DEBUG, "StartListening: NumListeners=%d", int(Listeners.size()));
  resolve_own_address();
  std::vector<listener_t> none;
  listen_error_t error;
  if (OpenListeners(Listeners, none, ListenBackLog, error) != 0) {
    LogDiagnostic(L_ERROR, "StartListening: %s - %s.", error.what, std::strerror(error.error));
    std::exit(error.error);
  }
  ResumeListening();
}

void StopListening() {
  LogDiagnostic(L_DEBUG, "StopListening: closing all listen sockets.");
  PauseListening();
  for (listener_t& lis : Listeners) lis.fd.reset();
}

namespace {

// The first listener with an open socket: it tells whether listening is
// paused. (A socket that could not be opened again after a refused reload
// leaves its entry closed.)
const listener_t* first_open() {
  for (const listener_t& lis : Listeners)
    if (lis.fd) return &lis;
  return nullptr;
}

}  // namespace

bool ListeningPaused() {
  const listener_t* first = first_open();
  return !first || !InputSet.isset(first->fd.get());
}

void PauseListening() {
  if (ListeningPaused()) return;
  if (int(Clients.size()) == MaxClients)
    LogDiagnostic(L_WARN, "Max clients reached, holding new connections...");
  LogDiagnostic(L_DEBUG, "PauseListening: clearing input bits...");
  for (listener_t& lis : Listeners) {
    if (!lis.fd) continue;
    LogDiagnostic(L_DEBUG2, "PauseListening: Removing fd %d from InputSet...", lis.fd.get());
    InputSet.clear(lis.fd.get());
  }
}

void ResumeListening() {
  const listener_t* first = first_open();
  if (!first || InputSet.isset(first->fd.get())) return;
  if (int(Clients.size()) >= MaxClients - 1)
    LogDiagnostic(L_WARN, "Resuming new connection processing...");
  LogDiagnostic(L_DEBUG, "ResumeListening: setting input bits...");
  for (listener_t& lis : Listeners) {
    if (!lis.fd) continue;
    LogDiagnostic(L_DEBUG2, "ResumeListening: Adding fd %d to InputSet...", lis.fd.get());
    InputSet.set(lis.fd.get());
  }
}
