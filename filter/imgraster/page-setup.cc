#include "page-setup.h"

#include <cstdio>

#include "filter/common/page-setup.h"

namespace vorn::raster {

ppd_file_t* raster_page_setup(const vorn_options_t& options, page_vars& page) {
  // The filters' one page set-up, without turning the media: a raster page
  // stays in the media's frame whatever the orientation.
  vorn_page_t common;
  ppd_file_t* ppd = page_setup_from_options(common, options, false, stderr);
  page.Orientation = common.Orientation;
  page.orientation_given =
      vornGetOption("landscape", options) != nullptr || vornGetOption("orientation-requested", options) != nullptr;
  page.PageLeft = common.PageLeft;
  page.PageRight = common.PageRight;
  page.PageBottom = common.PageBottom;
  page.PageTop = common.PageTop;
  page.PageWidth = common.PageWidth;
  page.PageLength = common.PageLength;
  return ppd;
}

}  // namespace vorn::raster
