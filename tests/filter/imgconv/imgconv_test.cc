// imgconv as the scheduler runs it, on images made here by netpbm from a
// PPM of four coloured quarters: the PostScript must render in the
// WebAssembly Ghostscript with the pages expected, and the rendered picture
// must show the quarters where the image was placed. Damaged images and bad
// options end with an ERROR: line and a failing status.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "tests/filter/imgraster/run_filter.h"
#include "vorn/image.h"

namespace {

using namespace std::chrono_literals;
using rastertest::FilterResult;
using rastertest::RunFilter;
using rastertest::TempDir;

const std::string kRunner = std::string(VORN_SOURCE_DIR) + "/tests/fixtures/render/gs-run.mjs";
const std::string kDemoPpd = std::string(VORN_SOURCE_DIR) + "/data/model/vorn-postscript.ppd";

struct Rgb {
  int r, g, b;
};
const Rgb kQuarters[4] = {{220, 30, 30}, {30, 180, 60}, {40, 60, 200}, {230, 210, 40}};  // TL TR BL BR

// A raw PPM of w × h pixels in the four quarters.
std::string QuartersPpm(int w, int h) {
  std::string s = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
  s.reserve(s.size() + size_t(w) * h * 3);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const Rgb& c = kQuarters[(y >= h / 2) * 2 + (x >= w / 2)];
      s += char(c.r);
      s += char(c.g);
      s += char(c.b);
    }
  return s;
}

// The image file of `format` made from the PPM by netpbm.
std::string MakeImage(const TempDir& dir, const std::string& format, int w, int h) {
  std::string ppm = dir.write("src.ppm", QuartersPpm(w, h));
  if (format == "ppm") return ppm;
  std::string tool = format == "png"    ? "pnmtopng"
                     : format == "jpeg" ? "pnmtojpeg -quality=95"
                     : format == "tiff" ? "pnmtotiff"
                                        : "ppmtogif";
  std::string out = dir.file("src." + format);
  std::string cmd = tool + " " + ppm + " > " + out + " 2>/dev/null";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  return out;
}

FilterResult Imgconv(const TempDir& dir, const std::string& file, const std::string& options, const char* copies = "1",
                     const std::string& ppd = "") {
  std::vector<std::string> env;
  if (!ppd.empty()) env.push_back("PPD=" + ppd);
  return RunFilter(IMGCONV_PATH, {"3", "ann", "pic", copies, options, file}, env, "", dir);
}

// Pages Ghostscript draws from the file.
int RenderedPages(const std::string& ps) {
  std::string node = e2e::FindProgram("node");
  e2e::RunResult r =
      e2e::RunProgram({node, kRunner, "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=bbox", ps}, 300s);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err.find("Error"), std::string::npos) << r.err;
  int pages = 0;
  std::istringstream lines(r.err);
  std::string line;
  while (std::getline(lines, line))
    if (line.starts_with("%%BoundingBox: ")) pages++;
  return pages;
}

struct RenderCase {
  const char* name;
  std::string format;
  int w, h;
  std::string options;
  const char* copies;
  bool ppd;  // the grey Level 3 demo printer, else none (colour, Level 1)
  int pages;
};

TEST(ImgconvRender, PagesForFormatsSizesAndOptions) {
  std::vector<RenderCase> cases = {
      {"small PPM", "ppm", 8, 6, "", "1", false, 1},
      {"large PPM on the Level 3 printer", "ppm", 1600, 1200, "", "1", true, 1},
      {"small PNG", "png", 10, 30, "", "1", true, 1},
      {"large PNG", "png", 1600, 1200, "", "1", false, 1},
      {"JPEG", "jpeg", 640, 480, "", "1", true, 1},
      {"large JPEG", "jpeg", 1600, 1200, "", "1", false, 1},
      {"TIFF", "tiff", 300, 200, "", "1", false, 1},
      {"large TIFF", "tiff", 1600, 1200, "", "1", true, 1},
      {"GIF", "gif", 64, 64, "", "1", true, 1},
      {"large GIF", "gif", 1600, 1200, "", "1", false, 1},
      // 300 pixels at 30 ppi are 10 inches: two tiles across 8-inch pages.
      {"ppi tiles", "ppm", 300, 300, "ppi=30", "1", false, 2},
      {"collated copies of tiles", "ppm", 300, 300, "ppi=30 Collate=True", "2", false, 4},
      {"scaling half, landscape, mirror", "png", 200, 100, "scaling=50 landscape mirror=True", "1", true, 1},
      {"position and natural-scaling", "ppm", 144, 144, "ppi=72 natural-scaling=50 position=top-left", "1", false, 1},
      {"gamma and brightness", "ppm", 16, 16, "gamma=2200 brightness=120 page-label=Secret", "1", true, 1},
  };
  for (const RenderCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::string img = MakeImage(dir, c.format, c.w, c.h);
    FilterResult r = Imgconv(dir, img, c.options, c.copies, c.ppd ? kDemoPpd : "");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(c.ppd ? "ASCII85Decode" : "colorimage"), std::string::npos);
    EXPECT_EQ(r.out.back(), '\x04');
    EXPECT_EQ(r.err.find("PAGE:") != std::string::npos, c.ppd) << r.err;
    EXPECT_EQ(RenderedPages(dir.write("out.ps", r.out)), c.pages);
  }
}

