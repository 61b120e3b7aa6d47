// What every image reader target does with its input: the reader itself
// under a small size limit, then the whole open (recognition, conversion
// into every image colour space) and a scaler over the result. Any input
// must end in a picture or a refusal, never in a crash or an overrun.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "../lib/image/decode.h"
#include "vorn/image.h"

inline int FuzzImageReader(bool (*decode)(const uint8_t*, size_t, vorn::image::raw_image&, std::string&),
                           const uint8_t* data, size_t size) {
  ImageSetMaxBytes(size_t(16) << 20);  // a claimed huge picture is refused, not allocated
  vorn::image::raw_image raw;
  std::string err;
  if (decode(data, size, raw, err) &&
      raw.pixels.size() != size_t(raw.width) * raw.height * unsigned(raw.channels))
    __builtin_trap();  // a decoder that says yes must fill the whole picture
  for (int space : {IMAGE_RGB, IMAGE_CMYK, IMAGE_BLACK}) {
    image_t* img = ImageOpenMemory(data, size, space, space == IMAGE_RGB ? IMAGE_WHITE : space, 80, 30, nullptr);
    if (!img) continue;
    image_zoom_t* z = ImageZoomAlloc(img, 0, 0, int(img->xsize) - 1, int(img->ysize) - 1, -7, 5, 1);
    if (z) {
      for (int iy = 0; iy < z->rows; iy += z->rows / 4 + 1) ImageZoomFill(z, iy);
      ImageZoomFree(z);
    }
    ImageClose(img);
  }
  return 0;
}
