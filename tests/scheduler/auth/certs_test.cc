// Local certificates in a temporary server root: the files, their modes and
// owners, renewal and removal.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "scheduler/auth/certs.h"
#include "scheduler/conf/conf.h"
#include "scheduler/log.h"

namespace {

class CertsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ErrorLog.clear();
    LogLevel = L_NONE;
    char tmpl[] = "/tmp/vorn-certs-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    ServerRoot = root_;
    RunAsUser = 0;
    SystemGroups = {"sys"};
    User = 7;   // as for an account "lp"
    Group = 7;
    RootCertDuration = 300;
  }
  void TearDown() override {
    DeleteAllCerts();
    std::filesystem::remove_all(root_);
  }
  std::string Read(pid_t pid) {
    std::ifstream in(root_ + "/certs/" + std::to_string(pid));
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string root_;
};

bool is_certificate(const std::string& text) {
  if (text.size() != 32) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

TEST_F(CertsTest, FilesHoldTheTextWithTheirModesAndOwners) {
  InitCertificates();
  ASSERT_TRUE(AddCert(1234, "alice"));
  struct stat dir {};
  ASSERT_EQ(::stat((root_ + "/certs").c_str(), &dir), 0);
  EXPECT_EQ(dir.st_mode & 07777, 0711u);

  const struct {
    pid_t pid;
    const char* user;
    mode_t mode;
    bool owner_is_filter_user;
  } cases[] = {{0, "root", 0440, false}, {1234, "alice", 0400, true}};
  for (const auto& c : cases) {
    std::string text = Read(c.pid);
    EXPECT_TRUE(is_certificate(text)) << text;
    ASSERT_NE(LookupCert(text), nullptr);
    EXPECT_STREQ(LookupCert(text), c.user);
    struct stat st {};
    ASSERT_EQ(::stat((root_ + "/certs/" + std::to_string(c.pid)).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode) << c.pid;
    if (::getuid() == 0) {
      if (c.owner_is_filter_user) {
        EXPECT_EQ(st.st_uid, User);
        EXPECT_EQ(st.st_gid, Group);
      } else {
        const group* sys = ::getgrnam("sys");
        EXPECT_EQ(st.st_uid, 0u);
        EXPECT_EQ(st.st_gid, sys ? sys->gr_gid : 0u);
      }
    }
  }
  EXPECT_EQ(LookupCert("0123456789ABCDEF0123456789ABCDEF"), nullptr);
  EXPECT_EQ(LookupCert(""), nullptr);
}

TEST_F(CertsTest, CertificatesAreNotRepeated) {
  InitCertificates();
  std::set<std::string> seen{Read(0)};
  for (int i = 0; i < 200; i++) {
    ASSERT_TRUE(AddCert(pid_t(100 + i), "u"));
    seen.insert(Read(pid_t(100 + i)));
  }
  EXPECT_EQ(seen.size(), 201u);
}

TEST_F(CertsTest, DeletingRemovesTheFileAndTheEntry) {
  InitCertificates();
  ASSERT_TRUE(AddCert(55, "bob"));
  std::string text = Read(55);
  DeleteCert(55);
  EXPECT_FALSE(std::filesystem::exists(root_ + "/certs/55"));
  EXPECT_EQ(LookupCert(text), nullptr);
  DeleteCert(55);  // nothing left: no harm
  ASSERT_TRUE(AddCert(56, "bob"));
  DeleteAllCerts();
  EXPECT_FALSE(std::filesystem::exists(root_ + "/certs/56"));
  EXPECT_FALSE(std::filesystem::exists(root_ + "/certs/0"));
  EXPECT_TRUE(Certs.empty());
}

TEST_F(CertsTest, TheRootCertificateIsRenewedAfterItsDuration) {
  InitCertificates();
  std::string first = Read(0);
  time_t made = RootCertTime;
  RenewRootCert(made + 299);
  EXPECT_EQ(Read(0), first);
  RenewRootCert(made + 300);
  std::string second = Read(0);
  EXPECT_TRUE(is_certificate(second));
  EXPECT_NE(second, first);
  EXPECT_EQ(LookupCert(first), nullptr);  // the old one no longer admits
  EXPECT_STREQ(LookupCert(second), "root");
  RootCertDuration = 0;  // never renewed
  RenewRootCert(RootCertTime + 100000);
  EXPECT_EQ(Read(0), second);
}

TEST_F(CertsTest, AMissingDirectoryAddsNothing) {
  ServerRoot = root_ + "/nowhere";
  EXPECT_FALSE(AddCert(9, "carol"));
  EXPECT_TRUE(Certs.empty());
}

}  // namespace
