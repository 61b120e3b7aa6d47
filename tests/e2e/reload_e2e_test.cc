// Reloads that cannot be done leave the running scheduler alone: an uploaded
// vornd.conf that does not read is refused before it replaces the file, and
// a SIGHUP after an edit that does not read or names an address the machine
// lacks keeps the settings, listeners and jobs in force. A good reload
// after either still applies.
#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>

#include "harness.h"

namespace {

using namespace e2e;

class Reload : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.InstallDataFile("vorn.types"));
    // KeepAliveTimeout shows in every response: the setting whose effect
    // tells which configuration is in force.
    root_.WriteConfig("KeepAliveTimeout 17\n");
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
  }

  // The Keep-Alive timeout the scheduler announces now, or "" when it does
  // not answer.
  std::string KeepAliveTimeout(int port) {
    RawHttp http(port);
    RawHttp::Response r = http.Exchange("GET /index.html HTTP/1.1\r\nHost: localhost\r\n\r\n", 10s);
    if (r.status != 200) return "";
    return r.Header("Keep-Alive");
  }

  // SIGHUP, then waits until the reload was refused `times` times.
  bool HangUpAndWaitForRefusal(size_t times = 1) {
    if (vornd_.Signal(SIGHUP) != 0) return false;
    return WaitUntil([&] { return count_of(root_.ErrorLog(), kKeeping) == times; });
  }

  static constexpr const char* kKeeping = "] Unable to reload configuration file";

  ServerRoot root_;
  Vornd vornd_{root_};
};

