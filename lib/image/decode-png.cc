// PNG through libpng's simplified reader, which turns every bit depth,
// palette and alpha form into 8-bit grey or RGB over our background.
#include <png.h>

#include <cstring>

#include "decode.h"

namespace vorn::image {
namespace {

// The natural resolution from the pHYs chunk (pixels per metre), which the
// simplified reader does not report. Only chunks before the image data count.
void read_phys(const uint8_t* d, size_t len, raw_image& img) {
  size_t at = 8;
  while (at + 12 <= len) {
    uint32_t n = be32(d + at);
    const uint8_t* type = d + at + 4;
    if (n > len - at - 12) return;
    if (std::memcmp(type, "IDAT", 4) == 0) return;
    if (std::memcmp(type, "pHYs", 4) == 0 && n == 9 && d[at + 16] == 1) {
      uint32_t x = be32(d + at + 8), y = be32(d + at + 12);
      img.xppi = unsigned(x * 0.0254 + 0.5);
      img.yppi = unsigned(y * 0.0254 + 0.5);
      return;
    }
    at += 12 + size_t(n);
  }
}

}  // namespace

bool decode_png(const uint8_t* data, size_t len, raw_image& img, std::string& err) {
  png_image im;
  std::memset(&im, 0, sizeof(im));
  im.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&im, data, len)) {
    err = std::string("PNG: ") + im.message;
    png_image_free(&im);
    return false;
  }
  bool colour = (im.format & PNG_FORMAT_FLAG_COLOR) != 0;
  bool palette = (im.format & PNG_FORMAT_FLAG_COLORMAP) != 0;
  im.format = colour ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  // Unset samples: a finished read writes the whole picture.
  if (!alloc_raw(img, im.width, im.height, colour ? 3 : 1, err, true)) {
    png_image_free(&im);
    return false;
  }
  png_color white = {255, 255, 255};
  if (!png_image_finish_read(&im, &white, img.pixels.data(), 0, nullptr)) {
    err = std::string("PNG: ") + im.message;
    png_image_free(&im);
    return false;
  }
  // A palette of greys is a grey picture (netpbm writes grey files so).
  if (colour && palette) {
    bool grey = true;
    for (size_t i = 0; grey && i < img.pixels.size(); i += 3)
      grey = img.pixels[i] == img.pixels[i + 1] && img.pixels[i] == img.pixels[i + 2];
    if (grey) {
      for (size_t i = 0; i < img.pixels.size() / 3; i++) img.pixels[i] = img.pixels[3 * i];
      img.pixels.resize(img.pixels.size() / 3);
      img.channels = 1;
    }
  }
  read_phys(data, len, img);
  return true;
}

}  // namespace vorn::image
