// Requests the scheduler refuses or treats specially, sent as raw bytes:
// malformed request lines, the Host field, request bodies (chunked, too
// large, abandoned), configuration upload, idle and too many connections,
// and the upgrade of a plain connection to TLS.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "harness.h"
#include "vorn/fd.h"

namespace {

using namespace e2e;

// Names of the files in a directory other than "tmp" (the spool's TempDir).
std::vector<std::string> spool_files(const std::string& dir) {
  std::vector<std::string> names;
  if (vorn::unique_dir d{::opendir(dir.c_str())}) {
    while (dirent* e = ::readdir(d.get())) {
      std::string name = e->d_name;
      if (name != "." && name != ".." && name != "tmp") names.push_back(name);
    }
  }
  return names;
}

// IPP encoding, by hand: one attribute with one value, and a message.
std::string ipp_attr(uint8_t value_tag, std::string_view name, std::string_view value) {
  std::string a(1, char(value_tag));
  a += char(name.size() >> 8);
  a += char(name.size() & 0xff);
  a += name;
  a += char(value.size() >> 8);
  a += char(value.size() & 0xff);
  a += value;
  return a;
}

std::string ipp_message(uint16_t op, uint32_t id, const std::string& attributes) {
  std::string m = {1, 1, char(op >> 8), char(op & 0xff), char(id >> 24), char(id >> 16), char(id >> 8), char(id)};
  return m + "\x01" + attributes + "\x03";
}

// A request for printer lab with a valid envelope, naming an operation the
// scheduler never serves (Set-Printer-Attributes): always answered 0x0501.
std::string unserved_request(uint32_t id) {
  return ipp_message(0x0013, id,
                     ipp_attr(0x47, "attributes-charset", "utf-8") +
                         ipp_attr(0x48, "attributes-natural-language", "en") +
                         ipp_attr(0x45, "printer-uri", "ipp://localhost/printers/lab"));
}

std::string chunk(std::string_view data) {
  char size[16];
  std::snprintf(size, sizeof(size), "%zx\r\n", data.size());
  return size + std::string(data) + "\r\n";
}

std::string post_header(std::string_view resource, std::string_view length_or_chunked) {
  return "POST " + std::string(resource) + " HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/ipp\r\n" +
         std::string(length_or_chunked) + "\r\n\r\n";
}

class Requests : public ::testing::Test {
 protected:
  void Start(const std::string& extra = "") {
    ASSERT_TRUE(root_.InstallDataFile("vorn.types"));
    ASSERT_TRUE(WriteFile(root_.file("doc/notes.txt"), "plain notes\n"));
    root_.WriteConfig("LogLevel debug2\n" + extra);
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
  }
  RawHttp::Response Ask(const std::string& request, bool head_request = false) {
    RawHttp http(root_.port());
    return http.Exchange(request, 10s, head_request);
  }

