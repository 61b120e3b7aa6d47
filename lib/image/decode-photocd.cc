// Photo CD image packs: the 768 × 512 base image, stored as luma rows in
// pairs followed by one row each of the two half-width chroma planes, in
// the PhotoYCC encoding; the orientation byte turns it.
#include <algorithm>
#include <vector>

#include "decode.h"

namespace vorn::image {

namespace {
constexpr size_t kSector = 2048;
constexpr size_t kBaseOffset = 96 * kSector;  // base image
constexpr size_t kOrientation = 0x0e02;       // low two bits: quarter turns
constexpr unsigned kW = 768, kH = 512;

uint8_t clamp(double v) { return uint8_t(std::clamp(v + 0.5, 0.0, 255.0)); }
}  // namespace

bool decode_photocd(const uint8_t* data, size_t len, raw_image& img, std::string& err) {
  size_t need = kBaseOffset + size_t(kW) * kH * 3 / 2;
  if (len < need || len <= kOrientation) {
    err = "Photo CD: file ends before the base image";
    return false;
  }
  unsigned turns = data[kOrientation] & 3;
  bool swap = turns & 1;
  if (!alloc_raw(img, swap ? kH : kW, swap ? kW : kH, 3, err)) return false;
  const uint8_t* p = data + kBaseOffset;
  for (unsigned y = 0; y < kH; y += 2) {
    const uint8_t* y0 = p;
    const uint8_t* y1 = p + kW;
    const uint8_t* c1 = p + 2 * kW;
    const uint8_t* c2 = c1 + kW / 2;
    p += 3 * kW;
    for (unsigned dy = 0; dy < 2; dy++) {
      const uint8_t* luma = dy ? y1 : y0;
      for (unsigned x = 0; x < kW; x++) {
        double l = 1.3584 * luma[x];
        double cb = 2.2179 * (c1[x / 2] - 156.0), cr = 1.8215 * (c2[x / 2] - 137.0);
        uint8_t rgb[3] = {clamp(l + cr), clamp(l - 0.194 * cb - 0.509 * cr), clamp(l + cb)};
        // Where source pixel (x, y + dy) lands after the quarter turns
        // (counter-clockwise).
        unsigned sy = y + dy, ox, oy;
        switch (turns) {
          case 0: ox = x, oy = sy; break;
          case 1: ox = sy, oy = kW - 1 - x; break;
          case 2: ox = kW - 1 - x, oy = kH - 1 - sy; break;
          default: ox = kH - 1 - sy, oy = x; break;
        }
        std::copy(rgb, rgb + 3, img.pixels.begin() + (size_t(oy) * img.width + ox) * 3);
      }
    }
  }
  return true;
}

}  // namespace vorn::image
