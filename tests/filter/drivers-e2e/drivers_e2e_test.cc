// A PNG job in a real vornd on queues with our driver PPDs: imgraster makes
// the raster pages, the driver named by the PPD turns them into printer
// commands, and the socket backend delivers them to a printer listening on
// 127.0.0.1, where the tests' decoders read the image back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "jobrun_server.h"
#include "listening_printer.h"
#include "tests/filter/drivers/escp_decode.h"
#include "tests/filter/drivers/pcl_decode.h"
#include "tests/filter/imgraster/run_filter.h"

namespace {

using namespace e2e;

class DriverQueue : public JobRun {
 protected:
  void SetUp() override {
    JobRun::SetUp();
    ASSERT_TRUE(root_.InstallDataFile("vorn.types"));
    ASSERT_TRUE(WriteFile(root_.file("raster.convs"), "image/png application/vnd.vorn-raster 100 imgraster\n"));
    for (const auto& [from, to] : {std::pair<std::string, std::string>{IMGRASTER_PATH, "bin/filter/imgraster"},
                                   {PCLDRV_PATH, "bin/filter/pcldrv"},
                                   {ESCPDRV_PATH, "bin/filter/escpdrv"},
                                   {SOCKET_BACKEND_PATH, "bin/backend/socket"}}) {
      ASSERT_TRUE(WriteFile(root_.file(to), ReadFile(from), 0755)) << to;
      ::chmod(root_.file(to).c_str(), 0755);
    }
  }
};

// A 600 × 300 PNG at 150 pixels per inch (4 × 2 inches), black on its left
// half, light grey on its right.
std::string Png() {
  rastertest::TempDir dir;
  std::string pgm = "P5\n600 300\n255\n";
  for (int i = 0; i < 600 * 300; i++) pgm.push_back(char(i % 600 < 300 ? 0 : 200));
  std::string in = dir.write("in.pgm", pgm), out = dir.file("out.png");
  EXPECT_EQ(std::system(("pnmtopng -size '5906 5906 1' " + in + " > " + out).c_str()), 0);
  return rastertest::ReadAll(out);
}

// Rows of a bitmap with a solid black run of at least an inch.
unsigned SolidRows(const std::vector<std::vector<uint8_t>>& rows, unsigned res) {
  unsigned n = 0;
  for (const auto& r : rows) {
    unsigned run = 0, best = 0;
    for (uint8_t b : r) {
      run = b == 0xFF ? run + 8 : 0;
      best = std::max(best, run);
    }
    n += best >= res;
  }
  return n;
}

TEST_F(DriverQueue, PngJobsReachPclAndEscpPrinters) {
  struct Case {
    const char* queue;
    const char* ppd;
    unsigned res;
  } cases[] = {{"pcl", "vorn-pcl-laser.ppd", 300}, {"escp", "vorn-escp2-inkjet.ppd", 360}};
  ListeningPrinter pcl_printer, escp_printer;
  ASSERT_NE(pcl_printer.port(), 0);
  ASSERT_NE(escp_printer.port(), 0);
  Printers({{"pcl", "socket://127.0.0.1:" + std::to_string(pcl_printer.port()), false},
            {"escp", "socket://127.0.0.1:" + std::to_string(escp_printer.port()), false}});
  for (const Case& c : cases)
    ASSERT_TRUE(WriteFile(root_.file(std::string("ppd/") + c.queue + ".ppd"),
                          ReadFile(SourceDir() + "/data/model/" + c.ppd), 0644));
  const std::string png = Png();
  Job(1, "pcl", {png});
  Job(2, "escp", {png});
  Start();
  for (int id : {1, 2}) ASSERT_TRUE(WaitForJobState(id, "9", 60s)) << root_.ErrorLog();
  const std::string log = root_.ErrorLog();
  EXPECT_NE(log.find("Started filter " + root_.file("bin/filter/pcldrv")), std::string::npos) << log;
  EXPECT_NE(log.find("Started filter " + root_.file("bin/filter/escpdrv")), std::string::npos) << log;

  // The image's black half is two inches tall, two wide.
  drvtest::PclDecoded pcl = drvtest::DecodePcl(pcl_printer.Received());
  ASSERT_EQ(pcl.error, "");
  ASSERT_EQ(pcl.rasters.size(), 1u);
  std::vector<std::vector<uint8_t>> rows;
  for (const auto& sent : pcl.rasters[0].rows) rows.push_back(sent.empty() ? std::vector<uint8_t>() : sent[0]);
  unsigned solid = SolidRows(rows, 300);
  EXPECT_GE(solid, 590u);
  EXPECT_LE(solid, 610u);
  EXPECT_TRUE(pcl.framing.starts_with("E &l6D &k12H &l0O &l2A")) << pcl.framing;
  EXPECT_TRUE(pcl.framing.ends_with("*r0B FF E")) << pcl.framing;

  drvtest::EscpDecoded escp = drvtest::DecodeEscp(escp_printer.Received(), {2, 360, 360, 0, 0});
  ASSERT_EQ(escp.error, "");
  ASSERT_EQ(escp.pages.size(), 2u) << "the page and the closing reset";
  rows.clear();
  for (const auto& [y, bytes] : escp.pages[0].planes[0]) rows.push_back(bytes);
  solid = SolidRows(rows, 360);
  EXPECT_GE(solid, 710u);
  EXPECT_LE(solid, 730u);
  EXPECT_EQ(JobAttrs(1).value(1, "job-media-sheets-completed"), "2") << "one page, two copies";
}

}  // namespace
