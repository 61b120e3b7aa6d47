// Every formatter member is one table row here: which source channel goes
// to which output channel. Placement, dithering and packing are shared.
//
// Bits are stored into their fields rather than combined by exclusive-or:
// on the zero background of the ink spaces that is the same, and in the
// light spaces (white, RGB, RGBA) bright pixels then come out as ones at
// every depth, as the 8-bit path stores bright values high, while the
// margins keep the all-ones blank.
#include "format.h"

namespace vorn::raster {
namespace {

constexpr int kAlpha = -1;  // an output channel that is always full

struct member {
  int count;       // output channels
  int source[4];   // source channel of each output channel
};

// Chunky rows of three-channel spaces below 8 bits keep a fourth, unused
// field at the top of each pixel.
member member_for(unsigned cs) {
  switch (cs) {
    case 0: case 3: case 12: case 13: case 14: return {1, {0}};
    case 1: case 4: case 15: return {3, {0, 1, 2}};
    case 5: return {3, {2, 1, 0}};
    case 2: return {4, {0, 1, 2, kAlpha}};
    case 6: return {4, {0, 1, 2, 3}};
    case 7: case 10: case 11: return {4, {2, 1, 0, 3}};
    case 8: case 9: return {4, {3, 0, 1, 2}};
    default: return {0, {}};
  }
}

void store(uint8_t* row, unsigned limit_bits, uint64_t pos, unsigned bits, unsigned level) {
  if (pos + bits > limit_bits) return;
  if (bits == 8) {
    row[pos / 8] = uint8_t(level);
    return;
  }
  unsigned shift = 8 - bits - unsigned(pos % 8);
  unsigned mask = ((1u << bits) - 1) << shift;
  uint8_t& b = row[pos / 8];
  b = uint8_t((b & ~mask) | ((level << shift) & mask));
}

// The six-colour inks of one pixel at one bit, as bits 0x20 K, 0x10 C,
// 0x08 M, 0x04 Y, 0x02 light c, 0x01 light m.
unsigned six_colour_bits(unsigned c, unsigned m, unsigned y, unsigned k, unsigned t) {
  bool con = c > t, mon = m > t, yon = y > t;
  if (k > t) return 0x20;
  if (con && mon) return 0x11;
  if (con && yon) return 0x06;
  if (mon && yon) return 0x0C;
  if (con) return 0x10;
  if (mon) return 0x08;
  if (yon) return 0x04;
  return 0;
}

}  // namespace

int image_space_for(unsigned cs) {
  switch (cs) {
    case 0: return 1;
    case 1: case 2: case 15: return 3;
    case 3: case 12: case 13: case 14: return -1;
    case 4: case 5: return -3;
    case 6: case 7: case 8: case 9: case 10: case 11: return -4;
    default: return 0;
  }
}

unsigned bits_per_pixel_for(unsigned cs, unsigned bits, unsigned order) {
  member mb = member_for(cs);
  if (mb.count == 0 || (bits != 1 && bits != 2 && bits != 4 && bits != 8) || order > 2) return 0;
  if (order != 0) return bits;
  if (cs == 9 && bits == 1) return 8;
  if (mb.count == 3 && bits < 8) return 4 * bits;
  return unsigned(mb.count) * bits;  // RGBA at 8 bits: four bytes, alpha included
}

unsigned bytes_per_line_for(unsigned cs, unsigned bits, unsigned order, unsigned width) {
  unsigned bpp = bits_per_pixel_for(cs, bits, order);
  uint64_t row = (uint64_t(width) * bpp + 7) / 8;
  if (order == 1) {
    vorn_page_header_t h;
    h.vornColorSpace = cs;
    h.vornBitsPerColor = bits;
    row *= vornRasterPlanes(h);
  }
  return row > 0xFFFFFFFFu ? 0 : unsigned(row);
}

void format_row(const format_input& in, uint8_t* row) {
  const vorn_page_header_t& h = *in.header;
  const unsigned cs = h.vornColorSpace, bits = h.vornBitsPerColor, order = h.vornColorOrder;
  member mb = member_for(cs);
  unsigned bpp = bits_per_pixel_for(cs, bits, order);
  if (mb.count == 0 || bpp == 0 || h.vornWidth == 0) return;
  if ((bits == 2 || bits == 4) && !in.levels) return;
  const bool six = cs == 9 && bits == 1;
  const unsigned depth = unsigned(image_space_for(cs) < 0 ? -image_space_for(cs) : image_space_for(cs));
  const unsigned bands = order == 1 ? (six ? 6 : unsigned(mb.count)) : 1;
  const unsigned band_bytes = h.vornBytesPerLine / bands;
  const unsigned limit_bits = (order == 1 ? band_bytes : h.vornBytesPerLine) * 8;
  const unsigned fields = order == 0 && mb.count == 3 && bits < 8 ? 4 : unsigned(mb.count);

  unsigned width = in.width, start = 0;
  if (width > h.vornWidth) width = h.vornWidth;
  if (in.xposition > 0) start = h.vornWidth - width;
  else if (in.xposition == 0) start = (h.vornWidth - width) / 2;

  const unsigned full = (1u << bits) - 1;
  const bool blend = bits == 8 && in.r1 && in.r1 != in.r0 && in.divisor > 0;
  for (unsigned x = 0; x < width; x++) {
    unsigned v[4] = {0, 0, 0, 0};
    for (unsigned c = 0; c < depth; c++) {
      unsigned a = in.r0[x * depth + c];
      v[c] = blend ? (a * in.w0 + in.r1[x * depth + c] * in.w1) / in.divisor : a;
      if (v[c] > 255) v[c] = 255;
    }
    const unsigned left = in.width - x;  // pixels still to be written
    const uint64_t px = start + x;
    if (six) {
      unsigned t = Matrix16[in.y % 16][left % 16];
      unsigned c = v[0], m = v[1], ye = v[2], k = v[3];
      unsigned ink = six_colour_bits(c, m, ye, k, t);
      // Planes take the same ink choice as chunky pixels and bands, so the
      // three orders print alike (black alone where black is on).
      if (order == 2) {
        if (in.plane >= 0 && in.plane < 6 && (ink & (0x20u >> in.plane))) store(row, limit_bits, px, 1, 1);
        continue;
      }
      if (order == 0) {
        store(row, limit_bits, px * 8, 8, ink);
      } else {
        for (unsigned b = 0; b < 6; b++)
          if (ink & (0x20u >> b)) store(row + b * band_bytes, limit_bits, px, 1, 1);
      }
      continue;
    }
    for (int k = 0; k < mb.count; k++) {
      if (order == 2 && k != in.plane) continue;
      unsigned level;
      if (mb.source[k] == kAlpha) {
        level = full;
      } else {
        unsigned s = v[mb.source[k]];
        switch (bits) {
          case 1: level = s > Matrix16[in.y % 16][left % 16] ? 1 : 0; break;
          case 2: level = ((s % 64 > Matrix8[in.y % 8][left % 8]) ? in.levels->on[s] : in.levels->off[s]) & 3; break;
          case 4: level = ((s % 16 > Matrix4[in.y % 4][left % 4]) ? in.levels->on[s] : in.levels->off[s]) & 15; break;
          default: level = s;
        }
      }
      if (order == 0)
        store(row, limit_bits, px * bpp + (fields - unsigned(mb.count) + unsigned(k)) * bits, bits, level);
      else if (order == 1)
        store(row + unsigned(k) * band_bytes, limit_bits, px * bits, bits, level);
      else
        store(row, limit_bits, px * bits, bits, level);
    }
  }
}

}  // namespace vorn::raster
