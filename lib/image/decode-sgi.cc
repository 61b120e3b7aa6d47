// SGI image files: verbatim or run-length planes of 8 or 16-bit samples,
// stored bottom row first.
#include <vector>

#include "decode.h"

namespace vorn::image {
namespace {

// Decodes one run-length row of `width` samples starting at `at`.
bool rle_row(const uint8_t* d, size_t len, size_t at, unsigned bpc, unsigned width, std::vector<unsigned>& out) {
  unsigned x = 0;
  auto sample = [&](size_t& p, unsigned& v) {
    if (p + bpc > len) return false;
    v = bpc == 2 ? be16(d + p) : d[p];
    p += bpc;
    return true;
  };
  size_t p = at;
  for (;;) {
    unsigned code;
    if (!sample(p, code)) return false;
    unsigned count = code & 0x7f;
    if (count == 0) break;
    if (count > width - x) return false;
    if (code & 0x80) {
      for (unsigned i = 0; i < count; i++)
        if (!sample(p, out[x++])) return false;
    } else {
      unsigned v;
      if (!sample(p, v)) return false;
      for (unsigned i = 0; i < count; i++) out[x++] = v;
    }
  }
  return x == width;
}

}  // namespace

bool decode_sgi(const uint8_t* data, size_t len, raw_image& img, std::string& err) {
  if (len < 512) {
    err = "SGI: header too short";
    return false;
  }
  unsigned storage = data[2], bpc = data[3];
  unsigned w = be16(data + 6), h = be16(data + 8), z = be16(data + 10);
  unsigned dimension = be16(data + 4);
  if (storage > 1 || (bpc != 1 && bpc != 2) || dimension < 1 || dimension > 3) {
    err = "SGI: unsupported storage, sample size or dimension";
    return false;
  }
  if (dimension < 2) h = 1;
  if (dimension < 3) z = 1;
  if (z == 0 || z > 4) {
    err = "SGI: 1 to 4 channels are supported";
    return false;
  }
  unsigned colours = z >= 3 ? 3 : 1;
  bool alpha = z == 2 || z == 4;
  if (!alloc_raw(img, w, h, int(colours), err)) return false;
  // Samples of every channel, top row first.
  std::vector<std::vector<unsigned>> planes(z, std::vector<unsigned>(size_t(w) * h));
  std::vector<unsigned> row(w);
  for (unsigned c = 0; c < z; c++) {
    for (unsigned y = 0; y < h; y++) {
      size_t dst = size_t(h - 1 - y) * w;
      if (storage == 0) {
        size_t at = 512 + (size_t(c) * h + y) * w * bpc;
        if (at > len || len - at < size_t(w) * bpc) {
          err = "SGI: file ends early";
          return false;
        }
        for (unsigned x = 0; x < w; x++) planes[c][dst + x] = bpc == 2 ? be16(data + at + 2 * x) : data[at + x];
      } else {
        size_t entry = size_t(c) * h + y;
        if (512 + (entry + 1) * 4 > len) {
          err = "SGI: offset table ends early";
          return false;
        }
        uint32_t at = be32(data + 512 + entry * 4);
        if (!rle_row(data, len, at, bpc, w, row)) {
          err = "SGI: damaged run-length row";
          return false;
        }
        for (unsigned x = 0; x < w; x++) planes[c][dst + x] = row[x];
      }
    }
  }
  uint8_t* o = img.pixels.data();
  unsigned shift = bpc == 2 ? 8 : 0;
  for (size_t i = 0; i < size_t(w) * h; i++) {
    unsigned a = alpha ? std::min(255u, planes[z - 1][i] >> shift) : 255;
    for (unsigned c = 0; c < colours; c++) *o++ = over_white(std::min(255u, planes[c][i] >> shift), a);
  }
  return true;
}

}  // namespace vorn::image
