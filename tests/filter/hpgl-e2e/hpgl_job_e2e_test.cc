// An HP-GL/2 plot as a job in a real vornd: typed from its content by the
// shipped type database, turned into PostScript by hpglconv, made ready by
// psconv for a queue with the PostScript demo model and sent by the socket
// backend to a printer listening on 127.0.0.1. What the printer gets is
// drawn by the WebAssembly Ghostscript and must show the plot where it
// was drawn.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "hpglconv_fixture.h"
#include "jobrun_server.h"
#include "listening_printer.h"

namespace {

using namespace e2e;
using hpglconv_test::Box;
using hpglconv_test::DarkPixels;
using hpglconv_test::GreyImage;
using hpglconv_test::Renderer;

constexpr int kDpi = 36;

class HpglJob : public JobRun {
 protected:
  void SetUp() override {
    JobRun::SetUp();
    InstallChain({{HPGLCONV_PATH, "bin/filter/hpglconv"},
                  {PSCONV_PATH, "bin/filter/psconv"},
                  {SOCKET_BACKEND_PATH, "bin/backend/socket"}});
    if (HasFatalFailure()) return;
    // hpglconv reads its prolog below the scheduler's DataDir.
    std::filesystem::create_directories(root_.file("data/data"));
    ASSERT_TRUE(WriteFile(root_.file("data/data/HPGLprolog"), ReadFile(std::string(HPGLCONV_DATA) + "/data/HPGLprolog")));
  }
};

TEST_F(HpglJob, PlotReachesTheSocketPrinterAsPostScript) {
  ListeningPrinter printer;
  ASSERT_NE(printer.port(), 0);
  Printers({{"plotter", "socket://127.0.0.1:" + std::to_string(printer.port()), false}});
  ASSERT_TRUE(WriteFile(root_.file("ppd/plotter.ppd"), ReadFile(SourceDir() + "/data/model/vorn-postscript.ppd"), 0644));
  // A 3-inch square outline one inch from the corner of the printable area
  // (18, 36 on Letter) and a filled inch square in its middle.
  Job(1, "plotter", {"IN;SP1;PW0.5;PA1016,1016;PD4064,1016,4064,4064,1016,4064,1016,1016;PU;"
                     "PA2032,2032;RA3048,3048;\n"});
  Start();
  ASSERT_TRUE(WaitForJobState(1, "9", 60s)) << root_.ErrorLog();

  // Only the HP-GL/2 type leads to hpglconv, so its start shows how the
  // document was typed.
  const std::string log = root_.ErrorLog();
  size_t at = 0;
  for (const char* f : {"hpglconv", "psconv"}) {
    const size_t found = log.find("Started filter " + root_.file(std::string("bin/filter/") + f), at);
    ASSERT_NE(found, std::string::npos) << f << "\n" << log;
    at = found;
  }

  const std::string got = printer.Received();
  ASSERT_TRUE(got.starts_with("%!PS-Adobe-3.0\n")) << got.substr(0, 200);
  EXPECT_NE(got.find("%%Creator: hpglconv/VORN v1.1\n"), std::string::npos);
  // psconv's settings for the queue: two-sided from the job.
  EXPECT_NE(got.find("%%BeginFeature: *Duplex DuplexNoTumble\n"), std::string::npos);

  Renderer r;
  ASSERT_TRUE(r.ready());
  std::string render_log;
  // The plot's page and the blank back psconv adds to print it two-sided,
  // each in two copies.
  EXPECT_NE(got.find("%%Trailer\n%%Pages: 2\n%%EOF\n"), std::string::npos)
      << got.substr(got.size() > 300 ? got.size() - 300 : 0);
  ASSERT_EQ(r.Render(got, "job", kDpi, &render_log), 4) << render_log;
  for (int page : {1, 2}) {
    SCOPED_TRACE(page);
    GreyImage img;
    ASSERT_TRUE(textconv_test::ReadGreyPng(r.page("job", page), img));
    ASSERT_EQ(img.width, 612 * kDpi / 72);
    ASSERT_EQ(img.height, 792 * kDpi / 72);
    // The filled square (162..234, 180..252) is ink all over, the inside
    // of the outline around it is blank, and nothing lies outside the
    // outline (90..306, 108..324).
    const Box filled = {166, 184, 230, 248};
    const long filled_pixels =
        long((filled.right - filled.left) * kDpi / 72) * long((filled.top - filled.bottom) * kDpi / 72);
    EXPECT_GE(DarkPixels(img, kDpi, filled, true), filled_pixels * 9 / 10);
    EXPECT_EQ(DarkPixels(img, kDpi, {96, 114, 156, 174}, true), 0) << "ink inside the outline, off the filled square";
    EXPECT_GT(DarkPixels(img, kDpi, {88, 150, 92, 280}, true), 0) << "no left edge of the outline";
    EXPECT_EQ(DarkPixels(img, kDpi, {86, 104, 310, 328}, false), 0) << "ink outside the plot";
  }
  for (int page : {3, 4}) {
    GreyImage img;
    ASSERT_TRUE(textconv_test::ReadGreyPng(r.page("job", page), img));
    EXPECT_EQ(DarkPixels(img, kDpi, {0, 0, 612, 792}, true), 0) << "ink on the blank back " << page;
  }
}

}  // namespace