  ServerRoot root_;
  Vornd vornd_{root_};
};

TEST_F(Requests, MalformedRequestLinesAreRefused) {
  Start();
  const struct {
    std::string request;
    int status;
    const char* log;  // error-log text, or nullptr
  } cases[] = {
      {"BLAH\r\n", 400, "Bad request line \"BLAH\"!"},
      {"GET / HTTP/x.y\r\n\r\n", 400, "Bad request line \"GET / HTTP/x.y\"!"},
      {"GET / FTP/1.0\r\n\r\n", 400, "Bad request line \"GET / FTP/1.0\"!"},
      {"GET / HTTP/1.1junk\r\n\r\n", 400, "Bad request line"},
      {"FETCH / HTTP/1.1\r\nHost: localhost\r\n\r\n", 400, "Bad operation \"FETCH\"!"},
      {"get / HTTP/1.1\r\nHost: localhost\r\n\r\n", 400, "Bad operation \"get\"!"},
      {"GET / HTTP/2.0\r\nHost: localhost\r\n\r\n", 505, nullptr},
      {"GET http://example.com/notes.txt HTTP/1.1\r\nHost: example.com\r\n\r\n", 405,
       "Bad URI \"http://example.com/notes.txt\" in request!"},
      {"GET /notes.txt HTTP/1.1\r\nHost: localhost\r\nno colon here\r\n\r\n", 400, nullptr},
      {"GET /notes.txt HTTP/1.1\r\nHost: localhost\r\nContent-Length: 12x\r\n\r\n", 400, nullptr},
      {"DELETE /notes.txt HTTP/1.1\r\nHost: localhost\r\n\r\n", 501, nullptr},
      {"TRACE / HTTP/1.1\r\nHost: localhost\r\n\r\n", 501, nullptr},
      {"POST /notes.txt HTTP/1.1\r\nHost: localhost\r\nContent-Type: text/plain\r\n\r\n", 401, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    auto r = Ask(c.request);
    EXPECT_EQ(r.status, c.status) << r.head;
    EXPECT_EQ(r.Header("Connection"), "close");
    EXPECT_NE(r.body.find("<TITLE>" + std::to_string(c.status) + " "), std::string::npos) << r.body;
    if (c.status == 405) {
      EXPECT_EQ(r.Header("Allow"), "GET, HEAD, OPTIONS, POST");
    }
    if (c.log) {
      EXPECT_TRUE(root_.WaitForLog(c.log)) << c.log;
    }
  }
  // The refusals did not stop the service.
  EXPECT_EQ(Ask("GET /notes.txt HTTP/1.1\r\nHost: localhost\r\n\r\n").body, "plain notes\n");
}

TEST_F(Requests, AbsoluteUrisNamingThisServerAreServed) {
  Start();
  for (const char* uri : {"http://localhost/notes.txt", "http://LOCALHOST:631/notes.txt", "http://127.0.0.1/notes.txt"}) {
    SCOPED_TRACE(uri);
    auto r = Ask(std::string("GET ") + uri + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_EQ(r.status, 200) << r.head;
    EXPECT_EQ(r.body, "plain notes\n");
  }
}

TEST_F(Requests, Http11NeedsAHostFieldAndHttp10DoesNot) {
  Start();
  const struct {
    const char* request;
    int status;
  } cases[] = {
      {"GET /notes.txt HTTP/1.1\r\n\r\n", 400},
      {"GET /notes.txt HTTP/1.1\r\nHost:\r\n\r\n", 400},
      {"GET /notes.txt HTTP/1.1\r\nHost: localhost\r\n\r\n", 200},
      {"GET /notes.txt HTTP/1.0\r\n\r\n", 200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    EXPECT_EQ(Ask(c.request).status, c.status);
  }
}

TEST_F(Requests, KeepAliveOffClosesAfterEachResponse) {
  Start("KeepAlive off\n");
  RawHttp http(root_.port());
  auto r = http.Exchange("GET /notes.txt HTTP/1.1\r\nHost: localhost\r\nConnection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(r.body, "plain notes\n");
  EXPECT_EQ(r.Header("Keep-Alive"), "");
  EXPECT_TRUE(PeerClosed(http.fd(), kWait));
}

TEST_F(Requests, OptionsListsTheMethods) {
  Start();
  auto r = Ask("OPTIONS * HTTP/1.1\r\nHost: localhost\r\n\r\n");
  EXPECT_EQ(r.status, 200) << r.head;
  EXPECT_EQ(r.Header("Allow"), "GET, HEAD, OPTIONS, POST, PUT");
  EXPECT_EQ(r.Header("Content-Length"), "0");
}

TEST_F(Requests, AChunkedIppPostIsReadAcrossChunksAndAnswered) {
  Start();
  std::string request = unserved_request(0x01020304);
  std::string document = "document data following the IPP message\n";
  RawHttp http(root_.port());
  // Chunk boundaries inside the IPP header, inside an attribute, and between
  // the message and the document.
  ASSERT_TRUE(http.Send(post_header("/printers/lab", "Transfer-Encoding: chunked") + chunk(request.substr(0, 3))));
  ASSERT_TRUE(http.Send(chunk(request.substr(3, 20))));
  ASSERT_TRUE(http.Send(chunk(request.substr(23)) + chunk(document) + "0\r\n\r\n"));
  auto r = http.Read();
  ASSERT_EQ(r.status, 200) << r.head;
  EXPECT_EQ(r.Header("Content-Type"), "application/ipp; charset=utf-8");
  ASSERT_GE(r.body.size(), 9u);
  EXPECT_EQ(r.body.substr(0, 8), std::string("\x01\x01\x05\x01\x01\x02\x03\x04", 8));  // 0x0501, same id
  EXPECT_EQ(r.body.back(), '\x03');
  EXPECT_EQ(std::to_string(r.body.size()), r.Header("Content-Length"));

  std::string expected_count = std::to_string(request.size() + document.size() + r.body.size());
  EXPECT_TRUE(WaitUntil([&] { return count_of(root_.AccessLog(), "\"POST /printers/lab HTTP/1.1\" 200 " + expected_count) == 1; }, kWait))
      << root_.AccessLog();
  EXPECT_NE(root_.ErrorLog().find("writing " + std::to_string(document.size()) + " bytes"), std::string::npos);
  EXPECT_TRUE(WaitUntil([&] { return spool_files(root_.file("spool")).empty(); }, kWait));

  // The connection serves the next request.
  auto next = http.Exchange("GET /notes.txt HTTP/1.1\r\nHost: localhost\r\n\r\n");
  EXPECT_EQ(next.body, "plain notes\n");
}

TEST_F(Requests, BodiesOverLimitRequestBodyAre413AndNotKept) {
  Start("LimitRequestBody 1000\n");
  std::string request = unserved_request(7);

  // Announced too large: refused before a byte is stored.
  auto r = Ask(post_header("/printers/lab", "Content-Length: 5000") + request);
  EXPECT_EQ(r.status, 413) << r.head;
  EXPECT_EQ(root_.ErrorLog().find("writing"), std::string::npos);

  // Chunked, so only counting shows it is too large.
  RawHttp http(root_.port());
  ASSERT_TRUE(http.Send(post_header("/printers/lab", "Transfer-Encoding: chunked") + chunk(request)));
  std::string block(600, 'x');
  ASSERT_TRUE(http.Send(chunk(block) + chunk(block)));
  r = http.Read();
  EXPECT_EQ(r.status, 413) << r.head;
  EXPECT_TRUE(spool_files(root_.file("spool")).empty());

  // Under the limit.
  r = Ask(post_header("/printers/lab", "Content-Length: " + std::to_string(request.size() + 500)) + request +
          std::string(500, 'y'));
  EXPECT_EQ(r.status, 200) << r.head;
  EXPECT_EQ(r.Header("Content-Type"), "application/ipp; charset=utf-8");
  EXPECT_TRUE(WaitUntil([&] { return spool_files(root_.file("spool")).empty(); }, kWait));
}

TEST_F(Requests, APartlyReceivedRequestFileIsRemovedWhenTheClientLeaves) {
  Start();
  std::string request = unserved_request(9);
  {
    RawHttp http(root_.port());
    ASSERT_TRUE(http.Send(post_header("/printers/lab", "Content-Length: 100000") + request + std::string(4000, 'd')));
    // The body arrives in pieces: wait for all 4000 bytes sent so far.
    auto spooled = [&] {
      std::vector<std::string> files = spool_files(root_.file("spool"));
      return files.size() == 1 ? ReadFile(root_.file("spool/" + files[0])).size() : size_t(0);
    };
    EXPECT_TRUE(WaitUntil([&] { return spooled() == 4000u; }, kWait)) << spooled();
  }
  EXPECT_TRUE(WaitUntil([&] { return spool_files(root_.file("spool")).empty(); }, kWait))
      << spool_files(root_.file("spool"))[0];
}

TEST_F(Requests, AnIppBodyThatIsNoIppMessageIs400) {
  Start();
  std::string garbage = "\x01\x01\x00\x0a\x00\x00\x00\x01\x01\x47\xff\xff";  // a name longer than the body
  auto r = Ask(post_header("/printers/lab", "Content-Length: " + std::to_string(garbage.size())) + garbage);
  EXPECT_EQ(r.status, 400) << r.head;
  EXPECT_TRUE(root_.WaitForLog("IPP Read Error!"));
}

TEST_F(Requests, UploadedConfigurationFilesAreInstalledAndReloaded) {
  Start();
  ASSERT_TRUE(WriteFile(root_.file("local.types"), "# old\n", 0600));
  std::string content = "# types of the test\n";
  auto r = Ask("PUT /admin/conf/local.types HTTP/1.1\r\nHost: localhost\r\n" + root_.RootAuthorization() + "Content-Length: " +
               std::to_string(content.size()) + "\r\n\r\n" + content);
  EXPECT_EQ(r.status, 201) << r.head;
  EXPECT_EQ(r.Header("Content-Length"), "0");
  EXPECT_EQ(ReadFile(root_.file("local.types")), content);
  EXPECT_EQ(ReadFile(root_.file("local.types.O")), "# old\n");
  struct stat st {};
  ASSERT_EQ(::stat(root_.file("local.types").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // the mode of the file it replaced
  EXPECT_TRUE(root_.WaitForLog("Installing config file \"" + root_.file("local.types") + "\"..."));
  // Any file but vornd.conf asks for a full reload.
  EXPECT_TRUE(WaitUntil([&] { return count_of(root_.ErrorLog(), "Full reload is required.") == 2; }, kWait));
  ASSERT_TRUE(vornd_.WaitListening(root_.port()));

  std::string conf = root_.BaseConfig() + "LogLevel debug2\nKeepAliveTimeout 17\n";
  r = Ask("PUT /admin/conf/vornd.conf HTTP/1.1\r\nHost: localhost\r\n" + root_.RootAuthorization() + "Content-Length: " +
          std::to_string(conf.size()) + "\r\n\r\n" + conf);
  EXPECT_EQ(r.status, 201) << r.head;
  EXPECT_TRUE(root_.WaitForLog("Partial reload complete."));
  ASSERT_TRUE(vornd_.WaitListening(root_.port()));
  EXPECT_EQ(Ask("GET /notes.txt HTTP/1.1\r\nHost: localhost\r\n\r\n").Header("Keep-Alive"), "timeout=17");

  for (const char* bad : {"/admin/conf/", "/admin/conf/sub/x", "/notes.txt", "/admin/other"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Ask(std::string("PUT ") + bad + " HTTP/1.1\r\nHost: localhost\r\n" + root_.RootAuthorization() +
                  "Content-Length: 2\r\n\r\nxx")
                  .status,
              403);
  }
  EXPECT_EQ(Ask("GET /admin/conf/ HTTP/1.1\r\nHost: localhost\r\n" + root_.RootAuthorization() + "\r\n").status, 403);
  EXPECT_EQ(Ask("GET /admin/conf/sub/x HTTP/1.1\r\nHost: localhost\r\n" + root_.RootAuthorization() + "\r\n").status,
            403);
  EXPECT_TRUE(spool_files(root_.file("spool")).empty());
}

TEST_F(Requests, AClientThatStopsMidRequestIsClosedAfterTimeout) {
  Start("Timeout 2\n");
  RawHttp partial(root_.port()), headers(root_.port()), silent(root_.port());
  ASSERT_TRUE(partial.Send("GET /notes.txt HT"));
  ASSERT_TRUE(headers.Send("GET /notes.txt HTTP/1.1\r\nHost: local"));
  // Others are served meanwhile.
  EXPECT_EQ(Ask("GET /notes.txt HTTP/1.1\r\nHost: localhost\r\n\r\n").body, "plain notes\n");
  EXPECT_TRUE(PeerClosed(partial.fd(), kWait));
  EXPECT_TRUE(PeerClosed(headers.fd(), kWait));
  EXPECT_TRUE(PeerClosed(silent.fd(), kWait));
  EXPECT_GE(count_of(root_.ErrorLog(), "after 2 seconds of inactivity..."), 3u);
}

TEST_F(Requests, MaxClientsPerHostClosesTheConnectionsOverTheLimit) {
  Start("MaxClientsPerHost 2\n");
  // The harness's start-up probe is gone before the clients of the test come.
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::string log = root_.ErrorLog();
        size_t accepted = count_of(log, "] AcceptClient() ");
        return accepted >= 1 && accepted == count_of(log, "] CloseClient() ");
      },
      kWait));
  RawHttp a(root_.port()), b(root_.port());
  auto first = a.Exchange("GET /notes.txt HTTP/1.1\r\nHost: localhost\r\n\r\n");
  auto second = b.Exchange("GET /notes.txt HTTP/1.1\r\nHost: localhost\r\n\r\n");
  ASSERT_EQ(first.status, 200);
  ASSERT_EQ(second.status, 200);
  RawHttp c(root_.port()), d(root_.port());
  EXPECT_TRUE(PeerClosed(c.fd(), kWait));
  EXPECT_TRUE(PeerClosed(d.fd(), kWait));
  EXPECT_EQ(count_of(root_.ErrorLog(), "Possible DoS attack - more than 2 clients connecting from localhost!"), 1u);
  // The two within the limit go on.
  EXPECT_EQ(a.Exchange("GET /notes.txt HTTP/1.1\r\nHost: localhost\r\n\r\n").body, "plain notes\n");
}

// A connection to 127.0.0.1:port from the source address `from`; -1 when
// that address cannot be used here.
int connect_from(const char* from, int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ::inet_pton(AF_INET, from, &a.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(uint16_t(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST_F(Requests, HostNameLookupsNameThePeerOrRefuseIt) {
  Start("HostNameLookups double\n");
  // The loopback peer is "localhost" without asking anyone.
  EXPECT_EQ(Ask("GET /notes.txt HTTP/1.1\r\nHost: localhost\r\n\r\n").status, 200);
  EXPECT_TRUE(WaitUntil([&] { return root_.AccessLog().find("localhost - - [") == 0; }, kWait)) << root_.AccessLog();

  // Another loopback address has no name here: double lookups refuse it.
  sockaddr_in other{};
  other.sin_family = AF_INET;
  ::inet_pton(AF_INET, "127.0.0.2", &other.sin_addr);
  char name[256];
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&other), sizeof(other), name, sizeof(name), nullptr, 0,
                    NI_NAMEREQD) == 0)
    GTEST_SKIP() << "127.0.0.2 has the name " << name << " here";
  int fd = connect_from("127.0.0.2", root_.port());
  if (fd < 0) GTEST_SKIP() << "no 127.0.0.2 here";
  EXPECT_TRUE(PeerClosed(fd));
  ::close(fd);
  EXPECT_TRUE(root_.WaitForLog("Name lookup failed - connection from 127.0.0.2 closed!"));
}

class Upgrade : public ::testing::Test {
 protected:
  void SetUp() override {
    node_ = FindProgram("node");
    ASSERT_FALSE(node_.empty()) << "the node command is needed (.ci/install-deps installs it)";
    ASSERT_EQ(root_.MakeCertificate(), "");
    ASSERT_TRUE(root_.InstallDataFile("vorn.types"));
    ASSERT_TRUE(WriteFile(root_.file("doc/notes.txt"), "plain notes\n"));
    root_.WriteConfig("LogLevel debug\nServerCertificate ssl/server.crt\nServerKey ssl/server.key\n");
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
  }
  RunResult Run(const char* method, const char* resource) {
    return RunProgram({node_, SourceDir() + "/tests/e2e/http_upgrade.js", std::to_string(root_.port()), method, resource},
                      30s);
  }
  std::string node_;
  ServerRoot root_;
  Vornd vornd_{root_};
};

TEST_F(Upgrade, OptionsSwitchesToTlsAndAnswersOverIt) {
  RunResult r = Run("OPTIONS", "*");
  ASSERT_EQ(r.exit_status, 0) << r.err << r.out;
  EXPECT_NE(r.out.find("plain HTTP/1.1 101 Switching Protocols\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\ntls TLSv1."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("tls-response HTTP/1.1 200 OK\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("header Allow: GET, HEAD, OPTIONS, POST, PUT\n"), std::string::npos) << r.out;
  // The connection stays encrypted for the requests that follow.
  EXPECT_NE(r.out.find("next-response HTTP/1.1 200 OK\nnext-body <html><body>vornd</body></html>"), std::string::npos)
      << r.out;
  EXPECT_TRUE(root_.WaitForLog("Connection now encrypted."));
}

TEST_F(Upgrade, AGetAskingForTlsIsAnsweredAfterTheHandshake) {
  RunResult r = Run("GET", "/notes.txt");
  ASSERT_EQ(r.exit_status, 0) << r.err << r.out;
  EXPECT_NE(r.out.find("plain HTTP/1.1 101 Switching Protocols\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("tls-response HTTP/1.1 200 OK\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("header Content-Type: text/plain; charset=utf-8\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("header Content-Length: 12\n"), std::string::npos) << r.out;
}

TEST(UpgradeWithoutCertificate, TheRequestIsAnsweredWithoutSwitching) {
  ServerRoot root;
  root.WriteConfig("LogLevel debug\nServerCertificate ssl/none.crt\nServerKey ssl/none.key\n");
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground()) << vornd.Stderr();
  RawHttp http(root.port());
  auto r = http.Exchange("OPTIONS * HTTP/1.1\r\nHost: localhost\r\nConnection: Upgrade\r\nUpgrade: TLS/1.0,HTTP/1.1\r\n\r\n");
  EXPECT_EQ(r.status, 200) << r.head;
  EXPECT_EQ(r.Header("Allow"), "GET, HEAD, OPTIONS, POST, PUT");
  EXPECT_TRUE(root.WaitForLog("cannot upgrade to TLS: no server certificate and key are loaded"));
}

}  // namespace
