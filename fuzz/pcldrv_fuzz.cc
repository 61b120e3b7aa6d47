// pcldrv on any raster stream, with and without the model 2 block.
// fuzz-links: vorn_pcldrv vorn_driver vorn_image
#include "driver_fuzz.h"
#include "filter/pcldrv/pcl-driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzDriver(data, size, [](uint8_t pick, vorn_raster_t* ras, FILE* out) {
    vorn::pcl::printer pr;
    pr.have_ppd = pick & 1;
    pr.model = (pick >> 1) % 3;
    pr.first_length = 792;
    pr.first_top = 756;
    vorn::pcl::print_job(ras, pr, out);
  });
}
