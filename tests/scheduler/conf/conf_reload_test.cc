// The configuration as a value: a reload puts a new one in force only when
// the whole file reads and its listeners open; otherwise the settings,
// locations, browse lists and listening sockets in force stay untouched.
// Listening sockets whose address did not change are kept across a reload.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "scheduler/browse/browse.h"
#include "scheduler/log.h"
#include "tests/fixtures/http/loopback.h"
#include "tests/fixtures/scheduler/conf_fixture.h"

namespace {

// A TCP port on 127.0.0.1 that was free a moment ago.
int free_port() { return loopback::listen_any_port().port; }

// A connected socket to 127.0.0.1:port, or -1. The caller closes it.
int connect_to(int port) { return loopback::connect_raw(port).release(); }

// Whether a connection waits to be accepted on the listening socket `fd`.
bool has_waiting_connection(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 2000) == 1 && (p.revents & POLLIN);
}

class ReloadTest : public ConfTest {
 protected:
  // Reads Base() + `extra` and leaves the server running, as the scheduler
  // does between reloads. The log starts empty.
  bool Reload(const std::string& extra) {
    WriteRaw(Base() + extra);
    CloseLogs();  // the next line opens the log afresh
    std::filesystem::remove(root_ + "/logs/error_log");
    return ReadConfiguration();
  }

  // Reads back what the server wrote so far: the log is closed for that.
  std::string CurrentLog() {
    CloseLogs();
    return Log();
  }
};

// What a good configuration put in force, to compare after a refused one.
struct InForce {
  int max_copies;
  std::string document_root;
  location_t* admin;
  size_t polled;
  std::vector<int> listener_fds;
};

InForce in_force() {
  InForce f{MaxCopies, DocumentRoot, LocationByPath("/admin"), Polled.size(), {}};
  for (const listener_t& lis : Listeners) f.listener_fds.push_back(lis.fd.get());
  return f;
}

TEST_F(ReloadTest, ARefusedReloadKeepsEverythingInForce) {
  const int port = free_port();
  const std::string good = "MaxCopies 7\nDocumentRoot docs\nBrowsePoll 127.0.0.1:8631\n"
                           "<Location /admin>\nOrder deny,allow\n</Location>\n"
                           "Listen 127.0.0.1:" + std::to_string(port) + "\n";
  struct Case {
    const char* name;
    std::string lines;
    std::string message;  // why it was refused
  };
  const Case cases[] = {
      {"Location line without >", "MaxCopies 9\nDocumentRoot other\n<Location /x\n",
       "ReadConfiguration() Syntax error on line " + std::to_string(Line(3)) + "."},
      {"Location block without its end", "MaxCopies 9\n<Location /x>\nOrder deny,allow\n",
       "ReadConfiguration() Syntax error on line " + std::to_string(Line(3)) + "."},
      // 192.0.2.1 (TEST-NET-1) is on no interface of this machine.
      {"an address the machine lacks", "MaxCopies 9\nListen 192.0.2.1:" + std::to_string(port) + "\n",
       "StartListening: Unable to bind socket for c0000201:" + std::to_string(port) +
           " - Cannot assign requested address."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Reload(good)) << Log();
    const InForce before = in_force();
    ASSERT_EQ(before.listener_fds.size(), 1u);
    ASSERT_NE(before.admin, nullptr);
    ReloadPending = 1;

    EXPECT_FALSE(Reload(c.lines));
    EXPECT_EQ(MaxCopies, 7);
    EXPECT_EQ(DocumentRoot, root_ + "/docs");
    EXPECT_EQ(LocationByPath("/admin"), before.admin) << "the same location record";
    EXPECT_EQ(LocationByPath("/x"), nullptr);
    EXPECT_EQ(Polled.size(), before.polled);
    EXPECT_EQ(ReloadPending, 0) << "a refused reload is not tried again and again";
    ASSERT_EQ(Listeners.size(), 1u);
    EXPECT_EQ(Listeners[0].fd.get(), before.listener_fds[0]);
    EXPECT_TRUE(InputSet.isset(Listeners[0].fd.get())) << "listening resumed";
    int client = connect_to(port);
    EXPECT_GE(client, 0);
    EXPECT_TRUE(has_waiting_connection(Listeners[0].fd.get()));
    if (client >= 0) ::close(client);

    std::string log = CurrentLog();
    EXPECT_TRUE(HasLine('E', c.message)) << log;
    EXPECT_TRUE(HasLine('E', "Unable to reload configuration file \"" + ConfigPath +
                                 "\" - keeping the configuration in force."))
        << log;
    EXPECT_EQ(log.find("Loaded configuration file"), std::string::npos) << log;
    StopServer();
  }
}

