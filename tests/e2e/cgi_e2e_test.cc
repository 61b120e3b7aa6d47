// CGI programs run by a real vornd: scripts below DocumentRoot and the
// built-in programs under ServerBin/cgi-bin, their arguments and
// environment, their output relayed to the client (chunked for HTTP/1.1),
// their error lines in the log, their local certificates, and what happens
// to a program and its client when the client stops reading.
#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using namespace e2e;

// The lines "name=value" of the echo program's answer, by name; envp
// entries also in order.
struct Echo {
  std::map<std::string, std::string> values;
  std::vector<std::string> env;  // "NAME=value", in order
  std::string value(const std::string& name) const {
    auto it = values.find(name);
    return it == values.end() ? "<missing>" : it->second;
  }
  // The value of environment entry `name`, "<missing>" when there is none.
  std::string getenv(const std::string& name) const {
    for (const std::string& e : env)
      if (e.compare(0, name.size() + 1, name + "=") == 0) return e.substr(name.size() + 1);
    return "<missing>";
  }
  size_t env_index(const std::string& name) const {
    for (size_t i = 0; i < env.size(); i++)
      if (env[i].compare(0, name.size() + 1, name + "=") == 0) return i;
    return size_t(-1);
  }
};

Echo ParseEcho(const std::string& body) {
  Echo e;
  size_t at = 0;
  while (at < body.size()) {
    size_t nl = body.find('\n', at);
    std::string line = body.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
    at = nl == std::string::npos ? body.size() : nl + 1;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string name = line.substr(0, eq), value = line.substr(eq + 1);
    e.values[name] = value;
    if (name.starts_with("envp[")) e.env.push_back(value);
  }
  return e;
}

bool CopyProgram(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  return !ec && ::chmod(to.c_str(), 0755) == 0;
}

class CgiServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.InstallDataFile("vorn.types"));
    std::filesystem::create_directories(root_.file("doc/cgi"));
    std::filesystem::create_directories(root_.file("bin/cgi-bin"));
    ASSERT_TRUE(CopyProgram(CGI_ECHO_PATH, root_.file("doc/cgi/echo.cgi")));
    ASSERT_TRUE(CopyProgram(CGI_ECHO_PATH, root_.file("bin/cgi-bin/printers.cgi")));
    ASSERT_TRUE(WriteFile(root_.file("doc/cgi/plain.cgi"), "#!/bin/sh\necho not run\n", 0644));
    ASSERT_TRUE(WriteFile(root_.file("doc/cgi/page.php"), "<?php echo 1; ?>\n", 0755));
    ASSERT_TRUE(WriteFile(root_.file("doc/cgi/errors.cgi"),
                          "#!/bin/sh\n"
                          "echo 'ERROR: disk full' >&2\n"
                          "echo 'PAGE: 1 1' >&2\n"
                          "echo 'NOTICE:   spaced out' >&2\n"
                          "echo 'a line of its own' >&2\n"
                          "printf 'Content-Type: text/plain\\n\\nfine\\n'\n",
                          0755));
  }

  void Start(const std::string& extra = "") {
    root_.WriteConfig("LogLevel debug2\n" + extra);
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
  }

  std::string Get(const std::string& resource, const std::string& fields = "", const char* version = "1.1") {
    return "GET " + resource + " HTTP/" + version + "\r\nHost: localhost\r\n" + fields + "\r\n";
  }

  ServerRoot root_;
  Vornd vornd_{root_};
};

