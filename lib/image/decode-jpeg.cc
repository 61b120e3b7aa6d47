// JPEG through libjpeg: grey, YCbCr/RGB and CMYK/YCCK files.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

#include "decode.h"

namespace vorn::image {
namespace {

struct jpeg_failure {
  jpeg_error_mgr mgr;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool cut_short;  // the data ended before the last row
};

void on_error(j_common_ptr cinfo) {
  auto* f = reinterpret_cast<jpeg_failure*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, f->message);
  std::longjmp(f->jump, 1);
}

// Warnings of damaged but readable files are not ours to print.
void on_message(j_common_ptr) {}

// A file that ends early decodes with grey rows in place of the missing
// ones: that is lost data, not a damaged but readable file.
void on_emit(j_common_ptr cinfo, int level) {
  auto* f = reinterpret_cast<jpeg_failure*>(cinfo->err);
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) f->cut_short = true;
}

}  // namespace

// Kept apart from decode_jpeg so no C++ object lives across the setjmp.
static bool decode_jpeg_rows(jpeg_decompress_struct* cinfo, jpeg_failure* fail, const uint8_t* data, size_t len,
                             raw_image* img, std::string* err) {
  if (setjmp(fail->jump)) {
    *err = std::string("JPEG: ") + fail->message;
    return false;
  }
  jpeg_create_decompress(cinfo);
  jpeg_mem_src(cinfo, data, (unsigned long)len);
  jpeg_read_header(cinfo, TRUE);
  int channels;
  bool inverted = false;
  switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
      cinfo->out_color_space = JCS_GRAYSCALE;
      channels = 1;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo->out_color_space = JCS_CMYK;
      channels = 4;
      inverted = cinfo->saw_Adobe_marker;  // Adobe writes CMYK inverted
      break;
    default:
      cinfo->out_color_space = JCS_RGB;
      channels = 3;
  }
  // Unset samples: a decode that returns true has read every row into them.
  if (!alloc_raw(*img, cinfo->image_width, cinfo->image_height, channels, *err, true)) return false;
  jpeg_start_decompress(cinfo);
  if (cinfo->output_width != img->width || cinfo->output_height != img->height ||
      cinfo->output_components != channels) {
    *err = "JPEG: unexpected output size";
    return false;
  }
  size_t stride = size_t(img->width) * unsigned(channels);
  while (cinfo->output_scanline < cinfo->output_height) {
    JSAMPROW row = img->pixels.data() + cinfo->output_scanline * stride;
    if (jpeg_read_scanlines(cinfo, &row, 1) != 1) break;
  }
  if (fail->cut_short || cinfo->output_scanline < cinfo->output_height) {
    *err = "JPEG: the file ends before the last row";
    return false;
  }
  if (inverted)
    for (uint8_t& v : img->pixels) v = uint8_t(255 - v);
  if (cinfo->saw_JFIF_marker && cinfo->X_density > 0 && cinfo->Y_density > 0) {
    if (cinfo->density_unit == 1) {
      img->xppi = cinfo->X_density;
      img->yppi = cinfo->Y_density;
    } else if (cinfo->density_unit == 2) {
      img->xppi = unsigned(cinfo->X_density * 2.54 + 0.5);
      img->yppi = unsigned(cinfo->Y_density * 2.54 + 0.5);
    }
  }
  jpeg_finish_decompress(cinfo);
  return true;
}

bool decode_jpeg(const uint8_t* data, size_t len, raw_image& img, std::string& err) {
  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof(cinfo));
  jpeg_failure fail;
  fail.message[0] = 0;
  fail.cut_short = false;
  cinfo.err = jpeg_std_error(&fail.mgr);
  fail.mgr.error_exit = on_error;
  fail.mgr.output_message = on_message;
  fail.mgr.emit_message = on_emit;
  bool ok = decode_jpeg_rows(&cinfo, &fail, data, len, &img, &err);
  jpeg_destroy_decompress(&cinfo);
  return ok;
}

}  // namespace vorn::image
