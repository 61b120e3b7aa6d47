// imgraster as the scheduler runs it: images printed through it and read
// back with the library's raster reader match their source, pages have the
// size, placement and count the options ask for, and bad options, headers
// and files end with an ERROR line and a failing exit status.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <string>
#include <vector>

#include "filter/imgraster/format.h"
#include "run_filter.h"
#include "unpack.h"
#include "vorn/image.h"

namespace {

using rastertest::FilterResult;
using rastertest::RasterPage;
using rastertest::TempDir;

// A Letter printer (imageable 18,36 to 594,756) whose one ColorModel
// choice carries `code`.
std::string Ppd(const std::string& code, const std::string& extra = "") {
  return "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n*LanguageVersion: English\n"
         "*LanguageEncoding: ISOLatin1\n*PCFileName: \"TEST.PPD\"\n*Manufacturer: \"Vorn\"\n"
         "*Product: \"(Test)\"\n*ModelName: \"Test\"\n*ShortNickName: \"Test\"\n*NickName: \"Test\"\n"
         "*PSVersion: \"(3010.000) 0\"\n"
         "*OpenUI *PageSize: PickOne\n*OrderDependency: 10 AnySetup *PageSize\n*DefaultPageSize: Letter\n"
         "*PageSize Letter: \"<</PageSize[612 792]>>setpagedevice\"\n*CloseUI: *PageSize\n"
         "*DefaultImageableArea: Letter\n*ImageableArea Letter: \"18 36 594 756\"\n"
         "*DefaultPaperDimension: Letter\n*PaperDimension Letter: \"612 792\"\n"
         "*OpenUI *ColorModel: PickOne\n*OrderDependency: 20 AnySetup *ColorModel\n*DefaultColorModel: T\n"
         "*ColorModel T: \"" + code + "\"\n*CloseUI: *ColorModel\n" + extra;
}

std::string Code(unsigned cs, unsigned order, unsigned bits, unsigned dpi = 100) {
  return "<</HWResolution[" + std::to_string(dpi) + " " + std::to_string(dpi) + "]/vornColorSpace " +
         std::to_string(cs) + "/vornColorOrder " + std::to_string(order) + "/vornBitsPerColor " +
         std::to_string(bits) + ">>setpagedevice";
}

// 64 × 32 pixels: eight flat 16 × 16 blocks of different colours.
std::string BlocksPpm() {
  const unsigned char colours[8][3] = {{255, 255, 255}, {0, 0, 0},     {255, 0, 0},   {0, 160, 255},
                                       {200, 200, 40},  {90, 90, 90},  {30, 220, 90}, {180, 60, 170}};
  std::string s = "P6\n64 32\n255\n";
  for (unsigned y = 0; y < 32; y++)
    for (unsigned x = 0; x < 64; x++) s.append(reinterpret_cast<const char*>(colours[(y / 16) * 4 + x / 16]), 3);
  return s;
}

struct Imgraster {
  TempDir dir;
  FilterResult Run(const std::string& ppd, const std::string& options, const std::string& image,
                   const std::vector<std::string>& extra_env = {}, bool from_stdin = false,
                   const std::string& copies = "1") {
    std::vector<std::string> env = extra_env;
    if (!ppd.empty()) env.push_back("PPD=" + dir.write("printer.ppd", ppd));
    std::string file = dir.write("image", image);
    std::vector<std::string> args = {"7", "ann", "photo", copies, options};
    if (!from_stdin) args.push_back(file);
    return rastertest::RunFilter(IMGRASTER_PATH, args, env, from_stdin ? file : "", dir);
  }
};

TEST(Imgraster, ImagesReadBackFromTheStreamMatchTheirSource) {
  struct Case {
    unsigned cs, order, bits;
  } cases[] = {
      {0, 0, 8},  {0, 0, 1},  {0, 1, 2},  {0, 2, 4}, {1, 0, 8}, {1, 0, 1}, {1, 1, 2}, {1, 2, 4},  {2, 0, 8},
      {2, 0, 1},  {2, 1, 4},  {3, 0, 1},  {3, 0, 2}, {3, 2, 4}, {3, 0, 8}, {4, 0, 1}, {4, 1, 8},  {5, 0, 2},
      {5, 2, 8},  {6, 0, 1},  {6, 1, 4},  {6, 2, 2}, {6, 0, 8}, {7, 0, 1}, {7, 0, 8}, {8, 1, 1},  {8, 0, 8},
      {9, 0, 8},  {9, 1, 2},  {9, 2, 4},  {10, 0, 4}, {11, 2, 1}, {12, 0, 8}, {13, 0, 1}, {14, 0, 2},
      {15, 0, 8}, {15, 0, 1},
  };
  const std::string ppm = BlocksPpm();
  for (const Case& c : cases) {
    SCOPED_TRACE("space " + std::to_string(c.cs) + " order " + std::to_string(c.order) + " bits " +
                 std::to_string(c.bits));
    Imgraster f;
    FilterResult r = f.Run(Ppd(Code(c.cs, c.order, c.bits)), "ppi=100 position=top-left", ppm);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<RasterPage> pages = rastertest::ReadRaster(r.out, f.dir);
    ASSERT_EQ(pages.size(), 1u);
    const vorn_page_header_t& h = pages[0].h;
    unsigned bits = c.cs == 15 ? 8 : c.bits;  // space 15 is at least 8 bits
    ASSERT_EQ(h.vornBitsPerColor, bits);
    EXPECT_EQ(h.vornWidth, 800u);
    EXPECT_EQ(h.vornHeight, 1000u);
    int space = vorn::raster::image_space_for(c.cs);
    image_t* src = ImageOpenMemory(reinterpret_cast<const uint8_t*>(ppm.data()), ppm.size(), space, space, 100, 0,
                                   nullptr);
    ASSERT_NE(src, nullptr);
    const unsigned depth = unsigned(ImageDepth(space));
    const unsigned planes = h.vornColorOrder == 2 ? vornRasterPlanes(h) : 1;
    const size_t row_span = size_t(h.vornBytesPerLine);
    // The row of output row y: planar pages hold each plane's rows in turn.
    auto row = [&](unsigned y, unsigned plane) {
      return pages[0].data.data() + (size_t(plane) * h.vornHeight + y) * row_span;
    };
    auto level8 = [&](unsigned x, unsigned y, unsigned k) {
      unsigned plane = planes > 1 ? k : 0;
      return rastertest::Level8(h, row(y, plane), x, planes > 1 ? 0 : k);
    };
    unsigned channels = c.cs == 9 ? 4 : vornRasterPlanes(h);
    for (unsigned k = 0; k < channels; k++) {
      int sc = rastertest::SourceChannel(c.cs, k);
      for (unsigned by = 0; by < 2; by++)
        for (unsigned bx = 0; bx < 4; bx++) {
          double want = sc < 0 ? 255 : src->pixels[((by * 16) * 64 + bx * 16) * depth + unsigned(sc)];
          double sum = 0;
          for (unsigned y = by * 16; y < by * 16 + 16; y++)
            for (unsigned x = bx * 16; x < bx * 16 + 16; x++) {
              unsigned v = level8(x, y, k);
              if (bits == 8) {
                ASSERT_EQ(v, want) << "channel " << k << " pixel " << x << "," << y;
              }
              sum += v;
            }
          EXPECT_NEAR(sum / 256, want, rastertest::DitherTolerance(bits))
              << "channel " << k << " block " << bx << "," << by;
        }
      // Beyond the image the page is blank: white for light spaces, no ink.
      unsigned blank = space > 0 ? 255 : 0;
      EXPECT_EQ(level8(64, 0, k), blank) << "right of the image";
      EXPECT_EQ(level8(0, 32, k), blank) << "below the image";
      EXPECT_EQ(level8(799, 999, k), blank) << "page corner";
    }
    ImageClose(src);
  }
}

TEST(Imgraster, SixColourInksFromTheImage) {
  // Cyan, white and black blocks at one bit: cyan pixels are cyan ink only,
  // black ones black only.
  std::string ppm = "P6\n48 16\n255\n";
  for (unsigned y = 0; y < 16; y++)
    for (unsigned x = 0; x < 48; x++) {
      unsigned char rgb[3] = {0, 255, 255};
      if (x >= 16) rgb[0] = rgb[1] = rgb[2] = x >= 32 ? 0 : 255;
      ppm.append(reinterpret_cast<char*>(rgb), 3);
    }
  Imgraster f;
  FilterResult r = f.Run(Ppd(Code(9, 0, 1)), "ppi=100 position=top-left", ppm);
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<RasterPage> pages = rastertest::ReadRaster(r.out, f.dir);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].h.vornBitsPerPixel, 8u);
  const uint8_t* row = pages[0].data.data() + 5 * pages[0].h.vornBytesPerLine;
  EXPECT_EQ(row[3], 0x10);
  EXPECT_EQ(row[20], 0x00);
  EXPECT_EQ(row[40], 0x20);
}

