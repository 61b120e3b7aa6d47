// Page headers no driver may trust: each must end the job with an "ERROR:"
// line and a non-zero status, never a crash or an overrun (the tests run
// under the sanitizers too, and RunFilter fails on any finding).
#include <gtest/gtest.h>

#include <functional>

#include "tests/filter/drivers/raster_fixture.h"

namespace {

using namespace drvtest;

struct Hostile {
  const char* name;
  std::function<void(vorn_page_header_t&)> spoil;
};

const Hostile kHostile[] = {
    {"zero width", [](vorn_page_header_t& h) { h.vornWidth = 0; }},
    {"zero height", [](vorn_page_header_t& h) { h.vornHeight = 0; }},
    {"zero horizontal resolution", [](vorn_page_header_t& h) { h.HWResolution[0] = 0; }},
    {"zero vertical resolution", [](vorn_page_header_t& h) { h.HWResolution[1] = 0; }},
    {"huge resolution", [](vorn_page_header_t& h) { h.HWResolution[0] = h.HWResolution[1] = 4000000000u; }},
    {"huge width", [](vorn_page_header_t& h) {
       h.vornWidth = 1u << 20;
       h.vornBytesPerLine = (1u << 20) / 8;
     }},
    {"width past 32 bits of bytes", [](vorn_page_header_t& h) {
       h.vornWidth = 0xFFFFFFFFu;
       h.vornBytesPerLine = 0xFFFFFFFFu;
     }},
    {"bytes per line too small", [](vorn_page_header_t& h) { h.vornBytesPerLine = 1; }},
    {"bytes per line larger than the width", [](vorn_page_header_t& h) { h.vornBytesPerLine += 7; }},
    {"bytes per line zero", [](vorn_page_header_t& h) { h.vornBytesPerLine = 0; }},
    {"8 bits per colour", [](vorn_page_header_t& h) {
       h.vornBitsPerColor = h.vornBitsPerPixel = 8;
       h.vornBytesPerLine = h.vornWidth;
     }},
    {"3 bits per colour", [](vorn_page_header_t& h) { h.vornBitsPerColor = 3; }},
    {"RGB colour space", [](vorn_page_header_t& h) {
       h.vornColorSpace = 1;
       h.vornColorOrder = 1;
       h.vornBytesPerLine *= 3;
     }},
    {"unknown colour space", [](vorn_page_header_t& h) { h.vornColorSpace = 99; }},
    {"planar KCMY", [](vorn_page_header_t& h) {
       h.vornColorSpace = 8;
       h.vornColorOrder = 2;
     }},
    {"chunky KCMY", [](vorn_page_header_t& h) {
       h.vornColorSpace = 8;
       h.vornColorOrder = 0;
       h.vornBitsPerPixel = 4;
       h.vornBytesPerLine = (h.vornWidth * 4 + 7) / 8;
     }},
};

struct Driver {
  const char* path;
  unsigned compression;  // a value the driver takes
  unsigned resolution;   // one it prints
  int model;             // PPD model number, -1 for none
};

const Driver kDrivers[] = {
    {PCLDRV_PATH, 2, 300, -1},
    {ESCPDRV_PATH, 1, 360, 2},
    {LABELDRV_PATH, 1, 203, -1},
};

std::vector<std::string> Env(const Driver& drv, const rastertest::TempDir& dir) {
  if (drv.model < 0) return {};
  return {"PPD=" + WritePpd(dir, drv.model)};
}

TEST(HostileHeaders, EndTheJobWithAnError) {
  for (const Driver& drv : kDrivers) {
    for (const Hostile& c : kHostile) {
      SCOPED_TRACE(std::string(drv.path) + ": " + c.name);
      rastertest::TempDir dir;
      Page good{Header(drv.resolution, drv.resolution, 100, 4, 3, 1, 1), {}};
      good.h.vornCompression = drv.compression;
      good.data = PageData(good.h, 1, 1);
      Page bad = good;
      c.spoil(bad.h);
      // The bad page's data, as much as the header claims within reason.
      bad.data.assign(std::min<size_t>(size_t(bad.h.vornBytesPerLine) * 4, 1 << 20), 0x5A);
      for (bool after_good : {false, true}) {
        std::vector<Page> pages;
        if (after_good) pages.push_back(good);
        pages.push_back(bad);
        rastertest::FilterResult r = RunDriver(drv.path, Stream(pages), Env(drv, dir), dir);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("ERROR: "), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("No pages found"), std::string::npos) << "the refusal is named: " << r.err;
      }
    }
  }
}

TEST(HostileHeaders, DamagedStreams) {
  struct Case {
    const char* name;
    std::string stream;
    int status;
    const char* message;
  };
  for (const Driver& drv : kDrivers) {
    const unsigned res = drv.resolution;
    const Case cases[] = {
      {"empty stream", "", 1, "ERROR: No pages found!"},
      {"not a raster stream", "%!PS-Adobe-3.0\nshowpage\n", 1, "ERROR: Bad raster page header"},
      {"truncated header", RawHeader(Header(res, res, 100, 4, 3, 1, 1)).substr(0, 200), 1,
       "ERROR: Bad raster page header - truncated"},
      // Short data ends the page; the job is still printed.
      {"page data cut short", RawHeader(Header(res, res, 100, 400, 3, 1, 1)) + std::string(1000, '\xF0'), 0,
       "INFO: VORN v1.1 is ready to print."},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(drv.path) + ": " + c.name);
      rastertest::TempDir dir;
      rastertest::FilterResult r = RunDriver(drv.path, c.stream, Env(drv, dir), dir);
      EXPECT_EQ(r.status, c.status) << r.err;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
  }
}

TEST(DriverCommandLine, UsageAndMissingFile) {
  for (const Driver& drv : kDrivers) {
    rastertest::TempDir dir;
    std::string name = std::string(drv.path).substr(std::string(drv.path).rfind('/') + 1);
    rastertest::FilterResult r = rastertest::RunFilter(drv.path, {"1", "user"}, {}, "", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: " + name + " job-id user title copies options [file]\n");
    r = rastertest::RunFilter(drv.path, {"1", "u", "t", "1", "", dir.file("missing")}, {}, "", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: Unable to open raster file - No such file or directory\n");
  }
}

}  // namespace
