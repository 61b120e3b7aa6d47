// IPP requests against a small IPP server on 127.0.0.1: the bytes that go
// out, kept-alive and closed connections, Basic and Digest authentication,
// the TLS upgrade after 426, a server that never answers, the error status
// of each kind of failure, and the job and printer calls built on top.

#include "vorn/request.h"

#include "vorn/client.h"
#include "vorn/fd.h"

#include "tests/fixtures/dests/ipp_server.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using ippserver::Gate;
using ippserver::Ipp;
using ippserver::Reply;
using ippserver::Request;
using ippserver::Server;

using Conn = vorn::http_ptr;

// A fresh temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/vorn-request-XXXXXX";
    if (::mkdtemp(tmpl)) path_ = tmpl;
  }
  ~TempDir() {
    if (path_.empty()) return;
    if (vorn::unique_dir d{::opendir(path_.c_str())}) {
      while (dirent* e = ::readdir(d.get()))
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ::unlink((path_ + "/" + e->d_name).c_str());
    }
    ::rmdir(path_.c_str());
  }
  std::string write(const std::string& name, const std::string& data) const {
    std::string p = path_ + "/" + name;
    std::ofstream(p, std::ios::binary) << data;
    return p;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Bytes of every value 0..255, so a lost or changed byte shows.
std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; i++) s[i] = char((i * 7 + i / 251) & 0xff);
  return s;
}

Ipp print_request(const char* printer = "lab") {
  Ipp ipp(ippNew());
  ipp->op_status = IPP_PRINT_JOB;
  ipp->request_id = 9;
  ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
  ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", "", "en");
  ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "",
               std::string("ipp://localhost/printers/") + printer);
  ippAddInteger(ipp.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", 2);
  return ipp;
}

// Answers every IPP request with successful-ok and "job-id" 7.
Reply job_created(const Request&) {
  Ipp r = ippserver::ipp_response(IPP_OK);
  ippAddInteger(r.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", 7);
  return ippserver::ok(std::move(r));
}

int job_id(ipp_t* response) { return ippserver::number(response, "job-id"); }

// The password callback answers from a list and records the prompts.
struct Passwords {
  std::mutex mutex;
  std::vector<std::string> prompts;
  std::vector<const char*> answers;  // nullptr: no password
  size_t next = 0;
};
Passwords& passwords() {
  static Passwords p;
  return p;
}
const char* answer_password(const char* prompt) {
  Passwords& p = passwords();
  std::lock_guard<std::mutex> lock(p.mutex);
  p.prompts.push_back(prompt ? prompt : "");
  return p.next < p.answers.size() ? p.answers[p.next++] : nullptr;
}
void expect_passwords(std::vector<const char*> answers) {
  Passwords& p = passwords();
  std::lock_guard<std::mutex> lock(p.mutex);
  p.prompts.clear();
  p.answers = std::move(answers);
  p.next = 0;
}
std::vector<std::string> prompts() {
  Passwords& p = passwords();
  std::lock_guard<std::mutex> lock(p.mutex);
  return p.prompts;
}

class RequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vornSetPasswordCB(answer_password);
    vornSetEncryption(HTTP_ENCRYPT_IF_REQUESTED);
    expect_passwords({});
    // No local certificate unless a test writes one.
    ::setenv("VORN_SERVERROOT", (dir_.path() + "/no-root").c_str(), 1);
  }
  void TearDown() override {
    vornSetPasswordCB(nullptr);
    vornSetUser(nullptr);
    ::unsetenv("VORN_SERVERROOT");
  }

  Conn connect(const Server& server) {
    Conn http(httpConnect("127.0.0.1", server.port()));
    if (http) http->timeout = 5000;
    return http;
  }

  TempDir dir_;
};

TEST_F(RequestTest, SendsTheRequestAndTheDocumentByteExact) {
  static const struct {
    const char* label;
    size_t size;  // SIZE_MAX: no document
  } cases[] = {{"no document", SIZE_MAX}, {"empty file", 0}, {"one byte", 1}, {"many blocks", 300001}};
  Server server(job_created);
  Conn http = connect(server);
  ASSERT_TRUE(http);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Ipp req = print_request();
    std::string expected = ippserver::encode(req.get());
    std::string file;
    if (c.size != SIZE_MAX) {
      std::string doc = pattern(c.size);
      expected += doc;
      file = dir_.write("doc", doc);
    }
    Ipp response(vornDoFileRequest(http.get(), req.release(), "/printers/lab", file.empty() ? nullptr : file.c_str()));
    ASSERT_TRUE(response);
    EXPECT_EQ(job_id(response.get()), 7);
    EXPECT_EQ(vornLastError(), IPP_OK);
    Request seen = server.requests().back();
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.resource, "/printers/lab");
    EXPECT_EQ(seen.content_type, "application/ipp");
    EXPECT_EQ(seen.content_length, std::to_string(expected.size()));
    EXPECT_TRUE(seen.body == expected) << "body of " << seen.body.size() << " bytes, expected " << expected.size();
  }
  EXPECT_EQ(server.connections(), 1);
}

