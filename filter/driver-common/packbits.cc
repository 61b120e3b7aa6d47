#include "filter/driver-common/driver.h"

namespace vorn::drv {

size_t pack_bits(const uint8_t* in, size_t len, uint8_t* out) {
  size_t i = 0, o = 0;
  while (i < len) {
    if (i + 1 == len) {
      out[o++] = 0;
      out[o++] = in[i++];
    } else if (in[i] == in[i + 1]) {
      size_t n = 2;
      while (i + n < len && n < 127 && in[i + n] == in[i]) n++;
      out[o++] = uint8_t(257 - n);
      out[o++] = in[i];
      i += n;
    } else {
      // Literal bytes up to where two equal bytes begin or the data ends.
      size_t n = 1;
      while (i + n < len && n < 127 && (i + n + 1 == len || in[i + n] != in[i + n + 1])) n++;
      out[o++] = uint8_t(n - 1);
      for (size_t k = 0; k < n; k++) out[o++] = in[i + k];
      i += n;
    }
  }
  return o;
}

}  // namespace vorn::drv
