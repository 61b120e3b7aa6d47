#include <cerrno>
#include <cstring>
#include <ctime>

#include "filter/common/ps-procs.h"
#include "filter/imgconv/imgconv.h"
#include "filter/imgconv/ps-encode.h"

namespace vorn::imgconv {
namespace {

vorn_page_t common_page(const imgconv_job& job) {
  vorn_page_t p;
  p.Orientation = 0;  // the picture turns, the page does not
  p.LanguageLevel = job.language_level;
  p.PageLeft = job.page.PageLeft;
  p.PageRight = job.page.PageRight;
  p.PageBottom = job.page.PageBottom;
  p.PageTop = job.page.PageTop;
  p.PageWidth = job.page.PageWidth;
  p.PageLength = job.page.PageLength;
  return p;
}

void write_header(const imgconv_job& job, int pages) {
  FILE* out = job.out;
  if (job.ppd) {
    ppdEmit(job.ppd, out, PPD_ORDER_EXIT);
    ppdEmitJCL(job.ppd, out, job.job_id, job.user.c_str(), job.title.c_str());
  }
  const raster::page_vars& p = job.page;
  std::fputs("%!PS-Adobe-3.0\n", out);
  std::fprintf(out, "%%%%BoundingBox: %.0f %.0f %.0f %.0f\n", p.PageLeft, p.PageBottom, p.PageRight, p.PageTop);
  std::fprintf(out, "%%%%LanguageLevel: %d\n", job.language_level);
  std::fprintf(out, "%%%%Pages: %d\n", pages);
  std::fputs("%%DocumentData: Clean7Bit\n", out);
  std::fputs("%%DocumentNeededResources: font Helvetica-Bold\n", out);
  std::fputs("%%Creator: imgconv/VORN v1.1\n", out);
  char date[256];
  time_t now = time(nullptr);
  struct tm tm;
  std::strftime(date, sizeof(date), "%c", localtime_r(&now, &tm));
  std::fprintf(out, "%%%%CreationDate: %s\n", date);
  // DSC text values end at the line: a title or user name cannot add lines.
  auto one_line = [](std::string s) {
    for (char& c : s)
      if (c == '\n' || c == '\r') c = ' ';
    return s;
  };
  std::fprintf(out, "%%%%Title: %s\n", one_line(job.title).c_str());
  std::fprintf(out, "%%%%For: %s\n", one_line(job.user).c_str());
  std::fputs("%%Orientation: Portrait\n", out);
  std::fputs("%%EndComments\n", out);

  std::fputs("%%BeginProlog\n", out);
  if (job.ppd) {
    if (!job.ppd->patches.empty()) {
      std::fputs(job.ppd->patches.c_str(), out);
      if (job.ppd->patches.back() != '\n') std::fputc('\n', out);
    }
    ppdEmit(job.ppd, out, PPD_ORDER_DOCUMENT);
    ppdEmit(job.ppd, out, PPD_ORDER_ANY);
    ppdEmit(job.ppd, out, PPD_ORDER_PROLOG);
  }
  if (job.gamma != 1.0 || job.brightness != 1.0)
    std::fprintf(out, "{ neg 1 add dup 0 lt { pop 1 } { %.3f exp neg 1 add } ifelse %.3f mul } bind settransfer\n",
                 job.gamma, job.brightness);
  write_rect_procs(out);
  write_label_proc(out, job.label.empty() ? nullptr : job.label.c_str(), p.PageBottom, p.PageTop, p.PageWidth);
  if (job.hw_copies > 1) {
    if (job.ppd && job.ppd->language_level != 1)
      std::fprintf(out, "<</NumCopies %d>>setpagedevice\n", job.hw_copies);
    else
      std::fprintf(out, "/#copies %d def\n", job.hw_copies);
  }
  std::fputs("%%EndProlog\n", out);
}

// The picture's unit square turned by the layout's quarter turns
// (counter-clockwise), then mirrored in its own frame.
void write_picture_frame(const imgconv_job& job) {
  static const char* const kTurns[4] = {"", "1 0 translate 90 rotate\n", "1 1 translate 180 rotate\n",
                                         "0 1 translate -90 rotate\n"};
  std::fputs(kTurns[job.lay.orientation & 3], job.out);
  if (job.mirror) std::fputs("1 0 translate -1 1 scale\n", job.out);
}

// Feeds the tile's rows to an encoder straight from the picture: one block
// when the tile spans whole rows, else a row at a time.
template <class Encoder>
void encode_tile(const image_t& img, int x0, int y0, int w, int h, Encoder& enc) {
  const size_t depth = size_t(ImageDepth(img.colorspace));
  const size_t stride = size_t(img.xsize) * depth;
  const uint8_t* first = img.pixels.data() + size_t(y0) * stride + size_t(x0) * depth;
  if (unsigned(w) == img.xsize) {
    enc.write(first, stride * size_t(h));
  } else {
    for (int y = 0; y < h; y++) enc.write(first + size_t(y) * stride, size_t(w) * depth);
  }
  enc.finish();
}

void write_tile(const imgconv_job& job, int xp, int yp) {
  FILE* out = job.out;
  const image_t& img = *job.img;
  const raster::raster_layout& lay = job.lay;
  const int depth = ImageDepth(img.colorspace);
  int x0 = int(uint64_t(xp) * img.xsize / unsigned(lay.xpages));
  int x1 = int(uint64_t(xp + 1) * img.xsize / unsigned(lay.xpages)) - 1;
  int y0 = int(uint64_t(yp) * img.ysize / unsigned(lay.ypages));
  int y1 = int(uint64_t(yp + 1) * img.ysize / unsigned(lay.ypages)) - 1;
  int w = x1 - x0 + 1, h = y1 - y0 + 1;

  // The tile's box on the page, in points.
  const raster::page_vars& p = job.page;
  const double scale = 72.0 / kLayoutResolution;
  double bw = lay.xsize * scale, bh = lay.ysize * scale;
  double spare = (p.PageRight - p.PageLeft) - bw;
  double left = p.PageLeft + (lay.page_xposition < 0 ? 0 : lay.page_xposition > 0 ? spare : spare / 2);
  double bottom = p.PageTop - lay.blank_above * scale - bh;
  std::fprintf(out, "%.2f %.2f translate\n%.3f %.3f scale\n", left, bottom, bw, bh);
  write_picture_frame(job);

  // Pixels per inch of the picture as printed: smoothed below 100.
  double printed_inches = (lay.orientation & 1 ? bh : bw) / 72.0;
  bool interpolate = printed_inches > 0 && w / printed_inches < 100;
  if (job.language_level != 1) {
    const char* space = depth == 4 ? "/DeviceCMYK" : depth == 1 ? "/DeviceGray" : "/DeviceRGB";
    const char* decode = depth == 4 ? "[0 1 0 1 0 1 0 1]" : depth == 1 ? "[0 1]" : "[0 1 0 1 0 1]";
    std::fprintf(out, "%s setcolorspace\n", space);
    std::fprintf(out,
                 "<</ImageType 1/Width %d/Height %d/BitsPerComponent 8/Decode%s"
                 "/DataSource currentfile /ASCII85Decode filter%s/ImageMatrix[%d 0 0 %d 0 %d]>>image\n",
                 w, h, decode, interpolate ? "/Interpolate true" : "", w, -h, h);
    ascii85_writer enc(out);
    encode_tile(img, x0, y0, w, h, enc);
  } else {
    std::fprintf(out, "/picture %d string def\n", depth * w);
    std::fprintf(out, "%d %d 8[%d 0 0 %d 0 %d]", w, h, w, -h, h);
    if (depth == 1)
      std::fputs("{currentfile picture readhexstring pop} image\n", out);
    else
      std::fprintf(out, "{currentfile picture readhexstring pop} false %d colorimage\n", depth);
    hex_writer enc(out);
    encode_tile(img, x0, y0, w, h, enc);
  }
}

}  // namespace

int write_document(const imgconv_job& job) {
  const raster::raster_layout& lay = job.lay;
  write_header(job, lay.xpages * lay.ypages * job.sets);
  std::fprintf(job.status, "DEBUG: xpages=%d, ypages=%d, Orientation=%d, xsize=%.1f, ysize=%.1f\n", lay.xpages,
               lay.ypages, lay.orientation, lay.xsize * 72 / kLayoutResolution,
               lay.ysize * 72 / kLayoutResolution);
  const bool page_lines = job.ppd && job.ppd->filters.empty();
  const vorn_page_t label_page = common_page(job);
  int page = 0;
  // A write error ends the pages: nothing more can reach the printer.
  bool failed = false;
  for (int copy = 0; copy < job.sets && !failed; copy++) {
    for (int xp = 0; xp < lay.xpages && !failed; xp++) {
      for (int yp = 0; yp < lay.ypages && !failed; yp++) {
        page++;
        if (page_lines) std::fprintf(job.status, "PAGE: %d %d\n", page, job.hw_copies);
        std::fprintf(job.status, "INFO: Printing page %d...\n", page);
        std::fprintf(job.out, "%%%%Page: %d %d\n", page, page);
        if (job.ppd) ppdEmit(job.ppd, job.out, PPD_ORDER_PAGE);
        std::fputs("gsave\n", job.out);
        write_tile(job, xp, yp);
        std::fputs("grestore\n", job.out);
        write_page_labels(job.out, label_page, 0);
        std::fputs("showpage\n", job.out);
        failed = std::ferror(job.out) != 0;
      }
    }
  }
  std::fputs("%%EOF\n", job.out);
  if (job.ppd && !job.ppd->jcl_end.empty())
    std::fputs(job.ppd->jcl_end.c_str(), job.out);
  else
    std::fputc(0x04, job.out);
  if (std::fflush(job.out) != 0 || std::ferror(job.out)) {
    std::fprintf(job.status, "ERROR: Unable to write print data - %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace vorn::imgconv
