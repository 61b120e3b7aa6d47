// The running scheduler: stop by SIGTERM, reload by SIGHUP, RunAsUser, and
// a compressed configuration file.
#include <csignal>
#include <gtest/gtest.h>
#include <pwd.h>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include "harness.h"

namespace {

using namespace e2e;

bool exited_zero(int status) { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }

TEST(Lifecycle, SigtermStopsWithStatusZeroAndClosesTheListener) {
  ServerRoot root;
  root.WriteConfig();
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground()) << vornd.Stderr();
  int client = ConnectTo(root.port());
  ASSERT_GE(client, 0);

  int status = vornd.Stop();
  EXPECT_TRUE(exited_zero(status)) << status;
  EXPECT_TRUE(PeerClosed(client)) << "clients are closed on the way out";
  ::close(client);
  EXPECT_FALSE(CanConnect(root.port()));
  EXPECT_NE(root.ErrorLog().find("E ["), std::string::npos);
  EXPECT_NE(root.ErrorLog().find("] Scheduler shutting down due to SIGTERM.\n"), std::string::npos)
      << root.ErrorLog();
}

TEST(Lifecycle, SighupWithAChangedListenMovesTheListener) {
  ServerRoot root;
  root.WriteConfig();
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground()) << vornd.Stderr();
  // A connection between requests is closed by the reload.
  int client = ConnectTo(root.port());
  ASSERT_GE(client, 0);

  int new_port = FreePort();
  root.WriteConfig("Listen 127.0.0.1:" + std::to_string(new_port) + "\n", false);
  ASSERT_EQ(vornd.Signal(SIGHUP), 0);

  // The new socket takes connections (into its backlog) as soon as it is
  // open, a moment before the reload is done; SIGHUP always rebuilds
  // everything.
  EXPECT_TRUE(WaitUntil([&] { return CanConnect(new_port); }));
  EXPECT_TRUE(WaitUntil([&] {
    std::string log = root.ErrorLog();
    size_t first = log.find("Full reload complete.");
    return first != std::string::npos && log.find("Full reload complete.", first + 1) != std::string::npos;
  })) << root.ErrorLog();
  EXPECT_FALSE(CanConnect(root.port())) << "the old port still accepts";
  EXPECT_TRUE(PeerClosed(client));
  ::close(client);
  std::string log = root.ErrorLog();
  char listening[64];
  std::snprintf(listening, sizeof(listening), "Listening to 7f000001:%d\n", new_port);
  EXPECT_NE(log.find(listening), std::string::npos) << log;

  EXPECT_TRUE(exited_zero(vornd.Stop()));
}

// A request in flight when SIGHUP arrives is answered before the reload, and
// the listener moves once it is.
TEST(Lifecycle, SighupAnswersARequestInFlightBeforeMovingTheListener) {
  ServerRoot root;
  root.WriteConfig();
  ASSERT_TRUE(WriteFile(root.file("doc/page.txt"), "still here\n"));
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground()) << vornd.Stderr();

  RawHttp client(root.port());
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.Send("GET /page.txt HTTP/1.1\r\nHost: localhost\r\n"));  // headers not done

  int new_port = FreePort();
  root.WriteConfig("Listen 127.0.0.1:" + std::to_string(new_port) + "\n", false);
  ASSERT_EQ(vornd.Signal(SIGHUP), 0);
  // The reload waits for this client: the new port does not open yet.
  EXPECT_FALSE(WaitUntil([&] { return CanConnect(new_port); }, 500ms));

  RawHttp::Response r = client.Exchange("\r\n");
  EXPECT_EQ(r.status, 200) << r.head;
  EXPECT_EQ(r.body, "still here\n");
  EXPECT_TRUE(r.closed || PeerClosed(client.fd(), kWait)) << "closed after the answer for the reload";

  EXPECT_TRUE(WaitUntil([&] { return CanConnect(new_port); }));
  // The old socket closes once the new one is open.
  EXPECT_TRUE(WaitUntil([&] { return !CanConnect(root.port()); }));
  EXPECT_TRUE(exited_zero(vornd.Stop()));
}

TEST(Lifecycle, WithRunAsUserTheSchedulerDropsRootAndSighupEndsIt) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root to change user";
  const passwd* nobody = ::getpwnam("nobody");
  if (!nobody) GTEST_SKIP() << "no user nobody";
  ServerRoot root;
  root.WriteConfig("RunAsUser Yes\nUser nobody\nGroup " + std::to_string(nobody->pw_gid) + "\n");
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground()) << vornd.Stderr();
  std::string status_file = ReadFile("/proc/" + std::to_string(vornd.pid()) + "/status");
  std::string uid = std::to_string(nobody->pw_uid);
  EXPECT_NE(status_file.find("Uid:\t" + uid + "\t" + uid + "\t" + uid), std::string::npos) << status_file;
  // No supplementary groups are left.
  EXPECT_TRUE(std::regex_search(status_file, std::regex("\nGroups:[ \t]*\n"))) << status_file;

  ASSERT_EQ(vornd.Signal(SIGHUP), 0);
  EXPECT_TRUE(exited_zero(vornd.Wait()));
  EXPECT_NE(root.ErrorLog().find("Scheduler shutting down due to SIGHUP."), std::string::npos) << root.ErrorLog();
}

TEST(Lifecycle, AGzipCompressedConfigurationIsRead) {
  ServerRoot root;
  std::string conf = root.BaseConfig() + "LogLevel debug\n";
  gzFile gz = gzopen(root.conf_path().c_str(), "wb9");
  ASSERT_NE(gz, nullptr);
  ASSERT_EQ(gzwrite(gz, conf.data(), unsigned(conf.size())), int(conf.size()));
  ASSERT_EQ(gzclose(gz), Z_OK);
  ASSERT_EQ(ReadFile(root.conf_path()).substr(0, 2), "\x1f\x8b");

  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground()) << vornd.Stderr();
  // LogLevel debug came from inside the compressed file.
  EXPECT_NE(root.ErrorLog().find("D ["), std::string::npos) << root.ErrorLog();
  EXPECT_TRUE(exited_zero(vornd.Stop()));
}

TEST(Lifecycle, StartUpRemovesTheRequestFilesOfAnEarlierRun) {
  ServerRoot root;
  root.WriteConfig();
  // What a run killed while receiving two documents left, beside files that
  // only look alike and must stay.
  for (const char* name : {"00000001", "0000002a", "0000002A", "0000003", "c00001", "0000002a.x"})
    ASSERT_TRUE(WriteFile(root.file("spool/") + name, "partial upload")) << name;
  ASSERT_EQ(::symlink("/etc/hostname", root.file("spool/0000004b").c_str()), 0);
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground()) << vornd.Stderr();
  for (const char* gone : {"00000001", "0000002a"}) {
    EXPECT_FALSE(FileExists(root.file("spool/") + gone)) << gone;
    EXPECT_NE(root.ErrorLog().find("Removed stale request file " + root.file("spool/") + gone + "."),
              std::string::npos)
        << root.ErrorLog();
  }
  for (const char* kept : {"0000002A", "0000003", "c00001", "0000002a.x"})
    EXPECT_TRUE(FileExists(root.file("spool/") + kept)) << kept;
  struct stat st;
  EXPECT_EQ(::lstat(root.file("spool/0000004b").c_str(), &st), 0);
}

}  // namespace
