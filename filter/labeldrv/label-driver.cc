#include "filter/labeldrv/label-driver.h"

#include <string>
#include <vector>

#include "filter/driver-common/driver.h"

namespace vorn::label {

namespace {

void put_escapes(FILE* out) {
  // A run of ESC bytes completes whatever command the printer was left in.
  for (int i = 0; i < 100; i++) std::fputc(0x1B, out);
}

std::string page_problem(const vorn_page_header_t& h) {
  if (h.vornBitsPerColor != 1 || h.vornColorSpace != 3)
    return "labeldrv prints black at 1 bit per pixel (colour space 3), not colour space " +
           std::to_string(h.vornColorSpace) + " at " + std::to_string(h.vornBitsPerColor) + " bits";
  // Densities above 2 would be written as ESC "f", the feed command.
  if (h.vornCompression > 2) return "print density " + std::to_string(h.vornCompression) + " (0 to 2)";
  // Bytes per row and the label length are one- and two-byte fields.
  std::string why = drv::check_layout(h, 1, 1, {.max_resolution = 1200, .max_width = 255 * 8});
  if (!why.empty()) return why;
  uint64_t dots = uint64_t(h.HWResolution[1]) * h.PageSize[1] / 72;
  if (dots == 0 || dots > 65535) return "label length of " + std::to_string(dots) + " dots (1 to 65535)";
  return {};
}

}  // namespace

int print_job(vorn_raster_t* ras, FILE* out) {
  put_escapes(out);
  std::fputs("\033@", out);
  unsigned page_no = 0;
  vorn_page_header_t h;
  drv::header_result res;
  bool failed = false;
  while ((res = drv::read_header(ras, h)) == drv::header_result::page) {
    if (std::string why = page_problem(h); !why.empty()) {
      std::fprintf(stderr, "ERROR: Unable to print label %u - %s\n", page_no + 1, why.c_str());
      failed = true;
      break;
    }
    page_no++;
    std::fprintf(stderr, "PAGE: %u 1\n", page_no);
    drv::catch_term();
    unsigned length = unsigned(uint64_t(h.HWResolution[1]) * h.PageSize[1] / 72);
    std::fprintf(out, "\033L%c%c\033D%c\033%c", length & 0xFF, length >> 8, h.vornBytesPerLine,
                 99 + h.vornCompression);
    std::vector<uint8_t> row(h.vornBytesPerLine);
    unsigned pending_feed = 0;
    for (unsigned y = 0; y < h.vornHeight && !drv::term_requested(); y++) {
      if (y % 16 == 0)
        std::fprintf(stderr, "INFO: Printing page %u, %u%% complete...\n", page_no,
                     unsigned(100ull * y / h.vornHeight));
      if (vornRasterReadPixels(ras, row.data(), row.size()) == 0) break;
      if (drv::row_blank(row.data(), row.size())) {
        pending_feed++;
        continue;
      }
      for (; pending_feed > 255; pending_feed -= 255) std::fputs("\033f\001\377", out);
      if (pending_feed) std::fprintf(out, "\033f\001%c", pending_feed);
      pending_feed = 0;
      std::fputc(0x16, out);
      std::fwrite(row.data(), 1, row.size(), out);
    }
    if (drv::term_requested()) put_escapes(out);
    // Blank rows at the end are left to the feed to the next label.
    std::fputs("\033E", out);
    std::fflush(out);
    drv::ignore_term();
    if (drv::term_requested()) return 0;
  }
  std::fflush(out);
  if (res == drv::header_result::refused) failed = true;
  return drv::job_status(failed, page_no);
}

}  // namespace vorn::label
