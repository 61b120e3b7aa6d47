// labeldrv: prints raster pages on a thermal label printer, one label a page.
//
//   labeldrv job-id user title copies options [file]
#include <cstdio>

#include "filter/driver-common/driver.h"
#include "filter/labeldrv/label-driver.h"

int main(int argc, char** argv) {
  setbuf(stderr, nullptr);
  static char outbuf[1 << 16];
  std::setvbuf(stdout, outbuf, _IOFBF, sizeof outbuf);
  vorn::unique_fd file;
  int fd = vorn::drv::open_input(argc, argv, "labeldrv", file);
  if (fd < 0) return 1;
  vorn_raster_t* ras = vornRasterOpen(fd, VORN_RASTER_READ);
  int status = vorn::label::print_job(ras, stdout);
  vornRasterClose(ras);
  return status;
}
