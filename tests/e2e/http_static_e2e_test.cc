// The scheduler as a web server for static files, driven by curl and by raw
// requests: content types from the shipped type rules, HEAD, If-Modified-
// Since, kept-alive connections, and paths that try to leave DocumentRoot.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <string>

#include "harness.h"

namespace {

using namespace e2e;

const std::string kPng("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\1\0\0\0\1\x08\x06\0\0\0\x1f\x15\xc4\x89", 33);
const std::string kPdf = "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << /Root 1 0 R >>\n%%EOF\n";
const std::string kSecret = "the secret outside DocumentRoot\n";
constexpr time_t kFileTime = 1700000000;  // Tue, 14 Nov 2023 22:13:20 GMT

std::string Base64(std::string_view in) {
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(in[i])) << 16;
    if (i + 1 < in.size()) v |= uint32_t(uint8_t(in[i + 1])) << 8;
    if (i + 2 < in.size()) v |= uint8_t(in[i + 2]);
    out += digits[(v >> 18) & 63];
    out += digits[(v >> 12) & 63];
    out += i + 1 < in.size() ? digits[(v >> 6) & 63] : '=';
    out += i + 2 < in.size() ? digits[v & 63] : '=';
  }
  return out;
}

class StaticFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    curl_ = FindProgram("curl");
    ASSERT_FALSE(curl_.empty()) << "the curl command is needed (.ci/install-deps installs it)";
    ASSERT_TRUE(root_.InstallDataFile("vorn.types"));
    ASSERT_TRUE(WriteFile(root_.file("doc/index.html"), "<html><body>vornd</body></html>\n"));
    ASSERT_TRUE(WriteFile(root_.file("doc/notes.txt"), "plain notes\n"));
    ASSERT_TRUE(WriteFile(root_.file("doc/logo.png"), kPng));
    ASSERT_TRUE(WriteFile(root_.file("doc/manual.pdf"), kPdf));
    ASSERT_TRUE(WriteFile(root_.file("doc/unknown.zzz"), std::string("\x01\x02\x03\xff", 4)));
    ASSERT_EQ(::mkdir(root_.file("doc/sub").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(root_.file("doc/sub/index.html"), "<html><body>sub</body></html>\n"));
    std::string big;
    for (int i = 0; i < 5000; i++) big += "line " + std::to_string(i) + " of a file sent in many pieces\n";
    ASSERT_TRUE(WriteFile(root_.file("doc/big.txt"), big));
    ASSERT_TRUE(WriteFile(root_.file("secret.txt"), kSecret));
    utimbuf times{kFileTime, kFileTime};
    ASSERT_EQ(::utime(root_.file("doc/notes.txt").c_str(), &times), 0);
    root_.WriteConfig("LogLevel debug2\n");
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
  }

  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(root_.port()) + path; }

  // curl with `args`; stdout is the "-w" text, the body goes to body_.
  RunResult Curl(std::vector<std::string> args) {
    std::vector<std::string> argv{curl_, "-s", "-S", "--max-time", "20", "-o", root_.file("body.out")};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = RunProgram(argv, 30s);
    body_ = ReadFile(root_.file("body.out"));
    ::unlink(root_.file("body.out").c_str());
    return r;
  }

  std::string curl_;
  ServerRoot root_;
  Vornd vornd_{root_};
  std::string body_;
};

TEST_F(StaticFiles, GetServesEachFileWithTheTypeOfItsContent) {
  const struct {
    const char* path;
    const char* type;
    std::string content;
  } cases[] = {
      {"/index.html", "text/html", "<html><body>vornd</body></html>\n"},
      {"/notes.txt", "text/plain", "plain notes\n"},
      {"/logo.png", "image/png", kPng},
      {"/manual.pdf", "application/pdf", kPdf},
      {"/unknown.zzz", "text/plain", std::string("\x01\x02\x03\xff", 4)},  // no rule matches
      {"/", "text/html", "<html><body>vornd</body></html>\n"},             // a directory's index.html
      {"/sub", "text/html", "<html><body>sub</body></html>\n"},
      {"/sub/?page=2", "text/html", "<html><body>sub</body></html>\n"},    // the query is not a file name
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    RunResult r = Curl({"-w", "%{http_code} %{content_type}", Url(c.path)});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "200 " + std::string(c.type) + "; charset=utf-8");
    EXPECT_EQ(body_, c.content);
  }
  std::string access = root_.AccessLog();
  EXPECT_NE(access.find("\"GET /logo.png HTTP/1.1\" 200 " + std::to_string(kPng.size()) + "\n"), std::string::npos)
      << access;
}

