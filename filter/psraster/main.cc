// psraster: PostScript to the raster page stream. The pages are drawn by
// the PostScript interpreter (render.h) at the resolution of the raster
// page header, read back, converted to the header's colour space and
// written row by row for the driver.
//
//   psraster job-id user title copies options [file]
//
// Environment: PPD, VORN_PSRASTER_COMMAND, VORN_DATADIR, GS_WASM_DIR.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "filter/imgraster/format.h"
#include "filter/imgraster/page-setup.h"
#include "filter/imgraster/pagedevice.h"
#include "filter/psraster/render.h"
#include "vorn/fd.h"
#include "vorn/file.h"
#include "vorn/image.h"
#include "vorn/raster.h"

using namespace vorn::raster;
namespace fs = std::filesystem;

namespace {

// Removes the working folder on every way out.
struct work_dir {
  std::string path;
  ~work_dir() {
    if (!path.empty()) {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  }
};

bool copy_stdin(const std::string& to) {
  vorn::unique_fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!out) return false;
  char buf[65536];
  ssize_t n;
  while ((n = vorn::read_retry(0, buf, sizeof(buf))) > 0)
    if (vorn::write_all(out.get(), buf, size_t(n)) != 0) return false;
  return n == 0;
}

}  // namespace

int main(int argc, char** argv) {
  setbuf(stderr, nullptr);
  if (argc < 6 || argc > 7) {
    std::fputs("ERROR: psraster job-id user title copies options [file]\n", stderr);
    return 1;
  }
  vorn_options_t options;
  vornParseOptions(argv[5], options);
  page_vars page;
  vorn::ppd_file_ptr ppd(raster_page_setup(options, page));
  vorn_page_header_t h = default_header();
  header_from_ppd(ppd.get(), h);

  const int space = h.vornColorSpace <= 15 ? image_space_for(h.vornColorSpace) : 0;
  if (space == 0) {
    std::fprintf(stderr, "ERROR: Unsupported colour space %u\n", h.vornColorSpace);
    return 1;
  }
  if (h.vornColorSpace == 15 && h.vornBitsPerColor < 8) h.vornBitsPerColor = 8;
  const unsigned xres = h.HWResolution[0], yres = h.HWResolution[1];
  if (xres == 0 || yres == 0 || xres > 10000 || yres > 10000) {
    std::fprintf(stderr, "ERROR: Bad printer resolution %ux%u\n", xres, yres);
    return 1;
  }
  double vw = (page.PageRight - page.PageLeft) * xres / 72.0, vh = (page.PageTop - page.PageBottom) * yres / 72.0;
  if (!(vw >= 1) || !(vh >= 1) || vw > VORN_RASTER_MAX_DIM || vh > VORN_RASTER_MAX_DIM ||
      !(page.PageWidth > 0) || !(page.PageLength > 0)) {
    std::fputs("ERROR: The printable area of the page is empty or too large\n", stderr);
    return 1;
  }
  h.vornWidth = unsigned(vw);
  h.vornHeight = unsigned(vh);
  h.PageSize[0] = unsigned(page.PageWidth + 0.5f);
  h.PageSize[1] = unsigned(page.PageLength + 0.5f);
  h.Margins[0] = unsigned(std::max(0.0f, page.PageLeft));
  h.Margins[1] = unsigned(std::max(0.0f, page.PageBottom));
  h.ImagingBoundingBox[0] = h.Margins[0];
  h.ImagingBoundingBox[1] = h.Margins[1];
  h.ImagingBoundingBox[2] = unsigned(std::max(0.0f, page.PageRight));
  h.ImagingBoundingBox[3] = unsigned(std::max(0.0f, page.PageTop));
  h.vornBitsPerPixel = bits_per_pixel_for(h.vornColorSpace, h.vornBitsPerColor, h.vornColorOrder);
  h.vornBytesPerLine = bytes_per_line_for(h.vornColorSpace, h.vornBitsPerColor, h.vornColorOrder, h.vornWidth);
  long copies = std::strtol(argv[4], nullptr, 10);
  h.NumCopies = copies < 1 ? 1 : copies > 1000 ? 1000 : unsigned(copies);
  if (const char* why = vornRasterHeaderProblem(h)) {
    std::fprintf(stderr, "ERROR: Cannot make the raster page: %s\n", why);
    return 1;
  }

  // The interpreter reads files only: standard input goes to one first.
  work_dir work;
  {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/psraster-XXXXXX";
    if (!mkdtemp(tmpl.data())) {
      std::fprintf(stderr, "ERROR: Unable to create a temporary folder - %s\n", std::strerror(errno));
      return 1;
    }
    work.path = tmpl;
  }
  std::string input = argc == 7 ? argv[6] : work.path + "/input.ps";
  if (argc == 6 && !copy_stdin(input)) {
    std::fprintf(stderr, "ERROR: Unable to copy the PostScript file - %s\n", std::strerror(errno));
    return 1;
  }
  render_request req;
  req.input = input;
  req.output_dir = work.path;
  req.grey = ImageDepth(space) == 1;
  req.xres = xres;
  req.yres = yres;
  req.width_pt = page.PageWidth;
  req.length_pt = page.PageLength;
  std::fputs("INFO: Rendering pages...\n", stderr);
  int rc = render_pages(req);
  if (rc != 0) {
    std::fprintf(stderr, "ERROR: The PostScript interpreter failed (status %d)\n", rc);
    return 1;
  }

  level_tables levels = make_level_tables(h.vornBitsPerColor);
  vorn_raster_t* ras = vornRasterOpen(1, VORN_RASTER_WRITE);
  std::vector<uint8_t> row(h.vornBytesPerLine);
  const uint8_t blank = blank_value(space);
  const unsigned planes = h.vornColorOrder == 2 ? vornRasterPlanes(h) : 1;
  // Where the imageable area starts in the full-page picture.
  const unsigned x0 = unsigned(std::max(0.0f, page.PageLeft) * xres / 72.0);
  const unsigned y0 = unsigned(std::max(0.0f, page.PageLength - page.PageTop) * yres / 72.0);
  bool ok = true;
  int pages = 0;
  for (int n = 1; ok; n++) {
    std::string name = work.path + "/p-" + std::to_string(n) + ".png";
    if (!fs::exists(name)) break;
    image_t* img = ImageOpen(name.c_str(), space, space, 100, 0, nullptr);
    fs::remove(name);
    if (!img) {
      std::fprintf(stderr, "ERROR: Unable to read page %d from the interpreter: %s\n", n, ImageLastError());
      ok = false;
      break;
    }
    std::fprintf(stderr, "INFO: Formatting page %d...\n", n);
    if (!vornRasterWriteHeader(ras, h)) {
      std::fputs("ERROR: Unable to write raster data to driver!\n", stderr);
      ImageClose(img);
      ok = false;
      break;
    }
    const unsigned depth = unsigned(ImageDepth(img->colorspace));
    // The part of the picture inside the imageable area; anything the
    // picture lacks stays blank.
    unsigned width = x0 < img->xsize ? std::min(h.vornWidth, img->xsize - x0) : 0;
    for (unsigned plane = 0; ok && plane < planes; plane++) {
      for (unsigned y = 0; ok && y < h.vornHeight; y++) {
        std::fill(row.begin(), row.end(), blank);
        if (width > 0 && y0 + y < img->ysize) {
          const uint8_t* src = img->pixels.data() + (size_t(y0 + y) * img->xsize + x0) * depth;
          format_input in;
          in.header = &h;
          in.levels = &levels;
          in.xposition = -1;
          in.plane = int(plane);
          in.y = y;
          in.width = width;
          in.r0 = in.r1 = src;
          format_row(in, row.data());
        }
        if (vornRasterWritePixels(ras, row.data(), row.size()) != row.size()) {
          std::fputs("ERROR: Unable to write raster data to driver!\n", stderr);
          ok = false;
        }
      }
    }
    ImageClose(img);
    if (ok) {
      pages++;
      std::fprintf(stderr, "PAGE: %d %u\n", n, h.NumCopies);
    }
  }
  vornRasterClose(ras);
  if (ok && pages == 0) std::fputs("INFO: The PostScript file has no pages\n", stderr);
  return ok ? 0 : 1;
}
