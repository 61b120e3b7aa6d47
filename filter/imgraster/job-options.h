// The job options imgraster reads, checked before any size is computed
// from them.
#pragma once

#include <string>

#include "layout.h"
#include "vorn/options.h"

namespace vorn::raster {

struct image_options {
  layout_options layout;
  bool collate = false;
  double gamma = 1.0, brightness = 1.0;
  int saturation = 100, hue = 0;
  bool mirror = false;
  bool has_profile = false;
  float density = 1, profile_gamma = 1, matrix[3][3] = {};
};

// false with `err` for a value that is not a number where one is needed,
// or out of its range (zero or negative scaling, ppi, gamma, brightness,
// natural-scaling, profile density or gamma).
bool read_image_options(const vorn_options_t& options, image_options& out, std::string& err);

// 256 entries: gamma and brightness for an additive (s > 0) or subtractive
// image colour space.
void build_level_table(int image_space, double gamma, double brightness, uint8_t table[256]);

}  // namespace vorn::raster
