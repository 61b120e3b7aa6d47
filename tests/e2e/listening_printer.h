// A network printer for the end-to-end tests: listens on 127.0.0.1, takes
// one connection and keeps what it receives (at most 60 seconds); when the
// peer half-closes it sends `answer` back (what a printer says when done).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "vorn/fd.h"

namespace e2e {

class ListeningPrinter {
 public:
  explicit ListeningPrinter(std::string answer = "") : answer_(std::move(answer)) {
    fd_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (!fd_ || ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(fd_.get(), 4) != 0 || ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      return;
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ListeningPrinter() {
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return port_; }
  // What arrived, once the backend has closed the connection.
  std::string Received() {
    if (thread_.joinable()) thread_.join();
    return received_;
  }

 private:
  void Serve() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    pollfd p{fd_.get(), POLLIN, 0};
    if (::poll(&p, 1, 60000) != 1) return;
    vorn::unique_fd peer(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    char buffer[8192];
    while (peer && std::chrono::steady_clock::now() < deadline) {
      pollfd q{peer.get(), POLLIN, 0};
      if (::poll(&q, 1, 1000) < 0) return;
      if (q.revents == 0) continue;
      ssize_t got = vorn::read_retry(peer.get(), buffer, sizeof(buffer));
      if (got == 0 && !answer_.empty()) ::send(peer.get(), answer_.data(), answer_.size(), MSG_NOSIGNAL);
      if (got <= 0) return;
      received_.append(buffer, size_t(got));
    }
  }

  std::string answer_;
  vorn::unique_fd fd_;
  int port_ = 0;
  std::thread thread_;
  std::string received_;
};

}  // namespace e2e
