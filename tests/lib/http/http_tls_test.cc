// TLS over loopback: a client that encrypts from the first byte ("always"),
// the HTTP upgrade ("required") against a server that answers as the
// scheduler does, and refusals. The server's certificate is self-signed and
// made fresh by each test run.

#include "vorn/http.h"

#include "tests/fixtures/http/loopback.h"
#include "tests/fixtures/http/tls_context.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <memory>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using Conn = vorn::http_ptr;

using testtls::Ctx;
using testtls::make_server_context;

http_status_t read_headers(http_t* http) {
  http_status_t st = HTTP_CONTINUE;
  for (int i = 0; i < 5000 && st == HTTP_CONTINUE; i++) {
    st = httpUpdate(http);
    if (st == HTTP_CONTINUE && !http->blocking && http->error == EAGAIN) httpWait(http, 1000);
  }
  return st;
}

std::string read_body(http_t* http) {
  std::string body;
  char buf[64];
  for (int i = 0; i < 10000; i++) {
    int n = httpRead(http, buf, sizeof(buf));
    if (n < 0) return body + "<error>";
    if (n == 0) break;
    body.append(buf, size_t(n));
  }
  return body;
}

// Reads one request on a server connection and answers it with a length
// body; returns "METHOD resource" or "" on failure. Works on blocking and
// non-blocking connections.
std::string serve_request(http_t* http, const std::string& answer) {
  char line[1024];
  char* got = nullptr;
  for (int i = 0; i < 100 && !got; i++) {
    got = httpGets(line, sizeof(line), http);
    if (!got && http->error == EAGAIN) httpWait(http, 1000);
    else if (!got) return "";
  }
  if (!got) return "";
  http_request_line_t parsed;
  httpParseRequestLine(line, &parsed);
  httpClearFields(http);
  http->state = parsed.state == HTTP_GET || parsed.state == HTTP_OPTIONS ? parsed.state : HTTP_POST;
  http->status = HTTP_OK;
  if (read_headers(http) != HTTP_OK) return "";
  httpPrintf(http, "HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n%s", int(answer.size()), answer.c_str());
  return std::string(parsed.method) + " " + parsed.resource;
}

class TlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx_ = make_server_context();
    ASSERT_TRUE(ctx_);
    ASSERT_NE(listener_.port, 0);
  }
  void TearDown() override {
    if (server_.joinable()) server_.join();
  }

  // Runs `body` in a thread on the first accepted connection.
  template <typename F>
  void serve(int blocking, F body) {
    server_ = std::thread([this, blocking, body] {
      pollfd p{listener_.fd.get(), POLLIN, 0};
      if (::poll(&p, 1, 5000) != 1) return;
      Conn http(httpAcceptConnection(listener_.fd.get(), blocking));
      if (!http) return;
      http->timeout = 5000;
      body(http.get());
    });
  }
  std::vector<std::string> log() {
    if (server_.joinable()) server_.join();
    return log_;
  }

  Ctx ctx_;
  loopback::Listener listener_ = loopback::listen_any_port();
  std::vector<std::string> log_;
  std::thread server_;
};

TEST_F(TlsTest, AlwaysEncryptsFromTheFirstByte) {
  // The server reads without blocking, as the scheduler does.
  serve(0, [this](http_t* http) {
    if (httpAcceptTLS(http, ctx_.get()) != 0) {
      log_.push_back("handshake failed");
      return;
    }
    log_.push_back(std::string("tls ") + (http->tls ? "on" : "off"));
    for (int i = 0; i < 2; i++) log_.push_back(serve_request(http, "secret answer " + std::to_string(i)));
  });
  Conn http(httpConnectEncrypt("127.0.0.1", listener_.port, HTTP_ENCRYPT_ALWAYS));
  ASSERT_TRUE(http);
  http->timeout = 5000;
  EXPECT_NE(http->tls, nullptr);
  for (int i = 0; i < 2; i++) {
    httpClearFields(http.get());
    ASSERT_EQ(httpGet(http.get(), "/secret"), 0);
    ASSERT_EQ(read_headers(http.get()), HTTP_OK);
    EXPECT_EQ(read_body(http.get()), "secret answer " + std::to_string(i));
  }
  EXPECT_EQ(log(), (std::vector<std::string>{"tls on", "GET /secret", "GET /secret"}));
}

