// libvorn's request calls against a running vornd: requests share one
// kept-alive connection, over plain HTTP, TLS from the first byte and a
// connection upgraded to TLS.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "harness.h"
#include "vorn/http.h"
#include "vorn/ipp.h"
#include "vorn/request.h"

namespace {

using namespace e2e;

class RequestsToVornd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(root_.MakeCertificate(), "");
    ssl_port_ = FreePort();
    root_.WriteConfig("LogLevel debug2\nServerCertificate ssl/server.crt\nServerKey ssl/server.key\n"
                      "SSLListen 127.0.0.1:" + std::to_string(ssl_port_) + "\n");
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
    ASSERT_TRUE(vornd_.WaitListening(ssl_port_));
    ASSERT_TRUE(Quiet()) << root_.ErrorLog();
  }

  // The start-up probes are connections too, and the last may not even be
  // accepted yet: wait until every accepted one is closed and no new one has
  // come for half a second.
  bool Quiet() const {
    size_t last = size_t(-1);
    auto since = std::chrono::steady_clock::now();
    return WaitUntil(
        [&] {
          size_t now = Accepted();
          if (now != last) {
            last = now;
            since = std::chrono::steady_clock::now();
          }
          return Settled() && std::chrono::steady_clock::now() - since >= 500ms;
        },
        kWait);
  }

  size_t Accepted() const { return count_of(root_.ErrorLog(), "] AcceptClient() "); }
  bool Settled() const { return Accepted() == count_of(root_.ErrorLog(), "] CloseClient() "); }

  // Set-Printer-Attributes for printer lab: an operation the scheduler never
  // serves, so every request gets the same refusal.
  static ipp_t* NewRequest(int id) {
    ipp_t* request = ippNew();
    request->op_status = IPP_SET_PRINTER_ATTRIBUTES;
    request->request_id = id;
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", "", "en");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", "ipp://localhost/printers/lab");
    return request;
  }

  // Two requests over `http`, the second with a document; both answered.
  void TwoRequests(http_t* http) {
    std::string document = root_.file("doc/page.txt");
    ASSERT_TRUE(WriteFile(document, "one page of text\n"));
    for (int id : {1, 2}) {
      SCOPED_TRACE(id);
      ipp_t* response = vornDoFileRequest(http, NewRequest(id), "/printers/lab", id == 2 ? document.c_str() : nullptr);
      ASSERT_NE(response, nullptr) << ippErrorString(vornLastError());
      EXPECT_EQ(response->request_id, id);
      // Refused, but answered.
      EXPECT_EQ(response->op_status, IPP_OPERATION_NOT_SUPPORTED);
      EXPECT_EQ(vornLastError(), IPP_OPERATION_NOT_SUPPORTED);
      ASSERT_NE(ippFindAttribute(response, "attributes-charset", IPP_TAG_CHARSET), nullptr);
      ippDelete(response);
    }
    EXPECT_TRUE(root_.WaitForLog("writing 17 bytes")) << root_.ErrorLog();
  }

  ServerRoot root_;
  Vornd vornd_{root_};
  int ssl_port_ = 0;
};

TEST_F(RequestsToVornd, TwoRequestsShareOneKeptAliveConnection) {
  size_t before = Accepted();
  vorn::http_ptr http(httpConnect("127.0.0.1", root_.port()));
  ASSERT_NE(http, nullptr);
  http->timeout = 20000;
  TwoRequests(http.get());
  http.reset();
  EXPECT_TRUE(WaitUntil([&] { return Settled(); }, kWait));
  EXPECT_EQ(Accepted(), before + 1) << root_.ErrorLog();
  EXPECT_EQ(count_of(root_.AccessLog(), "\"POST /printers/lab HTTP/1.1\" 200 "), 2u) << root_.AccessLog();
}

TEST_F(RequestsToVornd, TwoRequestsOverTlsFromTheFirstByte) {
  size_t before = Accepted();
  vorn::http_ptr http(httpConnectEncrypt("127.0.0.1", ssl_port_, HTTP_ENCRYPT_ALWAYS));
  ASSERT_NE(http, nullptr);
  http->timeout = 20000;
  TwoRequests(http.get());
  http.reset();
  EXPECT_TRUE(WaitUntil([&] { return Settled(); }, kWait));
  EXPECT_EQ(Accepted(), before + 1) << root_.ErrorLog();
  EXPECT_EQ(count_of(root_.ErrorLog(), "Connection now encrypted."), 1u);
}

TEST_F(RequestsToVornd, TwoRequestsOverAConnectionUpgradedToTls) {
  vorn::http_ptr http(httpConnectEncrypt("127.0.0.1", root_.port(), HTTP_ENCRYPT_REQUIRED));
  ASSERT_NE(http, nullptr);
  EXPECT_NE(http->tls, nullptr);
  http->timeout = 20000;
  TwoRequests(http.get());
  http.reset();
  EXPECT_NE(root_.AccessLog().find("\"OPTIONS * HTTP/1.1\" 200 "), std::string::npos) << root_.AccessLog();
  EXPECT_EQ(count_of(root_.ErrorLog(), "Connection now encrypted."), 1u);
}

}  // namespace
