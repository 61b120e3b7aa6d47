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

// The answer as the client gets it, with the Date line (which changes from
// second to second) taken out; empty when there was no Date line.
std::string Answer(const client_t& con) {
  static const std::regex date("\r\nDate: [^\r\n]+ GMT\r\n");
  if (!std::regex_search(con.output, date)) return "";
  return std::regex_replace(con.output, date, "\r\n", std::regex_constants::format_first_only);
}

constexpr const char* kHead11 = "HTTP/1.1 200 OK\r\nServer: VORN/1.1\r\n";
constexpr const char* kChunked = "Transfer-Encoding: chunked\r\n";

TEST(RelayCGIOutput, HeaderLinesThenTheBody) {
  const struct {
    const char* what;
    bool chunked;
    std::vector<std::string> pieces;  // as the program's pipe gives them
    std::string want;                 // after the status line and Server
  } cases[] = {
      {"plain, LF lines", false, {"Content-Type: text/html\n\n<p>hi</p>"}, "Content-Type: text/html\r\n\r\n<p>hi</p>"},
      {"plain, CRLF lines", false, {"A: 1\r\nB: 2\r\n\r\nbody"}, "A: 1\r\nB: 2\r\n\r\nbody"},
      {"a header line cut between reads", false, {"Content-Ty", "pe: text/plain\r", "\n", "\r\nx"},
       "Content-Type: text/plain\r\n\r\nx"},
      {"chunked body pieces", true, {"A: 1\n\nhello", " world"},
       std::string(kChunked) + "A: 1\r\n\r\n5\r\nhello\r\n6\r\n world\r\n"},
      {"no body yet", true, {"A: 1\n\n"}, std::string(kChunked) + "A: 1\r\n\r\n"},
      {"blank lines in the body stay", false, {"A: 1\n\n\n\nb\r\n"}, "A: 1\r\n\r\n\n\nb\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    client_t con;
    con.http.data_encoding = c.chunked ? HTTP_ENCODE_CHUNKED : HTTP_ENCODE_LENGTH;
    for (const std::string& p : c.pieces) RelayCGIOutput(&con, p);
    EXPECT_EQ(Answer(con), kHead11 + c.want);
    EXPECT_TRUE(con.cgi_headers_done);
  }
}

// Nothing reaches the client before the header block is complete: a
// "Status:" line may still come.
TEST(RelayCGIOutput, TheStatusLineWaitsForTheWholeBlock) {
  client_t con;
  RelayCGIOutput(&con, "Content-Type: text/plain\nLocation: /a\n");
  EXPECT_EQ(con.output, "");
  RelayCGIOutput(&con, "Status: 201 Made\n\nok");
  EXPECT_EQ(Answer(con), "HTTP/1.1 201 Made\r\nServer: VORN/1.1\r\nContent-Type: text/plain\r\nLocation: /a\r\n\r\nok");
  EXPECT_EQ(con.cgi_status, HTTP_CREATED);
}

TEST(RelayCGIOutput, StatusAndLocationLinesSetTheStatusLine) {
  const struct {
    const char* what;
    std::string block;     // the program's header block and body
    std::string status;    // the status line sent
    std::string relayed;   // the program's lines relayed, the empty line and the body
    int code;              // the status kept for the access log
  } cases[] = {
      {"a redirect after a form", "Status: 303 See Other\nLocation: /admin\n\n", "303 See Other",
       "Location: /admin\r\n\r\n", 303},
      {"a Location alone", "Location: http://h/x\nContent-Type: text/html\n\n<a>", "302 Moved Temporarily",
       "Location: http://h/x\r\nContent-Type: text/html\r\n\r\n3\r\n<a>\r\n", 302},
      {"a Location with a status of its own", "location: /new\nStatus: 201\n\n", "201 Created",
       "location: /new\r\n\r\n", 201},
      {"names in any case, no reason text", "sTaTuS: 404\nContent-Type: text/plain\n\nnope", "404 Not Found",
       "Content-Type: text/plain\r\n\r\n4\r\nnope\r\n", 404},
      {"a reason text of the program's", "Status: 418 Short and stout\n\n", "418 Short and stout", "\r\n", 418},
      {"no blank after the colon, tabs around", "Status:\t503\t\n\n", "503 Service Unavailable", "\r\n", 503},
      {"a reason with control characters", "Status: 500 bad\x01text\n\n", "500 Internal Server Error", "\r\n",
       500},
      {"the first status counts", "Status: 303 See Other\nStatus: 500 Oops\nLocation: /\n\n", "303 See Other",
       "Location: /\r\n\r\n", 303},
      {"above 599", "Status: 600 Too Far\n\n", "200 OK", "\r\n", 200},
      {"below 100", "Status: 099 Low\n\n", "200 OK", "\r\n", 200},
      {"informational", "Status: 100 Continue\n\n", "200 OK", "\r\n", 200},
      {"four digits", "Status: 3030 See Other\n\n", "200 OK", "\r\n", 200},
      {"two digits", "Status: 30\n\n", "200 OK", "\r\n", 200},
      {"not a number", "Status: OK\n\n", "200 OK", "\r\n", 200},
      {"a sign", "Status: +303\n\n", "200 OK", "\r\n", 200},
      {"empty", "Status:\n\n", "200 OK", "\r\n", 200},
      {"a bad status, then a Location", "Status: 999\nLocation: /x\n\n", "302 Moved Temporarily",
       "Location: /x\r\n\r\n", 302},
      {"a field that only looks like one", "X-Status: 404\nLocations: /x\n\n", "200 OK",
       "X-Status: 404\r\nLocations: /x\r\n\r\n", 200},
      {"no header block at all", "", "200 OK", "\r\n", 200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    client_t con;
    con.http.data_encoding = HTTP_ENCODE_CHUNKED;
    RelayCGIOutput(&con, c.block);
    EndCGIOutput(&con);
    EXPECT_EQ(Answer(con), "HTTP/1.1 " + c.status + "\r\nServer: VORN/1.1\r\n" + kChunked + c.relayed);
    EXPECT_EQ(int(con.cgi_status), c.code);
  }
}

TEST(RelayCGIOutput, AnswersWithoutABodyDropItAndAreNotChunked) {
  for (const char* status : {"204 No Content", "304 Not Modified"}) {
    SCOPED_TRACE(status);
    client_t con;
    con.http.data_encoding = HTTP_ENCODE_CHUNKED;
    RelayCGIOutput(&con, std::string("Status: ") + status + "\nX-A: 1\n\nnot for the client");
    RelayCGIOutput(&con, "nor this");
    EndCGIOutput(&con);
    EXPECT_EQ(Answer(con), std::string("HTTP/1.1 ") + status + "\r\nServer: VORN/1.1\r\nX-A: 1\r\n\r\n");
    // No closing chunk follows either.
    EXPECT_EQ(con.http.data_encoding, HTTP_ENCODE_LENGTH);
  }
}

TEST(RelayCGIOutput, TheStatusLineFollowsTheConnection) {
  client_t con;
  con.http.version = HTTP_1_0;
  con.http.keep_alive = HTTP_KEEPALIVE_OFF;
  RelayCGIOutput(&con, "Status: 303 See Other\r\nLocation: /jobs\r\n\r\nbody");
  EXPECT_EQ(Answer(con), "HTTP/1.0 303 See Other\r\nServer: VORN/1.1\r\nLocation: /jobs\r\n\r\nbody");

  client_t kept;
  kept.http.keep_alive = HTTP_KEEPALIVE_ON;
  kept.http.data_encoding = HTTP_ENCODE_CHUNKED;
  RelayCGIOutput(&kept, "Location: /\n\n");
  std::string answer = Answer(kept);
  EXPECT_TRUE(answer.starts_with("HTTP/1.1 302 Moved Temporarily\r\n")) << answer;
  EXPECT_NE(answer.find("\r\nConnection: Keep-Alive\r\n"), std::string::npos) << answer;
  EXPECT_TRUE(answer.ends_with("\r\nTransfer-Encoding: chunked\r\nLocation: /\r\n\r\n")) << answer;
}

TEST(RelayCGIOutput, AnUnfinishedHeaderIsEndedAndALongLineCut) {
  client_t con;
  RelayCGIOutput(&con, "Content-Type: text/plain\nX-Half: ab");
  EndCGIOutput(&con);
  EXPECT_EQ(Answer(con), std::string(kHead11) + "Content-Type: text/plain\r\nX-Half: ab\r\n\r\n");

  client_t quiet;  // a program that wrote nothing at all
  EndCGIOutput(&quiet);
  EXPECT_EQ(Answer(quiet), std::string(kHead11) + "\r\n");

  client_t half;  // a Status line the program did not end
  RelayCGIOutput(&half, "Status: 404 Gone Away");
  EndCGIOutput(&half);
  EXPECT_EQ(Answer(half), "HTTP/1.1 404 Gone Away\r\nServer: VORN/1.1\r\n\r\n");

  client_t big;
  RelayCGIOutput(&big, "X-Long: " + repeat("y", kMaxCGIHeaderLine));
  RelayCGIOutput(&big, repeat("y", 5000) + "\n\nbody");
  EXPECT_EQ(Answer(big), kHead11 + ("X-Long: " + repeat("y", kMaxCGIHeaderLine - 8) + "\r\n\r\nbody"));
}

// A program that never ends its header block cannot make the scheduler
// hold more than the block limit; its status still counts.
TEST(RelayCGIOutput, TheHeaderBlockIsBounded) {
  client_t con;
  const std::string line = "X-Many: " + repeat("m", 990) + "\n";
  for (int i = 0; i < 200; i++) RelayCGIOutput(&con, line);
  EXPECT_LE(con.cgi_fields.size(), kMaxCGIHeaderBlock);
  EXPECT_GT(con.cgi_fields.size(), kMaxCGIHeaderBlock - line.size() - 1);
  RelayCGIOutput(&con, "Status: 303 See Other\n\nafter");
  std::string answer = Answer(con);
  EXPECT_TRUE(answer.starts_with("HTTP/1.1 303 See Other\r\n")) << answer.substr(0, 80);
  EXPECT_TRUE(answer.ends_with("m\r\n\r\nafter"));
  EXPECT_LE(answer.size(), kMaxCGIHeaderBlock + 200);
  // Whole lines only.
  size_t n = 0;
  for (size_t at = 0; (at = answer.find("X-Many: ", at)) != std::string::npos; at++) n++;
  EXPECT_EQ(n * (line.size() + 1), answer.find("\r\n\r\n") + 2 - answer.find("X-Many: "));

  // A Location line that was dropped makes no redirect without a target.
  client_t late;
  for (int i = 0; i < 200; i++) RelayCGIOutput(&late, line);
  RelayCGIOutput(&late, "Location: /" + repeat("l", 990) + "\n\n");  // longer than the room left
  answer = Answer(late);
  EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer.substr(0, 80);
  EXPECT_EQ(answer.find("Location"), std::string::npos);
}

}  // namespace
