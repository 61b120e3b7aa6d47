// The error, access and page logs: levels and letters, line formats, file
// names, rotation.
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "scheduler/http/client.h"
#include "scheduler/conf/conf.h"
#include "scheduler/log.h"

namespace {

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/log-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    ServerRoot = root_;
    ServerName = "alpha";
    ErrorLog = "error_log";
    AccessLog = "access_log";
    PageLog = "page_log";
    LogLevel = L_DEBUG2;
    MaxLogSize = 0;
    LogFilePerm = 0644;
    User = ::getuid();
    Group = ::getgid();
  }
  void TearDown() override {
    CloseLogs();
    std::filesystem::remove_all(root_);
  }
  std::string Read(const std::string& name) {
    CloseLogs();
    std::ifstream in(root_ + "/" + name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string root_;
};

TEST_F(LogTest, ALevelIsWrittenWhenNotAboveLogLevel) {
  const char letters[] = " XACEWNIDd";
  for (int configured = L_NONE; configured <= L_DEBUG2; configured++) {
    SCOPED_TRACE(configured);
    std::filesystem::remove(root_ + "/error_log");
    LogLevel = configured;
    for (int level = L_EMERG; level <= L_DEBUG2; level++) EXPECT_EQ(LogDiagnostic(level, "level %d", level), 1);
    std::string log = Read("error_log");
    for (int level = L_EMERG; level <= L_DEBUG2; level++) {
      std::regex line(std::string("(^|\n)") + letters[level] + R"( \[[^\]]+\] level )" + std::to_string(level) + "\n");
      EXPECT_EQ(std::regex_search(log, line), level <= configured) << level << "\n" << log;
    }
  }
}

TEST_F(LogTest, AMessageEndingInANewlineGetsNoEmptyLine) {
  LogDiagnostic(L_ERROR, "one\n");
  LogDiagnostic(L_ERROR, "two");
  std::string log = Read("error_log");
  EXPECT_TRUE(std::regex_match(log, std::regex(R"(E \[[^\]]+\] one\nE \[[^\]]+\] two\n)"))) << log;
}

TEST_F(LogTest, LongMessagesAreCutAt1023Characters) {
  std::string text(5000, 'm');
  LogDiagnostic(L_ERROR, "%s", text.c_str());
  std::string log = Read("error_log");
  size_t start = log.find("] ") + 2;
  EXPECT_EQ(log.size() - start, 1023u + 1u) << "1023 characters and the newline";
}

TEST_F(LogTest, FileNamesAreRelativeToServerRootAndNameTheServer) {
  ErrorLog = root_ + "/error_log.%s";
  LogDiagnostic(L_ERROR, "named");
  EXPECT_NE(Read("error_log.alpha").find("named"), std::string::npos);
}

TEST_F(LogTest, AnEmptyPathWritesNothingAndAMissingDirectoryFails) {
  ErrorLog = "";
  EXPECT_EQ(LogDiagnostic(L_ERROR, "nowhere"), 1);
  ErrorLog = "no/such/dir/error_log";
  EXPECT_EQ(LogDiagnostic(L_ERROR, "lost"), 0);
  EXPECT_EQ(LogDiagnostic(L_DEBUG2 + 1, "filtered before opening"), 1);
}

TEST_F(LogTest, NewLogsGetLogFilePerm) {
  LogFilePerm = 0600;
  LogDiagnostic(L_ERROR, "x");
  CloseLogs();
  struct stat st;
  ASSERT_EQ(::stat((root_ + "/error_log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LogTest, RotationKeepsOneOldGenerationOfWholeLines) {
  MaxLogSize = 1000;
  for (int i = 0; i < 100; i++) LogDiagnostic(L_ERROR, "message number %03d", i);
  std::string current = Read("error_log"), old = Read("error_log.O");
  ASSERT_FALSE(old.empty());
  EXPECT_GT(old.size(), 1000u);
  EXPECT_LT(old.size(), 1100u) << "rotated at the first write past the limit";
  EXPECT_LE(current.size(), 1100u);
  EXPECT_NE(current.find("message number 099\n"), std::string::npos);
  EXPECT_EQ(current[0], 'E');
  EXPECT_EQ(old.back(), '\n');
  // The generation before the last is gone, not appended anywhere.
  EXPECT_EQ((old + current).find("message number 000"), std::string::npos);
}

TEST_F(LogTest, DateStringShowsTheZoneOffsetOfTheMoment) {
  struct Case {
    const char* tz;
    time_t t;
    const char* text;
  };
  const Case cases[] = {
      {"UTC0", 1700000000, "[14/Nov/2023:22:13:20 +0000]"},
      {"EST5EDT,M3.2.0,M11.1.0", 1700000000, "[14/Nov/2023:17:13:20 -0500]"},
      {"EST5EDT,M3.2.0,M11.1.0", 1690000000, "[22/Jul/2023:00:26:40 -0400]"},
      {"IST-5:30", 1700000000, "[15/Nov/2023:03:43:20 +0530]"},
      {"NST3:30", 1700000000, "[14/Nov/2023:18:43:20 -0330]"},
  };
  const char* saved = std::getenv("TZ");
  std::string saved_tz = saved ? saved : "";
  for (const Case& c : cases) {
    ::setenv("TZ", c.tz, 1);
    ::tzset();
    EXPECT_EQ(GetDateString(c.t), c.text) << c.tz;
  }
  if (saved)
    ::setenv("TZ", saved_tz.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}

TEST_F(LogTest, AccessAndPageLinesHaveTheirFormats) {
  client_t con;
  std::strcpy(con.http.hostname, "localhost");
  con.http.version = HTTP_1_1;
  con.request_method = HTTP_POST_RECV;
  con.resource = "/admin/";
  con.request_time = 1700000000;
  con.byte_count = 1234;
  EXPECT_EQ(WriteAccessLine(&con, 200), 1);
  con.username = "alice";
  con.request_method = HTTP_GET_SEND;
  con.http.version = HTTP_1_0;
  EXPECT_EQ(WriteAccessLine(&con, 404), 1);
  std::string date = GetDateString(1700000000);
  EXPECT_EQ(Read("access_log"), "localhost - - " + date + " \"POST /admin/ HTTP/1.1\" 200 1234\n" +
                                    "localhost - alice " + date + " \"GET /admin/ HTTP/1.0\" 404 1234\n");

  EXPECT_EQ(WritePageLine("lab", "bob", 42, "3 2", "acct-7", "client.example.com"), 1);
  EXPECT_EQ(WritePageLine("lab", "", 43, "1 1", "", "localhost"), 1);
  std::string pages = Read("page_log");
  EXPECT_TRUE(std::regex_match(pages, std::regex(R"(lab bob 42 \[[^\]]+\] 3 2 acct-7 client\.example\.com\n)"
                                                 R"(lab - 43 \[[^\]]+\] 1 1 - localhost\n)")))
      << pages;
}

}  // namespace
