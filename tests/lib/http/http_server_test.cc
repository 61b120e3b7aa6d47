// The server side as the scheduler drives it: a non-blocking connection from
// httpAcceptConnection, request lines through httpGets, headers through
// httpUpdate, bodies through httpRead, over real loopback sockets. One thread
// plays both peers, so every step is deterministic.

#include "vorn/http.h"

#include "tests/fixtures/http/loopback.h"

#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <string>
#include <vector>

namespace {

using Conn = vorn::http_ptr;

// A raw client connected to a non-blocking server connection.
struct Pair {
  loopback::Listener listener = loopback::listen_any_port();
  vorn::unique_fd client;
  Conn server;

  Pair() {
    client = loopback::connect_raw(listener.port);
    pollfd p{listener.fd.get(), POLLIN, 0};
    if (client && ::poll(&p, 1, 5000) == 1) server.reset(httpAcceptConnection(listener.fd.get(), 0));
  }
  void send(const std::string& bytes) {
    loopback::send_text(client.get(), bytes);
    // Wait until the bytes can be read, so the next call sees them.
    if (!httpWait(server.get(), 5000)) ADD_FAILURE() << "data did not arrive";
  }
};

// Starts a request as the scheduler does after reading the request line.
void begin_request(http_t* http, http_state_t method) {
  httpClearFields(http);
  httpSetField(http, HTTP_FIELD_HOST, http->hostname);
  http->state = method;
  http->status = HTTP_OK;
}

// httpUpdate until the headers end; the count of HTTP_CONTINUE answers is
// bounded, since everything was sent before.
http_status_t headers(http_t* http) {
  http_status_t st = HTTP_CONTINUE;
  for (int i = 0; i < 100 && st == HTTP_CONTINUE; i++) st = httpUpdate(http);
  return st;
}

std::string body(http_t* http) {
  std::string out;
  char buf[5];
  for (int i = 0; i < 10000; i++) {
    int n = httpRead(http, buf, sizeof(buf));
    if (n < 0) return out + "<error>";
    if (n == 0) break;
    out.append(buf, size_t(n));
  }
  return out;
}

TEST(HttpServer, AcceptRecordsThePeer) {
  Pair p;
  ASSERT_TRUE(p.server);
  EXPECT_EQ(p.server->server, 1);
  EXPECT_EQ(p.server->blocking, 0);
  EXPECT_EQ(p.server->state, HTTP_WAITING);
  EXPECT_EQ(p.server->hostaddr.addr.sa_family, AF_INET);
  EXPECT_STREQ(p.server->hostname, "127.0.0.1");
  EXPECT_NE(p.server->activity, 0);
}

TEST(HttpServer, RequestsMoveThroughTheirStates) {
  static const struct {
    const char* name;
    http_state_t method;
    std::string request;  // after the request line
    http_state_t after_headers;
    std::string body;
    http_state_t after_body;
  } cases[] = {
      {"get", HTTP_GET, "Accept-Language: de\r\n\r\n", HTTP_GET_SEND, "", HTTP_WAITING},
      {"post by length", HTTP_POST, "Content-Type: application/ipp\r\nContent-Length: 11\r\n\r\nhello world",
       HTTP_POST_RECV, "hello world", HTTP_POST_SEND},
      {"post chunked", HTTP_POST, "Transfer-Encoding: chunked\r\n\r\n6\r\nhello \r\n5\r\nworld\r\n0\r\n\r\n",
       HTTP_POST_RECV, "hello world", HTTP_POST_SEND},
      {"empty post", HTTP_POST, "Content-Length: 0\r\n\r\n", HTTP_POST_RECV, "", HTTP_POST_SEND},
      {"post without length has no body", HTTP_POST, "\r\n", HTTP_POST_RECV, "", HTTP_POST_SEND},
      {"put", HTTP_PUT, "Content-Length: 4\r\n\r\nconf", HTTP_PUT_RECV, "conf", HTTP_WAITING},
      {"head", HTTP_HEAD, "\r\n", HTTP_HEAD, "", HTTP_WAITING},
      {"options", HTTP_OPTIONS, "Connection: Upgrade\r\nUpgrade: TLS/1.0,HTTP/1.1\r\n\r\n", HTTP_OPTIONS, "",
       HTTP_WAITING},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pair p;
    ASSERT_TRUE(p.server);
    http_t* http = p.server.get();
    p.send("X /r HTTP/1.1\r\n" + c.request);
    char line[HTTP_MAX_BUFFER];
    ASSERT_NE(httpGets(line, sizeof(line), http), nullptr);
    EXPECT_STREQ(line, "X /r HTTP/1.1");
    begin_request(http, c.method);
    ASSERT_EQ(headers(http), HTTP_OK);
    EXPECT_EQ(http->state, c.after_headers);
    EXPECT_STREQ(httpGetField(http, HTTP_FIELD_HOST), "127.0.0.1");
    EXPECT_EQ(body(http), c.body);
    EXPECT_EQ(http->state, c.after_body);
    // Once the body has ended, further reads change nothing.
    char b[4];
    EXPECT_EQ(httpRead(http, b, sizeof(b)), 0);
    EXPECT_EQ(http->state, c.after_body);
  }
}

TEST(HttpServer, RequestArrivingByteByByte) {
  Pair p;
  ASSERT_TRUE(p.server);
  http_t* http = p.server.get();
  const std::string request =
      "POST /printers/lab HTTP/1.1\r\nHost: printhost\r\nContent-Type: application/ipp\r\n"
      "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2;x=y\r\nde\r\n0\r\nTrailer: t\r\n\r\n";
  enum { LINE, HEADERS, BODY, DONE } step = LINE;
  std::string line_read, body_read;
  int waits = 0;
  for (char byte : request) {
    p.send(std::string(1, byte));
    // Advance as far as the bytes so far allow; a step without data must say
    // "not yet" and leave everything in place.
    for (bool progress = true; progress && step != DONE;) {
      progress = false;
      if (step == LINE) {
        char line[256];
        if (httpGets(line, sizeof(line), http)) {
          line_read = line;
          begin_request(http, HTTP_POST);
          step = HEADERS;
          progress = true;
        } else {
          EXPECT_EQ(http->error, EAGAIN);
          waits++;
        }
      } else if (step == HEADERS) {
        http_status_t st = httpUpdate(http);
        ASSERT_NE(st, HTTP_ERROR);
        if (st == HTTP_OK) {
          step = BODY;
          progress = true;
        }
      } else if (step == BODY) {
        char buf[64];
        int n = httpRead(http, buf, sizeof(buf));
        ASSERT_GE(n, 0);
        if (n > 0) {
          body_read.append(buf, size_t(n));
          progress = true;
        } else if (http->state == HTTP_POST_SEND) {
          step = DONE;
        } else {
          EXPECT_EQ(http->state, HTTP_POST_RECV);
        }
      }
    }
  }
  EXPECT_EQ(step, DONE);
  EXPECT_EQ(line_read, "POST /printers/lab HTTP/1.1");
  EXPECT_GT(waits, 20);  // the request line was incomplete many times
  EXPECT_STREQ(httpGetField(http, HTTP_FIELD_HOST), "printhost");
  EXPECT_STREQ(httpGetField(http, HTTP_FIELD_CONTENT_TYPE), "application/ipp");
  EXPECT_EQ(body_read, "abcde");
  EXPECT_EQ(http->used, 0);
}

TEST(HttpServer, PipelinedRequestsStayBuffered) {
  Pair p;
  ASSERT_TRUE(p.server);
  http_t* http = p.server.get();
  p.send("POST /a HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcGET /b HTTP/1.1\r\nHost: h\r\n\r\n");
  char line[HTTP_MAX_BUFFER];
  ASSERT_NE(httpGets(line, sizeof(line), http), nullptr);
  begin_request(http, HTTP_POST);
  ASSERT_EQ(headers(http), HTTP_OK);
  char buf[64];
  ASSERT_EQ(httpRead(http, buf, sizeof(buf)), 3);  // never more than the body
  EXPECT_EQ(std::string(buf, 3), "abc");
  EXPECT_EQ(http->state, HTTP_POST_SEND);
  EXPECT_GT(http->used, 0);  // the next request waits in the buffer

  ASSERT_NE(httpGets(line, sizeof(line), http), nullptr);
  EXPECT_STREQ(line, "GET /b HTTP/1.1");
  begin_request(http, HTTP_GET);
  ASSERT_EQ(headers(http), HTTP_OK);
  EXPECT_STREQ(httpGetField(http, HTTP_FIELD_HOST), "h");
  EXPECT_EQ(http->state, HTTP_GET_SEND);
}

TEST(HttpServer, OverlongLinesAreCutAndTheRestDropped) {
  Pair p;
  ASSERT_TRUE(p.server);
  http_t* http = p.server.get();
  const std::string resource(50000, 'a');
  p.send("GET /" + resource + " HTTP/1.1\r\nUser-Agent: " + std::string(3000, 'u') + "\r\nHost: h\r\n\r\n");

  // The request line is longer than the whole buffer: its start comes back,
  // cut at the caller's size, and none of its tail is taken for a header.
  std::vector<char> line(HTTP_MAX_BUFFER);
  char* got = nullptr;
  for (int i = 0; i < 100 && !got; i++) {
    got = httpGets(line.data(), int(line.size()), http);
    if (!got && http->error == EAGAIN) httpWait(http, 1000);
  }
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(std::string(line.data()).size(), size_t(HTTP_MAX_BUFFER - 1));
  EXPECT_EQ(std::string(line.data(), 5), "GET /");

  begin_request(http, HTTP_GET);
  http_status_t st = HTTP_CONTINUE;
  for (int i = 0; i < 200 && st == HTTP_CONTINUE; i++) {
    st = httpUpdate(http);
    if (st == HTTP_CONTINUE && http->used == 0) httpWait(http, 1000);
  }
  ASSERT_EQ(st, HTTP_OK);
  EXPECT_EQ(std::string(httpGetField(http, HTTP_FIELD_USER_AGENT)), std::string(255, 'u'));
  EXPECT_STREQ(httpGetField(http, HTTP_FIELD_HOST), "h");
}

TEST(HttpServer, GetsCutsAtTheCallersBuffer) {
  Pair p;
  ASSERT_TRUE(p.server);
  p.send("GET /0123456789abcdef HTTP/1.1\nnext\r\n");
  char small[16];
  ASSERT_NE(httpGets(small, sizeof(small), p.server.get()), nullptr);
  EXPECT_STREQ(small, "GET /0123456789");
  ASSERT_NE(httpGets(small, sizeof(small), p.server.get()), nullptr);
  EXPECT_STREQ(small, "next");
}

TEST(HttpServer, MalformedRequestsFailCleanly) {
  static const struct {
    const char* name;
    std::string headers;
  } cases[] = {
      {"no colon", "Junk\r\n\r\n"},
      {"status line is no header", "HTTP/1.1 200 OK\r\n\r\n"},
      {"bad length", "Content-Length: ten\r\n\r\n"},
      {"huge length", "Content-Length: 99999999999999999999999\r\n\r\n"},
      {"conflicting lengths", "Content-Length: 1\r\nContent-Length: 2\r\n\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pair p;
    ASSERT_TRUE(p.server);
    p.send("POST / HTTP/1.1\r\n" + c.headers);
    char line[256];
    ASSERT_NE(httpGets(line, sizeof(line), p.server.get()), nullptr);
    begin_request(p.server.get(), HTTP_POST);
    EXPECT_EQ(headers(p.server.get()), HTTP_ERROR);
  }
}

TEST(HttpServer, MalformedChunkedBodiesFail) {
  static const struct {
    const char* name;
    std::string body;
    std::string read_before_error;
  } cases[] = {
      {"size not hex", "xyz\r\nabc\r\n0\r\n\r\n", ""},
      {"size with garbage after it", "3 q\r\nabc\r\n0\r\n\r\n", ""},
      {"empty size line", "\r\nabc\r\n0\r\n\r\n", ""},
      {"size beyond 60 bits", "1000000000000000\r\n", ""},
      {"missing line end after data", "3\r\nabcdef\r\n0\r\n\r\n", "abc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pair p;
    ASSERT_TRUE(p.server);
    p.send("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" + c.body);
    char line[256];
    ASSERT_NE(httpGets(line, sizeof(line), p.server.get()), nullptr);
    begin_request(p.server.get(), HTTP_POST);
    ASSERT_EQ(headers(p.server.get()), HTTP_OK);
    EXPECT_EQ(body(p.server.get()), c.read_before_error + "<error>");
    EXPECT_EQ(p.server->state, HTTP_POST_RECV);  // never reported as complete
  }
}

TEST(HttpServer, PeerCloseIsReported) {
  Pair p;
  ASSERT_TRUE(p.server);
  p.send("GET / HTT");
  p.client.reset();
  char line[64];
  char* got = nullptr;
  for (int i = 0; i < 100; i++) {
    got = httpGets(line, sizeof(line), p.server.get());
    if (got || p.server->error != EAGAIN) break;
    httpWait(p.server.get(), 1000);
  }
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(p.server->error, EPIPE);
}

TEST(HttpServer, BodyCutShortByTheClientIsAnError) {
  Pair p;
  ASSERT_TRUE(p.server);
  p.send("PUT /admin/conf/x HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc");
  char line[64];
  ASSERT_NE(httpGets(line, sizeof(line), p.server.get()), nullptr);
  begin_request(p.server.get(), HTTP_PUT);
  ASSERT_EQ(headers(p.server.get()), HTTP_OK);
  char buf[16];
  EXPECT_EQ(httpRead(p.server.get(), buf, sizeof(buf)), 3);
  p.client.reset();
  int n = 0;
  for (int i = 0; i < 100; i++) {
    n = httpRead(p.server.get(), buf, sizeof(buf));
    if (n != 0 || p.server->error != EAGAIN) break;
    httpWait(p.server.get(), 1000);
  }
  EXPECT_EQ(n, -1);
  EXPECT_EQ(p.server->state, HTTP_PUT_RECV);
}

TEST(HttpServer, ResponsesWithPrintfAndChunkedWrite) {
  Pair p;
  ASSERT_TRUE(p.server);
  http_t* http = p.server.get();
  http->state = HTTP_GET_SEND;
  ASSERT_GT(httpPrintf(http, "HTTP/1.1 200 %s\r\nTransfer-Encoding: chunked\r\n\r\n", httpStatus(HTTP_OK)), 0);
  http->data_encoding = HTTP_ENCODE_CHUNKED;
  ASSERT_EQ(httpWrite(http, "hello", 5), 5);
  ASSERT_EQ(httpWrite(http, "0123456789abcdef!", 17), 17);
  ASSERT_EQ(httpWrite(http, "", 0), 0);
  EXPECT_EQ(http->state, HTTP_WAITING);
  EXPECT_EQ(loopback::read_until(p.client.get(), "0\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n11\r\n0123456789abcdef!\r\n0\r\n\r\n");
}

// httpWriteSome takes what the socket takes and never waits: against a
// client that does not read it stops at 0 at once, continues where it
// stopped when the client reads, and reports the client's going.
TEST(HttpServer, WriteSomeNeverWaits) {
  Pair p;
  ASSERT_TRUE(p.server);
  http_t* http = p.server.get();
  http->timeout = 60000;  // a blocking write would wait this long
  const std::string block(65536, 'x');
  size_t written = 0;
  auto start = std::chrono::steady_clock::now();
  int n = 0;
  for (int i = 0; i < 10000 && (n = httpWriteSome(http, block.data(), int(block.size()))) > 0; i++)
    written += size_t(n);
  EXPECT_EQ(n, 0) << "the socket never filled";
  EXPECT_GT(written, 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

  // The client reads what was written; the rest goes out after it.
  EXPECT_EQ(loopback::read_n(p.client.get(), written).size(), written);
  EXPECT_GT(httpWriteSome(http, block.data(), int(block.size())), 0);

  // Once the client is gone, writes fail instead of waiting.
  p.client.reset();
  int result = 0;
  for (int i = 0; i < 1000 && (result = httpWriteSome(http, block.data(), int(block.size()))) >= 0; i++)
    ::poll(nullptr, 0, 5);
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(http->error == EPIPE || http->error == ECONNRESET) << http->error;
}

}  // namespace
