// textconv's output as a PostScript interpreter sees it: each case is
// rendered by the WebAssembly Ghostscript, must draw the pages expected
// without an error, and its first page must match a stored reference image
// (50 dpi grey, tests/fixtures/textconv/). VORN_UPDATE_REFERENCES=1 writes
// the references anew instead; look at them before committing.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "harness.h"
#include "png_compare.h"
#include "textconv_fixture.h"

namespace {

using namespace textconv_test;
using namespace std::chrono_literals;

class TextconvRender : public ::testing::Test {
 protected:
  void SetUp() override {
    node_ = e2e::FindProgram("node");
    ASSERT_FALSE(node_.empty()) << "the node command is needed (.ci/install-deps installs it)";
    char dir[] = "/tmp/vorn-textconv-render-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Renders `ps` at 50 dpi in grey; returns the number of pages drawn.
  int Render(const std::string& ps, const std::string& name) {
    const std::string in = dir_ + "/" + name + ".ps";
    EXPECT_TRUE(e2e::WriteFile(in, ps));
    e2e::RunResult r = e2e::RunProgram(
        {node_, std::string(VORN_SOURCE_DIR) + "/tests/fixtures/render/gs-run.mjs", "-q", "-dNOPAUSE", "-dBATCH",
         "-dSAFER", "-sDEVICE=pnggray", "-r50", "-sOutputFile=" + dir_ + "/" + name + "-%d.png", in},
        120s);
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("Error"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("Error"), std::string::npos) << r.err;
    int pages = 0;
    while (std::filesystem::exists(dir_ + "/" + name + "-" + std::to_string(pages + 1) + ".png")) pages++;
    return pages;
  }

  std::string node_, dir_;
};

std::string Lines(int n, const std::string& stem) {
  std::string s;
  for (int i = 1; i <= n; i++) s += stem + " " + std::to_string(i) + "\n";
  return s;
}

TEST_F(TextconvRender, PagesAndImagesAsExpected) {
  const std::string c_source =
      "/* Sum of a list. */\n#include <stdio.h>\n\nstatic int sum(const int* v, int n) {\n"
      "  int s = 0;  // running total\n  for (int i = 0; i < n; i++) s += v[i];\n  return s;\n}\n\n"
      "int main(void) {\n  int v[] = {1, 2, 3};\n  printf(\"%d\\n\", sum(v, 3));\n  return 0;\n}\n";
  const struct {
    const char* name;
    std::string text, options;
    const char* charset;
    const char* type;
    int pages;
    bool through_psconv = false;  // turned pages need psconv, as on the way to a printer
  } cases[] = {
      {"plain", "The quick brown fox\njumps over the lazy dog.\n\n\tTabbed 0123456789 ()[]{}<>\\\n", "", nullptr,
       nullptr, 1},
      {"wrapping", std::string(500, 'w') + "\n" + Lines(70, "line"), "", nullptr, nullptr, 2},
      {"overstrike-formfeed",
       "B\bBo\bol\bld\bd and _\bu_\bn_\bd_\be_\br_\bl_\bi_\bn_\be_\bd\nx\x1b" "8up\x1b" "9 and\x1b" "9down\x1b" "8\n"
       "\fsecond page\fthird page\n",
       "", nullptr, nullptr, 3},
      {"c-source", c_source, "prettyprint", nullptr, "text/x-csrc", 1},
      {"iso-8859-1", "Caf\xe9, na\xefve, \xa9 \xbd \xdf \xc5ngstr\xf6m, \xbfqu\xe9?\n", "", "iso-8859-1", nullptr, 1},
      {"utf-8",
       "Latin: caf\xc3\xa9 \xc5\x81\xc3\xb3\x64\xc5\xba\n"
       "Greek: \xce\x91\xce\xbb\xcf\x86\xce\xb1 \xce\xb2\xce\xae\xcf\x84\xce\xb1\n"
       "Cyrillic: \xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82\n"
       "Hebrew: \xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d\n",
       "", "utf-8", nullptr, 1},
      {"two-columns", Lines(150, "row"), "columns=2", nullptr, nullptr, 2},
      {"landscape", Lines(50, std::string(90, 'L')), "landscape", nullptr, nullptr, 2, true},
  };
  const bool update = std::getenv("VORN_UPDATE_REFERENCES") != nullptr;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Call call;
    call.text = c.text;
    call.options = c.options;
    call.charset = c.charset;
    call.content_type = c.type;
    Result r = RunText(call);
    ASSERT_EQ(r.rc, 0) << r.status;
    std::string ps = r.out;
    if (c.through_psconv) {
      ScopedEnv ppd("PPD", nullptr);
      e2e::RunResult p = e2e::RunProgram({PSCONV_PATH, "1", "ann", "t", "1", c.options}, 60s, r.out);
      ASSERT_EQ(p.exit_status, 0) << p.err;
      ps = p.out;
    }
    EXPECT_EQ(Render(ps, c.name), c.pages);

    const std::string page = dir_ + "/" + std::string(c.name) + "-1.png";
    const std::string reference = std::string(VORN_SOURCE_DIR) + "/tests/fixtures/textconv/" + c.name + ".png";
    if (update) {
      std::filesystem::create_directories(std::filesystem::path(reference).parent_path());
      std::filesystem::copy_file(page, reference, std::filesystem::copy_options::overwrite_existing);
      continue;
    }
    GreyImage got, want;
    ASSERT_TRUE(ReadGreyPng(page, got));
    ASSERT_TRUE(ReadGreyPng(reference, want)) << reference;
    // Text everywhere differs in whole glyphs; a small share of pixels
    // allows for anti-aliasing differences only.
    EXPECT_LT(DifferingShare(got, want, 64), 0.002) << "compare " << page << " with " << reference;
  }
}

// The comparison itself: an image matches itself and not a shifted copy.
TEST(TextconvPng, ComparisonTellsImagesApart) {
  GreyImage a;
  a.width = 40;
  a.height = 20;
  a.pixels.assign(800, 255);
  for (int x = 5; x < 15; x++) a.pixels[size_t(10 * 40 + x)] = 0;
  GreyImage b = a;
  EXPECT_EQ(DifferingShare(a, b, 64), 0.0);
  b.pixels.assign(800, 255);
  for (int x = 7; x < 17; x++) b.pixels[size_t(10 * 40 + x)] = 0;
  EXPECT_GT(DifferingShare(a, b, 64), 0.004);
  b.width = 20;
  EXPECT_EQ(DifferingShare(a, b, 64), 1.0);
  char dir[] = "/tmp/vorn-png-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/a.png";
  ASSERT_TRUE(WriteGreyPng(path, a));
  GreyImage back;
  ASSERT_TRUE(ReadGreyPng(path, back));
  EXPECT_EQ(back.pixels, a.pixels);
  std::filesystem::remove_all(dir);
}

}  // namespace
