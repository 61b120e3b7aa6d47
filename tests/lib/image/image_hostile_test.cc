// Malformed and hostile image headers: each is refused with a reason,
// without a crash or an allocation the size of the claimed picture.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vorn/image.h"

namespace {

std::string Be16(unsigned v) { return {char(v >> 8), char(v)}; }
std::string Be32(uint32_t v) { return Be16(v >> 16) + Be16(v & 0xffff); }
std::string Le16(unsigned v) { return {char(v), char(v >> 8)}; }

std::string Sgi(unsigned storage, unsigned bpc, unsigned dim, unsigned w, unsigned h, unsigned z) {
  std::string s = Be16(474) + char(storage) + char(bpc) + Be16(dim) + Be16(w) + Be16(h) + Be16(z);
  s.resize(512, '\0');
  return s;
}

std::string Sun(uint32_t w, uint32_t h, uint32_t depth, uint32_t type, uint32_t maptype, uint32_t maplen) {
  return Be32(0x59a66a95) + Be32(w) + Be32(h) + Be32(depth) + Be32(0) + Be32(type) + Be32(maptype) + Be32(maplen);
}

std::string Gif(unsigned sw, unsigned sh, unsigned w, unsigned h) {
  // Header, screen with a two-colour global map, then an image descriptor.
  std::string s = "GIF89a" + Le16(sw) + Le16(sh) + char(0x80) + char(0) + char(0);
  s += std::string("\0\0\0\xff\xff\xff", 6);
  s += char(0x2c) + Le16(0) + Le16(0) + Le16(w) + Le16(h) + char(0);
  s += char(2) + std::string("\x02\x4c\x01", 3) + char(0) + char(0x3b);  // a little LZW data
  return s;
}

std::string Le32(uint32_t v) { return Le16(v & 0xffff) + Le16(v >> 16); }

// An icon directory of one entry pointing at `offset`, then `body`.
std::string Ico(uint32_t size, uint32_t offset, const std::string& body, unsigned count = 1) {
  return Le16(0) + Le16(1) + Le16(count) + std::string("\x10\x10\x00\x00", 4) + Le16(1) + Le16(4) + Le32(size) +
         Le32(offset) + body;
}
std::string Dib(int32_t w, int32_t h, unsigned bpp, unsigned compression, unsigned used) {
  return Le32(40) + Le32(uint32_t(w)) + Le32(uint32_t(h)) + Le16(1) + Le16(bpp) + Le32(compression) + Le32(0) +
         Le32(0) + Le32(0) + Le32(used) + Le32(0);
}

std::string Png(uint32_t w, uint32_t h) {
  // Signature and an IHDR claiming the size (its CRC is not right either).
  return std::string("\x89PNG\r\n\x1a\n", 8) + Be32(13) + "IHDR" + Be32(w) + Be32(h) + char(8) + char(2) +
         std::string(3, '\0') + Be32(0);
}

TEST(ImageHostile, MalformedHeadersAreRefused) {
  struct Case {
    const char* name;
    std::string file;
  } cases[] = {
      {"empty", ""},
      {"unknown format", "hello world"},
      {"PNM zero width", "P6 0 5 255\n"},
      {"PNM huge size", "P6 1000000000 1000000000 255\n"},
      {"PNM size past the number limit", "P5 99999999999999999999 1 255\n"},
      {"PNM maxval 0", "P5 1 1 0\n\x01"},
      {"PNM maxval above 16 bits", "P5 1 1 70000\n\x01"},
      {"PNM truncated raw data", "P6 4 4 255\nabc"},
      {"PNM truncated plain data", "P3 2 2 255 1 2 3"},
      {"PNM plain sample above maxval", "P2 1 1 10 11"},
      {"PNM no header at all", "P6"},
      {"SGI zero width", Sgi(0, 1, 3, 0, 4, 3)},
      {"SGI five channels", Sgi(0, 1, 3, 4, 4, 5)},
      {"SGI sample size 3", Sgi(0, 3, 3, 4, 4, 3)},
      {"SGI storage 2", Sgi(2, 1, 3, 4, 4, 3)},
      {"SGI verbatim data missing", Sgi(0, 1, 3, 64, 64, 3)},
      {"SGI run-length table missing", Sgi(1, 1, 3, 64, 64, 3)},
      {"SGI run-length offsets past the end", Sgi(1, 1, 2, 4, 1, 1) + Be32(0xfffffff0) + Be32(4)},
      {"SGI run overflowing the row", Sgi(1, 1, 2, 4, 1, 1) + Be32(520) + Be32(4) + std::string("\x7f\x01\x00", 3)},
      {"SGI header short", std::string("\x01\xda\x00\x01", 4)},
      {"Sun depth 7", Sun(4, 4, 7, 1, 0, 0)},
      {"Sun huge", Sun(0x7fffffff, 0x7fffffff, 24, 1, 0, 0)},
      {"Sun zero height", Sun(4, 0, 8, 1, 0, 0)},
      {"Sun map longer than the file", Sun(4, 4, 8, 1, 1, 3000)},
      {"Sun map not in thirds", Sun(1, 1, 8, 1, 1, 4) + std::string(4, '\0') + std::string(2, '\0')},
      {"Sun data missing", Sun(64, 64, 24, 1, 0, 0)},
      {"Sun run-length data missing", Sun(64, 64, 8, 2, 0, 0) + std::string("\x80\xff\x01", 3)},
      {"Sun run-length escape at the end", Sun(2, 1, 8, 2, 0, 0) + std::string("\x80", 1)},
      {"Sun type 9", Sun(4, 4, 8, 9, 0, 0)},
      {"GIF huge screen", Gif(65535, 65535, 1, 1)},
      {"GIF zero-size frame", Gif(4, 4, 0, 0)},
      {"GIF truncated", Gif(4, 4, 4, 4).substr(0, 20)},
      {"GIF damaged data", Gif(4, 4, 4, 4)},
      {"PNG huge", Png(0x7fffffff, 0x7fffffff)},
      {"PNG truncated", Png(4, 4)},
      {"JPEG start only", std::string("\xff\xd8\xff\xe0\x00\x10JFIF", 10)},
      {"TIFF bad offset", std::string("II\x2a\x00\xff\xff\xff\x7f", 8)},
      {"TIFF truncated", std::string("MM\x00\x2a\x00\x00\x00\x08\x00\x05", 10)},
      {"icon of 60000 entries", Ico(40, 22, "", 60000)},
      {"icon image outside the file", Ico(4000, 22, Dib(16, 32, 4, 0, 0))},
      {"icon bitmap of width 0", Ico(40, 22, Dib(0, 32, 4, 0, 0))},
      {"icon bitmap of 7 bits", Ico(40, 22, Dib(16, 32, 7, 0, 0))},
      {"icon bitmap compressed", Ico(40, 22, Dib(16, 32, 8, 1, 0))},
      {"icon palette of 1000 colours", Ico(40, 22, Dib(16, 32, 8, 0, 1000))},
      {"icon bitmap data missing", Ico(40, 22, Dib(16, 32, 24, 0, 0))},
      {"icon bitmap huge", Ico(40, 22, Dib(65536, 131072, 24, 0, 0))},
      {"icon header only", std::string("\0\0\1\0\1\0", 6)},
      {"Photo CD without its base image", std::string(2048, '\0') + "PCD_IPI" + std::string(100, '\0')},
  };
  ImageSetMaxBytes(size_t(64) << 20);  // so a wrongly accepted size fails fast
  for (const Case& c : cases) {
    image_t* img = ImageOpenMemory(reinterpret_cast<const uint8_t*>(c.file.data()), c.file.size(), IMAGE_RGB,
                                   IMAGE_WHITE, 100, 0, nullptr);
    EXPECT_EQ(img, nullptr) << c.name;
    EXPECT_STRNE(ImageLastError(), "") << c.name;
    ImageClose(img);
  }
  ImageSetMaxBytes(size_t(1) << 30);
  EXPECT_EQ(ImageOpen("/nonexistent/x.png", IMAGE_RGB, IMAGE_WHITE, 100, 0, nullptr), nullptr);
  EXPECT_NE(std::string(ImageLastError()).find("/nonexistent/x.png"), std::string::npos);
}

TEST(ImageHostile, SizeLimitIsCheckedBeforeDecoding) {
  // A valid 100 × 100 picture against a limit of 10000 bytes (four samples
  // a pixel would need 40000).
  std::string ppm = "P6 100 100 255\n" + std::string(30000, '\x7f');
  ImageSetMaxBytes(10000);
  image_t* img = ImageOpenMemory(reinterpret_cast<const uint8_t*>(ppm.data()), ppm.size(), IMAGE_RGB, IMAGE_WHITE,
                                 100, 0, nullptr);
  EXPECT_EQ(img, nullptr);
  EXPECT_NE(std::string(ImageLastError()).find("too large"), std::string::npos) << ImageLastError();
  ImageSetMaxBytes(40000);
  img = ImageOpenMemory(reinterpret_cast<const uint8_t*>(ppm.data()), ppm.size(), IMAGE_RGB, IMAGE_WHITE, 100, 0,
                        nullptr);
  EXPECT_NE(img, nullptr) << ImageLastError();
  ImageClose(img);
  ImageSetMaxBytes(size_t(1) << 30);
}

}  // namespace