TEST_F(StaticFiles, AFileLargerThanOneWriteArrivesWhole) {
  RunResult r = Curl({"-w", "%{http_code} %{size_download}", Url("/big.txt")});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  std::string big = ReadFile(root_.file("doc/big.txt"));
  EXPECT_EQ(r.out, "200 " + std::to_string(big.size()));
  EXPECT_EQ(body_, big);
}

// Small files are sent from memory once served: every change of the file
// (rewritten in place at the same size, replaced, grown past what is kept,
// removed) is seen at the next request, and the access log counts the
// bytes sent.
TEST_F(StaticFiles, AChangedFileIsServedAsItIsNow) {
  const std::string path = root_.file("doc/notes.txt");
  auto get = [&](const std::string& want, const char* code = "200") {
    RunResult r = Curl({"-w", "%{http_code}", Url("/notes.txt")});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, code);
    if (std::string(code) == "200") {
      EXPECT_EQ(body_, want);
    }
  };
  get("plain notes\n");
  get("plain notes\n");
  ASSERT_TRUE(WriteFile(path, "other notes\n"));  // in place, same size
  get("other notes\n");
  ASSERT_TRUE(WriteFile(root_.file("doc/notes.new"), "replaced\n"));
  ASSERT_EQ(::rename(root_.file("doc/notes.new").c_str(), path.c_str()), 0);
  get("replaced\n");
  const std::string large(100 * 1024, 'x');
  ASSERT_TRUE(WriteFile(path, large));
  get(large);
  get(large);
  ASSERT_EQ(::unlink(path.c_str()), 0);
  get("", "404");
  EXPECT_NE(root_.AccessLog().find("\"GET /notes.txt HTTP/1.1\" 200 9\n"), std::string::npos) << root_.AccessLog();
}

TEST_F(StaticFiles, MissingFilesAndUnservedResourcesAre404) {
  for (const char* path : {"/nothing.html", "/printers/lab.ppd", "/printers", "/admin", "/jobs/12"}) {
    SCOPED_TRACE(path);
    RunResult r = Curl({"-w", "%{http_code} %{content_type}", Url(path)});
    EXPECT_EQ(r.out, "404 text/html") << r.err;
    EXPECT_NE(body_.find("<TITLE>404 Not Found</TITLE>"), std::string::npos) << body_;
  }
}

TEST_F(StaticFiles, HeadSendsTheHeaderOfGetWithoutTheBody) {
  RawHttp http(root_.port());
  ASSERT_TRUE(http.connected());
  auto r = http.Exchange("HEAD /notes.txt HTTP/1.1\r\nHost: localhost\r\n\r\n", 10s, true);
  EXPECT_EQ(r.status, 200) << r.head;
  EXPECT_EQ(r.Header("Content-Length"), "12");
  EXPECT_EQ(r.Header("Last-Modified"), "Tue, 14 Nov 2023 22:13:20 GMT");
  EXPECT_EQ(r.Header("Content-Type"), "text/plain; charset=utf-8");
  // Nothing follows the header: the next answer on the connection is the
  // next request's, and HEAD of a missing file has no body either.
  r = http.Exchange("HEAD /missing.txt HTTP/1.1\r\nHost: localhost\r\n\r\n", 10s, true);
  EXPECT_EQ(r.status, 404) << r.head;
  r = http.Exchange("GET /notes.txt HTTP/1.1\r\nHost: localhost\r\n\r\n");
  EXPECT_EQ(r.status, 200) << r.head;
  EXPECT_EQ(r.body, "plain notes\n");
  EXPECT_TRUE(WaitUntil([&] { return count_of(root_.AccessLog(), "\"HEAD /") == 2; }, kWait)) << root_.AccessLog();
  EXPECT_NE(root_.AccessLog().find("\"HEAD /missing.txt HTTP/1.1\" 404 0"), std::string::npos);
}

