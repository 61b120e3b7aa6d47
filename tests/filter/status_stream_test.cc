// The status stream: whatever is written, each write to the status pipe
// holds whole lines only, at most PIPE_BUF bytes unless one line is longer,
// so that no other process's line can land inside one of ours.
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "filter/common/status-stream.h"

namespace {

// A sequenced-packet socket keeps the boundaries of every write.
std::vector<std::string> Writes(int fd) {
  std::vector<std::string> writes;
  std::string buf(1 << 20, '\0');
  for (;;) {
    ssize_t n = ::recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
    if (n <= 0) break;
    writes.emplace_back(buf.data(), size_t(n));
  }
  return writes;
}

TEST(StatusStream, WritesAreWholeLinesWithinAPipeBuffer) {
  const struct {
    const char* what;
    std::vector<size_t> lengths;  // line lengths with the newline
  } cases[] = {
      {"many short lines", std::vector<size_t>(3000, 40)},
      {"lines near the batch size", {2047, 2049, 4095, 4096, 1, 3000, 3000}},
      {"a line longer than a pipe buffer", {100, 9000, 100, 100}},
      {"mixed", {1023, 17, 600, 600, 600, 600, 600, 600, 8191, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv), 0);
    int big = 4 << 20;
    ::setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof(big));
    ::setsockopt(sv[1], SOL_SOCKET, SO_RCVBUF, &big, sizeof(big));
    FILE* fp = open_status_stream(sv[0]);
    ASSERT_NE(fp, nullptr);
    std::string all;
    std::vector<std::string> received;
    size_t k = 0;
    for (size_t len : c.lengths) {
      std::string line(len - 1, char('a' + k++ % 26));
      line += '\n';
      all += line;
      std::fputs(line.c_str(), fp);
      // Drain now and then so the socket never fills.
      if (k % 200 == 0)
        for (auto& w : Writes(sv[1])) received.push_back(std::move(w));
    }
    ASSERT_EQ(std::fclose(fp), 0);
    for (auto& w : Writes(sv[1])) received.push_back(std::move(w));
    ::close(sv[0]);
    ::close(sv[1]);

    std::string joined;
    for (const std::string& w : received) {
      ASSERT_FALSE(w.empty());
      EXPECT_EQ(w.back(), '\n');
      if (w.size() > PIPE_BUF) {
        EXPECT_EQ(w.find('\n'), w.size() - 1) << "a long write holds more than one line";
      }
      joined += w;
    }
    EXPECT_EQ(joined, all);
    EXPECT_LT(received.size(), c.lengths.size() + 1);  // batched, not a write a line
  }
}

TEST(StatusStream, FlushSendsCompleteLinesAndKeepsAPartialOne) {
  int sv[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sv), 0);
  FILE* fp = open_status_stream(sv[0]);
  ASSERT_NE(fp, nullptr);
  std::fputs("PAGE: 1 1\nDEBUG: par", fp);
  std::fflush(fp);
  EXPECT_EQ(Writes(sv[1]), std::vector<std::string>{"PAGE: 1 1\n"});
  std::fputs("tial\n", fp);
  std::fflush(fp);
  EXPECT_EQ(Writes(sv[1]), std::vector<std::string>{"DEBUG: partial\n"});
  // Closing sends even an unfinished line rather than losing it.
  std::fputs("ERROR: end", fp);
  std::fclose(fp);
  EXPECT_EQ(Writes(sv[1]), std::vector<std::string>{"ERROR: end"});
  ::close(sv[0]);
  ::close(sv[1]);
}

}  // namespace
