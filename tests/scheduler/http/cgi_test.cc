// CGI programs inside the scheduler: the argument vector cut from an options
// text, the error lines relayed to the log, and the output relayed to the
// client (header lines, then the body, chunked or not).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "scheduler/conf/conf.h"
#include "scheduler/http/cgi.h"
#include "scheduler/http/client.h"
#include "scheduler/log.h"
#include "scheduler/server.h"

namespace {

using Args = std::vector<std::string>;

std::string repeat(std::string_view s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; i++) out += s;
  return out;
}

TEST(CGIArguments, SplitsDecodesAndStopsAsTheTableSays) {
  const std::string cmd = "/srv/bin/cgi-bin/printers.cgi";
  const struct {
    const char* what;
    std::string options;
    Args want;
  } cases[] = {
      {"plus and blank split, %20 does not", "a+b%20c", {"a", "b c"}},
      {"script name and query", "lab which=1", {"lab", "which=1"}},
      {"a run of blanks is one split", "a   b", {"a", "b"}},
      {"each plus splits", "a++b", {"a", "", "b"}},
      {"trailing blanks add nothing", "a  ", {"a"}},
      {"a trailing plus ends an empty word", "a+", {"a", ""}},
      {"splitting stops at ?", "lab?which=1", {"lab"}},
      {"? after a split", "a+b?c+d", {"a", "b"}},
      {"empty text: the program's name", "", {"printers.cgi"}},
      {"empty first word: the program's name", " x", {"printers.cgi", "x"}},
      {"only a query: the program's name", "?x=1", {"printers.cgi"}},
      {"%XX in either case", "%41%62%2b%2B", {"Ab++"}},
      {"a split character decoded is no split", "x%2By%3Fz", {"x+y?z"}},
      {"not two hexadecimal digits: kept", "100%+%4", {"100%", "%4"}},
      {"%G1 is no escape", "%G1", {"%G1"}},
      {"%00 stays as it is", "a%00b", {"a%00b"}},
      {"a byte above 127", "%E9t%C3%A9", {"\xe9t\xc3\xa9"}},
      {"a NUL ends the text", std::string("a+b\0c+d", 7), {"a", "b"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CGIArguments(cmd, c.options), c.want);
  }
}

TEST(CGIArguments, KeepsEveryLimit) {
  const std::string cmd = "/x/prog";
  // 98 arguments at most: the 99th and later words are dropped.
  std::string many;
  for (int i = 0; i < 150; i++) many += (i ? "+" : "") + std::to_string(i);
  Args got = CGIArguments(cmd, many);
  ASSERT_EQ(got.size(), kMaxCGIArgs);
  EXPECT_EQ(got.front(), "0");
  EXPECT_EQ(got.back(), "97");

  // Exactly 98 words, and 98 followed by a trailing split.
  std::string exact;
  for (int i = 0; i < 98; i++) exact += (i ? " " : "") + std::to_string(i);
  EXPECT_EQ(CGIArguments(cmd, exact).size(), 98u);
  EXPECT_EQ(CGIArguments(cmd, exact + "+").size(), 98u);
  EXPECT_EQ(CGIArguments(cmd, exact + "+extra").back(), "97");

  // Only the first 10239 characters count.
  std::string longer = repeat("a", kMaxCGIOptions - 1) + "bcd";
  got = CGIArguments(cmd, longer);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], repeat("a", kMaxCGIOptions - 1) + "b");
  // A split just past the limit is not seen; one just before is.
  got = CGIArguments(cmd, repeat("a", kMaxCGIOptions) + "+b");
  EXPECT_EQ(got, Args{repeat("a", kMaxCGIOptions)});
  got = CGIArguments(cmd, repeat("a", kMaxCGIOptions - 2) + "+b+c");
  EXPECT_EQ(got, (Args{repeat("a", kMaxCGIOptions - 2), "b"}));
  // An escape cut by the limit is not decoded from beyond it.
  got = CGIArguments(cmd, repeat("a", kMaxCGIOptions - 2) + "%41");
  EXPECT_EQ(got, Args{repeat("a", kMaxCGIOptions - 2) + "%4"});
}

