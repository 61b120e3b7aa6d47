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

// "StartListening: <what> - <error>.", then the exit with errno.
[[noreturn]] void listen_failed(const char* what) {
  int e = errno;
  LogDiagnostic(L_ERROR, "StartListening: %s - %s.", what, std::strerror(e));
  std::exit(e);
}

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

}  // namespace

void StartListening() {
  LogDiagnostic(L_DEBUG, "StartListening: NumListeners=%d", int(Listeners.size()));
  resolve_own_address();
  for (listener_t& lis : Listeners) {
    const sock_addr_t& a = lis.address;
    if (a.addr.sa_family == AF_INET6)
      LogDiagnostic(L_DEBUG, "StartListening: address=[%s] port=%d", sock_addr_text(a).c_str(),
                    sock_addr_port(a));
    else
      LogDiagnostic(L_DEBUG, "StartListening: address=%08x port=%d", unsigned(sock_addr_ipv4(a)),
                    sock_addr_port(a));
    // Non-blocking, so that accept() never waits for a peer that went away
    // between select() and accept().
    lis.fd.reset(::socket(a.addr.sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!lis.fd) listen_failed("Unable to open listen socket");
    int on = 1;
    ::setsockopt(lis.fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    // An IPv6 listener takes only IPv6, so "[::]" and "0.0.0.0" can coexist.
    if (a.addr.sa_family == AF_INET6)
      ::setsockopt(lis.fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof(on));
    if (::bind(lis.fd.get(), &a.addr, sock_addr_length(a)) != 0)
      listen_failed("Unable to bind socket");
    if (::listen(lis.fd.get(), ListenBackLog) != 0)
      listen_failed("Unable to listen for clients");
  }
  ResumeListening();
}

void StopListening() {
  LogDiagnostic(L_DEBUG, "StopListening: closing all listen sockets.");
  PauseListening();
  for (listener_t& lis : Listeners) lis.fd.reset();
}

bool ListeningPaused() {
  return Listeners.empty() || !Listeners.front().fd || !InputSet.isset(Listeners.front().fd.get());
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
  if (Listeners.empty() || !Listeners.front().fd || InputSet.isset(Listeners.front().fd.get()))
    return;
  if (int(Clients.size()) >= MaxClients - 1)
    LogDiagnostic(L_WARN, "Resuming new connection processing...");
  LogDiagnostic(L_DEBUG, "ResumeListening: setting input bits...");
  for (listener_t& lis : Listeners) {
    if (!lis.fd) continue;
    LogDiagnostic(L_DEBUG2, "ResumeListening: Adding fd %d to InputSet...", lis.fd.get());
    InputSet.set(lis.fd.get());
  }
}
