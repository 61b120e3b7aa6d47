// Conversion of decoded pictures into the colour space a filter asked for.
#pragma once

#include "decode.h"
#include "vorn/image.h"

namespace vorn::image {

// Fills img.pixels from raw in img.colorspace: saturation and hue on colour
// pictures first, then the conversion, the ink profile (when one is set and
// the raster space uses inks), and finally `lut`.
void convert_pixels(const raw_image& raw, image_t& img, int saturation, int hue, const uint8_t* lut);

// Luminance of an RGB triple, weights in percent (31, 61, 8).
inline uint8_t luminance(unsigned r, unsigned g, unsigned b) { return uint8_t((r * 31 + g * 61 + b * 8) / 100); }

void set_last_error(const std::string& e);

}  // namespace vorn::image
