#include "filter/pdfconv/pdf-settings.h"

#include <strings.h>

namespace vorn::pdfconv {
namespace {

constexpr const char* kDuplexOptions[] = {"Duplex", "JCLDuplex", "EFDuplex", "KD03Duplex"};

// Sizes in a PPD are floats; whole points toward zero, kept in a range no
// engine arithmetic overflows on.
int points(float v) {
  if (!(v > -100000.0f)) return 0;
  if (v > 100000.0f) return 100000;
  return int(v);
}

bool duplex_from(const vorn_options_t& options, ppd_file_t* ppd) {
  if (const char* v = vornGetOption("sides", options)) {
    if (strncasecmp(v, "two-", 4) == 0) return true;
  }
  for (const char* name : kDuplexOptions) {
    if (const char* v = vornGetOption(name, options)) {
      if (strncasecmp(v, "Duplex", 6) == 0) return true;
    }
  }
  if (!ppd) return false;
  for (const char* name : kDuplexOptions) {
    if (ppdIsMarked(ppd, name, "DuplexNoTumble") || ppdIsMarked(ppd, name, "DuplexTumble")) return true;
  }
  return false;
}

}  // namespace

pdf_settings read_pdf_settings(const char* ppd_path, const vorn_options_t& options, FILE* status) {
  pdf_settings s;
  vorn::ppd_file_ptr ppd(ppd_path ? ppdOpenFile(ppd_path) : nullptr);
  if (ppd) {
    std::fprintf(status, "DEBUG: pdfconv - opened PPD file \"%s\"...\n", ppd_path);
    ppdMarkDefaults(ppd.get());
    vornMarkOptions(ppd.get(), options);
    if (const ppd_size_t* size = ppdPageSize(ppd.get(), nullptr)) {
      // A size with no area would leave the engine nothing to draw on.
      if (size->width > 0 && size->length > 0 && size->right > size->left && size->top > size->bottom) {
        s.width = points(size->width);
        s.length = points(size->length);
        s.left = points(size->left);
        s.bottom = points(size->bottom);
        s.right = points(size->right);
        s.top = points(size->top);
      }
    }
    s.level = ppd->language_level == 1 ? 0 : 2;
  }
  s.duplex = duplex_from(options, ppd.get());
  std::fprintf(status, "DEBUG: pdfconv - level = %d, width = %d, length = %d\n", s.level, s.width, s.length);
  return s;
}

}  // namespace vorn::pdfconv
