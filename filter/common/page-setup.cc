// Page variables from the PPD and the job options.
#include "filter/common/page-setup.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

#include "vorn/strings.h"

namespace {

// The leading decimal number of `s` ("72pt" is 72); anything else is 0, as
// are values too large to be lengths.
float leading_number(const char* s) {
  std::string_view v(s);
  size_t i = 0;
  while (i < v.size() && vorn::isspace(v[i])) i++;
  size_t start = i;
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) i++;
  size_t digits = 0;
  while (i < v.size() && vorn::isdigit(v[i])) i++, digits++;
  if (i < v.size() && v[i] == '.') {
    i++;
    while (i < v.size() && vorn::isdigit(v[i])) i++, digits++;
  }
  if (digits == 0) return 0;
  if (i < v.size() && (v[i] == 'e' || v[i] == 'E')) {
    size_t j = i + 1;
    if (j < v.size() && (v[j] == '+' || v[j] == '-')) j++;
    if (j < v.size() && vorn::isdigit(v[j])) {
      while (j < v.size() && vorn::isdigit(v[j])) j++;
      i = j;
    }
  }
  double d = std::strtod(std::string(v.substr(start, i - start)).c_str(), nullptr);
  if (!std::isfinite(d) || std::fabs(d) > 1e7) return 0;
  return float(d);
}

// The leading decimal integer of `s`, 0 when there is none; clamped so that
// arithmetic on it cannot overflow.
int leading_int(const char* s) {
  long v = std::strtol(s, nullptr, 10);
  if (v > 1000000) v = 1000000;
  if (v < -1000000) v = -1000000;
  return int(v);
}

bool area_is_usable(const vorn_page_t& p) {
  return p.PageWidth > 0 && p.PageLength > 0 && p.PageLeft >= 0 && p.PageBottom >= 0 &&
         p.PageLeft < p.PageRight && p.PageBottom < p.PageTop && p.PageRight <= p.PageWidth &&
         p.PageTop <= p.PageLength;
}

void apply_margins(vorn_page_t& p, const vorn_options_t& options) {
  const int o = p.Orientation & 3;
  if (const char* v = vornGetOption("page-left", options)) {
    float m = leading_number(v);
    switch (o) {
      case 0: p.PageLeft = m; break;
      case 1: p.PageBottom = m; break;
      case 2: p.PageRight = p.PageWidth - m; break;
      case 3: p.PageTop = p.PageLength - m; break;
    }
  }
  if (const char* v = vornGetOption("page-right", options)) {
    float m = leading_number(v);
    switch (o) {
      case 0: p.PageRight = p.PageWidth - m; break;
      case 1: p.PageTop = p.PageLength - m; break;
      case 2: p.PageLeft = m; break;
      case 3: p.PageBottom = m; break;
    }
  }
  if (const char* v = vornGetOption("page-bottom", options)) {
    float m = leading_number(v);
    switch (o) {
      case 0: p.PageBottom = m; break;
      case 1: p.PageLeft = m; break;
      case 2: p.PageTop = p.PageLength - m; break;
      case 3: p.PageRight = p.PageWidth - m; break;
    }
  }
  if (const char* v = vornGetOption("page-top", options)) {
    float m = leading_number(v);
    switch (o) {
      case 0: p.PageTop = p.PageLength - m; break;
      case 1: p.PageRight = p.PageWidth - m; break;
      case 2: p.PageBottom = m; break;
      case 3: p.PageLeft = m; break;
    }
  }
}

}  // namespace

int orientation_from_options(const vorn_options_t& options, int current) {
  if (const char* v = vornGetOption("landscape", options)) {
    if (!vorn::iequals(v, "no") && !vorn::iequals(v, "off") && !vorn::iequals(v, "false")) return 1;
    return current;
  }
  if (const char* v = vornGetOption("orientation-requested", options)) {
    int o = leading_int(v) - 3;
    if (o >= 2) o ^= 1;
    // Values outside 3-6 keep only the low two bits, so that every part of
    // the geometry sees the same orientation.
    return o & 3;
  }
  return current;
}

ppd_file_t* page_setup_from_options(vorn_page_t& page, const vorn_options_t& options, bool change_size,
                                    FILE* status) {
  // Dates the filters write follow the user's locale.
  std::setlocale(LC_TIME, "");

  const char* name = std::getenv("PPD");
  ppd_file_t* ppd = name ? ppdOpenFile(name) : nullptr;
  ppdMarkDefaults(ppd);
  vornMarkOptions(ppd, options);

  if (const ppd_size_t* size = ppdPageSize(ppd, nullptr)) {
    if (size->width > 0 && size->length > 0) {
      page.PageWidth = size->width;
      page.PageLength = size->length;
      page.PageLeft = size->left;
      page.PageBottom = size->bottom;
      page.PageRight = size->right;
      page.PageTop = size->top;
      if (!area_is_usable(page)) {
        std::fprintf(status, "DEBUG: Imageable area of %s is empty, using the whole media\n", size->name.c_str());
        page.PageLeft = page.PageBottom = 0;
        page.PageRight = page.PageWidth;
        page.PageTop = page.PageLength;
      }
      std::fprintf(status, "DEBUG: Page = %.0fx%.0f; %.0f,%.0f to %.0f,%.0f\n", page.PageWidth, page.PageLength,
                   page.PageLeft, page.PageBottom, page.PageRight, page.PageTop);
    } else {
      std::fprintf(status, "DEBUG: Page size %s has no width or length, using the default media\n",
                   size->name.c_str());
    }
  }

  if (ppd) {
    page.ColourCapable = ppd->color_device;
    page.LanguageLevel = ppd->language_level;
  }

  page.Orientation = orientation_from_options(options, page.Orientation);

  const vorn_page_t before = page;
  apply_margins(page, options);
  if (!area_is_usable(page)) {
    std::fprintf(status, "DEBUG: Margins leave no imageable area, ignoring them\n");
    page = before;
  }

  if (change_size) rotate_page_frame(page);

  static const char* const kDuplexOptions[] = {"Duplex", "JCLDuplex", "EFDuplex", "KD03Duplex"};
  for (const char* o : kDuplexOptions) {
    if (ppdIsMarked(ppd, o, "DuplexNoTumble") || ppdIsMarked(ppd, o, "DuplexTumble")) page.Duplex = true;
  }
  return ppd;
}

void rotate_page_frame(vorn_page_t& p) {
  const vorn_page_t o = p;
  switch (p.Orientation & 3) {
    case 0:
      break;
    case 1:
      p.PageLeft = o.PageBottom;
      p.PageRight = o.PageTop;
      p.PageBottom = o.PageLeft;
      p.PageTop = o.PageRight;
      p.PageWidth = o.PageLength;
      p.PageLength = o.PageWidth;
      break;
    case 2:
      p.PageLeft = o.PageWidth - o.PageRight;
      p.PageRight = o.PageWidth - o.PageLeft;
      p.PageBottom = o.PageLength - o.PageTop;
      p.PageTop = o.PageLength - o.PageBottom;
      break;
    case 3:
      p.PageLeft = o.PageLength - o.PageTop;
      p.PageRight = o.PageLength - o.PageBottom;
      p.PageBottom = o.PageWidth - o.PageRight;
      p.PageTop = o.PageWidth - o.PageLeft;
      p.PageWidth = o.PageLength;
      p.PageLength = o.PageWidth;
      break;
  }
}