// Answers an upgrade request as the scheduler does: 101 with the upgrade
// fields, the handshake, then the answer to the OPTIONS request over TLS.
void answer_upgrade(http_t* http, SSL_CTX* ctx, std::vector<std::string>& log) {
  char line[256];
  if (!httpGets(line, sizeof(line), http)) return;
  log.push_back(line);
  httpClearFields(http);
  http->state = HTTP_OPTIONS;
  http->status = HTTP_OK;
  if (read_headers(http) != HTTP_OK) return;
  log.push_back(std::string("Connection: ") + httpGetField(http, HTTP_FIELD_CONNECTION) +
                ", Upgrade: " + httpGetField(http, HTTP_FIELD_UPGRADE));
  httpPrintf(http,
             "HTTP/1.1 101 Switching Protocols\r\nConnection: Upgrade\r\nUpgrade: TLS/1.0,HTTP/1.1\r\n"
             "Content-Length: 0\r\n\r\n");
  if (httpAcceptTLS(http, ctx) != 0) {
    log.push_back("handshake failed");
    return;
  }
  httpPrintf(http, "HTTP/1.1 200 OK\r\nAllow: GET, HEAD, OPTIONS, POST, PUT\r\nContent-Length: 0\r\n\r\n");
  log.push_back("upgraded");
}

TEST_F(TlsTest, RequiredUpgradesThePlainConnection) {
  serve(1, [this](http_t* http) {
    answer_upgrade(http, ctx_.get(), log_);
    if (http->tls) log_.push_back(serve_request(http, "over tls"));
  });
  Conn http(httpConnectEncrypt("127.0.0.1", listener_.port, HTTP_ENCRYPT_REQUIRED));
  ASSERT_TRUE(http);
  http->timeout = 5000;
  EXPECT_NE(http->tls, nullptr);
  EXPECT_EQ(http->state, HTTP_WAITING);
  httpClearFields(http.get());
  ASSERT_EQ(httpGet(http.get(), "/jobs"), 0);
  ASSERT_EQ(read_headers(http.get()), HTTP_OK);
  EXPECT_EQ(read_body(http.get()), "over tls");
  EXPECT_EQ(log(), (std::vector<std::string>{"OPTIONS * HTTP/1.1",
                                             "Connection: Upgrade, Upgrade: TLS/1.0,HTTP/1.1", "upgraded",
                                             "GET /jobs"}));
}

TEST_F(TlsTest, EncryptionSwitchesAnOpenConnectionAndKeepsItsFields) {
  serve(1, [this](http_t* http) {
    log_.push_back(serve_request(http, "plain"));
    answer_upgrade(http, ctx_.get(), log_);
    if (http->tls) log_.push_back(serve_request(http, "encrypted"));
  });
  Conn http(httpConnect("127.0.0.1", listener_.port));
  ASSERT_TRUE(http);
  http->timeout = 5000;
  ASSERT_EQ(httpGet(http.get(), "/before"), 0);
  ASSERT_EQ(read_headers(http.get()), HTTP_OK);
  EXPECT_EQ(read_body(http.get()), "plain");
  EXPECT_EQ(http->tls, nullptr);

  httpClearFields(http.get());
  httpSetField(http.get(), HTTP_FIELD_CONTENT_TYPE, "application/ipp");
  ASSERT_EQ(httpEncryption(http.get(), HTTP_ENCRYPT_REQUIRED), 0);
  EXPECT_NE(http->tls, nullptr);
  EXPECT_STREQ(httpGetField(http.get(), HTTP_FIELD_CONTENT_TYPE), "application/ipp");
  httpSetField(http.get(), HTTP_FIELD_CONTENT_LENGTH, "0");
  ASSERT_EQ(httpPost(http.get(), "/after"), 0);
  ASSERT_EQ(read_headers(http.get()), HTTP_OK);
  EXPECT_EQ(read_body(http.get()), "encrypted");
  EXPECT_EQ(log(), (std::vector<std::string>{"GET /before", "OPTIONS * HTTP/1.1",
                                             "Connection: Upgrade, Upgrade: TLS/1.0,HTTP/1.1", "upgraded",
                                             "POST /after"}));
}

