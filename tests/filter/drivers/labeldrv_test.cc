// labeldrv run as the scheduler runs it, its label commands read back:
// each label's rows must be the raster page read, framed by the label
// length, row width and density commands and the feed to the next label.
#include <gtest/gtest.h>

#include "tests/filter/drivers/raster_fixture.h"

namespace {

using namespace drvtest;

struct Label {
  unsigned length = 0, bytes = 0;
  char density = 0;
  std::vector<std::vector<uint8_t>> rows;  // printed rows by position
  std::vector<unsigned> feeds;             // each ESC "f" 01 count
};

// The label printer's commands: ESC "@" reset, ESC "L" length (low, high),
// ESC "D" bytes per row, ESC "c".."e" density, ESC "f" 01 n feed n rows,
// 16 and a row of dots, ESC "E" to the next label. Leading ESC padding is
// skipped.
std::vector<Label> DecodeLabels(const std::string& s, std::string& err) {
  std::vector<Label> labels;
  size_t i = 0;
  while (i < s.size() && s[i] == '\033' && (i + 1 >= s.size() || s[i + 1] == '\033')) i++;
  if (s.compare(i, 2, "\033@") != 0) return err = "no reset after the padding", labels;
  i += 2;
  Label cur;
  bool open = false;
  unsigned y = 0;
  auto at = [&](size_t k) { return k < s.size() ? int(uint8_t(s[k])) : -1; };
  while (i < s.size()) {
    int c = at(i++);
    if (c == 0x16) {
      if (!open || i + cur.bytes > s.size()) return err = "row outside a label or cut short", labels;
      if (cur.rows.size() <= y) cur.rows.resize(y + 1);
      cur.rows[y++].assign(s.begin() + i, s.begin() + i + cur.bytes);
      i += cur.bytes;
      continue;
    }
    if (c != 0x1B) return err = "stray byte at " + std::to_string(i - 1), labels;
    int k = at(i++);
    if (k == 'L') {
      if (open) return err = "label not ended", labels;
      cur = Label{};
      open = true;
      y = 0;
      cur.length = unsigned(at(i) | at(i + 1) << 8);
      i += 2;
    } else if (k == 'D') {
      cur.bytes = unsigned(at(i++));
    } else if (k == 'f' && open && cur.density) {
      if (at(i) != 1) return err = "feed without 01", labels;
      cur.feeds.push_back(unsigned(at(i + 1)));
      y += unsigned(at(i + 1));
      i += 2;
    } else if (k >= 'c' && k <= 'e' && open && !cur.density) {
      cur.density = char(k);
    } else if (k == 'E' && open) {
      labels.push_back(cur);
      open = false;
    } else {
      return err = "unknown command ESC " + std::to_string(k), labels;
    }
  }
  if (open) err = "last label not ended";
  return labels;
}

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
