// Colour conversion into each image colour space, saturation, the ink
// profile and the lookup table; the Photo CD base image and its turns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vorn/image.h"

namespace {

image_t* Open(const std::string& file, int space, int saturation = 100, int hue = 0, const uint8_t* lut = nullptr) {
  return ImageOpenMemory(reinterpret_cast<const uint8_t*>(file.data()), file.size(), space, space, saturation, hue,
                         lut);
}

TEST(ImageColour, EverySpaceFromRgbAndGrey) {
  // One pixel each: orange (255, 128, 0), and grey 64.
  const std::string rgb = std::string("P6 1 1 255\n") + char(255) + char(128) + char(0);
  const std::string grey = std::string("P5 1 1 255\n") + char(64);
  struct Case {
    const std::string* file;
    int space;
    std::vector<uint8_t> want;
  } cases[] = {
      {&rgb, IMAGE_RGB, {255, 128, 0}},
      {&rgb, IMAGE_WHITE, {(255 * 31 + 128 * 61) / 100}},
      {&rgb, IMAGE_BLACK, {255 - (255 * 31 + 128 * 61) / 100}},
      {&rgb, IMAGE_CMY, {0, 127, 255}},
      // Black takes what the three inks share; here nothing.
      {&rgb, IMAGE_CMYK, {0, 127, 255, 0}},
      {&grey, IMAGE_CMYK, {0, 0, 0, 191}},
      {&grey, IMAGE_CMY, {191, 191, 191}},
      {&grey, IMAGE_RGB, {64, 64, 64}},
      {&grey, IMAGE_BLACK, {191}},
  };
  for (const Case& c : cases) {
    image_t* img = Open(*c.file, c.space);
    ASSERT_NE(img, nullptr) << ImageLastError();
    EXPECT_EQ(img->colorspace, c.space);
    EXPECT_EQ(img->pixels, c.want) << "space " << c.space;
    ImageClose(img);
  }
  image_t* bad = Open(rgb, 2);
  EXPECT_EQ(bad, nullptr) << "2 is no image colour space";
}

TEST(ImageColour, SaturationProfileAndLookupTable) {
  const std::string rgb = std::string("P6 1 1 255\n") + char(200) + char(40) + char(40);
  image_t* flat = Open(rgb, IMAGE_RGB, 0);
  ASSERT_NE(flat, nullptr);
  EXPECT_NEAR(flat->pixels[0], flat->pixels[1], 1) << "saturation 0 leaves grey";
  EXPECT_NEAR(flat->pixels[1], flat->pixels[2], 1);
  ImageClose(flat);
  image_t* turned = Open(rgb, IMAGE_RGB, 100, 120);
  ASSERT_NE(turned, nullptr);
  EXPECT_GT(turned->pixels[1], turned->pixels[0]) << "a third of a turn makes red green";
  ImageClose(turned);

  uint8_t invert[256];
  for (int i = 0; i < 256; i++) invert[i] = uint8_t(255 - i);
  image_t* looked = Open(rgb, IMAGE_RGB, 100, 0, invert);
  ASSERT_NE(looked, nullptr);
  EXPECT_EQ(looked->pixels, (std::vector<uint8_t>{55, 215, 215}));
  ImageClose(looked);

  // A profile swapping cyan and magenta at density 0.5, for an ink space
  // only.
  const float swap[3][3] = {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}};
  ImageSetProfile(0.5f, 1.0f, swap);
  ImageSetColorSpace(6);
  image_t* ink = Open(rgb, IMAGE_CMY);
  ASSERT_NE(ink, nullptr);
  EXPECT_EQ(ink->pixels, (std::vector<uint8_t>{108, 28, 108}));
  ImageClose(ink);
  ImageSetColorSpace(1);
  image_t* light = Open(rgb, IMAGE_CMY);
  ASSERT_NE(light, nullptr);
  EXPECT_EQ(light->pixels, (std::vector<uint8_t>{55, 215, 215})) << "no ink profile for an RGB device";
  ImageClose(light);
  ImageClearProfile();
  ImageSetColorSpace(-1);
}

// A Photo CD file: "PCD_IPI" at 2048, the orientation byte, and the base
// image at sector 96 in luma row pairs and half-width chroma rows.
std::string PhotoCd(int turns, uint8_t luma, uint8_t mark_luma) {
  const size_t base = 96 * 2048, w = 768, h = 512;
  std::string f(base + w * h * 3 / 2, '\0');
  f.replace(2048, 7, "PCD_IPI");
  f[0x0e02] = char(turns);
  for (size_t y = 0; y < h; y += 2) {
    size_t at = base + (y / 2) * w * 3;
    for (size_t x = 0; x < w; x++) {
      f[at + x] = char(y == 0 && x == 0 ? mark_luma : luma);  // marks pixel (0, 0)
      f[at + w + x] = char(luma);
    }
    for (size_t x = 0; x < w / 2; x++) {
      f[at + 2 * w + x] = char(156);  // neutral chroma
      f[at + 2 * w + w / 2 + x] = char(137);
    }
  }
  return f;
}

TEST(ImageColour, PhotoCdBaseImageAndItsTurns) {
  struct Case {
    int turns;
    unsigned w, h, mark_x, mark_y;
  } cases[] = {
      {0, 768, 512, 0, 0},
      {1, 512, 768, 0, 767},
      {2, 768, 512, 767, 511},
      {3, 512, 768, 511, 0},
  };
  for (const Case& c : cases) {
    image_t* img = Open(PhotoCd(c.turns, 100, 180), IMAGE_RGB);
    ASSERT_NE(img, nullptr) << ImageLastError();
    ASSERT_EQ(img->xsize, c.w);
    ASSERT_EQ(img->ysize, c.h);
    // Luma 100 with neutral chroma is grey 1.3584 × 100; the mark 244.
    size_t mark = (size_t(c.mark_y) * c.w + c.mark_x) * 3;
    EXPECT_EQ(img->pixels[mark], 245) << "turns " << c.turns;
    EXPECT_EQ(img->pixels[mark + 1], 245);
    EXPECT_EQ(img->pixels[(size_t(c.h / 2) * c.w + c.w / 2) * 3], 136);
    ImageClose(img);
  }
}

}  // namespace
