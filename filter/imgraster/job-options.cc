#include "job-options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace vorn::raster {
namespace {

// A whole decimal integer within [lo, hi].
bool integer(const char* name, const char* v, long lo, long hi, long& out, std::string& err) {
  char* end = nullptr;
  errno = 0;
  long n = std::strtol(v, &end, 10);
  if (end == v || *end != '\0' || errno == ERANGE || n < lo || n > hi) {
    err = std::string("Bad value \"") + v + "\" for option " + name + " (" + std::to_string(lo) + " to " +
          std::to_string(hi) + ")";
    return false;
  }
  out = n;
  return true;
}

}  // namespace

bool read_image_options(const vorn_options_t& options, image_options& o, std::string& err) {
  long n;
  if (const char* v = vornGetOption("multiple-document-handling", options))
    o.collate = std::strcmp(v, "separate-documents-uncollated-copies") != 0;
  if (const char* v = vornGetOption("Collate", options)) o.collate = strcasecmp(v, "True") == 0;
  if (const char* v = vornGetOption("gamma", options)) {
    if (!integer("gamma", v, 1, 100000, n, err)) return false;
    o.gamma = n * 0.001;
  }
  if (const char* v = vornGetOption("brightness", options)) {
    if (!integer("brightness", v, 1, 100000, n, err)) return false;
    o.brightness = n * 0.01;
  }
  if (const char* v = vornGetOption("scaling", options)) {
    if (!integer("scaling", v, 1, 100000, n, err)) return false;
    o.layout.zoom = n * 0.01;
  }
  if (const char* v = vornGetOption("ppi", options)) {
    // "X" or "XxY"
    std::string s = v;
    size_t x = s.find('x');
    if (!integer("ppi", s.substr(0, x).c_str(), 1, 100000, n, err)) return false;
    o.layout.xppi = o.layout.yppi = int(n);
    if (x != std::string::npos) {
      if (!integer("ppi", s.substr(x + 1).c_str(), 1, 100000, n, err)) return false;
      o.layout.yppi = int(n);
    }
  }
  if (const char* v = vornGetOption("natural-scaling", options)) {
    if (!integer("natural-scaling", v, 1, 100000, n, err)) return false;
    o.layout.natural_scaling = double(n);
  }
  if (const char* v = vornGetOption("position", options)) {
    static const struct {
      const char* name;
      int x, y;
    } positions[] = {{"center", 0, 0},      {"top", 0, 1},        {"left", -1, 0},
                     {"right", 1, 0},       {"top-left", -1, 1},  {"top-right", 1, 1},
                     {"bottom", 0, -1},     {"bottom-left", -1, -1}, {"bottom-right", 1, -1}};
    for (const auto& p : positions)
      if (strcasecmp(v, p.name) == 0) o.layout.xposition = p.x, o.layout.yposition = p.y;
  }
  if (const char* v = vornGetOption("saturation", options)) {
    if (!integer("saturation", v, 0, 1000, n, err)) return false;
    o.saturation = int(n);
  }
  if (const char* v = vornGetOption("hue", options)) {
    if (!integer("hue", v, -3600, 3600, n, err)) return false;
    o.hue = int(n);
  }
  if (const char* v = vornGetOption("mirror", options)) o.mirror = strcasecmp(v, "True") == 0;
  if (const char* v = vornGetOption("profile", options)) {
    long p[11];
    std::string s = v;
    size_t at = 0;
    for (int i = 0; i < 11; i++) {
      size_t comma = s.find(',', at);
      if ((comma == std::string::npos) != (i == 10)) {
        err = "Option profile needs eleven comma-separated numbers";
        return false;
      }
      std::string item = s.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
      if (!integer("profile", item.c_str(), i < 2 ? 1 : -100000, 100000, p[i], err)) return false;
      at = comma + 1;
    }
    o.has_profile = true;
    o.density = p[0] * 0.001f;
    o.profile_gamma = p[1] * 0.001f;
    for (int i = 0; i < 9; i++) o.matrix[i / 3][i % 3] = p[2 + i] * 0.001f;
  }
  return true;
}

void build_level_table(int s, double g, double b, uint8_t table[256]) {
  for (int i = 0; i < 256; i++) {
    double x = i / 255.0, v;
    if (s < 0)
      v = 255 * (1 - std::pow(1 - x, 1 / g)) / b;
    else
      v = 255 * (1 - (1 - std::pow(x, 1 / g)) / b);
    int e = int(v + 0.5);
    table[i] = uint8_t(e < 0 ? 0 : e > 255 ? 255 : e);
  }
}

}  // namespace vorn::raster