TEST_F(CgiServer, GetRunsTheScriptWithTheCgiEnvironment) {
  Start();
  RawHttp http(root_.port());
  RawHttp::Response r =
      http.Exchange(Get("/cgi/echo.cgi?which=1", "User-Agent: cgi-test/1\r\nAccept-Language: de\r\n"));
  ASSERT_EQ(r.status, 200) << r.head;
  EXPECT_TRUE(r.chunked) << r.head;
  EXPECT_TRUE(r.complete);
  // The program's own header lines, each ended by CRLF.
  EXPECT_EQ(r.Header("Content-Type"), "text/plain") << r.head;
  EXPECT_EQ(r.Header("X-Echo"), "yes") << r.head;
  Echo e = ParseEcho(r.body);

  EXPECT_EQ(e.value("argc"), "2");
  EXPECT_EQ(e.value("argv[0]"), "echo.cgi");
  EXPECT_EQ(e.value("argv[1]"), "which=1");
  EXPECT_EQ(e.value("stdin"), "");  // /dev/null
  EXPECT_EQ(e.value("umask"), "77");

  const std::string port = std::to_string(root_.port());
  const struct {
    const char* name;
    std::string value;
  } expected[] = {
      {"PATH", "/bin:/usr/bin"},
      {"SERVER_SOFTWARE", "VORN/1.1"},
      {"GATEWAY_INTERFACE", "CGI/1.1"},
      {"SERVER_PROTOCOL", "HTTP/1.1"},
      {"REDIRECT_STATUS", "1"},
      {"IPP_PORT", port},
      {"SERVER_NAME", "localhost"},
      {"SERVER_PORT", port},
      {"REMOTE_ADDR", "127.0.0.1"},
      {"REMOTE_HOST", "localhost"},
      {"REMOTE_USER", ""},
      {"LANG", "de"},
      {"TMPDIR", root_.file("spool/tmp")},
      {"VORN_DATADIR", root_.file("data")},
      {"VORN_SERVERROOT", root_.path()},
      {"HTTP_USER_AGENT", "cgi-test/1"},
      {"SCRIPT_NAME", "/cgi/echo.cgi"},
      {"REQUEST_METHOD", "GET"},
      {"QUERY_STRING", "which=1"},
  };
  size_t last = 0;
  for (const auto& x : expected) {
    SCOPED_TRACE(x.name);
    EXPECT_EQ(e.getenv(x.name), x.value);
    // In this order.
    size_t index = e.env_index(x.name);
    EXPECT_GE(index, last);
    if (index != size_t(-1)) last = index;
  }
  for (const char* absent : {"CONTENT_LENGTH", "CONTENT_TYPE", "HTTPS", "VORN_ENCRYPTION", "HOME", "USER"})
    EXPECT_EQ(e.getenv(absent), "<missing>") << absent;

  // LogLevel debug2 shows the vectors.
  EXPECT_TRUE(root_.WaitForLog("argv[1] = \"which=1\""));
  EXPECT_TRUE(std::regex_search(root_.ErrorLog(), std::regex(R"(envp\[[0-9]+\] = "QUERY_STRING=which=1")")));
  EXPECT_NE(root_.ErrorLog().find("Started \"" + root_.file("doc/cgi/echo.cgi") + "\" (pid="), std::string::npos);

  // The connection stays open for the next request.
  RawHttp::Response again = http.Exchange(Get("/cgi/echo.cgi"));
  ASSERT_EQ(again.status, 200) << again.head;
  Echo e2 = ParseEcho(again.body);
  EXPECT_EQ(e2.value("argc"), "1");
  EXPECT_EQ(e2.getenv("QUERY_STRING"), "<missing>");
}

