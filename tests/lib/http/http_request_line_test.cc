// Request lines as a server takes them apart: method, resource, version,
// and the lines it must refuse.

#include "vorn/http.h"

#include <gtest/gtest.h>
#include <string>

namespace {

TEST(HttpRequestLine, GoodLines) {
  static const struct {
    const char* line;
    const char* method;
    const char* resource;
    http_state_t state;
    int version;
  } cases[] = {
      {"GET / HTTP/1.1", "GET", "/", HTTP_GET, HTTP_1_1},
      {"HEAD /index.html HTTP/1.0", "HEAD", "/index.html", HTTP_HEAD, HTTP_1_0},
      {"POST /printers/lab HTTP/1.1", "POST", "/printers/lab", HTTP_POST, HTTP_1_1},
      {"PUT /admin/conf/vornd.conf HTTP/1.1", "PUT", "/admin/conf/vornd.conf", HTTP_PUT, HTTP_1_1},
      {"DELETE /x HTTP/1.1", "DELETE", "/x", HTTP_DELETE, HTTP_1_1},
      {"TRACE / HTTP/1.1", "TRACE", "/", HTTP_TRACE, HTTP_1_1},
      {"OPTIONS * HTTP/1.1", "OPTIONS", "*", HTTP_OPTIONS, HTTP_1_1},
      // Two words: a simple (0.9) request.
      {"GET /notes.txt", "GET", "/notes.txt", HTTP_GET, HTTP_0_9},
      // Blanks of any kind and count separate words; more words are ignored.
      {"  GET\t/a   HTTP/1.1  ", "GET", "/a", HTTP_GET, HTTP_1_1},
      {"GET /a HTTP/1.1 trailing words", "GET", "/a", HTTP_GET, HTTP_1_1},
      // Versions of up to three digits each.
      {"GET / HTTP/0.9", "GET", "/", HTTP_GET, 9},
      {"GET / HTTP/1.999", "GET", "/", HTTP_GET, 1099},
      {"GET / HTTP/001.001", "GET", "/", HTTP_GET, 101},
      // Unknown methods and methods in the wrong case parse, with no state:
      // refusing them is the caller's choice.
      {"FETCH / HTTP/1.1", "FETCH", "/", HTTP_WAITING, HTTP_1_1},
      {"get / HTTP/1.1", "get", "/", HTTP_WAITING, HTTP_1_1},
      {"GETS / HTTP/1.1", "GETS", "/", HTTP_WAITING, HTTP_1_1},
      {"GE / HTTP/1.1", "GE", "/", HTTP_WAITING, HTTP_1_1},
      // An absolute URI is the resource as it stands.
      {"GET http://localhost/x HTTP/1.1", "GET", "http://localhost/x", HTTP_GET, HTTP_1_1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    http_request_line_t r;
    EXPECT_EQ(httpParseRequestLine(c.line, &r), HTTP_OK);
    EXPECT_STREQ(r.method, c.method);
    EXPECT_STREQ(r.resource, c.resource);
    EXPECT_EQ(r.state, c.state);
    EXPECT_EQ(int(r.version), c.version);
  }
}

TEST(HttpRequestLine, BadLinesAndVersions) {
  static const struct {
    const char* line;
    http_status_t status;
  } cases[] = {
      {"", HTTP_BAD_REQUEST},
      {"   \t ", HTTP_BAD_REQUEST},
      {"BLAH", HTTP_BAD_REQUEST},
      {"GET", HTTP_BAD_REQUEST},
      {"GET / HTTP/x.y", HTTP_BAD_REQUEST},
      {"GET / FTP/1.0", HTTP_BAD_REQUEST},
      {"GET / http/1.1", HTTP_BAD_REQUEST},
      {"GET / HTTP/1.1junk", HTTP_BAD_REQUEST},
      {"GET / HTTP/1.", HTTP_BAD_REQUEST},
      {"GET / HTTP/.1", HTTP_BAD_REQUEST},
      {"GET / HTTP/1", HTTP_BAD_REQUEST},
      {"GET / HTTP/", HTTP_BAD_REQUEST},
      {"GET / HTTP/1.1.1", HTTP_BAD_REQUEST},
      {"GET / HTTP/1000.0", HTTP_BAD_REQUEST},
      {"GET / HTTP/1.1000", HTTP_BAD_REQUEST},
      {"GET / HTTP/-1.1", HTTP_BAD_REQUEST},
      {"GET / HTTP/2.0", HTTP_NOT_SUPPORTED},
      {"GET / HTTP/999.0", HTTP_NOT_SUPPORTED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    http_request_line_t r;
    EXPECT_EQ(httpParseRequestLine(c.line, &r), c.status);
  }
}

TEST(HttpRequestLine, WordsAreCutAtTheirLimits) {
  std::string method(200, 'M'), resource = "/" + std::string(5000, 'r');
  http_request_line_t r;
  EXPECT_EQ(httpParseRequestLine(method + " " + resource + " HTTP/1.1", &r), HTTP_OK);
  EXPECT_EQ(std::string(r.method), method.substr(0, HTTP_MAX_METHOD - 1));
  EXPECT_EQ(std::string(r.resource), resource.substr(0, HTTP_MAX_URI - 1));
  EXPECT_EQ(r.state, HTTP_WAITING);
}

TEST(HttpRequestLine, MethodStates) {
  static const struct {
    const char* method;
    http_state_t state;
  } cases[] = {
      {"GET", HTTP_GET},         {"HEAD", HTTP_HEAD},     {"POST", HTTP_POST},       {"PUT", HTTP_PUT},
      {"DELETE", HTTP_DELETE},   {"TRACE", HTTP_TRACE},   {"OPTIONS", HTTP_OPTIONS}, {"", HTTP_WAITING},
      {"Get", HTTP_WAITING},     {"GET ", HTTP_WAITING},  {"CONNECT", HTTP_WAITING}, {"PATCH", HTTP_WAITING},
  };
  for (const auto& c : cases) EXPECT_EQ(httpMethodState(c.method), c.state) << c.method;
  // The state names a method by the same word it was parsed from.
  for (const auto& c : cases) {
    if (c.state != HTTP_WAITING) {
      EXPECT_STREQ(httpStateString(c.state), c.method);
    }
  }
}

TEST(HttpRequestLine, TheResultIsResetOnEveryCall) {
  http_request_line_t r;
  ASSERT_EQ(httpParseRequestLine("POST /long/resource HTTP/1.1", &r), HTTP_OK);
  EXPECT_EQ(httpParseRequestLine("X", &r), HTTP_BAD_REQUEST);
  EXPECT_STREQ(r.method, "X");
  EXPECT_STREQ(r.resource, "");
  EXPECT_EQ(r.state, HTTP_WAITING);
}

}  // namespace
