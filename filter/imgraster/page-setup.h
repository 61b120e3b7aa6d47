// Page variables for the raster filters: media size, imageable area and
// orientation from the printer's PPD and the job options, through the
// filters' common page set-up (the media never turns with the orientation
// here).
#pragma once

#include "vorn/options.h"
#include "vorn/ppd.h"

namespace vorn::raster {

struct page_vars {
  int Orientation = 0;            // 0 portrait, 1 landscape, 2, 3 reverse
  bool orientation_given = false;  // landscape or orientation-requested
  float PageLeft = 18, PageRight = 594, PageBottom = 36, PageTop = 756;
  float PageWidth = 612, PageLength = 792;
};

// Opens the PPD named by the environment variable PPD (none when unset or
// unreadable), marks its defaults and the job options, and fills `page`
// from the marked page size and the options landscape,
// orientation-requested, page-left, page-right, page-bottom and page-top.
ppd_file_t* raster_page_setup(const vorn_options_t& options, page_vars& page);

}  // namespace vorn::raster
