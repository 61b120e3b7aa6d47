// The error log of a running scheduler: what each LogLevel lets through,
// and rotation at MaxLogSize.
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "harness.h"

namespace {

using namespace e2e;

struct LevelCase {
  const char* level;
  const char* present;  // level letters that must appear
  const char* absent;   // level letters that must not
};

// Letters of the lines in `log`.
std::string letters_of(const std::string& log) {
  std::string letters;
  size_t start = 0;
  while (start < log.size()) {
    if (letters.find(log[start]) == std::string::npos) letters += log[start];
    size_t nl = log.find('\n', start);
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  return letters;
}

TEST(ErrorLog, EachLogLevelKeepsItsLevelAndTheMoreUrgentOnes) {
  // A run produces error (unknown directive, SIGTERM), warn (bad
  // HostNameLookups), info, debug and debug2 lines.
  const LevelCase cases[] = {
      {"none", "", "EWIDd"},       {"error", "E", "WIDd"},    {"warn", "EW", "IDd"},
      {"info", "EWI", "Dd"},       {"debug", "EWID", "d"},    {"debug2", "EWIDd", ""},
  };
  for (const LevelCase& c : cases) {
    SCOPED_TRACE(c.level);
    ServerRoot root;
    root.WriteConfig(std::string("LogLevel ") + c.level + "\nNoSuchDirective 1\nHostNameLookups sometimes\n");
    Vornd vornd(root);
    ASSERT_TRUE(vornd.StartForeground()) << vornd.Stderr();
    int status = vornd.Stop();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    std::string log = root.ErrorLog();
    std::string letters = letters_of(log);
    for (const char* p = c.present; *p; p++) EXPECT_NE(letters.find(*p), std::string::npos) << *p << "\n" << log;
    for (const char* a = c.absent; *a; a++) EXPECT_EQ(letters.find(*a), std::string::npos) << *a << "\n" << log;
  }
}

TEST(ErrorLog, LinesHaveTheLetterTheDateAndTheMessage) {
  ServerRoot root;
  root.WriteConfig("LogLevel warn\nHostNameLookups sometimes\n");
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground());
  vornd.Stop();
  std::string log = root.ErrorLog();
  std::regex line(R"(W \[\d\d/[A-Z][a-z][a-z]/\d{4}:\d\d:\d\d:\d\d [+-]\d{4}\] )"
                  R"(ReadConfiguration\(\) Unknown HostNameLookups sometimes on line \d+\.\n)");
  EXPECT_TRUE(std::regex_search(log, line)) << log;
}

struct RotationCase {
  const char* max_log_size;
  bool rotates;
};

TEST(ErrorLog, RotatesAtMaxLogSizeKeepingOneOldGeneration) {
  const RotationCase cases[] = {{"2k", true}, {"0", false}};
  for (const RotationCase& c : cases) {
    SCOPED_TRACE(c.max_log_size);
    ServerRoot root;
    root.WriteConfig(std::string("LogLevel debug2\nMaxLogSize ") + c.max_log_size + "\n");
    Vornd vornd(root);
    ASSERT_TRUE(vornd.StartForeground());
    // Each connection adds a handful of debug lines.
    for (int i = 0; i < 12; i++) {
      int fd = ConnectTo(root.port());
      ASSERT_GE(fd, 0);
      ::close(fd);
    }
    ASSERT_TRUE(root.WaitForLog("CloseClient() ", kWait));
    // Without rotation every connection's lines are there to count: all
    // twelve are logged before the stop.
    if (!c.rotates) {
      ASSERT_TRUE(WaitUntil([&] { return count_of(root.ErrorLog(), "CloseClient() ") >= 12; }));
    }
    vornd.Stop();

    std::string log = root.ErrorLog(), old = ReadFile(root.file("logs/error_log.O"));
    if (!c.rotates) {
      EXPECT_FALSE(FileExists(root.file("logs/error_log.O")));
      EXPECT_GT(log.size(), 4096u);
      continue;
    }
    ASSERT_TRUE(FileExists(root.file("logs/error_log.O")));
    // A log is rotated once it has grown beyond the limit, so the old
    // generation is just over it and the current one holds whole lines.
    EXPECT_GT(old.size(), 2048u);
    EXPECT_LT(old.size(), 2048u + 1100u);
    EXPECT_LT(log.size(), 2048u + 1100u);
    EXPECT_TRUE(log.empty() || (log.back() == '\n' && log[1] == ' ' && log[2] == '[')) << log;
    EXPECT_NE((old + log).find("Scheduler shutting down due to SIGTERM."), std::string::npos);
    struct stat st;
    ASSERT_EQ(::stat(root.file("logs/error_log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u) << "LogFilePerm";
  }
}

TEST(ErrorLog, LogFilePermSetsTheModeOfNewLogs) {
  ServerRoot root;
  root.WriteConfig("LogFilePerm 0600\n");
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground());
  vornd.Stop();
  struct stat st;
  ASSERT_EQ(::stat(root.file("logs/error_log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
