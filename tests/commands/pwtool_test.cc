// pwtool run as a real process on a pseudo-terminal (it reads passwords
// from the terminal), on a passwd.md5 in a temporary directory; then the
// entries it writes used for Digest and BasicDigest logins with curl against
// a running vornd.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "pty_run.h"
#include "vorn/http.h"

namespace {

using namespace e2e;
using commands::PtyRun;
using commands::RunOnPty;

// Runs pwtool with `args`, answering each password prompt with the next of
// `answers`; as `uid` when not -1, with LD_LIBRARY_PATH `library_path` when
// not empty.
PtyRun RunPwtool(const std::string& server_root, const std::vector<std::string>& args,
                 const std::vector<std::string>& answers, uid_t uid = uid_t(-1),
                 const std::string& library_path = "") {
  std::vector<std::string> argv{PWTOOL_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunOnPty(argv, answers, "Enter ", [&] {
    ::setenv("VORN_SERVERROOT", server_root.c_str(), 1);
    if (!library_path.empty()) ::setenv("LD_LIBRARY_PATH", library_path.c_str(), 1);
    return uid == uid_t(-1) || ::setuid(uid) == 0;
  });
}

std::string digest(const std::string& user, const std::string& password) {
  char md5[33];
  httpMD5(user.c_str(), "VORN", password.c_str(), md5);
  return md5;
}

class Pwtool : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vorn-pwtool-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string File() const { return ReadFile(dir_ + "/passwd.md5"); }
  std::string dir_;
};

TEST_F(Pwtool, AddChangeAndDelete) {
  if (::getuid() != 0) GTEST_SKIP() << "adding and deleting entries is for the super-user";
  PtyRun r = RunPwtool(dir_, {"-g", "staff", "-a", "bob"}, {"secret1", "secret1"});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(File(), "bob:staff:" + digest("bob", "secret1") + "\n");
  struct stat st {};
  ASSERT_EQ(::stat((dir_ + "/passwd.md5").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  // Lines that do not read as entries are lost before the changed entry and
  // kept after it; the changed entry moves to the end.
  WriteFile(dir_ + "/passwd.md5",
            "junk before\nann:staff:" + digest("ann", "x") + "\nbob:staff:" + digest("bob", "secret1") +
                "\njunk after\ncarl:staff:" + digest("carl", "y") + "\n",
            0600);
  r = RunPwtool(dir_, {"-g", "staff", "bob"}, {"secret2", "secret2"});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(File(), "ann:staff:" + digest("ann", "x") + "\njunk after\ncarl:staff:" + digest("carl", "y") +
                        "\nbob:staff:" + digest("bob", "secret2") + "\n");

  r = RunPwtool(dir_, {"-gx", "staff", "ann"}, {});
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(File(), "junk after\ncarl:staff:" + digest("carl", "y") + "\nbob:staff:" + digest("bob", "secret2") +
                        "\n");

  // Changing an entry that does not exist adds nothing (the file is still
  // rewritten: with no entry found, no unreadable line is kept).
  r = RunPwtool(dir_, {"-g", "other", "bob"}, {"secret3", "secret3"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("pwtool: user \"bob\" and group \"other\" do not exist."), std::string::npos) << r.output;
  EXPECT_EQ(File(), "carl:staff:" + digest("carl", "y") + "\nbob:staff:" + digest("bob", "secret2") + "\n");
}

TEST_F(Pwtool, RefusedPasswordsAndRequests) {
  if (::getuid() != 0) GTEST_SKIP() << "adding entries is for the super-user";
  const std::string rejected = "pwtool: Sorry, password rejected.";
  const struct {
    const char* what;
    std::vector<std::string> args, answers;
    const char* message;
  } cases[] = {
      {"five characters", {"-a", "bob"}, {"abc12", "abc12"}, rejected.c_str()},
      {"no digit", {"-a", "bob"}, {"abcdefg", "abcdefg"}, rejected.c_str()},
      {"no letter", {"-a", "bob"}, {"1234567", "1234567"}, rejected.c_str()},
      {"contains the user name", {"-a", "bob"}, {"xbob123", "xbob123"}, rejected.c_str()},
      {"answers differ", {"-a", "bob"}, {"secret1", "secret2"}, "pwtool: Sorry, passwords don't match!"},
      {"a name that cannot be stored", {"-a", "bo:b"}, {}, "pwtool: User and group names"},
      {"unknown option", {"-q"}, {}, "Usage: pwtool [-g groupname] [username]"},
      {"two user names", {"bob", "ann"}, {}, "Usage: pwtool"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PtyRun r = RunPwtool(dir_, c.args, c.answers);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/passwd.md5"));
  }

  // Another run at work (its lock file exists): nothing is touched.
  WriteFile(dir_ + "/passwd.new", "", 0400);
  PtyRun r = RunPwtool(dir_, {"-a", "bob"}, {"secret1", "secret1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("pwtool: Password file busy!"), std::string::npos) << r.output;
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/passwd.md5"));
}

TEST_F(Pwtool, OrdinaryUsersChangeOnlyTheirOwnPassword) {
  const passwd* nobody = ::getpwnam("nobody");
  if (::getuid() != 0 || !nobody) GTEST_SKIP() << "needs root to run as the user nobody";
  PtyRun r = RunPwtool(dir_, {"-a"}, {}, nobody->pw_uid);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("pwtool: Only root can add or delete passwords!"), std::string::npos) << r.output;
  r = RunPwtool(dir_, {"someone"}, {}, nobody->pw_uid);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("pwtool: Only root can add or delete passwords!"), std::string::npos) << r.output;
}

// What pwtool writes is what the scheduler checks Digest and BasicDigest
// answers against.
TEST_F(Pwtool, DigestLoginsWithWhatItWrote) {
  if (::getuid() != 0) GTEST_SKIP() << "adding entries is for the super-user";
  std::string curl = FindProgram("curl");
  if (curl.empty()) GTEST_SKIP() << "curl is needed";
  ServerRoot root;
  for (const char* dir : {"digest", "bd"}) {
    std::filesystem::create_directories(root.file(std::string("doc/") + dir));
    ASSERT_TRUE(WriteFile(root.file(std::string("doc/") + dir + "/index.html"), "ok\n"));
  }
  root.WriteConfig(
      "<Location /digest>\nAuthType Digest\nRequire user dora\n</Location>\n"
      "<Location /bd>\nAuthType BasicDigest\nRequire group staff\n</Location>\n");
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground()) << vornd.Stderr();
  auto status = [&](const char* path, const char* scheme, const std::string& credentials) {
    RunResult r = RunProgram({curl, "-s", "-o", "/dev/null", "-w", "%{http_code}", "--max-time", "20", scheme, "-u",
                              credentials, "http://127.0.0.1:" + std::to_string(root.port()) + path},
                             40s);
    return std::atoi(r.out.c_str());
  };

  ASSERT_EQ(RunPwtool(root.path(), {"-g", "staff", "-a", "dora"}, {"first1", "first1"}).status, 0);
  EXPECT_EQ(status("/digest/", "--digest", "dora:first1"), 200);
  EXPECT_EQ(status("/digest/", "--digest", "dora:first2"), 401);
  EXPECT_EQ(status("/bd/", "--basic", "dora:first1"), 200);
  EXPECT_EQ(status("/bd/", "--basic", "dora:first2"), 401);

  ASSERT_EQ(RunPwtool(root.path(), {"-g", "staff", "dora"}, {"second2", "second2"}).status, 0);
  EXPECT_EQ(status("/digest/", "--digest", "dora:first1"), 401);
  EXPECT_EQ(status("/digest/", "--digest", "dora:second2"), 200);

  ASSERT_EQ(RunPwtool(root.path(), {"-g", "staff", "-x", "dora"}, {}).status, 0);
  EXPECT_EQ(status("/digest/", "--digest", "dora:second2"), 401);
  EXPECT_EQ(status("/bd/", "--basic", "dora:second2"), 401);
}

}  // namespace

// Without a usable crypto library (a "libcrypto.so.3" that is the C library
// found first) no digest can be made: pwtool says so and the file keeps its
// entry instead of getting an empty digest.
TEST_F(Pwtool, NoDigestWithoutTheCryptoLibrary) {
  if (::getuid() != 0) GTEST_SKIP() << "changing another user's entry is for the super-user";
  Dl_info info{};
  ASSERT_NE(::dladdr(reinterpret_cast<void*>(&::printf), &info), 0);
  const std::string fake = dir_ + "/fake-lib";
  std::filesystem::create_directories(fake);
  std::filesystem::create_symlink(std::filesystem::canonical(info.dli_fname), fake + "/libcrypto.so.3");
  const std::string before = "bob:staff:" + digest("bob", "secret1") + "\n";
  WriteFile(dir_ + "/passwd.md5", before, 0600);

  for (const std::vector<std::string>& args : {std::vector<std::string>{"-g", "staff", "bob"},
                                               std::vector<std::string>{"-g", "staff", "-a", "ann"}}) {
    SCOPED_TRACE(args.back());
    PtyRun r = RunPwtool(dir_, args, {"secret2", "secret2"}, uid_t(-1), fake);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("pwtool: Unable to compute the password digest!"), std::string::npos) << r.output;
    EXPECT_EQ(File(), before);
  }
}
