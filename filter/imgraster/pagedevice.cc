#include "pagedevice.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vorn::raster {

vorn_page_header_t default_header() {
  vorn_page_header_t h;
  h.vornBitsPerColor = 1;
  h.vornColorOrder = 0;
  h.vornColorSpace = 3;
  h.HWResolution[0] = h.HWResolution[1] = 100;
  return h;
}

namespace {

void set_text(char (&field)[64], const std::string& v) {
  size_t n = v.size() < 63 ? v.size() : 63;
  std::memcpy(field, v.data(), n);
  field[n] = 0;
}

// A PostScript integer as written; values out of range read as 0 rather
// than wrapping.
unsigned to_unsigned(const std::string& v) {
  char* end = nullptr;
  long long n = std::strtoll(v.c_str(), &end, 10);
  return n < 0 || n > 0xFFFFFFFFLL ? 0 : unsigned(n);
}

}  // namespace

void apply_pagedevice_code(std::string_view code, vorn_page_header_t& h) {
  size_t i = 0, n = code.size();
  while ((i = code.find('/', i)) != std::string_view::npos) {
    i++;
    std::string key;
    while (i < n && std::isalnum(static_cast<unsigned char>(code[i]))) {
      if (key.size() < 254) key += code[i];
      i++;
    }
    while (i < n && std::isspace(static_cast<unsigned char>(code[i]))) i++;
    if (i >= n) break;
    std::string value;
    enum { kNone, kArray, kString, kNumber, kBool } kind = kNone;
    if (code[i] == '[') {
      kind = kArray;
      for (i++; i < n && code[i] != ']'; i++)
        if (value.size() < 1023) value += code[i];
      if (i < n) i++;
    } else if (code[i] == '(') {
      kind = kString;
      for (i++; i < n && code[i] != ')'; i++) {
        char c = code[i];
        if (c == '\\' && i + 1 < n) {
          i++;
          if (code[i] >= '0' && code[i] <= '7') {  // up to three octal digits
            int v = 0;
            for (int d = 0; d < 3 && i < n && code[i] >= '0' && code[i] <= '7'; d++, i++) v = v * 8 + (code[i] - '0');
            i--;
            c = char(v);
          } else {
            c = code[i];
          }
        }
        if (value.size() < 1023) value += c;
      }
      if (i < n) i++;
    } else if (code.substr(i, 4) == "true" || code.substr(i, 5) == "false") {
      kind = kBool;
      value = code[i] == 't' ? "true" : "false";
      i += value.size();
    } else if (std::isdigit(static_cast<unsigned char>(code[i])) || code[i] == '-') {
      kind = kNumber;
      while (i < n && (std::isdigit(static_cast<unsigned char>(code[i])) || code[i] == '-')) value += code[i++];
    }
    if (kind == kNone) continue;
    if (kind == kNumber) {
      unsigned v = to_unsigned(value);
      if (key == "vornMediaType") h.vornMediaType = v;
      else if (key == "vornBitsPerColor") h.vornBitsPerColor = v;
      else if (key == "vornColorOrder") h.vornColorOrder = v;
      else if (key == "vornColorSpace") h.vornColorSpace = v;
      else if (key == "vornCompression") h.vornCompression = v;
      else if (key == "vornRowCount") h.vornRowCount = v;
      else if (key == "vornRowFeed") h.vornRowFeed = v;
      else if (key == "vornRowStep") h.vornRowStep = v;
      else if (key == "CutMedia") h.CutMedia = v;
      else if (key == "vornMediaPosition" || key == "MediaPosition") h.MediaPosition = v;
    } else if (kind == kBool) {
      const bool v = value == "true";
      if (key == "Duplex") h.Duplex = v;
      else if (key == "Tumble") h.Tumble = v;
      else if (key == "Collate") h.Collate = v;
    } else if (kind == kArray && key == "HWResolution") {
      int x = 0, y = 0;
      if (std::sscanf(value.c_str(), "%d%d", &x, &y) == 2) {
        h.HWResolution[0] = x > 0 ? unsigned(x) : 0;
        h.HWResolution[1] = y > 0 ? unsigned(y) : 0;
      }
    } else if (kind == kString) {
      if (key == "MediaClass") set_text(h.MediaClass, value);
      else if (key == "MediaColor") set_text(h.MediaColor, value);
      else if (key == "MediaType") set_text(h.MediaType, value);
      else if (key == "OutputType") set_text(h.OutputType, value);
    }
  }
}

void header_from_ppd(ppd_file_t* ppd, vorn_page_header_t& h) {
  if (!ppd) return;
  if (!ppd->patches.empty()) apply_pagedevice_code(ppd->patches, h);
  for (ppd_section_t s : {PPD_ORDER_DOCUMENT, PPD_ORDER_ANY, PPD_ORDER_PROLOG, PPD_ORDER_PAGE}) {
    std::vector<ppd_choice_t*> choices;
    ppdCollect(ppd, s, choices);
    for (const ppd_choice_t* c : choices) apply_pagedevice_code(c->code, h);
  }
}

}  // namespace vorn::raster
