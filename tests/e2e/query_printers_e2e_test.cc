// The read-only printer queries of a running scheduler whose printers come
// from a printers.conf written here, sent and decoded by an IPP client
// written elsewhere (the npm package ipp-encoder, driven by
// tests/e2e/query_client.js).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "query_reply.h"

namespace {

using namespace e2e;

constexpr int kGetPrinterAttributes = 0x000B;
constexpr int kGetDefault = 0x4001;
constexpr int kGetPrinters = 0x4002;
constexpr int kGetClasses = 0x4005;

// The values every destination gets first, in this order.
const std::vector<std::string> kComputed = {
    "printer-state",   "printer-state-reasons", "printer-state-message", "printer-is-accepting-jobs",
    "printer-up-time", "printer-state-time",    "printer-current-time",  "queued-job-count"};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const char kPrintersConf[] =
    "<Printer alpha>\n"
    "Location Lab\n"
    "State Idle\n"
    "Accepting Yes\n"
    "</Printer>\n"
    "<DefaultPrinter beta>\n"
    "Info Beta printer\n"
    "State Idle\n"
    "Accepting Yes\n"
    "</Printer>\n"
    "<Printer gamma>\n"
    "Location Office\n"
    "State Stopped\n"
    "Accepting No\n"
    "StateMessage Out of toner\n"
    "</Printer>\n";

class QueryPrinters : public ::testing::Test {
 protected:
  // Starts vornd with `printers_conf`; gamma gets a colour PPD.
  void Start(const std::string& printers_conf) {
    node_ = FindProgram("node");
    ASSERT_FALSE(node_.empty()) << "the node command is needed (.ci/install-deps installs it)";
    root_.WriteConfig("LogLevel debug2\n");
    ASSERT_TRUE(WriteFile(root_.file("printers.conf"), printers_conf));
    std::filesystem::create_directories(root_.file("ppd"));
    ASSERT_TRUE(WriteFile(root_.file("ppd/gamma.ppd"),
                          "*PPD-Adobe: \"4.3\"\n*ModelName: \"Colour\"\n*NickName: \"Colour\"\n"
                          "*ColorDevice: True\n"));
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
  }

  Reply Query(int op, const std::vector<std::string>& attrs = {}) {
    return RunQuery(node_, root_.port(), op, attrs);
  }

