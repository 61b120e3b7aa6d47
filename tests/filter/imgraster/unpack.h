// Reading raster rows back into per-channel levels, written from the row
// layout the drivers rely on (not from the formatter's code), for the
// formatter and filter tests.
#pragma once

#include <cstdint>
#include <vector>

#include "vorn/raster.h"

namespace rastertest {

// Output channels a colour space writes (light inks counted for space 9 at
// one bit).
inline unsigned Channels(const vorn_page_header_t& h) { return vornRasterPlanes(h); }

// The level of output channel `ch` of pixel x in a row. For planar pages
// `rows` holds the plane rows of one output row, plane after plane.
inline unsigned Level(const vorn_page_header_t& h, const uint8_t* row, unsigned x, unsigned ch) {
  const unsigned bits = h.vornBitsPerColor, n = Channels(h);
  uint64_t pos;
  const uint8_t* base = row;
  if (h.vornColorOrder == 0) {
    unsigned fields = h.vornBitsPerPixel / bits;  // 3-channel spaces below 8 bits: 4
    pos = uint64_t(x) * h.vornBitsPerPixel + (fields - n + ch) * bits;
  } else if (h.vornColorOrder == 1) {
    base = row + ch * (h.vornBytesPerLine / n);
    pos = uint64_t(x) * bits;
  } else {
    base = row + ch * h.vornBytesPerLine;
    pos = uint64_t(x) * bits;
  }
  unsigned shift = 8 - bits - unsigned(pos % 8);
  return (base[pos / 8] >> shift) & ((1u << bits) - 1);
}

// Level scaled to 0..255.
inline unsigned Level8(const vorn_page_header_t& h, const uint8_t* row, unsigned x, unsigned ch) {
  return Level(h, row, x, ch) * 255 / ((1u << h.vornBitsPerColor) - 1);
}

}  // namespace rastertest
