// The portable anymap family: P1/P4 bitmaps, P2/P5 greymaps, P3/P6
// pixmaps, 1 to 16 bits a sample.
#include <cctype>

#include <cstring>

#include "decode.h"

namespace vorn::image {
namespace {

struct cursor {
  const uint8_t* d;
  size_t len;
  size_t pos;

  void skip_space() {
    while (pos < len) {
      if (d[pos] == '#') {
        while (pos < len && d[pos] != '\n' && d[pos] != '\r') pos++;
      } else if (std::isspace(d[pos])) {
        pos++;
      } else {
        break;
      }
    }
  }
  // A decimal number up to `max`; false when there is none or it is larger.
  bool number(uint64_t max, uint64_t& v) {
    skip_space();
    if (pos >= len || !std::isdigit(d[pos])) return false;
    v = 0;
    while (pos < len && std::isdigit(d[pos])) {
      v = v * 10 + unsigned(d[pos++] - '0');
      if (v > max) return false;
    }
    return true;
  }
};

}  // namespace

bool decode_pnm(const uint8_t* data, size_t len, raw_image& img, std::string& err) {
  if (len < 2 || data[0] != 'P' || data[1] < '1' || data[1] > '6') {
    err = "PNM: not a P1 to P6 file";
    return false;
  }
  cursor c{data, len, 2};
  int kind = data[1] - '0';
  uint64_t w, h, maxval = 1;
  if (!c.number(1u << 30, w) || !c.number(1u << 30, h)) {
    err = "PNM: bad width or height";
    return false;
  }
  bool bitmap = kind == 1 || kind == 4;
  if (!bitmap && (!c.number(65535, maxval) || maxval == 0)) {
    err = "PNM: bad maximum value (1 to 65535)";
    return false;
  }
  int ch = kind == 3 || kind == 6 ? 3 : 1;
  if (!alloc_raw(img, w, h, ch, err, true)) return false;  // every branch below writes all
  size_t samples = img.pixels.size();
  uint8_t* o = img.pixels.data();
  auto scale = [maxval](uint64_t v) { return uint8_t(v >= maxval ? 255 : (v * 255 + maxval / 2) / maxval); };
  if (kind <= 3) {  // plain: decimal samples (bitmaps may run digits together)
    for (size_t i = 0; i < samples; i++) {
      uint64_t v;
      if (bitmap) {
        c.skip_space();
        if (c.pos >= len || (data[c.pos] != '0' && data[c.pos] != '1')) {
          err = "PNM: file ends early";
          return false;
        }
        o[i] = data[c.pos++] == '1' ? 0 : 255;
        continue;
      }
      if (!c.number(65535, v) || v > maxval) {
        err = "PNM: file ends early or has a bad sample";
        return false;
      }
      o[i] = scale(v);
    }
    return true;
  }
  // Raw: one white-space byte after the header, then binary samples.
  c.pos++;
  if (kind == 4) {
    size_t row_bytes = (size_t(w) + 7) / 8;
    if (c.pos > len || (len - c.pos) / row_bytes < h) {
      err = "PNM: file ends early";
      return false;
    }
    for (size_t y = 0; y < h; y++)
      for (size_t x = 0; x < w; x++)
        o[y * w + x] = (data[c.pos + y * row_bytes + x / 8] & (0x80 >> (x % 8))) ? 0 : 255;
    return true;
  }
  size_t bytes = maxval > 255 ? 2 : 1;
  if (c.pos > len || (len - c.pos) / bytes < samples) {
    err = "PNM: file ends early";
    return false;
  }
  const uint8_t* s = data + c.pos;
  if (bytes == 1 && maxval == 255) {  // the samples as they are
    std::memcpy(o, s, samples);
    return true;
  }
  for (size_t i = 0; i < samples; i++) {
    uint64_t v = bytes == 2 ? be16(s + 2 * i) : s[i];
    o[i] = scale(v);
  }
  return true;
}

}  // namespace vorn::image
