// labeldrv run as the scheduler runs it, its label commands read back:
// each label's rows must be the raster page read, framed by the label
// length, row width and density commands and the feed to the next label.
#include <gtest/gtest.h>

#include "tests/filter/drivers/label_decode.h"
#include "tests/filter/drivers/raster_fixture.h"

namespace {

using namespace drvtest;

TEST(Labeldrv, LabelsDecodeToTheRasterRead) {
  struct Case {
    const char* name;
    unsigned yres, width, height, length_pt, density;
  } cases[] = {
      {"2-inch label at 203 dpi", 203, 400, 406, 144, 0},
      {"300 dpi, density 1", 300, 203, 150, 72, 1},
      {"narrow label, density 2", 203, 9, 50, 36, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rastertest::TempDir dir;
    std::vector<Page> pages;
    for (unsigned i = 0; i < 3; i++) {
      Page p{Header(c.yres, c.yres, c.width, c.height, 3, 1, 1), {}};
      p.h.PageSize[1] = c.length_pt;
      p.h.vornCompression = c.density;
      p.h.NumCopies = 4;
      p.data = PageData(p.h, 1, i + 3);
      pages.push_back(p);
    }
    rastertest::FilterResult r = RunDriver(LABELDRV_PATH, Stream(pages), {}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("PAGE: 3 1\n"), std::string::npos) << "one copy a label: " << r.err;
    EXPECT_EQ(r.out.compare(0, 102, std::string(100, '\033') + "\033@"), 0);
    std::string err;
    std::vector<Label> labels = DecodeLabels(r.out, err);
    ASSERT_EQ(err, "");
    ASSERT_EQ(labels.size(), pages.size());
    for (unsigned i = 0; i < pages.size(); i++) {
      const vorn_page_header_t& h = pages[i].h;
      const Label& l = labels[i];
      EXPECT_EQ(l.length, c.yres * c.length_pt / 72);
      EXPECT_EQ(l.bytes, h.vornBytesPerLine);
      EXPECT_EQ(l.density, char('c' + c.density));
      ASSERT_LE(l.rows.size(), h.vornHeight);
      for (unsigned y = 0; y < h.vornHeight; y++) {
        std::vector<uint8_t> want(pages[i].data.begin() + y * h.vornBytesPerLine,
                                  pages[i].data.begin() + (y + 1) * h.vornBytesPerLine);
        std::vector<uint8_t> got = y < l.rows.size() && !l.rows[y].empty() ? l.rows[y]
                                                                             : std::vector<uint8_t>(want.size(), 0);
        ASSERT_EQ(got, want) << "label " << i + 1 << " row " << y;
      }
    }
  }
}

TEST(Labeldrv, LengthFeedsAndBlankLabels) {
  rastertest::TempDir dir;
  Page p{Header(203, 203, 16, 601, 3, 1, 1), {}};
  p.h.PageSize[1] = 144;
  p.data.assign(2 * 601, 0);
  p.data[2 * 600] = 0x81;  // row 600, after 600 blank rows
  Page blank{Header(203, 203, 16, 20, 3, 1, 1), std::vector<uint8_t>(40, 0)};
  blank.h.PageSize[1] = 144;
  rastertest::FilterResult r = RunDriver(LABELDRV_PATH, Stream({p, blank}), {}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string start = std::string("\033L\x96\x01\033D\x02\033c", 9);
  const std::string want = std::string(100, '\033') + "\033@" + start + "\033f\001\377\033f\001\377\033f\001\x5A" +
                           std::string("\x16\x81\x00", 3) + "\033E" + start + "\033E";
  EXPECT_EQ(r.out, want);
}

TEST(Labeldrv, RefusesWhatItCannotPrint) {
  struct Case {
    const char* name;
    unsigned width, length_pt, yres, density, cs;
  } cases[] = {
      {"rows wider than 255 bytes", 2048, 144, 203, 0, 3},
      {"label longer than 65535 dots", 16, 30000, 203, 0, 3},
      {"density that would read as a feed", 16, 144, 203, 3, 3},
      {"colour page", 16, 144, 203, 0, 8},
  };
  for (const Case& c : cases) {
    rastertest::TempDir dir;
    unsigned planes = c.cs == 8 ? 4 : 1;
    Page p{Header(c.yres, c.yres, c.width, 2, c.cs, planes, 1), {}};
    p.h.PageSize[1] = c.length_pt;
    p.h.vornCompression = c.density;
    p.data.assign(p.h.vornBytesPerLine * 2, 0xFF);
    rastertest::FilterResult r = RunDriver(LABELDRV_PATH, Stream({p}), {}, dir);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_NE(r.err.find("ERROR: Unable to print label 1 - "), std::string::npos) << c.name << r.err;
    EXPECT_EQ(r.out.find('\x16'), std::string::npos) << c.name;
  }
}

}  // namespace
