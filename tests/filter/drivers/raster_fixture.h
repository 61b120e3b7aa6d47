// Raster streams for the driver tests: pages of chosen headers with data
// that has blank rows, solid runs and noise, written byte by byte in the
// stream's documented layout (so hostile headers the library's writer
// would refuse can be written too), and the drivers run as the scheduler
// runs them.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/filter/imgraster/run_filter.h"
#include "vorn/raster.h"

namespace drvtest {

struct Page {
  vorn_page_header_t h;
  std::vector<uint8_t> data;  // vornBytesPerLine × vornHeight
};

inline void Put32(std::string& s, unsigned v) {
  for (int sh = 24; sh >= 0; sh -= 8) s.push_back(char(uint8_t(v >> sh)));
}

// The header exactly as given, valid or not.
inline std::string RawHeader(const vorn_page_header_t& h) {
  std::string s = "VRST";
  for (const char* t : {h.MediaClass, h.MediaColor, h.MediaType, h.OutputType}) {
    std::string f(t, strnlen(t, 63));
    f.resize(64, '\0');
    s += f;
  }
  for (unsigned v : {unsigned(h.Collate), unsigned(h.Duplex), unsigned(h.Tumble), h.CutMedia}) Put32(s, v);
  for (unsigned v : h.HWResolution) Put32(s, v);
  for (unsigned v : h.ImagingBoundingBox) Put32(s, v);
  for (unsigned v : h.Margins) Put32(s, v);
  Put32(s, h.MediaPosition);
  Put32(s, h.NumCopies);
  for (unsigned v : h.PageSize) Put32(s, v);
  for (unsigned v : {h.vornWidth, h.vornHeight, h.vornMediaType, h.vornBitsPerColor, h.vornBitsPerPixel,
                     h.vornBytesPerLine, h.vornColorOrder, h.vornColorSpace, h.vornCompression, h.vornRowCount,
                     h.vornRowFeed, h.vornRowStep})
    Put32(s, v);
  return s;
}

inline std::string Stream(const std::vector<Page>& pages) {
  std::string s;
  for (const Page& p : pages) {
    s += RawHeader(p.h);
    s.append(reinterpret_cast<const char*>(p.data.data()), p.data.size());
  }
  return s;
}

// A banded header of `planes` bands of `bits`-bit pixels.
inline vorn_page_header_t Header(unsigned xres, unsigned yres, unsigned width, unsigned height, unsigned cs,
                                 unsigned planes, unsigned bits) {
  vorn_page_header_t h;
  h.HWResolution[0] = xres;
  h.HWResolution[1] = yres;
  h.PageSize[0] = 612;
  h.PageSize[1] = 792;
  h.NumCopies = 1;
  h.vornWidth = width;
  h.vornHeight = height;
  h.vornBitsPerColor = bits;
  h.vornBitsPerPixel = bits;
  h.vornColorOrder = planes > 1 ? 1 : 0;
  h.vornColorSpace = cs;
  h.vornBytesPerLine = planes * ((width * bits + 7) / 8);
  return h;
}

// Page data with what trips encoders and skipping: leading, inner and
// trailing blank rows, rows with one blank plane, long runs, noise.
// Bits past the width in each plane's last byte stay 0.
inline std::vector<uint8_t> PageData(const vorn_page_header_t& h, unsigned planes, unsigned seed) {
  std::mt19937 rng(seed);
  const size_t bpl = h.vornBytesPerLine, pb = bpl / planes;
  std::vector<uint8_t> d(bpl * h.vornHeight, 0);
  for (unsigned y = 0; y < h.vornHeight; y++) {
    unsigned kind = y < 3 || y + 2 >= h.vornHeight ? 0 : rng() % 5;
    uint8_t* row = d.data() + y * bpl;
    for (unsigned p = 0; p < planes; p++) {
      uint8_t* pl = row + p * pb;
      if (kind == 0 || (kind == 1 && p == 0)) continue;
      for (size_t i = 0; i < pb; i++) {
        if (kind == 2) pl[i] = i < pb / 2 ? 0xFF : 0x00;            // runs
        else if (kind == 3) pl[i] = uint8_t((i / 3) % 2 ? 0x5A : rng());  // short runs and noise
        else pl[i] = uint8_t(rng());
      }
      unsigned used = (h.vornWidth * h.vornBitsPerColor) % 8;
      if (used) pl[pb - 1] &= uint8_t(0xFF << (8 - used));
    }
  }
  return d;
}

inline std::string WritePpd(const rastertest::TempDir& dir, int model, const char* nickname = "Test Printer") {
  std::string ppd = "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
                    "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"TEST.PPD\"\n"
                    "*Manufacturer: \"Test\"\n*Product: \"(Test)\"\n*ModelName: \"Test\"\n"
                    "*ShortNickName: \"Test\"\n*NickName: \"" + std::string(nickname) + "\"\n"
                    "*vornModelNumber: " + std::to_string(model) + "\n"
                    "*OpenUI *PageSize: PickOne\n*DefaultPageSize: Letter\n"
                    "*PageSize Letter: \"\"\n*PageSize A4: \"\"\n*CloseUI: *PageSize\n"
                    "*ImageableArea Letter: \"18 36 594 756\"\n*ImageableArea A4: \"18 36 577 806\"\n"
                    "*PaperDimension Letter: \"612 792\"\n*PaperDimension A4: \"595 842\"\n";
  return dir.write("model" + std::to_string(model) + ".ppd", ppd);
}

// Runs a driver on a raster stream given as its file argument.
inline rastertest::FilterResult RunDriver(const std::string& program, const std::string& stream,
                                          const std::vector<std::string>& env, const rastertest::TempDir& dir) {
  std::string file = dir.write("in.ras", stream);
  return rastertest::RunFilter(program, {"1", "user", "title", "1", "", file}, env, "", dir);
}

}  // namespace drvtest
