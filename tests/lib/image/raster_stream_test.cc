// The raster page stream: pages written by the writer read back unchanged,
// readers skip what they do not read, and headers that cannot describe a
// page are refused on both sides.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "vorn/raster.h"

namespace {

struct Page {
  vorn_page_header_t h;
  std::vector<uint8_t> data;
};

vorn_page_header_t Header(unsigned space, unsigned order, unsigned bits, unsigned width, unsigned height) {
  vorn_page_header_t h;
  h.vornColorSpace = space;
  h.vornColorOrder = order;
  h.vornBitsPerColor = bits;
  h.vornWidth = width;
  h.vornHeight = height;
  h.HWResolution[0] = 300;
  h.HWResolution[1] = 600;
  unsigned planes = vornRasterPlanes(h);
  h.vornBitsPerPixel = order == 0 ? bits * (planes == 3 && bits < 8 ? 4 : planes) : bits;
  unsigned row = (width * h.vornBitsPerPixel + 7) / 8;
  h.vornBytesPerLine = order == 1 ? row * planes : row;
  return h;
}

Page MakePage(vorn_page_header_t h, unsigned seed) {
  Page p{h, {}};
  std::snprintf(p.h.MediaType, sizeof(p.h.MediaType), "plain-%u", seed);
  std::snprintf(p.h.OutputType, sizeof(p.h.OutputType), "%s", "photo");
  p.h.Collate = seed & 1;
  p.h.Tumble = true;
  p.h.NumCopies = seed + 1;
  p.h.PageSize[0] = 612;
  p.h.PageSize[1] = 792;
  p.h.ImagingBoundingBox[2] = 594;
  p.h.vornRowStep = 7 * seed;
  p.data.resize(size_t(vornRasterPageBytes(p.h)));
  for (size_t i = 0; i < p.data.size(); i++) p.data[i] = uint8_t(i * 31 + seed);
  return p;
}

// A temporary file the stream goes through.
struct TempStream {
  FILE* f = std::tmpfile();
  ~TempStream() { std::fclose(f); }
  int fd() const { return fileno(f); }
  void Rewind() const { ::lseek(fd(), 0, SEEK_SET); }
  std::vector<uint8_t> Bytes() const {
    Rewind();
    std::vector<uint8_t> b;
    uint8_t buf[4096];
    ssize_t n;
    while ((n = ::read(fd(), buf, sizeof(buf))) > 0) b.insert(b.end(), buf, buf + n);
    return b;
  }
  void Replace(const std::vector<uint8_t>& b) const {
    ASSERT_EQ(::ftruncate(fd(), 0), 0);
    Rewind();
    ASSERT_EQ(::write(fd(), b.data(), b.size()), ssize_t(b.size()));
    Rewind();
  }
};

bool SameHeader(const vorn_page_header_t& a, const vorn_page_header_t& b) {
  return std::memcmp(&a, &b, sizeof(a)) == 0;
}

TEST(RasterStream, PagesOfEverySpaceOrderAndDepthReadBackUnchanged) {
  struct Case {
    unsigned space, order, bits, width, height;
  } cases[] = {
      {3, 0, 1, 13, 5}, {0, 0, 8, 7, 3},  {1, 0, 8, 9, 4},  {1, 0, 2, 9, 4},  {2, 0, 8, 5, 2},
      {4, 1, 4, 11, 3}, {5, 2, 1, 17, 2}, {6, 0, 1, 21, 6}, {7, 1, 2, 3, 3},  {8, 2, 8, 4, 4},
      {9, 0, 1, 6, 2},  {9, 1, 1, 6, 2},  {9, 2, 8, 6, 2},  {10, 0, 4, 5, 5}, {14, 0, 2, 19, 1},
      {15, 0, 8, 2, 2},
  };
  TempStream s;
  std::vector<Page> pages;
  unsigned seed = 0;
  for (const Case& c : cases) pages.push_back(MakePage(Header(c.space, c.order, c.bits, c.width, c.height), seed++));
  vorn_raster_t* w = vornRasterOpen(s.fd(), VORN_RASTER_WRITE);
  ASSERT_NE(w, nullptr);
  for (const Page& p : pages) {
    ASSERT_TRUE(vornRasterWriteHeader(w, p.h)) << vornRasterHeaderProblem(p.h);
    // Row by row, as the filters write them.
    size_t row = p.h.vornBytesPerLine;
    for (size_t at = 0; at < p.data.size(); at += row)
      ASSERT_EQ(vornRasterWritePixels(w, p.data.data() + at, row), row);
  }
  vornRasterClose(w);
  std::vector<uint8_t> bytes = s.Bytes();
  ASSERT_EQ(std::memcmp(bytes.data(), "VRST", 4), 0) << "the type rules recognise the stream by this";

  s.Rewind();
  vorn_raster_t* r = vornRasterOpen(s.fd(), VORN_RASTER_READ);
  for (const Page& p : pages) {
    vorn_page_header_t h;
    ASSERT_TRUE(vornRasterReadHeader(r, h));
    EXPECT_TRUE(SameHeader(h, p.h)) << "space " << p.h.vornColorSpace;
    std::vector<uint8_t> row(h.vornBytesPerLine);
    std::vector<uint8_t> got;
    while (vornRasterReadPixels(r, row.data(), row.size()) == row.size()) got.insert(got.end(), row.begin(), row.end());
    EXPECT_EQ(got, p.data) << "space " << p.h.vornColorSpace;
  }
  vorn_page_header_t h;
  EXPECT_FALSE(vornRasterReadHeader(r, h)) << "end of stream";
  vornRasterClose(r);
}

TEST(RasterStream, ReaderSkipsUnreadRowsAndWriterPadsShortPages) {
  TempStream s;
  Page a = MakePage(Header(6, 0, 8, 10, 4), 1), b = MakePage(Header(3, 0, 1, 16, 2), 2);
  vorn_raster_t* w = vornRasterOpen(s.fd(), VORN_RASTER_WRITE);
  ASSERT_TRUE(vornRasterWriteHeader(w, a.h));
  // Only one row of page a, then the next header: the rest comes as zeros.
  ASSERT_EQ(vornRasterWritePixels(w, a.data.data(), a.h.vornBytesPerLine), a.h.vornBytesPerLine);
  ASSERT_TRUE(vornRasterWriteHeader(w, b.h));
  // More than the page holds: only the page's bytes are taken.
  std::vector<uint8_t> more = b.data;
  more.resize(b.data.size() + 5, 0xEE);
  EXPECT_EQ(vornRasterWritePixels(w, more.data(), more.size()), b.data.size());
  vornRasterClose(w);

  s.Rewind();
  vorn_raster_t* r = vornRasterOpen(s.fd(), VORN_RASTER_READ);
  vorn_page_header_t h;
  ASSERT_TRUE(vornRasterReadHeader(r, h));
  std::vector<uint8_t> row(h.vornBytesPerLine);
  ASSERT_EQ(vornRasterReadPixels(r, row.data(), row.size()), row.size());
  ASSERT_EQ(vornRasterReadPixels(r, row.data(), row.size()), row.size());
  EXPECT_EQ(row, std::vector<uint8_t>(row.size(), 0)) << "padding of the unfinished page";
  ASSERT_TRUE(vornRasterReadHeader(r, h)) << "two rows of page a left unread";
  EXPECT_TRUE(SameHeader(h, b.h));
  std::vector<uint8_t> all(b.data.size());
  EXPECT_EQ(vornRasterReadPixels(r, all.data(), all.size() + 1), 0u) << "past the page's end";
  ASSERT_EQ(vornRasterReadPixels(r, all.data(), all.size()), all.size());
  EXPECT_EQ(all, b.data);
  EXPECT_FALSE(vornRasterReadHeader(r, h));
  vornRasterClose(r);
}

// Field offsets of the byte layout documented in vorn/raster.h.
constexpr size_t kWidth = 324, kHeight = 328, kBits = 336, kBpp = 340, kBpl = 344, kOrder = 348, kSpace = 352,
                 kXRes = 276;

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v >> 24), b[at + 1] = uint8_t(v >> 16), b[at + 2] = uint8_t(v >> 8), b[at + 3] = uint8_t(v);
}

