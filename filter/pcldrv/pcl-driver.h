// pcldrv's work: raster pages in, PCL out. main.cc only reads the command
// line and the PPD.
#pragma once

#include <cstdio>

#include "vorn/raster.h"

namespace vorn::pcl {

struct printer {
  int model = 0;              // the PPD's model number; 0 without a PPD
  bool have_ppd = false;
  float first_length = 0;     // the PPD's first page size: length and
  float first_top = 0;        // top of the imageable area, points
};

// Prints every page of the stream on `out`, status lines on stderr.
// Returns the exit status: 0 when at least one page was printed and the
// stream ended cleanly, 1 otherwise.
int print_job(vorn_raster_t* ras, const printer& p, FILE* out);

}  // namespace vorn::pcl
