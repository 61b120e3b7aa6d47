// Signals of the running scheduler and the reaping of children, and the
// descriptor sets of the main loop.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include "scheduler/conf/conf.h"
#include "scheduler/fdset.h"
#include "scheduler/log.h"
#include "scheduler/signals.h"

namespace {

class ReapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/reap-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    ServerRoot = root_;
    ErrorLog = root_ + "/error_log";
    User = ::getuid();
    Group = ::getgid();
    MaxLogSize = 0;
  }
  void TearDown() override {
    CloseLogs();
    std::filesystem::remove_all(root_);
  }
  std::string Log() {
    CloseLogs();
    std::ifstream in(ErrorLog);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // A child that ends as `how` says: >= 0 exit status, < 0 killed by -how.
  static pid_t Child(int how) {
    pid_t pid = ::fork();
    if (pid == 0) {
      if (how < 0) {
        ::signal(-how, SIG_DFL);
        ::raise(-how);
      }
      ::_exit(how < 0 ? 99 : how);
    }
    return pid;
  }
  std::string root_;
};

TEST_F(ReapTest, EveryFinishedChildIsReapedAndReported) {
  struct Case {
    int how;
    std::string message;  // "%d" stands for the pid
    char letter;
  };
  const Case cases[] = {
      {0, "PID %d exited with no errors.", 'd'},
      {3, "PID %d stopped with status 3!", 'E'},
      {-SIGSEGV, "PID %d crashed on signal " + std::to_string(SIGSEGV) + "!", 'E'},
      // A SIGTERM is a failure too: the children the scheduler stops are
      // no longer its job's when they end.
      {-SIGTERM, "PID %d crashed on signal " + std::to_string(SIGTERM) + "!", 'E'},
  };
  LogLevel = L_DEBUG2;
  std::vector<pid_t> pids;
  for (const Case& c : cases) pids.push_back(Child(c.how));
  int reaped = 0;
  for (int tries = 0; tries < 200 && reaped < int(pids.size()); tries++) {
    reaped += ReapChildren();
    if (reaped < int(pids.size())) ::usleep(10000);
  }
  ASSERT_EQ(reaped, int(pids.size()));
  std::string log = Log();
  for (size_t i = 0; i < pids.size(); i++) {
    std::string message = cases[i].message;
    message.replace(message.find("%d"), 2, std::to_string(pids[i]));
    EXPECT_NE(log.find(std::string(1, cases[i].letter) + " ["), std::string::npos);
    EXPECT_NE(log.find("] " + message + "\n"), std::string::npos) << message << "\n" << log;
  }
  // At debug2 the hint to raise the level is not needed.
  EXPECT_EQ(log.find("Hint:"), std::string::npos);
  EXPECT_EQ(ReapChildren(), 0) << "nothing left, and no waiting";
}

TEST_F(ReapTest, BelowDebugAFailureComesWithAHint) {
  LogLevel = L_INFO;
  pid_t pid = Child(2);
  ASSERT_GT(pid, 0);
  int reaped = 0;
  for (int tries = 0; tries < 200 && reaped == 0; tries++) {
    reaped = ReapChildren();
    if (!reaped) ::usleep(10000);
  }
  ASSERT_EQ(reaped, 1);
  std::string log = Log();
  EXPECT_NE(log.find("] PID " + std::to_string(pid) + " stopped with status 2!\n"), std::string::npos) << log;
  EXPECT_NE(log.find("I ["), std::string::npos);
  EXPECT_NE(log.find("] Hint: Try setting the LogLevel to \"debug\" to find out more.\n"), std::string::npos) << log;
}

TEST(Signals, HandlersOnlyRecordWhatArrived) {
  InstallSignalHandlers();
  TakeHangup();
  TakeTerminate();
  TakeChildExit();
  const std::pair<int, bool (*)()> cases[] = {
      {SIGHUP, TakeHangup}, {SIGTERM, TakeTerminate}, {SIGCHLD, TakeChildExit}};
  for (const auto& [sig, take] : cases) {
    SCOPED_TRACE(sig);
    EXPECT_FALSE(take());
    ASSERT_EQ(::raise(sig), 0);  // would end the test process without a handler
    EXPECT_TRUE(take());
    EXPECT_FALSE(take()) << "taken once";
  }
  // SIGPIPE is ignored: a write to a closed pipe fails with EPIPE instead.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  EXPECT_EQ(::write(fds[1], "x", 1), -1);
  EXPECT_EQ(errno, EPIPE);
  ::close(fds[1]);
}

TEST(DescriptorSets, SelectSeesDescriptorsBeyondFdSetSize) {
  ASSERT_TRUE(InitDescriptorSets());
  ASSERT_GT(DescriptorLimit, FD_SETSIZE + 100) << "the hard descriptor limit here is too low for this test";
  EXPECT_LE(DescriptorLimit, 4096);
  EXPECT_EQ(FdSetBytes, (DescriptorLimit + 7) / 8);

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const int high = FD_SETSIZE + 50;
  ASSERT_EQ(::dup2(fds[0], high), high);
  fd_bits work;
  work.resize(DescriptorLimit);
  work.set(high);
  work.set(fds[0]);
  EXPECT_TRUE(work.isset(high));
  work.clear(fds[0]);
  EXPECT_FALSE(work.isset(fds[0]));
  // Descriptors outside the limit are ignored rather than written past the set.
  work.set(DescriptorLimit + 5);
  EXPECT_FALSE(work.isset(DescriptorLimit + 5));
  EXPECT_FALSE(work.isset(-1));

  fd_bits ready;
  ready.resize(DescriptorLimit);
  ready.copy_from(work);
  timeval none{0, 0};
  EXPECT_EQ(::select(DescriptorLimit, ready.get(), nullptr, nullptr, &none), 0) << "nothing to read yet";
  ASSERT_EQ(::write(fds[1], "x", 1), 1);
  ready.copy_from(work);
  EXPECT_EQ(::select(DescriptorLimit, ready.get(), nullptr, nullptr, &none), 1);
  EXPECT_TRUE(ready.isset(high));
  ::close(high);
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
