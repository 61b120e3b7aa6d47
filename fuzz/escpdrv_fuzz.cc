// escpdrv on any raster stream, for dot-matrix and inkjet models.
// fuzz-links: vorn_escpdrv vorn_driver vorn_image
#include "driver_fuzz.h"
#include "filter/escpdrv/escp-driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzDriver(data, size, [](uint8_t pick, vorn_raster_t* ras, FILE* out) {
    vorn::escp::printer pr;
    pr.model = pick % 6;
    pr.usb = pick & 0x40;
    pr.okidata = pick & 0x80;
    pr.margin_length = 842;
    pr.margin_top = 806;
    vorn::escp::print_job(ras, pr, out);
  });
}