// The client's Cookie header reaches the program as HTTP_COOKIE, cut at the
// field limit of 255 characters; a request without one (even on the same
// connection, after one with a cookie) has no such variable.
TEST_F(CgiServer, ACookieReachesTheProgramOnlyWhenSent) {
  Start();
  RawHttp http(root_.port());
  const std::string long_cookie = "big=" + std::string(400, 'c');
  const struct {
    const char* what;
    std::string fields;
    std::string want;
  } cases[] = {
      {"a cookie", "Cookie: session=abc123; lang=de\r\n", "session=abc123; lang=de"},
      {"no cookie after one", "", "<missing>"},
      {"a long cookie is cut", "Cookie: " + long_cookie + "\r\n", long_cookie.substr(0, 255)},
      {"the header name in any case", "cOOKIE: x=1\r\n", "x=1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RawHttp::Response r = http.Exchange(Get("/cgi/echo.cgi", c.fields));
    ASSERT_EQ(r.status, 200) << r.head;
    Echo e = ParseEcho(r.body);
    EXPECT_EQ(e.getenv("HTTP_COOKIE"), c.want);
    if (c.want != "<missing>") {
      // Among the client's fields, before the resource's own entries.
      EXPECT_LT(e.env_index("HTTP_COOKIE"), e.env_index("SCRIPT_NAME"));
    }
  }
}

// A program's "Status:" and "Location:" lines decide the status line; the
// answers stay well framed, so the connection carries the next request.
TEST_F(CgiServer, ProgramsChooseTheirStatus) {
  ASSERT_TRUE(WriteFile(root_.file("doc/cgi/status.cgi"),
                        "#!/bin/sh\n"
                        "case \"$QUERY_STRING\" in\n"
                        "see) printf 'Status: 303 See Other\\nLocation: /cgi/echo.cgi\\n\\n' ;;\n"
                        "moved) printf 'Location: /elsewhere\\nContent-Type: text/plain\\n\\nmoved\\n' ;;\n"
                        "gone) printf 'Status: 410 Gone For Good\\nContent-Type: text/plain\\n\\nno more\\n' ;;\n"
                        "empty) printf 'Status: 204\\n\\nnot sent\\n' ;;\n"
                        "bad) printf 'Status: 777 Lucky\\nContent-Type: text/plain\\n\\nstill ok\\n' ;;\n"
                        "esac\n",
                        0755));
  Start();
  const struct {
    const char* query;
    int status;
    const char* reason;
    const char* location;
    const char* body;
  } cases[] = {
      {"see", 303, "See Other", "/cgi/echo.cgi", ""},
      {"moved", 302, "Moved Temporarily", "/elsewhere", "moved\n"},
      {"gone", 410, "Gone For Good", "", "no more\n"},
      {"empty", 204, "No Content", "", ""},
      {"bad", 200, "OK", "", "still ok\n"},
  };
  RawHttp http(root_.port());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    RawHttp::Response r = http.Exchange(Get(std::string("/cgi/status.cgi?") + c.query));
    ASSERT_EQ(r.status, c.status) << r.head;
    EXPECT_TRUE(r.head.starts_with("HTTP/1.1 " + std::to_string(c.status) + " " + c.reason + "\r\n")) << r.head;
    EXPECT_EQ(r.Header("Location"), c.location);
    EXPECT_EQ(r.Header("Status"), "") << r.head;
    EXPECT_EQ(r.body, c.body);
    EXPECT_FALSE(r.closed);
    // One status line only.
    EXPECT_EQ(r.head.find("HTTP/", 1), std::string::npos) << r.head;
  }
  // The connection is still in step: a last request is answered in full.
  RawHttp::Response last = http.Exchange(Get("/cgi/echo.cgi?after"));
  ASSERT_EQ(last.status, 200) << last.head;
  EXPECT_EQ(ParseEcho(last.body).getenv("QUERY_STRING"), "after");
  // The access log shows the status sent.
  EXPECT_TRUE(WaitUntil([&] { return root_.AccessLog().find("status.cgi?see HTTP/1.1\" 303 ") != std::string::npos; }))
      << root_.AccessLog();
  EXPECT_NE(root_.AccessLog().find("status.cgi?gone HTTP/1.1\" 410 "), std::string::npos) << root_.AccessLog();
  EXPECT_TRUE(root_.WaitForLog("ignoring CGI status \"777 Lucky\""));
}

