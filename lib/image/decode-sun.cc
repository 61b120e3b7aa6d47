// Sun raster files: 1, 8, 24 and 32 bits a pixel, with or without a colour
// map, plain or run-length encoded.
#include <vector>

#include "decode.h"
#include "vorn/image.h"

namespace vorn::image {
namespace {

enum { kOld = 0, kStandard = 1, kByteEncoded = 2, kRGB = 3 };

// Expands the run-length body (0x80 escapes) up to `want` bytes.
bool unrle(const uint8_t* d, size_t len, size_t want, std::vector<uint8_t>& out) {
  out.clear();
  out.reserve(want);
  size_t p = 0;
  while (out.size() < want && p < len) {
    uint8_t b = d[p++];
    if (b != 0x80) {
      out.push_back(b);
      continue;
    }
    if (p >= len) return false;
    unsigned n = d[p++];
    if (n == 0) {
      out.push_back(0x80);
      continue;
    }
    if (p >= len) return false;
    uint8_t v = d[p++];
    for (unsigned i = 0; i <= n && out.size() < want; i++) out.push_back(v);
  }
  return out.size() == want;
}

}  // namespace

bool decode_sun(const uint8_t* data, size_t len, raw_image& img, std::string& err) {
  if (len < 32) {
    err = "Sun raster: header too short";
    return false;
  }
  uint32_t w = be32(data + 4), h = be32(data + 8), depth = be32(data + 12);
  uint32_t type = be32(data + 20), maptype = be32(data + 24), maplen = be32(data + 28);
  if ((depth != 1 && depth != 8 && depth != 24 && depth != 32) || type > kRGB || maptype > 1) {
    err = "Sun raster: unsupported depth, type or colour map";
    return false;
  }
  if (maplen > len - 32 || (maptype == 1 && (maplen % 3 != 0 || maplen == 0))) {
    err = "Sun raster: bad colour map";
    return false;
  }
  const uint8_t* map = data + 32;
  unsigned entries = maptype == 1 ? maplen / 3 : 0;
  bool grey_map = true;
  for (unsigned i = 0; i < entries; i++)
    if (map[i] != map[entries + i] || map[i] != map[2 * entries + i]) grey_map = false;
  int ch = (depth <= 8 && (entries == 0 || grey_map)) ? 1 : 3;
  if (!alloc_raw(img, w, h, ch, err)) return false;
  // Rows are padded to an even byte count.
  uint64_t row_bytes = ((uint64_t(w) * depth + 15) / 16) * 2;
  uint64_t body = row_bytes * h;
  const uint8_t* pix = data + 32 + maplen;
  size_t avail = len - 32 - maplen;
  std::vector<uint8_t> expanded;
  if (type == kByteEncoded) {
    if (body > ImageMaxBytes() || !unrle(pix, avail, size_t(body), expanded)) {
      err = "Sun raster: damaged run-length data";
      return false;
    }
    pix = expanded.data();
  } else if (avail < body) {
    err = "Sun raster: file ends early";
    return false;
  }
  uint8_t* o = img.pixels.data();
  for (uint32_t y = 0; y < h; y++) {
    const uint8_t* r = pix + y * row_bytes;
    for (uint32_t x = 0; x < w; x++) {
      unsigned rr, gg, bb;
      if (depth == 1) {
        unsigned index = (r[x / 8] >> (7 - x % 8)) & 1;
        if (entries) {
          index = std::min(index, entries - 1);
          rr = map[index], gg = map[entries + index], bb = map[2 * entries + index];
        } else {
          rr = gg = bb = index ? 0 : 255;  // set bits are black
        }
      } else if (depth == 8) {
        unsigned index = r[x];
        if (entries) {
          index = std::min(index, entries - 1);
          rr = map[index], gg = map[entries + index], bb = map[2 * entries + index];
        } else {
          rr = gg = bb = index;
        }
      } else {
        const uint8_t* p = r + x * (depth / 8) + (depth == 32 ? 1 : 0);  // 32: pad byte first
        if (type == kRGB) {
          rr = p[0], gg = p[1], bb = p[2];
        } else {
          bb = p[0], gg = p[1], rr = p[2];
        }
      }
      if (ch == 1) {
        *o++ = uint8_t(rr);
      } else {
        *o++ = uint8_t(rr), *o++ = uint8_t(gg), *o++ = uint8_t(bb);
      }
    }
  }
  return true;
}

}  // namespace vorn::image