TEST(RasterStream, HostileHeadersAreRefusedByReaderAndWriter) {
  struct Case {
    const char* why;
    size_t at;
    uint32_t value;
  } cases[] = {
      {"zero width", kWidth, 0},
      {"zero height", kHeight, 0},
      {"bits per colour 3", kBits, 3},
      {"bits per colour 0", kBits, 0},
      {"colour space 16", kSpace, 16},
      {"colour order 3", kOrder, 3},
      {"zero resolution", kXRes, 0},
      {"bytes per line below the width", kBpl, 1},
      {"bits per pixel 0", kBpp, 0},
      {"width beyond the limit", kWidth, 0x80000000u},
      // 2^20 rows of 2^20 bytes: more than a page may hold; the product
      // overflows 32 bits.
      {"page data too large", kBpl, 1u << 20},
  };
  Page good = MakePage(Header(3, 0, 8, 4, 2), 0);
  for (const Case& c : cases) {
    TempStream s;
    vorn_raster_t* w = vornRasterOpen(s.fd(), VORN_RASTER_WRITE);
    ASSERT_TRUE(vornRasterWriteHeader(w, good.h));
    vornRasterWritePixels(w, good.data.data(), good.data.size());
    vornRasterClose(w);
    std::vector<uint8_t> bytes = s.Bytes();
    Put32(bytes, c.at, c.value);
    if (c.at == kBpl && c.value == (1u << 20)) Put32(bytes, kHeight, 1u << 20);
    s.Replace(bytes);
    vorn_raster_t* r = vornRasterOpen(s.fd(), VORN_RASTER_READ);
    vorn_page_header_t h;
    EXPECT_FALSE(vornRasterReadHeader(r, h)) << c.why;
    uint8_t byte;
    EXPECT_EQ(vornRasterReadPixels(r, &byte, 1), 0u) << c.why;
    vornRasterClose(r);
  }
  // The writer refuses the same kind of header.
  TempStream s;
  vorn_raster_t* w = vornRasterOpen(s.fd(), VORN_RASTER_WRITE);
  vorn_page_header_t bad = good.h;
  bad.vornBitsPerColor = 3;
  EXPECT_FALSE(vornRasterWriteHeader(w, bad));
  bad = good.h;
  bad.vornBytesPerLine = 1;
  EXPECT_FALSE(vornRasterWriteHeader(w, bad));
  vornRasterClose(w);
  EXPECT_TRUE(s.Bytes().empty());
}

