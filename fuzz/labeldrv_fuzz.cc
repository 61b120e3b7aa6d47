// labeldrv on any raster stream.
// fuzz-links: vorn_labeldrv vorn_driver vorn_image
#include "driver_fuzz.h"
#include "filter/labeldrv/label-driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzDriver(data, size, [](uint8_t, vorn_raster_t* ras, FILE* out) { vorn::label::print_job(ras, out); });
}