TEST_F(CgiServer, PostGivesTheBodyOnStandardInput) {
  Start();
  RawHttp http(root_.port());
  const std::string body = "name=lab&note=a+b%20c";
  RawHttp::Response r = http.Exchange("POST /cgi/echo.cgi HTTP/1.1\r\nHost: localhost\r\n"
                                      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                                      std::to_string(body.size()) + "\r\n\r\n" + body);
  ASSERT_EQ(r.status, 200) << r.head;
  EXPECT_TRUE(r.chunked && r.complete);
  Echo e = ParseEcho(r.body);
  EXPECT_EQ(e.value("stdin"), body);
  EXPECT_EQ(e.getenv("REQUEST_METHOD"), "POST");
  EXPECT_EQ(e.getenv("CONTENT_LENGTH"), std::to_string(body.size()));
  EXPECT_EQ(e.getenv("CONTENT_TYPE"), "application/x-www-form-urlencoded");
  EXPECT_EQ(e.getenv("QUERY_STRING"), "<missing>");
  EXPECT_EQ(e.value("argv[0]"), "echo.cgi");
  // The request file is gone once the answer is out.
  auto request_files = [&] {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root_.file("spool")))
      n += std::regex_match(entry.path().filename().string(), std::regex("[0-9a-f]{8}"));
    return n;
  };
  EXPECT_TRUE(WaitUntil([&] { return request_files() == 0; }));
}

TEST_F(CgiServer, Http10AnswerEndsWithTheConnection) {
  Start();
  RawHttp http(root_.port());
  RawHttp::Response r = http.Exchange(Get("/cgi/echo.cgi?x", "", "1.0"));
  ASSERT_EQ(r.status, 200) << r.head;
  EXPECT_FALSE(r.chunked);
  EXPECT_TRUE(r.closed);
  Echo e = ParseEcho(r.body);
  EXPECT_EQ(e.getenv("SERVER_PROTOCOL"), "HTTP/1.0");
  EXPECT_EQ(e.value("pid").empty(), false);
}

TEST_F(CgiServer, BuiltInProgramsTakeTheRestOfTheResource) {
  Start();
  const struct {
    const char* resource;
    const char* argv0;
    const char* query;
  } cases[] = {
      {"/printers/lab?which=1", "lab", "which=1"},
      {"/printers", "printers.cgi", "<missing>"},
      {"/printers/", "printers.cgi", "<missing>"},
      {"/printers/a+b%20c", "a", "<missing>"},
  };
  RawHttp http(root_.port());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.resource);
    RawHttp::Response r = http.Exchange(Get(c.resource));
    ASSERT_EQ(r.status, 200) << r.head;
    Echo e = ParseEcho(r.body);
    EXPECT_EQ(e.value("argv[0]"), c.argv0);
    EXPECT_EQ(e.getenv("QUERY_STRING"), c.query);
    EXPECT_EQ(e.getenv("SCRIPT_NAME"), std::string(c.resource).substr(0, std::string(c.resource).find('?')));
  }
  // The split of "a+b%20c": two arguments, the second with a blank.
  RawHttp::Response r = http.Exchange(Get("/printers/a+b%20c"));
  EXPECT_EQ(ParseEcho(r.body).value("argv[1]"), "b c");
}

TEST_F(CgiServer, EachProgramHasACertificateOnlyWhileItRuns) {
  Start();
  RawHttp http(root_.port());
  RawHttp::Response r = http.Exchange(Get("/cgi/echo.cgi"));
  ASSERT_EQ(r.status, 200) << r.head;
  Echo e = ParseEcho(r.body);
  EXPECT_TRUE(std::regex_match(e.value("cert"), std::regex("[0-9A-F]{32}"))) << e.value("cert");
  EXPECT_EQ(e.value("cert-mode"), "400");  // readable by the program's user alone
  EXPECT_EQ(e.value("cert-uid"), std::to_string(::getuid()));
  const std::string file = root_.file("certs/" + e.value("pid"));
  EXPECT_TRUE(WaitUntil([&] { return !FileExists(file); })) << file << " outlived its program";
  EXPECT_TRUE(FileExists(root_.file("certs/0")));
}

