// What the format readers share: the decoded picture in its own colour
// model, before conversion to the space a filter asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vorn/image.h"

namespace vorn::image {

struct raw_image {
  unsigned width = 0, height = 0;
  int channels = 1;  // 1 grey (0 black), 3 RGB, 4 CMYK (0 no ink)
  unsigned xppi = 0, yppi = 0;
  image_pixels pixels;
};

// A file in memory read through a library's read callbacks.
struct mem_file {
  const uint8_t* data;
  size_t len;
  size_t pos;
};

// Checks a size from a file against the open's limit, then allocates the
// pixels. false with `err` set when the size is zero or too large. The
// samples are zero unless `unset` is true, which a reader may ask for only
// when every way it returns true has written every sample.
bool alloc_raw(raw_image& img, uint64_t width, uint64_t height, int channels, std::string& err,
               bool unset = false);

bool decode_png(const uint8_t* data, size_t len, raw_image& img, std::string& err);
bool decode_jpeg(const uint8_t* data, size_t len, raw_image& img, std::string& err);
bool decode_tiff(const uint8_t* data, size_t len, raw_image& img, std::string& err);
bool decode_gif(const uint8_t* data, size_t len, raw_image& img, std::string& err);
bool decode_pnm(const uint8_t* data, size_t len, raw_image& img, std::string& err);
bool decode_sgi(const uint8_t* data, size_t len, raw_image& img, std::string& err);
bool decode_sun(const uint8_t* data, size_t len, raw_image& img, std::string& err);
bool decode_ico(const uint8_t* data, size_t len, raw_image& img, std::string& err);
bool decode_photocd(const uint8_t* data, size_t len, raw_image& img, std::string& err);

// Big-endian readers for the hand-parsed formats.
inline unsigned be16(const uint8_t* p) { return unsigned(p[0]) << 8 | p[1]; }
inline uint32_t be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Lays a sample with coverage `alpha` (0 to 255) over white.
inline uint8_t over_white(unsigned v, unsigned alpha) { return uint8_t((v * alpha + 255 * (255 - alpha) + 127) / 255); }

}  // namespace vorn::image
