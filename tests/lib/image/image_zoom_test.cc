// Scaling: nearest and interpolated rows, mirroring, the quarter turn, the
// row step of the scaler, and refused rectangles and sizes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vorn/image.h"

namespace {

// A grey picture whose pixel (x, y) is 10 × y + x.
image_t* Ramp(unsigned w, unsigned h) {
  auto* img = new image_t;
  img->colorspace = IMAGE_WHITE;
  img->xsize = w;
  img->ysize = h;
  for (unsigned y = 0; y < h; y++)
    for (unsigned x = 0; x < w; x++) img->pixels.push_back(uint8_t(10 * y + x));
  return img;
}

std::vector<uint8_t> Row(const image_zoom_t* z, int which) { return z->rowbuf[which]; }

TEST(ImageZoom, RowsOfEveryMode) {
  image_t* img = Ramp(4, 3);
  struct Case {
    const char* name;
    int x0, y0, x1, y1, xsize, ysize, rotated, iy;
    bool quick;
    std::vector<uint8_t> row0, row1;
  } cases[] = {
      {"same size", 0, 0, 3, 2, 4, 3, 0, 1, true, {10, 11, 12, 13}, {20, 21, 22, 23}},
      {"doubled, nearest", 0, 0, 3, 2, 8, 6, 0, 0, true, {0, 0, 1, 1, 2, 2, 3, 3}, {10, 10, 11, 11, 12, 12, 13, 13}},
      {"doubled, interpolated", 0, 0, 3, 2, 8, 6, 0, 0, false, {0, 0, 1, 1, 2, 2, 3, 3}, {10, 10, 11, 11, 12, 12, 13, 13}},
      {"halved", 0, 0, 3, 2, 2, 1, 0, 0, true, {0, 2}, {10, 12}},
      {"mirrored", 0, 0, 3, 2, -4, 3, 0, 0, true, {3, 2, 1, 0}, {13, 12, 11, 10}},
      {"sub-rectangle", 1, 1, 2, 2, 2, 2, 0, 0, true, {11, 12}, {21, 22}},
      // Turned: rows run along columns from the right, top to bottom.
      {"rotated", 0, 0, 3, 2, 3, 4, 1, 0, true, {3, 13, 23}, {2, 12, 22}},
      {"half turn", 0, 0, 3, 2, 4, 3, 2, 0, true, {23, 22, 21, 20}, {13, 12, 11, 10}},
      {"three quarter turns", 0, 0, 3, 2, 3, 4, 3, 0, true, {20, 10, 0}, {21, 11, 1}},
      {"last row repeats", 0, 0, 3, 2, 4, 3, 0, 2, true, {20, 21, 22, 23}, {20, 21, 22, 23}},
  };
  for (const Case& c : cases) {
    image_zoom_t* z = ImageZoomAlloc(img, c.x0, c.y0, c.x1, c.y1, c.xsize, c.ysize, c.rotated);
    ASSERT_NE(z, nullptr) << c.name;
    if (c.quick)
      ImageZoomQFill(z, c.iy);
    else
      ImageZoomFill(z, c.iy);
    EXPECT_EQ(Row(z, 0), c.row0) << c.name;
    EXPECT_EQ(Row(z, 1), c.row1) << c.name;
    ImageZoomFree(z);
  }
  // Interpolation: three pixels 0, 100, 200 widened to five blend
  // neighbours.
  image_t line;
  line.colorspace = IMAGE_WHITE;
  line.xsize = 3;
  line.ysize = 1;
  line.pixels = {0, 100, 200};
  image_zoom_t* z = ImageZoomAlloc(&line, 0, 0, 2, 0, 5, 1, 0);
  ImageZoomFill(z, 0);
  EXPECT_EQ(Row(z, 0), (std::vector<uint8_t>{0, 59, 119, 179, 200}));
  ImageZoomFree(z);
  ImageClose(img);
}

TEST(ImageZoom, StepsFollowSourceRows) {
  image_t* img = Ramp(5, 7);
  image_zoom_t* z = ImageZoomAlloc(img, 0, 0, 4, 6, 5, 3, 0);
  ASSERT_NE(z, nullptr);
  EXPECT_EQ(z->rows, 7);
  EXPECT_EQ(z->ystep, 2);
  EXPECT_EQ(z->ymod, 1);
  // Moving on one row reuses the held row.
  ImageZoomQFill(z, 3);
  ImageZoomQFill(z, 4);
  EXPECT_EQ(z->row_at[0], 4);
  EXPECT_EQ(Row(z, 0)[0], 40);
  EXPECT_EQ(Row(z, 1)[0], 50);
  ImageZoomQFill(z, 99);  // clamped to the last row
  EXPECT_EQ(Row(z, 0)[0], 60);
  ImageZoomFree(z);

  z = ImageZoomAlloc(img, 0, 0, 4, 6, 5, 3, 1);
  EXPECT_EQ(z->rows, 5) << "turned: a row per source column";
  EXPECT_EQ(z->cols, 7);
  ImageZoomFree(z);
  ImageClose(img);
}

TEST(ImageZoom, BadRectanglesAndSizesAreRefused) {
  image_t* img = Ramp(4, 3);
  struct Case {
    int x0, y0, x1, y1, xsize, ysize;
  } cases[] = {
      {0, 0, 4, 2, 4, 3},  {0, 0, 3, 3, 4, 3},  {-1, 0, 3, 2, 4, 3}, {2, 0, 1, 2, 4, 3}, {0, 0, 3, 2, 0, 3},
      {0, 0, 3, 2, 4, 0},  {0, 0, 3, 2, 4, -3}, {0, 0, 3, 2, 1 << 21, 3}, {0, 0, 3, 2, -2147483647 - 1, 3},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ImageZoomAlloc(img, c.x0, c.y0, c.x1, c.y1, c.xsize, c.ysize, 0), nullptr)
        << c.x0 << "," << c.y0 << "-" << c.x1 << "," << c.y1 << " to " << c.xsize << "x" << c.ysize;
  EXPECT_EQ(ImageZoomAlloc(nullptr, 0, 0, 0, 0, 1, 1, 0), nullptr);
  EXPECT_EQ(ImageZoomAlloc(img, 0, 0, 3, 2, 4, 3, 4), nullptr) << "four quarter turns";
  ImageClose(img);
}

}  // namespace
