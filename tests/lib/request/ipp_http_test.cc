// IPP messages over HTTP connections on loopback: requests that arrive in
// pieces at a non-blocking server, with the document still readable after
// the message; a blocking client and server exchanging a request and a
// response; bodies that end too early; responses written step by step.

#include "vorn/ipp-http.h"

#include "tests/fixtures/http/loopback.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using Conn = vorn::http_ptr;
using Ipp = ipp_ptr;

ssize_t to_string(void* ctx, uint8_t* buf, size_t len) {
  static_cast<std::string*>(ctx)->append(reinterpret_cast<char*>(buf), len);
  return ssize_t(len);
}

std::string encode(ipp_t* ipp) {
  std::string out;
  EXPECT_EQ(ippWriteIO(&out, to_string, 1, nullptr, ipp), IPP_DATA);
  return out;
}

struct Source {
  std::string data;
  size_t pos = 0;
};

ssize_t from_string(void* ctx, uint8_t* buf, size_t len) {
  auto* s = static_cast<Source*>(ctx);
  if (s->pos >= s->data.size()) return -1;
  size_t n = std::min(len, s->data.size() - s->pos);
  std::memcpy(buf, s->data.data() + s->pos, n);
  s->pos += n;
  return ssize_t(n);
}

Ipp print_request() {
  Ipp ipp(ippNew());
  ipp->op_status = IPP_PRINT_JOB;
  ipp->request_id = 7;
  ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
  ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", "", "en");
  ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", "ipp://localhost/printers/lab");
  ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", "", "quarterly report");
  ippAddInteger(ipp.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", 3);
  return ipp;
}

std::string job_name(ipp_t* ipp) {
  ipp_attribute_t* a = ippFindAttribute(ipp, "job-name", IPP_TAG_NAME);
  return a && !a->values.empty() ? a->values[0].string.text : "<missing>";
}

const std::string kDocument = "%!PS-Adobe-3.0\n%%Pages: 1\nshowpage\n";

// The body as chunks of `size` bytes, ending with the last chunk.
std::string chunked(const std::string& body, size_t size) {
  std::string out;
  char head[32];
  for (size_t i = 0; i < body.size(); i += size) {
    std::string piece = body.substr(i, size);
    std::snprintf(head, sizeof(head), "%zx\r\n", piece.size());
    out += head + piece + "\r\n";
  }
  return out + "0\r\n\r\n";
}

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
};

// Drives the server side the way the scheduler does, one step per call of
// advance(): request line, headers, IPP message, then the document.
struct ScheduledRead {
  explicit ScheduledRead(http_t* h) : http(h) {}
  http_t* http;
  Ipp request{ippNew()};
  enum { LINE, HEADERS, MESSAGE, DOCUMENT, DONE, FAILED } step = LINE;
  std::string document;
  int partial_states = 0;  // ippRead calls that returned before the end

  void advance() {
    for (bool progress = true; progress && step != DONE && step != FAILED;) {
      progress = false;
      if (step == LINE) {
        char line[256];
        if (httpGets(line, sizeof(line), http)) {
          httpClearFields(http);
          http->state = HTTP_POST;
          http->status = HTTP_OK;
          step = HEADERS;
          progress = true;
        }
      } else if (step == HEADERS) {
        http_status_t st = httpUpdate(http);
        if (st == HTTP_OK) {
          step = MESSAGE;
          progress = true;
        } else if (st != HTTP_CONTINUE) {
          step = FAILED;
        } else {
          progress = http->error != EAGAIN;  // a line was taken; more may be buffered
        }
      } else if (step == MESSAGE) {
        ipp_state_t st = ippRead(http, request.get());
        if (st == IPP_DATA) {
          step = DOCUMENT;
          progress = true;
        } else if (st == IPP_ERROR) {
          step = FAILED;
        } else {
          partial_states++;
        }
      } else if (step == DOCUMENT) {
        char buf[16];
        int n = httpRead(http, buf, sizeof(buf));
        if (n > 0) {
          document.append(buf, size_t(n));
          progress = true;
        } else if (n < 0) {
          step = FAILED;
        } else if (http->state == HTTP_POST_SEND) {
          step = DONE;
        }
      }
    }
  }
};