TEST_F(RequestTest, APipeIsSentChunked) {
  std::string fifo = dir_.path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string doc = pattern(100000);
  std::thread writer([&] {
    vorn::unique_fd fd(::open(fifo.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd) vorn::write_all(fd.get(), doc.data(), doc.size());
  });
  Server server(job_created);
  Conn http = connect(server);
  ASSERT_TRUE(http);
  Ipp req = print_request();
  std::string expected = ippserver::encode(req.get()) + doc;
  Ipp response(vornDoFileRequest(http.get(), req.release(), "/printers/lab", fifo.c_str()));
  writer.join();
  ASSERT_TRUE(response);
  Request seen = server.requests().back();
  EXPECT_EQ(seen.transfer_encoding, "chunked");
  EXPECT_EQ(seen.content_length, "");
  EXPECT_TRUE(seen.body == expected);
}

TEST_F(RequestTest, KeptAliveConnectionCarriesEveryRequest) {
  Server server(job_created);
  Conn http = connect(server);
  ASSERT_TRUE(http);
  for (int i = 0; i < 3; i++) {
    Ipp response(vornDoFileRequest(http.get(), print_request().release(), "/printers/lab", nullptr));
    ASSERT_TRUE(response) << "request " << i;
  }
  EXPECT_EQ(server.connections(), 1);
  for (const auto& r : server.requests()) EXPECT_EQ(r.connection, 1);
}

// A listing of every job of a big queue holds many more values than any
// request a server accepts; the client still reads it whole.
TEST_F(RequestTest, ReadsAReplyOfTenThousandJobs) {
  constexpr int kJobs = 10000;
  Ipp listing = ippserver::ipp_response(IPP_OK);
  for (int id = 1; id <= kJobs; id++) {
    ipp_t* r = listing.get();
    ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", id);
    ippAddString(r, IPP_TAG_JOB, IPP_TAG_URI, "job-uri", "", "ipp://localhost/jobs/" + std::to_string(id));
    ippAddString(r, IPP_TAG_JOB, IPP_TAG_NAME, "job-name", "", "report " + std::to_string(id));
    ippAddString(r, IPP_TAG_JOB, IPP_TAG_NAME, "job-originating-user-name", "", "user" + std::to_string(id % 17));
    ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_ENUM, "job-state", 3 + id % 7);
    const char* reasons[] = {"job-incoming", "job-hold-until-specified", "printer-stopped"};
    ippAddStrings(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-state-reasons", "", reasons);
    ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-priority", 50);
    ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-k-octets", id % 100);
    ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "time-at-creation", 1000000 + id);
    ippAddString(r, IPP_TAG_JOB, IPP_TAG_URI, "job-printer-uri", "", "ipp://localhost/printers/lab");
    ippAddSeparator(r);
  }
  size_t values = 0;
  for (ipp_attribute_t* a = listing->attrs; a; a = a->next) values += a->values.size();
  ASSERT_GT(values, IPP_MAX_VALUES);  // more than a request may carry

  Server server([&](const Request&) {
    Ipp copy(ippNew());
    copy->op_status = listing->op_status;
    copy->request_id = listing->request_id;
    for (ipp_attribute_t* a = listing->attrs; a; a = a->next) {
      if (a->name.empty()) ippAddSeparator(copy.get());
      else ippCopyAttribute(copy.get(), a);
    }
    return ippserver::ok(std::move(copy));
  });
  Conn http = connect(server);
  ASSERT_TRUE(http);
  Ipp response(vornDoFileRequest(http.get(), print_request().release(), "/", nullptr));
  ASSERT_TRUE(response) << ippErrorString(vornLastError());
  std::vector<int> ids;
  std::string last_name;
  for (ipp_attribute_t* a = response->attrs; a; a = a->next) {
    if (a->name == "job-id") ids.push_back(a->values[0].integer);
    if (a->name == "job-name") last_name = a->values[0].string.text;
  }
  ASSERT_EQ(ids.size(), size_t(kJobs));
  for (int i = 0; i < kJobs; i++) ASSERT_EQ(ids[size_t(i)], i + 1);
  EXPECT_EQ(last_name, "report 10000");

  // The same bytes remain too many for a message read with the defaults,
  // as the scheduler reads its requests.
  EXPECT_FALSE(ippserver::decode(ippserver::encode(listing.get())));
}

