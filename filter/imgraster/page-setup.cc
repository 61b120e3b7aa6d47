#include "page-setup.h"

#include <cstdio>
#include <cstdlib>
#include <strings.h>

namespace vorn::raster {

ppd_file_t* raster_page_setup(const vorn_options_t& options, page_vars& page) {
  const char* name = std::getenv("PPD");
  ppd_file_t* ppd = name ? ppdOpenFile(name) : nullptr;
  ppdMarkDefaults(ppd);
  vornMarkOptions(ppd, options);
  if (const ppd_size_t* size = ppdPageSize(ppd, nullptr)) {
    page.PageWidth = size->width;
    page.PageLength = size->length;
    page.PageLeft = size->left;
    page.PageBottom = size->bottom;
    page.PageRight = size->right;
    page.PageTop = size->top;
    std::fprintf(stderr, "DEBUG: Page = %.0fx%.0f; %.0f,%.0f to %.0f,%.0f\n", size->width, size->length,
                 size->left, size->bottom, size->right, size->top);
  }
  if (const char* v = vornGetOption("landscape", options)) {
    page.orientation_given = true;
    if (strcasecmp(v, "no") != 0 && strcasecmp(v, "off") != 0 && strcasecmp(v, "false") != 0) page.Orientation = 1;
  } else if (const char* o = vornGetOption("orientation-requested", options)) {
    int n = std::atoi(o) - 3;
    if (n >= 0 && n <= 3) {
      page.orientation_given = true;
      page.Orientation = n >= 2 ? n ^ 1 : n;
    }
  }
  // Margins in points, in the frame of the requested orientation.
  const int o = page.Orientation & 3;
  const float w = page.PageWidth, l = page.PageLength;
  if (const char* v = vornGetOption("page-left", options)) {
    float m = float(std::atof(v));
    float* targets[4] = {&page.PageLeft, &page.PageBottom, &page.PageRight, &page.PageTop};
    *targets[o] = o == 0 || o == 1 ? m : (o == 2 ? w - m : l - m);
  }
  if (const char* v = vornGetOption("page-right", options)) {
    float m = float(std::atof(v));
    float* targets[4] = {&page.PageRight, &page.PageTop, &page.PageLeft, &page.PageBottom};
    *targets[o] = o == 0 ? w - m : o == 1 ? l - m : m;
  }
  if (const char* v = vornGetOption("page-bottom", options)) {
    float m = float(std::atof(v));
    float* targets[4] = {&page.PageBottom, &page.PageLeft, &page.PageTop, &page.PageRight};
    *targets[o] = o == 0 || o == 1 ? m : (o == 2 ? l - m : w - m);
  }
  if (const char* v = vornGetOption("page-top", options)) {
    float m = float(std::atof(v));
    float* targets[4] = {&page.PageTop, &page.PageRight, &page.PageBottom, &page.PageLeft};
    *targets[o] = o == 0 ? l - m : o == 1 ? w - m : m;
  }
  return ppd;
}

}  // namespace vorn::raster
