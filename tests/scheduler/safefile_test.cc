// The safe file writer: the real name is always whole, old or new, whatever
// moment a crash or a write failure strikes.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "scheduler/safefile.h"

namespace {

class SafeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/safefile-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/printers.conf";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
  }
  void Put(const std::string& path, const std::string& content) { std::ofstream(path) << content; }

  // Runs `body` in a child process and returns its wait status.
  template <typename F>
  static int InChild(F body) {
    pid_t pid = ::fork();
    if (pid == 0) {
      body();
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
  }

  std::string dir_, path_;
};

TEST_F(SafeFileTest, CommitReplacesTheFileAndKeepsThePreviousAsO) {
  ASSERT_EQ(SafeFileWrite(path_, "first\n", 0640), 0);
  EXPECT_EQ(Slurp(path_), "first\n");
  EXPECT_FALSE(Exists(path_ + ".O")) << "nothing to keep the first time";
  struct stat st;
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  ASSERT_EQ(SafeFileWrite(path_, "second\n", 0600), 0);
  EXPECT_EQ(Slurp(path_), "second\n");
  EXPECT_EQ(Slurp(path_ + ".O"), "first\n");
  ASSERT_EQ(SafeFileWrite(path_, "third\n", 0600), 0);
  EXPECT_EQ(Slurp(path_ + ".O"), "second\n");
  EXPECT_FALSE(Exists(path_ + ".N"));
  EXPECT_FALSE(Exists(path_ + ".O.N"));
}

TEST_F(SafeFileTest, WritesThroughTheBufferedFileLayer) {
  auto sf = SafeFileCreate(path_, 0644);
  ASSERT_NE(sf, nullptr);
  for (int i = 0; i < 1000; i++) BufFilePrintf(sf->file.get(), "<Printer p%d>\n</Printer>\n", i);
  EXPECT_FALSE(Exists(path_)) << "nothing is visible before the commit";
  ASSERT_EQ(SafeFileCommit(std::move(sf)), 0);
  std::string content = Slurp(path_);
  EXPECT_EQ(content.find("<Printer p0>\n"), 0u);
  EXPECT_NE(content.find("<Printer p999>\n</Printer>\n"), std::string::npos);
}

TEST_F(SafeFileTest, ACrashAtAnyStepLeavesTheFileWholeOldOrNew) {
  struct Case {
    safe_step step;
    const char* file;    // content of the real name after the crash
    const char* backup;  // content of ".O"
  };
  const Case cases[] = {
      {safe_step::synced, "old\n", "older\n"},
      {safe_step::backed_up, "old\n", "old\n"},
      {safe_step::renamed, "new\n", "old\n"},
      {safe_step::dir_synced, "new\n", "old\n"},
  };
  static safe_step crash_at;
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.step));
    Put(path_, "old\n");
    Put(path_ + ".O", "older\n");
    crash_at = c.step;
    int status = InChild([&] {
      SafeFileStepHook = [](safe_step s) {
        if (s == crash_at) ::raise(SIGKILL);
      };
      SafeFileWrite(path_, "new\n", 0644);
    });
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child did not crash";
    EXPECT_EQ(Slurp(path_), c.file);
    EXPECT_EQ(Slurp(path_ + ".O"), c.backup);

    // The next writer is not disturbed by what the crash left behind.
    ASSERT_EQ(SafeFileWrite(path_, "after\n", 0644), 0);
    EXPECT_EQ(Slurp(path_), "after\n");
    EXPECT_EQ(Slurp(path_ + ".O"), c.file);
    EXPECT_FALSE(Exists(path_ + ".N"));
  }
}

TEST_F(SafeFileTest, AFailedWriteLeavesTheOldFileAndNoTemporary) {
  Put(path_, "old\n");
  int status = InChild([&] {
    // Files may not grow beyond 1000 bytes: the flush of the content fails.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{1000, 1000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    int r = SafeFileWrite(path_, std::string(5000, 'n'), 0644);
    ::_exit(r == -1 && errno == EFBIG ? 0 : 1);
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the commit did not report the failure";
  EXPECT_EQ(Slurp(path_), "old\n");
  EXPECT_FALSE(Exists(path_ + ".O"));
  EXPECT_FALSE(Exists(path_ + ".N"));
}

TEST_F(SafeFileTest, AnAbandonedFileLeavesNoTrace) {
  Put(path_, "old\n");
  {
    auto sf = SafeFileCreate(path_, 0644);
    ASSERT_NE(sf, nullptr);
    BufFilePuts(sf->file.get(), "half-written");
  }
  EXPECT_EQ(Slurp(path_), "old\n");
  EXPECT_FALSE(Exists(path_ + ".N"));
}

TEST_F(SafeFileTest, ALinkPlantedAtTheTemporaryNameIsNotFollowed) {
  std::string victim = dir_ + "/victim";
  Put(victim, "precious\n");
  ASSERT_EQ(::symlink(victim.c_str(), (path_ + ".N").c_str()), 0);
  ASSERT_EQ(SafeFileWrite(path_, "new\n", 0644), 0);
  EXPECT_EQ(Slurp(victim), "precious\n");
  EXPECT_EQ(Slurp(path_), "new\n");
}

TEST_F(SafeFileTest, ADirectoryThatDoesNotExistIsAnError) {
  errno = 0;
  EXPECT_EQ(SafeFileCreate(dir_ + "/missing/file.conf", 0644), nullptr);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(SafeFileWrite(dir_ + "/missing/file.conf", "x", 0644), -1);
}

}  // namespace
