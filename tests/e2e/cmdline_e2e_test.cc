// vornd's command line and its start as a daemon: exact messages, the
// parent that waits for its child, and -F.
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness.h"

namespace {

using namespace e2e;

const std::string kUsage = "Usage: vornd [-c config-file] [-f] [-F]\n";

// Session id of a process, from /proc/<pid>/stat.
pid_t session_of(pid_t pid) {
  std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream in(stat.substr(close + 2));
  std::string state;
  pid_t ppid, pgrp, session;
  in >> state >> ppid >> pgrp >> session;
  return session;
}

std::string link_of(const std::string& path) {
  char buf[4096];
  ssize_t n = ::readlink(path.c_str(), buf, sizeof(buf) - 1);
  return n < 0 ? std::string() : std::string(buf, size_t(n));
}

struct UsageCase {
  std::vector<std::string> args;
  std::string err;
};

TEST(CommandLine, ErrorsPrintTheMessageAndTheUsageAndExitOne) {
  const UsageCase cases[] = {
      {{"stray"}, "vornd: Unknown argument 'stray' - aborting!\n" + kUsage},
      {{"-f", "stray"}, "vornd: Unknown argument 'stray' - aborting!\n" + kUsage},
      {{"-q"}, "vornd: Unknown option 'q' - aborting!\n" + kUsage},
      // Letters are taken one by one: f is accepted, then x is not.
      {{"-fx"}, "vornd: Unknown option 'x' - aborting!\n" + kUsage},
      {{"-c", "some.conf", "-Z"}, "vornd: Unknown option 'Z' - aborting!\n" + kUsage},
      {{"-c"}, kUsage},
      {{"-f", "-c"}, kUsage},
      {{"-fc"}, kUsage},
  };
  for (const UsageCase& c : cases) {
    std::vector<std::string> argv{VorndPath()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    RunResult r = RunProgram(argv, kWait);
    std::string shown = c.args.empty() ? "" : c.args[0];
    EXPECT_EQ(r.exit_status, 1) << shown;
    EXPECT_EQ(r.err, c.err) << shown;
    EXPECT_EQ(r.out, "") << shown;
  }
}

TEST(CommandLine, RelativeConfigPathIsTakenFromTheCurrentDirectory) {
  ServerRoot root;
  root.WriteConfig("LogLevel debug\n");
  // "-fc vornd.conf" from inside the root: combined letters, relative path.
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(root.path().c_str()) != 0) ::_exit(126);
    ::execl(VorndPath(), VorndPath(), "-fc", "vornd.conf", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  bool listening = WaitUntil([&] { return CanConnect(root.port()); }, kWait);
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(listening);
  EXPECT_NE(root.ErrorLog().find("Loaded configuration file \"" + root.conf_path() + "\""), std::string::npos)
      << root.ErrorLog();
}

TEST(Daemon, ParentExitsZeroOnceTheChildIsReadyAndTheChildIsDetached) {
  ServerRoot root;
  root.WriteConfig();
  Vornd vornd(root);
  ASSERT_EQ(vornd.StartDaemon(), 0) << vornd.Stderr();
  pid_t daemon = vornd.daemon_pid();
  ASSERT_GT(daemon, 0);
  // Ready means listening: no waiting needed.
  EXPECT_TRUE(CanConnect(root.port()));
  EXPECT_EQ(session_of(daemon), daemon);
  EXPECT_EQ(link_of("/proc/" + std::to_string(daemon) + "/cwd"), "/");
  for (int fd : {0, 1, 2})
    EXPECT_EQ(link_of("/proc/" + std::to_string(daemon) + "/fd/" + std::to_string(fd)), "/dev/null") << fd;
  EXPECT_EQ(vornd.Stderr(), "");

  int status = vornd.Stop();
  ASSERT_NE(status, -1);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

struct FailingStart {
  const char* name;
  const char* config;       // nullptr: no configuration file at all
  bool config_is_directory;
  const char* child_message;
};

TEST(Daemon, ParentReportsAChildThatFailsToStart) {
  const FailingStart cases[] = {
      {"missing file", nullptr, false, "vornd: Child exited with status 1!\n"},
      {"directory instead of a file", nullptr, true, "vornd: Child exited with status 1!\n"},
      {"Location line without >", "<Location /admin\nOrder deny,allow\n</Location>\n", false,
       "vornd: Child exited with status 1!\n"},
      {"Location block without its end", "<Location /admin>\nOrder deny,allow\n", false,
       "vornd: Child exited with status 1!\n"},
  };
  for (const FailingStart& c : cases) {
    SCOPED_TRACE(c.name);
    ServerRoot root;
    if (c.config) root.WriteConfig(c.config);
    if (c.config_is_directory) ::mkdir(root.conf_path().c_str(), 0755);
    Vornd vornd(root);
    EXPECT_EQ(vornd.StartDaemon(), 1);
    EXPECT_EQ(vornd.daemon_pid(), -1);
    std::string err = vornd.Stderr();
    EXPECT_NE(err.find("vornd: Unable to read configuration file '" + root.conf_path() + "' - exiting!\n"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find(c.child_message), std::string::npos) << err;
    EXPECT_FALSE(CanConnect(root.port()));
  }
}

TEST(Daemon, ParentReportsTheStatusOfAChildWhoseListenerCannotBind) {
  ServerRoot root;
  root.WriteConfig();
  Vornd first(root);
  ASSERT_TRUE(first.StartForeground());
  // Same port again: bind fails, the child exits with errno (EADDRINUSE).
  ServerRoot other;
  other.WriteConfig("Listen 127.0.0.1:" + std::to_string(root.port()) + "\n", false);
  Vornd second(other);
  EXPECT_EQ(second.StartDaemon(), 1);
  EXPECT_EQ(second.Stderr(), "vornd: Child exited with status " + std::to_string(EADDRINUSE) + "!\n");
  EXPECT_NE(other.ErrorLog().find("StartListening: Unable to bind socket - "), std::string::npos)
      << other.ErrorLog();
}

TEST(Daemon, OnlyTheChildsSignalCountsAndADeathBySignalIsReported) {
  ServerRoot root;
  // Opening a FIFO for reading waits for a writer: the child hangs in its
  // start-up, before it is ready.
  ASSERT_EQ(::mkfifo(root.file("hang.fifo").c_str(), 0600), 0);
  root.WriteConfig("Include hang.fifo\n");
  Vornd vornd(root);
  ASSERT_TRUE(vornd.Start({"-c", root.conf_path()}));
  pid_t parent = vornd.started_pid();
  std::vector<pid_t> children;
  ASSERT_TRUE(WaitUntil([&] { return (children = ChildrenOf(parent)).size() == 1; }, kWait));

  // SIGUSR1 from anyone but the child is no readiness.
  ASSERT_EQ(::kill(parent, SIGUSR1), 0);
  int status = 0;
  EXPECT_FALSE(WaitUntil([&] { return ::waitpid(parent, &status, WNOHANG) == parent; }, 500ms))
      << "the parent took a stranger's SIGUSR1 for the child's";

  ASSERT_EQ(::kill(children[0], SIGKILL), 0);
  status = vornd.Wait();
  ASSERT_NE(status, -1);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_EQ(vornd.Stderr(), "vornd: Child exited on signal 9!\n");
}

TEST(Daemon, DashCapitalFDetachesWithoutForking) {
  ServerRoot root;
  root.WriteConfig();
  Vornd vornd(root);
  ASSERT_TRUE(vornd.Start({"-F", "-c", root.conf_path()}));
  ASSERT_TRUE(vornd.WaitListening(root.port()));
  pid_t pid = vornd.started_pid();
  EXPECT_EQ(::kill(pid, 0), 0) << "the started process itself is the daemon";
  EXPECT_EQ(session_of(pid), pid);
  EXPECT_EQ(link_of("/proc/" + std::to_string(pid) + "/cwd"), "/");
  int status = vornd.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
