// Colour conversion between grey, RGB and CMYK pictures and the image
// colour spaces, with saturation, hue, ink profile and lookup table.
#include <algorithm>
#include <cmath>

#include "image-colour.h"

namespace vorn::image {
namespace {

struct profile_state {
  bool set = false;
  int matrix[3][3] = {};  // fixed point, 256 = 1.0
  uint8_t curve[256] = {};
};
profile_state profile;
int raster_space = -1;  // none set: treat as an ink space

bool ink_space(int cs) { return cs != 0 && cs != 1 && cs != 2 && cs != 15; }

uint8_t clamp255(int v) { return uint8_t(std::clamp(v, 0, 255)); }

// A 3 × 3 matrix turning saturation and hue in RGB; identity for 100 and 0.
void hue_saturation_matrix(int saturation, int hue, float m[3][3]) {
  const float lr = 0.3086f, lg = 0.6094f, lb = 0.0820f;  // luminance weights
  float s = saturation / 100.0f;
  float sm[3][3] = {{(1 - s) * lr + s, (1 - s) * lg, (1 - s) * lb},
                    {(1 - s) * lr, (1 - s) * lg + s, (1 - s) * lb},
                    {(1 - s) * lr, (1 - s) * lg, (1 - s) * lb + s}};
  // Hue: rotation about the grey axis.
  float a = float(hue) * float(M_PI) / 180.0f, c = std::cos(a), sn = std::sin(a);
  const float k = 1.0f / 3.0f, q = std::sqrt(k);
  float hm[3][3] = {{c + (1 - c) * k, k * (1 - c) - q * sn, k * (1 - c) + q * sn},
                    {k * (1 - c) + q * sn, c + k * (1 - c), k * (1 - c) - q * sn},
                    {k * (1 - c) - q * sn, k * (1 - c) + q * sn, c + k * (1 - c)}};
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) {
      m[i][j] = 0;
      for (int n = 0; n < 3; n++) m[i][j] += hm[i][n] * sm[n][j];
    }
}

void apply_ink_profile(uint8_t* cmy) {
  int in[3] = {cmy[0], cmy[1], cmy[2]};
  for (int i = 0; i < 3; i++) {
    int v = (profile.matrix[i][0] * in[0] + profile.matrix[i][1] * in[1] + profile.matrix[i][2] * in[2]) / 256;
    cmy[i] = profile.curve[clamp255(v)];
  }
}

}  // namespace

void convert_pixels(const raw_image& raw, image_t& img, int saturation, int hue, const uint8_t* lut) {
  const int cs = img.colorspace;
  const int out_depth = ImageDepth(cs);
  const size_t count = size_t(raw.width) * raw.height;
  // Not zero-filled: the loop below writes every sample.
  img.pixels.clear();
  img.pixels.resize(count * size_t(out_depth));
  bool adjust = raw.channels != 1 && (saturation != 100 || hue != 0);
  int adj[3][3] = {};
  if (adjust) {
    float m[3][3];
    hue_saturation_matrix(saturation, hue, m);
    for (int i = 0; i < 3; i++)
      for (int j = 0; j < 3; j++) adj[i][j] = int(std::lround(m[i][j] * 256));
  }
  bool use_profile = profile.set && cs < 0 && ink_space(raster_space);
  const uint8_t* s = raw.pixels.data();
  uint8_t* o = img.pixels.data();
  for (size_t i = 0; i < count; i++, s += raw.channels, o += out_depth) {
    int r, g, b;
    if (raw.channels == 1) {
      r = g = b = s[0];
    } else if (raw.channels == 3) {
      r = s[0], g = s[1], b = s[2];
    } else {  // CMYK: light is what neither the ink nor the black covers
      r = 255 - std::min(255, s[0] + s[3]);
      g = 255 - std::min(255, s[1] + s[3]);
      b = 255 - std::min(255, s[2] + s[3]);
    }
    if (adjust) {
      int nr = (adj[0][0] * r + adj[0][1] * g + adj[0][2] * b) / 256;
      int ng = (adj[1][0] * r + adj[1][1] * g + adj[1][2] * b) / 256;
      int nb = (adj[2][0] * r + adj[2][1] * g + adj[2][2] * b) / 256;
      r = clamp255(nr), g = clamp255(ng), b = clamp255(nb);
    }
    switch (cs) {
      case IMAGE_WHITE:
        o[0] = raw.channels == 1 ? uint8_t(r) : luminance(r, g, b);
        break;
      case IMAGE_BLACK:
        o[0] = uint8_t(255 - (raw.channels == 1 ? r : luminance(r, g, b)));
        if (use_profile) o[0] = profile.curve[o[0]];
        break;
      case IMAGE_RGB:
        o[0] = uint8_t(r), o[1] = uint8_t(g), o[2] = uint8_t(b);
        break;
      case IMAGE_CMY:
        o[0] = uint8_t(255 - r), o[1] = uint8_t(255 - g), o[2] = uint8_t(255 - b);
        if (use_profile) apply_ink_profile(o);
        break;
      case IMAGE_CMYK: {
        if (raw.channels == 4 && !adjust) {  // keep the file's own black
          o[0] = s[0], o[1] = s[1], o[2] = s[2], o[3] = s[3];
        } else {
          int c = 255 - r, m = 255 - g, y = 255 - b;
          int k = std::min({c, m, y});
          o[0] = uint8_t(c - k), o[1] = uint8_t(m - k), o[2] = uint8_t(y - k), o[3] = uint8_t(k);
        }
        if (use_profile) {
          apply_ink_profile(o);
          o[3] = profile.curve[o[3]];
        }
        break;
      }
    }
  }
  if (lut)
    for (uint8_t& v : img.pixels) v = lut[v];
}

}  // namespace vorn::image

using namespace vorn::image;

void ImageSetProfile(float density, float gamma, const float matrix[3][3]) {
  if (!(density > 0) || !(gamma > 0) || !matrix) {
    profile.set = false;
    return;
  }
  profile.set = true;
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++) profile.matrix[i][j] = int(std::lround(std::clamp(matrix[i][j], -16.0f, 16.0f) * 256));
  for (int i = 0; i < 256; i++)
    profile.curve[i] = clamp255(int(std::lround(255.0 * density * std::pow(i / 255.0, double(gamma)))));
}

void ImageClearProfile() { profile.set = false; }

void ImageSetColorSpace(int cs) { raster_space = cs; }
