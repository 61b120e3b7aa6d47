// Windows icon files: the largest image of the directory, stored either as
// a PNG or as a device-independent bitmap (1, 4, 8, 24 or 32 bits, bottom
// row first) followed by a one-bit transparency mask.
#include <vector>

#include "decode.h"

namespace vorn::image {
namespace {

unsigned le16(const uint8_t* p) { return unsigned(p[0]) | unsigned(p[1]) << 8; }
uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

bool decode_dib(const uint8_t* d, size_t len, raw_image& img, std::string& err) {
  if (len < 40 || le32(d) < 40 || le32(d) > len) {
    err = "ICO: bitmap header too short";
    return false;
  }
  int32_t w = int32_t(le32(d + 4)), h2 = int32_t(le32(d + 8));
  unsigned bpp = le16(d + 14), compression = le32(d + 16), used = le32(d + 32);
  if (w <= 0 || h2 <= 0 || w > 65536 || h2 > 131072 || (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) ||
      compression != 0) {
    err = "ICO: unsupported bitmap (size, depth or compression)";
    return false;
  }
  unsigned width = unsigned(w), height = unsigned(h2) / 2;  // the height counts the mask too
  unsigned colours = bpp <= 8 ? (used ? used : 1u << bpp) : 0;
  if (colours > 256) {
    err = "ICO: palette too large";
    return false;
  }
  size_t at = le32(d);
  const uint8_t* palette = d + at;
  at += size_t(colours) * 4;
  size_t row = ((size_t(width) * bpp + 31) / 32) * 4, mask_row = ((size_t(width) + 31) / 32) * 4;
  if (at > len || (len - at) / (row + mask_row) < height) {
    err = "ICO: bitmap data ends early";
    return false;
  }
  if (!alloc_raw(img, width, height, 3, err)) return false;
  const uint8_t* pixels = d + at;
  const uint8_t* mask = pixels + row * height;
  bool has_alpha = false;
  if (bpp == 32)
    for (unsigned y = 0; y < height && !has_alpha; y++)
      for (unsigned x = 0; x < width && !has_alpha; x++) has_alpha = pixels[y * row + x * 4 + 3] != 0;
  for (unsigned y = 0; y < height; y++) {
    const uint8_t* r = pixels + size_t(height - 1 - y) * row;
    const uint8_t* m = mask + size_t(height - 1 - y) * mask_row;
    uint8_t* o = img.pixels.data() + size_t(y) * width * 3;
    for (unsigned x = 0; x < width; x++, o += 3) {
      unsigned b, g, rr, a = 255;
      if (bpp <= 8) {
        unsigned index = (r[(x * bpp) / 8] >> (8 - bpp - (x * bpp) % 8)) & ((1u << bpp) - 1);
        if (index >= colours) index = 0;  // out of the palette: damaged file
        b = palette[index * 4], g = palette[index * 4 + 1], rr = palette[index * 4 + 2];
      } else {
        const uint8_t* p = r + x * (bpp / 8);
        b = p[0], g = p[1], rr = p[2];
        if (has_alpha) a = p[3];
      }
      if (!has_alpha && (m[x / 8] & (0x80 >> (x % 8)))) a = 0;
      o[0] = over_white(rr, a), o[1] = over_white(g, a), o[2] = over_white(b, a);
    }
  }
  return true;
}

}  // namespace

bool decode_ico(const uint8_t* d, size_t len, raw_image& img, std::string& err) {
  if (len < 6 || le16(d) != 0 || le16(d + 2) != 1 || le16(d + 4) == 0) {
    err = "ICO: not an icon file";
    return false;
  }
  unsigned count = le16(d + 4);
  if (6 + size_t(count) * 16 > len) {
    err = "ICO: directory ends early";
    return false;
  }
  // The largest picture, the deepest among equals.
  size_t best = 0;
  uint64_t best_area = 0;
  unsigned best_bpp = 0;
  for (unsigned i = 0; i < count; i++) {
    const uint8_t* e = d + 6 + i * 16;
    unsigned w = e[0] ? e[0] : 256, h = e[1] ? e[1] : 256, bpp = le16(e + 6);
    uint64_t area = uint64_t(w) * h;
    if (area > best_area || (area == best_area && bpp > best_bpp)) best = i, best_area = area, best_bpp = bpp;
  }
  const uint8_t* e = d + 6 + best * 16;
  uint32_t size = le32(e + 8), offset = le32(e + 12);
  if (offset > len || size > len - offset || size < 8) {
    err = "ICO: image outside the file";
    return false;
  }
  if (d[offset] == 0x89 && d[offset + 1] == 'P') return decode_png(d + offset, size, img, err);
  return decode_dib(d + offset, size, img, err);
}

}  // namespace vorn::image
