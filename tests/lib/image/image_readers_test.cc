// Image files written by netpbm decode to the pixels netpbm itself reads
// back from them; grey files stay grey; natural resolutions come through.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "vorn/image.h"

namespace {

namespace fs = std::filesystem;

struct TempDir {
  fs::path path;
  TempDir() {
    char tmpl[] = "/tmp/vorn-image-XXXXXX";
    path = ::mkdtemp(tmpl);
  }
  ~TempDir() { fs::remove_all(path); }
  std::string file(const std::string& name) const { return (path / name).string(); }
};

void Spit(const std::string& name, const std::string& data) {
  std::ofstream(name, std::ios::binary) << data;
}

bool Have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

int Shell(const std::string& cmd) { return std::system(("set -e; " + cmd + " 2>/dev/null").c_str()); }

// A colour test picture with few colours (GIF needs a palette): bands of
// saturated colours and a grey ramp, 23 × 17.
std::string ColourPpm() {
  std::string s = "P6\n23 17\n255\n";
  for (int y = 0; y < 17; y++)
    for (int x = 0; x < 23; x++) {
      int band = (x / 4 + y / 5) % 6;
      unsigned char rgb[6][3] = {{255, 0, 0}, {0, 200, 0}, {0, 0, 255}, {250, 250, 0}, {30, 30, 30}, {255, 255, 255}};
      s.append(reinterpret_cast<char*>(rgb[band]), 3);
    }
  return s;
}

std::string GreyPgm() {
  std::string s = "P5\n19 11\n255\n";
  for (int y = 0; y < 11; y++)
    for (int x = 0; x < 19; x++) s.push_back(char((x * 13 + y * 7) % 256 & 0xF0));
  return s;
}

// Pixels of a PNM file as netpbm wrote it, through our PNM reader (whose
// own decoding is checked against hand-made files below).
image_t* OpenAs(const std::string& file, int space) { return ImageOpen(file.c_str(), space, space == IMAGE_RGB ? IMAGE_WHITE : space, 100, 0, nullptr); }

TEST(ImageReaders, NetpbmWrittenFilesDecodeToTheSamePixelsNetpbmReads) {
  for (const char* t : {"pnmtopng", "pnmtojpeg", "pnmtotiff", "ppmtogif", "pnmtosgi", "pnmtorast", "pngtopam"})
    ASSERT_TRUE(Have(t)) << t << " is needed (.ci/install-deps installs netpbm)";
  TempDir dir;
  Spit(dir.file("c.ppm"), ColourPpm());
  Spit(dir.file("g.pgm"), GreyPgm());
  struct Case {
    const char* name;
    const char* write;  // from $IN to $OUT
    const char* read;   // from $OUT to $REF (a PNM file)
    bool grey;
  } cases[] = {
      {"PNG colour", "pnmtopng $IN > $OUT", "pngtopam $OUT > $REF", false},
      {"PNG grey", "pnmtopng $IN > $OUT", "pngtopam $OUT > $REF", true},
      {"PNG palette", "pnmtopng -force $IN > $OUT", "pngtopam $OUT > $REF", false},
      {"JPEG colour", "pnmtojpeg -quality=90 $IN > $OUT", "jpegtopnm $OUT > $REF", false},
      {"JPEG grey", "pnmtojpeg $IN > $OUT", "jpegtopnm $OUT > $REF", true},
      {"JPEG progressive", "pnmtojpeg -progressive $IN > $OUT", "jpegtopnm $OUT > $REF", false},
      {"TIFF colour", "pnmtotiff $IN > $OUT", "tifftopnm $OUT > $REF", false},
      {"TIFF LZW", "pnmtotiff -lzw $IN > $OUT", "tifftopnm $OUT > $REF", false},
      {"TIFF grey", "pnmtotiff $IN > $OUT", "tifftopnm $OUT > $REF", true},
      {"GIF", "ppmtogif $IN > $OUT", "giftopnm $OUT > $REF", false},
      {"GIF interlaced", "ppmtogif -interlace $IN > $OUT", "giftopnm $OUT > $REF", false},
      {"GIF grey", "pamtogif $IN > $OUT", "giftopnm $OUT > $REF", true},
      {"SGI run-length", "pnmtosgi -rle $IN > $OUT", "sgitopnm $OUT > $REF", false},
      {"SGI verbatim", "pnmtosgi -verbatim $IN > $OUT", "sgitopnm $OUT > $REF", false},
      {"SGI grey", "pnmtosgi $IN > $OUT", "sgitopnm $OUT > $REF", true},
      {"Sun standard", "pnmtorast -standard $IN > $OUT", "rasttopnm $OUT > $REF", false},
      {"Sun run-length", "pnmtorast -rle $IN > $OUT", "rasttopnm $OUT > $REF", false},
      {"Sun grey", "pnmtorast $IN > $OUT", "rasttopnm $OUT > $REF", true},
      {"Sun bitmap", "pamditherbw -threshold $IN | pamtopnm | pnmtorast > $OUT", "rasttopnm $OUT > $REF", true},
      {"plain PPM", "pnmtoplainpnm $IN > $OUT", "cat $OUT > $REF", false},
      {"plain PGM", "pnmtoplainpnm $IN > $OUT", "cat $OUT > $REF", true},
      {"PBM raw", "pamditherbw -threshold $IN | pamtopnm > $OUT", "cat $OUT > $REF", true},
      {"PBM plain", "pamditherbw -threshold $IN | pamtopnm | pnmtoplainpnm > $OUT", "cat $OUT > $REF", true},
      {"16-bit PPM", "pnmdepth 65535 $IN > $OUT", "pnmdepth 255 $OUT > $REF", false},
      // Icons are square and of few colours. netpbm's icon reader fails on
      // its own writer's files here; the writer keeps every pixel, so the
      // picture it was given is the reference.
      {"icon", "pnmcut 0 0 16 16 $IN | pnmquant 16 > $REF; ppmtowinicon $REF > $OUT", "true", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string env = "IN=" + dir.file(c.grey ? "g.pgm" : "c.ppm") + " OUT=" + dir.file("out") +
                      " REF=" + dir.file("ref.pnm") + "; ";
    ASSERT_EQ(Shell(env + c.write), 0) << c.write;
    ASSERT_EQ(Shell(env + c.read), 0) << c.read;
    // Our decoder, in the space that keeps every sample.
    image_t* got = OpenAs(dir.file("out"), IMAGE_RGB);
    ASSERT_NE(got, nullptr) << ImageLastError();
    image_t* ref = OpenAs(dir.file("ref.pnm"), IMAGE_RGB);
    ASSERT_NE(ref, nullptr) << ImageLastError();
    EXPECT_EQ(got->colorspace, c.grey ? IMAGE_WHITE : IMAGE_RGB) << "grey files open in the secondary space";
    EXPECT_EQ(got->colorspace, ref->colorspace);
    ASSERT_EQ(got->xsize, ref->xsize);
    ASSERT_EQ(got->ysize, ref->ysize);
    // Both sides use the same libjpeg; other formats are lossless. One
    // level of rounding is allowed for the JPEG colour conversion.
    size_t off = 0;
    int worst = 0;
    for (size_t i = 0; i < got->pixels.size(); i++) {
      int d = std::abs(int(got->pixels[i]) - int(ref->pixels[i]));
      if (d > worst) worst = d, off = i;
    }
    EXPECT_LE(worst, 1) << "sample " << off;
    ImageClose(got);
    ImageClose(ref);
  }
}

TEST(ImageReaders, NaturalResolutionComesFromTheFile) {
  TempDir dir;
  Spit(dir.file("c.ppm"), ColourPpm());
  struct Case {
    const char* write;
    unsigned xppi, yppi;
  } cases[] = {
      {"pnmtojpeg -density=300x150dpi $IN > $OUT", 300, 150},
      {"pnmtojpeg -density=100x100dpcm $IN > $OUT", 254, 254},
      {"pnmtotiff -xresolution 72 -yresolution 144 $IN > $OUT", 72, 144},
      // 11811 pixels per metre is 300 per inch.
      {"pnmtopng -size '11811 11811 1' $IN > $OUT", 300, 300},
      {"pnmtopng $IN > $OUT", 0, 0},
      {"pnmtosgi $IN > $OUT", 0, 0},
  };
  for (const auto& c : cases) {
    std::string env = "IN=" + dir.file("c.ppm") + " OUT=" + dir.file("out") + "; ";
    ASSERT_EQ(Shell(env + c.write), 0) << c.write;
    image_t* img = OpenAs(dir.file("out"), IMAGE_RGB);
    ASSERT_NE(img, nullptr) << ImageLastError();
    EXPECT_EQ(img->xppi, c.xppi) << c.write;
    EXPECT_EQ(img->yppi, c.yppi) << c.write;
    ImageClose(img);
  }
}

TEST(ImageReaders, HandMadePnmAndTransparentPixels) {
  struct Case {
    const char* name;
    std::string file;
    int space;
    std::vector<uint8_t> pixels;
  } cases[] = {
      {"plain bitmap, digits run together", "P1 3 2 010\n1 1 0", IMAGE_WHITE, {255, 0, 255, 0, 0, 255}},
      {"raw bitmap pads rows to bytes", std::string("P4 9 2\n\x80\x80\x01\x00", 12), IMAGE_WHITE,
       {0, 255, 255, 255, 255, 255, 255, 255, 0, 255, 255, 255, 255, 255, 255, 255, 0, 255}},
      {"comments and maxval 15", "P2 # c\n2 1 # d\n15\n0 15", IMAGE_WHITE, {0, 255}},
      {"maxval 1000 plain pixmap", "P3 1 1 1000 1000 500 0", IMAGE_RGB, {255, 128, 0}},
      {"16-bit raw grey", std::string("P5 2 1 65535\n\xff\xff\x80\x00", 17), IMAGE_WHITE, {255, 128}},
      {"grey as black ink", "P2 2 1 255 0 255", IMAGE_BLACK, {255, 0}},
  };
  for (const Case& c : cases) {
    image_t* img = ImageOpenMemory(reinterpret_cast<const uint8_t*>(c.file.data()), c.file.size(), c.space,
                                   c.space, 100, 0, nullptr);
    ASSERT_NE(img, nullptr) << c.name << ": " << ImageLastError();
    EXPECT_EQ(img->pixels, c.pixels) << c.name;
    ImageClose(img);
  }
}

}  // namespace