// A grey image of w × h pixels, as PNG with a resolution when ppi > 0.
std::string GreyImage(unsigned w, unsigned h, bool landscape_ramp = false) {
  std::string s = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  for (unsigned y = 0; y < h; y++)
    for (unsigned x = 0; x < w; x++) s.push_back(char(landscape_ramp ? x * 255 / w : 128));
  return s;
}

TEST(Imgraster, SizePlacementOrientationAndTiling) {
  struct Case {
    const char* name;
    unsigned w, h;
    std::string options;
    size_t pages;
    unsigned box[4];  // ImagingBoundingBox
  } cases[] = {
      // 1200 × 1200 at 300 ppi: 4 × 4 inches centred on Letter (8 × 10
      // inches printable, at 100 dpi 800 × 1000 pixels).
      {"natural size centred", 1200, 1200, "ppi=300", 1, {162, 252, 450, 540}},
      {"top-left", 1200, 1200, "ppi=300 position=top-left", 1, {18, 468, 306, 756}},
      {"bottom-right", 1200, 1200, "ppi=300 position=bottom-right", 1, {306, 36, 594, 324}},
      // 20 inches wide on an 8-inch printable width: three pages of 6.67
      // inches; 1 inch high, at the top of each, centred across.
      {"tiled over three pages", 2000, 100, "ppi=100 position=top", 3, {66, 684, 545, 756}},
      // Scaling 100: a square image fills the printable width, portrait.
      {"scaling a square", 50, 50, "scaling=100", 1, {18, 108, 594, 684}},
      // A landscape-shaped image turns: its 10-inch side runs down the page,
      // 5 inches across, centred.
      {"scaling turns a wide image", 100, 50, "scaling=100", 1, {126, 36, 486, 756}},
      {"given portrait stays portrait", 100, 50, "scaling=100 orientation-requested=3", 1, {18, 252, 594, 540}},
      {"half scaling", 50, 50, "scaling=50", 1, {162, 252, 450, 540}},
      {"natural-scaling halves", 1200, 1200, "ppi=300 natural-scaling=50", 1, {234, 324, 378, 468}},
      // No ppi, no scaling, no resolution in the file: the page is filled.
      {"no size at all fits the page", 50, 50, "", 1, {18, 108, 594, 684}},
  };
  for (const Case& c : cases) {
    Imgraster f;
    FilterResult r = f.Run(Ppd(Code(3, 0, 1)), c.options, GreyImage(c.w, c.h));
    ASSERT_EQ(r.status, 0) << c.name << "\n" << r.err;
    std::vector<RasterPage> pages = rastertest::ReadRaster(r.out, f.dir);
    ASSERT_EQ(pages.size(), c.pages) << c.name;
    const vorn_page_header_t& h = pages[0].h;
    EXPECT_EQ(h.PageSize[0], 612u);
    EXPECT_EQ(h.PageSize[1], 792u);
    for (int i = 0; i < 4; i++) EXPECT_NEAR(h.ImagingBoundingBox[i], c.box[i], 1) << c.name << " box " << i;
    // The inked rows and columns are where the box says.
    unsigned top_row = 1000, left_col = 800;
    for (unsigned y = 0; y < h.vornHeight; y++)
      for (unsigned x = 0; x < h.vornWidth; x++)
        if (rastertest::Level(h, pages[0].data.data() + size_t(y) * h.vornBytesPerLine, x, 0)) {
          top_row = std::min(top_row, y);
          left_col = std::min(left_col, x);
        }
    EXPECT_NEAR(top_row, (756 - c.box[3]) * 100 / 72.0, 2) << c.name;
    EXPECT_NEAR(left_col, (c.box[0] - 18) * 100 / 72.0, 2) << c.name;
  }
}

