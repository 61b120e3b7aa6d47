#include "vorn/client.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>

#include "vorn/fd.h"

namespace {

// Saves the variables the settings read and clears them; every test starts
// from the defaults and leaves the process as it found it.
class ClientSettingsTest : public ::testing::Test {
 protected:
  static constexpr const char* kVars[3] = {"VORN_SERVER", "IPP_PORT", "VORN_ENCRYPTION"};

  void SetUp() override {
    for (int i = 0; i < 3; i++) {
      if (const char* v = getenv(kVars[i])) saved_[i] = v;
      unsetenv(kVars[i]);
    }
    reset();
  }
  void TearDown() override {
    for (int i = 0; i < 3; i++) {
      if (saved_[i])
        setenv(kVars[i], saved_[i]->c_str(), 1);
      else
        unsetenv(kVars[i]);
    }
    reset();
  }
  static void reset() {
    vornSetServer(nullptr);
    ippSetPort(0);
    vornSetUser(nullptr);
    vornSetPasswordCB(nullptr);
  }
  static void set(const char* name, const char* value) {
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }

  std::optional<std::string> saved_[3];
};

const std::string kLongHost(300, 'h');

TEST_F(ClientSettingsTest, ServerFromEnvironment) {
  static const struct {
    const char* env;
    std::string host;
    int port;
  } cases[] = {
      {nullptr, "localhost", 631},
      {"", "localhost", 631},
      {"print.example", "print.example", 631},
      {"print.example:8631", "print.example", 8631},
      {"print.example:65535", "print.example", 65535},
      {"print.example:0", "print.example", 631},
      {"print.example:65536", "print.example", 631},
      {"print.example:86x", "print.example", 631},
      {"print.example:", "print.example", 631},
      {":8631", "localhost", 8631},
      {"10.0.0.5:9000", "10.0.0.5", 9000},
      {"[::1]:8631", "::1", 8631},
      {"[::1]", "::1", 631},
      {"[fe80::1%eth0]:700", "fe80::1%eth0", 700},
      {"::1", "::1", 631},  // a bare IPv6 address has no port part
      {"[]:8631", "localhost", 8631},
      {kLongHost.c_str(), std::string(255, 'h'), 631},
  };
  for (const auto& c : cases) {
    set("VORN_SERVER", c.env);
    vornSetServer(nullptr);  // back to the default, which reads VORN_SERVER again
    EXPECT_EQ(vornServer(), c.host) << (c.env ? c.env : "(unset)");
    EXPECT_EQ(ippPort(), c.port) << (c.env ? c.env : "(unset)");
  }
}

TEST_F(ClientSettingsTest, SetServerAndPort) {
  set("VORN_SERVER", "env.example:7000");
  vornSetServer(nullptr);

  vornSetServer("other.example:8632");
  EXPECT_STREQ(vornServer(), "other.example");
  EXPECT_EQ(ippPort(), 8632);

  // A host without a port goes back to the default port.
  vornSetServer("third.example");
  EXPECT_STREQ(vornServer(), "third.example");
  EXPECT_EQ(ippPort(), 631);

  ippSetPort(1234);
  EXPECT_EQ(ippPort(), 1234);
  EXPECT_STREQ(vornServer(), "third.example");
  for (int bad : {0, -1, 65536}) {
    ippSetPort(bad);
    EXPECT_EQ(ippPort(), 631) << bad;
  }

  vornSetServer("[::1]:8631");
  EXPECT_STREQ(vornServer(), "::1");
  EXPECT_EQ(ippPort(), 8631);

  for (const char* reset : {static_cast<const char*>(nullptr), ""}) {
    vornSetServer("x.example:1");
    vornSetServer(reset);
    EXPECT_STREQ(vornServer(), "env.example");
    EXPECT_EQ(ippPort(), 7000);
  }
}

// A port named with the server beats IPP_PORT; IPP_PORT beats the default.
TEST_F(ClientSettingsTest, IppPortPrecedence) {
  static const struct {
    const char* server;  // given to vornSetServer
    const char* env;     // IPP_PORT, or none
    int port;
  } cases[] = {
      {"host.example:8632", "9631", 8632}, {"host.example", "9631", 9631},
      {"host.example", "1", 1},            {"host.example", "65535", 65535},
      {"host.example", "0", 631},          {"host.example", "65536", 631},
      {"host.example", "abc", 631},        {"host.example", "", 631},
      {"host.example", "-5", 631},         {"host.example", "12ab", 631},
      {"host.example", nullptr, 631},      {"[::1]:8631", "9631", 8631},
  };
  for (const auto& c : cases) {
    vornSetServer(c.server);
    if (c.env)
      set("IPP_PORT", c.env);
    else
      unsetenv("IPP_PORT");
    EXPECT_EQ(ippPort(), c.port) << c.server << " IPP_PORT=" << (c.env ? c.env : "(unset)");
  }
  unsetenv("IPP_PORT");
  vornSetServer("host.example");
  ippSetPort(4444);
  set("IPP_PORT", "9631");
  EXPECT_EQ(ippPort(), 4444);  // set by the program
  unsetenv("IPP_PORT");
}

TEST_F(ClientSettingsTest, User) {
  struct passwd* pw = getpwuid(getuid());
  std::string login = pw ? pw->pw_name : std::to_string(getuid());
  EXPECT_EQ(vornUser(), login);
  vornSetUser("alice");
  EXPECT_STREQ(vornUser(), "alice");
  vornSetUser(std::string(400, 'u').c_str());
  EXPECT_EQ(vornUser(), std::string(255, 'u'));
  vornSetUser("");
  EXPECT_EQ(vornUser(), login);
  vornSetUser("bob");
  vornSetUser(nullptr);
  EXPECT_EQ(vornUser(), login);
}

// Once a program sets the mode VORN_ENCRYPTION no longer counts, and there is
// no going back; so the environment cases run in a child that never set it.
TEST_F(ClientSettingsTest, Encryption) {
  static const struct {
    const char* env;
    http_encryption_t mode;
  } cases[] = {
      {nullptr, HTTP_ENCRYPT_IF_REQUESTED}, {"IfRequested", HTTP_ENCRYPT_IF_REQUESTED},
      {"never", HTTP_ENCRYPT_NEVER},        {"Required", HTTP_ENCRYPT_REQUIRED},
      {"ALWAYS", HTTP_ENCRYPT_ALWAYS},      {"sometimes", HTTP_ENCRYPT_IF_REQUESTED},
      {"", HTTP_ENCRYPT_IF_REQUESTED},
  };
  constexpr size_t n = sizeof(cases) / sizeof(cases[0]);
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  pid_t pid = fork();
  if (pid == 0) {
    char got[n + 4];
    for (size_t i = 0; i < n; i++) {
      set("VORN_ENCRYPTION", cases[i].env);
      got[i] = char('0' + vornEncryption());
    }
    set("VORN_ENCRYPTION", "Always");
    const http_encryption_t modes[] = {HTTP_ENCRYPT_NEVER, HTTP_ENCRYPT_IF_REQUESTED,
                                       HTTP_ENCRYPT_REQUIRED, HTTP_ENCRYPT_ALWAYS};
    for (size_t i = 0; i < 4; i++) {
      vornSetEncryption(modes[i]);
      got[n + i] = char('0' + vornEncryption());
    }
    _exit(write(fds[1], got, sizeof(got)) == ssize_t(sizeof(got)) ? 0 : 1);
  }
  close(fds[1]);
  vorn::unique_fd rd(fds[0]);
  char got[n + 4] = {};
  size_t have = 0;
  while (have < sizeof(got)) {
    ssize_t r = read(rd.get(), got + have, sizeof(got) - have);
    if (r <= 0) break;
    have += size_t(r);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(have, sizeof(got));
  for (size_t i = 0; i < n; i++)
    EXPECT_EQ(got[i] - '0', cases[i].mode) << (cases[i].env ? cases[i].env : "(unset)");
  EXPECT_EQ(std::string(got + n, 4), "1023");  // set modes win over VORN_ENCRYPTION=Always
}

const char* answer_with_prompt(const char* prompt) {
  static std::string answer;
  answer = std::string("pw-for:") + prompt;
  return answer.c_str();
}
const char* answer_none(const char*) { return nullptr; }

TEST_F(ClientSettingsTest, PasswordCallbackReplacesTheTerminal) {
  vornSetPasswordCB(answer_with_prompt);
  EXPECT_STREQ(vornGetPassword("Password: "), "pw-for:Password: ");
  vornSetPasswordCB(answer_none);
  EXPECT_EQ(vornGetPassword("Password: "), nullptr);
}

// Runs vornGetPassword in a child whose controlling terminal is a new
// pseudo-terminal; types `input` once the prompt shows. Returns the password
// the child got (nullopt for null) and everything the terminal displayed.
struct tty_run {
  std::optional<std::string> password;
  std::string screen;
};

bool read_until(int fd, std::string& out, const std::string& want, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (want.empty() || out.find(want) == std::string::npos) {
    int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                       deadline - std::chrono::steady_clock::now())
                       .count());
    if (left <= 0) return false;
    struct pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) return false;
    char buf[512];
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n <= 0) return false;  // EIO once the child has closed the terminal
    out.append(buf, size_t(n));
  }
  return true;
}