TEST_F(StaticFiles, IfModifiedSinceAnswers304OnlyForACurrentCopy) {
  const struct {
    const char* value;
    int status;
  } cases[] = {
      {"Tue, 14 Nov 2023 22:13:20 GMT", 304},                 // the file's own time
      {"Wed, 15 Nov 2023 08:00:00 GMT", 304},                 // later
      {"Tue, 14 Nov 2023 22:13:19 GMT", 200},                 // one second earlier
      {"Tue, 14 Nov 2023 22:13:20 GMT; length=12", 304},      // size agrees
      {"Tue, 14 Nov 2023 22:13:20 GMT; length=13", 200},      // size differs
      {"length=12", 304},                                     // size alone
      {"LENGTH=11", 200},
      {"1700000000", 200},                                    // digits only: neither size nor date
      {"not a date", 200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    RunResult r = Curl({"-w", "%{http_code}", "-H", std::string("If-Modified-Since: ") + c.value, Url("/notes.txt")});
    EXPECT_EQ(r.out, std::to_string(c.status)) << r.err;
    EXPECT_EQ(body_, c.status == 200 ? "plain notes\n" : "");
  }
}

// Waits until the scheduler has accepted at least the harness's start-up
// probe and closed every connection it accepted; returns how many it accepted.
size_t settled_accepts(const ServerRoot& root) {
  size_t accepted = 0;
  WaitUntil(
      [&] {
        std::string log = root.ErrorLog();
        accepted = count_of(log, "] AcceptClient() ");
        return accepted >= 1 && accepted == count_of(log, "] CloseClient() ");
      },
      kWait);
  return accepted;
}

TEST_F(StaticFiles, CurlReusesAKeptAliveConnection) {
  size_t accepted = settled_accepts(root_);
  RunResult r = Curl({"-v", Url("/notes.txt"), "-o", root_.file("second.out"), Url("/index.html")});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.err.find("Re-using existing connection"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("< Keep-Alive: timeout=60"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(root_.file("second.out")), "<html><body>vornd</body></html>\n");
  EXPECT_TRUE(WaitUntil([&] { return count_of(root_.AccessLog(), "\" 200 ") >= 2; }, kWait));
  EXPECT_EQ(settled_accepts(root_), accepted + 1) << root_.ErrorLog();
}

TEST_F(StaticFiles, KeepAliveFollowsVersionAndConnectionField) {
  const struct {
    const char* request;
    bool kept;
  } cases[] = {
      {"GET /notes.txt HTTP/1.1\r\nHost: localhost\r\n\r\n", true},
      {"GET /notes.txt HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n", false},
      {"GET /notes.txt HTTP/1.0\r\n\r\n", false},
      {"GET /notes.txt HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    RawHttp http(root_.port());
    auto r = http.Exchange(c.request);
    EXPECT_EQ(r.status, 200) << r.head;
    EXPECT_EQ(r.body, "plain notes\n");
    EXPECT_EQ(r.Header("Connection") == "Keep-Alive", c.kept) << r.head;
    if (c.kept)
      EXPECT_FALSE(PeerClosed(http.fd(), 1500ms));
    else
      EXPECT_TRUE(PeerClosed(http.fd()));
  }
}

TEST_F(StaticFiles, PipelinedRequestsAreAnsweredInOrder) {
  RawHttp http(root_.port());
  ASSERT_TRUE(http.Send("GET /big.txt HTTP/1.1\r\nHost: localhost\r\n\r\n"
                        "GET /notes.txt HTTP/1.1\r\nHost: localhost\r\n\r\n"
                        "HEAD /index.html HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  auto first = http.Read();
  auto second = http.Read();
  auto third = http.Read(10s, true);
  EXPECT_EQ(first.body, ReadFile(root_.file("doc/big.txt")));
  EXPECT_EQ(second.body, "plain notes\n");
  EXPECT_EQ(third.status, 200);
  EXPECT_EQ(third.Header("Content-Length"), "32");
}

TEST_F(StaticFiles, AcceptLanguagePicksTheLocalizedFileAndMessages) {
  ASSERT_EQ(::mkdir(root_.file("doc/fr").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFile(root_.file("doc/fr/notes.txt"), "notes en fran\xe7" "ais\n"));
  const struct {
    const char* accept;
    const char* language;
    const char* body;
  } cases[] = {
      {"fr", "fr", "notes en fran\xe7" "ais\n"},
      {"fr;q=0.9, de", "fr", "notes en fran\xe7" "ais\n"},
      {"de", "de", "plain notes\n"},              // no German page: the default one
      {"fr-CA,fr;q=0.8", "fr_CA", "plain notes\n"},  // only fr_CA/ is looked in, then the default
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.accept);
    RawHttp http(root_.port());
    auto r = http.Exchange(std::string("GET /notes.txt HTTP/1.1\r\nHost: localhost\r\nAccept-Language: ") + c.accept +
                           "\r\n\r\n");
    EXPECT_EQ(r.status, 200) << r.head;
    EXPECT_EQ(r.Header("Content-Language"), c.language);
    EXPECT_EQ(r.body, c.body);
  }
  // Error pages carry the catalogue's text for the status.
  RawHttp http(root_.port());
  auto r = http.Exchange("GET /none HTTP/1.1\r\nHost: localhost\r\nAccept-Language: fr\r\n\r\n");
  EXPECT_EQ(r.status, 404);
  EXPECT_NE(r.body.find("<H1>Not Found</H1>The requested resource was not found on this server.</BODY>"),
            std::string::npos)
      << r.body;
}

// Credentials nobody checked name nobody: the files here are open to all,
// so the access log shows "-" whatever Basic user the request claims.
TEST_F(StaticFiles, TheAccessLogNamesNoUnverifiedUser) {
  const char* cases[] = {"alice:secret", "bob:pass:with:colons", "no-colon-here",
                         "a-user-name-longer-than-thirty-two-characters:pw"};
  for (const char* credentials : cases) {
    SCOPED_TRACE(credentials);
    size_t before = count_of(root_.AccessLog(), "localhost - - [");
    RunResult r = Curl({"-w", "%{http_code}", "-H", std::string("Authorization: Basic ") + Base64(credentials),
                        Url("/notes.txt")});
    EXPECT_EQ(r.out, "200") << r.err;
    EXPECT_TRUE(WaitUntil([&] { return count_of(root_.AccessLog(), "localhost - - [") == before + 1; }, kWait))
        << root_.AccessLog();
  }
}

TEST_F(StaticFiles, NothingOutsideDocumentRootIsServed) {
  const char* paths[] = {
      "/../secret.txt",
      "/sub/../../secret.txt",
      "/%2e%2e/secret.txt",
      "/%2E%2E%2Fsecret.txt",
      "/..%2fsecret.txt",
      "/sub/%2e%2e/%2e%2e/secret.txt",
      "/./../secret.txt",
      "http://localhost/../secret.txt",
      "/ppd/../secret.txt",
      "/admin/conf/../secret.txt",
  };
  for (const char* path : paths) {
    SCOPED_TRACE(path);
    RawHttp http(root_.port());
    auto r = http.Exchange(std::string("GET ") + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_TRUE(r.status == 403 || r.status == 404) << r.head;
    // A literal ".." is refused before anything else looks at the path.
    if (std::string(path).find("..") != std::string::npos) {
      EXPECT_EQ(r.status, 403);
    }
    EXPECT_EQ(r.body.find("secret"), std::string::npos) << r.body;
  }
}

TEST_F(StaticFiles, ASimpleRequestWithoutVersionGetsTheFileAtOnce) {
  // No header lines follow a request line of two words.
  RawHttp http(root_.port());
  ASSERT_TRUE(http.Send("GET /notes.txt\r\n"));
  auto r = http.Read();
  EXPECT_EQ(r.head.substr(0, 15), "HTTP/0.9 200 OK") << r.head;
  EXPECT_EQ(r.body, "plain notes\n");
  EXPECT_TRUE(PeerClosed(http.fd(), kWait));
}

}  // namespace
