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
#include "tests/filter/drivers/label_decode.h"
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
    InstallPrograms({{IMGRASTER_PATH, "bin/filter/imgraster"},
                     {PCLDRV_PATH, "bin/filter/pcldrv"},
                     {ESCPDRV_PATH, "bin/filter/escpdrv"},
                     {LABELDRV_PATH, "bin/filter/labeldrv"},
                     {SOCKET_BACKEND_PATH, "bin/backend/socket"}});
  }
};

// A 600 × 300 PNG at 150 pixels per inch (4 × 2 inches), black on its left
// half, light grey on its right.
std::string Png(int width = 600, int height = 300, const char* pixels_per_metre = "5906") {
  rastertest::TempDir dir;
  std::string pgm = "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  for (int i = 0; i < width * height; i++) pgm.push_back(char(i % width < width / 2 ? 0 : 200));
  std::string in = dir.write("in.pgm", pgm), out = dir.file("out.png");
  EXPECT_EQ(std::system(("pnmtopng -size '" + std::string(pixels_per_metre) + " " + pixels_per_metre + " 1' " + in +
                         " > " + out)
                            .c_str()),
            0);
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
  // The job's two-sided-long-edge: the page is the front of a sheet, which
  // the closing reset ejects; the printer makes the two copies.
  EXPECT_NE(pcl.framing.find(" &l2X &l1S "), std::string::npos) << pcl.framing;
  EXPECT_TRUE(pcl.framing.ends_with("*r0B E")) << pcl.framing;

  drvtest::EscpDecoded escp = drvtest::DecodeEscp(escp_printer.Received(), {2, 360, 360, 0, 0});
  ASSERT_EQ(escp.error, "");
  // ESC/P has no copy count: the filters send the page twice.
  ASSERT_EQ(escp.pages.size(), 3u) << "two copies of the page and the closing reset";
  rows.clear();
  for (const auto& [y, bytes] : escp.pages[0].planes[0]) rows.push_back(bytes);
  solid = SolidRows(rows, 360);
  EXPECT_GE(solid, 710u);
  EXPECT_LE(solid, 730u);
  EXPECT_EQ(JobAttrs(1).value(1, "job-media-sheets-completed"), "2") << "one page, two copies";
}

// A 2 × 1 inch label: a PNG of that size at 100 pixels per inch, black on
// its left half, reaches the label printer as one label per copy at the
// PPD's 203 dpi.
TEST_F(DriverQueue, PngJobsReachALabelPrinter) {
  ListeningPrinter printer;
  ASSERT_NE(printer.port(), 0);
  Printers({{"label", "socket://127.0.0.1:" + std::to_string(printer.port()), false}});
  ASSERT_TRUE(WriteFile(root_.file("ppd/label.ppd"), ReadFile(SourceDir() + "/data/model/vorn-label.ppd"), 0644));
  Job(1, "label", {Png(200, 100, "3937")});
  Start();
  ASSERT_TRUE(WaitForJobState(1, "9", 60s)) << root_.ErrorLog();
  EXPECT_NE(root_.ErrorLog().find("Started filter " + root_.file("bin/filter/labeldrv")), std::string::npos);

  std::string err;
  std::vector<drvtest::Label> labels = drvtest::DecodeLabels(printer.Received(), err);
  ASSERT_EQ(err, "");
  ASSERT_EQ(labels.size(), 2u) << "two copies";
  for (const drvtest::Label& label : labels) {
    EXPECT_EQ(label.length, 203u) << "one inch at 203 dpi";
    EXPECT_GE(label.bytes, 50u) << "two inches of dots";
    // The black half: about an inch wide on about an inch of rows.
    unsigned solid = SolidRows(label.rows, 180);
    EXPECT_GE(solid, 180u);
    EXPECT_LE(solid, 210u);
  }
  EXPECT_EQ(labels[0].rows, labels[1].rows);
}

}  // namespace
