// Jobs on a raster queue in a real vornd: a PNG image through imgraster and
// a PostScript job through psraster, both delivered as raster pages to a
// file device on a printer described by data/model/vorn-raster.ppd. The
// interpreter is found the way an installed system finds it: gs-run.mjs
// and the WebAssembly package under DataDir/psraster.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "jobrun_server.h"
#include "tests/filter/imgraster/run_filter.h"

namespace {

using namespace e2e;
namespace fs = std::filesystem;

class RasterQueue : public JobRun {
 protected:
  void SetUp() override {
    JobRun::SetUp();
    ASSERT_EQ(::symlink(IMGRASTER_PATH, root_.file("bin/filter/imgraster").c_str()), 0);
    ASSERT_EQ(::symlink(PSRASTER_PATH, root_.file("bin/filter/psraster").c_str()), 0);
    ASSERT_TRUE(root_.InstallDataFile("vorn.types"));
    // The page filter in front of psraster is not part of this test: the
    // PostScript goes to psraster directly.
    ASSERT_TRUE(WriteFile(root_.file("raster.convs"),
                          "image/png application/vnd.vorn-raster 100 imgraster\n"
                          "application/postscript application/vnd.vorn-raster 100 psraster\n"));
    fs::create_directories(root_.file("data/psraster"));
    fs::copy_file(SourceDir() + "/tests/fixtures/render/gs-run.mjs", root_.file("data/psraster/gs-run.mjs"));
    fs::create_directory_symlink(SourceDir() + "/tests/interop/node_modules/@okathira/ghostpdl-wasm",
                                 root_.file("data/psraster/ghostpdl-wasm"));
    out_ = root_.file("raster.out");
    Printers({{"raster", "file:" + out_, false}});
    ASSERT_TRUE(WriteFile(root_.file("ppd/raster.ppd"), ReadFile(SourceDir() + "/data/model/vorn-raster.ppd")));
  }
  std::string out_;
};

// A 600 × 300 grey PNG at 150 pixels per inch (pHYs 5906 per metre).
std::string Png() {
  rastertest::TempDir dir;
  std::string pgm = "P5\n600 300\n255\n";
  for (int i = 0; i < 600 * 300; i++) pgm.push_back(char(i % 600 < 300 ? 0 : 200));
  std::string in = dir.write("in.pgm", pgm), out = dir.file("out.png");
  EXPECT_EQ(std::system(("pnmtopng -size '5906 5906 1' " + in + " > " + out).c_str()), 0);
  return rastertest::ReadAll(out);
}

TEST_F(RasterQueue, PngAndPostScriptJobsGiveRasterPages) {
  struct Case {
    const char* name;
    std::string document;
    size_t pages;
  } cases[] = {
      {"PNG", Png(), 1},
      {"PostScript", "%!PS\n100 100 200 200 rectfill showpage\n0 0 moveto 300 300 lineto stroke showpage\n", 2},
  };
  Job(1, "raster", {cases[0].document});
  Job(2, "raster", {cases[1].document});
  Start();
  for (int id : {1, 2}) ASSERT_TRUE(WaitForJobState(id, "9", 60s)) << root_.ErrorLog();
  // The file device is rewritten for each job: the PostScript job's pages
  // are in it, the image job's sizes are checked through the log.
  const std::string log = root_.ErrorLog();
  EXPECT_NE(log.find("Started filter " + root_.file("bin/filter/imgraster")), std::string::npos) << log;
  EXPECT_NE(log.find("Started filter " + root_.file("bin/filter/psraster")), std::string::npos) << log;
  EXPECT_NE(log.find("[Job 1] vornWidth = 2400"), std::string::npos) << log;
  EXPECT_NE(log.find("[Job 1] vornHeight = 3000"), std::string::npos) << log;
  rastertest::TempDir dir;
  std::vector<rastertest::RasterPage> pages = rastertest::ReadRaster(ReadFile(out_), dir);
  ASSERT_EQ(pages.size(), cases[1].pages) << log;
  for (const auto& p : pages) {
    // Letter at the PPD's default 300 dpi, black at one bit.
    EXPECT_EQ(p.h.HWResolution[0], 300u);
    EXPECT_EQ(p.h.vornWidth, 2400u);
    EXPECT_EQ(p.h.vornHeight, 3000u);
    EXPECT_EQ(p.h.vornColorSpace, 3u);
    EXPECT_EQ(p.h.PageSize[1], 792u);
  }
  EXPECT_EQ(JobAttrs(2).value(1, "job-media-sheets-completed"), "4") << "two pages, two copies each";
}

TEST_F(RasterQueue, PngPagesReachTheDevice) {
  Job(1, "raster", {Png()});
  Start();
  ASSERT_TRUE(WaitForJobState(1, "9", 60s)) << root_.ErrorLog();
  rastertest::TempDir dir;
  std::vector<rastertest::RasterPage> pages = rastertest::ReadRaster(ReadFile(out_), dir);
  ASSERT_EQ(pages.size(), 1u) << root_.ErrorLog();
  const vorn_page_header_t& h = pages[0].h;
  EXPECT_EQ(h.vornWidth, 2400u);
  EXPECT_EQ(h.NumCopies, 2u) << "the job asks for two copies; the printer makes them";
  // 4 × 2 inches centred: the black left half of the image is inked.
  unsigned x = 1200 - 300, y = 1500;
  const uint8_t* row = pages[0].data.data() + size_t(y) * h.vornBytesPerLine;
  EXPECT_EQ(row[x / 8], 0xFF) << "black half";
  EXPECT_EQ(row[(1200 + 300) / 8] != 0xFF, true) << "grey half is dithered";
  EXPECT_EQ(pages[0].data[10 * h.vornBytesPerLine + 10], 0) << "margin";
}

}  // namespace