TEST(RasterStream, DamagedStreamsEndReading) {
  Page p = MakePage(Header(1, 0, 8, 5, 3), 3);
  TempStream s;
  vorn_raster_t* w = vornRasterOpen(s.fd(), VORN_RASTER_WRITE);
  ASSERT_TRUE(vornRasterWriteHeader(w, p.h));
  vornRasterWritePixels(w, p.data.data(), p.data.size());
  vornRasterClose(w);
  std::vector<uint8_t> full = s.Bytes();
  struct Case {
    const char* why;
    std::vector<uint8_t> bytes;
    bool header;  // the header still reads
  } cases[] = {
      {"empty", {}, false},
      {"header cut short", std::vector<uint8_t>(full.begin(), full.begin() + 100), false},
      {"wrong sync word", [&] { auto b = full; b[0] = 'X'; return b; }(), false},
      {"rows cut short", std::vector<uint8_t>(full.begin(), full.end() - 4), true},
  };
  for (const Case& c : cases) {
    s.Replace(c.bytes);
    vorn_raster_t* r = vornRasterOpen(s.fd(), VORN_RASTER_READ);
    vorn_page_header_t h;
    ASSERT_EQ(vornRasterReadHeader(r, h), c.header) << c.why;
    if (c.header) {
      std::vector<uint8_t> all(p.data.size());
      EXPECT_EQ(vornRasterReadPixels(r, all.data(), all.size()), 0u) << c.why;
    }
    vornRasterClose(r);
  }
  EXPECT_EQ(vornRasterOpen(-1, VORN_RASTER_READ), nullptr);
}

}  // namespace