  std::string node_;
  ServerRoot root_;
  Vornd vornd_{root_};
};

TEST_F(QueryPrinters, GetPrintersFiltersAndGroupsEachDestination) {
  ASSERT_NO_FATAL_FAILURE(Start(kPrintersConf));
  const struct {
    const char* what;
    int op;
    std::vector<std::string> attrs;
    const char* status;
    std::vector<std::string> listed;
  } cases[] = {
      {"all", kGetPrinters, {}, "0x0000", {"alpha", "beta", "gamma"}},
      {"limit 1: the first in name order", kGetPrinters, {"limit=21:1"}, "0x0000", {"alpha"}},
      {"limit 2", kGetPrinters, {"limit=21:2"}, "0x0000", {"alpha", "beta"}},
      {"colour printers", kGetPrinters, {"printer-type=23:8", "printer-type-mask=23:8"}, "0x0000", {"gamma"}},
      {"not colour", kGetPrinters, {"printer-type=23:0", "printer-type-mask=23:8"}, "0x0000", {"alpha", "beta"}},
      {"location: same text in any case, or none",
       kGetPrinters,
       {"printer-location=41:lab"},
       "0x0000",
       {"alpha", "beta"}},
      {"requested-attributes", kGetPrinters, {"requested-attributes=44:printer-name"}, "0x0001",
       {"alpha", "beta", "gamma"}},
      {"no classes", kGetClasses, {}, "0x0000", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reply r = Query(c.op, c.attrs);
    EXPECT_EQ(r.status, c.status) << r.raw;
    ASSERT_FALSE(r.tags.empty()) << r.raw;
    EXPECT_EQ(r.tags[0], 1) << r.raw;
    EXPECT_EQ(r.printer_names(), c.listed) << r.raw;
    // The operation group, then one printer group per destination.
    EXPECT_EQ(r.groups.size(), c.listed.size() + 1) << r.raw;
  }

  // Every destination starts with the computed values; a filter by name
  // keeps exactly those and the names asked for.
  Reply r = Query(kGetPrinters, {"requested-attributes=44:printer-name"});
  ASSERT_EQ(r.groups.size(), 4u) << r.raw;
  for (size_t g = 1; g < 4; g++) EXPECT_EQ(r.names(g), Concat(kComputed, {"printer-name"})) << r.raw;
  EXPECT_EQ(r.value(1, "printer-state"), "3");
  EXPECT_EQ(r.value(1, "printer-state-reasons"), "none");
  EXPECT_EQ(r.value(1, "printer-is-accepting-jobs"), "true");
  EXPECT_EQ(r.value(3, "printer-state"), "5");
  EXPECT_EQ(r.value(3, "printer-state-reasons"), "paused");
  EXPECT_EQ(r.value(3, "printer-state-message"), "Out of toner");
  EXPECT_EQ(r.value(3, "printer-is-accepting-jobs"), "false");
  EXPECT_EQ(r.value(1, "queued-job-count"), "0");
  EXPECT_EQ(r.value(1, "printer-current-time"), "date");
}

TEST_F(QueryPrinters, GetPrinterAttributesFiltersByExactName) {
  ASSERT_NO_FATAL_FAILURE(Start(kPrintersConf));
  const std::string gamma = "printer-uri=45:ipp://localhost/printers/gamma";
  const struct {
    const char* what;
    std::vector<std::string> attrs;
    const char* status;
    std::vector<std::string> names;  // empty: not checked exactly
  } cases[] = {
      {"one name", {gamma, "requested-attributes=44:printer-name"}, "0x0001", Concat(kComputed, {"printer-name"})},
      {"two names, in the set's order",
       {gamma, "requested-attributes=44:printer-location,printer-name"},
       "0x0001",
       Concat(kComputed, {"printer-name", "printer-location"})},
      {"a group name is not expanded", {gamma, "requested-attributes=44:printer-description"}, "0x0001", kComputed},
      {"a name of the shared set",
       {gamma, "requested-attributes=44:ipp-versions-supported"},
       "0x0001",
       Concat(kComputed, {"ipp-versions-supported"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reply r = Query(kGetPrinterAttributes, c.attrs);
    EXPECT_EQ(r.status, c.status) << r.raw;
    ASSERT_EQ(r.tags, (std::vector<int>{1, 4})) << r.raw;
    EXPECT_EQ(r.names(1), c.names) << r.raw;
  }

  // Without a filter, and with "all": the printer's own set and the shared
  // one; only "all" brings the state history.
  for (const char* all : {"", "requested-attributes=44:all"}) {
    SCOPED_TRACE(all);
    std::vector<std::string> attrs = {gamma};
    if (*all) attrs.push_back(all);
    Reply r = Query(kGetPrinterAttributes, attrs);
    EXPECT_EQ(r.status, *all ? "0x0001" : "0x0000") << r.raw;
    ASSERT_EQ(r.tags, (std::vector<int>{1, 4})) << r.raw;
    EXPECT_EQ(r.value(1, "printer-name"), "gamma");
    EXPECT_EQ(r.value(1, "printer-location"), "Office");
    EXPECT_EQ(r.value(1, "color-supported"), "true");
    EXPECT_NE(r.value(1, "operations-supported"), "(none)") << r.raw;
    EXPECT_EQ(r.value(1, "printer-state-history") != "(none)", *all != 0) << r.raw;
  }

  // A printer URI naming no destination.
  Reply r = Query(kGetPrinterAttributes, {"printer-uri=45:ipp://localhost/printers/nosuch"});
  EXPECT_EQ(r.status, "0x0406") << r.raw;
  EXPECT_EQ(r.tags, (std::vector<int>{1})) << r.raw;
  EXPECT_NE(root_.ErrorLog().find("get_printer_attrs: resource name '/printers/nosuch' no good!"),
            std::string::npos);
}

TEST_F(QueryPrinters, GetDefaultCopiesTheDefaultsOwnSet) {
  ASSERT_NO_FATAL_FAILURE(Start(kPrintersConf));
  Reply r = Query(kGetDefault);
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  ASSERT_EQ(r.tags, (std::vector<int>{1, 4})) << r.raw;
  EXPECT_EQ(r.value(1, "printer-name"), "beta");
  EXPECT_EQ(r.value(1, "printer-info"), "Beta printer");
  // The computed state values are not part of this answer.
  EXPECT_EQ(r.value(1, "printer-up-time"), "(none)") << r.raw;

  r = Query(kGetDefault, {"requested-attributes=44:printer-name,printer-info"});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  ASSERT_EQ(r.tags, (std::vector<int>{1, 4})) << r.raw;
  EXPECT_EQ(r.names(1), (std::vector<std::string>{"printer-name", "printer-info"})) << r.raw;
}

TEST_F(QueryPrinters, GetDefaultWithoutADefaultIsNotFound) {
  ASSERT_NO_FATAL_FAILURE(Start("<Printer alpha>\n</Printer>\n"));
  Reply r = Query(kGetDefault);
  EXPECT_EQ(r.status, "0x0406") << r.raw;
  EXPECT_EQ(r.tags, (std::vector<int>{1})) << r.raw;
  EXPECT_EQ(r.value(0, "attributes-charset"), "utf-8") << r.raw;
}

}  // namespace
