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

namespace rastertest {

// The source channel (of the image space's samples) behind output channel
// k of a colour space; -1 for the always-full alpha of RGBA.
inline int SourceChannel(unsigned cs, unsigned k) {
  static const int kcmy[4] = {3, 0, 1, 2}, ymck[4] = {2, 1, 0, 3};
  switch (cs) {
    case 0: case 3: case 12: case 13: case 14: return 0;
    case 1: case 4: case 6: case 15: return int(k);
    case 2: return k == 3 ? -1 : int(k);
    case 5: return 2 - int(k);
    case 7: case 10: case 11: return ymck[k];
    default: return kcmy[k];  // 8, and 9 above one bit
  }
}

// How far the mean of a dithered flat area may lie from its source value.
// One bit: one dot of 256. Two and four bits: the level tables step by 85
// (17) while the matrices decide on the sample mod 64 (16), which lifts
// tones by up to three quarters of a level at 2 bits (191 comes out near
// 254) and 15 at 4 bits (239 near 254).
inline double DitherTolerance(unsigned bits) { return bits == 1 ? 1.5 : bits == 2 ? 64 : bits == 4 ? 16 : 0; }

}  // namespace rastertest
