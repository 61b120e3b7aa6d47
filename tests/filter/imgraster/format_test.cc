// Row formatting: the dither matrices' defining property, the level tables,
// the packing of every formatter member in every order and depth, placement,
// and the six-colour inks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "filter/imgraster/dither.h"
#include "filter/imgraster/format.h"
#include "unpack.h"

namespace {

using namespace vorn::raster;

TEST(Dither, EachLevelLightsItsShareOfDotsEvenlySpread) {
  // 1 bit: a sample v lights the dots whose entry is below it, v of 256
  // (all 256 at 255, none at 0); at v = 256 / 4^k exactly one dot in each
  // 2^k × 2^k block, the Bayer matrix's even spread.
  for (unsigned v = 0; v < 256; v++) {
    unsigned lit = 0;
    for (auto& r : Matrix16)
      for (uint8_t e : r) lit += v > e;
    EXPECT_EQ(lit, v == 255 ? 256u : v) << "v " << v;
  }
  for (unsigned k = 1; k <= 4; k++) {
    unsigned v = 256u >> (2 * k), block = 1u << k;
    for (unsigned by = 0; by < 16; by += block)
      for (unsigned bx = 0; bx < 16; bx += block) {
        unsigned lit = 0;
        for (unsigned y = by; y < by + block; y++)
          for (unsigned x = bx; x < bx + block; x++) lit += v > Matrix16[y][x];
        EXPECT_EQ(lit, 1u) << "level " << v << " block " << bx << "," << by;
      }
  }
  EXPECT_EQ(Matrix16[15][0], 254);
  // 8 × 8 and 4 × 4: every threshold once, and a quarter of the levels lit
  // gives one dot per 2 × 2 block.
  auto check = [](const auto& m, unsigned n) {
    std::vector<int> seen(n * n, 0);
    for (unsigned y = 0; y < n; y++)
      for (unsigned x = 0; x < n; x++) seen[m[y][x]]++;
    for (unsigned i = 0; i < n * n; i++) EXPECT_EQ(seen[i], 1) << n << "x" << n << " entry " << i;
    for (unsigned by = 0; by < n; by += 2)
      for (unsigned bx = 0; bx < n; bx += 2) {
        unsigned lit = 0;
        for (unsigned y = by; y < by + 2; y++)
          for (unsigned x = bx; x < bx + 2; x++) lit += n * n / 4 > m[y][x];
        EXPECT_EQ(lit, 1u);
      }
  };
  check(Matrix8, 8);
  check(Matrix4, 4);
}

TEST(Dither, LevelTables) {
  level_tables t2 = make_level_tables(2), t4 = make_level_tables(4);
  struct Case {
    const level_tables* t;
    unsigned v, on, off;
  } cases[] = {
      {&t2, 0, 0, 0},     {&t2, 255, 255, 255}, {&t2, 128, 170, 170}, {&t2, 100, 170, 85},
      {&t2, 1, 85, 0},    {&t2, 254, 255, 255}, {&t2, 84, 85, 85},    {&t4, 0, 0, 0},
      {&t4, 255, 255, 255}, {&t4, 17, 34, 17},  {&t4, 16, 17, 17},    {&t4, 254, 255, 255},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.t->on[c.v], c.on) << c.v;
    EXPECT_EQ(c.t->off[c.v], c.off) << c.v;
  }
}

vorn_page_header_t Header(unsigned cs, unsigned bits, unsigned order, unsigned width) {
  vorn_page_header_t h;
  h.vornColorSpace = cs;
  h.vornBitsPerColor = bits;
  h.vornColorOrder = order;
  h.vornWidth = width;
  h.vornHeight = 1;
  h.HWResolution[0] = h.HWResolution[1] = 100;
  h.vornBitsPerPixel = bits_per_pixel_for(cs, bits, order);
  h.vornBytesPerLine = bytes_per_line_for(cs, bits, order, width);
  return h;
}

// Formats one row (every plane in planar order) from source pixels; rows
// of planes one after another.
std::vector<uint8_t> Format(const vorn_page_header_t& h, const std::vector<uint8_t>& src, unsigned width,
                            unsigned y = 0, int xposition = -1) {
  level_tables t = make_level_tables(h.vornBitsPerColor);
  unsigned planes = h.vornColorOrder == 2 ? vornRasterPlanes(h) : 1;
  std::vector<uint8_t> rows;
  for (unsigned p = 0; p < planes; p++) {
    std::vector<uint8_t> row(h.vornBytesPerLine, blank_value(image_space_for(h.vornColorSpace)));
    format_input in;
    in.header = &h;
    in.levels = &t;
    in.plane = int(p);
    in.y = y;
    in.width = width;
    in.xposition = xposition;
    in.r0 = in.r1 = src.data();
    format_row(in, row.data());
    rows.insert(rows.end(), row.begin(), row.end());
  }
  return rows;
}

