// Scaling a source rectangle of an image to output rows, optionally
// mirrored and turned a quarter.
#include <cstring>

#include "vorn/image.h"

namespace {

constexpr int kMaxOutput = 1 << 20;  // pixels a row or rows a page

// The pixel at (row r, column s) of the source as the output sees it.
const uint8_t* source_pixel(const image_zoom_t* z, int r, int s) {
  int x, y;
  if (z->mirror) s = z->cols - 1 - s;
  if (z->half_turn) {
    r = z->rows - 1 - r;
    s = z->cols - 1 - s;
  }
  if (z->rotated) {
    x = z->xorig + z->width - 1 - r;
    y = z->yorig + s;
  } else {
    x = z->xorig + s;
    y = z->yorig + r;
  }
  return z->img->pixels.data() + (size_t(y) * z->img->xsize + unsigned(x)) * unsigned(z->depth);
}

void fill_row(image_zoom_t* z, int r, uint8_t* out, bool interpolate) {
  const int d = z->depth;
  for (int ox = 0; ox < z->xsize; ox++) {
    // Position of the output pixel's left edge in source pixels, 8 bits of
    // fraction.
    uint64_t pos = (uint64_t(ox) * unsigned(z->cols) << 8) / unsigned(z->xsize);
    int s = int(pos >> 8);
    const uint8_t* a = source_pixel(z, r, s);
    if (!interpolate || s + 1 >= z->cols || z->xsize <= z->cols) {
      std::memcpy(out + size_t(ox) * unsigned(d), a, size_t(d));
      continue;
    }
    unsigned f = unsigned(pos & 255);
    const uint8_t* b = source_pixel(z, r, s + 1);
    for (int c = 0; c < d; c++) out[size_t(ox) * unsigned(d) + unsigned(c)] = uint8_t((a[c] * (256 - f) + b[c] * f) >> 8);
  }
}

void fill(image_zoom_t* z, int iy, bool interpolate) {
  if (iy < 0) iy = 0;
  if (iy >= z->rows) iy = z->rows - 1;
  int next = iy + 1 < z->rows ? iy + 1 : iy;
  if (z->row_at[0] == iy && z->row_at[1] == next) return;
  if (z->row_at[1] == iy) {  // moved on by one row: reuse the held one
    std::swap(z->rowbuf[0], z->rowbuf[1]);
    z->row_at[0] = iy;
  } else {
    fill_row(z, iy, z->rowbuf[0].data(), interpolate);
    z->row_at[0] = iy;
  }
  fill_row(z, next, z->rowbuf[1].data(), interpolate);
  z->row_at[1] = next;
}

}  // namespace

image_zoom_t* ImageZoomAlloc(const image_t* img, int x0, int y0, int x1, int y1, int xsize, int ysize, int rotated) {
  if (!img || rotated < 0 || rotated > 3 || x0 < 0 || y0 < 0 || x1 < x0 || y1 < y0 || unsigned(x1) >= img->xsize || unsigned(y1) >= img->ysize)
    return nullptr;
  bool mirror = xsize < 0;
  if (mirror) {
    if (xsize == -2147483647 - 1) return nullptr;
    xsize = -xsize;
  }
  if (xsize <= 0 || ysize <= 0 || xsize > kMaxOutput || ysize > kMaxOutput) return nullptr;
  auto* z = new image_zoom_t;
  z->img = img;
  z->xorig = x0;
  z->yorig = y0;
  z->width = x1 - x0 + 1;
  z->height = y1 - y0 + 1;
  z->depth = ImageDepth(img->colorspace);
  z->rotated = (rotated & 1) != 0;
  z->half_turn = (rotated & 2) != 0;
  z->mirror = mirror;
  z->xsize = xsize;
  z->ysize = ysize;
  z->rows = z->rotated ? z->width : z->height;
  z->cols = z->rotated ? z->height : z->width;
  z->ystep = z->rows / ysize;
  z->ymod = z->rows % ysize;
  for (auto& b : z->rowbuf) b.assign(size_t(xsize) * unsigned(z->depth), 0);
  return z;
}

void ImageZoomFill(image_zoom_t* z, int iy) {
  if (z) fill(z, iy, true);
}

void ImageZoomQFill(image_zoom_t* z, int iy) {
  if (z) fill(z, iy, false);
}

void ImageZoomFree(image_zoom_t* z) { delete z; }
