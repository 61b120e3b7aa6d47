#include "layout.h"

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <tuple>
#include <utility>

#include "format.h"

namespace vorn::raster {
namespace {

struct size2 {
  double w, h;
};

// The largest picture of the image's shape within aw × ah, times zoom.
size2 fit(double aw, double ah, double zoom, const image_t& img, double aspect) {
  size2 s{aw * zoom, 0};
  s.h = s.w * img.ysize / img.xsize / aspect;
  if (s.h > ah * zoom) {
    s.h = ah * zoom;
    s.w = s.h * img.xsize * aspect / img.ysize;
  }
  return s;
}

int pages_for(double inches, double avail) {
  double n = std::ceil(inches / avail - 1e-9);
  return n < 1 ? 1 : n > kMaxTiles ? kMaxTiles + 1 : int(n);
}

}  // namespace

bool compute_layout(page_vars& page, ppd_file_t* ppd, const image_t& img, const layout_options& opt,
                    vorn_page_header_t& h, raster_layout& out, std::string& err) {
  if (h.vornColorSpace > 15 || image_space_for(h.vornColorSpace) == 0) {
    err = "Unsupported colour space " + std::to_string(h.vornColorSpace);
    return false;
  }
  if (h.vornColorSpace == 15 && h.vornBitsPerColor < 8) h.vornBitsPerColor = 8;
  if (bits_per_pixel_for(h.vornColorSpace, h.vornBitsPerColor, h.vornColorOrder) == 0) {
    err = "Unsupported bits per colour " + std::to_string(h.vornBitsPerColor) + " or colour order " +
          std::to_string(h.vornColorOrder);
    return false;
  }
  const double xres = h.HWResolution[0], yres = h.HWResolution[1];
  if (xres <= 0 || yres <= 0 || xres > 100000 || yres > 100000) {
    err = "Bad printer resolution " + std::to_string(h.HWResolution[0]) + "x" + std::to_string(h.HWResolution[1]);
    return false;
  }
  const double pw = (page.PageRight - page.PageLeft) / 72.0, ph = (page.PageTop - page.PageBottom) / 72.0;
  if (!(pw > 0) || !(ph > 0)) {
    err = "The printable area of the page is empty";
    return false;
  }
  if (img.xsize == 0 || img.ysize == 0) {
    err = "The image has no pixels";
    return false;
  }
  int o = page.orientation_given ? page.Orientation & 3 : 0;
  auto avail = [&](int orient) { return orient & 1 ? size2{ph, pw} : size2{pw, ph}; };
  double xinches, yinches;
  int xppi = opt.xppi, yppi = opt.yppi;
  if (opt.zoom == 0 && xppi == 0) {
    xppi = int(img.xppi);
    yppi = int(img.yppi);
  }
  if (xppi > 0) {
    if (yppi <= 0) yppi = xppi;
    xinches = double(img.xsize) / xppi;
    yinches = double(img.ysize) / yppi;
    std::fprintf(stderr, "DEBUG: Image size is %.1f x %.1f inches...\n", xinches, yinches);
    if (opt.natural_scaling > 0) {
      xinches *= opt.natural_scaling / 100;
      yinches *= opt.natural_scaling / 100;
    }
    if (!page.orientation_given) {
      std::fputs("DEBUG: Auto orientation...\n", stderr);
      if ((xinches > pw || yinches > ph) && xinches <= ph && yinches <= pw) {
        std::fputs("DEBUG: Using landscape orientation...\n", stderr);
        o = 1;
      }
    }
  } else {
    // Neither scaling, ppi nor a resolution in the file: fit the page.
    double zoom = opt.zoom > 0 ? opt.zoom : 1.0;
    double aspect = img.xppi > 0 && img.yppi > 0 ? double(img.yppi) / img.xppi : 1.0;
    std::fprintf(stderr, "DEBUG: Before scaling: xprint=%.1f, yprint=%.1f\n", pw, ph);
    std::fprintf(stderr, "DEBUG: img->xppi = %u, img->yppi = %u, aspect = %f\n", img.xppi, img.yppi, aspect);
    size2 portrait = fit(pw, ph, zoom, img, aspect), landscape = fit(ph, pw, zoom, img, aspect);
    std::fprintf(stderr, "DEBUG: Portrait size is %.2f x %.2f inches\n", portrait.w, portrait.h);
    std::fprintf(stderr, "DEBUG: Landscape size is %.2f x %.2f inches\n", landscape.w, landscape.h);
    if (!page.orientation_given) {
      std::fputs("DEBUG: Auto orientation...\n", stderr);
      if (portrait.w * portrait.h < landscape.w * landscape.h) {
        std::fputs("DEBUG: Using landscape orientation...\n", stderr);
        o = 1;
      } else {
        std::fputs("DEBUG: Using portrait orientation...\n", stderr);
      }
    }
    size2 s = o & 1 ? landscape : portrait;
    xinches = s.w;
    yinches = s.h;
  }
  if (!(xinches > 0) || !(yinches > 0) || !std::isfinite(xinches) || !std::isfinite(yinches)) {
    err = "The image size comes out as zero";
    return false;
  }
  size2 a = avail(o);
  out.orientation = o;
  out.xpages = pages_for(xinches, a.w);
  out.ypages = pages_for(yinches, a.h);
  std::fprintf(stderr, "DEBUG: xpages = %d, ypages = %d\n", out.xpages, out.ypages);
  if (out.xpages > kMaxTiles || out.ypages > kMaxTiles || out.xpages * out.ypages > kMaxTiles) {
    err = "The image would take more than " + std::to_string(kMaxTiles) + " pages";
    return false;
  }
  const double tile_w = xinches / out.xpages, tile_h = yinches / out.ypages;
  // The tile in the page's frame.
  const double fw = o & 1 ? tile_h : tile_w, fl = o & 1 ? tile_w : tile_h;

  const ppd_choice_t* size_choice = ppdFindMarkedChoice(ppd, "PageSize");
  if (ppd && size_choice && size_choice->choice == "Custom" && ppd->variable_sizes) {
    const float* m = ppd->custom_margins;
    double width = std::max(fw * 72 + m[0] + m[2], double(ppd->custom_min[0]));
    double length = std::max(fl * 72 + m[1] + m[3], double(ppd->custom_min[1]));
    std::fprintf(stderr, "DEBUG: Updated custom page size to %.2f x %.2f inches...\n", width / 72, length / 72);
    page.PageWidth = float(width);
    page.PageLength = float(length);
    page.PageLeft = m[0];
    page.PageRight = float(width - m[2]);
    page.PageBottom = m[1];
    page.PageTop = float(length - m[3]);
  }
  double vw = (page.PageRight - page.PageLeft) * xres / 72, vh = (page.PageTop - page.PageBottom) * yres / 72;
  if (!(vw >= 1) || !(vh >= 1) || vw > VORN_RASTER_MAX_DIM || vh > VORN_RASTER_MAX_DIM) {
    err = "The raster page would be " + std::to_string(vw) + " x " + std::to_string(vh) + " pixels";
    return false;
  }
  h.vornWidth = unsigned(vw);
  h.vornHeight = unsigned(vh);
  h.PageSize[0] = unsigned(page.PageWidth + 0.5f);
  h.PageSize[1] = unsigned(page.PageLength + 0.5f);
  h.Margins[0] = unsigned(std::max(0.0f, page.PageLeft));
  h.Margins[1] = unsigned(std::max(0.0f, page.PageBottom));
  std::fprintf(stderr, "DEBUG: PageSize = [%d %d]\n", h.PageSize[0], h.PageSize[1]);

  double xs = xres * fw, ys = yres * fl;
  out.xsize = xs < 1 ? 1 : xs > h.vornWidth ? h.vornWidth : unsigned(xs);
  out.ysize = ys < 1 ? 1 : ys > h.vornHeight ? h.vornHeight : unsigned(ys);

  // Placement asked for in the picture's frame, turned with the picture
  // (counter-clockwise quarter turns).
  int px = opt.xposition, py = opt.yposition;
  switch (o) {
    case 1: std::tie(px, py) = std::pair(-opt.yposition, opt.xposition); break;
    case 2: std::tie(px, py) = std::pair(-opt.xposition, -opt.yposition); break;
    case 3: std::tie(px, py) = std::pair(opt.yposition, -opt.xposition); break;
    default: break;
  }
  out.page_xposition = px;
  unsigned spare_rows = h.vornHeight - out.ysize, spare_cols = h.vornWidth - out.xsize;
  out.blank_above = py > 0 ? 0 : py < 0 ? spare_rows : spare_rows / 2;
  unsigned left_cols = px < 0 ? 0 : px > 0 ? spare_cols : spare_cols / 2;
  double left = page.PageLeft + left_cols * 72 / xres, top = page.PageTop - out.blank_above * 72 / yres;
  h.ImagingBoundingBox[0] = unsigned(std::max(0.0, left));
  h.ImagingBoundingBox[1] = unsigned(std::max(0.0, top - out.ysize * 72 / yres));
  h.ImagingBoundingBox[2] = unsigned(std::max(0.0, left + out.xsize * 72 / xres));
  h.ImagingBoundingBox[3] = unsigned(std::max(0.0, top));

  h.vornBitsPerPixel = bits_per_pixel_for(h.vornColorSpace, h.vornBitsPerColor, h.vornColorOrder);
  h.vornBytesPerLine = bytes_per_line_for(h.vornColorSpace, h.vornBitsPerColor, h.vornColorOrder, h.vornWidth);
  if (const char* why = vornRasterHeaderProblem(h)) {
    err = std::string("Cannot make the raster page: ") + why;
    return false;
  }
  return true;
}

}  // namespace vorn::raster