TEST(IppHttp, RequestArrivingInPiecesThenTheDocument) {
  Ipp req = print_request();
  const std::string message = encode(req.get());
  ASSERT_GT(message.size(), 100u);
  static const struct {
    const char* name;
    bool chunked;
    size_t chunk, piece;
  } cases[] = {
      {"length, one byte at a time", false, 0, 1},
      {"length, seven bytes at a time", false, 0, 7},
      {"length, all at once", false, 0, 100000},
      {"chunked in 5-byte chunks, one byte at a time", true, 5, 1},
      {"chunked in 1-byte chunks, 3 bytes at a time", true, 1, 3},
      {"chunked in one chunk, all at once", true, 100000, 100000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pair p;
    ASSERT_TRUE(p.server);
    const std::string body = message + kDocument;
    std::string request = "POST /printers/lab HTTP/1.1\r\nContent-Type: application/ipp\r\n";
    request += c.chunked ? "Transfer-Encoding: chunked\r\n\r\n" + chunked(body, c.chunk)
                         : "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    ScheduledRead reader(p.server.get());
    for (size_t i = 0; i < request.size() && reader.step != ScheduledRead::FAILED; i += c.piece) {
      loopback::send_text(p.client.get(), request.substr(i, c.piece));
      ASSERT_TRUE(httpWait(p.server.get(), 5000));
      reader.advance();
    }
    ASSERT_EQ(reader.step, ScheduledRead::DONE);
    EXPECT_EQ(reader.request->op_status, IPP_PRINT_JOB);
    EXPECT_EQ(reader.request->request_id, 7);
    EXPECT_EQ(job_name(reader.request.get()), "quarterly report");
    EXPECT_EQ(reader.document, kDocument);
    if (c.piece < 10) {
      EXPECT_GT(reader.partial_states, 10);
    }
  }
}

TEST(IppHttp, BodyEndingBeforeTheMessageIsAnError) {
  Ipp req = print_request();
  const std::string message = encode(req.get());
  static const struct {
    const char* name;
    std::string request;
    bool close;
  } cases[] = {
      {"length shorter than the message",
       "POST / HTTP/1.1\r\nContent-Length: 20\r\n\r\n" + message.substr(0, 20), false},
      {"chunked body ends early", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked(message.substr(0, 30), 8),
       false},
      {"client closes mid-message",
       "POST / HTTP/1.1\r\nContent-Length: " + std::to_string(message.size()) + "\r\n\r\n" + message.substr(0, 40), true},
      {"malformed message", "POST / HTTP/1.1\r\nContent-Length: 12\r\n\r\n" + std::string("\x01\x01\x00\x02\x00\x00\x00\x01\x01\x47\xff\xff", 12),
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pair p;
    ASSERT_TRUE(p.server);
    loopback::send_text(p.client.get(), c.request);
    if (c.close) p.client.reset();
    ScheduledRead reader(p.server.get());
    for (int i = 0; i < 50 && reader.step != ScheduledRead::FAILED && reader.step != ScheduledRead::DONE; i++) {
      httpWait(p.server.get(), 200);
      reader.advance();
    }
    EXPECT_EQ(reader.step, ScheduledRead::FAILED);
    EXPECT_EQ(ippRead(p.server.get(), reader.request.get()), IPP_ERROR);
  }
}

TEST(IppHttp, BlockingClientAndServerExchangeRequestAndResponse) {
  loopback::Listener l = loopback::listen_any_port();
  std::string server_saw;
  std::thread server([&] {
    pollfd p{l.fd.get(), POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1) return;
    Conn http(httpAcceptConnection(l.fd.get(), 1));
    http->timeout = 5000;
    char line[256];
    if (!httpGets(line, sizeof(line), http.get())) return;
    http->state = HTTP_POST;
    http->status = HTTP_OK;
    http_status_t st;
    while ((st = httpUpdate(http.get())) == HTTP_CONTINUE) {
    }
    if (st != HTTP_OK) return;
    Ipp request(ippNew());
    if (ippRead(http.get(), request.get()) != IPP_DATA) return;  // one call on a blocking connection
    std::string doc;
    char buf[64];
    for (int n; (n = httpRead(http.get(), buf, sizeof(buf))) > 0;) doc.append(buf, size_t(n));
    server_saw = job_name(request.get()) + "|" + doc;

    Ipp response(ippNew());
    response->op_status = IPP_OK;
    response->request_id = request->request_id;
    ippAddString(response.get(), IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
    ippAddInteger(response.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", 42);
    httpPrintf(http.get(), "HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\nTransfer-Encoding: chunked\r\n\r\n");
    http->data_encoding = HTTP_ENCODE_CHUNKED;
    http->state = HTTP_POST_SEND;
    if (ippWrite(http.get(), response.get()) == IPP_DATA) httpWrite(http.get(), "", 0);
  });

  Conn http(httpConnect("127.0.0.1", l.port));
  ASSERT_TRUE(http);
  http->timeout = 5000;
  Ipp req = print_request();
  httpClearFields(http.get());
  httpSetField(http.get(), HTTP_FIELD_CONTENT_TYPE, "application/ipp");
  httpSetField(http.get(), HTTP_FIELD_CONTENT_LENGTH,
               std::to_string(ippLength(req.get()) + kDocument.size()).c_str());
  ASSERT_EQ(httpPost(http.get(), "/printers/lab"), 0);
  ASSERT_EQ(ippWrite(http.get(), req.get()), IPP_DATA);
  ASSERT_EQ(httpWrite(http.get(), kDocument.data(), int(kDocument.size())), int(kDocument.size()));
  EXPECT_EQ(http->state, HTTP_POST_SEND);

  http_status_t st;
  while ((st = httpUpdate(http.get())) == HTTP_CONTINUE) {
  }
  ASSERT_EQ(st, HTTP_OK);
  Ipp response(ippNew());
  ASSERT_EQ(ippRead(http.get(), response.get()), IPP_DATA);
  EXPECT_EQ(response->request_id, 7);
  ipp_attribute_t* id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id->values[0].integer, 42);
  char rest[8];
  EXPECT_EQ(httpRead(http.get(), rest, sizeof(rest)), 0);  // the last chunk ends the body
  EXPECT_EQ(http->state, HTTP_WAITING);
  server.join();
  EXPECT_EQ(server_saw, "quarterly report|" + kDocument);
}

TEST(IppHttp, NonBlockingWriteGoesOutStepByStep) {
  Pair p;
  ASSERT_TRUE(p.server);
  Ipp response(ippNew());
  response->op_status = IPP_OK;
  ippAddString(response.get(), IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
  const std::vector<std::string> texts = {std::string(30000, 'a'), std::string(30000, 'b'), std::string(30000, 'c')};
  ippAddStrings(response.get(), IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", "", texts);
  const std::string expect = encode(response.get());
  ASSERT_GT(expect.size(), size_t(2 * HTTP_MAX_BUFFER));

  std::string received;
  std::thread reader([&] { received = loopback::read_n(p.client.get(), expect.size()); });
  http_t* http = p.server.get();
  http->state = HTTP_POST_SEND;
  int calls = 0;
  ipp_state_t st = IPP_IDLE;
  for (; calls < 1000 && st != IPP_DATA && st != IPP_ERROR; calls++) {
    st = ippWrite(http, response.get());
    if (st != IPP_DATA) {
      pollfd w{http->fd, POLLOUT, 0};
      ::poll(&w, 1, 1000);
    }
  }
  reader.join();
  EXPECT_EQ(st, IPP_DATA);
  EXPECT_GE(calls, 3);  // at most HTTP_MAX_BUFFER bytes per call
  ASSERT_EQ(received.size(), expect.size());
  EXPECT_TRUE(received == expect);

  Source src{received};
  Ipp back(ippNew());
  ASSERT_EQ(ippReadIO(&src, from_string, 1, nullptr, back.get()), IPP_DATA);
  ipp_attribute_t* info = ippFindAttribute(back.get(), "printer-info", IPP_TAG_TEXT);
  ASSERT_NE(info, nullptr);
  ASSERT_EQ(info->values.size(), 3u);
  EXPECT_EQ(info->values[2].string.text, texts[2]);
}

TEST(IppHttp, ReadWithoutABodyIsAnError) {
  Pair p;
  ASSERT_TRUE(p.server);
  Ipp ipp(ippNew());
  EXPECT_EQ(ippRead(p.server.get(), ipp.get()), IPP_ERROR);  // no request read yet
  EXPECT_EQ(ippRead(nullptr, ipp.get()), IPP_ERROR);
  EXPECT_EQ(ippWrite(p.server.get(), nullptr), IPP_ERROR);
}

}  // namespace
