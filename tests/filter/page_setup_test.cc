// Page variables from the PPD and the job options, and the frame rotation.
#include <gtest/gtest.h>

#include "filter/common/page-setup.h"
#include "filter_test_env.h"

namespace {

using filter_test::DemoPpd;
using filter_test::FixturePpd;
using filter_test::MemOut;
using filter_test::ScopedEnv;

struct Expect {
  int orientation;
  float left, right, bottom, top, width, length;
};

struct SetupCase {
  const char* what;
  std::string ppd;  // "" for none
  const char* options;
  bool change_size;
  Expect e;
};

TEST(PageSetup, VariablesFromPpdAndOptions) {
  const std::string demo = DemoPpd();
  const SetupCase cases[] = {
      {"no PPD, no options: the defaults", "", "", true, {0, 18, 594, 36, 756, 612, 792}},
      {"landscape turns the frame", "", "landscape", true, {1, 36, 756, 18, 594, 792, 612}},
      {"landscape without change-size keeps the frame", "", "landscape", false, {1, 18, 594, 36, 756, 612, 792}},
      {"landscape=No is portrait, orientation-requested unread", "", "landscape=No orientation-requested=4", true,
       {0, 18, 594, 36, 756, 612, 792}},
      {"landscape=off", "", "landscape=OFF", true, {0, 18, 594, 36, 756, 612, 792}},
      {"orientation-requested 4 is landscape", "", "orientation-requested=4", true,
       {1, 36, 756, 18, 594, 792, 612}},
      {"orientation-requested 5 is reverse landscape", "", "orientation-requested=5", true,
       {3, 36, 756, 18, 594, 792, 612}},
      {"orientation-requested 6 is reverse portrait", "", "orientation-requested=6", true,
       {2, 18, 594, 36, 756, 612, 792}},
      {"orientation-requested 7 keeps the low two bits of 5", "", "orientation-requested=7", true,
       {1, 36, 756, 18, 594, 792, 612}},
      {"orientation-requested 2 keeps the low two bits of -1", "", "orientation-requested=2", true,
       {3, 36, 756, 18, 594, 792, 612}},
      {"page-left in landscape lands on the bottom, then the left", "", "landscape page-left=72", true,
       {1, 72, 756, 18, 594, 792, 612}},
      {"margins in portrait", "", "page-left=10 page-right=20 page-bottom=30 page-top=40", true,
       {0, 10, 592, 30, 752, 612, 792}},
      {"margins in reverse portrait are measured from the other side", "",
       "orientation-requested=6 page-left=10 page-bottom=30", true, {2, 10, 594, 30, 756, 612, 792}},
      {"a margin that is not a number reads as 0", "", "page-left=abc", true, {0, 0, 594, 36, 756, 612, 792}},
      {"a margin reads its leading number", "", "page-left=72pt", true, {0, 72, 594, 36, 756, 612, 792}},
      {"margins that cross keep the previous area", "", "page-left=400 page-right=400", true,
       {0, 18, 594, 36, 756, 612, 792}},
      {"a negative margin keeps the previous area", "", "page-top=-50", true, {0, 18, 594, 36, 756, 612, 792}},
      {"the PPD's default size", demo, "", true, {0, 18, 594, 36, 756, 612, 792}},
      {"media picks the PPD size", demo, "media=A4", true, {0, 18, 577, 36, 806, 595, 842}},
      {"PageSize picks the PPD size, landscape turns it", demo, "PageSize=Legal landscape", true,
       {1, 36, 972, 18, 594, 1008, 612}},
      {"a size without width keeps the default media", FixturePpd("zero-size.ppd"), "", true,
       {0, 18, 594, 36, 756, 612, 792}},
      {"a size with an empty area uses the whole media", FixturePpd("zero-size.ppd"), "PageSize=Empty", true,
       {0, 0, 300, 0, 400, 300, 400}},
  };
  for (const SetupCase& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedEnv env("PPD", c.ppd.empty() ? nullptr : c.ppd.c_str());
    vorn_options_t options;
    vornParseOptions(c.options, options);
    vorn_page_t page;
    MemOut status;
    vorn::ppd_file_ptr ppd(page_setup_from_options(page, options, c.change_size, status.fp()));
    EXPECT_EQ(ppd != nullptr, !c.ppd.empty());
    EXPECT_EQ(page.Orientation, c.e.orientation);
    EXPECT_FLOAT_EQ(page.PageLeft, c.e.left);
    EXPECT_FLOAT_EQ(page.PageRight, c.e.right);
    EXPECT_FLOAT_EQ(page.PageBottom, c.e.bottom);
    EXPECT_FLOAT_EQ(page.PageTop, c.e.top);
    EXPECT_FLOAT_EQ(page.PageWidth, c.e.width);
    EXPECT_FLOAT_EQ(page.PageLength, c.e.length);
  }
}

TEST(PageSetup, PpdGivesLevelColourDuplexAndTheSizeLine) {
  {
    ScopedEnv env("PPD", DemoPpd().c_str());
    vorn_options_t options;
    vornParseOptions("media=A4 sides=two-sided-short-edge", options);
    vorn_page_t page;
    MemOut status;
    vorn::ppd_file_ptr ppd(page_setup_from_options(page, options, true, status.fp()));
    ASSERT_TRUE(ppd);
    EXPECT_EQ(page.LanguageLevel, 3);
    EXPECT_FALSE(page.ColourCapable);
    EXPECT_TRUE(page.Duplex);
    EXPECT_EQ(status.str(), "DEBUG: Page = 595x842; 18,36 to 577,806\n");
  }
  {
    // A PPD that cannot be read leaves the defaults and says nothing.
    ScopedEnv env("PPD", "/nonexistent/printer.ppd");
    vorn_options_t options;
    vorn_page_t page;
    MemOut status;
    vorn::ppd_file_ptr ppd(page_setup_from_options(page, options, true, status.fp()));
    EXPECT_FALSE(ppd);
    EXPECT_EQ(page.LanguageLevel, 1);
    EXPECT_TRUE(page.ColourCapable);
    EXPECT_FALSE(page.Duplex);
    EXPECT_EQ(status.str(), "");
  }
}

TEST(PageSetup, RotatingTheFrameByEachOrientation) {
  // An off-centre area tells every edge apart.
  const vorn_page_t base{0, false, 1, true, 10, 580, 20, 700, 600, 800};
  const Expect cases[] = {
      {0, 10, 580, 20, 700, 600, 800},
      {1, 20, 700, 10, 580, 800, 600},
      {2, 20, 590, 100, 780, 600, 800},
      {3, 100, 780, 20, 590, 800, 600},
  };
  for (const Expect& e : cases) {
    SCOPED_TRACE(e.orientation);
    vorn_page_t p = base;
    p.Orientation = e.orientation;
    rotate_page_frame(p);
    EXPECT_EQ(p.PageLeft, e.left);
    EXPECT_EQ(p.PageRight, e.right);
    EXPECT_EQ(p.PageBottom, e.bottom);
    EXPECT_EQ(p.PageTop, e.top);
    EXPECT_EQ(p.PageWidth, e.width);
    EXPECT_EQ(p.PageLength, e.length);
  }
  // Orientation 3 is 2 followed by 1.
  vorn_page_t two = base, three = base;
  two.Orientation = 2;
  rotate_page_frame(two);
  two.Orientation = 1;
  rotate_page_frame(two);
  three.Orientation = 3;
  rotate_page_frame(three);
  EXPECT_EQ(two.PageLeft, three.PageLeft);
  EXPECT_EQ(two.PageTop, three.PageTop);
}

}  // namespace