TEST_F(RequestTest, ConnectionClosedByTheServerIsReopened) {
  static const struct {
    const char* label;
    bool announced;  // "Connection: close" in the answer
  } cases[] = {{"announced close", true}, {"close without notice", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Server server([&](const Request& r) {
      Reply reply = job_created(r);
      (c.announced ? reply.close : reply.vanish) = true;
      return reply;
    });
    Conn http = connect(server);
    ASSERT_TRUE(http);
    for (int i = 0; i < 3; i++) {
      // The closed socket needs a moment to be seen as closed, or not: both
      // must work.
      if (i == 2) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      Ipp response(vornDoFileRequest(http.get(), print_request().release(), "/printers/lab", nullptr));
      ASSERT_TRUE(response) << "request " << i;
      EXPECT_EQ(job_id(response.get()), 7);
    }
    std::vector<Request> seen = server.requests();
    ASSERT_EQ(seen.size(), 3u);  // each request processed once
    EXPECT_EQ(server.connections(), 3);
  }
}

// The scheduler's challenge for `scheme`, and its check of the credentials.
Gate check_credentials(const Request& r, bool digest, const std::string& user, const std::string& password) {
  bool good;
  if (digest) {
    char md5[33];
    httpMD5(user.c_str(), "VORN", password.c_str(), md5);
    httpMD5Final(r.auth_nonce.c_str(), r.method.c_str(), r.resource.c_str(), md5);
    good = vorn::istarts_with(r.authorization, "Digest ") && r.auth_username == user &&
           r.auth_nonce == "127.0.0.1" && r.auth_uri == r.resource && r.auth_response == md5;
  } else {
    std::string pair = user + ":" + password;
    char encoded[512];
    httpEncode64(encoded, sizeof(encoded), pair.data(), int(pair.size()));
    good = r.authorization == std::string("Basic ") + encoded;
  }
  Gate g;
  if (!good) {
    g.reply.status = 401;
    g.reply.headers = digest ? "WWW-Authenticate: Digest realm=\"VORN\" nonce=\"127.0.0.1\"\r\n"
                             : "WWW-Authenticate: Basic realm=\"VORN\"\r\n";
  } else {
    g.reply.status = 0;
  }
  return g;
}

TEST_F(RequestTest, UnauthorizedAsksForThePasswordAndRetries) {
  static const struct {
    const char* label;
    bool digest;
    std::vector<const char*> answers;
    bool succeeds;
    size_t prompts;
  } cases[] = {
      {"basic", false, {"s3cret"}, true, 1},
      {"digest", true, {"s3cret"}, true, 1},
      {"basic, wrong then right", false, {"wrong", "s3cret"}, true, 2},
      {"digest, wrong then right", true, {"wrong", "s3cret"}, true, 2},
      {"no password", false, {nullptr}, false, 1},
      {"empty password", true, {""}, false, 1},
      {"always wrong", true, {"a", "b", "c", "d", "e"}, false, 3},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    // A user of its own per case, so no password remembered by an earlier
    // case is offered.
    std::string user = "user" + std::to_string(++n) + (c.digest ? "d" : "b");
    vornSetUser(user.c_str());
    expect_passwords(c.answers);
    Server server(job_created, [&](const Request& r) { return check_credentials(r, c.digest, user, "s3cret"); });
    Conn http = connect(server);
    ASSERT_TRUE(http);
    Ipp req = print_request();
    std::string expected = ippserver::encode(req.get()) + "document";
    std::string file = dir_.write("doc", "document");
    Ipp response(vornDoFileRequest(http.get(), req.release(), "/printers/lab", file.c_str()));
    EXPECT_EQ(bool(response), c.succeeds);
    EXPECT_EQ(vornLastError(), c.succeeds ? IPP_OK : IPP_NOT_AUTHENTICATED);
    std::vector<std::string> asked = prompts();
    ASSERT_EQ(asked.size(), c.prompts);
    EXPECT_EQ(asked[0], "Password for " + user + " on 127.0.0.1? ");
    if (c.succeeds) {
      EXPECT_TRUE(server.requests().back().body == expected);
    }
  }
}

// On this host a readable local certificate answers the challenge before
// any password is asked: the process's own, else the root certificate. One
// the server refuses is not offered again; the password is asked instead.
TEST_F(RequestTest, LocalCertificateAnswersFirst) {
  const std::string root = dir_.path() + "/root";
  std::filesystem::create_directories(root + "/certs");
  ::setenv("VORN_SERVERROOT", root.c_str(), 1);
  const std::string mine = "0123456789abcdef0123456789ABCDEF";
  const std::string admin = "fedcba9876543210fedcba9876543210";
  static const struct {
    const char* label;
    bool own_cert;           // certs/<pid> exists
    std::string accepted;    // the Authorization the server takes
    size_t prompts;
    size_t requests;
  } cases[] = {
      {"root certificate", false, "Local " + admin, 0, 2},
      {"own certificate first", true, "Local " + mine, 0, 2},
      {"refused certificate, then the password", false, "Basic dXNlcmM6czNjcmV0", 1, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::ofstream(root + "/certs/0") << admin;
    std::string own = root + "/certs/" + std::to_string(::getpid());
    if (c.own_cert)
      std::ofstream(own) << mine << "\n";
    else
      std::filesystem::remove(own);
    vornSetUser("userc");
    expect_passwords({"s3cret"});
    Server server(job_created, [&](const Request& r) {
      Gate g;
      g.reply.status = r.authorization == c.accepted ? 0 : 401;
      if (g.reply.status) g.reply.headers = "WWW-Authenticate: Basic realm=\"VORN\"\r\n";
      return g;
    });
    Conn http = connect(server);
    ASSERT_TRUE(http);
    Ipp response(vornDoFileRequest(http.get(), print_request().release(), "/admin/", nullptr));
    EXPECT_TRUE(response);
    EXPECT_EQ(prompts().size(), c.prompts);
    EXPECT_EQ(server.requests().size(), c.requests);
  }
  std::filesystem::remove_all(root);
}

TEST_F(RequestTest, PasswordThatWorkedIsNotAskedAgain) {
  for (bool digest : {false, true}) {
    SCOPED_TRACE(digest ? "digest" : "basic");
    std::string user = digest ? "remember-digest" : "remember-basic";
    vornSetUser(user.c_str());
    expect_passwords({"pw"});
    Server server(job_created, [&](const Request& r) { return check_credentials(r, digest, user, "pw"); });
    // The second request goes to another resource (a Digest answer is made
    // for one resource), the third on a new connection.
    static const char* const kResources[] = {"/printers/lab", "/jobs/", "/admin/"};
    Conn http = connect(server);
    ASSERT_TRUE(http);
    for (const char* resource : kResources) {
      if (resource == kResources[2]) http = connect(server);
      Ipp response(vornDoFileRequest(http.get(), print_request().release(), resource, nullptr));
      EXPECT_TRUE(response) << resource;
    }
    EXPECT_EQ(prompts().size(), 1u);
    // Refused once on each connection, not again for the second resource.
    EXPECT_EQ(server.requests().size(), 5u);
  }
}

TEST_F(RequestTest, RefusalBeforeTheBodyIsRead) {
  // The scheduler answers 401 as soon as it has the headers and stops
  // reading a large document: it closes the connection, or holds it open
  // until its idle timer fires. Either way the client must see the answer
  // instead of pushing the document into a connection nobody reads.
  static const struct {
    const char* label;
    bool hold;
  } cases[] = {{"closed", false}, {"held open", true}};
  const std::string doc = pattern(8 << 20);
  std::string file = dir_.write("big", doc);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::string user = std::string("early-") + c.label;
    vornSetUser(user.c_str());
    expect_passwords({"pw"});
    int refusals = 0;
    Server server(job_created, [&](const Request& r) {
      Gate g = check_credentials(r, false, user, "pw");
      if (g.reply.status != 0) {
        refusals++;
        g.read_body = false;
        g.hold = c.hold;
      }
      return g;
    });
    Conn http = connect(server);
    ASSERT_TRUE(http);
    http->timeout = 10000;
    Ipp req = print_request();
    std::string expected = ippserver::encode(req.get()) + doc;
    auto start = std::chrono::steady_clock::now();
    Ipp response(vornDoFileRequest(http.get(), req.release(), "/printers/lab", file.c_str()));
    auto waited = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(response);
    EXPECT_LT(waited, std::chrono::seconds(5));  // well before a write timed out
    EXPECT_EQ(refusals, 1);
    EXPECT_EQ(prompts().size(), 1u);
    EXPECT_TRUE(server.requests().back().body == expected);
  }
}

// 426 for every request that does not come over TLS.
Gate require_tls(const Request& r) {
  Gate g;
  g.reply.status = r.tls ? 0 : 426;
  g.reply.headers = "Connection: Upgrade\r\nUpgrade: TLS/1.0,HTTP/1.1\r\n";
  return g;
}

TEST_F(RequestTest, UpgradeRequiredSwitchesToTls) {
  ippserver::Ctx ctx = ippserver::make_tls_context();
  ASSERT_TRUE(ctx);
  Server server(job_created, require_tls, ctx.get());
  Conn http = connect(server);
  ASSERT_TRUE(http);
  const std::string doc = pattern(70000);
  std::string file = dir_.write("doc", doc);
  Ipp req = print_request();
  std::string expected = ippserver::encode(req.get()) + doc;
  Ipp response(vornDoFileRequest(http.get(), req.release(), "/printers/lab", file.c_str()));
  ASSERT_TRUE(response);
  EXPECT_NE(http->tls, nullptr);
  std::vector<Request> seen = server.requests();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].method + " " + std::to_string(seen[0].tls), "POST 0");
  EXPECT_EQ(seen[1].method + " " + seen[1].resource, "OPTIONS *");
  EXPECT_EQ(seen[2].method + " " + std::to_string(seen[2].tls), "POST 1");
  EXPECT_TRUE(seen[2].body == expected);

  // The encrypted connection stays for the next request.
  Ipp again(vornDoFileRequest(http.get(), print_request().release(), "/printers/lab", nullptr));
  ASSERT_TRUE(again);
  EXPECT_EQ(server.requests().size(), 4u);
  EXPECT_TRUE(server.requests().back().tls);
}