TEST(Imgraster, RotationMirrorAndStandardInput) {
  // A ramp dark on the left: portrait keeps it on the left; landscape turns
  // the left edge to the bottom; mirroring puts it on the right.
  std::string ramp = GreyImage(100, 50, true);
  struct Case {
    std::string options;
    bool from_stdin;
    // Where the darkest ink is: 'L'eft, 'R'ight or 'B'ottom of the image.
    char dark;
  } cases[] = {
      {"scaling=100 orientation-requested=3", false, 'L'},
      {"scaling=100 orientation-requested=3 mirror=True", false, 'R'},
      {"scaling=100", false, 'B'},
      {"scaling=100 orientation-requested=3", true, 'L'},
  };
  for (const Case& c : cases) {
    Imgraster f;
    FilterResult r = f.Run(Ppd(Code(0, 0, 8)), c.options, ramp, {}, c.from_stdin);
    ASSERT_EQ(r.status, 0) << r.err;
    if (c.from_stdin) {
      EXPECT_NE(r.err.find("copying to temp print file"), std::string::npos);
    }
    std::vector<RasterPage> pages = rastertest::ReadRaster(r.out, f.dir);
    ASSERT_EQ(pages.size(), 1u);
    const vorn_page_header_t& h = pages[0].h;
    auto at = [&](double bx, double by) {  // fraction of the imaging box
      unsigned x0 = unsigned((h.ImagingBoundingBox[0] - 18) * 100 / 72.0);
      unsigned x1 = unsigned((h.ImagingBoundingBox[2] - 18) * 100 / 72.0);
      unsigned y0 = unsigned((756 - h.ImagingBoundingBox[3]) * 100 / 72.0);
      unsigned y1 = unsigned((756 - h.ImagingBoundingBox[1]) * 100 / 72.0);
      unsigned x = x0 + unsigned(bx * (x1 - x0)), y = y0 + unsigned(by * (y1 - y0));
      return pages[0].data[size_t(y) * h.vornBytesPerLine + x];
    };
    switch (c.dark) {
      case 'L': EXPECT_LT(at(0.05, 0.5), at(0.95, 0.5)) << c.options; break;
      case 'R': EXPECT_GT(at(0.05, 0.5), at(0.95, 0.5)) << c.options; break;
      default: EXPECT_LT(at(0.5, 0.95), at(0.5, 0.05)) << c.options; break;
    }
  }
}