tty_run run_with_tty(const std::string& input, bool with_tty) {
  tty_run r;
  vorn::unique_fd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  EXPECT_TRUE(master);
  EXPECT_EQ(grantpt(master.get()), 0);
  EXPECT_EQ(unlockpt(master.get()), 0);
  std::string slave_name = ptsname(master.get());
  int pipefd[2];
  EXPECT_EQ(pipe2(pipefd, O_CLOEXEC), 0);

  pid_t pid = fork();
  if (pid == 0) {
    setsid();  // no controlling terminal from here on
    if (with_tty) {
      int slave = open(slave_name.c_str(), O_RDWR);
      if (slave < 0 || ioctl(slave, TIOCSCTTY, 0) < 0) _exit(2);
    }
    const char* pw = vornGetPassword("Password: ");
    std::string reply = pw ? std::string("+") + pw : "-";
    if (write(pipefd[1], reply.data(), reply.size()) != ssize_t(reply.size())) _exit(3);
    _exit(0);
  }
  close(pipefd[1]);
  vorn::unique_fd result(pipefd[0]);

  if (with_tty && read_until(master.get(), r.screen, "Password: ", 10000)) {
    EXPECT_EQ(write(master.get(), input.data(), input.size()), ssize_t(input.size()));
  }
  std::string reply;
  read_until(result.get(), reply, "", 10000);  // until the child closes the pipe
  if (with_tty) read_until(master.get(), r.screen, "\n", 2000);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  if (!reply.empty() && reply[0] == '+') r.password = reply.substr(1);
  return r;
}

TEST_F(ClientSettingsTest, PasswordFromTerminalWithoutEcho) {
  static const struct {
    std::string typed;
    std::string password;
  } cases[] = {
      {"s3cret\n", "s3cret"},
      {"\n", ""},
      {"with space\n", "with space"},
      {std::string(300, 'p') + "\n", std::string(255, 'p')},
  };
  for (const auto& c : cases) {
    tty_run r = run_with_tty(c.typed, true);
    ASSERT_TRUE(r.password.has_value()) << c.typed;
    EXPECT_EQ(*r.password, c.password);
    EXPECT_NE(r.screen.find("Password: "), std::string::npos);
    if (!c.password.empty()) {
      EXPECT_EQ(r.screen.find(c.password), std::string::npos) << "echoed";
    }
  }
}

TEST_F(ClientSettingsTest, NoTerminalGivesNoPassword) {
  tty_run r = run_with_tty("", false);
  EXPECT_FALSE(r.password.has_value());
}

}  // namespace
