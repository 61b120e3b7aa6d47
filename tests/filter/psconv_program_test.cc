// psconv as the scheduler starts it: the command line, reading standard
// input or a file, and the status lines on standard error.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"
#include "psconv_fixture.h"

namespace {

using namespace filter_test;
using namespace std::chrono_literals;

TEST(PsconvProgram, CommandLineAndInput) {
  ScopedEnv ppd("PPD", nullptr);
  const std::string doc = DscDoc(3);
  const std::string missing = "/nonexistent/d00001-001";
  const struct {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string err;  // on standard error
    int pages;        // shown in the output
  } cases[] = {
      {{"1", "ann", "t", "1"}, "", 1, "ERROR: psconv job-id user title copies options [file]\n", 0},
      {{"1", "ann", "t", "1", "", "a", "b"}, "", 1, "ERROR: psconv job-id user title copies options [file]\n", 0},
      {{"1", "ann", "t", "1", "", missing}, "", 1,
       "ERROR: unable to open print file \"" + missing + "\" - No such file or directory\n", 0},
      {{"1", "ann", "t", "1", ""}, "", 1, "ERROR: Empty print file!\n", 0},
      {{"1", "ann", "t", "1", "page-ranges=2-"}, doc, 0, "PAGE: 2 1\n", 2},
      {{"1", "ann", "t", "2", "OutputOrder=Reverse"}, doc, 0, "PAGE: 3 2\n", 3},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv{PSCONV_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(testing::PrintToString(c.args));
    e2e::RunResult r = e2e::RunProgram(argv, 30s, c.input);
    EXPECT_EQ(r.exit_status, c.status);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(int(PagesShown(r.out).size()), c.pages);
    // Standard error carries nothing but whole status lines.
    EXPECT_TRUE(r.err.empty() || r.err.back() == '\n');
  }
}

// A long document from a pipe, reversed: the pages are copied aside and
// come back whole, in reverse.
TEST(PsconvProgram, ReverseOrderFromAPipe) {
  ScopedEnv ppd("PPD", nullptr);
  const int pages = 300;
  e2e::RunResult r =
      e2e::RunProgram({PSCONV_PATH, "1", "ann", "t", "1", "OutputOrder=Reverse number-up=2"}, 30s, DscDoc(pages));
  ASSERT_EQ(r.exit_status, 0) << r.err;
  std::vector<int> shown = PagesShown(r.out);
  ASSERT_EQ(shown.size(), size_t(pages));
  // Sheets last to first, each sheet's pages in order.
  for (int s = 0; s < pages / 2; s++) {
    EXPECT_EQ(shown[size_t(2 * s)], pages - 2 * s - 1);
    EXPECT_EQ(shown[size_t(2 * s + 1)], pages - 2 * s);
  }
  EXPECT_EQ(CountOf(r.err, "PAGE: "), pages / 2);
  EXPECT_NE(r.err.find("DEBUG: page_count=150\n"), std::string::npos);
}

}  // namespace