TEST_F(TlsTest, RequiredFailsWhenTheServerWillNotSwitch) {
  // A server without TLS answers the OPTIONS request plainly.
  serve(1, [this](http_t* http) { log_.push_back(serve_request(http, "")); });
  errno = 0;
  Conn http(httpConnectEncrypt("127.0.0.1", listener_.port, HTTP_ENCRYPT_REQUIRED));
  EXPECT_FALSE(http);
  EXPECT_EQ(errno, EPROTO);
  EXPECT_EQ(log(), std::vector<std::string>{"OPTIONS *"});
}

TEST_F(TlsTest, AlwaysFailsAgainstAPlainServer) {
  serve(1, [](http_t* http) {
    // Whatever arrives is not HTTP; answer like a plain server and close.
    char line[256];
    httpGets(line, sizeof(line), http);
    httpPrintf(http, "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n");
  });
  Conn http(httpConnectEncrypt("127.0.0.1", listener_.port, HTTP_ENCRYPT_ALWAYS));
  EXPECT_FALSE(http);
}

TEST_F(TlsTest, ServerHandshakeStepsWithNewTLS) {
  // The scheduler's way: a session from httpNewTLS, handshake steps driven
  // by readiness, then httpAttachTLS.
  serve(0, [this](http_t* http) {
    vorn::tls_ptr ssl(httpNewTLS(http, ctx_.get()));
    if (!ssl) return;
    int steps = 0;
    for (; steps < 200; steps++) {
      int r = SSL_accept(ssl.get());
      if (r == 1) break;
      int e = SSL_get_error(ssl.get(), r);
      if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) {
        log_.push_back("handshake failed");
        return;
      }
      pollfd p{http->fd, short(e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
      ::poll(&p, 1, 1000);
    }
    httpAttachTLS(http, ssl.release());
    log_.push_back(serve_request(http, "stepped"));
  });
  Conn http(httpConnectEncrypt("127.0.0.1", listener_.port, HTTP_ENCRYPT_ALWAYS));
  ASSERT_TRUE(http);
  http->timeout = 5000;
  ASSERT_EQ(httpGet(http.get(), "/x"), 0);
  ASSERT_EQ(read_headers(http.get()), HTTP_OK);
  EXPECT_EQ(read_body(http.get()), "stepped");
  EXPECT_EQ(log(), std::vector<std::string>{"GET /x"});
}

TEST_F(TlsTest, ReconnectKeepsEncryption) {
  serve(1, [this](http_t* http) {
    if (httpAcceptTLS(http, ctx_.get()) != 0) return;
    log_.push_back("first");
  });
  Conn http(httpConnectEncrypt("127.0.0.1", listener_.port, HTTP_ENCRYPT_ALWAYS));
  ASSERT_TRUE(http);
  http->timeout = 5000;
  ASSERT_EQ(log(), std::vector<std::string>{"first"});

  serve(1, [this](http_t* conn) {
    if (httpAcceptTLS(conn, ctx_.get()) != 0) return;
    log_.push_back(serve_request(conn, "again"));
  });
  ASSERT_EQ(httpReconnect(http.get()), 0);
  EXPECT_NE(http->tls, nullptr);
  ASSERT_EQ(httpGet(http.get(), "/y"), 0);
  ASSERT_EQ(read_headers(http.get()), HTTP_OK);
  EXPECT_EQ(read_body(http.get()), "again");
  EXPECT_EQ(log(), (std::vector<std::string>{"first", "GET /y"}));
}

}  // namespace