TEST_F(Reload, AnUploadedVorndConfThatDoesNotReadIsRefusedAndTheOldFileStays) {
  const std::string before = ReadFile(root_.conf_path());
  const struct {
    const char* name;
    std::string body;
  } cases[] = {
      {"Location line without >", root_.BaseConfig() + "KeepAliveTimeout 23\n<Location /x\n"},
      {"Location block without its end", root_.BaseConfig() + "<Location /x>\nOrder deny,allow\n"},
      {"fatal error in an included file", root_.BaseConfig() + "Include broken.conf\n"},
  };
  ASSERT_TRUE(WriteFile(root_.file("broken.conf"), "<Location /y\n"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RawHttp http(root_.port());
    RawHttp::Response r = http.Exchange("PUT /admin/conf/vornd.conf HTTP/1.1\r\nHost: localhost\r\n" + root_.RootAuthorization() + "Content-Length: " +
                                        std::to_string(c.body.size()) + "\r\n\r\n" + c.body);
    EXPECT_EQ(r.status, 400) << r.head;
    EXPECT_EQ(ReadFile(root_.conf_path()), before) << "the old file, byte for byte";
    EXPECT_FALSE(FileExists(root_.conf_path() + ".O"));
    EXPECT_FALSE(FileExists(root_.conf_path() + ".N"));
  }
  std::string log = root_.ErrorLog();
  EXPECT_EQ(count_of(log, "] Refusing config file \"" + root_.conf_path() + "\" - it does not read; the old one stays."),
            3u)
      << log;
  // The "<Location /x" line of the first case, after the base lines.
  const std::string line = std::to_string(count_of(root_.BaseConfig(), "\n") + 2);
  EXPECT_NE(log.find("] ReadConfiguration() Syntax error on line " + line + "."), std::string::npos) << log;
  // No reload was asked for, and the scheduler serves on as it was.
  EXPECT_EQ(count_of(log, "Partial reload"), 0u) << log;
  EXPECT_EQ(count_of(log, "Full reload is required."), 1u) << log;
  EXPECT_EQ(KeepAliveTimeout(root_.port()), "timeout=17");

  // The same upload, made good, is installed and applied.
  std::string good = root_.BaseConfig() + "KeepAliveTimeout 23\n";
  RawHttp http(root_.port());
  RawHttp::Response r = http.Exchange("PUT /admin/conf/vornd.conf HTTP/1.1\r\nHost: localhost\r\n" + root_.RootAuthorization() + "Content-Length: " +
                                      std::to_string(good.size()) + "\r\n\r\n" + good);
  EXPECT_EQ(r.status, 201) << r.head;
  EXPECT_EQ(ReadFile(root_.conf_path()), good);
  EXPECT_TRUE(root_.WaitForLog("Partial reload complete."));
  EXPECT_TRUE(WaitUntil([&] { return KeepAliveTimeout(root_.port()) == "timeout=23"; }));
}

TEST_F(Reload, SighupWithAnAddressTheMachineLacksKeepsServingOnTheOldListener) {
  // 192.0.2.1 (TEST-NET-1) is on no interface of this machine.
  const int port = FreePort();
  root_.WriteConfig("KeepAliveTimeout 23\nListen 192.0.2.1:" + std::to_string(port) + "\n");
  ASSERT_TRUE(HangUpAndWaitForRefusal()) << root_.ErrorLog();

  EXPECT_EQ(::kill(vornd_.pid(), 0), 0) << "still running";
  EXPECT_EQ(KeepAliveTimeout(root_.port()), "timeout=17") << "the old listener and settings";
  std::string log = root_.ErrorLog();
  EXPECT_NE(log.find("] StartListening: Unable to bind socket for c0000201:" + std::to_string(port) +
                     " - Cannot assign requested address.\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(count_of(log, "Full reload is required."), 1u) << "printers and jobs were not unloaded";

  // Without the bad line the same edit applies.
  root_.WriteConfig("KeepAliveTimeout 23\n");
  ASSERT_EQ(vornd_.Signal(SIGHUP), 0);
  EXPECT_TRUE(WaitUntil([&] { return count_of(root_.ErrorLog(), "Full reload complete.") == 2; })) << root_.ErrorLog();
  EXPECT_TRUE(WaitUntil([&] { return KeepAliveTimeout(root_.port()) == "timeout=23"; }));
}

TEST_F(Reload, SighupAfterASyntaxErrorKeepsTheSettingsAndAGoodOneStillApplies) {
  const int new_port = FreePort();
  root_.WriteConfig("KeepAliveTimeout 23\n<Location /broken\n", false);
  ASSERT_TRUE(HangUpAndWaitForRefusal()) << root_.ErrorLog();
  EXPECT_EQ(::kill(vornd_.pid(), 0), 0) << "still running";
  EXPECT_EQ(KeepAliveTimeout(root_.port()), "timeout=17");
  EXPECT_NE(root_.ErrorLog().find("] ReadConfiguration() Syntax error on line "), std::string::npos);

  // A second refusal is no different from the first.
  ASSERT_TRUE(HangUpAndWaitForRefusal(2)) << root_.ErrorLog();
  EXPECT_EQ(KeepAliveTimeout(root_.port()), "timeout=17");

  // Fixed, and with a new port: the reload applies both.
  root_.WriteConfig("KeepAliveTimeout 23\nListen 127.0.0.1:" + std::to_string(new_port) + "\n", false);
  ASSERT_EQ(vornd_.Signal(SIGHUP), 0);
  EXPECT_TRUE(WaitUntil([&] { return KeepAliveTimeout(new_port) == "timeout=23"; })) << root_.ErrorLog();
  EXPECT_FALSE(CanConnect(root_.port()));
  int status = vornd_.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Only at start-up does a configuration that does not read end the
// scheduler, and its errors go to the log the file names.
TEST(StartUp, AConfigurationThatDoesNotReadEndsTheSchedulerWithItsErrorInTheLogItNames) {
  ServerRoot root;
  root.WriteConfig("<Location /x\n");
  Vornd vornd(root);
  ASSERT_TRUE(vornd.Start({"-f", "-c", root.conf_path()}));
  int status = vornd.Wait();
  ASSERT_NE(status, -1);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_NE(vornd.Stderr().find("vornd: Unable to read configuration file '" + root.conf_path() + "' - exiting!"),
            std::string::npos)
      << vornd.Stderr();
  const std::string line = std::to_string(count_of(root.BaseConfig(), "\n") + 1);
  EXPECT_NE(root.ErrorLog().find("] ReadConfiguration() Syntax error on line " + line + ".\n"), std::string::npos)
      << root.ErrorLog();
  EXPECT_FALSE(CanConnect(root.port()));
}

}  // namespace
