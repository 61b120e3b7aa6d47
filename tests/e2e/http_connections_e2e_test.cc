// The life of a client connection in a real vornd: an answer that says
// "Connection: close" is followed by the close, a client that leaves or
// falls silent frees its slot and descriptor in every state, a client that
// stops reading holds up nobody else, and a reload is not held off by a
// client that trickles its request.
#include <dirent.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

namespace {

using namespace e2e;
using Clock = std::chrono::steady_clock;

// What the server sent until it closed the connection.
struct Received {
  std::string bytes;
  bool closed = false;  // orderly end or reset
  bool reset = false;
  milliseconds took{0};
};

// Reads until the server closes or `timeout` passes.
Received read_to_end(int fd, milliseconds timeout) {
  Received r;
  auto start = Clock::now(), deadline = start + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, int(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buf[4096];
    ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
    if (n > 0) {
      r.bytes.append(buf, size_t(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    r.closed = true;
    r.reset = n < 0;
    break;
  }
  r.took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
  return r;
}

int status_of(const std::string& bytes) {
  return bytes.size() >= 12 && bytes.compare(0, 5, "HTTP/") == 0 ? std::atoi(bytes.c_str() + 9) : 0;
}

// The descriptors a process holds.
int descriptors_of(pid_t pid) {
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* d = ::opendir(dir.c_str());
  if (!d) return -1;
  int n = 0;
  while (dirent* e = ::readdir(d))
    if (e->d_name[0] != '.') n++;
  ::closedir(d);
  return n;
}

// A socket whose sends give up after `timeout` instead of blocking the test
// when the server stops reading.
void limit_sends(int fd, std::chrono::seconds timeout) {
  timeval tv{timeout.count(), 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
}

// An IPP body that is no IPP message: an attribute name longer than the body.
const std::string kBadIpp = "\x01\x01\x00\x0a\x00\x00\x00\x01\x01\x47\xff\xff";

std::string bad_ipp_post(std::string_view connection, size_t length, std::string_view body) {
  return "POST /printers/lab HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/ipp\r\n" +
         std::string(connection) + "Content-Length: " + std::to_string(length) + "\r\n\r\n" + std::string(body);
}

class Connections : public ::testing::Test {
 protected:
  void Start(const std::string& extra = "") {
    ASSERT_TRUE(root_.InstallDataFile("vorn.types"));
    ASSERT_TRUE(WriteFile(root_.file("doc/notes.txt"), "plain notes\n"));
    root_.WriteConfig(extra);
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
  }
  std::string get_notes() { return "GET /notes.txt HTTP/1.1\r\nHost: localhost\r\n\r\n"; }

  ServerRoot root_;
  Vornd vornd_{root_};
};

// Each answer says it closes, and the client reading to the end gets the
// whole answer and then the end at once, not after a time-out.
TEST_F(Connections, AnAnswerThatSaysCloseIsFollowedByTheEnd) {
  Start();
  const std::string garbage_tail(2 * 1024 * 1024, '\x07');
  const struct {
    const char* name;
    std::string request;
    int status;
    bool half_close;  // the client shuts its sending side after the request
  } cases[] = {
      {"malformed IPP body, Connection: close", bad_ipp_post("Connection: close\r\n", kBadIpp.size(), kBadIpp), 400,
       false},
      {"malformed IPP body, kept alive", bad_ipp_post("", kBadIpp.size(), kBadIpp), 400, false},
      {"malformed IPP body, client half-closes", bad_ipp_post("", kBadIpp.size(), kBadIpp), 400, true},
      // The rest of a long body still arrives after the answer: it is read
      // and dropped, so the client gets the answer instead of a reset.
      {"malformed IPP body with 2 MB still to come",
       bad_ipp_post("", kBadIpp.size() + garbage_tail.size(), kBadIpp + garbage_tail), 400, false},
      {"bad request line", "BLAH\r\n", 400, false},
      {"unknown method", "FETCH / HTTP/1.1\r\nHost: localhost\r\n\r\n", 400, false},
      {"HTTP/2", "GET / HTTP/2.0\r\nHost: localhost\r\n\r\n", 505, false},
      {"bad header line", "GET /notes.txt HTTP/1.1\r\nHost: localhost\r\nno colon\r\n\r\n", 400, false},
      {"HTTP/1.0 GET", "GET /notes.txt HTTP/1.0\r\n\r\n", 200, false},
      {"GET with Connection: close", "GET /notes.txt HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n", 200,
       false},
      {"HEAD with Connection: close", "HEAD /notes.txt HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n", 200,
       false},
      {"OPTIONS over HTTP/1.0", "OPTIONS * HTTP/1.0\r\n\r\n", 200, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int fd = ConnectTo(root_.port());
    ASSERT_GE(fd, 0);
    limit_sends(fd, std::chrono::seconds(20));
    EXPECT_TRUE(SendAll(fd, c.request));
    if (c.half_close) ::shutdown(fd, SHUT_WR);
    Received r = read_to_end(fd, 10s);
    ::close(fd);
    EXPECT_EQ(status_of(r.bytes), c.status) << r.bytes.substr(0, 200);
    EXPECT_TRUE(r.closed) << "no end after the answer";
    EXPECT_FALSE(r.reset) << "reset instead of an orderly end";
    // The end comes at the latest when the drain time (3 s) runs out, seen
    // by the once-a-second loop: room for a loaded sanitized build, far
    // below the Timeout a stuck connection would wait for.
    EXPECT_LT(r.took, 8s);
  }
  EXPECT_TRUE(root_.WaitForLog("IPP Read Error!"));
}

// Clients that close after reading their 400 leave no slot behind: more of
// them than MaxClients in a row, and the next request is answered at once.
TEST_F(Connections, RefusedClientsThatLeaveFreeTheirSlots) {
  Start("MaxClients 50\n");
  for (int i = 0; i < 200; i++) {
    RawHttp client(root_.port());
    ASSERT_TRUE(client.connected()) << i;
    RawHttp::Response r = client.Exchange(bad_ipp_post("Connection: close\r\n", kBadIpp.size(), kBadIpp), 5s);
    ASSERT_EQ(r.status, 400) << "request " << i << ": " << r.head;
  }
  auto start = Clock::now();
  RawHttp client(root_.port());
  RawHttp::Response r = client.Exchange(get_notes(), 5s);
  EXPECT_EQ(r.body, "plain notes\n");
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_EQ(root_.ErrorLog().find("Max clients reached"), std::string::npos);
}

// With Timeout 2, a client that goes silent in any state loses its
// connection and the scheduler its descriptor, well before the 30 seconds
// an old hold-off allowed.
TEST_F(Connections, SilentClientsInEveryStateAreReleasedAfterTimeout) {
  Start("Timeout 2\n");
  std::string big(16 * 1024 * 1024, 'b');
  ASSERT_TRUE(WriteFile(root_.file("doc/big.txt"), big));
  // The count without clients: the harness's start-up probe and this
  // closing request have gone by then.
  {
    int fd = ConnectTo(root_.port());
    ASSERT_TRUE(SendAll(fd, "GET /notes.txt HTTP/1.0\r\n\r\n"));
    EXPECT_TRUE(read_to_end(fd, 5s).closed);
    ::close(fd);
    std::this_thread::sleep_for(300ms);
  }
  const int baseline = descriptors_of(vornd_.pid());
  ASSERT_GT(baseline, 0);

  const struct {
    const char* state;
    std::string sent;
    // Whether the client can see the end: behind a client that does not
    // read, the kernel still holds megabytes it trickles out through the
    // small window long after the scheduler closed its descriptor.
    bool sees_end;
  } cases[] = {
      {"idle", "", true},
      {"request line", "GET /notes.txt HT", true},
      {"header lines", "GET /notes.txt HTTP/1.1\r\nHost: local", true},
      {"body", bad_ipp_post("", 1000, kBadIpp.substr(0, 5)), true},
      {"answered 400, client stays", bad_ipp_post("", kBadIpp.size(), kBadIpp), true},
      {"answered and kept alive", get_notes(), true},
      {"writing to a client that does not read", "GET /big.txt HTTP/1.1\r\nHost: localhost\r\n\r\n", false},
  };
  std::vector<int> fds;
  for (const auto& c : cases) {
    int fd = ConnectTo(root_.port());
    ASSERT_GE(fd, 0) << c.state;
    int small = 4096;  // the 16 MB file stays mostly in the scheduler
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
    EXPECT_TRUE(SendAll(fd, c.sent)) << c.state;
    fds.push_back(fd);
  }
  EXPECT_TRUE(WaitUntil([&] { return descriptors_of(vornd_.pid()) >= baseline + int(fds.size()); }, 5s))
      << "the clients were not all accepted";
  auto start = Clock::now();
  EXPECT_TRUE(WaitUntil([&] { return descriptors_of(vornd_.pid()) <= baseline; }, 15s))
      << descriptors_of(vornd_.pid()) << " descriptors, " << baseline << " before the clients";
  EXPECT_LT(Clock::now() - start, 15s);
  for (size_t i = 0; i < fds.size(); i++) {
    // What the scheduler had sent before it closed comes first.
    if (cases[i].sees_end) {
      EXPECT_TRUE(read_to_end(fds[i], 10s).closed) << cases[i].state;
    }
    ::close(fds[i]);
  }
  // And the service goes on.
  RawHttp client(root_.port());
  EXPECT_EQ(client.Exchange(get_notes(), 5s).body, "plain notes\n");
}

// Clients that send requests and never read the answers (50 pipelining
// HEAD requests, or a few fetching a file much larger than the socket
// buffers); another client is still answered at once, every time.
TEST_F(Connections, ClientsThatDoNotReadHoldUpOnlyThemselves) {
  Start("MaxClients 100\nMaxClientsPerHost 100\n");
  ASSERT_TRUE(WriteFile(root_.file("doc/big.txt"), std::string(32 * 1024 * 1024, 'b')));
  auto heads = [](int count) {
    std::string text;
    for (int i = 0; i < count; i++) text += "HEAD /notes.txt HTTP/1.1\r\nHost: localhost\r\n\r\n";
    return text;
  };
  const struct {
    const char* name;
    int clients;
    std::string pipeline;
  } cases[] = {
      {"pipelined HEAD requests", 50, heads(2000)},
      // Answers of more than the scheduler's socket buffer takes.
      {"many pipelined HEAD requests", 3, heads(60000)},
      {"a large file", 3, "GET /big.txt HTTP/1.1\r\nHost: localhost\r\n\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int> stuck;
    for (int i = 0; i < c.clients; i++) {
      int fd = ConnectTo(root_.port());
      ASSERT_GE(fd, 0) << i;
      int small = 4096;
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
      // As much of the pipeline as the scheduler takes in a second.
      size_t sent = 0;
      auto until = Clock::now() + 1s;
      while (sent < c.pipeline.size() && Clock::now() < until) {
        ssize_t n = ::send(fd, c.pipeline.data() + sent, c.pipeline.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
          sent += size_t(n);
          continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 20);
      }
      stuck.push_back(fd);
    }
    std::this_thread::sleep_for(500ms);  // the scheduler has filled their sockets
    for (int i = 0; i < 5; i++) {
      SCOPED_TRACE(i);
      auto start = Clock::now();
      RawHttp client(root_.port());
      RawHttp::Response r = client.Exchange(get_notes(), 5s);
      EXPECT_EQ(r.body, "plain notes\n");
      EXPECT_LT(Clock::now() - start, 1s);
    }
    for (int fd : stuck) ::close(fd);
  }
}

// A client that trickles a body one byte a second would keep the reload
// waiting, and listening paused, for good: the wait is bounded, then such
// clients are closed and the reload goes on.
TEST_F(Connections, ATricklingClientDoesNotHoldOffAReload) {
  Start();
  std::this_thread::sleep_for(300ms);  // the harness's start-up probe goes
  const int baseline = descriptors_of(vornd_.pid());
  int trickler = ConnectTo(root_.port());
  ASSERT_GE(trickler, 0);
  limit_sends(trickler, std::chrono::seconds(5));
  ASSERT_TRUE(SendAll(trickler, "POST /printers/lab HTTP/1.1\r\nHost: localhost\r\nContent-Type: "
                                "application/ipp\r\nContent-Length: 1000\r\n\r\n\x01"));
  std::atomic<bool> stop{false};
  std::thread trickle([&] {
    for (int i = 0; i < 60 && !stop; i++) {
      std::this_thread::sleep_for(1s);
      if (::send(trickler, "\x01", 1, MSG_NOSIGNAL) != 1) break;
    }
  });

  ASSERT_TRUE(WaitUntil([&] { return descriptors_of(vornd_.pid()) > baseline; })) << "not accepted";
  ASSERT_EQ(vornd_.Signal(SIGHUP), 0);
  auto start = Clock::now();
  // From here on listening is paused until the reload.
  ASSERT_TRUE(root_.WaitForLog("Reload waits at most"));
  // Connections made while the reload waits are lost with the old listener:
  // a client tries again, as clients do.
  bool answered = false;
  for (int attempt = 0; attempt < 100 && !answered && Clock::now() - start < 20s; attempt++) {
    RawHttp client(root_.port());
    if (client.connected()) answered = client.Exchange(get_notes(), 2s).body == "plain notes\n";
    if (!answered) std::this_thread::sleep_for(100ms);
  }
  auto took = Clock::now() - start;
  EXPECT_TRUE(answered);
  EXPECT_LT(took, 15s) << "the reload waited for the trickling client";
  EXPECT_TRUE(PeerClosed(trickler, 5s)) << "the trickling client was not closed";
  EXPECT_TRUE(root_.WaitForLog("still busy after"));
  EXPECT_TRUE(root_.WaitForLog("Full reload complete."));
  stop = true;
  trickle.join();
  ::close(trickler);
}

}  // namespace
