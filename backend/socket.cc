// socket: prints to a network printer that takes raw data on a TCP port
// (AppSocket / JetDirect), one connection per copy.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "backend/backchannel.h"
#include "backend/backend-common.h"
#include "vorn/http.h"

using namespace vorn::backend;

namespace {

constexpr int kDefaultPort = 9100;
constexpr unsigned kBusyStep = 5;           // busy retries wait 5, 10, 15, ... seconds
constexpr int kFinishTimeoutMs = 90 * 1000;  // silence that ends the wait for the printer

void list_socket() {
  device_line("network socket \"Unknown\" \"AppSocket/HP JetDirect\"\n");
}

// The printer's address from the first address of the host record, in the
// record's own family (a host known only by an IPv6 address stays IPv6).
socklen_t printer_address(const hostent* h, int port, sockaddr_storage* out) {
  *out = sockaddr_storage{};
  if (h->h_addrtype == AF_INET6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(out);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(uint16_t(port));
    std::memcpy(&a->sin6_addr, h->h_addr_list[0], sizeof(a->sin6_addr));
    return sizeof(*a);
  }
  auto* a = reinterpret_cast<sockaddr_in*>(out);
  a->sin_family = AF_INET;
  a->sin_port = htons(uint16_t(port));
  std::memcpy(&a->sin_addr, h->h_addr_list[0], sizeof(a->sin_addr));
  return sizeof(*a);
}

// Connects, retrying for ever while the printer is busy or away. Returns the
// connected socket, or an invalid one when no socket can be created.
vorn::unique_fd connect_printer(const char* host, const sockaddr_storage& addr, socklen_t len) {
  unsigned delay = kBusyStep;
  for (;;) {
    vorn::unique_fd fd(::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
      status_error("ERROR: Unable to create socket");
      return fd;
    }
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), len) == 0) return fd;
    int error = errno;
    fd.reset();
    if (error == ECONNREFUSED || error == EHOSTDOWN || error == EHOSTUNREACH) {
      status_line("INFO: Network host '%s' is busy; will retry in %d seconds...\n", host, int(delay));
      sleep(delay);
      delay += kBusyStep;
    } else {
      errno = error;
      status_error("ERROR: Unable to connect to printer (retrying in 30 seconds)");
      sleep(kRetrySeconds);
    }
  }
}

// Receives what the printer has sent, waiting at most `timeout_ms`; reports
// it and returns the byte count (0 when nothing came or the peer finished).
ssize_t receive_backchannel(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  int ready;
  do {
    ready = poll(&p, 1, timeout_ms);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) return 0;
  char buffer[kBlockSize];
  ssize_t n;
  do {
    n = recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return 0;
  report_backchannel(std::string_view(buffer, size_t(n)));
  return n;
}

// Sends one block; a failure is reported and the rest dropped. Returns 0 or
// the errno of the failed send.
int send_block(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = send(fd, data, len, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int error = errno;
      status_error("ERROR: Unable to send print file to printer");
      return error;
    }
    data += n;
    len -= size_t(n);
  }
  return 0;
}

// One copy over a connected socket. Returns the number of blocks that were
// not sent in whole.
size_t send_copy_to(const BackendJob& job, int fd) {
  char buffer[kBlockSize];
  unsigned long sent = 0;
  size_t failed = 0;
  for (;;) {
    ssize_t n = vorn::read_retry(job.input, buffer, sizeof(buffer));
    if (n <= 0) break;
    sent += (unsigned long)n;
    int error = send_block(fd, buffer, size_t(n));
    if (error != 0) {
      failed++;
      // A connection the printer has closed or reset takes nothing more;
      // the remaining blocks would all fail the same way.
      if (error == EPIPE || error == ECONNRESET || error == ENOTCONN) return failed;
    }
    if (receive_backchannel(fd, 0) == 0 && job.from_file) {
      status_line("INFO: Sending print file, %lu bytes...\n", sent);
    }
  }
  status_line("INFO: Print file sent, waiting for printer to finish...\n");
  shutdown(fd, SHUT_WR);
  while (receive_backchannel(fd, kFinishTimeoutMs) > 0) {
  }
  return failed;
}

}  // namespace

int main(int argc, char* argv[]) {
  std::string usage = std::string("Usage: ") + (argv[0] ? argv[0] : "socket") +
                      " job-id user title copies options [file]\n";
  BackendJob job;
  int status = 0;
  if (!start_backend(argc, argv, usage, list_socket, &job, &status)) return status;

  char scheme[HTTP_MAX_SCHEME], user[HTTP_MAX_USER], host[HTTP_MAX_HOST], resource[HTTP_MAX_URI];
  int port = 0;
  if (!httpSeparate(job.uri.c_str(), scheme, user, host, &port, resource)) {
    status_line("ERROR: Bad device URI \"%s\"!\n", httpPublicURI(job.uri).c_str());
    return 1;
  }
  if (port == 0) port = kDefaultPort;

  const hostent* h = httpGetHostByName(host);
  if (!h) {
    status_line("ERROR: Unable to locate printer '%s' - %s\n", host, httpHostErrorString(h_errno));
    return 1;
  }
  status_line("INFO: Attempting to connect to host %s on port %d\n", host, port);
  sockaddr_storage addr;
  socklen_t addr_len = printer_address(h, port, &addr);

  size_t failed = 0;
  for (int copy = 0; copy < job.copies; copy++) {
    vorn::unique_fd fd = connect_printer(host, addr, addr_len);
    if (!fd) return 1;
    protect_stdin_job(job);
    begin_copy(job);
    status_line("INFO: Connected to host, sending print job...\n");
    failed += send_copy_to(job, fd.get());
  }
  job.file.reset();
  return finish_job(failed);
}
