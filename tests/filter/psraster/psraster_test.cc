// psraster as the scheduler runs it, drawing through the WebAssembly
// Ghostscript: pages of the right size, count and content in the raster
// stream, PAGE lines, and failures of the interpreter or the set-up
// reported as errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/filter/imgraster/run_filter.h"
#include "tests/filter/imgraster/unpack.h"

namespace {

using rastertest::FilterResult;
using rastertest::RasterPage;
using rastertest::TempDir;

const std::string kRunner = std::string(VORN_SOURCE_DIR) + "/tests/fixtures/render/gs-run.mjs";

std::string Ppd(const std::string& code) {
  return "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n*LanguageVersion: English\n"
         "*LanguageEncoding: ISOLatin1\n*PCFileName: \"TEST.PPD\"\n*Manufacturer: \"Vorn\"\n"
         "*Product: \"(Test)\"\n*ModelName: \"Test\"\n*ShortNickName: \"Test\"\n*NickName: \"Test\"\n"
         "*PSVersion: \"(3010.000) 0\"\n"
         "*OpenUI *PageSize: PickOne\n*OrderDependency: 10 AnySetup *PageSize\n*DefaultPageSize: Letter\n"
         "*PageSize Letter: \"<</PageSize[612 792]>>setpagedevice\"\n*CloseUI: *PageSize\n"
         "*DefaultImageableArea: Letter\n*ImageableArea Letter: \"18 36 594 756\"\n"
         "*DefaultPaperDimension: Letter\n*PaperDimension Letter: \"612 792\"\n"
         "*OpenUI *ColorModel: PickOne\n*OrderDependency: 20 AnySetup *ColorModel\n*DefaultColorModel: T\n"
         "*ColorModel T: \"" + code + "\"\n*CloseUI: *ColorModel\n";
}

// Page 1: a black triangle (0,0) (300,0) (300,300) in points; page 2: a
// red square 100..300; page 3 blank.
const char* kJob =
    "%!PS\n0 0 moveto 300 0 lineto 300 300 lineto closepath fill showpage\n"
    "1 0 0 setrgbcolor 100 100 200 200 rectfill showpage\nshowpage\n";

struct Psraster {
  TempDir dir;
  FilterResult Run(const std::string& ppd, const std::string& ps, const std::string& command, bool from_stdin = false,
                   const std::string& copies = "1") {
    std::vector<std::string> env = {"PPD=" + dir.write("printer.ppd", ppd)};
    if (!command.empty()) env.push_back("VORN_PSRASTER_COMMAND=" + command);
    std::string file = dir.write("job.ps", ps);
    std::vector<std::string> args = {"9", "ann", "drawing", copies, ""};
    if (!from_stdin) args.push_back(file);
    return rastertest::RunFilter(PSRASTER_PATH, args, env, from_stdin ? file : "", dir);
  }
};

// The pixel of page point (x, y) on a Letter page at 100 dpi whose
// imageable area starts at (18, 36).
unsigned Px(double x) { return unsigned((x - 18) * 100 / 72); }
unsigned Py(double y) { return unsigned((756 - y) * 100 / 72); }

TEST(Psraster, PagesOfTheRightSizeCountAndContent) {
  struct Case {
    const char* name;
    std::string code;
    bool from_stdin;
  } cases[] = {
      {"black, 1 bit", "<</HWResolution[100 100]/vornColorSpace 3/vornBitsPerColor 1>>setpagedevice", false},
      {"RGB, 8 bits, from standard input", "<</HWResolution[100 100]/vornColorSpace 1/vornBitsPerColor 8>>setpagedevice",
       true},
      {"CMYK banded, 8 bits", "<</HWResolution[100 100]/vornColorSpace 6/vornColorOrder 1/vornBitsPerColor 8>>setpagedevice",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Psraster f;
    FilterResult r = f.Run(Ppd(c.code), kJob, "node " + kRunner, c.from_stdin);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<RasterPage> pages = rastertest::ReadRaster(r.out, f.dir);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_NE(r.err.find("PAGE: 1 1\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("PAGE: 3 1\n"), std::string::npos) << r.err;
    const vorn_page_header_t& h = pages[0].h;
    EXPECT_EQ(h.vornWidth, 800u);
    EXPECT_EQ(h.vornHeight, 1000u);
    EXPECT_EQ(h.PageSize[0], 612u);
    EXPECT_EQ(h.PageSize[1], 792u);
    auto level = [&](const RasterPage& p, unsigned x, unsigned y, unsigned k) {
      return rastertest::Level8(p.h, p.data.data() + size_t(y) * p.h.vornBytesPerLine, x, k);
    };
    // Ink (or darkness) inside the triangle, none above its diagonal.
    switch (h.vornColorSpace) {
      case 3:
        EXPECT_EQ(level(pages[0], Px(200), Py(50), 0), 255u);
        EXPECT_EQ(level(pages[0], Px(100), Py(250), 0), 0u);
        break;
      case 1:
        for (unsigned k = 0; k < 3; k++) {
          EXPECT_EQ(level(pages[0], Px(200), Py(50), k), 0u);
          EXPECT_EQ(level(pages[0], Px(100), Py(250), k), 255u);
          EXPECT_EQ(level(pages[1], Px(200), Py(200), k), k == 0 ? 255u : 0u) << "red";
        }
        break;
      default:  // CMYK: black ink in the triangle; red is magenta and yellow
        EXPECT_EQ(level(pages[0], Px(200), Py(50), 3), 255u);
        EXPECT_EQ(level(pages[0], Px(200), Py(50), 0), 0u);
        EXPECT_EQ(level(pages[1], Px(200), Py(200), 1), 255u);
        EXPECT_EQ(level(pages[1], Px(200), Py(200), 2), 255u);
        EXPECT_EQ(level(pages[1], Px(200), Py(200), 0), 0u);
        break;
    }
    // The blank third page carries no ink anywhere (or is all white).
    unsigned blank = h.vornColorSpace == 1 ? 255 : 0;
    bool clean = true;
    for (unsigned y = 0; y < h.vornHeight && clean; y += 7)
      for (unsigned x = 0; x < h.vornWidth && clean; x += 5) clean = level(pages[2], x, y, 0) == blank;
    EXPECT_TRUE(clean);
  }
}

TEST(Psraster, CopiesGoInTheHeaderAndPageLines) {
  Psraster f;
  FilterResult r = f.Run(Ppd("<</HWResolution[100 100]>>setpagedevice"), "%!PS\nshowpage\n", "node " + kRunner,
                         false, "2");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<RasterPage> pages = rastertest::ReadRaster(r.out, f.dir);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].h.NumCopies, 2u);
  EXPECT_NE(r.err.find("PAGE: 1 2\n"), std::string::npos) << r.err;
}

TEST(Psraster, FailuresEndWithAnError) {
  const std::string good = Ppd("<</HWResolution[100 100]>>setpagedevice");
  struct Case {
    const char* name;
    std::string ppd, ps, command;
    const char* message;
  } cases[] = {
      {"interpreter fails", good, kJob, "/bin/false", "interpreter failed"},
      {"interpreter missing", good, kJob, "/nonexistent/gs", "Unable to run the PostScript interpreter"},
      {"PostScript error", good, "%!PS\n/undefinedthing load\n", "node " + kRunner, "interpreter failed"},
      {"zero resolution", Ppd("<</HWResolution[0 0]>>setpagedevice"), kJob, "node " + kRunner, "resolution"},
      {"colour space 20", Ppd("<</vornColorSpace 20>>setpagedevice"), kJob, "node " + kRunner, "colour space"},
      {"bits per colour 5", Ppd("<</vornBitsPerColor 5>>setpagedevice"), kJob, "node " + kRunner, "raster page"},
  };
  for (const Case& c : cases) {
    Psraster f;
    FilterResult r = f.Run(c.ppd, c.ps, c.command);
    EXPECT_EQ(r.status, 1) << c.name << "\n" << r.err;
    EXPECT_NE(r.err.find("ERROR: "), std::string::npos) << c.name;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << "\n" << r.err;
    EXPECT_TRUE(rastertest::ReadRaster(r.out, f.dir).empty()) << c.name;
  }
  Psraster f;
  FilterResult r = rastertest::RunFilter(PSRASTER_PATH, {"1"}, {}, "", f.dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: psraster job-id user title copies options [file]"), std::string::npos);
}

}  // namespace