TEST_F(RequestTest, EncryptedFromTheFirstByte) {
  // The server's session tickets make the socket readable while the
  // document goes out; that is no answer to wait for.
  ippserver::Ctx ctx = ippserver::make_tls_context();
  ASSERT_TRUE(ctx);
  Server server(job_created, nullptr, ctx.get(), true);
  Conn http(httpConnectEncrypt("127.0.0.1", server.port(), HTTP_ENCRYPT_ALWAYS));
  ASSERT_TRUE(http);
  http->timeout = 3000;
  const std::string doc = pattern(200000);
  std::string file = dir_.write("doc", doc);
  for (int i = 0; i < 2; i++) {
    Ipp req = print_request();
    std::string expected = ippserver::encode(req.get()) + doc;
    Ipp response(vornDoFileRequest(http.get(), req.release(), "/printers/lab", file.c_str()));
    ASSERT_TRUE(response) << "request " << i;
    EXPECT_TRUE(server.requests().back().tls);
    EXPECT_TRUE(server.requests().back().body == expected);
  }
  EXPECT_EQ(server.connections(), 1);
}

TEST_F(RequestTest, UpgradeRequiredWithoutTlsOnTheServerFails) {
  Server server(job_created, require_tls);  // no certificate: cannot switch
  Conn http = connect(server);
  ASSERT_TRUE(http);
  Ipp response(vornDoFileRequest(http.get(), print_request().release(), "/printers/lab", nullptr));
  EXPECT_FALSE(response);
  EXPECT_EQ(vornLastError(), IPP_NOT_AUTHORIZED);
}

