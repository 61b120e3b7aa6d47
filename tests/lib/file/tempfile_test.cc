#include "vorn/file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <set>
#include <string>

#include "vorn/fd.h"

namespace {

// Runs each test with TMPDIR pointing at a fresh directory, removed after.
class TempFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* v = getenv("TMPDIR")) saved_ = v;
    char tmpl[] = "/tmp/vorn-tempfile-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    setenv("TMPDIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    for (const auto& f : made_) unlink(f.c_str());
    rmdir(dir_.c_str());
    if (saved_)
      setenv("TMPDIR", saved_->c_str(), 1);
    else
      unsetenv("TMPDIR");
  }
  std::string parent(const std::string& path) { return path.substr(0, path.rfind('/')); }

  std::optional<std::string> saved_;
  std::string dir_;
  std::set<std::string> made_;
};

TEST_F(TempFileTest, NewPrivateFileUnderTmpdir) {
  mode_t old = umask(0);  // a permissive umask must not widen the mode
  std::string name;
  vorn::unique_fd fd(vornTempFd(name));
  umask(old);
  ASSERT_TRUE(fd) << strerror(errno);
  made_.insert(name);
  EXPECT_EQ(parent(name), dir_);

  struct stat st;
  ASSERT_EQ(fstat(fd.get(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_EQ(st.st_uid, geteuid());
  EXPECT_NE(fcntl(fd.get(), F_GETFD) & FD_CLOEXEC, 0);

  // Open for reading and writing, and the name is the file behind the descriptor.
  ASSERT_EQ(write(fd.get(), "abc", 3), 3);
  struct stat by_name;
  ASSERT_EQ(stat(name.c_str(), &by_name), 0);
  EXPECT_EQ(by_name.st_ino, st.st_ino);
  EXPECT_EQ(by_name.st_size, 3);
  char buf[4] = {};
  ASSERT_EQ(pread(fd.get(), buf, 3, 0), 3);
  EXPECT_STREQ(buf, "abc");
}

TEST_F(TempFileTest, RestrictiveUmaskStillLeavesOwnerAccess) {
  mode_t old = umask(0777);
  std::string name;
  vorn::unique_fd fd(vornTempFd(name));
  umask(old);
  ASSERT_TRUE(fd);
  made_.insert(name);
  struct stat st;
  ASSERT_EQ(stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(TempFileTest, NamesAreDistinct) {
  for (int i = 0; i < 200; i++) {
    std::string name;
    vorn::unique_fd fd(vornTempFd(name));
    ASSERT_TRUE(fd);
    EXPECT_TRUE(made_.insert(name).second) << "name reused: " << name;
  }
}

TEST_F(TempFileTest, TmpdirUnsetOrEmptyMeansTmp) {
  for (const char* value : {static_cast<const char*>(nullptr), ""}) {
    if (value)
      setenv("TMPDIR", value, 1);
    else
      unsetenv("TMPDIR");
    std::string name;
    vorn::unique_fd fd(vornTempFd(name));
    ASSERT_TRUE(fd);
    EXPECT_EQ(parent(name), "/tmp");
    unlink(name.c_str());
  }
}

TEST_F(TempFileTest, TrailingSlashAndMissingDirectory) {
  setenv("TMPDIR", (dir_ + "//").c_str(), 1);
  std::string name;
  vorn::unique_fd fd(vornTempFd(name));
  ASSERT_TRUE(fd);
  made_.insert(name);
  EXPECT_EQ(parent(name), dir_);

  setenv("TMPDIR", (dir_ + "/missing").c_str(), 1);
  name = "stale";
  EXPECT_EQ(vornTempFd(name), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_TRUE(name.empty());
  EXPECT_EQ(vornTempFile(name), nullptr);
  EXPECT_TRUE(name.empty());
}

TEST_F(TempFileTest, StreamIsReadWrite) {
  std::string name;
  FILE* fp = vornTempFile(name);
  ASSERT_NE(fp, nullptr);
  made_.insert(name);
  EXPECT_EQ(parent(name), dir_);
  EXPECT_NE(fcntl(fileno(fp), F_GETFD) & FD_CLOEXEC, 0);
  ASSERT_GE(fputs("hello", fp), 0);
  rewind(fp);
  char buf[16] = {};
  ASSERT_NE(fgets(buf, sizeof(buf), fp), nullptr);
  EXPECT_STREQ(buf, "hello");
  fclose(fp);
  struct stat st;
  ASSERT_EQ(stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(st.st_size, 5);
}

}  // namespace
