// Reading grey PNG images and comparing two of them.
#pragma once

#include <string>
#include <vector>

namespace textconv_test {

struct GreyImage {
  int width = 0, height = 0;
  std::vector<unsigned char> pixels;  // one byte a pixel, rows top to bottom
};

// Reads a PNG of any colour type as 8-bit grey; false on failure.
bool ReadGreyPng(const std::string& path, GreyImage& image);
bool WriteGreyPng(const std::string& path, const GreyImage& image);

// The share of pixels (0 to 1) whose grey levels differ by more than
// `level`; 1 when the sizes differ.
double DifferingShare(const GreyImage& a, const GreyImage& b, int level);

}  // namespace textconv_test
