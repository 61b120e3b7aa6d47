// What pdfconv tells the PDF engine: paper size and imageable area from the
// printer's PPD, its language level and duplex from the PPD and the job
// options. Nothing here knows the engine.
#pragma once

#include <cstdio>

#include "vorn/options.h"
#include "vorn/ppd.h"

namespace vorn::pdfconv {

struct pdf_settings {
  int width = 595, length = 792;  // points, whole numbers
  int left = 0, bottom = 0, right = 595, top = 792;
  int level = 2;  // 0: the engine's Level 1 mode, 2: its Level 2 mode
  bool duplex = false;
};

// Reads the PPD named by `ppd_path` (null or unreadable: none) with its
// defaults and the job options marked, and the options themselves. DEBUG:
// lines go to `status`.
pdf_settings read_pdf_settings(const char* ppd_path, const vorn_options_t& options, FILE* status);

}  // namespace vorn::pdfconv