// The channels each space writes, in order, from its source channels.
std::vector<int> Written(unsigned cs) {
  switch (cs) {
    case 0: case 3: return {0};
    case 1: case 4: return {0, 1, 2};
    case 5: return {2, 1, 0};
    case 2: return {0, 1, 2, -1};
    case 6: return {0, 1, 2, 3};
    case 7: case 10: return {2, 1, 0, 3};
    default: return {3, 0, 1, 2};  // 8, 9 above one bit
  }
}

TEST(Format, EveryMemberOrderAndDepthPacksItsChannels) {
  // A row of 40 pixels with distinct values per channel; at 8 bits every
  // level reads back exactly, below that the dithered levels of a flat row
  // average to the source over a matrix width.
  for (unsigned cs : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u}) {
    int space = image_space_for(cs);
    unsigned depth = unsigned(space < 0 ? -space : space);
    for (unsigned order : {0u, 1u, 2u}) {
      for (unsigned bits : {1u, 2u, 4u, 8u}) {
        if (cs == 9 && bits == 1) continue;  // six inks: own test below
        SCOPED_TRACE("space " + std::to_string(cs) + " order " + std::to_string(order) + " bits " +
                     std::to_string(bits));
        const unsigned width = 48;
        vorn_page_header_t h = Header(cs, bits, order, width);
        ASSERT_EQ(vornRasterHeaderProblem(h), nullptr);
        std::vector<uint8_t> src(width * depth);
        for (unsigned x = 0; x < width; x++)
          for (unsigned c = 0; c < depth; c++) src[x * depth + c] = uint8_t(bits == 8 ? x * 5 + c * 60 : 40 + c * 60);
        std::vector<uint8_t> rows;
        std::vector<std::vector<uint8_t>> tile;
        for (unsigned y = 0; y < 16; y++) tile.push_back(Format(h, src, width, y));
        std::vector<int> written = Written(cs);
        for (unsigned k = 0; k < written.size(); k++) {
          if (bits == 8) {
            for (unsigned x = 0; x < width; x++) {
              unsigned want = written[k] < 0 ? 255 : src[x * depth + unsigned(written[k])];
              ASSERT_EQ(rastertest::Level(h, tile[0].data(), x, k), want) << "channel " << k << " x " << x;
            }
            continue;
          }
          double sum = 0;
          for (auto& row : tile)
            for (unsigned x = 0; x < 16; x++) sum += rastertest::Level8(h, row.data(), x, k);
          double mean = sum / 256, want = written[k] < 0 ? 255 : src[unsigned(written[k])];
          EXPECT_NEAR(mean, want, rastertest::DitherTolerance(bits)) << "channel " << k;
        }
      }
    }
  }
}

