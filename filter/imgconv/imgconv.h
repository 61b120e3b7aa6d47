// imgconv: an image file as a DSC PostScript document of 8-bit image data,
// sized and placed as the raster filter places it.
#pragma once

#include <cstdio>
#include <string>

#include "filter/imgraster/layout.h"
#include "filter/imgraster/page-setup.h"
#include "vorn/image.h"
#include "vorn/ppd.h"

namespace vorn::imgconv {

// Resolution the layout is computed at: a tenth of a point, so placement
// and size are not rounded to whole points.
inline constexpr double kLayoutResolution = 720;

struct imgconv_job {
  FILE* out = stdout;
  FILE* status = stderr;
  ppd_file_t* ppd = nullptr;
  const image_t* img = nullptr;
  raster::page_vars page;      // media and imageable area, portrait frame
  raster::raster_layout lay;   // tiles, picture turn, placement
  int language_level = 1;
  bool mirror = false;
  double gamma = 1, brightness = 1;
  int sets = 1;        // times the filter writes the document's pages
  int hw_copies = 1;   // copies the printer makes of each page
  int job_id = 0;
  std::string user, title, label;
};

// Writes the whole document. 0, or 1 after an ERROR: line on job.status
// when the output could not be written.
int write_document(const imgconv_job& job);

}  // namespace vorn::imgconv
