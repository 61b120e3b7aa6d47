// imgraster: prints an image file on a raster printer, writing the raster
// page stream for the printer's driver on standard output.
//
//   imgraster job-id user title copies options [file]
//
// Environment: PPD (the printer's PPD file), CLASSIFICATION.
#include <fcntl.h>
#include <libgen.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "filter/imgraster/format.h"
#include "filter/imgraster/job-options.h"
#include "filter/imgraster/layout.h"
#include "filter/imgraster/page-setup.h"
#include "filter/imgraster/pagedevice.h"
#include "vorn/fd.h"
#include "vorn/file.h"
#include "vorn/image.h"
#include "vorn/raster.h"

using namespace vorn::raster;

namespace {

// Banners are drawn by the PostScript image filter; the rasteriser then
// turns its pages into raster. Both sit beside this program. Both run as
// children and this process waits for them, so the stage ends only when
// the rasteriser has written its last page, and a failure of either is
// this filter's failure (the exit status is the failing program's; a
// program that cannot be started exits with the system error number).
[[noreturn]] void banner_pipeline(int argc, char** argv) {
  std::string dir = argv[0];
  size_t slash = dir.rfind('/');
  dir = slash == std::string::npos ? "." : dir.substr(0, slash);
  std::string imgconv = dir + "/imgconv", psraster = dir + "/psraster";
  int fds[2];
  if (pipe(fds) != 0) {
    int e = errno;
    std::fprintf(stderr, "ERROR: Unable to create pipes for imgconv | psraster - %s\n", std::strerror(e));
    std::exit(e);
  }
  pid_t raster = fork();
  if (raster < 0) {
    int e = errno;
    std::fprintf(stderr, "ERROR: Unable to fork psraster - %s\n", std::strerror(e));
    std::exit(e);
  }
  if (raster == 0) {
    dup2(fds[0], 0);
    close(fds[0]);
    close(fds[1]);
    char* args[] = {const_cast<char*>("psraster"), argv[1], argv[2], argv[3], argv[4], argv[5], nullptr};
    execv(psraster.c_str(), args);
    int e = errno;
    std::fprintf(stderr, "ERROR: Unable to exec psraster - %s\n", std::strerror(e));
    _exit(e);
  }
  pid_t image = fork();
  if (image < 0) {
    int e = errno;
    std::fprintf(stderr, "ERROR: Unable to fork imgconv - %s\n", std::strerror(e));
    std::exit(e);
  }
  if (image == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    char* args[] = {const_cast<char*>("imgconv"), argv[1], argv[2], argv[3], argv[4], argv[5],
                    argc == 7 ? argv[6] : nullptr, nullptr};
    execv(imgconv.c_str(), args);
    int e = errno;
    std::fprintf(stderr, "ERROR: Unable to exec imgconv - %s\n", std::strerror(e));
    _exit(e);
  }
  close(fds[0]);
  close(fds[1]);
  int status = 0;
  for (pid_t child : {image, raster}) {
    int st = 0;
    while (waitpid(child, &st, 0) < 0 && errno == EINTR) {
    }
    int code = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    if (status == 0) status = code;
  }
  std::exit(status);
}

// The profile of the PPD matching the marked resolution and media type.
const ppd_profile_t* find_profile(ppd_file_t* ppd, const std::string& resolution, const std::string& media) {
  if (!ppd) return nullptr;
  std::fprintf(stderr, "DEBUG: Searching for profile \"%s/%s\"...\n", resolution.c_str(), media.c_str());
  for (const ppd_profile_t& p : ppd->profiles) {
    std::fprintf(stderr, "DEBUG: \"%s/%s\" = ", p.resolution.c_str(), p.media_type.c_str());
    if ((p.resolution == resolution || p.resolution.starts_with("-")) &&
        (p.media_type == media || p.media_type.starts_with("-"))) {
      std::fputs("MATCH!\n", stderr);
      return &p;
    }
    std::fputs("no.\n", stderr);
  }
  return nullptr;
}

struct page_writer {
  vorn_raster_t* ras;
  const vorn_page_header_t& h;
  std::vector<uint8_t> row;