TEST(Imgraster, HeaderFromPageDeviceCodeAndCopies) {
  Imgraster f;
  std::string code = "<</HWResolution[600 600]/vornColorSpace 6/vornBitsPerColor 1/MediaType(glossy\\051x)"
                     "/OutputType(\\050a\\)b)/CutMedia 2/vornRowStep 9/vornMediaPosition 3>>setpagedevice";
  FilterResult r = f.Run(Ppd(code), "ppi=600", GreyImage(60, 60), {}, false, "3");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<RasterPage> pages = rastertest::ReadRaster(r.out, f.dir);
  ASSERT_EQ(pages.size(), 1u) << "the printer makes the copies";
  const vorn_page_header_t& h = pages[0].h;
  EXPECT_EQ(h.HWResolution[0], 600u);
  EXPECT_EQ(h.vornBitsPerPixel, 4u) << "four-channel chunky at one bit";
  EXPECT_EQ(h.vornWidth, 4800u);
  EXPECT_STREQ(h.MediaType, "glossy)x");
  EXPECT_STREQ(h.OutputType, "(a)b");
  EXPECT_EQ(h.CutMedia, 2u);
  EXPECT_EQ(h.vornRowStep, 9u);
  EXPECT_EQ(h.MediaPosition, 3u);
  EXPECT_EQ(h.NumCopies, 3u);
  // Manual copies: the filter repeats the page.
  Imgraster m;
  r = m.Run(Ppd(Code(3, 0, 1), "*vornManualCopies: True\n"), "ppi=100", GreyImage(20, 20), {}, false, "3");
  ASSERT_EQ(r.status, 0) << r.err;
  pages = rastertest::ReadRaster(r.out, m.dir);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[2].h.NumCopies, 1u);
}