TEST_F(CgiServer, AProgramServingATlsConnectionIsToldSo) {
  const std::string curl = FindProgram("curl");
  if (curl.empty()) GTEST_SKIP() << "no curl command";
  std::string why = root_.MakeCertificate();
  if (!why.empty()) GTEST_SKIP() << why;
  const int ssl_port = FreePort();
  Start("ServerCertificate ssl/server.crt\nServerKey ssl/server.key\nSSLListen 127.0.0.1:" +
        std::to_string(ssl_port) + "\n");
  ASSERT_TRUE(vornd_.WaitListening(ssl_port));
  RunResult r = RunProgram({curl, "-s", "-S", "-k", "--max-time", "20",
                            "https://127.0.0.1:" + std::to_string(ssl_port) + "/cgi/echo.cgi?tls=1"},
                           30s);
  ASSERT_EQ(r.exit_status, 0) << r.err;
  Echo e = ParseEcho(r.out);
  EXPECT_EQ(e.getenv("HTTPS"), "ON");
  EXPECT_EQ(e.getenv("VORN_ENCRYPTION"), "Always");
  EXPECT_EQ(e.getenv("SERVER_PORT"), std::to_string(ssl_port));
  EXPECT_EQ(e.getenv("QUERY_STRING"), "tls=1");
  // The last entries of the environment.
  ASSERT_GE(e.env.size(), 2u);
  EXPECT_EQ(e.env[e.env.size() - 2], "HTTPS=ON");
}

// Run by root, the scheduler starts its programs as User and Group with no
// supplementary groups; the program's certificate belongs to User alone.
TEST_F(CgiServer, ProgramsRunAsUserAndGroupWithoutOtherGroups) {
  if (::getuid() != 0) GTEST_SKIP() << "only a scheduler run by root changes identity";
  const passwd* pw = ::getpwnam("nobody");
  const group* gr = ::getgrnam("nogroup");
  if (!pw || !gr) GTEST_SKIP() << "no user nobody or group nogroup";
  const std::string uid = std::to_string(pw->pw_uid), gid = std::to_string(gr->gr_gid);
  // The program must be reachable by its user.
  for (const char* dir : {"", "doc", "doc/cgi"}) ASSERT_EQ(::chmod(root_.file(dir).c_str(), 0755), 0);
  Start("User nobody\nGroup nogroup\n");
  RawHttp http(root_.port());
  RawHttp::Response r = http.Exchange(Get("/cgi/echo.cgi"));
  ASSERT_EQ(r.status, 200) << r.head;
  Echo e = ParseEcho(r.body);
  for (const char* id : {"uid", "euid"}) EXPECT_EQ(e.value(id), uid) << id;
  for (const char* id : {"gid", "egid"}) EXPECT_EQ(e.value(id), gid) << id;
  EXPECT_EQ(e.value("groups"), "");  // root's own groups are gone
  EXPECT_EQ(e.value("umask"), "77");
  EXPECT_EQ(e.value("cert-uid"), uid);
  EXPECT_EQ(e.value("cert-mode"), "400");
  EXPECT_TRUE(std::regex_match(e.value("cert"), std::regex("[0-9A-F]{32}"))) << "the program could not read it";
}

TEST_F(CgiServer, ProgramsThatCannotRunAreNotFound) {
  Start();
  RawHttp http(root_.port());
  // Without an execute bit a script is a file like any other.
  RawHttp::Response r = http.Exchange(Get("/cgi/plain.cgi"));
  EXPECT_EQ(r.status, 200) << r.head;
  EXPECT_EQ(r.body, "#!/bin/sh\necho not run\n");
  EXPECT_EQ(r.Header("Content-Type"), "application/x-httpd-cgi; charset=utf-8");
  // No interpreter is configured for PHP; no built-in program is installed
  // for /jobs.
  for (const char* resource : {"/cgi/page.php", "/jobs/3"}) {
    SCOPED_TRACE(resource);
    RawHttp again(root_.port());
    EXPECT_EQ(again.Exchange(Get(resource)).status, 404);
  }
}

