// The client side over real loopback sockets: responses from a scripted
// server, the requests the client sends, keep-alive and reconnection, chunked
// bodies both ways and answers that arrive in tiny pieces.

#include "vorn/http.h"

#include "tests/fixtures/http/loopback.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using loopback::send_text;

// Serves one connection per scripted answer: reads one request up to the end
// of its headers, records it, sends the answer (in pieces of `piece` bytes
// when piece > 0) and closes.
class ScriptedServer {
 public:
  explicit ScriptedServer(std::vector<std::string> answers, size_t piece = 0)
      : listener_(loopback::listen_any_port()) {
    thread_ = std::thread([this, answers = std::move(answers), piece] {
      for (const auto& answer : answers) {
        vorn::unique_fd fd = loopback::accept_raw(listener_.fd.get());
        if (!fd) return;
        requests_.push_back(loopback::read_until(fd.get(), "\r\n\r\n"));
        if (piece) {
          loopback::send_slowly(fd.get(), answer, piece);
        } else {
          send_text(fd.get(), answer);
        }
      }
    });
  }
  ~ScriptedServer() { join(); }
  void join() {
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return listener_.port; }
  const std::vector<std::string>& requests() {
    join();
    return requests_;
  }

 private:
  loopback::Listener listener_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

using Conn = vorn::http_ptr;

Conn connect_to(int port) {
  Conn http(httpConnect("127.0.0.1", port));
  if (http) http->timeout = 5000;
  return http;
}

http_status_t read_headers(http_t* http) {
  http_status_t st = HTTP_CONTINUE;
  for (int i = 0; i < 5000 && st == HTTP_CONTINUE; i++) st = httpUpdate(http);
  return st;
}

// The body, or nullopt-like "<error>" when httpRead failed.
std::string read_body(http_t* http) {
  std::string body;
  char buf[7];  // small on purpose: bodies cross many reads
  for (int i = 0; i < 100000; i++) {
    int n = httpRead(http, buf, sizeof(buf));
    if (n < 0) return body + "<error>";
    if (n == 0) break;
    body.append(buf, size_t(n));
  }
  return body;
}

struct ResponseCase {
  const char* name;
  bool head;
  std::string answer;
  http_status_t status;
  std::string body;  // ends in "<error>" when the body must fail
  std::vector<std::pair<http_field_t, std::string>> fields;
};

std::vector<ResponseCase> response_cases() {
  const std::string many_lines = [] {
    std::string s = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i <= HTTP_MAX_HEADER_LINES; i++) s += "X-Filler: " + std::to_string(i) + "\r\n";
    return s + "\r\n";
  }();
  return {
      {"length", false, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\nhello",
       HTTP_OK, "hello", {{HTTP_FIELD_CONTENT_TYPE, "text/plain"}, {HTTP_FIELD_CONTENT_LENGTH, "5"}}},
      {"chunked with extension and trailer", false,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;name=v\r\nhello\r\n1\r\n \r\n"
       "A\r\n0123456789\r\n0\r\nX-Trailer: t\r\n\r\n",
       HTTP_OK, "hello 0123456789", {}},
      {"until close", false, "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\nall of it", HTTP_OK, "all of it", {}},
      {"no content", false, "HTTP/1.1 204 No Content\r\nContent-Length: 3\r\n\r\n", HTTP_NO_CONTENT, "", {}},
      {"head has no body", true, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n", HTTP_OK, "",
       {{HTTP_FIELD_CONTENT_LENGTH, "1000"}}},
      {"interim 100 skipped", false,
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", HTTP_OK, "ok", {}},
      {"bare LF line ends", false, "HTTP/1.1 404 Not Found\nContent-Length: 4\n\nnope", HTTP_NOT_FOUND, "nope", {}},
      {"no reason phrase", false, "HTTP/1.1 200\r\nContent-Length: 0\r\n\r\n", HTTP_OK, "", {}},
      {"stray empty line first", false, "\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx", HTTP_OK, "x", {}},
      {"unknown fields ignored, odd spacing", false,
       "HTTP/1.1 200 OK\r\nX-Whatever: 1\r\nContent-Type:text/plain  \r\nContent-Length:  2\r\n\r\nok",
       HTTP_OK, "ok", {{HTTP_FIELD_CONTENT_TYPE, "text/plain"}}},
      {"header line longer than the buffer", false,
       "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(40000, 'x') + "\r\nContent-Length: 2\r\n\r\nok",
       HTTP_OK, "ok", {{HTTP_FIELD_CONTENT_TYPE, std::string(255, 'x')}}},
      {"digest challenge", false,
       "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"VORN\" nonce=\"printhost\"\r\n"
       "Content-Length: 0\r\n\r\n",
       HTTP_UNAUTHORIZED, "", {{HTTP_FIELD_WWW_AUTHENTICATE, "Digest realm=\"VORN\" nonce=\"printhost\""}}},
      // Malformed answers.
      {"bad status code", false, "HTTP/1.1 abc OK\r\n\r\n", HTTP_ERROR, "", {}},
      {"status out of range", false, "HTTP/1.1 999 Odd\r\n\r\n", HTTP_ERROR, "", {}},
      {"not HTTP", false, "SSH-2.0-OpenSSH_9\r\n\r\n", HTTP_ERROR, "", {}},
      {"field without colon", false, "HTTP/1.1 200 OK\r\nJunk line\r\n\r\n", HTTP_ERROR, "", {}},
      {"space in field name", false, "HTTP/1.1 200 OK\r\nContent-Length : 2\r\n\r\nok", HTTP_ERROR, "", {}},
      {"malformed length", false, "HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n", HTTP_ERROR, "", {}},
      {"negative length", false, "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n", HTTP_ERROR, "", {}},
      {"two lengths", false, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 20\r\n\r\nok", HTTP_ERROR,
       "", {}},
      {"too many header lines", false, many_lines, HTTP_ERROR, "", {}},
      {"closed inside the headers", false, "HTTP/1.1 200 OK\r\nContent-Le", HTTP_ERROR, "", {}},
      {"closed before the length", false, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort", HTTP_OK,
       "short<error>", {}},
      {"chunk size not hex", false, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n",
       HTTP_OK, "<error>", {}},
      {"chunk size too large", false,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000000000000000\r\nhello\r\n0\r\n\r\n", HTTP_OK,
       "<error>", {}},
      {"chunk longer than its size", false,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nhello\r\n0\r\n\r\n", HTTP_OK, "hel<error>", {}},
      {"closed before the last chunk", false,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", HTTP_OK, "hello<error>", {}},
  };
}

TEST(HttpClient, ReadsScriptedResponses) {
  for (const auto& c : response_cases()) {
    SCOPED_TRACE(c.name);
    ScriptedServer server({c.answer});
    Conn http = connect_to(server.port());
    ASSERT_TRUE(http);
    httpClearFields(http.get());
    ASSERT_EQ(c.head ? httpHead(http.get(), "/x") : httpGet(http.get(), "/x"), 0);
    EXPECT_EQ(read_headers(http.get()), c.status);
    for (const auto& [field, value] : c.fields) EXPECT_EQ(httpGetField(http.get(), field), value) << field;
    if (c.status != HTTP_ERROR) {
      EXPECT_EQ(read_body(http.get()), c.body);
      if (c.body.find("<error>") == std::string::npos) {
        EXPECT_EQ(http->state, HTTP_WAITING);
      }
    }
  }
}

TEST(HttpClient, TinyPiecesGiveTheSameResult) {
  // The answer arrives one byte (then three bytes) per packet.
  for (size_t piece : {size_t(1), size_t(3)}) {
    SCOPED_TRACE(piece);
    ScriptedServer server({"HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\nTransfer-Encoding: chunked\r\n\r\n"
                           "4\r\nabcd\r\n6\r\nefghij\r\n0\r\n\r\n"},
                          piece);
    Conn http = connect_to(server.port());
    ASSERT_TRUE(http);
    ASSERT_EQ(httpGet(http.get(), "/"), 0);
    EXPECT_EQ(read_headers(http.get()), HTTP_OK);
    EXPECT_STREQ(httpGetField(http.get(), HTTP_FIELD_CONTENT_TYPE), "application/ipp");
    EXPECT_EQ(read_body(http.get()), "abcdefghij");
    EXPECT_EQ(http->state, HTTP_WAITING);
  }
}

// Many tiny chunks (their size lines cut by the ends of the connection's
// buffer again and again), read a few bytes at a time, then a trailer: every
// byte arrives, in order.
TEST(HttpClient, ALongChunkedBodyCrossesTheBufferIntact) {
  std::string body, answer = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (int i = 0; body.size() < 5 * size_t(HTTP_MAX_BUFFER); i++) {
    std::string piece(size_t(1 + i % 9), char('a' + i % 26));
    piece[0] = char('0' + i % 10);
    body += piece;
    char size[16];
    std::snprintf(size, sizeof(size), "%zx\r\n", piece.size());
    answer += size + piece + "\r\n";
  }
  answer += "0\r\nX-Trailer: yes\r\n\r\n";
  ScriptedServer server({answer});
  Conn http = connect_to(server.port());
  ASSERT_TRUE(http);
  ASSERT_EQ(httpGet(http.get(), "/"), 0);
  ASSERT_EQ(read_headers(http.get()), HTTP_OK);
  EXPECT_EQ(read_body(http.get()), body);
  EXPECT_EQ(http->state, HTTP_WAITING);
}

// Accepts connections with the library's server side and answers each
// request with "<method> <resource> #<n> on connection <c>".
class LibServer {
 public:
  LibServer(int connections, int requests_per_connection, bool close_after_each = false)
      : listener_(loopback::listen_any_port()) {
    thread_ = std::thread([=, this] {
      for (int c = 1; c <= connections; c++) {
        pollfd p{listener_.fd.get(), POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1) return;
        Conn http(httpAcceptConnection(listener_.fd.get(), 1));
        if (!http) return;
        http->timeout = 5000;
        for (int r = 1; r <= requests_per_connection; r++) {
          if (!serve_one(http.get(), c, close_after_each)) break;
        }
      }
    });
  }
  ~LibServer() {
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return listener_.port; }
  std::vector<std::string> log() {
    if (thread_.joinable()) thread_.join();
    return log_;
  }

 private:
  bool serve_one(http_t* http, int conn, bool close_after) {
    char line[HTTP_MAX_BUFFER];
    if (!httpGets(line, sizeof(line), http)) return false;
    http_request_line_t parsed;
    httpParseRequestLine(line, &parsed);
    std::string method = parsed.method, resource = parsed.resource;
    httpClearFields(http);
    http->state = parsed.state == HTTP_POST || parsed.state == HTTP_PUT ? parsed.state : HTTP_GET;
    http->status = HTTP_OK;
    http->version = HTTP_1_1;
    if (read_headers(http) != HTTP_OK) return false;
    bool chunked_in = http->data_encoding == HTTP_ENCODE_CHUNKED;
    std::string body = read_body(http);
    std::string ua = httpGetField(http, HTTP_FIELD_USER_AGENT);
    std::string auth = httpGetField(http, HTTP_FIELD_AUTHORIZATION);
    log_.push_back(method + " " + resource + " conn=" + std::to_string(conn) + " body=" + body +
                   (chunked_in ? " (chunked)" : "") + (ua.empty() ? "" : " ua=" + ua) +
                   (auth.empty() ? "" : " auth=" + auth));

    std::string answer = "reply to " + method + " " + resource;
    if (method == "POST") {
      // Answer a POST in chunks, as the scheduler does with program output.
      httpPrintf(http, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n%s\r\n",
                 close_after ? "Connection: close\r\n" : "");
      http->data_encoding = HTTP_ENCODE_CHUNKED;
      http->state = HTTP_POST_SEND;
      for (size_t i = 0; i < answer.size(); i += 4) {
        std::string piece = answer.substr(i, 4);
        httpWrite(http, piece.data(), int(piece.size()));
      }
      httpWrite(http, "", 0);
      return http->state == HTTP_WAITING;
    }
    httpPrintf(http, "HTTP/1.1 200 OK\r\n%sContent-Length: %d\r\n\r\n%s",
               close_after ? "Connection: close\r\n" : "", int(answer.size()), answer.c_str());
    return true;
  }

  loopback::Listener listener_;
  std::vector<std::string> log_;
  std::thread thread_;
};

TEST(HttpClient, KeepAliveCarriesTwoRequestsOnOneConnection) {
  LibServer server(1, 2);
  Conn http = connect_to(server.port());
  ASSERT_TRUE(http);
  for (const char* resource : {"/printers/a", "/printers/b"}) {
    httpClearFields(http.get());
    ASSERT_EQ(httpGet(http.get(), resource), 0);
    ASSERT_EQ(read_headers(http.get()), HTTP_OK);
    EXPECT_EQ(http->keep_alive, HTTP_KEEPALIVE_ON);
    EXPECT_EQ(read_body(http.get()), std::string("reply to GET ") + resource);
  }
  EXPECT_EQ(server.log(), (std::vector<std::string>{"GET /printers/a conn=1 body=", "GET /printers/b conn=1 body="}));
}

TEST(HttpClient, ReconnectsWhenTheServerClosesAfterAnAnswer) {
  LibServer server(2, 1, /*close_after_each=*/true);
  Conn http = connect_to(server.port());
  ASSERT_TRUE(http);
  for (const char* resource : {"/one", "/two"}) {
    httpClearFields(http.get());
    ASSERT_EQ(httpGet(http.get(), resource), 0);
    ASSERT_EQ(read_headers(http.get()), HTTP_OK);
    EXPECT_EQ(http->keep_alive, HTTP_KEEPALIVE_OFF);
    EXPECT_EQ(read_body(http.get()), std::string("reply to GET ") + resource);
  }
  EXPECT_EQ(server.log(), (std::vector<std::string>{"GET /one conn=1 body=", "GET /two conn=2 body="}));
}

TEST(HttpClient, ChunkedBodiesBothWays) {
  LibServer server(1, 2);
  Conn http = connect_to(server.port());
  ASSERT_TRUE(http);

  // A chunked request body, several chunks and a closing empty write.
  httpClearFields(http.get());
  httpSetField(http.get(), HTTP_FIELD_TRANSFER_ENCODING, "chunked");
  httpSetField(http.get(), HTTP_FIELD_USER_AGENT, "vorn-test");
  httpSetAuthString(http.get(), "Basic", "Ym9iOnNlY3JldA==");
  ASSERT_EQ(httpPost(http.get(), "/admin/x y"), 0);
  EXPECT_EQ(http->state, HTTP_POST_RECV);
  const std::string big(9000, 'z');  // larger than one coalesced chunk
  for (const std::string& part : {std::string("first,"), std::string("second,"), big}) {
    ASSERT_EQ(httpWrite(http.get(), part.data(), int(part.size())), int(part.size()));
  }
  ASSERT_EQ(httpWrite(http.get(), "", 0), 0);
  EXPECT_EQ(http->state, HTTP_POST_SEND);
  ASSERT_EQ(read_headers(http.get()), HTTP_OK);
  EXPECT_EQ(http->data_encoding, HTTP_ENCODE_CHUNKED);
  EXPECT_EQ(read_body(http.get()), "reply to POST /admin/x%20y");
  EXPECT_EQ(http->state, HTTP_WAITING);

  // The fields of the first request are gone: a plain GET carries none.
  httpClearFields(http.get());
  httpSetAuthString(http.get(), nullptr, nullptr);
  ASSERT_EQ(httpGet(http.get(), "/"), 0);
  ASSERT_EQ(read_headers(http.get()), HTTP_OK);
  EXPECT_EQ(read_body(http.get()), "reply to GET /");

  std::vector<std::string> log = server.log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "POST /admin/x%20y conn=1 body=first,second," + std::string(9000, 'z') +
                        " (chunked) ua=vorn-test auth=Basic Ym9iOnNlY3JldA==");
  EXPECT_EQ(log[1], "GET / conn=1 body=");
}

TEST(HttpClient, LengthBodyMovesThePostAlong) {
  LibServer server(1, 1);
  Conn http = connect_to(server.port());
  ASSERT_TRUE(http);
  httpClearFields(http.get());
  httpSetField(http.get(), HTTP_FIELD_CONTENT_LENGTH, "11");
  ASSERT_EQ(httpPost(http.get(), "/"), 0);
  ASSERT_EQ(httpWrite(http.get(), "hello ", 6), 6);
  EXPECT_EQ(http->state, HTTP_POST_RECV);
  ASSERT_EQ(httpWrite(http.get(), "world", 5), 5);
  EXPECT_EQ(http->state, HTTP_POST_SEND);
  ASSERT_EQ(read_headers(http.get()), HTTP_OK);
  EXPECT_EQ(read_body(http.get()), "reply to POST /");
  EXPECT_EQ(server.log(), std::vector<std::string>{"POST / conn=1 body=hello world"});
}

TEST(HttpClient, RequestCarriesHostCookieAndFields) {
  ScriptedServer server({"HTTP/1.1 200 OK\r\nSet-Cookie: session=abc123; Path=/\r\nContent-Length: 0\r\n"
                         "Connection: close\r\n\r\n",
                         "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
                         "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"});
  Conn http = connect_to(server.port());
  ASSERT_TRUE(http);
  httpClearFields(http.get());
  httpSetField(http.get(), HTTP_FIELD_ACCEPT_LANGUAGE, "de");
  ASSERT_EQ(httpGet(http.get(), "/a"), 0);
  ASSERT_EQ(read_headers(http.get()), HTTP_OK);
  EXPECT_STREQ(http->cookie, "session=abc123");
  EXPECT_EQ(read_body(http.get()), "");

  httpClearFields(http.get());
  httpSetField(http.get(), HTTP_FIELD_HOST, "printhost");
  ASSERT_EQ(httpGet(http.get(), "/b"), 0);  // reconnects: the server said close
  ASSERT_EQ(read_headers(http.get()), HTTP_OK);

  // A Cookie field set for a request is sent instead of the kept cookie,
  // once.
  httpClearFields(http.get());
  httpSetField(http.get(), HTTP_FIELD_HOST, "printhost");
  httpSetField(http.get(), HTTP_FIELD_COOKIE, "mine=1");
  ASSERT_EQ(httpGet(http.get(), "/c"), 0);
  ASSERT_EQ(read_headers(http.get()), HTTP_OK);

  const auto& requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
  EXPECT_EQ(requests[0], "GET /a HTTP/1.1\r\nAccept-Language: de\r\n" + host + "\r\n");
  EXPECT_EQ(requests[1], "GET /b HTTP/1.1\r\nHost: printhost\r\nCookie: session=abc123\r\n\r\n");
  EXPECT_EQ(requests[2], "GET /c HTTP/1.1\r\nHost: printhost\r\nCookie: mine=1\r\n\r\n");
  EXPECT_STREQ(http->cookie, "session=abc123");

  httpClearCookie(http.get());
  EXPECT_STREQ(http->cookie, "");
}

TEST(HttpClient, ConnectFailuresReportTheCause) {
  loopback::Listener l = loopback::listen_any_port();
  int port = l.port;
  l.fd.reset();  // nothing listens there now
  errno = 0;
  EXPECT_EQ(httpConnect("127.0.0.1", port), nullptr);
  EXPECT_EQ(errno, ECONNREFUSED);
  EXPECT_EQ(h_errno, 0);

  EXPECT_EQ(httpConnect("no-such-host.invalid", 631), nullptr);
  EXPECT_NE(h_errno, 0);

  EXPECT_EQ(httpConnect("127.0.0.1", 0), nullptr);
  EXPECT_EQ(httpConnect(nullptr, 631), nullptr);
  EXPECT_EQ(httpConnect("127.0.0.1", 70000), nullptr);
}

TEST(HttpClient, ConnectsOverIpv6Loopback) {
  vorn::unique_fd fd(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  socklen_t len = sizeof(a);
  if (!fd || ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), len) != 0) GTEST_SKIP() << "no IPv6 loopback";
  ASSERT_EQ(::listen(fd.get(), 1), 0);
  ASSERT_EQ(::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len), 0);
  int port = ntohs(a.sin6_port);
  std::thread server([&] {
    vorn::unique_fd c = loopback::accept_raw(fd.get());
    if (!c) return;
    loopback::read_until(c.get(), "\r\n\r\n");
    send_text(c.get(), "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nv6");
  });
  Conn http(httpConnect("[::1]", port));
  ASSERT_TRUE(http);
  http->timeout = 5000;
  EXPECT_EQ(http->hostaddr.addr.sa_family, AF_INET6);
  ASSERT_EQ(httpGet(http.get(), "/"), 0);
  EXPECT_EQ(read_headers(http.get()), HTTP_OK);
  EXPECT_EQ(read_body(http.get()), "v6");
  server.join();
}

}  // namespace
