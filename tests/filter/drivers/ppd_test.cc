// The PPDs of our drivers, each choice of resolution and output mode: an
// image through imgraster with that PPD gives raster pages the driver
// named by the PPD accepts, and the driver's output decodes to them.
#include <gtest/gtest.h>

#include "filter/driver-common/driver.h"
#include "tests/filter/drivers/escp_decode.h"
#include "tests/filter/drivers/pcl_decode.h"
#include "tests/filter/drivers/raster_fixture.h"
#include "vorn/ppd.h"

namespace {

using namespace drvtest;

// A small colour image: bands of red, green, blue and grey steps.
std::string Ppm() {
  std::string s = "P6\n120 90\n255\n";
  for (int y = 0; y < 90; y++)
    for (int x = 0; x < 120; x++) {
      int band = x / 30, v = (y * 255) / 89;
      s += char(band == 0 ? 255 - v : 0);
      s += char(band == 1 ? 255 - v : 0);
      s += char(band == 2 ? 255 - v : 0);
      if (band == 3) s.back() = s[s.size() - 2] = s[s.size() - 3] = char(v);
    }
  return s;
}

std::vector<std::string> Choices(ppd_file_t* ppd, const char* keyword) {
  std::vector<std::string> out;
  if (ppd_option_t* o = ppdFindOption(ppd, keyword))
    for (const ppd_choice_t& c : o->choices) out.push_back(c.choice);
  return out;
}

TEST(DriverPpds, EveryModeGivesPagesTheDriverPrints) {
  const char* files[] = {"vorn-pcl-laser.ppd",   "vorn-pcl-inkjet.ppd",   "vorn-pcl-colour.ppd",
                         "vorn-escp-9pin.ppd",   "vorn-escp-24pin.ppd",   "vorn-escp2-inkjet.ppd",
                         "vorn-escp2-photo.ppd", "vorn-label.ppd"};
  rastertest::TempDir dir;
  const std::string image = dir.write("in.ppm", Ppm());
  for (const char* file : files) {
    const std::string path = std::string(VORN_SOURCE_DIR) + "/data/model/" + file;
    vorn::ppd_file_ptr ppd(ppdOpenFile(path.c_str()));
    ASSERT_TRUE(ppd) << file;
    ASSERT_EQ(ppd->filters.size(), 1u) << file;
    const std::string filter = ppd->filters[0];
    std::string driver = filter.substr(filter.rfind(' ') + 1);
    const std::string program = driver == "pcldrv" ? PCLDRV_PATH : driver == "escpdrv" ? ESCPDRV_PATH : LABELDRV_PATH;
    ASSERT_EQ(filter, "application/vnd.vorn-raster 100 " + driver) << file;
    ASSERT_NE(program.find(driver), std::string::npos) << file;
    // Every resolution in the first mode, every mode at the first resolution.
    const std::vector<std::string> resolutions = Choices(ppd.get(), "Resolution"), modes = Choices(ppd.get(), "ColorModel");
    for (const std::string& res : resolutions) {
      for (const std::string& mode : modes) {
        if (res != resolutions[0] && mode != modes[0]) continue;
        SCOPED_TRACE(std::string(file) + " " + res + " " + mode);
        std::vector<std::string> env = {"PPD=" + path};
        rastertest::FilterResult ras = rastertest::RunFilter(
            IMGRASTER_PATH, {"1", "u", "t", "1", "Resolution=" + res + " ColorModel=" + mode, image}, env, "", dir);
        ASSERT_EQ(ras.status, 0) << ras.err;
        std::vector<rastertest::RasterPage> pages = rastertest::ReadRaster(ras.out, dir);
        ASSERT_EQ(pages.size(), 1u);
        const vorn_page_header_t& h = pages[0].h;
        rastertest::FilterResult r = RunDriver(program, ras.out, env, dir);
        ASSERT_EQ(r.status, 0) << r.err;
        if (driver == "pcldrv") {
          PclDecoded d = DecodePcl(r.out);
          ASSERT_EQ(d.error, "");
          ASSERT_EQ(d.rasters.size(), 1u);
          unsigned planes = h.vornColorSpace == 8 ? 4 : h.vornColorSpace == 4 ? 3 : 1;
          for (unsigned y = 0; y < h.vornHeight; y++)
            ASSERT_EQ(PclRebuild(d.rasters[0].rows[y], h, planes),
                      std::vector<uint8_t>(pages[0].data.begin() + y * h.vornBytesPerLine,
                                           pages[0].data.begin() + (y + 1) * h.vornBytesPerLine))
                << "row " << y;
        } else if (driver == "escpdrv") {
          EscpDecoded d = DecodeEscp(r.out, {ppd->model_number, h.HWResolution[0], h.HWResolution[1], h.vornWidth,
                                             h.vornHeight});
          ASSERT_EQ(d.error, "");
          ASSERT_EQ(d.pages.size(), 2u);
          bool inked = false;
          for (const auto& row : d.pages[0].dots) inked = inked || !vorn::drv::row_blank(row.data(), row.size());
          for (const auto& plane : d.pages[0].planes) inked = inked || !plane.second.empty();
          EXPECT_TRUE(inked) << "the image printed nothing";
        } else {
          EXPECT_NE(r.out.find('\x16'), std::string::npos) << "no label rows";
        }
      }
    }
  }
}

// Two-sided printing chosen as a job asks for it (sides) or by the PPD's
// own option reaches the page header and becomes pcldrv's duplex command.
TEST(DriverPpds, DuplexChoicesReachThePclDuplexCommand) {
  const struct {
    const char* options;
    bool duplex, tumble;
    const char* command;  // ESC "&l%dS", or none
  } cases[] = {
      {"", false, false, nullptr},
      {"sides=one-sided", false, false, nullptr},
      {"sides=two-sided-long-edge", true, false, "\033&l1S"},
      {"sides=two-sided-short-edge", true, true, "\033&l2S"},
      {"Duplex=DuplexTumble", true, true, "\033&l2S"},
      {"Duplex=None", false, false, nullptr},
  };
  rastertest::TempDir dir;
  const std::string image = dir.write("in.ppm", Ppm());
  for (const char* file : {"vorn-pcl-laser.ppd", "vorn-pcl-colour.ppd"}) {
    const std::vector<std::string> env = {"PPD=" + std::string(VORN_SOURCE_DIR) + "/data/model/" + file};
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(file) + " [" + c.options + "]");
      rastertest::FilterResult ras = rastertest::RunFilter(IMGRASTER_PATH, {"1", "u", "t", "1", c.options, image},
                                                           env, "", dir);
      ASSERT_EQ(ras.status, 0) << ras.err;
      std::vector<rastertest::RasterPage> pages = rastertest::ReadRaster(ras.out, dir);
      ASSERT_EQ(pages.size(), 1u);
      EXPECT_EQ(pages[0].h.Duplex, c.duplex);
      EXPECT_EQ(pages[0].h.Tumble, c.tumble);
      rastertest::FilterResult r = RunDriver(PCLDRV_PATH, ras.out, env, dir);
      ASSERT_EQ(r.status, 0) << r.err;
      const bool has_command = r.out.find("\033&l1S") != std::string::npos || r.out.find("\033&l2S") != std::string::npos;
      if (c.command)
        EXPECT_NE(r.out.find(c.command), std::string::npos);
      else
        EXPECT_FALSE(has_command);
    }
  }
}

}  // namespace
