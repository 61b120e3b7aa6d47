// The SGI reader on any input (see image_fuzz.h).
// fuzz-links: vorn_image
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzImageReader(vorn::image::decode_sgi, data, size);
}
