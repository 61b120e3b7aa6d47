// psconv's output as a PostScript interpreter sees it: the program runs on
// small real documents and the WebAssembly Ghostscript renders the result,
// which must succeed with the sheets expected. Each render takes about a
// second, so the table keeps to one case per feature.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "psconv_fixture.h"

namespace {

using namespace filter_test;
using namespace std::chrono_literals;

class Render : public ::testing::Test {
 protected:
  void SetUp() override {
    node_ = e2e::FindProgram("node");
    ASSERT_FALSE(node_.empty()) << "the node command is needed (.ci/install-deps installs it)";
    char dir[] = "/tmp/vorn-render-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // psconv as the scheduler starts it, on `doc`; its output in a file.
  std::string Convert(const std::string& doc, const std::string& options, const std::string& ppd,
                      const char* copies = "1", const char* classification = nullptr) {
    const std::string in = dir_ + "/in.ps", out = dir_ + "/out.ps";
    EXPECT_TRUE(e2e::WriteFile(in, doc));
    ScopedEnv p("PPD", ppd.empty() ? nullptr : ppd.c_str());
    ScopedEnv c("CLASSIFICATION", classification);
    e2e::RunResult r = e2e::RunProgram({PSCONV_PATH, "7", "ann", "render", copies, options, in}, 30s);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_TRUE(e2e::WriteFile(out, r.out));
    return out;
  }

  // The bounding box of each sheet Ghostscript draws; an empty sheet has
  // 0 0 0 0.
  std::vector<std::vector<int>> Sheets(const std::string& file) {
    e2e::RunResult r = e2e::RunProgram({node_, std::string(VORN_SOURCE_DIR) + "/tests/fixtures/render/gs-run.mjs",
                                        "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=bbox", file},
                                       120s);
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(r.err.find("Error"), std::string::npos) << r.err;
    std::vector<std::vector<int>> boxes;
    std::istringstream lines(r.err);
    std::string line;
    while (std::getline(lines, line)) {
      if (!line.starts_with("%%BoundingBox: ")) continue;
      std::istringstream nums(line.substr(15));
      std::vector<int> box(4);
      nums >> box[0] >> box[1] >> box[2] >> box[3];
      boxes.push_back(box);
    }
    return boxes;
  }

  std::string node_, dir_;
};

const char kPlain[] =
    "%!\n/Helvetica findfont 30 scalefont setfont\n72 600 moveto (First) show showpage\n"
    "72 600 moveto (Second) show showpage\n";
const char kNoPages[] =
    "%!PS-Adobe-3.0\n%%EndComments\n/Helvetica findfont 30 scalefont setfont\n"
    "72 600 moveto (First) show showpage\n72 600 moveto (Second) show showpage\n%%EOF\n";
const char kEps[] =
    "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 100 100 300 200\n%%EndComments\n"
    "newpath 100 100 moveto 200 0 rlineto 0 100 rlineto -200 0 rlineto closepath fill\n%%EOF\n";
// A PJL header in front of a DSC document.
const std::string kPjl =
    "\x1b%-12345X@PJL JOB NAME=\"ticket\"\r\n@PJL SET COPIES=1\r\n@PJL SET DUPLEX=OFF\r\n"
    "@PJL COMMENT account=42\r\n@PJL ENTER LANGUAGE=POSTSCRIPT\r\n";

// A job ticket the scheduler read when the job came in; psconv passes it on.
std::string Ticketed(std::string doc) {
  doc.insert(doc.find('\n') + 1, "%vornJobTicket: job-priority=90 copies=1\n");
  return doc;
}

TEST_F(Render, EveryOptionSetRendersWithTheSheetsExpected) {
  const std::string demo = DemoPpd();
  const std::string dsc = DscDoc(5);
  const struct {
    const char* what;
    std::string doc;
    const char* options;
    std::string ppd;
    const char* copies;
    const char* classification;
    int sheets;
    int blank;  // sheets with nothing drawn
  } cases[] = {
      {"plain DSC", dsc, "", "", "1", nullptr, 5, 0},
      {"2-up", dsc, "number-up=2", "", "1", nullptr, 3, 0},
      {"4-up, double-thick borders", dsc, "number-up=4 page-border=double-thick", "", "1", nullptr, 2, 0},
      {"6-up, columns right to left, landscape", dsc, "number-up=6 number-up-layout=btrl landscape", "", "1",
       nullptr, 1, 0},
      {"9-up mirrored", dsc, "number-up=9 mirror", "", "1", nullptr, 1, 0},
      {"16-up with a label", dsc, "number-up=16 page-label=Draft", "", "1", nullptr, 1, 0},
      {"range, reverse order by the filter", dsc, "page-ranges=2-4 OutputOrder=Reverse", demo, "1", nullptr, 3, 0},
      {"odd pages, collated copies by the filter", dsc, "page-set=odd Collate=True", demo, "2", nullptr, 6, 0},
      {"reverse landscape 2-up two-sided", dsc, "orientation-requested=5 number-up=2 sides=two-sided-long-edge",
       demo, "1", nullptr, 4, 1},
      {"classification banner on A4", dsc, "page-label=x media=A4", demo, "1", "secret", 5, 0},
      {"plain PostScript", kPlain, "", "", "1", nullptr, 2, 0},
      {"plain PostScript with a banner keeps its pages", kPlain, "number-up=4 page-label=x", "", "1", nullptr, 2, 0},
      {"DSC without page comments keeps its pages", kNoPages, "page-label=x", "", "1", nullptr, 2, 0},
      {"EPS", kEps, "", demo, "1", nullptr, 1, 0},
      {"PJL header and job ticket", kPjl + Ticketed(DscDoc(3)), "page-ranges=3", demo, "1", nullptr, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::vector<int>> sheets = Sheets(Convert(c.doc, c.options, c.ppd, c.copies, c.classification));
    EXPECT_EQ(int(sheets.size()), c.sheets);
    int blank = 0;
    for (const auto& b : sheets) blank += b == std::vector<int>{0, 0, 0, 0};
    EXPECT_EQ(blank, c.blank);
  }
}

// The slot each page lands in, as drawn: a 16-page document on 4-up sheets
// where sheet s shows only the page of slot s, filling its whole page.
TEST_F(Render, SlotOrderAsDrawn) {
  std::string doc = "%!PS-Adobe-3.0\n%%Pages: 16\n%%EndComments\n";
  for (int k = 0; k < 16; k++) {
    doc += "%%Page: " + std::to_string(k + 1) + " " + std::to_string(k + 1) + "\n";
    if (k % 4 == k / 4) doc += "0 0 612 792 rectfill\n";
    doc += "showpage\n";
  }
  doc += "%%EOF\n";
  const struct {
    const char* layout;
    const char* slots[4];  // L/R column, B/T row
  } cases[] = {
      {"lrtb", {"LT", "RT", "LB", "RB"}}, {"rlbt", {"RB", "LB", "RT", "LT"}},
      {"btlr", {"LB", "LT", "RB", "RT"}}, {"tbrl", {"RT", "RB", "LT", "LB"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.layout);
    auto sheets = Sheets(Convert(doc, std::string("number-up=4 number-up-layout=") + c.layout, ""));
    ASSERT_EQ(sheets.size(), 4u);
    for (int s = 0; s < 4; s++) {
      const auto& b = sheets[size_t(s)];
      std::string where;
      where += (b[0] + b[2]) / 2 < 306 ? 'L' : 'R';
      where += (b[1] + b[3]) / 2 < 396 ? 'B' : 'T';
      EXPECT_EQ(where, c.slots[s]) << "sheet " << s << ": " << b[0] << " " << b[1] << " " << b[2] << " " << b[3];
      // One slot: less than half the sheet each way.
      EXPECT_LT(b[2] - b[0], 306);
      EXPECT_LT(b[3] - b[1], 396);
    }
  }
}

}  // namespace
