// escpdrv run as the scheduler runs it, its output read back by the test's
// own ESC/P and ESC/P2 decoder: the dots printed must be the raster page
// read, and the set-up around them what the printer family needs.
#include <gtest/gtest.h>

#include "tests/filter/drivers/escp_decode.h"
#include "tests/filter/drivers/raster_fixture.h"

namespace {

using namespace drvtest;

const unsigned kColour[6] = {0x00, 0x02, 0x01, 0x04, 0x12, 0x11};

// At 720 dpi rows, no two horizontally neighbouring dots are printed.
std::vector<uint8_t> Thin(std::vector<uint8_t> v) {
  bool left = false;
  for (auto& b : v)
    for (int bit = 7; bit >= 0; bit--) {
      bool set = b & (1 << bit);
      if (set && left) b &= uint8_t(~(1 << bit));
      left = set && !left;
    }
  return v;
}

std::string Hex2(unsigned v) {
  char b[16];
  std::snprintf(b, sizeof b, "%02X %02X", v & 0xFF, (v >> 8) & 0xFF);
  return b;
}

TEST(Escpdrv, InkjetPagesDecodeToTheRasterRead) {
  struct Case {
    const char* name;
    int model;
    unsigned cs, planes, xres, yres, compression;
    bool usb;
  } cases[] = {
      {"black 360 dpi unencoded", 2, 3, 1, 360, 360, 0, false},
      {"CMY 720 dpi PackBits", 2, 4, 3, 720, 720, 1, false},
      {"KCMY 180 dpi PackBits", 3, 8, 4, 180, 180, 1, false},
      {"six colours 360x720", 2, 9, 6, 360, 720, 1, false},
      {"raster command model, KCMY, USB", 4, 8, 4, 720, 360, 1, true},
      {"raster command model, six colours 90 dpi", 5, 9, 6, 90, 90, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rastertest::TempDir dir;
    std::vector<Page> pages;
    for (unsigned i = 0; i < 2; i++) {
      Page p{Header(c.xres, c.yres, 203 + 16 * i, 37, c.cs, c.planes, 1), {}};
      p.h.vornCompression = c.compression;
      p.h.NumCopies = 3;
      p.data = PageData(p.h, c.planes, 31 * i + c.cs);
      pages.push_back(p);
    }
    std::vector<std::string> env = {"PPD=" + WritePpd(dir, c.model)};
    if (c.usb) env.push_back("DEVICE_URI=usb://Test/Printer");
    rastertest::FilterResult r = RunDriver(ESCPDRV_PATH, Stream(pages), env, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("PAGE: 2 3\n"), std::string::npos) << r.err;
    if (c.usb) {
      EXPECT_EQ(r.out.substr(0, 29), std::string("\0\0\0\033\001@EJL 1284.4\n@EJL     \n\033@", 29));
    }
    EscpDecoded d = DecodeEscp(r.out, {c.model, c.xres, c.yres, 0, 0});
    ASSERT_EQ(d.error, "");
    EXPECT_EQ(d.packet_exit, c.usb);
    // The packet-mode exit's reset and the job's closing reset each start a page record.
    ASSERT_EQ(d.pages.size(), pages.size() + 1 + c.usb);
    for (unsigned i = 0; i < pages.size(); i++) {
      const EscpPage& got = d.pages[i + c.usb];
      const vorn_page_header_t& h = pages[i].h;
      const size_t pb = h.vornBytesPerLine / c.planes;
      for (const auto& [code, rows] : got.planes)
        for (const auto& [y, bytes] : rows) {
          ASSERT_LT(y, h.vornHeight) << "row past the page, colour " << code;
          ASSERT_EQ(bytes.size(), pb);
        }
      for (unsigned y = 0; y < h.vornHeight; y++)
        for (unsigned p = 0; p < c.planes; p++) {
          unsigned code = kColour[c.planes == 3 ? p + 1 : p];
          std::vector<uint8_t> want(pages[i].data.begin() + y * h.vornBytesPerLine + p * pb,
                                    pages[i].data.begin() + y * h.vornBytesPerLine + (p + 1) * pb);
          if (c.yres == 720) want = Thin(want);
          auto plane = got.planes.find(code);
          std::vector<uint8_t> sent(pb, 0);
          if (plane != got.planes.end() && plane->second.count(y)) sent = plane->second.at(y);
          ASSERT_EQ(sent, want) << "page " << i + 1 << " row " << y << " plane " << p;
        }
      std::string f = "ESC (G 01";
      if (c.model < 4) f += " ESC (U " + Hex2(3600 / c.yres).substr(0, 2);
      else
        f += " ESC (U " + Hex2(1440 / c.yres).substr(0, 2) + " " + Hex2(1440 / c.yres).substr(0, 2) + " " +
             Hex2(1440 / c.xres).substr(0, 2) + " A0 05";
      // Letter long; the top margin from the second page size (A4, 36 points).
      f += " ESC (C " + Hex2(c.yres * 11) + " ESC (c " + Hex2(c.yres / 2) + " " + Hex2(c.yres * 11);
      if (c.yres == 720) f += " ESC (i 01 ESC (e 00 01";
      f += " ESC (V 0";
      EXPECT_EQ(got.framing, f);
      EXPECT_EQ(got.ff, 0u) << "no margins, no form feed";
    }
  }
}

TEST(Escpdrv, DotMatrixPagesDecodeToTheRasterRead) {
  struct Case {
    const char* name;
    int model;
    unsigned xres, yres, rows;
    std::vector<std::string> densities;  // the first two bit images
  } cases[] = {
      {"9-pin 60 dpi", 0, 60, 72, 8, {"00", "00"}},
      {"9-pin 120 dpi, two passes", 0, 120, 72, 8, {"01", "01"}},
      {"9-pin 240 dpi, two passes", 0, 240, 72, 8, {"03", "03"}},
      {"24-pin 60 dpi", 1, 60, 180, 24, {"20", "20"}},
      {"24-pin 120 dpi, two passes", 1, 120, 180, 24, {"21", "21"}},
      {"24-pin 180 dpi, columns interleaved", 1, 180, 180, 24, {"27", "27"}},
      {"24-pin 360x180, columns interleaved", 1, 360, 180, 24, {"29", "28"}},
      {"model 0 at 24 rows", 0, 60, 216, 24, {"20", "20"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rastertest::TempDir dir;
    std::vector<Page> pages;
    for (unsigned i = 0; i < 2; i++) {
      // Heights that end inside a byte row and inside a band.
      Page p{Header(c.xres, c.yres, 3 * c.xres / 2 + 5, 61 + 8 * i, 3, 1, 1), {}};
      p.h.vornRowCount = c.rows;
      p.h.Margins[1] = i == 0 ? 18 : 0;
      p.data = PageData(p.h, 1, 7 + i);
      // A whole blank band in the middle of the second page: the paper
      // must still move past it.
      if (i == 1)
        std::fill(p.data.begin() + 16 * p.h.vornBytesPerLine, p.data.begin() + 48 * p.h.vornBytesPerLine, 0);
      pages.push_back(p);
    }
    rastertest::FilterResult r = RunDriver(ESCPDRV_PATH, Stream(pages), {"PPD=" + WritePpd(dir, c.model)}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    for (unsigned i = 0; i < pages.size(); i++) {
      const vorn_page_header_t& h = pages[i].h;
      EscpDecoded d = DecodeEscp(r.out, {c.model, c.xres, c.yres, h.vornWidth, h.vornHeight});
      ASSERT_EQ(d.error, "");
      ASSERT_EQ(d.pages.size(), pages.size() + 1);
      const EscpPage& got = d.pages[i];
      EXPECT_EQ(got.outside, 0u);
      ASSERT_GE(got.densities.size(), 2u);
      EXPECT_EQ(std::vector<std::string>(got.densities.begin(), got.densities.begin() + 2), c.densities);
      for (unsigned y = 0; y < h.vornHeight; y++) {
        std::vector<uint8_t> want(pages[i].data.begin() + y * h.vornBytesPerLine,
                                  pages[i].data.begin() + (y + 1) * h.vornBytesPerLine);
        ASSERT_EQ(got.dots[y], want) << "page " << i + 1 << " row " << y;
      }
      EXPECT_EQ(got.ff, i == 0 ? 1u : 0u) << "a form feed only when the page has margins";
      std::string f = std::string("ESC P ESC x ") + (c.xres == 240 || c.xres == 360 ? "31 ESC U 31" : "30 ESC U 30") +
                      " ESC l 00 ESC Q 55 ESC C 00 0B ESC N 00";
      bool interleave = c.model == 1 && (c.xres == 180 || c.xres == 360);
      f += interleave ? " ESC 3 08" : " ESC 3 18";
      EXPECT_EQ(got.framing, f);
    }
  }
}

// At 360x360 the first band holds full rows and later ones alternate
// columns, which the density byte tells the printer.
TEST(Escpdrv, HighResolutionDensities) {
  rastertest::TempDir dir;
  Page p{Header(360, 360, 100, 96, 3, 1, 1), {}};
  p.h.vornRowCount = 24;
  p.data.assign(p.h.vornBytesPerLine * 96, 0xFF);
  rastertest::FilterResult r = RunDriver(ESCPDRV_PATH, Stream({p}), {"PPD=" + WritePpd(dir, 1)}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EscpDecoded d = DecodeEscp(r.out, {1, 360, 360, 100, 96});
  ASSERT_EQ(d.error, "");
  ASSERT_GE(d.pages.size(), 1u);
  ASSERT_GE(d.pages[0].densities.size(), 3u);
  EXPECT_EQ(d.pages[0].densities[0], "49");
  for (size_t i = 1; i < d.pages[0].densities.size(); i++) EXPECT_EQ(d.pages[0].densities[i], "48");
}

// Head rows, line spacing and densities that do not fit together end the
// job before anything is printed (a 1 dpi page once made a column group of
// no bytes and the driver loop for ever).
TEST(Escpdrv, DotMatrixModesThatCannotLineUpAreRefused) {
  const struct {
    int model;
    unsigned xres, yres, rows;
  } cases[] = {
      {1, 1, 180, 24}, {1, 30, 180, 24}, {1, 240, 180, 24}, {0, 180, 72, 8}, {1, 360, 360, 8}, {0, 60, 180, 24},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.model) + ": " + std::to_string(c.xres) + "x" + std::to_string(c.yres) + " rows " +
                 std::to_string(c.rows));
    rastertest::TempDir dir;
    Page p{Header(c.xres, c.yres, 30, 30, 3, 1, 1), {}};
    p.h.vornRowCount = c.rows;
    p.data.assign(size_t(p.h.vornBytesPerLine) * 30, 0xA5);
    rastertest::FilterResult r = RunDriver(ESCPDRV_PATH, Stream({p}), {"PPD=" + WritePpd(dir, c.model)}, dir);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cannot print"), std::string::npos) << r.err;
  }
}

TEST(Escpdrv, BlankPagesAndNoPages) {
  rastertest::TempDir dir;
  Page p{Header(360, 360, 64, 50, 3, 1, 1), {}};
  p.data.assign(8 * 50, 0);
  rastertest::FilterResult r = RunDriver(ESCPDRV_PATH, Stream({p}), {"PPD=" + WritePpd(dir, 2)}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("\033."), std::string::npos) << "no raster data";
  EXPECT_EQ(r.out.find("\033(v"), std::string::npos) << "no vertical move";
  r = RunDriver(ESCPDRV_PATH, "", {"PPD=" + WritePpd(dir, 2)}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "\033@");
  EXPECT_NE(r.err.find("ERROR: No pages found!\n"), std::string::npos);
}

}  // namespace

namespace {

// Inkjet steps are whole units of the model's base: 3600ths, or 1440ths
// for the raster command models.
TEST(Escpdrv, InkjetResolutionsByModel) {
  struct Case {
    int model;
    unsigned res;
    bool ok;
  } cases[] = {{2, 300, true}, {2, 720, true}, {3, 7, false}, {2, 1440, false},
               {4, 1440, true}, {4, 300, false}, {5, 360, true}, {2, 7200, false}};
  for (const Case& c : cases) {
    rastertest::TempDir dir;
    drvtest::Page p{drvtest::Header(c.res, c.res, 64, 2, 3, 1, 1), std::vector<uint8_t>(16, 0xF0)};
    rastertest::FilterResult r =
        drvtest::RunDriver(ESCPDRV_PATH, drvtest::Stream({p}), {"PPD=" + drvtest::WritePpd(dir, c.model)}, dir);
    EXPECT_EQ(r.status, c.ok ? 0 : 1) << c.model << " " << c.res << r.err;
    if (!c.ok) {
      EXPECT_NE(r.err.find("ERROR: Unable to print page 1 - "), std::string::npos) << r.err;
    }
  }
}

}  // namespace
