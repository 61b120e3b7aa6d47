// imgraster's option reading and its gamma/brightness level table.
#include <gtest/gtest.h>

#include <string>

#include "filter/imgraster/job-options.h"

namespace {

using namespace vorn::raster;

TEST(ImageOptions, ValuesAndRanges) {
  struct Case {
    std::string options;
    bool ok;
    double zoom = 0, gamma = 1, brightness = 1;
    int xppi = 0, yppi = 0, x = 0, y = 0;
  } cases[] = {
      {"", true},
      {"scaling=150 gamma=2200 brightness=80", true, 1.5, 2.2, 0.8},
      {"ppi=300", true, 0, 1, 1, 300, 300},
      {"ppi=300x150 position=bottom-right", true, 0, 1, 1, 300, 150, 1, -1},
      {"position=top-left", true, 0, 1, 1, 0, 0, -1, 1},
      {"position=nowhere", true},
      {"scaling=0", false},
      {"scaling=12abc", false},
      {"ppi=x300", false},
      {"ppi=300x", false},
      {"gamma=-1", false},
      {"brightness=0", false},
      {"saturation=-1", false},
      {"hue=99999", false},
      {"natural-scaling=0", false},
      {"profile=1000,1000,1,0,0,0,1,0,0,0,1", true},
      {"profile=1000,1000,1,0,0,0,1,0,0,0", false},
      {"profile=1000,1000,1,0,0,0,1,0,0,0,1,5", false},
      {"profile=1000,,1,0,0,0,1,0,0,0,1", false},
  };
  for (const Case& c : cases) {
    vorn_options_t options;
    vornParseOptions(c.options, options);
    image_options o;
    std::string err;
    ASSERT_EQ(read_image_options(options, o, err), c.ok) << c.options << ": " << err;
    if (!c.ok) {
      EXPECT_FALSE(err.empty());
      continue;
    }
    EXPECT_DOUBLE_EQ(o.layout.zoom, c.zoom) << c.options;
    EXPECT_DOUBLE_EQ(o.gamma, c.gamma) << c.options;
    EXPECT_DOUBLE_EQ(o.brightness, c.brightness) << c.options;
    EXPECT_EQ(o.layout.xppi, c.xppi) << c.options;
    EXPECT_EQ(o.layout.yppi, c.yppi) << c.options;
    EXPECT_EQ(o.layout.xposition, c.x) << c.options;
    EXPECT_EQ(o.layout.yposition, c.y) << c.options;
  }
  vorn_options_t options;
  vornParseOptions("profile=900,1100,1000,-10,0,0,1000,0,0,0,1000 mirror=True Collate=True", options);
  image_options o;
  std::string err;
  ASSERT_TRUE(read_image_options(options, o, err)) << err;
  EXPECT_TRUE(o.has_profile);
  EXPECT_FLOAT_EQ(o.density, 0.9f);
  EXPECT_FLOAT_EQ(o.profile_gamma, 1.1f);
  EXPECT_FLOAT_EQ(o.matrix[0][1], -0.01f);
  EXPECT_TRUE(o.mirror);
  EXPECT_TRUE(o.collate);
}

TEST(ImageOptions, LevelTableOfGammaAndBrightness) {
  struct Case {
    int space;
    double gamma, brightness;
    int in, out;
  } cases[] = {
      {1, 1, 1, 0, 0},       {1, 1, 1, 128, 128},  {1, 1, 1, 255, 255}, {-1, 1, 1, 77, 77},
      // Gamma 2 lifts light mid-tones: 255 × √0.5.
      {1, 2, 1, 128, 181},   {3, 2, 1, 0, 0},      {3, 2, 1, 255, 255},
      // In ink, gamma 2 thins mid-tones: 255 × (1 − √0.5).
      {-1, 2, 1, 128, 75},
      // Brightness 2 halves ink and lifts light toward white.
      {-4, 1, 2, 255, 128},  {1, 1, 2, 0, 128},    {3, 1, 0.5, 255, 255}, {3, 1, 0.5, 200, 145},
  };
  for (const Case& c : cases) {
    uint8_t t[256];
    build_level_table(c.space, c.gamma, c.brightness, t);
    EXPECT_EQ(t[c.in], c.out) << "space " << c.space << " gamma " << c.gamma << " brightness " << c.brightness
                              << " at " << c.in;
  }
}

}  // namespace
