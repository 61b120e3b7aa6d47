// escpdrv's work: raster pages in, ESC/P (dot-matrix) or ESC/P2 (inkjet)
// commands out. main.cc only reads the command line, PPD and device URI.
#pragma once

#include <cstdio>
#include <string>

#include "vorn/raster.h"

namespace vorn::escp {

struct printer {
  int model = 0;            // 0, 1 dot-matrix; 2, 3 ESC/P2; 4 and above the "i" raster command
  bool okidata = false;     // the nickname names an Okidata printer
  bool usb = false;         // DEVICE_URI starts with "usb:"
  float margin_length = 0;  // page size whose imageable top sets the top margin:
  float margin_top = 0;     // the PPD's second (else first) size; 0 without one
};

inline bool dot_matrix(int model) { return model < 2; }

// Prints every page on `out`, status lines on stderr; returns the exit status.
int print_job(vorn_raster_t* ras, const printer& p, FILE* out);

}  // namespace vorn::escp
