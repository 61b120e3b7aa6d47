// pcldrv run as the scheduler runs it, its PCL read back by the test's own
// decoder: the bitmap sent must be the raster page read, and the commands
// around it the page set-up, raster start, end of page and job reset.
#include <gtest/gtest.h>

#include "tests/filter/drivers/pcl_decode.h"
#include "tests/filter/drivers/raster_fixture.h"

namespace {

using namespace drvtest;

struct Case {
  const char* name;
  int model;  // -1: no PPD
  unsigned cs, planes, bits, xres, yres, compression;
  bool duplex, tumble;
  unsigned pages;
};

TEST(Pcldrv, DecodedPagesEqualTheRasterRead) {
  const Case cases[] = {
      {"mono 300 dpi unencoded, no PPD", -1, 3, 1, 1, 300, 300, 0, false, false, 2},
      {"mono 600 dpi run-length", 0, 3, 1, 1, 600, 600, 1, false, false, 1},
      {"mono 150x300 PackBits", 0, 3, 1, 1, 150, 300, 2, false, false, 1},
      {"CMY 300 dpi PackBits", 0, 4, 3, 1, 300, 300, 2, false, false, 1},
      {"KCMY 75 dpi run-length", 0, 8, 4, 1, 75, 75, 1, false, false, 1},
      {"2-bit mono PackBits", 0, 3, 1, 2, 300, 300, 2, false, false, 1},
      {"2-bit KCMY unencoded", 0, 8, 4, 2, 600, 300, 0, false, false, 1},
      {"duplex long edge", 0, 3, 1, 1, 300, 300, 2, true, false, 3},
      {"duplex short edge, KCMY", 0, 8, 4, 1, 300, 300, 2, true, true, 2},
      {"model 2 mono", 2, 3, 1, 1, 600, 600, 2, false, false, 1},
      {"model 2 KCMY 2-bit", 2, 8, 4, 2, 300, 600, 1, true, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rastertest::TempDir dir;
    std::vector<Page> pages;
    for (unsigned i = 0; i < c.pages; i++) {
      // Widths not a multiple of 8 leave part of each plane's last byte unused.
      Page p{Header(c.xres, c.yres, 181 + 8 * i, 40, c.cs, c.planes, c.bits), {}};
      p.h.vornCompression = c.compression;
      p.h.Duplex = c.duplex;
      p.h.Tumble = c.tumble;
      p.h.NumCopies = 2;
      p.data = PageData(p.h, c.planes, 17 * i + c.cs);
      pages.push_back(p);
    }
    std::vector<std::string> env;
    if (c.model >= 0) env.push_back("PPD=" + WritePpd(dir, c.model));
    rastertest::FilterResult r = RunDriver(PCLDRV_PATH, Stream(pages), env, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("PAGE: 1 2\n"), std::string::npos) << r.err;
    PclDecoded d = DecodePcl(r.out);
    ASSERT_EQ(d.error, "");
    ASSERT_EQ(d.rasters.size(), pages.size());

    std::string framing = "E";
    for (unsigned i = 0; i < c.pages; i++) {
      const vorn_page_header_t& h = pages[i].h;
      const PclRaster& got = d.rasters[i];
      ASSERT_EQ(got.width, h.vornWidth);
      ASSERT_EQ(got.height, h.vornHeight);
      for (unsigned y = 0; y < h.vornHeight; y++) {
        std::vector<uint8_t> want(pages[i].data.begin() + y * h.vornBytesPerLine,
                                  pages[i].data.begin() + (y + 1) * h.vornBytesPerLine);
        ASSERT_EQ(PclRebuild(got.rows[y], h, c.planes), want) << "page " << i + 1 << " row " << y;
        // A row is sent as all its planes (two bit rows each at 2 bits) or not at all.
        if (!got.rows[y].empty()) {
          ASSERT_EQ(got.rows[y].size(), c.planes * c.bits);
        }
      }
      bool front = !c.duplex || i % 2 == 0;
      if (front) {
        framing += " &l6D &k12H &l0O &l2A &l66P &l0E &l2X";
        if (c.duplex) framing += " &l" + std::to_string(1 + c.tumble) + "S";
        framing += " &l0L";
        if (c.model == 2) framing += " &l-2H";
      } else {
        framing += " &a2G";
      }
      framing += " *t" + std::to_string(c.xres) + "R";
      if (c.model == 2) framing += " *g26W";
      else if (c.cs == 8) framing += " *r-4U";
      else if (c.cs == 4) framing += " *r-3U";
      framing += " *r" + std::to_string(h.vornWidth) + "S *r40T &a0H";
      // Vertical start: 10 × (length − top) of the PPD's first size, Letter.
      framing += c.model >= 0 ? " &a360V" : " &a0V";
      framing += " *r1A";
      if (c.compression) framing += " *b" + std::to_string(c.compression) + "M";
      bool eject = !c.duplex || i % 2 == 1;
      if (c.planes > 1) framing += eject ? " *rC &l0H" : " *rC";
      else framing += eject ? " *r0B FF" : " *r0B";
    }
    framing += " E";
    EXPECT_EQ(d.framing, framing);
    if (c.model == 2) {
      ASSERT_EQ(d.config.size(), pages.size());
      std::string want = {2, char(c.planes)};
      for (int k = 0; k < 4; k++)
        want += {char(c.xres >> 8), char(c.xres & 0xFF), char(c.yres >> 8), char(c.yres & 0xFF), 0,
                 char(1 << c.bits)};
      EXPECT_EQ(d.config[0], want);
    }
  }
}

// Blank rows are sent as one vertical move before the next printed row,
// and not at all at the end of a page; paper sizes come from the length.
TEST(Pcldrv, BlankRowsAndPaperSizes) {
  rastertest::TempDir dir;
  Page p{Header(300, 300, 16, 8, 3, 1, 1), {}};
  p.h.PageSize[1] = 595;
  p.data.assign(16, 0);
  p.data[6] = 0x80;  // row 3, after three blank rows; rows 4 to 7 blank
  rastertest::FilterResult r = RunDriver(PCLDRV_PATH, Stream({p}), {}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\033&l49P"), std::string::npos);
  EXPECT_EQ(r.out.find("A\033&l49P"), std::string::npos) << "no paper size command for 595 points";
  size_t y = r.out.find("\033*b3Y");
  ASSERT_NE(y, std::string::npos);
  EXPECT_EQ(r.out.find("Y", y + 5), std::string::npos) << "no further vertical move";
  EXPECT_EQ(r.out.compare(y + 5, 8, std::string("\033*b2W\x80\0", 7) + "\033", 0, 8), 0);
  EXPECT_EQ(r.out.substr(r.out.size() - 8), "\033*r0B\f\033E");
}

// Sizes paper commands by page length.
TEST(Pcldrv, PaperSizeByLength) {
  const std::pair<unsigned, const char*> sizes[] = {
      {540, "80"}, {624, "90"}, {649, "91"}, {684, "81"}, {709, "100"}, {756, "1"},
      {792, "2"},  {842, "26"}, {1008, "3"}, {1191, "27"}, {1224, "6"}};
  for (auto [length, code] : sizes) {
    rastertest::TempDir dir;
    Page p{Header(300, 300, 8, 1, 3, 1, 1), {0xFF}};
    p.h.PageSize[1] = length;
    rastertest::FilterResult r = RunDriver(PCLDRV_PATH, Stream({p}), {}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(DecodePcl(r.out).framing.find("&l" + std::string(code) + "A &l" + std::to_string(length / 12) + "P"),
              std::string::npos)
        << length;
  }
}

}  // namespace

namespace {

// Pages pcldrv cannot send correctly are refused, not sent wrong.
TEST(Pcldrv, RefusesPagesItCannotSend) {
  struct Refusal {
    const char* name;
    int model;
    unsigned cs, planes, compression;
  } cases[] = {
      {"delta-row compression is not written", 0, 3, 1, 3},
      {"model 2 has no CMY mode", 2, 4, 3, 0},
  };
  for (const Refusal& c : cases) {
    rastertest::TempDir dir;
    drvtest::Page p{drvtest::Header(300, 300, 64, 2, c.cs, c.planes, 1), {}};
    p.h.vornCompression = c.compression;
    p.data.assign(p.h.vornBytesPerLine * 2, 0xFF);
    rastertest::FilterResult r =
        drvtest::RunDriver(PCLDRV_PATH, drvtest::Stream({p}), {"PPD=" + drvtest::WritePpd(dir, c.model)}, dir);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_NE(r.err.find("ERROR: Unable to print page 1 - "), std::string::npos) << c.name << r.err;
    EXPECT_EQ(r.out.find("\033*b"), std::string::npos) << c.name;
  }
}

}  // namespace
