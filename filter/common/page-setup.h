// Page set-up shared by the filters that lay out pages (PostScript and
// raster alike): the media and imageable area of the printer's PPD, as
// changed by the job options, turned into the frame of the requested
// orientation. Nothing here writes PostScript.
#pragma once

#include <cstdio>

#include "vorn/options.h"
#include "vorn/ppd.h"

// The page variables of one filter process. Lengths are in points; the
// defaults are US Letter with quarter-inch sides and half-inch top and bottom.
struct vorn_page_t {
  int Orientation = 0;  // 0 portrait, 1 landscape, 2 reverse portrait, 3 reverse landscape
  bool Duplex = false;
  int LanguageLevel = 1;
  bool ColourCapable = true;
  float PageLeft = 18, PageRight = 594, PageBottom = 36, PageTop = 756;
  float PageWidth = 612, PageLength = 792;
};

// Opens the PPD named by the environment variable PPD (absent or unreadable:
// none), marks its defaults and the job options, and fills `page` from the
// marked size, the PPD's language level and colour flag, the orientation
// options and the margin options. With `change_size` the variables are then
// turned into the frame of the orientation. DEBUG: lines go to `status`.
// The caller owns the returned record (ppdClose).
//
// Values that would leave no page to draw on are not used: a marked size
// with no width or length keeps the default media, and margin options that
// leave an empty imageable area, or one outside the media, are ignored.
ppd_file_t* page_setup_from_options(vorn_page_t& page, const vorn_options_t& options, bool change_size,
                                    FILE* status);

// Rewrites the six size variables for page.Orientation (low two bits).
void rotate_page_frame(vorn_page_t& page);

// The orientation named by the options `landscape` and
// `orientation-requested`, or `current` when neither is given.
int orientation_from_options(const vorn_options_t& options, int current);