TEST(Imgraster, BadOptionsHeadersAndFilesEndWithAnError) {
  const std::string ppd = Ppd(Code(3, 0, 1)), image = GreyImage(30, 30);
  struct Case {
    const char* name;
    std::string ppd, options, image;
    const char* message;
  } cases[] = {
      {"scaling 0", ppd, "scaling=0", image, "scaling"},
      {"negative scaling", ppd, "scaling=-5", image, "scaling"},
      {"ppi 0", ppd, "ppi=0", image, "ppi"},
      {"ppi 0 high", ppd, "ppi=100x0", image, "ppi"},
      {"ppi not a number", ppd, "ppi=abc", image, "ppi"},
      {"gamma 0", ppd, "gamma=0", image, "gamma"},
      {"brightness negative", ppd, "brightness=-1", image, "brightness"},
      {"natural-scaling 0", ppd, "natural-scaling=0", image, "natural-scaling"},
      {"profile of ten numbers", ppd, "profile=1,2,3,4,5,6,7,8,9,10", image, "profile"},
      {"profile density 0", ppd, "profile=0,1000,1,0,0,0,1,0,0,0,1", image, "profile"},
      {"tiny ppi, too many pages", ppd, "ppi=1", GreyImage(300, 300), "pages"},
      {"huge scaling, too many pages", ppd, "scaling=100000", image, "pages"},
      {"zero resolution", Ppd("<</HWResolution[0 0]>>setpagedevice"), "", image, "resolution"},
      {"negative resolution", Ppd("<</HWResolution[-300 300]>>setpagedevice"), "", image, "resolution"},
      {"resolution beyond any page", Ppd("<</HWResolution[99999 99999]>>setpagedevice"), "", image, "raster page"},
      {"bits per colour 3", Ppd("<</vornBitsPerColor 3>>setpagedevice"), "", image, "bits per colour"},
      {"colour space 16", Ppd("<</vornColorSpace 16>>setpagedevice"), "", image, "colour space"},
      {"colour order 5", Ppd("<</vornColorOrder 5>>setpagedevice"), "", image, "colour order"},
      {"not an image", ppd, "", "hello", "Unable to open image file"},
      {"image of zero width", ppd, "", "P5 0 10 255\n", "Unable to open image file"},
      {"huge image header", ppd, "", "P5 99999 99999 255\n", "Unable to open image file"},
  };
  for (const Case& c : cases) {
    Imgraster f;
    FilterResult r = f.Run(c.ppd, c.options, c.image);
    EXPECT_EQ(r.status, 1) << c.name << "\n" << r.err;
    EXPECT_NE(r.err.find("ERROR: "), std::string::npos) << c.name;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << "\n" << r.err;
    EXPECT_TRUE(r.out.empty()) << c.name;
  }
  Imgraster f;
  FilterResult r = rastertest::RunFilter(IMGRASTER_PATH, {"1", "ann"}, {}, "", f.dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: imgraster job-id user title copies options [file]"), std::string::npos);
}

}  // namespace