TEST(Format, LevelAndThresholdEdgeCases) {
  struct Case {
    const char* name;
    unsigned cs, bits, value;
    unsigned y, x;  // position in the dither matrices (x counts down)
    unsigned want;
  } cases[] = {
      {"2 bits, 128 is level 2 wherever", 3, 2, 128, 0, 0, 2},
      {"2 bits, 128 is level 2 wherever (2)", 3, 2, 128, 5, 3, 2},
      // Matrix8[0][0] is 0, below 36 (100 mod 64): level 2 there.
      {"2 bits, 100 above the entry", 3, 2, 100, 0, 0, 2},
      {"1 bit, 255 always", 3, 1, 255, 15, 0, 1},
      {"1 bit, 0 never", 3, 1, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    vorn_page_header_t h = Header(c.cs, c.bits, 0, 16);
    // Column index = pixels still to be written mod the size: pixel x of a
    // row of width w uses (w - x) mod n. With w = 16, pixel 0 uses column 0.
    std::vector<uint8_t> src(16, uint8_t(c.value));
    std::vector<uint8_t> row = Format(h, src, 16, c.y);
    unsigned x = c.x == 0 ? 0 : 16 - c.x;
    EXPECT_EQ(rastertest::Level(h, row.data(), x, 0), c.want) << c.name;
  }
  // 100 at 2 bits: level 2 exactly where 36 exceeds the 8 × 8 entry.
  vorn_page_header_t h = Header(3, 2, 0, 8);
  for (unsigned y = 0; y < 8; y++) {
    std::vector<uint8_t> row = Format(h, std::vector<uint8_t>(8, 100), 8, y);
    for (unsigned x = 0; x < 8; x++)
      EXPECT_EQ(rastertest::Level(h, row.data(), x, 0), 36 > Matrix8[y][(8 - x) % 8] ? 2u : 1u) << x << "," << y;
  }
}

TEST(Format, SixColourInks) {
  // Pixels as C, M, Y, K.
  struct Case {
    const char* name;
    std::vector<uint8_t> src;
    std::vector<uint8_t> chunky;  // one byte a pixel
  } cases[] = {
      {"white, cyan, white", {0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0}, {0x00, 0x10, 0x00}},
      {"cyan and magenta: cyan with light magenta", {255, 255, 0, 0}, {0x11}},
      {"cyan and yellow: yellow with light cyan", {255, 0, 255, 0}, {0x06}},
      {"magenta and yellow", {0, 255, 255, 0}, {0x0C}},
      {"black wins", {255, 255, 255, 255}, {0x20}},
      {"magenta alone, yellow alone", {0, 255, 0, 0, 0, 0, 255, 0}, {0x08, 0x04}},
  };
  for (const Case& c : cases) {
    unsigned width = unsigned(c.chunky.size());
    vorn_page_header_t chunky = Header(9, 1, 0, width);
    EXPECT_EQ(chunky.vornBitsPerPixel, 8u);
    EXPECT_EQ(Format(chunky, c.src, width), c.chunky) << c.name;
    // Banded and planar set the same inks, band or plane order K C M Y c m.
    for (unsigned order : {1u, 2u}) {
      vorn_page_header_t h = Header(9, 1, order, width);
      std::vector<uint8_t> rows = Format(h, c.src, width);
      for (unsigned x = 0; x < width; x++) {
        unsigned ink = 0;
        for (unsigned b = 0; b < 6; b++) ink |= rastertest::Level(h, rows.data(), x, b) << (5 - b);
        EXPECT_EQ(ink, c.chunky[x]) << c.name << " order " << order << " pixel " << x;
      }
    }
  }
  vorn_page_header_t banded = Header(9, 1, 1, 16);
  EXPECT_EQ(banded.vornBitsPerPixel, 1u);
  EXPECT_EQ(banded.vornBytesPerLine, 12u) << "six bands of 2 bytes";
}

TEST(Format, PlacementAndBlankMargins) {
  struct Case {
    int xposition;
    unsigned first;  // first image pixel
  } cases[] = {{-1, 0}, {0, 6}, {1, 13}};
  for (const Case& c : cases) {
    for (unsigned cs : {3u, 1u}) {
      vorn_page_header_t h = Header(cs, 1, 0, 20);
      int space = image_space_for(cs);
      unsigned depth = unsigned(space < 0 ? -space : space);
      // Seven pixels: full ink for K, black for RGB.
      std::vector<uint8_t> src(7 * depth, cs == 3 ? 255 : 0);
      std::vector<uint8_t> row = Format(h, src, 7, 0, c.xposition);
      for (unsigned x = 0; x < 20; x++) {
        bool inside = x >= c.first && x < c.first + 7;
        for (unsigned k = 0; k < depth; k++) {
          // K: ink is 1, the blank 0. RGB: black is 0, the blank white 1.
          unsigned want = cs == 3 ? inside : !inside;
          EXPECT_EQ(rastertest::Level(h, row.data(), x, k), want)
              << "space " << cs << " position " << c.xposition << " pixel " << x;
        }
      }
      if (cs == 1) {
        EXPECT_EQ(row[0] & 0x80, 0x80) << "the unused top field keeps the blank";
      }
    }
  }
  // A source row wider than the page is cut at the row's end.
  vorn_page_header_t h = Header(3, 8, 0, 4);
  std::vector<uint8_t> row = Format(h, std::vector<uint8_t>(9, 7), 9, 0, 1);
  EXPECT_EQ(row, std::vector<uint8_t>(4, 7));
}

TEST(Format, EightBitRowsBlendTwoSourceRows) {
  vorn_page_header_t h = Header(1, 8, 0, 2);
  std::vector<uint8_t> a = {0, 100, 200, 10, 20, 30}, b = {100, 200, 0, 10, 20, 30};
  std::vector<uint8_t> row(h.vornBytesPerLine, 0xFF);
  format_input in;
  in.header = &h;
  in.width = 2;
  in.xposition = -1;
  in.r0 = a.data();
  in.r1 = b.data();
  in.w0 = 3;
  in.w1 = 1;
  in.divisor = 4;
  format_row(in, row.data());
  EXPECT_EQ(row, (std::vector<uint8_t>{25, 125, 150, 10, 20, 30}));
}

}  // namespace