TEST_F(ReloadTest, AGoodReloadKeepsUnchangedListenersAndTheirWaitingConnections) {
  const int kept = free_port(), moved = free_port(), added = free_port();
  auto listen = [](int port) { return "Listen 127.0.0.1:" + std::to_string(port) + "\n"; };
  ASSERT_TRUE(Reload(listen(kept) + listen(moved) + "MaxCopies 7\n")) << Log();
  ASSERT_EQ(Listeners.size(), 2u);
  const int kept_fd = Listeners[0].fd.get();
  int waiting = connect_to(kept);
  ASSERT_GE(waiting, 0);

  ReloadPending = 2;
  ASSERT_TRUE(Reload("SSLListen 127.0.0.1:" + std::to_string(kept) + "\n" + listen(added) + "MaxCopies 9\n"))
      << Log();
  EXPECT_EQ(MaxCopies, 9);
  ASSERT_EQ(Listeners.size(), 2u);
  EXPECT_EQ(Listeners[0].fd.get(), kept_fd) << "the socket of an unchanged address is kept";
  EXPECT_EQ(Listeners[0].encryption, HTTP_ENCRYPT_ALWAYS) << "with the new line's encryption";
  EXPECT_TRUE(has_waiting_connection(kept_fd)) << "the connection made before the reload still waits";
  int to_added = connect_to(added);
  EXPECT_GE(to_added, 0);
  EXPECT_LT(connect_to(moved), 0) << "a listener no longer configured is closed";
  for (const listener_t& lis : Listeners) EXPECT_TRUE(InputSet.isset(lis.fd.get()));
  ::close(waiting);
  if (to_added >= 0) ::close(to_added);
}

// 0.0.0.0:P holds port P, so 127.0.0.1:P can only bind once it is closed;
// when the new set cannot open after all, the old socket comes back.
TEST_F(ReloadTest, AnAddressHeldByTheOldSetIsFreedForTheNewOne) {
  const int port = free_port();
  ASSERT_TRUE(Reload("Port " + std::to_string(port) + "\n")) << Log();
  ASSERT_EQ(sock_addr_message(Listeners[0].address), "0:" + std::to_string(port));

  ASSERT_TRUE(Reload("Listen 127.0.0.1:" + std::to_string(port) + "\n")) << Log();
  ASSERT_EQ(Listeners.size(), 1u);
  EXPECT_EQ(sock_addr_message(Listeners[0].address), "7f000001:" + std::to_string(port));
  int first = connect_to(port);
  EXPECT_GE(first, 0);
  if (first >= 0) ::close(first);

  // Back to the wildcard, with a second address that cannot be had: the
  // refused set gives 127.0.0.1:P back, open and listening.
  EXPECT_FALSE(Reload("Port " + std::to_string(port) + "\nListen 192.0.2.1:" + std::to_string(port) + "\n"));
  ASSERT_EQ(Listeners.size(), 1u);
  EXPECT_EQ(sock_addr_message(Listeners[0].address), "7f000001:" + std::to_string(port));
  ASSERT_TRUE(Listeners[0].fd);
  EXPECT_TRUE(InputSet.isset(Listeners[0].fd.get()));
  int client = connect_to(port);
  EXPECT_GE(client, 0);
  EXPECT_TRUE(has_waiting_connection(Listeners[0].fd.get()));
  if (client >= 0) ::close(client);
}

TEST_F(ReloadTest, CheckingAFileChangesNothingInForce) {
  ASSERT_TRUE(Reload("MaxCopies 7\n<Location /admin>\n</Location>\n")) << Log();
  location_t* admin = LocationByPath("/admin");
  const std::pair<const char*, bool> cases[] = {
      {"MaxCopies 9\nLogLevel warn\n<Location /other>\n</Location>\nBrowsePoll 127.0.0.1\n", true},
      {"MaxCopies 9\n<Location /other\n", false},
      {"MaxCopies 9\n<Location /other>\n", false},
  };
  for (const auto& [lines, good] : cases) {
    SCOPED_TRACE(lines);
    WriteRaw(Base() + lines, "upload.conf");
    EXPECT_EQ(CheckConfigurationFile((root_ + "/upload.conf").c_str()), good);
    EXPECT_EQ(MaxCopies, 7);
    EXPECT_EQ(LogLevel, L_DEBUG2) << "Base() sets debug2; the checked file's does not count";
    EXPECT_EQ(LocationByPath("/admin"), admin);
    EXPECT_EQ(LocationByPath("/other"), nullptr);
    EXPECT_TRUE(Polled.empty());
  }
  EXPECT_FALSE(CheckConfigurationFile((root_ + "/missing.conf").c_str()));
}

}  // namespace
