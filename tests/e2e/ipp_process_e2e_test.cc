// IPP requests to a running scheduler, encoded and decoded by an IPP
// implementation written elsewhere (the npm package ipp-encoder, driven by
// tests/e2e/ipp_request.js): the checks of the request envelope, the
// attributes every response starts with, and unsupported operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using namespace e2e;

// JSON of one attribute with one value.
std::string attr(int tag, const std::string& name, const std::string& value) {
  return "{\"tag\":" + std::to_string(tag) + ",\"name\":\"" + name + "\",\"value\":[\"" + value + "\"]}";
}
const std::string kCharset = attr(0x47, "attributes-charset", "utf-8");
const std::string kLanguage = attr(0x48, "attributes-natural-language", "en");
const std::string kPrinterUri = attr(0x45, "printer-uri", "ipp://localhost/printers/lab");
const std::string kJobUri = attr(0x45, "job-uri", "ipp://localhost/jobs/1");

// JSON of a group: tag and attributes.
std::string group(int tag, const std::vector<std::string>& attrs) {
  std::string list;
  for (const std::string& a : attrs) list += (list.empty() ? "" : ",") + a;
  return "{\"tag\":" + std::to_string(tag) + ",\"attributes\":[" + list + "]}";
}

std::string request(int major, int minor, int op, int id, const std::vector<std::string>& groups) {
  std::string list;
  for (const std::string& g : groups) list += (list.empty() ? "" : ",") + g;
  return "{\"version\":[" + std::to_string(major) + "," + std::to_string(minor) + "],\"operation\":" +
         std::to_string(op) + ",\"requestId\":" + std::to_string(id) + ",\"groups\":[" + list + "]}";
}

class IppProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    node_ = FindProgram("node");
    ASSERT_FALSE(node_.empty()) << "the node command is needed (.ci/install-deps installs it)";
    root_.WriteConfig("LogLevel debug2\n");
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
  }

  // The decoded response, as the lines ipp_request.js prints.
  std::string Send(const std::string& json, const std::string& resource = "/printers/lab") {
    RunResult r = RunProgram({node_, SourceDir() + "/tests/e2e/ipp_request.js", std::to_string(root_.port()),
                              resource, json},
                             30s);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    return r.out;
  }

  std::string node_;
  ServerRoot root_;
  Vornd vornd_{root_};
};

// The two attributes every response starts with.
const char kEnvelope[] = "attr 01 47 attributes-charset utf-8\nattr 01 48 attributes-natural-language en\n";