TEST_F(RequestTest, ResponseThatNeverComesTimesOut) {
  Server server([](const Request&) {
    Reply r;
    r.silent = true;  // holds the connection for about ten seconds
    return r;
  });
  Conn http = connect(server);
  ASSERT_TRUE(http);
  http->timeout = 300;
  http->blocking = 0;
  auto start = std::chrono::steady_clock::now();
  Ipp response(vornDoFileRequest(http.get(), print_request().release(), "/printers/lab", nullptr));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(response);
  EXPECT_EQ(vornLastError(), IPP_INTERNAL_ERROR);
  EXPECT_LT(waited, std::chrono::seconds(5));  // the wait ended at the timeout, not at the close
  EXPECT_EQ(server.requests().size(), 1u);    // a timeout is no reason to send again
  EXPECT_EQ(http->timeout, 300);              // the caller's settings are back
  EXPECT_EQ(http->blocking, 0);
}

TEST_F(RequestTest, LastErrorOfEachFailure) {
  static const struct {
    const char* label;
    int http_status;   // what the server answers
    int ipp_status;    // in a 200 answer
    bool garbage;      // a 200 answer that is not IPP
    bool drop;         // closes without an answer
    ipp_status_t expected;
    bool response;
  } cases[] = {
      {"ipp status passed on", 200, IPP_NOT_FOUND, false, false, IPP_NOT_FOUND, true},
      {"ipp success with substitutions", 200, IPP_OK_SUBST, false, false, IPP_OK_SUBST, true},
      {"http 400", 400, 0, false, false, IPP_BAD_REQUEST, false},
      {"http 403", 403, 0, false, false, IPP_FORBIDDEN, false},
      {"http 404", 404, 0, false, false, IPP_NOT_FOUND, false},
      {"http 413", 413, 0, false, false, IPP_REQUEST_ENTITY_TOO_LARGE, false},
      {"http 500", 500, 0, false, false, IPP_INTERNAL_ERROR, false},
      {"not ipp", 200, 0, true, false, IPP_INTERNAL_ERROR, false},
      {"no answer", 0, 0, false, true, IPP_INTERNAL_ERROR, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Server server([&](const Request&) {
      Reply r;
      r.status = c.http_status;
      r.drop = c.drop;
      if (c.garbage) r.body = "<html>not ipp</html>";
      else if (c.http_status == 200) r.ipp = ippserver::ipp_response(c.ipp_status);
      return r;
    });
    Conn http = connect(server);
    ASSERT_TRUE(http);
    Ipp response(vornDoFileRequest(http.get(), print_request().release(), "/printers/lab", nullptr));
    EXPECT_EQ(bool(response), c.response);
    EXPECT_EQ(vornLastError(), c.expected);
    // Sent once: a server that failed on a new connection may have done the
    // work already.
    EXPECT_EQ(server.requests().size(), 1u);
  }
}

TEST_F(RequestTest, DocumentThatCannotBeReadSendsNothing) {
  Server server(job_created);
  Conn http = connect(server);
  ASSERT_TRUE(http);
  for (std::string file : {dir_.path() + "/missing", dir_.path()}) {
    SCOPED_TRACE(file);
    EXPECT_EQ(vornDoFileRequest(http.get(), print_request().release(), "/printers/lab", file.c_str()), nullptr);
    EXPECT_EQ(vornLastError(), IPP_DOCUMENT_ACCESS_ERROR);
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(RequestTest, ServerGoneGivesInternalError) {
  auto server = std::make_unique<Server>(job_created);
  Conn http = connect(*server);
  ASSERT_TRUE(http);
  server.reset();  // stops listening and closes the connection
  EXPECT_EQ(vornDoFileRequest(http.get(), print_request().release(), "/printers/lab", nullptr), nullptr);
  EXPECT_EQ(vornLastError(), IPP_INTERNAL_ERROR);
}

TEST_F(RequestTest, ConsumesTheRequestOnEveryPath) {
  // Run under the address sanitizer: a request leaked or freed twice shows.
  Server server(job_created);
  Conn http = connect(server);
  ASSERT_TRUE(http);
  EXPECT_EQ(vornDoFileRequest(nullptr, print_request().release(), "/", nullptr), nullptr);
  EXPECT_EQ(vornDoFileRequest(http.get(), print_request().release(), nullptr, nullptr), nullptr);
  EXPECT_EQ(vornDoFileRequest(http.get(), nullptr, "/", nullptr), nullptr);
  Ipp unencodable = print_request();
  unencodable->attrs->group_tag = ipp_tag_t(0x0f);  // not a group
  EXPECT_EQ(vornDoFileRequest(http.get(), unencodable.release(), "/", nullptr), nullptr);
  EXPECT_EQ(vornLastError(), IPP_INTERNAL_ERROR);
  EXPECT_TRUE(server.requests().empty());
}

// The job and printer calls, over the process-wide connection.
class JobCallsTest : public RequestTest {
 protected:
  void use(const Server& server) {
    vornSetServer(("127.0.0.1:" + std::to_string(server.port())).c_str());
    vornSetUser("jobber");
  }
  void TearDown() override {
    vornSetServer(nullptr);
    RequestTest::TearDown();
  }
};

// Answers as the scheduler would: Print-Job creates job 41, Create-Job job
// 42, Send-Document number `refuse` (from 1) is refused, VORN-Get-Printers
// lists `printers`.
struct Scheduler {
  int refuse = 0;
  int documents = 0;
  int cancel_status = IPP_OK;
  std::vector<std::string> printers;
  Reply operator()(const Request& r) {
    Ipp req = ippserver::decode(r.body);
    if (!req) {
      Reply bad;
      bad.status = 400;
      return bad;
    }
    switch (req->op_status) {
      case IPP_PRINT_JOB:
      case IPP_CREATE_JOB: {
        Ipp resp = ippserver::ipp_response(IPP_OK);
        ippAddInteger(resp.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", req->op_status == IPP_PRINT_JOB ? 41 : 42);
        return ippserver::ok(std::move(resp));
      }
      case IPP_SEND_DOCUMENT:
        return ippserver::ok(
            ippserver::ipp_response(++documents == refuse ? IPP_DOCUMENT_FORMAT_NOT_SUPPORTED : IPP_OK));
      case IPP_CANCEL_JOB:
        return ippserver::ok(ippserver::ipp_response(cancel_status));
      case VORN_GET_PRINTERS: {
        Ipp resp = ippserver::ipp_response(IPP_OK_SUBST);
        for (const auto& p : printers) {
          ippAddString(resp.get(), IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", "", p);
          ippAddInteger(resp.get(), IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", 3);
          ippAddSeparator(resp.get());
        }
        return ippserver::ok(std::move(resp));
      }
      default:
        return ippserver::ok(ippserver::ipp_response(IPP_OPERATION_NOT_SUPPORTED));
    }
  }
};

// The requests the server decoded: operation and the message.
struct Seen {
  int op;
  std::string resource;
  Ipp ipp;
  std::string document;
};
std::vector<Seen> decoded(Server& server) {
  std::vector<Seen> out;
  for (const auto& r : server.requests()) {
    Seen s;
    s.resource = r.resource;
    s.ipp = ippserver::decode(r.body, &s.document);
    s.op = s.ipp ? s.ipp->op_status : -1;
    out.push_back(std::move(s));
  }
  return out;
}

// "group:name" of every attribute, in order.
std::vector<std::string> layout(ipp_t* ipp) {
  std::vector<std::string> out;
  for (ipp_attribute_t* a = ipp->attrs; a; a = a->next) out.push_back(std::to_string(a->group_tag) + ":" + a->name);
  return out;
}

TEST_F(JobCallsTest, PrintFileSendsPrintJobWithGroupsInOrder) {
  Scheduler sched;
  Server server([&](const Request& r) { return sched(r); });
  use(server);
  vorn_options_t options;
  vornParseOptions("copies=2 document-format=text/plain page-ranges=1-3", options);
  std::string file = dir_.write("report.txt", "page one\fpage two\n");
  EXPECT_EQ(vornPrintFile("lab", file.c_str(), "Quarterly", options), 41);
  EXPECT_EQ(vornLastError(), IPP_OK);

  std::vector<Seen> seen = decoded(server);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].op, IPP_PRINT_JOB);
  EXPECT_EQ(seen[0].resource, "/printers/lab");
  EXPECT_EQ(layout(seen[0].ipp.get()),
            (std::vector<std::string>{"1:attributes-charset", "1:attributes-natural-language", "1:printer-uri",
                                      "1:requesting-user-name", "1:job-name", "1:document-format", "2:copies",
                                      "2:page-ranges"}));
  EXPECT_EQ(ippserver::text(seen[0].ipp.get(), "printer-uri"), "ipp://localhost/printers/lab");
  EXPECT_EQ(ippserver::text(seen[0].ipp.get(), "requesting-user-name"), "jobber");
  EXPECT_EQ(ippserver::text(seen[0].ipp.get(), "job-name"), "Quarterly");
  EXPECT_EQ(ippserver::text(seen[0].ipp.get(), "document-format"), "text/plain");
  EXPECT_EQ(ippserver::number(seen[0].ipp.get(), "copies"), 2);
  EXPECT_EQ(seen[0].document, "page one\fpage two\n");
}

TEST_F(JobCallsTest, PrintFilesSendsCreateJobAndOneDocumentEach) {
  Scheduler sched;
  Server server([&](const Request& r) { return sched(r); });
  use(server);
  vorn_options_t options;
  vornParseOptions("document-format=application/postscript copies=3", options);
  std::vector<std::string> files;
  for (int i = 0; i < 3; i++) files.push_back(dir_.write("f" + std::to_string(i), pattern(1000 * (i + 1))));
  EXPECT_EQ(vornPrintFiles("lab", files, "three", options), 42);

  std::vector<Seen> seen = decoded(server);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].op, IPP_CREATE_JOB);
  EXPECT_EQ(ippserver::number(seen[0].ipp.get(), "copies"), 3);
  EXPECT_EQ(seen[0].document, "");
  for (int i = 0; i < 3; i++) {
    SCOPED_TRACE(i);
    const Seen& s = seen[size_t(i) + 1];
    EXPECT_EQ(s.op, IPP_SEND_DOCUMENT);
    EXPECT_EQ(s.resource, "/printers/lab");
    EXPECT_EQ(ippserver::number(s.ipp.get(), "job-id"), 42);
    EXPECT_EQ(ippserver::number(s.ipp.get(), "last-document"), i == 2 ? 1 : 0);
    EXPECT_EQ(ippserver::text(s.ipp.get(), "document-format"), "application/postscript");
    EXPECT_EQ(ippserver::number(s.ipp.get(), "copies"), -1);  // job attributes went with Create-Job
    EXPECT_TRUE(s.document == pattern(1000 * size_t(i + 1)));
  }
  EXPECT_EQ(server.connections(), 1);
}

TEST_F(JobCallsTest, RefusedDocumentCancelsTheJob) {
  Scheduler sched;
  sched.refuse = 2;
  Server server([&](const Request& r) { return sched(r); });
  use(server);
  std::vector<std::string> files = {dir_.write("a", "a"), dir_.write("b", "b"), dir_.write("c", "c")};
  EXPECT_EQ(vornPrintFiles("lab", files, "t", {}), 0);
  EXPECT_EQ(vornLastError(), IPP_DOCUMENT_FORMAT_NOT_SUPPORTED);
  std::vector<Seen> seen = decoded(server);
  ASSERT_EQ(seen.size(), 4u);  // Create-Job, two documents, Cancel-Job; no third document
  EXPECT_EQ(seen[3].op, IPP_CANCEL_JOB);
  EXPECT_EQ(seen[3].resource, "/jobs/");
  EXPECT_EQ(ippserver::number(seen[3].ipp.get(), "job-id"), 42);
}

TEST_F(JobCallsTest, PrintFilesRefusesWhatCannotBeSent) {
  Scheduler sched;
  Server server([&](const Request& r) { return sched(r); });
  use(server);
  std::string file = dir_.write("a", "a");
  const char* one[] = {file.c_str()};
  const char* with_null[] = {file.c_str(), nullptr};
  EXPECT_EQ(vornPrintFiles(nullptr, 1, one, "t", {}), 0);
  EXPECT_EQ(vornPrintFiles("a/b", 1, one, "t", {}), 0);
  EXPECT_EQ(vornPrintFiles("lab", 0, one, "t", {}), 0);
  EXPECT_EQ(vornPrintFiles("lab", 2, with_null, "t", {}), 0);
  EXPECT_EQ(vornLastError(), IPP_BAD_REQUEST);
  EXPECT_TRUE(server.requests().empty());
  EXPECT_EQ(vornPrintFile("lab", (dir_.path() + "/missing").c_str(), "t", {}), 0);
  EXPECT_EQ(vornLastError(), IPP_DOCUMENT_ACCESS_ERROR);
}

TEST_F(JobCallsTest, CancelJob) {
  static const struct {
    int job;
    int server_status;
    int result;
  } cases[] = {{12, IPP_OK, 1}, {0, IPP_OK, 1}, {13, IPP_NOT_FOUND, 0}, {14, IPP_NOT_POSSIBLE, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.job);
    Scheduler sched;
    sched.cancel_status = c.server_status;
    Server server([&](const Request& r) { return sched(r); });
    use(server);
    EXPECT_EQ(vornCancelJob("lab", c.job), c.result);
    EXPECT_EQ(vornLastError(), c.server_status);
    std::vector<Seen> seen = decoded(server);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].op, IPP_CANCEL_JOB);
    EXPECT_EQ(seen[0].resource, "/jobs/");
    EXPECT_EQ(ippserver::text(seen[0].ipp.get(), "printer-uri"), "ipp://localhost/printers/lab");
    EXPECT_EQ(ippserver::number(seen[0].ipp.get(), "job-id"), c.job);
    EXPECT_EQ(ippserver::text(seen[0].ipp.get(), "requesting-user-name"), "jobber");
  }
}

