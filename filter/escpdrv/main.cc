// escpdrv: prints raster pages on ESC/P dot-matrix and ESC/P2 inkjet printers.
//
//   escpdrv job-id user title copies options [file]
//
// Environment: PPD (its model number picks the printer family),
// DEVICE_URI (a USB printer is first taken out of its packet mode).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "filter/driver-common/driver.h"
#include "filter/escpdrv/escp-driver.h"
#include "vorn/ppd.h"

int main(int argc, char** argv) {
  setbuf(stderr, nullptr);
  static char outbuf[1 << 16];
  std::setvbuf(stdout, outbuf, _IOFBF, sizeof outbuf);
  vorn::unique_fd file;
  int fd = vorn::drv::open_input(argc, argv, "escpdrv", file);
  if (fd < 0) return 1;
  vorn::escp::printer pr;
  if (const char* name = std::getenv("PPD")) {
    vorn::ppd_file_ptr ppd(ppdOpenFile(name));
    if (ppd) {
      pr.model = ppd->model_number;
      pr.okidata = ppd->nickname.find("OKIDATA") != std::string::npos;
      if (!ppd->sizes.empty()) {
        const ppd_size_t& s = ppd->sizes.size() > 1 ? ppd->sizes[1] : ppd->sizes[0];
        pr.margin_length = s.length;
        pr.margin_top = s.top;
      }
    }
  }
  const char* uri = std::getenv("DEVICE_URI");
  pr.usb = uri && std::strncmp(uri, "usb:", 4) == 0;
  vorn_raster_t* ras = vornRasterOpen(fd, VORN_RASTER_READ);
  int status = vorn::escp::print_job(ras, pr, stdout);
  vornRasterClose(ras);
  return status;
}