// The rendered page holds the picture where the layout put it, each
// quarter in its colour (or its grey on the grey printer).
TEST(ImgconvRender, PictureMatchesSource) {
  struct Case {
    const char* name;
    std::string format;
    bool ppd;
  };
  const Case cases[] = {{"PPM colour", "ppm", false}, {"PNG grey", "png", true}, {"JPEG colour", "jpeg", false},
                        {"TIFF colour", "tiff", false}, {"GIF grey", "gif", true}};
  std::string node = e2e::FindProgram("node");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    // 4 × 3 inches at 100 ppi, centred: no turn, no tiling.
    std::string img = MakeImage(dir, c.format, 400, 300);
    FilterResult r = Imgconv(dir, img, "ppi=100", "1", c.ppd ? kDemoPpd : "");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string ps = dir.write("out.ps", r.out);
    e2e::RunResult g = e2e::RunProgram({node, kRunner, "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-r20",
                                        "-sDEVICE=png16m", "-sOutputFile=" + dir.file("page-%d.png"), ps},
                                       300s);
    ASSERT_EQ(g.exit_status, 0) << g.err;
    image_t* page = ImageOpen(dir.file("page-1.png").c_str(), IMAGE_RGB, IMAGE_RGB, 100, 0, nullptr);
    ASSERT_NE(page, nullptr) << ImageLastError();
    // The page's imageable area without a PPD is 18..594 × 36..756 points;
    // the demo printer's Letter area is read from its output header.
    double left = 18, right = 594, bottom = 36, top = 756;
    size_t bb = r.out.find("%%BoundingBox: ");
    ASSERT_NE(bb, std::string::npos);
    std::sscanf(r.out.c_str() + bb, "%%%%BoundingBox: %lf %lf %lf %lf", &left, &bottom, &right, &top);
    const double scale = 20.0 / 72;  // pixels a point
    double cx = (left + right) / 2, cy = (bottom + top) / 2;
    const int ph = int(page->ysize);
    for (int q = 0; q < 4; q++) {
      // Centre of each quarter: 1 inch from the picture centre across,
      // 0.75 inch up or down.
      double px = cx + (q % 2 ? 72 : -72), py = cy + (q / 2 ? -54 : 54);
      int x = int(px * scale), y = ph - 1 - int(py * scale);
      std::vector<uint8_t> row(page->xsize * 3);
      ImageGetRow(page, 0, y, int(page->xsize), row.data());
      const uint8_t* p = &row[size_t(x) * 3];
      Rgb want = kQuarters[q];
      if (c.ppd) {
        int grey = (want.r * 31 + want.g * 61 + want.b * 8) / 100;
        want = {grey, grey, grey};
      }
      EXPECT_NEAR(p[0], want.r, 28) << "quarter " << q;
      EXPECT_NEAR(p[1], want.g, 28) << "quarter " << q;
      EXPECT_NEAR(p[2], want.b, 28) << "quarter " << q;
    }
    // Outside the picture the page stays white.
    std::vector<uint8_t> row(page->xsize * 3);
    ImageGetRow(page, 0, ph / 2, int(page->xsize), row.data());
    int outside = int((cx - 2.5 * 72) * scale);
    EXPECT_GE(row[size_t(outside) * 3], 245);
    ImageClose(page);
  }
}

