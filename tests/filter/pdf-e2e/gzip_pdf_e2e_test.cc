// A gzip'd PDF job in a real vornd: expanded by unzipconv, turned into
// PostScript by pdfconv, made ready by psconv for a queue with the
// PostScript demo model and sent by the socket backend to a printer
// listening on 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>

#include "jobrun_server.h"
#include "listening_printer.h"
#include "tests/filter/pdfconv/pdf_writer.h"
#include "tests/fixtures/file/gzip_member.h"

namespace {

using namespace e2e;

class GzipPdfJob : public JobRun {
 protected:
  void SetUp() override {
    JobRun::SetUp();
    InstallChain({{UNZIPCONV_PATH, "bin/filter/unzipconv"},
                  {PDFCONV_PATH, "bin/filter/pdfconv"},
                  {PSCONV_PATH, "bin/filter/psconv"},
                  {SOCKET_BACKEND_PATH, "bin/backend/socket"}});
    if (HasFatalFailure()) return;
  }
};

TEST_F(GzipPdfJob, ReachesTheSocketPrinterThroughThreeFilters) {
  ListeningPrinter printer;
  ASSERT_NE(printer.port(), 0);
  Printers({{"laser", "socket://127.0.0.1:" + std::to_string(printer.port()), false}});
  ASSERT_TRUE(WriteFile(root_.file("ppd/laser.ppd"), ReadFile(SourceDir() + "/data/model/vorn-postscript.ppd"), 0644));
  Job(1, "laser", {vorn_test::GzipMember(pdftest::MakePdf(3))});
  Start();
  ASSERT_TRUE(WaitForJobState(1, "9", 60s)) << root_.ErrorLog();

  const std::string got = printer.Received();
  EXPECT_TRUE(got.starts_with("%!PS-Adobe-3.0\n")) << got.substr(0, 200);
  // pdfconv's three pages, made ready by psconv: two-sided, so a blank
  // page ends the odd count.
  EXPECT_NE(got.find("poppler"), std::string::npos);
  EXPECT_NE(got.find("%%BeginFeature: *Duplex DuplexNoTumble\n"), std::string::npos);
  const std::string log = root_.ErrorLog();
  for (const char* f : {"unzipconv", "pdfconv", "psconv"})
    EXPECT_NE(log.find("Started filter " + root_.file(std::string("bin/filter/") + f)), std::string::npos)
        << f << "\n" << log;

  // What the printer got draws the three pages and the blank one.
  std::string ps = root_.file("received.ps");
  ASSERT_TRUE(WriteFile(ps, got));
  RunResult r = RunProgram({FindProgram("node"), SourceDir() + "/tests/fixtures/render/gs-run.mjs", "-q",
                            "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=bbox", ps},
                           300s);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  int pages = 0, blank = 0;
  std::istringstream lines(r.err);
  std::string line;
  while (std::getline(lines, line))
    if (line == "%%BoundingBox: 0 0 0 0")
      blank++;
    else if (line.starts_with("%%BoundingBox: "))
      pages++;
  EXPECT_EQ(pages, 3) << r.err;
  EXPECT_EQ(blank, 1) << r.err;
}

}  // namespace