// Requests that pass every check name Set-Printer-Attributes, which the
// scheduler never serves, so that they end in 0x0501 from the dispatch.
TEST_F(IppProcess, EnvelopeChecksDecideTheStatus) {
  const struct {
    const char* what;
    std::string json;
    const char* status;
    const char* version;
  } cases[] = {
      {"major version 2", request(2, 0, 0x000A, 11, {group(1, {kCharset, kLanguage, kPrinterUri})}), "0x0503", "2.0"},
      {"major version 0", request(0, 9, 0x000A, 12, {group(1, {kCharset, kLanguage, kPrinterUri})}), "0x0503", "0.9"},
      {"version 1.0", request(1, 0, 0x0013, 13, {group(1, {kCharset, kLanguage, kPrinterUri})}), "0x0501", "1.0"},
      {"no attributes", request(1, 1, 0x000A, 14, {}), "0x0400", "1.1"},
      {"language before charset", request(1, 1, 0x000A, 15, {group(1, {kLanguage, kCharset, kPrinterUri})}), "0x0400",
       "1.1"},
      {"charset not first", request(1, 1, 0x000A, 16, {group(1, {kPrinterUri, kCharset, kLanguage})}), "0x0400", "1.1"},
      {"charset with the wrong tag",
       request(1, 1, 0x000A, 17, {group(1, {attr(0x44, "attributes-charset", "utf-8"), kLanguage, kPrinterUri})}),
       "0x0400", "1.1"},
      {"no language", request(1, 1, 0x000A, 18, {group(1, {kCharset, kPrinterUri})}), "0x0400", "1.1"},
      {"groups out of order",
       request(1, 1, 0x000A, 19,
               {group(1, {kCharset, kLanguage, kPrinterUri}), group(2, {attr(0x42, "job-name", "x")}),
                group(1, {attr(0x42, "requesting-user-name", "u")})}),
       "0x0400", "1.1"},
      {"the same group twice",
       request(1, 1, 0x0013, 20,
               {group(1, {kCharset, kLanguage, kPrinterUri}), group(2, {attr(0x42, "job-name", "x")}),
                group(2, {attr(0x42, "job-name", "y")})}),
       "0x0501", "1.1"},
      {"job-uri as target", request(1, 1, 0x0013, 21, {group(1, {kCharset, kLanguage, kJobUri})}), "0x0501", "1.1"},
      {"unknown operation", request(1, 1, 0x3fff, 22, {group(1, {kCharset, kLanguage, kPrinterUri})}), "0x0501", "1.1"},
      {"Set-Printer-Attributes", request(1, 1, 0x0013, 23, {group(1, {kCharset, kLanguage, kPrinterUri})}), "0x0501",
       "1.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string out = Send(c.json);
    EXPECT_NE(out.find("http 200\ncontent-type application/ipp"), std::string::npos) << out;
    EXPECT_NE(out.find(std::string("\nversion ") + c.version + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find(std::string("\nstatus ") + c.status + "\n"), std::string::npos) << out;
    size_t id = c.json.find("\"requestId\":");
    std::string request_id = c.json.substr(id + 12, c.json.find(',', id) - id - 12);
    // Every answer, refusals included, starts with the envelope.
    EXPECT_NE(out.find("\nrequest-id " + request_id + "\n" + kEnvelope), std::string::npos) << out;
  }
  std::string log = root_.ErrorLog();
  EXPECT_NE(log.find("ProcessIPPRequest: bad request version (2.0)!"), std::string::npos);
  EXPECT_NE(log.find("ProcessIPPRequest: no attributes in request!"), std::string::npos);
  EXPECT_NE(log.find("ProcessIPPRequest: attribute groups are out of order!"), std::string::npos);
}

TEST_F(IppProcess, TheResponseEchoesTheRequestsCharsetAndLanguage) {
  std::string out = Send(request(1, 1, 0x000B, 5,
                                 {group(1, {attr(0x47, "attributes-charset", "iso-8859-1"),
                                            attr(0x48, "attributes-natural-language", "fr-ca"), kPrinterUri})}));
  EXPECT_NE(out.find("request-id 5\nattr 01 47 attributes-charset iso-8859-1\n"
                     "attr 01 48 attributes-natural-language fr-ca\n"),
            std::string::npos)
      << out;
}

TEST_F(IppProcess, MissingAttributesAreNamedInTheLog) {
  const char* charset_line = "ProcessIPPRequest: missing attributes-charset attribute!";
  const char* language_line = "ProcessIPPRequest: missing attributes-natural-language attribute!";
  const char* uri_line = "ProcessIPPRequest: missing printer-uri or job-uri attribute!";
  const struct {
    const char* what;
    std::vector<std::string> attrs;
    std::vector<const char*> lines;
    const char* first_attr_line;
  } cases[] = {
      {"Get-Jobs with the envelope only", {kCharset, kLanguage}, {uri_line},
       "attr \"attributes-charset\": group_tag = 1, value_tag = 47"},
      {"a printer-uri only", {kPrinterUri}, {charset_line, language_line},
       "attr \"printer-uri\": group_tag = 1, value_tag = 45"},
      {"nothing usable", {attr(0x42, "requesting-user-name", "u")}, {charset_line, language_line, uri_line},
       "attr \"requesting-user-name\": group_tag = 1, value_tag = 42"},
      {"a printer-uri with the wrong tag", {kCharset, kLanguage, attr(0x44, "printer-uri", "ipp://x/printers/lab")},
       {uri_line}, "attr \"attributes-charset\": group_tag = 1, value_tag = 47"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    size_t start = root_.ErrorLog().size();
    std::string out = Send(request(1, 1, 0x000A, 3, {group(1, c.attrs)}));
    EXPECT_NE(out.find("\nstatus 0x0400\n"), std::string::npos) << out;
    ASSERT_TRUE(WaitUntil([&] { return root_.ErrorLog().find("End of attributes...", start) != std::string::npos; }, kWait));
    std::string log = root_.ErrorLog().substr(start);
    for (const char* line : {charset_line, language_line, uri_line}) {
      bool expected = std::find(c.lines.begin(), c.lines.end(), line) != c.lines.end();
      EXPECT_EQ(log.find(line) != std::string::npos, expected) << line << "\n" << log;
    }
    // Then every attribute of the request, in order, for the administrator.
    size_t follow = log.find("Request attributes follow...");
    EXPECT_NE(follow, std::string::npos);
    EXPECT_EQ(log.find("attr \""), log.find(c.first_attr_line)) << log;
    EXPECT_LT(follow, log.find(c.first_attr_line));
  }
}

TEST_F(IppProcess, ServerOperationsNeedNoTarget) {
  // VORN-Get-Printers, -Get-Classes, -Get-Default, -Get-Devices, -Get-PPDs.
  for (int op : {0x4002, 0x4005, 0x4001, 0x400B, 0x400C}) {
    SCOPED_TRACE(op);
    std::string out = Send(request(1, 1, op, 8, {group(1, {kCharset, kLanguage})}), "/");
    EXPECT_NE(out.find("request-id 8\n" + std::string(kEnvelope)), std::string::npos) << out;
    EXPECT_EQ(out.find("status 0x0400"), std::string::npos) << out;
  }
  EXPECT_EQ(root_.ErrorLog().find("missing printer-uri"), std::string::npos);
}

TEST_F(IppProcess, DocumentDataAfterTheMessageIsSpooledAndRemoved) {
  std::string json = request(1, 1, 0x0013, 30, {group(1, {kCharset, kLanguage, kPrinterUri})});
  json.insert(json.size() - 1, ",\"data\":\"%!PS\\nshowpage\\n\"");
  std::string out = Send(json);
  EXPECT_NE(out.find("\nstatus 0x0501\n"), std::string::npos) << out;
  EXPECT_TRUE(root_.WaitForLog("writing 14 bytes"));
  EXPECT_TRUE(root_.WaitForLog("Removing temp file " + root_.file("spool/")));
}

}  // namespace