namespace {

// With CLASSIFICATION or a page-label, imgraster runs "imgconv | psraster"
// from its own folder: imgconv gets all arguments, psraster the first six
// and imgconv's output. Stand-ins record what they get; the filter ends
// after both, with the failing one's status.
TEST(Imgraster, BannersRunTheImageFilterIntoTheRasteriser) {
  struct Case {
    std::vector<std::string> env;
    std::string options;
    bool with_file;
  } cases[] = {
      {{"CLASSIFICATION=secret"}, "", true},
      {{}, "page-label=internal", true},
      {{"CLASSIFICATION=secret"}, "media=A4", false},
  };
  for (const Case& c : cases) {
    TempDir dir;
    std::string bin = dir.file("imgraster");
    ASSERT_EQ(symlink(IMGRASTER_PATH, bin.c_str()), 0);
    dir.write("imgconv", "#!/bin/sh\necho \"imgconv $# $1 $5 $6\" > \"$TMPDIR/imgconv.args\"\n"
                         "echo '%!PS from imgconv'\n");
    // psraster answers late: the filter must still end after it.
    dir.write("psraster", "#!/bin/sh\necho \"psraster $# $1 $5\" > \"$TMPDIR/psraster.args\"\nsleep 0.3\ncat\n");
    chmod(dir.file("imgconv").c_str(), 0755);
    chmod(dir.file("psraster").c_str(), 0755);
    std::string image = dir.write("image.png", "not read here");
    std::vector<std::string> args = {"3", "ann", "t", "1", c.options};
    if (c.with_file) args.push_back(image);
    FilterResult r = rastertest::RunFilter(bin, args, c.env, c.with_file ? "" : image, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "%!PS from imgconv\n") << "psraster's output is the filter's";
    EXPECT_EQ(rastertest::ReadAll(dir.file("imgconv.args")),
              c.with_file ? "imgconv 6 3 " + c.options + " " + image + "\n" : "imgconv 5 3 " + c.options + " \n");
    EXPECT_EQ(rastertest::ReadAll(dir.file("psraster.args")), "psraster 5 3 " + c.options + "\n");
  }
  // Without the image filter beside it, the exit status is the system's
  // error number.
  TempDir dir;
  std::string bin = dir.file("imgraster");
  ASSERT_EQ(symlink(IMGRASTER_PATH, bin.c_str()), 0);
  FilterResult r = rastertest::RunFilter(bin, {"3", "ann", "t", "1", "", dir.write("x", "")}, {"CLASSIFICATION=c"}, "",
                                         dir);
  EXPECT_EQ(r.status, ENOENT);
  EXPECT_NE(r.err.find("ERROR: Unable to exec imgconv"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("ERROR: Unable to exec psraster"), std::string::npos) << r.err;
  // A rasteriser that fails makes the filter fail.
  dir.write("imgconv", "#!/bin/sh\necho '%!PS'\n");
  dir.write("psraster", "#!/bin/sh\ncat > /dev/null\nexit 3\n");
  chmod(dir.file("imgconv").c_str(), 0755);
  chmod(dir.file("psraster").c_str(), 0755);
  r = rastertest::RunFilter(bin, {"3", "ann", "t", "1", "", dir.write("x", "")}, {"CLASSIFICATION=c"}, "", dir);
  EXPECT_EQ(r.status, 3);
}

}  // namespace

namespace {

// A custom page size is fitted to the image (one tile) plus the PPD's
// hardware margins, never below the custom minimum.
TEST(Imgraster, CustomPageSizeFitsTheImage) {
  const std::string custom =
      "*VariablePaperSize: True\n*CustomPageSize True: \"pop pop pop <</PageSize[5 -2 roll]>>setpagedevice\"\n"
      "*ParamCustomPageSize Width: 1 points 72 1000\n*ParamCustomPageSize Height: 2 points 150 1000\n"
      "*ParamCustomPageSize WidthOffset: 3 points 0 0\n*ParamCustomPageSize HeightOffset: 4 points 0 0\n"
      "*ParamCustomPageSize Orientation: 5 int 0 0\n*MaxMediaWidth: \"1000\"\n*MaxMediaHeight: \"1000\"\n"
      "*HWMargins: 10 20 10 20\n";
  Imgraster f;
  // 200 × 100 pixels at 100 ppi: 2 × 1 inches.
  FilterResult r = f.Run(Ppd(Code(3, 0, 1), custom), "ppi=100 PageSize=Custom.300x400 orientation-requested=3",
                         GreyImage(200, 100));
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<RasterPage> pages = rastertest::ReadRaster(r.out, f.dir);
  ASSERT_EQ(pages.size(), 1u);
  const vorn_page_header_t& h = pages[0].h;
  EXPECT_EQ(h.PageSize[0], 164u) << "144 points of image and 20 of margins";
  EXPECT_EQ(h.PageSize[1], 150u) << "72 + 40 points is below the minimum length";
  EXPECT_EQ(h.vornWidth, 200u);
  EXPECT_EQ(h.vornHeight, 152u);  // (150 - 40) points at 100 dpi
  EXPECT_EQ(h.Margins[0], 10u);
  EXPECT_EQ(h.Margins[1], 20u);
}

}  // namespace
