// Ordered dither matrices and the level tables of the 2 and 4-bit depths.
#pragma once

#include <cstdint>

namespace vorn::raster {

// Recursive Bayer index matrices: 16 × 16 (0 to 255, but the entry 255 is
// 254 so that a full 255 sample always passes), 8 × 8 and 4 × 4.
extern const uint8_t Matrix16[16][16];
extern const uint8_t Matrix8[8][8];
extern const uint8_t Matrix4[4][4];

// LevelOnBits[v] and LevelOffBits[v]: the level just above and just below
// sample v at 2 or 4 bits, repeated in every field of a byte (85 is the
// 2-bit level 1 in all four fields). Both map 0 to 0 and 255 to 255.
struct level_tables {
  uint8_t on[256] = {};
  uint8_t off[256] = {};
};
level_tables make_level_tables(unsigned bits_per_color);

}  // namespace vorn::raster
