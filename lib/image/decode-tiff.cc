// TIFF through libtiff's RGBA reader, which handles every photometric
// interpretation, compression and layout the library knows.
#include <tiffio.h>

#include <cstring>
#include <vector>

#include "decode.h"

namespace vorn::image {
namespace {

tsize_t mem_read(thandle_t h, tdata_t buf, tsize_t n) {
  auto* m = static_cast<mem_file*>(h);
  if (n <= 0 || m->pos >= m->len) return 0;
  size_t k = std::min(size_t(n), m->len - m->pos);
  std::memcpy(buf, m->data + m->pos, k);
  m->pos += k;
  return tsize_t(k);
}
tsize_t mem_write(thandle_t, tdata_t, tsize_t) { return 0; }
toff_t mem_seek(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<mem_file*>(h);
  uint64_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->len : 0;
  uint64_t to = base + off;  // libtiff passes unsigned offsets
  if (to > m->len) return toff_t(-1);
  m->pos = size_t(to);
  return to;
}
int mem_close(thandle_t) { return 0; }
toff_t mem_size(thandle_t h) { return static_cast<mem_file*>(h)->len; }
int mem_map(thandle_t, tdata_t*, toff_t*) { return 0; }
void mem_unmap(thandle_t, tdata_t, toff_t) {}

thread_local std::string tiff_message;
void on_tiff_error(const char* module, const char* fmt, va_list ap) {
  char buf[256];
  // libtiff hands over its own format; the handler's type cannot say so.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  vsnprintf(buf, sizeof(buf), fmt, ap);
#pragma GCC diagnostic pop
  tiff_message = buf;
}
void on_tiff_warning(const char*, const char*, va_list) {}

}  // namespace

bool decode_tiff(const uint8_t* data, size_t len, raw_image& img, std::string& err) {
  TIFFSetErrorHandler(on_tiff_error);
  TIFFSetWarningHandler(on_tiff_warning);
  tiff_message.clear();
  mem_file m{data, len, 0};
  TIFF* tif = TIFFClientOpen("image", "rm", &m, mem_read, mem_write, mem_seek, mem_close, mem_size, mem_map,
                             mem_unmap);
  if (!tif) {
    err = "TIFF: " + (tiff_message.empty() ? std::string("cannot open") : tiff_message);
    return false;
  }
  uint32_t w = 0, h = 0;
  uint16_t spp = 1, photometric = PHOTOMETRIC_RGB, unit = RESUNIT_INCH;
  float xres = 0, yres = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  bool grey = (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) && spp <= 2;
  char emsg[1024] = "";
  if (!alloc_raw(img, w, h, grey ? 1 : 3, err) || !TIFFRGBAImageOK(tif, emsg)) {
    if (err.empty()) err = std::string("TIFF: ") + emsg;
    TIFFClose(tif);
    return false;
  }
  std::vector<uint32_t> rgba(size_t(w) * h);
  if (!TIFFReadRGBAImageOriented(tif, w, h, rgba.data(), ORIENTATION_TOPLEFT, 0)) {
    err = "TIFF: " + (tiff_message.empty() ? std::string("cannot read the image") : tiff_message);
    TIFFClose(tif);
    return false;
  }
  if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres)) {
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    double f = unit == RESUNIT_CENTIMETER ? 2.54 : unit == RESUNIT_INCH ? 1.0 : 0.0;
    if (f > 0 && xres > 0 && yres > 0 && xres * f < 1e6 && yres * f < 1e6) {
      img.xppi = unsigned(xres * f + 0.5);
      img.yppi = unsigned(yres * f + 0.5);
    }
  }
  TIFFClose(tif);
  // The reader gives premultiplied colour: laying it over white adds the
  // uncovered part.
  uint8_t* o = img.pixels.data();
  for (uint32_t px : rgba) {
    unsigned a = TIFFGetA(px), gap = 255 - a;
    unsigned r = std::min(255u, TIFFGetR(px) + gap), g = std::min(255u, TIFFGetG(px) + gap),
             b = std::min(255u, TIFFGetB(px) + gap);
    if (grey) {
      *o++ = uint8_t(r);
    } else {
      *o++ = uint8_t(r), *o++ = uint8_t(g), *o++ = uint8_t(b);
    }
  }
  return true;
}

}  // namespace vorn::image
