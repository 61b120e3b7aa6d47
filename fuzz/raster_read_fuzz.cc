// The raster page stream reader on any bytes: headers are checked before
// any size is used, pixel reads never pass a page's end, and the reader
// stops at damage. The stream comes through a memory file.
// fuzz-links: vorn_image
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "vorn/raster.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fd = memfd_create("raster", 0);
  if (fd < 0) return 0;
  if (write(fd, data, size) != ssize_t(size) || lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    return 0;
  }
  vorn_raster_t* r = vornRasterOpen(fd, VORN_RASTER_READ);
  vorn_page_header_t h;
  std::vector<uint8_t> row;
  for (int page = 0; page < 64 && vornRasterReadHeader(r, h); page++) {
    if (vornRasterHeaderProblem(h)) __builtin_trap();  // a refused header must not be returned
    row.resize(h.vornBytesPerLine < (1u << 16) ? h.vornBytesPerLine : (1u << 16));
    // Rows until the data ends; every other page is left half read.
    for (unsigned y = 0; y < h.vornHeight && (page % 2 == 0 || y < h.vornHeight / 2); y++)
      if (vornRasterReadPixels(r, row.data(), row.size()) != row.size()) break;
  }
  vornRasterClose(r);
  close(fd);
  return 0;
}
