// The example plots Debian ships with hp2xx (.ci/install-deps installs it),
// read where the package puts them: each converts, renders without an
// error in Ghostscript and draws something on its first page.
#include <gtest/gtest.h>

#include <regex>

#include "hpglconv_fixture.h"

namespace {

using namespace hpglconv_test;

constexpr const char* kExamples = "/usr/share/doc/hp2xx/hp-tests";

TEST(HpglconvExamples, Hp2xxPlotsRender) {
  if (!std::filesystem::is_directory(kExamples)) GTEST_SKIP() << kExamples << " absent (package hp2xx)";
  Renderer r;
  ASSERT_TRUE(r.ready()) << "the node command is needed (.ci/install-deps installs it)";
  std::vector<std::filesystem::path> plots;
  for (const auto& e : std::filesystem::directory_iterator(kExamples)) {
    const std::string ext = e.path().extension().string();
    if (ext == ".hp" || ext == ".hpg" || ext == ".plt" || ext == ".hpgl") plots.push_back(e.path());
  }
  std::sort(plots.begin(), plots.end());
  ASSERT_GE(plots.size(), 10u);
  std::vector<std::string> blank;
  for (const auto& p : plots) {
    SCOPED_TRACE(p.string());
    Converted conv = Convert(e2e::ReadFile(p.string()));
    ASSERT_EQ(conv.rc, 0) << conv.err.substr(0, 2000);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(conv.out, m, std::regex("%%Pages: (\\d+)\n%%EOF\n$")));
    const int pages = std::stoi(m[1]);
    if (pages == 0) blank.push_back(p.filename().string());
    std::string log;
    const std::string name = p.stem().string();
    ASSERT_EQ(r.Render(conv.out, name, 24, &log), pages) << log.substr(0, 2000);
    if (pages == 0) continue;
    GreyImage img;
    ASSERT_TRUE(textconv_test::ReadGreyPng(r.page(name, 1), img));
    long marked = 0;
    for (unsigned char v : img.pixels) marked += v < 250;
    EXPECT_GT(marked, 0) << "blank first page";
  }
  // Only the plot of Bezier curves (BZ, not a command of ours) draws nothing.
  EXPECT_EQ(blank, std::vector<std::string>{"bz.hp"});
}

}  // namespace
