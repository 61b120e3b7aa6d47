// What the raster printer drivers (pcldrv, escpdrv, labeldrv) share: the
// command line and input, page headers read with a clear refusal, the
// SIGTERM flag, blank-row tests and the one PackBits encoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "vorn/fd.h"
#include "vorn/raster.h"

namespace vorn::drv {

// Room PackBits may need for `len` input bytes. The worst case is not long
// literals but single bytes between short runs ("a bb a bb": 4 bytes for 3)
// and a last byte written alone (2 for 1).
constexpr size_t pack_bits_bound(size_t len) { return len + len / 2 + 2; }

// TIFF PackBits: runs of equal bytes as (1 - count, byte), other bytes as
// (count - 1, bytes...), counts at most 127. `out` holds pack_bits_bound(len)
// bytes. Returns the bytes written.
size_t pack_bits(const uint8_t* in, size_t len, uint8_t* out);

// All zero: the first byte is 0 and every byte equals its successor.
inline bool row_blank(const uint8_t* p, size_t n) {
  return n == 0 || (p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0);
}

// The raster input of a driver run as "name job-id user title copies
// options [file]": descriptor 0, or the named file opened read-only and
// kept in `owner`. -1 after writing the usage or open error (with the
// one-second pause the scheduler expects before a failed job ends).
int open_input(int argc, char** argv, const char* name, unique_fd& owner);

enum class header_result { page, end, refused };

// The next page header. A stream that stops at a page boundary is the end;
// a damaged or refused header writes "ERROR: Bad raster page header - ..."
// and answers `refused`, so the job ends with a failure instead of looking
// finished.
header_result read_header(vorn_raster_t* r, vorn_page_header_t& h);

// Checks that the driver may size its buffers from the header: resolution,
// width, height and bytes per line within `limits`, and bytes per line equal
// to `planes` bands of `bits`-bit pixels. An empty string when it may;
// otherwise the reason, for an "ERROR:" line.
struct header_limits {
  unsigned max_resolution = 4800;
  unsigned max_width = 65535;  // pixels: PCL and ESC/P counts are 16-bit at most
};
std::string check_layout(const vorn_page_header_t& h, unsigned planes, unsigned bits,
                         const header_limits& limits = {});

// SIGTERM while a page prints only sets a flag that the row loop reads:
// the driver then ends the page and the job with normal writes, which a
// signal handler could not do safely. Between pages the signal is ignored.
void catch_term();
void ignore_term();
bool term_requested();

// The exit status of a job whose pages are all sent: 1 when a page was
// refused or there were none ("ERROR: No pages found!"), else 0 after
// "INFO: VORN v1.1 is ready to print.".
int job_status(bool failed, int pages);

}  // namespace vorn::drv
