// Where an image goes on raster pages: size (natural resolution, ppi,
// scaling, natural-scaling), automatic orientation, tiling over several
// pages, the page size and the header fields that follow from them.
#pragma once

#include <string>

#include "page-setup.h"
#include "vorn/image.h"
#include "vorn/ppd.h"
#include "vorn/raster.h"

namespace vorn::raster {

inline constexpr int kMaxTiles = 1000;  // pages one copy of an image may take

struct layout_options {
  double zoom = 0;             // scaling ÷ 100; 0 when not given
  int xppi = 0, yppi = 0;      // ppi option; 0 when not given
  double natural_scaling = 0;  // percent; 0 when not given
  int xposition = 0, yposition = 0;  // in the picture's own frame
};

struct raster_layout {
  int orientation = 0;          // quarter turns of the picture on the page
  int xpages = 1, ypages = 1;   // tiles across and down the picture
  unsigned xsize = 0, ysize = 0;  // scaled tile: pixels a row, rows
  int page_xposition = 0;       // placement on the page (-1, 0, 1)
  unsigned blank_above = 0;     // blank rows before the tile's rows
};

// Checks the header's resolution, colour space and depth, then lays the
// picture out and fills vornWidth, vornHeight, vornBitsPerPixel,
// vornBytesPerLine, PageSize, Margins and ImagingBoundingBox. A custom page
// size in the PPD is fitted to the tile. false with `err` when no page can
// be made (nothing is left to division by zero or overflow).
bool compute_layout(page_vars& page, ppd_file_t* ppd, const image_t& img, const layout_options& opt,
                    vorn_page_header_t& h, raster_layout& out, std::string& err);

}  // namespace vorn::raster
