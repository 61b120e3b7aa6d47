// A PostScript job in a real vornd: typed by the shipped rules, converted by
// psconv for a queue with the PostScript demo model, and sent by the socket
// backend to a printer listening on 127.0.0.1; the sheets psconv reports
// reach the job and the page log.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "jobrun_server.h"
#include "listening_printer.h"

namespace {

using namespace e2e;

class PsconvJob : public JobRun {
 protected:
  void SetUp() override {
    JobRun::SetUp();
    InstallChain({{PSCONV_PATH, "bin/filter/psconv"},
                  {SOCKET_BACKEND_PATH, "bin/backend/socket"}});
    if (HasFatalFailure()) return;
  }
};

TEST_F(PsconvJob, APostScriptJobReachesTheSocketPrinterWithItsSheetsCounted) {
  ListeningPrinter printer;
  ASSERT_NE(printer.port(), 0);
  Printers({{"laser", "socket://127.0.0.1:" + std::to_string(printer.port()), false}});
  ASSERT_TRUE(WriteFile(root_.file("ppd/laser.ppd"),
                        ReadFile(SourceDir() + "/data/model/vorn-postscript.ppd"), 0644));
  // Three pages; the job asks for 2 copies, two-sided (see JobRun::Job).
  std::string doc = "%!PS-Adobe-3.0\n%%Pages: 3\n%%EndComments\n";
  for (int k = 1; k <= 3; k++)
    doc += "%%Page: " + std::to_string(k) + " " + std::to_string(k) + "\n/Helvetica findfont 24 scalefont "
           "setfont 72 600 moveto (Page " + std::to_string(k) + ") show showpage\n";
  doc += "%%EOF\n";
  Job(1, "laser", {doc});
  Start();
  ASSERT_TRUE(WaitForJobState(1, "9", 30s)) << root_.ErrorLog();

  const std::string got = printer.Received();
  EXPECT_TRUE(got.starts_with("%!PS-Adobe-3.0\n%%Requirements: numcopies(2) duplex\n%RBINumCopies: 2\n"))
      << got.substr(0, 200);
  EXPECT_NE(got.find("%%BeginFeature: *Duplex DuplexNoTumble\n"), std::string::npos);
  EXPECT_NE(got.find("%%RBIBeginNonPPDFeature: *NumCopies 2\n"), std::string::npos);
  // An odd number of sheets two-sided gets a blank back.
  EXPECT_NE(got.find("%%Trailer\n%%Pages: 4\n"), std::string::npos);
  EXPECT_TRUE(got.ends_with("%%EOF\n\x04"));

  // Four sheets of two copies each.
  EXPECT_EQ(JobAttrs(1).value(1, "job-media-sheets-completed"), "8");
  const std::string pages = ReadFile(root_.file("logs/page_log"));
  for (int sheet = 1; sheet <= 4; sheet++)
    EXPECT_NE(pages.find("] " + std::to_string(sheet) + " 2 - ws1\n"), std::string::npos) << pages;
  EXPECT_EQ(pages.find("] 5 "), std::string::npos) << pages;
  const std::string log = root_.ErrorLog();
  EXPECT_NE(log.find("Started filter " + root_.file("bin/filter/psconv")), std::string::npos);
  EXPECT_NE(log.find("[Job 1] Page = 612x792; 18,36 to 594,756"), std::string::npos) << log;
}

}  // namespace