TEST_F(JobCallsTest, GetPrinters) {
  Scheduler sched;
  sched.printers = {"alpha", "Beta", "gamma@far"};
  Server server([&](const Request& r) { return sched(r); });
  use(server);
  std::vector<std::string> names = {"stale"};
  EXPECT_EQ(vornGetPrinters(names), 3);
  EXPECT_EQ(names, sched.printers);
  std::vector<Seen> seen = decoded(server);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].op, VORN_GET_PRINTERS);
  EXPECT_EQ(ippserver::text(seen[0].ipp.get(), "requested-attributes"), "printer-name");

  server.stop();
  use(Server([](const Request&) { return Reply{}; }));  // a port nobody listens on any more
  EXPECT_EQ(vornGetPrinters(names), 0);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(vornLastError(), IPP_INTERNAL_ERROR);
}

TEST_F(JobCallsTest, GetPPD) {
  const std::string ppd = "*PPD-Adobe: \"4.3\"\n*ModelName: \"Lab\"\n" + pattern(50000);
  Server server([&](const Request& r) {
    Reply reply;
    if (r.method == "GET" && r.resource == "/printers/lab.ppd") reply.body = ppd;
    else reply.status = 404;
    return reply;
  });
  use(server);
  std::string copy = vornGetPPD("lab");
  ASSERT_FALSE(copy.empty());
  EXPECT_TRUE(slurp(copy) == ppd);
  struct stat st;
  ASSERT_EQ(::stat(copy.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ::unlink(copy.c_str());

  EXPECT_EQ(vornGetPPD("other"), "");
  EXPECT_EQ(vornLastError(), IPP_NOT_FOUND);
  size_t before = server.requests().size();
  for (const char* bad : {"", "../etc/passwd", "a b", "x/y"}) {
    EXPECT_EQ(vornGetPPD(bad), "") << bad;
    EXPECT_EQ(vornLastError(), IPP_NOT_FOUND);
  }
  EXPECT_EQ(vornGetPPD(nullptr), "");
  EXPECT_EQ(server.requests().size(), before);  // nothing asked for bad names
}

}  // namespace
