// An ESC/P and ESC/P2 reader for the tests, from the printer languages'
// command references: bit images (ESC * with its density byte, ESC $
// positions, line feeds at the ESC 3 / ESC + spacing), ESC/P2 raster
// graphics (ESC . and ESC i, uncompressed or TIFF PackBits), colour
// selection, relative and absolute vertical moves, and the set-up
// commands, which are listed for framing checks. Every ESC @ begins a page.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace drvtest {

struct EscpPage {
  std::string framing;  // set-up commands, space-separated, as "ESC x" plus hex parameters
  // Inkjet raster rows by colour code, then by row.
  std::map<unsigned, std::map<unsigned, std::vector<uint8_t>>> planes;
  std::vector<std::string> densities;  // ESC * density bytes, in order, hex
  std::vector<std::vector<uint8_t>> dots;  // bit-image dots, packed rows of the page width
  unsigned ff = 0;
  unsigned outside = 0;  // dots that fell outside the page
};

struct EscpDecoded {
  bool packet_exit = false;  // began by taking a USB printer out of packet mode
  std::vector<EscpPage> pages;
  std::string error;
};

struct EscpGeometry {
  int model = 0;  // line spacing unit of ESC 3: 1/216 inch on model 0, 1/180 otherwise
  unsigned xres = 0, yres = 0, width = 0, height = 0;
};

