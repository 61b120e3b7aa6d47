// Listeners and connections of a running scheduler: TLS listeners, IPv6,
// MaxClients, and the inactivity Timeout.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness.h"

namespace {

using namespace e2e;

const char* kOpenSSL = "/usr/bin/openssl";

// Waits until the scheduler has accepted and closed at least `probes`
// connections (those of the harness's start-up check) and every accepted one
// is closed; returns how many it accepted.
size_t settled_accepts(const ServerRoot& root, size_t probes) {
  size_t accepted = 0;
  WaitUntil(
      [&] {
        std::string log = root.ErrorLog();
        accepted = count_of(log, "] AcceptClient() ");
        return accepted >= probes && accepted == count_of(log, "] CloseClient() ");
      },
      kWait);
  return accepted;
}

class TlsListener : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!FileExists(kOpenSSL)) GTEST_SKIP() << "no openssl command";
    ASSERT_EQ(root_.MakeCertificate(), "");
    ssl_port_ = FreePort();
    // Relative certificate paths are taken under ServerRoot.
    root_.WriteConfig("LogLevel debug\nServerCertificate ssl/server.crt\nServerKey ssl/server.key\n"
                      "SSLListen 127.0.0.1:" + std::to_string(ssl_port_) + "\n");
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
    ASSERT_TRUE(vornd_.WaitListening(ssl_port_));
  }

  RunResult Handshake() {
    return RunProgram({kOpenSSL, "s_client", "-connect", "127.0.0.1:" + std::to_string(ssl_port_), "-brief"},
                      30s);
  }

  ServerRoot root_;
  Vornd vornd_{root_};
  int ssl_port_ = 0;
};

TEST_F(TlsListener, CompletesAHandshakeWithOpensslSClient) {
  RunResult r = Handshake();
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("CONNECTION ESTABLISHED"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Peer certificate: CN = localhost"), std::string::npos) << r.err;
  EXPECT_TRUE(root_.WaitForLog("Connection now encrypted.")) << root_.ErrorLog();
  EXPECT_NE(root_.ErrorLog().find("Listening to 7f000001:" + std::to_string(ssl_port_) + " (SSL)"),
            std::string::npos);
}

TEST_F(TlsListener, ASilentPeerDoesNotHoldUpOtherHandshakes) {
  int silent = ConnectTo(ssl_port_);
  ASSERT_GE(silent, 0);
  RunResult r = Handshake();
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("CONNECTION ESTABLISHED"), std::string::npos) << r.err;
  ::close(silent);
}

TEST_F(TlsListener, PlainTextOnTheTlsPortFailsTheHandshakeAndCloses) {
  int fd = ConnectTo(ssl_port_);
  ASSERT_GE(fd, 0);
  const char request[] = "GET / HTTP/1.0\r\n\r\n";
  ASSERT_EQ(::send(fd, request, sizeof(request) - 1, MSG_NOSIGNAL), ssize_t(sizeof(request) - 1));
  EXPECT_TRUE(PeerClosed(fd));
  ::close(fd);
  EXPECT_TRUE(root_.WaitForLog("EncryptClient: ")) << root_.ErrorLog();
  // The scheduler goes on serving.
  EXPECT_EQ(Handshake().exit_status, 0);
}

TEST(Listeners, MaxClientsHoldsNewConnectionsUntilOneCloses) {
  ServerRoot root;
  root.WriteConfig("LogLevel debug\nMaxClients 2\n");
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground());
  size_t base = settled_accepts(root, 1);

  int a = ConnectTo(root.port()), b = ConnectTo(root.port());
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  ASSERT_TRUE(WaitUntil([&] { return count_of(root.ErrorLog(), "] AcceptClient() ") == base + 2; }, kWait))
      << base << "\n" << root.ErrorLog();
  EXPECT_TRUE(root.WaitForLog("Max clients reached, holding new connections..."));

  // The kernel completes the connection, but the scheduler does not take it.
  int c = ConnectTo(root.port());
  ASSERT_GE(c, 0);
  EXPECT_FALSE(WaitUntil([&] { return count_of(root.ErrorLog(), "] AcceptClient() ") > base + 2; }, 700ms));

  ::close(a);
  EXPECT_TRUE(WaitUntil([&] { return count_of(root.ErrorLog(), "] AcceptClient() ") == base + 3; }, kWait))
      << root.ErrorLog();
  EXPECT_NE(root.ErrorLog().find("Resuming new connection processing..."), std::string::npos);
  ::close(b);
  ::close(c);
  vornd.Stop();
}

TEST(Listeners, AnIdleClientIsClosedAfterTimeout) {
  ServerRoot root;
  root.WriteConfig("LogLevel debug\nTimeout 1\n");
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground());
  int fd = ConnectTo(root.port());
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(PeerClosed(fd));
  ::close(fd);
  EXPECT_TRUE(root.WaitForLog("after 1 seconds of inactivity...")) << root.ErrorLog();
  vornd.Stop();
}

TEST(Listeners, ListensOnIPv6LoopbackAndOnNames) {
  int probe = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  bool have_v6 = probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
  if (probe >= 0) ::close(probe);
  if (!have_v6) GTEST_SKIP() << "no ::1 here";

  ServerRoot root;
  int v6_port = FreePort(), named_port = FreePort();
  root.WriteConfig("Listen [::1]:" + std::to_string(v6_port) + "\nListen localhost:" +
                   std::to_string(named_port) + "\n");
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground()) << vornd.Stderr();
  EXPECT_TRUE(vornd.WaitListening(v6_port, kWait, true));
  EXPECT_TRUE(vornd.WaitListening(named_port));
  std::string log = root.ErrorLog();
  EXPECT_NE(log.find("Listening to [::1]:" + std::to_string(v6_port)), std::string::npos) << log;
  EXPECT_NE(log.find("Listening to 7f000001:" + std::to_string(named_port)), std::string::npos) << log;
  vornd.Stop();
}

}  // namespace
