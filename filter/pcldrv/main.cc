// pcldrv: prints raster pages on a PCL printer.
//
//   pcldrv job-id user title copies options [file]
//
// Environment: PPD (the printer's PPD file; the model number picks the
// printer family).
#include <cstdio>
#include <cstdlib>

#include "filter/driver-common/driver.h"
#include "filter/pcldrv/pcl-driver.h"
#include "vorn/ppd.h"

int main(int argc, char** argv) {
  setbuf(stderr, nullptr);
  // Rows go out in whole pages: a write per row would cost more than the
  // conversion itself.
  static char outbuf[1 << 16];
  std::setvbuf(stdout, outbuf, _IOFBF, sizeof outbuf);
  vorn::unique_fd file;
  int fd = vorn::drv::open_input(argc, argv, "pcldrv", file);
  if (fd < 0) return 1;
  vorn::pcl::printer pr;
  if (const char* name = std::getenv("PPD")) {
    vorn::ppd_file_ptr ppd(ppdOpenFile(name));
    if (ppd) {
      pr.have_ppd = true;
      pr.model = ppd->model_number;
      if (!ppd->sizes.empty()) {
        pr.first_length = ppd->sizes.front().length;
        pr.first_top = ppd->sizes.front().top;
      }
    }
  }
  vorn_raster_t* ras = vornRasterOpen(fd, VORN_RASTER_READ);
  int status = vorn::pcl::print_job(ras, pr, stdout);
  vornRasterClose(ras);
  return status;
}
