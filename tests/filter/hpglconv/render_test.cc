// hpglconv's pages as a PostScript interpreter draws them: one small plot
// per command group, rendered in grey at 36 dpi by the WebAssembly
// Ghostscript. Each page must match its stored reference image
// (tests/fixtures/hpgl/; VORN_UPDATE_REFERENCES=1 writes them anew, look at
// them before committing), and, so that a blank or misplaced page cannot
// pass, have ink in the region the plot draws and none outside its frame.
#include <gtest/gtest.h>

#include "hpglconv_fixture.h"

namespace {

using namespace hpglconv_test;

constexpr int kDpi = 36;

// An encoded-polyline number: sign in the lowest bit, base-64 digits
// (base 32 in seven-bit mode), the last one a terminator.
std::string Pe(long v, bool seven_bit = false) {
  unsigned long n = (unsigned long)(v < 0 ? -v : v) * 2 + (v < 0);
  const unsigned long base = seven_bit ? 32 : 64;
  std::string s;
  while (n >= base) {
    s += char(63 + n % base);
    n /= base;
  }
  s += char((seven_bit ? 95 : 191) + n);
  return s;
}

struct RenderCase {
  const char* name;
  std::string plot;
  std::string options;
  int pages;
  Box frame;  // all ink of page 1 lies inside
  Box ink;    // page 1 has ink here
  Box blank = {0, 0, 0, 0};  // and none here (when not empty)
};

std::vector<RenderCase> Cases() {
  // Plotter units: 1016 an inch from the corner of the printable area,
  // which is at (18, 36) on a Letter page without a PPD.
  const Box plot_frame = {80, 98, 316, 334};
  return {
      {"lines", "IN;SP1;PW0.5;PU1016,1016;PD4064,1016,4064,4064;PR-3048,0;PU;PA1016,2540;PD;PR3048,0;PU;", "", 1,
       plot_frame, {150, 210, 250, 222}, {120, 240, 200, 300}},
      {"arcs", "IN;SP1;PW0.5;PU2540,2540;CI1000;CI500,0;PA3540,2540;PD;AA2540,2540,90,0;PU;"
               "PA1540,1540;PD;AT2040,1200,2540,1540;PU;", "", 1,
       plot_frame, {190, 280, 206, 294}, {190, 205, 206, 220}},
      {"rectangles", "IN;SP1;PW0.5;PA1016,1016;EA2032,2032;PA2540,1016;RA3556,2032;PA1016,2540;ER1016,1016;"
                     "PA2540,2540;RR1016,1016;", "", 1,
       plot_frame, {228, 138, 240, 150}, {120, 138, 132, 150}},
      {"wedges", "IN;SP1;PW0.5;PA2540,2540;WG1200,0,90;EW1200,180,120,10;", "", 1,
       plot_frame, {222, 240, 234, 252}, {162, 240, 174, 252}},
      {"polygon", "IN;SP1;PW0.3;PA1016,1016;PM0;PD3048,1016,2032,3048,1016,1016;PU1778,1524;"
                  "PD2286,1524,2032,2032,1778,1524;PM2;FP;EP;", "", 1,
       plot_frame, {156, 114, 168, 124}, {159, 150, 165, 156}},
      // A window set while the triangle is being built clips its fill: the
      // half of the window below the diagonal is ink, the rest blank.
      {"polygon-window", "IN;SP1;PA1016,1016;PM0;PD3048,1016;IW1524,1524,2540,2540;PD1016,3048,1016,1016;PM2;FP;",
       "", 1, {124, 142, 200, 218}, {130, 148, 150, 165}, {175, 193, 195, 213}},
      {"encoded",
       "IN;SP1;PW0.5;PE<=" + Pe(1016) + Pe(1016) + Pe(2032) + Pe(0) + Pe(0) + Pe(2032) + Pe(-2032) + Pe(0) + Pe(0) +
           Pe(-2032) + ";PE7<=" + Pe(3048, true) + Pe(1016, true) + Pe(500, true) + Pe(500, true) + ";",
       "", 1, plot_frame, {140, 104, 180, 112}, {140, 150, 180, 200}},
      {"pens", "IN;NP8;PC2,255,0,0;PC3,0,0,255;CR0,100,0,100,0,100;PC4,20,20,20;WU0;PW1.5;SP2;PA1016,1016;"
               "PD4064,1016;PU;SP3;PW3,3;PA1016,2032;PD4064,2032;PU;SP4;LA1,4,2,5;PA1016,3048;PD4064,3048;PU;"
               "LT2,5;SP1;PW0.3;PA1016,3556;PD4064,3556;PU;", "", 1,
       plot_frame, {150, 176, 250, 184}, {150, 120, 250, 130}},
      {"labels", "IN;SP1;PA1016,3048;SD4,24,7,48;SS;LBHello\x03;PA1016,2032;AD4,18,5,1,6,1,7,5;SA;CF1,1;"
                 "LBWorld\x03;SS;DT*;PA3556,1016;DI0,1;LBUp*;DI;PA1016,1016;CF3,2;LBEdge(s)\\*", "", 1,
       {80, 98, 330, 290}, {92, 252, 160, 268}, {200, 180, 240, 210}},
      {"scaling", "IN;IP1016,1016,3048,3048;SC0,100,0,100;SP1;PA0,0;PD100,0,100,100,0,100,0,0;PU;"
                  "IW25,25,75,75;PA0,50;PD100,50;PU;", "", 1,
       {84, 102, 240, 258}, {155, 176, 170, 184}, {96, 176, 110, 184}},
      {"rotation", "IN;RO90;IP;SP1;PW0.5;PA0,0;PD1016,0;PU;", "", 1, {580, 30, 605, 100}, {588, 40, 600, 90}},
      // Turned a quarter, the label runs up the page from the pen, along the
      // plot's x axis, with the plot's y axis (the line) to its left.
      {"label-turned", "IN;RO90;IP;SP1;PA1016,1016;SD4,24;SS;LBHello\x03;PU;PA1016,1016;PD1016,2032;PU;", "", 1,
       {470, 85, 545, 175}, {524, 100, 535, 160}, {470, 100, 515, 175}},
      // A 36 x 48 inch plot fitted to the printable area of Letter.
      {"fitplot", "IN;PS36576,48768;SP1;PA0,0;PD36576,0,36576,48768,0,48768,0,0;PU;", "fitplot", 1,
       {14, 32, 600, 760}, {100, 750, 400, 760}, {200, 300, 400, 500}},
      {"pages", "IN;SP1;PW0.5;PA1016,1016;PD2032,2032;PU;PG;PA2032,1016;PD1016,2032;PU;", "", 2,
       {80, 98, 170, 190}, {120, 140, 140, 160}},
  };
}

TEST(HpglconvRender, EachCommandGroupDrawsItsReference) {
  Renderer r;
  ASSERT_TRUE(r.ready()) << "the node command is needed (.ci/install-deps installs it)";
  const bool update = std::getenv("VORN_UPDATE_REFERENCES") != nullptr;
  for (const RenderCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    Converted conv = Convert(c.plot, c.options);
    ASSERT_EQ(conv.rc, 0) << conv.err;
    std::string log;
    ASSERT_EQ(r.Render(conv.out, c.name, kDpi, &log), c.pages) << log;

    const std::string page = r.page(c.name, 1);
    GreyImage got;
    ASSERT_TRUE(textconv_test::ReadGreyPng(page, got));
    EXPECT_GT(DarkPixels(got, kDpi, c.ink, true), 0) << "no ink where the plot draws";
    EXPECT_EQ(DarkPixels(got, kDpi, c.frame, false), 0) << "ink outside the plot's frame";
    if (c.blank.right > c.blank.left) {
      EXPECT_EQ(DarkPixels(got, kDpi, c.blank, true), 0) << "ink where the plot leaves the page blank";
    }

    const std::string reference = std::string(VORN_SOURCE_DIR) + "/tests/fixtures/hpgl/" + c.name + ".png";
    if (update) {
      std::filesystem::create_directories(std::filesystem::path(reference).parent_path());
      std::filesystem::copy_file(page, reference, std::filesystem::copy_options::overwrite_existing);
      continue;
    }
    GreyImage want;
    ASSERT_TRUE(textconv_test::ReadGreyPng(reference, want)) << reference;
    EXPECT_LT(textconv_test::DifferingShare(got, want, 64), 0.002) << "compare " << page << " with " << reference;
  }
}

}  // namespace
