// Row formatting: one raster row from one or two scaled source rows, placed,
// blended or dithered, and packed for the page header's colour space and
// order.
#pragma once

#include <cstdint>

#include "dither.h"
#include "vorn/raster.h"

namespace vorn::raster {

struct format_input {
  const vorn_page_header_t* header = nullptr;
  const level_tables* levels = nullptr;  // for 2 and 4 bits
  int xposition = 0;     // -1 left, 0 centre, 1 right
  int plane = 0;         // planar order: the channel this row carries
  unsigned y = 0;        // output row number (dither row)
  unsigned width = 0;    // scaled row width in pixels
  const uint8_t* r0 = nullptr;  // source rows, image depth samples a pixel
  const uint8_t* r1 = nullptr;
  unsigned w0 = 1, w1 = 0;  // weights of r0 and r1 at 8 bits ...
  unsigned divisor = 1;     // ... and what their sum is divided by
};

// Image colour space (-4, -3, -1, 1, 3) a raster colour space reads its
// source pixels in; 0 for an unsupported space.
int image_space_for(unsigned raster_colorspace);

// Bits a pixel occupies in the row for the header's space, depth and order;
// 0 for an unsupported combination.
unsigned bits_per_pixel_for(unsigned colorspace, unsigned bits, unsigned order);

// Bytes a row needs: one band per channel in banded order.
unsigned bytes_per_line_for(unsigned colorspace, unsigned bits, unsigned order, unsigned width);

// What a row holds where nothing is printed: all ones for light (additive)
// image spaces, zeros for ink.
inline uint8_t blank_value(int image_space) { return image_space > 0 ? 0xFF : 0x00; }

// Fills the row (vornBytesPerLine bytes, already set to the blank value).
// Never writes past vornBytesPerLine, whatever the header says.
void format_row(const format_input& in, uint8_t* row);

}  // namespace vorn::raster
