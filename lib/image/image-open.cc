// Opening images: format recognition, the size limit, and conversion of the
// decoded picture into the colour space the caller asked for.
#include <fcntl.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <utility>

#include "decode.h"
#include "image-colour.h"
#include "vorn/fd.h"
#include "vorn/image.h"

namespace vorn::image {
namespace {

thread_local std::string last_error;
size_t max_bytes = size_t(1) << 30;

bool starts(const uint8_t* d, size_t len, const char* magic, size_t n) {
  return len >= n && std::memcmp(d, magic, n) == 0;
}

bool decode_any(const uint8_t* d, size_t len, raw_image& img, std::string& err) {
  if (starts(d, len, "\x89PNG\r\n\x1a\n", 8)) return decode_png(d, len, img, err);
  if (starts(d, len, "\xff\xd8\xff", 3)) return decode_jpeg(d, len, img, err);
  if (starts(d, len, "MM\x00\x2a", 4) || starts(d, len, "II\x2a\x00", 4)) return decode_tiff(d, len, img, err);
  if (starts(d, len, "GIF87a", 6) || starts(d, len, "GIF89a", 6)) return decode_gif(d, len, img, err);
  if (len >= 2 && d[0] == 'P' && d[1] >= '1' && d[1] <= '6') return decode_pnm(d, len, img, err);
  if (len >= 2 && be16(d) == 474) return decode_sgi(d, len, img, err);
  if (starts(d, len, "\x59\xa6\x6a\x95", 4)) return decode_sun(d, len, img, err);
  if (len >= 2048 + 7 && std::memcmp(d + 2048, "PCD_IPI", 7) == 0) return decode_photocd(d, len, img, err);
  if (starts(d, len, "\0\0\1\0", 4)) return decode_ico(d, len, img, err);
  err = "unknown image format";
  return false;
}

}  // namespace

bool alloc_raw(raw_image& img, uint64_t width, uint64_t height, int channels, std::string& err, bool unset) {
  if (width == 0 || height == 0) {
    err = "image has no pixels (width or height 0)";
    return false;
  }
  // The converted image may hold four samples a pixel whatever the file has.
  uint64_t limit = ImageMaxBytes() / 4;
  if (width > limit || height > limit || width * height > limit) {
    err = "image too large (" + std::to_string(width) + " x " + std::to_string(height) + " pixels)";
    return false;
  }
  img.width = unsigned(width);
  img.height = unsigned(height);
  img.channels = channels;
  const size_t n = size_t(width * height * unsigned(channels));
  if (unset) {
    img.pixels.clear();
    img.pixels.resize(n);
  } else {
    img.pixels.assign(n, 0);
  }
  return true;
}

void set_last_error(const std::string& e) { last_error = e; }

}  // namespace vorn::image

using namespace vorn::image;

const char* ImageLastError() { return last_error.c_str(); }
size_t ImageMaxBytes() { return max_bytes; }
void ImageSetMaxBytes(size_t bytes) { max_bytes = bytes; }

image_t* ImageOpenMemory(const uint8_t* data, size_t len, int primary, int secondary, int saturation, int hue,
                         const uint8_t* lut) {
  last_error.clear();
  raw_image raw;
  std::string err;
  if (!data || !decode_any(data, len, raw, err)) {
    last_error = err.empty() ? "cannot decode image" : err;
    return nullptr;
  }
  if (raw.pixels.size() != size_t(raw.width) * raw.height * unsigned(raw.channels)) {
    last_error = "internal error: decoded size mismatch";
    return nullptr;
  }
  int space = raw.channels == 1 ? secondary : primary;
  if (space != IMAGE_CMYK && space != IMAGE_CMY && space != IMAGE_BLACK && space != IMAGE_WHITE &&
      space != IMAGE_RGB) {
    last_error = "unknown image colour space " + std::to_string(space);
    return nullptr;
  }
  auto* img = new image_t;
  img->colorspace = space;
  img->xsize = raw.width;
  img->ysize = raw.height;
  img->xppi = raw.xppi;
  img->yppi = raw.yppi ? raw.yppi : raw.xppi;
  if (!img->xppi) img->xppi = img->yppi;
  // Grey or RGB asked for as the file holds it, with nothing to adjust:
  // the decoded pixels are the image's, without a second copy.
  const bool same = (raw.channels == 1 && space == IMAGE_WHITE) || (raw.channels == 3 && space == IMAGE_RGB);
  if (same && !lut && (raw.channels == 1 || (saturation == 100 && hue == 0)))
    img->pixels = std::move(raw.pixels);
  else
    convert_pixels(raw, *img, saturation, hue, lut);
  return img;
}

image_t* ImageOpen(const char* filename, int primary, int secondary, int saturation, int hue, const uint8_t* lut) {
  last_error.clear();
  if (!filename) {
    last_error = "no file name";
    return nullptr;
  }
  vorn::unique_fd fd(::open(filename, O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (!fd || ::fstat(fd.get(), &st) != 0) {
    last_error = std::string(filename) + ": " + std::strerror(errno);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode) || uint64_t(st.st_size) > max_bytes) {
    last_error = std::string(filename) + ": not a regular file or too large";
    return nullptr;
  }
  // Read into a picture buffer, which is neither zeroed first nor paged in
  // small pages: faster than mapping the file, whose pages fault one
  // group at a time as the decoder reaches them.
  vorn::image_pixels data;
  data.resize(size_t(st.st_size));
  size_t got = 0;
  while (got < data.size()) {
    ssize_t n = vorn::read_retry(fd.get(), data.data() + got, data.size() - got);
    if (n <= 0) break;
    got += size_t(n);
  }
  if (got != data.size()) {
    last_error = std::string(filename) + ": short read";
    return nullptr;
  }
  return ImageOpenMemory(data.data(), data.size(), primary, secondary, saturation, hue, lut);
}

void ImageClose(image_t* img) { delete img; }

int ImageGetRow(const image_t* img, int x, int y, int width, uint8_t* row) {
  if (!img || !row || y < 0 || unsigned(y) >= img->ysize || x < 0 || unsigned(x) >= img->xsize || width <= 0)
    return -1;
  if (unsigned(width) > img->xsize - unsigned(x)) width = int(img->xsize - unsigned(x));
  int d = ImageDepth(img->colorspace);
  std::memcpy(row, img->pixels.data() + (size_t(y) * img->xsize + unsigned(x)) * unsigned(d), size_t(width) * unsigned(d));
  return width;
}
