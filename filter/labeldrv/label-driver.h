// labeldrv's work: raster pages in, one label each out, for thermal label
// printers that take one bit row at a time. main.cc only reads the command
// line.
#pragma once

#include <cstdio>

#include "vorn/raster.h"

namespace vorn::label {

// Prints every page on `out`, status lines on stderr; returns the exit status.
int print_job(vorn_raster_t* ras, FILE* out);

}  // namespace vorn::label
