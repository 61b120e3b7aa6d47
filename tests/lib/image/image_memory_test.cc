// Pictures large enough for the mapped picture buffers: opened from a file
// and converted, they carry every sample; the buffers keep their contents
// as they grow and shrink across the mapping threshold.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "vorn/image.h"

namespace {

// 256 distinct colours, none grey, none of them shared between pixels in a
// way a skipped or zeroed block could imitate.
std::vector<uint8_t> Palette() {
  std::vector<uint8_t> p;
  for (int i = 0; i < 256; i++) {
    p.push_back(uint8_t(i));
    p.push_back(uint8_t((i * 37 + 11) & 255));
    p.push_back(uint8_t(255 - (i * 101 & 255)));
  }
  return p;
}

int ColourAt(unsigned x, unsigned y) { return int((x * 7 + y * 13) & 255); }

// A raw PPM of w × h pixels coloured from the palette.
std::string BigPpm(unsigned w, unsigned h) {
  const std::vector<uint8_t> pal = Palette();
  std::string s = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  s.reserve(s.size() + size_t(w) * h * 3);
  for (unsigned y = 0; y < h; y++)
    for (unsigned x = 0; x < w; x++) s.append(reinterpret_cast<const char*>(&pal[size_t(ColourAt(x, y)) * 3]), 3);
  return s;
}

struct TempFile {
  std::string name;
  explicit TempFile(const std::string& data) {
    char tmpl[] = "/tmp/vorn-image-big-XXXXXX";
    int fd = ::mkstemp(tmpl);
    if (fd >= 0) ::close(fd);
    name = tmpl;
    std::ofstream(name, std::ios::binary) << data;
  }
  ~TempFile() { ::unlink(name.c_str()); }
};

TEST(ImageLargePictures, OpenedFromFileWithEverySample) {
  // 1600 × 1200 RGB is 5.76 MB; in CMYK 7.68 MB: both past the heap.
  const unsigned w = 1600, h = 1200;
  const std::string ppm = BigPpm(w, h);
  TempFile file(ppm);
  const size_t header = ppm.size() - size_t(w) * h * 3;

  image_t* rgb = ImageOpen(file.name.c_str(), IMAGE_RGB, IMAGE_WHITE, 100, 0, nullptr);
  ASSERT_NE(rgb, nullptr) << ImageLastError();
  ASSERT_EQ(rgb->pixels.size(), size_t(w) * h * 3);
  const auto* samples = reinterpret_cast<const uint8_t*>(ppm.data()) + header;
  EXPECT_TRUE(std::equal(rgb->pixels.begin(), rgb->pixels.end(), samples));
  ImageClose(rgb);

  // Each converted pixel equals the same colour converted in a picture of
  // the palette alone (small enough for the heap).
  const std::vector<uint8_t> pal = Palette();
  const std::string small = "P6\n256 1\n255\n" + std::string(pal.begin(), pal.end());
  for (int space : {IMAGE_CMYK, IMAGE_CMY}) {
    SCOPED_TRACE(space);
    image_t* ref = ImageOpenMemory(reinterpret_cast<const uint8_t*>(small.data()), small.size(), space, space, 100,
                                   0, nullptr);
    image_t* big = ImageOpen(file.name.c_str(), space, space, 100, 0, nullptr);
    ASSERT_NE(ref, nullptr) << ImageLastError();
    ASSERT_NE(big, nullptr) << ImageLastError();
    const size_t d = size_t(ImageDepth(space));
    ASSERT_EQ(big->pixels.size(), size_t(w) * h * d);
    size_t wrong = 0;
    for (unsigned y = 0; y < h; y++)
      for (unsigned x = 0; x < w; x++) {
        const uint8_t* got = &big->pixels[(size_t(y) * w + x) * d];
        const uint8_t* want = &ref->pixels[size_t(ColourAt(x, y)) * d];
        wrong += !std::equal(got, got + d, want);
      }
    EXPECT_EQ(wrong, 0u);
    ImageClose(ref);
    ImageClose(big);
  }

  // The same file cut short by one sample is refused, not padded.
  TempFile cut(ppm.substr(0, ppm.size() - 1));
  EXPECT_EQ(ImageOpen(cut.name.c_str(), IMAGE_RGB, IMAGE_WHITE, 100, 0, nullptr), nullptr);
  EXPECT_NE(std::string(ImageLastError()).find("ends early"), std::string::npos) << ImageLastError();
}

TEST(ImageLargePictures, BuffersKeepTheirSamplesAcrossTheThreshold) {
  auto pattern = [](size_t i) { return uint8_t((i * 2654435761u) >> 13); };
  vorn::image_pixels buf;
  std::vector<uint8_t> want;
  // Grows one sample at a time from the heap into mapped buffers.
  for (size_t i = 0; i < (size_t(9) << 20); i++) {
    buf.push_back(pattern(i));
    want.push_back(pattern(i));
  }
  EXPECT_TRUE(buf == want);
  // Resized up, the old samples stay; shrunk back into heap sizes, too.
  buf.resize(size_t(23) << 20);
  EXPECT_TRUE(std::equal(want.begin(), want.end(), buf.begin()));
  buf[buf.size() - 1] = 7;  // the whole size is writable
  EXPECT_EQ(buf.back(), 7);
  buf.resize(1000);
  buf.shrink_to_fit();
  want.resize(1000);
  EXPECT_TRUE(buf == want);
  EXPECT_FALSE(buf == std::vector<uint8_t>(1000, 0));
  vorn::image_pixels copy = buf;
  EXPECT_TRUE(copy == want);
}

}  // namespace