inline EscpDecoded DecodeEscp(const std::string& s, const EscpGeometry& g) {
  EscpDecoded d;
  auto at = [&](size_t i) -> int { return i < s.size() ? uint8_t(s[i]) : -1; };
  unsigned y = 0, x = 0, colour = 0, spacing = 0;
  auto hex = [](unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02X", v);
    return std::string(b);
  };
  auto page = [&]() -> EscpPage& {
    if (d.pages.empty()) d.pages.emplace_back();
    return d.pages.back();
  };
  auto note = [&](const std::string& c) {
    std::string& f = page().framing;
    f += (f.empty() ? "" : " ") + c;
  };
  // Decodes PackBits until `want` bytes are produced; i moves past the data.
  auto unpack = [&](size_t& i, size_t want, bool packed, std::vector<uint8_t>& out) {
    if (!packed) {
      if (i + want > s.size()) return false;
      out.assign(s.begin() + i, s.begin() + i + want);
      i += want;
      return true;
    }
    while (out.size() < want) {
      int n = at(i++);
      if (n < 0) return false;
      if (n < 128) {
        if (i + n + 1 > s.size()) return false;
        out.insert(out.end(), s.begin() + i, s.begin() + i + n + 1);
        i += n + 1;
      } else if (n > 128) {
        if (at(i) < 0) return false;
        out.insert(out.end(), size_t(257 - n), uint8_t(s[i++]));
      }
    }
    return out.size() == want;
  };
  for (size_t i = 0; i < s.size();) {
    int c = at(i++);
    if (c == 0 && d.pages.empty()) continue;  // packet-mode exit
    if (c == '\r') { x = 0; continue; }
    if (c == '\n') { y += spacing; continue; }
    if (c == '\f') { page().ff++; continue; }
    if (c != 0x1B) return d.error = "stray byte " + hex(unsigned(c)) + " at " + std::to_string(i - 1), d;
    int k = at(i++);
    switch (k) {
      case '@':
        d.pages.emplace_back();
        d.pages.back().dots.assign(g.height, std::vector<uint8_t>((g.width + 7) / 8, 0));
        y = x = 0;
        spacing = 0;
        break;
      case 1:  // "@EJL 1284.4\n@EJL     \n" then ESC @
        if (!d.pages.empty() || i != 5) return d.error = "packet-mode exit not at the start", d;
        d.packet_exit = true;
        while (i < s.size() && s[i] != 0x1B) i++;
        break;
      case '(': {
        int cmd = at(i), lo = at(i + 1), hi = at(i + 2);
        if (hi < 0) return d.error = "short ESC (", d;
        size_t n = size_t(lo | hi << 8);
        if (i + 3 + n > s.size()) return d.error = "ESC ( data past the end", d;
        std::string name = "ESC (" + std::string(1, char(cmd));
        unsigned v = n >= 2 ? unsigned(uint8_t(s[i + 3]) | uint8_t(s[i + 4]) << 8) : 0;
        if (cmd == 'v') {
          y += v;
        } else if (cmd == 'V') {
          y = v;
          note(name + " " + std::to_string(v));
        } else if (cmd == 'r') {
          colour = 0x10 | uint8_t(s[i + 4]);
        } else {
          for (size_t j = 0; j < n; j++) name += " " + hex(uint8_t(s[i + 3 + j]));
          note(name);
        }
        i += 3 + n;
        break;
      }
      case 'r':
        colour = unsigned(at(i++));
        break;
      case '.': case 'i': {
        size_t bytes;
        bool packed;
        unsigned code = colour;
        if (k == '.') {
          packed = at(i) == 1;
          int wl = at(i + 4), wh = at(i + 5);
          if (wh < 0) return d.error = "short ESC .", d;
          bytes = (size_t(wl | wh << 8) + 7) / 8 * size_t(at(i + 3));
          i += 6;
        } else {
          code = unsigned(at(i));
          packed = at(i + 1) == 1;
          int nl = at(i + 3), nh = at(i + 4), ml = at(i + 5), mh = at(i + 6);
          if (mh < 0) return d.error = "short ESC i", d;
          bytes = size_t(nl | nh << 8) * size_t(ml | mh << 8);
          i += 7;
        }
        std::vector<uint8_t> data;
        if (!unpack(i, bytes, packed, data)) return d.error = "raster data past the end", d;
        if (x != 0) return d.error = "raster row not at the left edge", d;
        page().planes[code][y] = data;
        break;
      }
      case '$': {
        int lo = at(i), hi = at(i + 1);
        i += 2;
        x = unsigned(lo | hi << 8) * (g.xres / 60);
        break;
      }
      case '*': {
        int m = at(i), lo = at(i + 1), hi = at(i + 2);
        if (hi < 0) return d.error = "short ESC *", d;
        i += 3;
        page().densities.push_back(hex(unsigned(m)));
        unsigned res = m == 0 || m == 32 ? 60 : m == 1 || m == 33 ? 120 : m == 3 ? 240 : m == 39 ? 180 : 360;
        size_t per_col = m >= 32 ? 3 : 1, cols = size_t(lo | hi << 8);
        if (i + cols * per_col > s.size()) return d.error = "bit image past the end", d;
        unsigned step = g.xres / res;
        if (step == 0) return d.error = "density finer than the page", d;
        for (size_t col = 0; col < cols; col++) {
          for (size_t b = 0; b < per_col; b++) {
            uint8_t v = uint8_t(s[i + col * per_col + b]);
            for (int bit = 0; bit < 8; bit++) {
              if (!(v & (0x80 >> bit))) continue;
              size_t px = x + col * step, py = y + b * 8 + size_t(bit);
              if (px >= g.width || py >= g.height) {
                page().outside++;
                continue;
              }
              page().dots[py][px / 8] |= uint8_t(0x80 >> (px % 8));
            }
          }
        }
        i += cols * per_col;
        break;
      }
      case '3':
        spacing = unsigned(at(i)) * g.yres / (g.model == 0 ? 216 : 180);
        note("ESC 3 " + hex(unsigned(at(i++))));
        break;
      case '+':
        spacing = unsigned(at(i)) * g.yres / 360;
        note("ESC + " + hex(unsigned(at(i++))));
        break;
      case 'C':
        if (at(i) == 0) {
          note("ESC C 00 " + hex(unsigned(at(i + 1))));
          i += 2;
        } else {
          note("ESC C " + hex(unsigned(at(i++))));
        }
        break;
      case 'x': case 'U': case 'l': case 'Q': case 'N': case '{':
        note("ESC " + std::string(1, char(k)) + " " + hex(unsigned(at(i++))));
        break;
      case 'P':
        note("ESC P");
        break;
      default:
        return d.error = "unknown command ESC " + hex(unsigned(k)), d;
    }
  }
  return d;
}

}  // namespace drvtest