TEST(ImgconvProgram, FromStandardInputAndLevels) {
  TempDir dir;
  std::string img = MakeImage(dir, "png", 6, 4);
  // Six arguments: the image comes on standard input through a temporary copy.
  FilterResult r = RunFilter(IMGCONV_PATH, {"3", "ann", "pic", "1", ""}, {}, img, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("copying to temp print file"), std::string::npos);
  EXPECT_NE(r.out.find("%%Pages: 1\n"), std::string::npos);
  // Level 1 carries hex rows: 6 pixels × 3 samples = 36 digits a row, 4 rows
  // in lines of 78 at most.
  EXPECT_NE(r.out.find("/picture 18 string def\n"), std::string::npos);
  // Nothing of the temporary copy is left behind.
  int left = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path))
    if (e.path().filename().string().find("stdout") == std::string::npos &&
        e.path().filename().string().find("stderr") == std::string::npos &&
        e.path().filename().string().find("src.") == std::string::npos)
      left++;
  EXPECT_EQ(left, 0);

  // Copies without collation on a Level 3 printer: the printer makes them.
  r = Imgconv(dir, img, "", "2", kDemoPpd);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("<</NumCopies 2>>setpagedevice\n"), std::string::npos);
  EXPECT_NE(r.out.find("%%Pages: 1\n"), std::string::npos);
  EXPECT_NE(r.err.find("PAGE: 1 2\n"), std::string::npos);
  // A 6-pixel picture printed inches wide is smoothed; 300 ppi is not.
  EXPECT_NE(r.out.find("/Interpolate true"), std::string::npos);
  std::string fine = MakeImage(dir, "ppm", 600, 600);
  r = Imgconv(dir, fine, "ppi=300", "1", kDemoPpd);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("/Interpolate true"), std::string::npos);
}

struct BadCase {
  const char* name;
  std::string bytes;    // the file, or "" to use `format`
  std::string options;
  const char* message;  // in the ERROR: line
};

TEST(ImgconvProgram, DamagedImagesAndBadOptionsFail) {
  TempDir dir;
  std::string png = rastertest::ReadAll(MakeImage(dir, "png", 200, 150));
  std::string jpeg = rastertest::ReadAll(MakeImage(dir, "jpeg", 200, 150));
  std::string tiff = rastertest::ReadAll(MakeImage(dir, "tiff", 200, 150));
  std::string gif = rastertest::ReadAll(MakeImage(dir, "gif", 200, 150));
  std::string ppm = QuartersPpm(200, 150);
  std::string gif_lie = gif;
  gif_lie[6] = gif_lie[7] = gif_lie[8] = gif_lie[9] = '\xff';  // 65535 × 65535 screen
  std::string png_crc = png;
  png_crc[40] ^= 0x10;
  const std::string open_fail = "Unable to open image file for printing!";
  std::vector<BadCase> cases = {
      {"empty file", "", "", open_fail.c_str()},
      {"not an image", "hello, world\n", "", open_fail.c_str()},
      {"PNG cut in half", png.substr(0, png.size() / 2), "", open_fail.c_str()},
      {"PNG with a damaged chunk", png_crc, "", open_fail.c_str()},
      {"JPEG cut in half", jpeg.substr(0, jpeg.size() / 2), "", open_fail.c_str()},
      {"TIFF cut in half", tiff.substr(0, tiff.size() / 2), "", open_fail.c_str()},
      {"GIF cut in half", gif.substr(0, gif.size() / 2), "", open_fail.c_str()},
      {"GIF whose screen size lies", gif_lie, "", open_fail.c_str()},
      {"PPM cut short", ppm.substr(0, ppm.size() - 100), "", open_fail.c_str()},
      {"PPM of a billion pixels", "P6\n100000 100000\n255\n" + std::string(64, 'x'), "", open_fail.c_str()},
      {"PPM of no pixels", "P6\n0 10\n255\n", "", open_fail.c_str()},
      {"scaling zero", ppm, "scaling=0", "Bad value \"0\" for option scaling"},
      {"ppi not a number", ppm, "ppi=abc", "option ppi"},
      {"ppi huge", ppm, "ppi=99999999999", "option ppi"},
      {"negative gamma", ppm, "gamma=-5", "option gamma"},
      {"tiles beyond the limit", QuartersPpm(900, 150), "ppi=1", "more than 1000 pages"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    FilterResult r = Imgconv(dir, dir.write("bad", c.bytes), c.options);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ERROR: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("showpage"), std::string::npos);
  }
  FilterResult r = RunFilter(IMGCONV_PATH, {"3", "ann"}, {}, "", dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: imgconv job-id user title copies options [file]\n"), std::string::npos);

  // A full output device: the job fails instead of passing for printed.
  std::string img = dir.write("ok.ppm", ppm);
  FilterResult full = RunFilter(IMGCONV_PATH, {"1", "u", "t", "1", "", img}, {}, "", dir, "/dev/full");
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("ERROR: Unable to write print data - No space left"), std::string::npos) << full.err;
}

}  // namespace
