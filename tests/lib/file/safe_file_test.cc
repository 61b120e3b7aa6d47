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

#include "vorn/file.h"

namespace {

class SafeFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/safe-file-test-XXXXXX";
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
  static int Write(const std::string& path, std::string_view content, mode_t perm,
                   int flags = VORN_SAFE_BACKUP) {
    return vornSafeFileWrite(path, content, perm, uid_t(-1), gid_t(-1), flags);
  }

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
  ASSERT_EQ(Write(path_, "first\n", 0640), 0);
  EXPECT_EQ(Slurp(path_), "first\n");
  EXPECT_FALSE(Exists(path_ + ".O")) << "nothing to keep the first time";
  struct stat st;
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  ASSERT_EQ(Write(path_, "second\n", 0600), 0);
  EXPECT_EQ(Slurp(path_), "second\n");
  EXPECT_EQ(Slurp(path_ + ".O"), "first\n");
  ASSERT_EQ(Write(path_, "third\n", 0600), 0);
  EXPECT_EQ(Slurp(path_ + ".O"), "second\n");
  EXPECT_FALSE(Exists(path_ + ".N"));
  EXPECT_FALSE(Exists(path_ + ".O.N"));
}

TEST_F(SafeFileTest, NothingIsVisibleBeforeTheCommit) {
  Put(path_, "old\n");
  auto sf = vornSafeFileCreate(path_, 0644, uid_t(-1), gid_t(-1), VORN_SAFE_BACKUP);
  ASSERT_NE(sf, nullptr);
  std::string content;
  for (int i = 0; i < 1000; i++) content += "<Printer p" + std::to_string(i) + ">\n</Printer>\n";
  ASSERT_EQ(vorn::write_all(sf->fd.get(), content.data(), content.size()), 0);
  EXPECT_EQ(Slurp(path_), "old\n");
  EXPECT_FALSE(Exists(path_ + ".O"));
  ASSERT_EQ(vornSafeFileCommit(std::move(sf)), 0);
  EXPECT_EQ(Slurp(path_), content);
  EXPECT_EQ(Slurp(path_ + ".O"), "old\n");
}

// Without VORN_SAFE_BACKUP no ".O" appears, and an old one is left alone; a
// private temporary name leaves nothing behind either.
TEST_F(SafeFileTest, BackupAndTemporaryNameFollowTheFlags) {
  struct Case {
    int flags;
    bool backup;
  };
  const Case cases[] = {{0, false}, {VORN_SAFE_PRIVATE_TEMP, false}, {VORN_SAFE_BACKUP | VORN_SAFE_PRIVATE_TEMP, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directory(dir_);
    Put(path_, "old\n");
    Put(path_ + ".O", "older\n");
    ASSERT_EQ(Write(path_, "new\n", 0644, c.flags), 0);
    EXPECT_EQ(Slurp(path_), "new\n");
    EXPECT_EQ(Slurp(path_ + ".O"), c.backup ? "old\n" : "older\n");
    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      (void)e;
      entries++;
    }
    EXPECT_EQ(entries, 2u) << "a temporary file was left behind";
  }
}

TEST_F(SafeFileTest, ModeAndOwnerAreTheCallersWhateverTheUmask) {
  mode_t old_mask = ::umask(077);
  ASSERT_EQ(Write(path_, "x", 0644), 0);
  ::umask(old_mask);
  struct stat st;
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(st.st_uid, ::getuid());

  if (::geteuid() != 0) GTEST_SKIP() << "changing the owner needs root";
  ASSERT_EQ(vornSafeFileWrite(path_, "y", 0600, 4242, 4343, VORN_SAFE_BACKUP), 0);
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 4242u);
  EXPECT_EQ(st.st_gid, 4343u);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(SafeFileTest, ACrashAtAnyStepLeavesTheFileWholeOldOrNew) {
  struct Case {
    vorn_safe_step_t step;
    const char* file;    // content of the real name after the crash
    const char* backup;  // content of ".O"
  };
  const Case cases[] = {
      {vorn_safe_step_t::synced, "old\n", "older\n"},
      {vorn_safe_step_t::backed_up, "old\n", "old\n"},
      {vorn_safe_step_t::renamed, "new\n", "old\n"},
      {vorn_safe_step_t::dir_synced, "new\n", "old\n"},
  };
  static vorn_safe_step_t crash_at;
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.step));
    Put(path_, "old\n");
    Put(path_ + ".O", "older\n");
    crash_at = c.step;
    int status = InChild([&] {
      vornSafeFileStepHook = [](vorn_safe_step_t s) {
        if (s == crash_at) ::raise(SIGKILL);
      };
      Write(path_, "new\n", 0644);
    });
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child did not crash";
    EXPECT_EQ(Slurp(path_), c.file);
    EXPECT_EQ(Slurp(path_ + ".O"), c.backup);

    // The next writer is not disturbed by what the crash left behind.
    ASSERT_EQ(Write(path_, "after\n", 0644), 0);
    EXPECT_EQ(Slurp(path_), "after\n");
    EXPECT_EQ(Slurp(path_ + ".O"), c.file);
    EXPECT_FALSE(Exists(path_ + ".N"));
  }
}

TEST_F(SafeFileTest, AFailedWriteLeavesTheOldFileAndNoTemporary) {
  Put(path_, "old\n");
  int status = InChild([&] {
    // Files may not grow beyond 1000 bytes: writing the content fails.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{1000, 1000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    int r = Write(path_, std::string(5000, 'n'), 0644);
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
    auto sf = vornSafeFileCreate(path_, 0644, uid_t(-1), gid_t(-1), VORN_SAFE_BACKUP);
    ASSERT_NE(sf, nullptr);
    ASSERT_EQ(vorn::write_all(sf->fd.get(), "half-written", 12), 0);
  }
  EXPECT_EQ(Slurp(path_), "old\n");
  EXPECT_FALSE(Exists(path_ + ".N"));
}

TEST_F(SafeFileTest, ALinkPlantedAtTheTemporaryNameIsNotFollowed) {
  std::string victim = dir_ + "/victim";
  Put(victim, "precious\n");
  ASSERT_EQ(::symlink(victim.c_str(), (path_ + ".N").c_str()), 0);
  ASSERT_EQ(Write(path_, "new\n", 0644), 0);
  EXPECT_EQ(Slurp(victim), "precious\n");
  EXPECT_EQ(Slurp(path_), "new\n");
}

TEST_F(SafeFileTest, ADirectoryThatDoesNotExistIsAnError) {
  errno = 0;
  EXPECT_EQ(vornSafeFileCreate(dir_ + "/missing/file.conf", 0644, uid_t(-1), gid_t(-1), VORN_SAFE_BACKUP), nullptr);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(Write(dir_ + "/missing/file.conf", "x", 0644), -1);
}

}  // namespace
