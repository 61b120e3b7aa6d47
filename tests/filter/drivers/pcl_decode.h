// A PCL reader for the tests, from the printer language's command
// reference: escape sequences (ESC, a parameterised character, a group
// character, then values each ended by a parameter character, lower case
// to continue, upper case to end), raster graphics transfers with their
// compression methods (0 unencoded, 1 run-length, 2 TIFF PackBits), the
// raster y-offset, and form feeds. It turns the raster blocks back into
// bit rows and lists the other commands for framing checks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "vorn/raster.h"

namespace drvtest {

struct PclRaster {
  unsigned width = 0, height = 0;  // from ESC*r#S and ESC*r#T
  // rows[y]: the bit rows sent for raster row y, in order (planes, and for
  // 2-bit data the low then high bit row of each), each width/8 rounded up
  // bytes. Rows never sent stay empty.
  std::vector<std::vector<std::vector<uint8_t>>> rows;
};

struct PclDecoded {
  std::string framing;  // every command but row transfers and y-offsets, space-separated
  std::vector<PclRaster> rasters;
  std::vector<std::string> config;  // ESC*g#W payloads
  std::string error;               // what could not be read
};

inline bool PclDecompress(int mode, const std::string& in, std::vector<uint8_t>& out, std::string& err) {
  out.clear();
  if (mode == 0) {
    out.assign(in.begin(), in.end());
  } else if (mode == 1) {
    if (in.size() % 2) return err = "odd run-length data", false;
    for (size_t i = 0; i < in.size(); i += 2) out.insert(out.end(), size_t(uint8_t(in[i])) + 1, uint8_t(in[i + 1]));
  } else if (mode == 2) {
    for (size_t i = 0; i < in.size();) {
      int n = int8_t(in[i++]);
      if (n >= 0) {
        if (i + n + 1 > in.size()) return err = "PackBits literal past the data", false;
        out.insert(out.end(), in.begin() + i, in.begin() + i + n + 1);
        i += n + 1;
      } else if (n != -128) {
        if (i >= in.size()) return err = "PackBits run without its byte", false;
        out.insert(out.end(), size_t(1 - n), uint8_t(in[i++]));
      }
    }
  } else {
    return err = "compression mode " + std::to_string(mode), false;
  }
  return true;
}

inline PclDecoded DecodePcl(const std::string& s) {
  PclDecoded d;
  int mode = 0;
  bool in_raster = false;
  unsigned y = 0, width = 0, height = 0;
  std::vector<std::vector<uint8_t>> row;  // bit rows of the row being sent
  auto add = [&](const std::string& c) { d.framing += (d.framing.empty() ? "" : " ") + c; };
  for (size_t i = 0; i < s.size();) {
    uint8_t c = uint8_t(s[i++]);
    if (c == 0x0C) {
      add("FF");
      continue;
    }
    if (c != 0x1B) {
      d.error = "stray byte " + std::to_string(c) + " at " + std::to_string(i - 1);
      return d;
    }
    if (i >= s.size()) return d.error = "ESC at the end", d;
    char p = s[i++];
    if (p >= 0x30 && p <= 0x7E) {  // two-character escape sequence
      add(std::string(1, p));
      continue;
    }
    if (p < 0x21 || p > 0x2F || i >= s.size()) return d.error = "bad escape", d;
    char g = s[i++];
    std::string prefix = {p, g};
    for (;;) {
      size_t start = i;
      while (i < s.size() && (s[i] == '+' || s[i] == '-' || s[i] == '.' || (s[i] >= '0' && s[i] <= '9'))) i++;
      if (i >= s.size()) return d.error = "unterminated " + prefix, d;
      std::string value = s.substr(start, i - start);
      char pc = s[i++];
      char upper = char(pc >= 'a' && pc <= 'z' ? pc - 32 : pc);
      long v = std::strtol(value.c_str(), nullptr, 10);
      bool transfer = prefix == "*b" && (upper == 'V' || upper == 'W');
      if (transfer || (prefix == "*g" && upper == 'W')) {
        if (v < 0 || i + size_t(v) > s.size()) return d.error = "data past the end", d;
        std::string data = s.substr(i, size_t(v));
        i += size_t(v);
        if (!transfer) {
          add(prefix + value + upper);
          d.config.push_back(data);
        } else {
          if (!in_raster) return d.error = "row data outside raster graphics", d;
          std::vector<uint8_t> bits;
          if (!PclDecompress(mode, data, bits, d.error)) return d;
          bits.resize((width + 7) / 8, 0);  // short rows are zero-filled
          row.push_back(bits);
          if (upper == 'W') {
            if (y >= height) return d.error = "row below the raster height", d;
            d.rasters.back().rows[y++] = row;
            row.clear();
          }
        }
      } else if (prefix == "*b" && upper == 'Y') {
        y += unsigned(v);
      } else {
        add(prefix + value + upper);
        if (prefix == "*b" && upper == 'M') mode = int(v);
        if (prefix == "*r" && upper == 'S') width = unsigned(v);
        if (prefix == "*r" && upper == 'T') height = unsigned(v);
        if (prefix == "*r" && upper == 'A') {
          in_raster = true;
          y = 0;
          mode = 0;
          d.rasters.push_back({width, height, std::vector<std::vector<std::vector<uint8_t>>>(height)});
        }
        if (prefix == "*r" && (upper == 'B' || upper == 'C')) in_raster = false;
      }
      if (pc == upper) break;
    }
  }
  return d;
}

// Raster row y as pcldrv's decoded bit rows give it back: 1-bit planes as
// they are, 2-bit pixels rebuilt from their low and high bit rows.
inline std::vector<uint8_t> PclRebuild(const std::vector<std::vector<uint8_t>>& sent, const vorn_page_header_t& h,
                             unsigned planes) {
  const size_t pb = h.vornBytesPerLine / planes;
  std::vector<uint8_t> row(h.vornBytesPerLine, 0);
  if (sent.empty()) return row;
  for (unsigned p = 0; p < planes; p++) {
    if (h.vornBitsPerColor == 1) {
      std::copy_n(sent[p].begin(), pb, row.begin() + p * pb);
      continue;
    }
    const auto &lo = sent[2 * p], &hi = sent[2 * p + 1];
    for (size_t x = 0; x < size_t(pb) * 4 && x / 8 < lo.size(); x++) {
      unsigned v = ((hi[x / 8] >> (7 - x % 8)) & 1) << 1 | ((lo[x / 8] >> (7 - x % 8)) & 1);
      row[p * pb + x / 4] |= uint8_t(v << (6 - 2 * (x % 4)));
    }
  }
  return row;
}

}  // namespace drvtest