  bool write(const uint8_t* p) {
    if (vornRasterWritePixels(ras, p, h.vornBytesPerLine) != h.vornBytesPerLine) {
      std::fputs("ERROR: Unable to write raster data to driver!\n", stderr);
      return false;
    }
    return true;
  }
  bool blank_rows(unsigned n, uint8_t blank) {
    std::fill(row.begin(), row.end(), blank);
    for (unsigned i = 0; i < n; i++)
      if (!write(row.data())) return false;
    return true;
  }
};

}  // namespace

int main(int argc, char** argv) {
  setbuf(stderr, nullptr);
  if (argc < 6 || argc > 7) {
    std::fputs("ERROR: imgraster job-id user title copies options [file]\n", stderr);
    return 1;
  }
  std::fprintf(stderr, "INFO: %s %s %s %s %s %s %s\n", argv[0], argv[1], argv[2], argv[3], argv[4], argv[5],
               argc == 7 ? argv[6] : "(null)");
  vorn_options_t options;
  vornParseOptions(argv[5], options);
  if (std::getenv("CLASSIFICATION") || vornGetOption("page-label", options)) {
    banner_pipeline(argc, argv);
  }

  // The image from standard input goes to a temporary file first.
  std::string filename, tempname;
  if (argc == 6) {
    int fd = vornTempFd(tempname);
    if (fd < 0) {
      std::fprintf(stderr, "ERROR: Unable to copy image file - %s\n", std::strerror(errno));
      return 1;
    }
    vorn::unique_fd out(fd);
    std::fprintf(stderr, "DEBUG: imgraster - copying to temp print file \"%s\"\n", tempname.c_str());
    char buf[65536];
    ssize_t n;
    while ((n = vorn::read_retry(0, buf, sizeof(buf))) > 0) {
      if (vorn::write_all(out.get(), buf, size_t(n)) != 0) {
        std::fprintf(stderr, "ERROR: Unable to copy image file - %s\n", std::strerror(errno));
        unlink(tempname.c_str());
        return 1;
      }
    }
    filename = tempname;
  } else {
    filename = argv[6];
  }

  long copies_arg = std::strtol(argv[4], nullptr, 10);
  int copies = copies_arg < 1 ? 1 : copies_arg > 1000 ? 1000 : int(copies_arg);
  page_vars page;
  vorn::ppd_file_ptr ppd(raster_page_setup(options, page));
  image_options opt;
  std::string err;
  if (!read_image_options(options, opt, err)) {
    std::fprintf(stderr, "ERROR: %s\n", err.c_str());
    if (!tempname.empty()) unlink(tempname.c_str());
    return 1;
  }

  vorn_page_header_t h = default_header();
  header_from_ppd(ppd.get(), h);
  const ppd_choice_t* media = ppdFindMarkedChoice(ppd.get(), "MediaType");
  const ppd_choice_t* res = ppdFindMarkedChoice(ppd.get(), "Resolution");
  std::string media_name = media ? media->choice : "", res_name = res ? res->choice : "";

  const int space = h.vornColorSpace <= 15 ? image_space_for(h.vornColorSpace) : 0;
  if (space == 0) {
    std::fprintf(stderr, "ERROR: Unsupported colour space %u\n", h.vornColorSpace);
    if (!tempname.empty()) unlink(tempname.c_str());
    return 1;
  }
  if (opt.has_profile) {
    ImageSetProfile(opt.density, opt.profile_gamma, opt.matrix);
  } else if (const ppd_profile_t* p = find_profile(ppd.get(), res_name, media_name)) {
    ImageSetProfile(p->density, p->gamma, p->matrix);
  }
  ImageSetColorSpace(int(h.vornColorSpace));

  uint8_t lut[256];
  build_level_table(space, opt.gamma, opt.brightness, lut);
  std::fputs("INFO: Loading image file...\n", stderr);
  image_t* img = ImageOpen(filename.c_str(), space, space, opt.saturation, opt.hue, lut);
  if (!tempname.empty()) unlink(tempname.c_str());
  if (!img) {
    std::fprintf(stderr, "DEBUG: %s\n", ImageLastError());
    std::fputs("ERROR: Unable to open image file for printing!\n", stderr);
    return 1;
  }

  raster_layout lay;
  if (!compute_layout(page, ppd.get(), *img, opt.layout, h, lay, err)) {
    std::fprintf(stderr, "ERROR: %s\n", err.c_str());
    ImageClose(img);
    return 1;
  }
  // Copies: the driver repeats pages when the printer makes copies itself.
  bool collate = opt.collate && lay.xpages * lay.ypages > 1;
  bool filter_collates = collate && !ppdFindOption(ppd.get(), "Collate");
  int sets = 1;
  if (copies < 2 || filter_collates || !ppd || ppd->manual_copies) {
    h.NumCopies = 1;
    sets = copies;
  } else {
    h.Collate = collate;
    h.NumCopies = unsigned(copies);
  }

  level_tables levels = make_level_tables(h.vornBitsPerColor);
  std::fprintf(stderr, "DEBUG: vornWidth = %u\n", h.vornWidth);
  std::fprintf(stderr, "DEBUG: vornHeight = %u\n", h.vornHeight);
  std::fprintf(stderr, "DEBUG: vornBitsPerColor = %u\n", h.vornBitsPerColor);
  std::fprintf(stderr, "DEBUG: vornBitsPerPixel = %u\n", h.vornBitsPerPixel);
  std::fprintf(stderr, "DEBUG: vornBytesPerLine = %u\n", h.vornBytesPerLine);
  std::fprintf(stderr, "DEBUG: vornColorOrder = %u\n", h.vornColorOrder);
  std::fprintf(stderr, "DEBUG: vornColorSpace = %u\n", h.vornColorSpace);
  std::fprintf(stderr, "DEBUG: img->colorspace = %d\n", img->colorspace);

  vorn_raster_t* ras = vornRasterOpen(1, VORN_RASTER_WRITE);
  page_writer out{ras, h, std::vector<uint8_t>(h.vornBytesPerLine)};
  const uint8_t blank = blank_value(img->colorspace);
  const unsigned planes = h.vornColorOrder == 2 ? vornRasterPlanes(h) : 1;
  int page_number = 0;
  bool ok = true;
  for (int copy = 0; ok && copy < sets; copy++) {
    for (int tx = 0; ok && tx < lay.xpages; tx++) {
      for (int ty = 0; ok && ty < lay.ypages; ty++) {
        std::fprintf(stderr, "INFO: Formatting page %d...\n", ++page_number);
        int x0 = int(uint64_t(tx) * img->xsize / unsigned(lay.xpages));
        int x1 = int(uint64_t(tx + 1) * img->xsize / unsigned(lay.xpages)) - 1;
        int y0 = int(uint64_t(ty) * img->ysize / unsigned(lay.ypages));
        int y1 = int(uint64_t(ty + 1) * img->ysize / unsigned(lay.ypages)) - 1;
        if (!vornRasterWriteHeader(ras, h)) {
          std::fputs("ERROR: Unable to write raster data to driver!\n", stderr);
          ok = false;
          break;
        }
        for (unsigned plane = 0; ok && plane < planes; plane++) {
          image_zoom_t* z = ImageZoomAlloc(img, x0, y0, x1, y1, opt.mirror ? -int(lay.xsize) : int(lay.xsize),
                                           int(lay.ysize), lay.orientation);
          if (!z) {
            std::fputs("ERROR: Unable to scale the image\n", stderr);
            ok = false;
            break;
          }
          ok = out.blank_rows(lay.blank_above, blank);
          format_input in;
          in.header = &h;
          in.levels = &levels;
          in.xposition = lay.page_xposition;
          in.plane = int(plane);
          in.width = lay.xsize;
          in.divisor = lay.ysize;
          for (unsigned oy = 0; ok && oy < lay.ysize; oy++) {
            // Source position of this row: whole rows and the remainder
            // that weighs the next row in.
            uint64_t pos = uint64_t(oy) * unsigned(z->rows);
            int iy = int(pos / lay.ysize);
            unsigned rem = unsigned(pos % lay.ysize);
            if (h.vornBitsPerColor < 8)
              ImageZoomQFill(z, iy);
            else
              ImageZoomFill(z, iy);
            std::fill(out.row.begin(), out.row.end(), blank);
            in.y = lay.blank_above + oy;
            in.r0 = z->rowbuf[0].data();
            in.r1 = z->rowbuf[1].data();
            in.w0 = lay.ysize - rem;
            in.w1 = rem;
            format_row(in, out.row.data());
            ok = out.write(out.row.data());
          }
          if (ok) ok = out.blank_rows(h.vornHeight - lay.blank_above - lay.ysize, blank);
          ImageZoomFree(z);
        }
      }
    }
  }
  vornRasterClose(ras);
  ImageClose(img);
  return ok ? 0 : 1;
}
