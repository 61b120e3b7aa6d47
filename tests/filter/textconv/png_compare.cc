// Grey PNG images through libpng.
#include "png_compare.h"

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace textconv_test {

bool ReadGreyPng(const std::string& path, GreyImage& image) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path.c_str())) return false;
  img.format = PNG_FORMAT_GRAY;
  image.width = int(img.width);
  image.height = int(img.height);
  image.pixels.assign(PNG_IMAGE_SIZE(img), 0);
  if (!png_image_finish_read(&img, nullptr, image.pixels.data(), 0, nullptr)) {
    png_image_free(&img);
    return false;
  }
  return true;
}

bool WriteGreyPng(const std::string& path, const GreyImage& image) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  img.width = png_uint_32(image.width);
  img.height = png_uint_32(image.height);
  img.format = PNG_FORMAT_GRAY;
  return png_image_write_to_file(&img, path.c_str(), 0, image.pixels.data(), 0, nullptr) != 0;
}

double DifferingShare(const GreyImage& a, const GreyImage& b, int level) {
  if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size() || a.pixels.empty())
    return 1.0;
  size_t differ = 0;
  for (size_t i = 0; i < a.pixels.size(); i++)
    if (std::abs(int(a.pixels[i]) - int(b.pixels[i])) > level) differ++;
  return double(differ) / double(a.pixels.size());
}

}  // namespace textconv_test