TEST(CGILogLine, PrefixesGiveLevels) {
  const struct {
    const char* line;
    bool logged;
    int level;
    const char* text;
  } cases[] = {
      {"EMERG: a", true, L_EMERG, "a"},
      {"ALERT: a", true, L_ALERT, "a"},
      {"CRIT: a", true, L_CRIT, "a"},
      {"ERROR: disk full", true, L_ERROR, "disk full"},
      {"ERROR:\t  spaced", true, L_ERROR, "spaced"},
      {"WARNING: w", true, L_WARN, "w"},
      {"NOTICE: n", true, L_NOTICE, "n"},
      {"INFO: i", true, L_INFO, "i"},
      {"DEBUG: d", true, L_DEBUG, "d"},
      {"DEBUG2: d2", true, L_DEBUG2, "d2"},
      {"PAGE: 1 1", false, 0, ""},
      {"something else", true, L_DEBUG, "something else"},
      {"error: lower case is no prefix", true, L_DEBUG, "error: lower case is no prefix"},
      {"", true, L_DEBUG, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    int level = -1;
    std::string_view text;
    ASSERT_EQ(CGILogLine(c.line, &level, &text), c.logged);
    if (!c.logged) continue;
    EXPECT_EQ(level, c.level);
    EXPECT_EQ(text, c.text);
  }
}

class CGIErrorPipe : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/cgi-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    ServerRoot = root_;
    ErrorLog = "error_log";
    LogLevel = L_DEBUG2;
    MaxLogSize = 0;
    LogFilePerm = 0644;
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    CGIPipeRead.reset(fds[0]);
    CGIPipeWrite.reset(fds[1]);
  }
  void TearDown() override {
    CGIPipeRead.reset();
    CGIPipeWrite.reset();
    CloseLogs();
    std::filesystem::remove_all(root_);
  }
  void Write(std::string_view text) {
    ASSERT_EQ(::write(CGIPipeWrite.get(), text.data(), text.size()), ssize_t(text.size()));
  }
  std::string Log() {
    CloseLogs();
    std::ifstream in(root_ + "/error_log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string root_;
};

// One log line: its letter, then the date, then the message.
std::regex LogLine(char letter, const std::string& message) {
  return std::regex(std::string("(^|\n)") + letter + R"( \[[^\]]+\] )" + message + "\n");
}

TEST_F(CGIErrorPipe, CompleteLinesAreLoggedAtTheirLevelsAndPartialOnesWait) {
  Write("ERROR: disk full\nPAGE: 1 1\nno prefix here\nWARNING: half ");
  UpdateCGI();
  std::string log = Log();
  EXPECT_TRUE(std::regex_search(log, LogLine('E', R"(\[CGI\] disk full)"))) << log;
  EXPECT_TRUE(std::regex_search(log, LogLine('D', R"(\[CGI\] no prefix here)"))) << log;
  EXPECT_EQ(log.find("PAGE"), std::string::npos) << log;
  EXPECT_EQ(log.find("half"), std::string::npos) << "a partial line waits for its end\n" << log;

  // The rest of the line arrives in the next read.
  Write("a line\nINFO: x");
  UpdateCGI();
  log = Log();
  EXPECT_TRUE(std::regex_search(log, LogLine('W', R"(\[CGI\] half a line)"))) << log;
  EXPECT_EQ(log.find("] x"), std::string::npos) << log;

  // At the end of the pipe the partial line is logged, then the failure.
  CGIPipeWrite.reset();
  UpdateCGI();
  log = Log();
  EXPECT_TRUE(std::regex_search(log, LogLine('I', R"(\[CGI\] x)"))) << log;
  EXPECT_TRUE(std::regex_search(log, LogLine('E', "UpdateCGI: error reading from CGI error pipe - .*"))) << log;
}

TEST_F(CGIErrorPipe, ALineLongerThanTheBufferIsLoggedInPieces) {
  std::string line = "ERROR: " + repeat("x", 3000) + "\n";
  Write(line);
  for (int i = 0; i < 5; i++) UpdateCGI();
  std::string log = Log();
  // Every byte of the line reaches the log, none is lost or overflows.
  size_t xs = 0;
  for (char c : log) xs += c == 'x';
  EXPECT_EQ(xs, 3000u) << log.substr(0, 300);
  EXPECT_GE(std::count(log.begin(), log.end(), '\n'), 3);
}

TEST(RelayCGIOutput, HeaderLinesThenTheBody) {
  const struct {
    const char* what;
    bool chunked;
    std::vector<std::string> pieces;  // as the program's pipe gives them
    std::string want;
  } cases[] = {
      {"plain, LF lines", false, {"Content-Type: text/html\n\n<p>hi</p>"}, "Content-Type: text/html\r\n\r\n<p>hi</p>"},
      {"plain, CRLF lines", false, {"A: 1\r\nB: 2\r\n\r\nbody"}, "A: 1\r\nB: 2\r\n\r\nbody"},
      {"a header line cut between reads", false, {"Content-Ty", "pe: text/plain\r", "\n", "\r\nx"},
       "Content-Type: text/plain\r\n\r\nx"},
      {"chunked body pieces", true, {"A: 1\n\nhello", " world"}, "A: 1\r\n\r\n5\r\nhello\r\n6\r\n world\r\n"},
      {"no body yet", true, {"A: 1\n\n"}, "A: 1\r\n\r\n"},
      {"blank lines in the body stay", false, {"A: 1\n\n\n\nb\r\n"}, "A: 1\r\n\r\n\n\nb\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    client_t con;
    con.http.data_encoding = c.chunked ? HTTP_ENCODE_CHUNKED : HTTP_ENCODE_LENGTH;
    for (const std::string& p : c.pieces) RelayCGIOutput(&con, p);
    EXPECT_EQ(con.output, c.want);
    EXPECT_TRUE(con.cgi_headers_done);
  }
}

TEST(RelayCGIOutput, AnUnfinishedHeaderIsEndedAndALongLineCut) {
  client_t con;
  RelayCGIOutput(&con, "Content-Type: text/plain\nX-Half: ab");
  EndCGIOutput(&con);
  EXPECT_EQ(con.output, "Content-Type: text/plain\r\nX-Half: ab\r\n\r\n");

  client_t quiet;  // a program that wrote nothing at all
  EndCGIOutput(&quiet);
  EXPECT_EQ(quiet.output, "\r\n");

  client_t big;
  RelayCGIOutput(&big, "X-Long: " + repeat("y", kMaxCGIHeaderLine));
  RelayCGIOutput(&big, repeat("y", 5000) + "\n\nbody");
  EXPECT_EQ(big.output, "X-Long: " + repeat("y", kMaxCGIHeaderLine - 8) + "\r\n\r\nbody");
}

}  // namespace