TEST_F(CgiServer, ErrorLinesReachTheLogAtTheirLevel) {
  Start();
  RawHttp http(root_.port());
  RawHttp::Response r = http.Exchange(Get("/cgi/errors.cgi"));
  ASSERT_EQ(r.status, 200) << r.head;
  EXPECT_EQ(r.body, "fine\n");
  ASSERT_TRUE(root_.WaitForLog("[CGI] a line of its own"));
  std::string log = root_.ErrorLog();
  EXPECT_TRUE(std::regex_search(log, std::regex(R"((^|\n)E \[[^\]]+\] \[CGI\] disk full\n)"))) << log;
  EXPECT_TRUE(std::regex_search(log, std::regex(R"((^|\n)N \[[^\]]+\] \[CGI\] spaced out\n)"))) << log;
  EXPECT_TRUE(std::regex_search(log, std::regex(R"((^|\n)D \[[^\]]+\] \[CGI\] a line of its own\n)"))) << log;
  EXPECT_EQ(log.find("PAGE: 1 1"), std::string::npos);
}

// The pid in "Started \"<program>\" (pid=N)".
std::string StartedPid(const std::string& log, const std::string& program) {
  std::smatch m;
  std::regex started("Started \"" + program + "\" \\(pid=([0-9]+)\\)");
  return std::regex_search(log, m, started) ? m[1].str() : "";
}

// A client that asks for a large answer and never reads it. Once the
// program has ended and been reaped, its number is never signalled; the
// client is closed after Timeout.
TEST_F(CgiServer, AnEndedProgramIsNeverSignalledAndItsIdleClientTimesOut) {
  // The script hands its 5 MB to a child of its own and ends at once.
  ASSERT_TRUE(WriteFile(root_.file("doc/cgi/big.cgi"),
                        "#!/bin/sh\nprintf 'Content-Type: application/octet-stream\\n\\n'\n"
                        "head -c 5242880 /dev/zero &\nexit 0\n",
                        0755));
  Start("Timeout 2\n");
  RawHttp http(root_.port());
  ASSERT_TRUE(http.Send(Get("/cgi/big.cgi")));
  ASSERT_TRUE(root_.WaitForLog("has ended."));
  const std::string pid = StartedPid(root_.ErrorLog(), root_.file("doc/cgi/big.cgi"));
  ASSERT_FALSE(pid.empty());
  ASSERT_TRUE(root_.WaitForLog("CGI program " + pid + " of client"));
  ASSERT_TRUE(root_.WaitForLog("after 2 seconds of inactivity")) << "the client was never timed out";
  EXPECT_TRUE(PeerClosed(http.fd(), 10s));
  std::string log = root_.ErrorLog();
  EXPECT_NE(log.find("CGI program already ended, no signal sent."), std::string::npos) << log;
  EXPECT_EQ(log.find("to CGI program " + pid + "."), std::string::npos) << "a reaped pid was signalled\n" << log;
  EXPECT_FALSE(FileExists(root_.file("certs/" + pid)));
}

// A program still running when its client stops reading is stopped once
// the output has waited Timeout seconds, and reaped with its certificate.
TEST_F(CgiServer, ARunningProgramWhoseClientStopsReadingIsKilled) {
  ASSERT_TRUE(WriteFile(root_.file("doc/cgi/flood.cgi"),
                        "#!/bin/sh\nprintf 'Content-Type: application/octet-stream\\n\\n'\n"
                        "exec head -c 104857600 /dev/zero\n",
                        0755));
  Start("Timeout 2\n");
  RawHttp http(root_.port());
  ASSERT_TRUE(http.Send(Get("/cgi/flood.cgi")));
  ASSERT_TRUE(root_.WaitForLog("Started \"" + root_.file("doc/cgi/flood.cgi")));
  const std::string pid = StartedPid(root_.ErrorLog(), root_.file("doc/cgi/flood.cgi"));
  ASSERT_FALSE(pid.empty());
  ASSERT_TRUE(root_.WaitForLog("sending SIGKILL to CGI program " + pid + "."));
  ASSERT_TRUE(root_.WaitForLog("PID " + pid + " crashed on signal 9!"));
  EXPECT_TRUE(WaitUntil([&] { return !FileExists(root_.file("certs/" + pid)); }));
  EXPECT_TRUE(PeerClosed(http.fd(), 10s));
}

}  // namespace
