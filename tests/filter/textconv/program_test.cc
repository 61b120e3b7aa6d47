// textconv as the scheduler starts it: the command line, standard input or
// a file, and the chain to psconv, which selects page ranges and reports
// the pages it sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "harness.h"
#include "textconv_fixture.h"

namespace {

using namespace textconv_test;
using namespace std::chrono_literals;

TEST(TextconvProgram, CommandLineAndInput) {
  ScopedEnv ppd("PPD", nullptr);
  ScopedEnv data("VORN_DATADIR", TEXTCONV_DATA);
  char dir[] = "/tmp/vorn-textconv-prog-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/d00001-001";
  ASSERT_TRUE(e2e::WriteFile(file, "from a file\n"));
  const std::string usage = std::string("ERROR: ") + TEXTCONV_PATH + " job-id user title copies options [file]\n";
  const struct {
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string err;    // on standard error
    std::string shown;  // in the output
  } cases[] = {
      {{"1", "ann", "t", "1"}, "", 1, usage, ""},
      {{"1", "ann", "t", "1", "", "a", "b"}, "", 1, usage, ""},
      {{"1", "ann", "t", "1", "", "/nonexistent/d1"}, "", 1,
       "ERROR: unable to open print file - No such file or directory\n", ""},
      {{"1", "ann", "t", "1", ""}, "from standard input\n", 0, "", "N(from standard input)S"},
      {{"1", "ann", "t", "1", "", file}, "ignored\n", 0, "", "N(from a file)S"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv{TEXTCONV_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(testing::PrintToString(c.args));
    e2e::RunResult r = e2e::RunProgram(argv, 30s, c.input);
    EXPECT_EQ(r.exit_status, c.status);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    if (!c.shown.empty()) {
      EXPECT_NE(r.out.find(c.shown), std::string::npos);
      EXPECT_TRUE(r.out.starts_with("%!PS-Adobe-3.0\n"));
      EXPECT_NE(r.out.find("%%Title: t\n%%For: ann\n"), std::string::npos);
    } else {
      EXPECT_EQ(r.out, "");
    }
  }
  std::filesystem::remove_all(dir);
}

// textconv's pages carry the comments psconv selects by: page ranges and
// the PAGE: lines for the page log come out as for any PostScript.
TEST(TextconvProgram, ChainedWithPsconv) {
  ScopedEnv data("VORN_DATADIR", TEXTCONV_DATA);
  ScopedEnv ppd("PPD", filter_test::DemoPpd().c_str());
  std::string text;
  for (int p = 1; p <= 5; p++) text += "page " + std::to_string(p) + "\f";
  const struct {
    const char* options;
    const char* copies;
    std::vector<int> pages;  // textconv pages that reach the printer
    std::string page_lines;
  } cases[] = {
      {"", "1", {1, 2, 3, 4, 5}, "PAGE: 1 1\nPAGE: 2 1\nPAGE: 3 1\nPAGE: 4 1\nPAGE: 5 1\n"},
      {"page-ranges=2-3", "1", {2, 3}, "PAGE: 1 1\nPAGE: 2 1\n"},
      {"page-ranges=1,4-", "2", {1, 4, 5}, "PAGE: 1 2\nPAGE: 2 2\nPAGE: 3 2\n"},
      {"page-set=even", "1", {2, 4}, "PAGE: 1 1\nPAGE: 2 1\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    e2e::RunResult t = e2e::RunProgram({TEXTCONV_PATH, "7", "ann", "t", c.copies, c.options}, 30s, text);
    ASSERT_EQ(t.exit_status, 0) << t.err;
    e2e::RunResult p = e2e::RunProgram({PSCONV_PATH, "7", "ann", "t", c.copies, c.options}, 30s, t.out);
    ASSERT_EQ(p.exit_status, 0) << p.err;
    std::string page_lines;
    for (size_t at = p.err.find("PAGE: "); at != std::string::npos; at = p.err.find("PAGE: ", at + 1))
      page_lines += p.err.substr(at, p.err.find('\n', at) - at + 1);
    EXPECT_EQ(page_lines, c.page_lines);
    for (int k = 1; k <= 5; k++) {
      const bool kept = std::find(c.pages.begin(), c.pages.end(), k) != c.pages.end();
      EXPECT_EQ(p.out.find("N(page " + std::to_string(k) + ")S") != std::string::npos, kept) << k;
    }
  }
}

}  // namespace
