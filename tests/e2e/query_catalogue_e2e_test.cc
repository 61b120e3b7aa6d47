// VORN-Get-Devices and VORN-Get-PPDs on a running scheduler, asked by an IPP
// client written elsewhere (tests/e2e/query_client.js). Nothing fills the
// catalogues yet: both answer successful-ok with the envelope only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"
#include "query_reply.h"

namespace {

using namespace e2e;

TEST(QueryCatalogue, DevicesAndDriversAnswerOk) {
  const std::string node = FindProgram("node");
  ASSERT_FALSE(node.empty()) << "the node command is needed (.ci/install-deps installs it)";
  ServerRoot root;
  root.WriteConfig("LogLevel debug2\n");
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground()) << vornd.Stderr();

  const struct {
    const char* what;
    int op;
    std::vector<std::string> attrs;
  } cases[] = {
      {"devices", 0x400B, {}},
      {"devices, narrowed: still plain ok", 0x400B, {"requested-attributes=44:device-uri"}},
      {"drivers", 0x400C, {}},
      {"drivers, narrowed: still plain ok", 0x400C, {"requested-attributes=44:ppd-name,ppd-make"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reply r = RunQuery(node, root.port(), c.op, c.attrs);
    EXPECT_EQ(r.status, "0x0000") << r.raw;
    EXPECT_EQ(r.tags, (std::vector<int>{1})) << r.raw;
  }
  const std::string log = root.ErrorLog();
  EXPECT_NE(log.find("get_devices("), std::string::npos) << log;
  EXPECT_NE(log.find("get_ppds("), std::string::npos) << log;
}

}  // namespace
