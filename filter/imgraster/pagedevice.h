// The raster page header from a printer's PPD: the page-device code of its
// choices (setpagedevice dictionaries) read key by key.
#pragma once

#include <string>
#include <string_view>

#include "vorn/ppd.h"
#include "vorn/raster.h"

namespace vorn::raster {

// The header every page starts from: all zero, one bit per colour, chunky,
// black (space 3), 100 × 100 dots per inch.
vorn_page_header_t default_header();

// Reads "/Key value" pairs from PostScript code into the header: integers
// for vornMediaType, vornBitsPerColor, vornColorOrder, vornColorSpace,
// vornCompression, vornRowCount, vornRowFeed, vornRowStep, CutMedia,
// MediaPosition (or vornMediaPosition); true or false for Duplex, Tumble
// and Collate; "[x y]" for HWResolution; strings
// for MediaClass, MediaColor, MediaType, OutputType (63 bytes at most).
// Other keys and values are skipped.
void apply_pagedevice_code(std::string_view code, vorn_page_header_t& h);

// The PPD's patch file, then the marked choices of the DocumentSetup,
// AnySetup, Prolog and PageSetup sections in that order.
void header_from_ppd(ppd_file_t* ppd, vorn_page_header_t& h);

}  // namespace vorn::raster
