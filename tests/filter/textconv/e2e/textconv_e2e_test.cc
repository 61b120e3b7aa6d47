// A text job in a real vornd: typed as text by the shipped rules, laid out
// by textconv in the job's character set, made ready by psconv for a queue
// with the PostScript demo model and sent by the socket backend to a printer
// listening on 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "jobrun_server.h"
#include "listening_printer.h"

namespace {

using namespace e2e;

class TextconvJob : public JobRun {
 protected:
  void SetUp() override {
    JobRun::SetUp();
    InstallChain({{TEXTCONV_PATH, "bin/filter/textconv"},
                  {PSCONV_PATH, "bin/filter/psconv"},
                  {SOCKET_BACKEND_PATH, "bin/backend/socket"}});
    if (HasFatalFailure()) return;
    std::filesystem::copy(TEXTCONV_DATA, root_.file("data"),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
  }
};

TEST_F(TextconvJob, AUtf8TextJobReachesTheSocketPrinter) {
  ListeningPrinter printer;
  ASSERT_NE(printer.port(), 0);
  Printers({{"laser", "socket://127.0.0.1:" + std::to_string(printer.port()), false}});
  ASSERT_TRUE(WriteFile(root_.file("ppd/laser.ppd"), ReadFile(SourceDir() + "/data/model/vorn-postscript.ppd"), 0644));
  // Two pages of text with Greek in it; the job's character set is utf-8.
  std::string text;
  for (int i = 1; i <= 70; i++) text += "line " + std::to_string(i) + " \xce\xb1\xce\xb2\xce\xb3\n";
  Job(1, "laser", {text});
  Start();
  ASSERT_TRUE(WaitForJobState(1, "9", 30s)) << root_.ErrorLog();

  const std::string got = printer.Received();
  EXPECT_TRUE(got.starts_with("%!PS-Adobe-3.0\n")) << got.substr(0, 200);
  // textconv's pages, in composite fonts for the UTF-8 set, made ready by
  // psconv: two pages, two copies, two-sided.
  EXPECT_NE(got.find("%%Creator: textconv/VORN v1.1"), std::string::npos);
  // "line 1 " in font 0, "αβγ" in font 2 (both Courier: a run per font)
  EXPECT_NE(got.find("N<006c0069006e0065002000310020>S\n"), std::string::npos) << got.substr(got.find("%%Page: 1"), 300);
  EXPECT_NE(got.find(" 745.884 N<02b102b202b3>S\n"), std::string::npos);
  EXPECT_NE(got.find("%%BeginFeature: *Duplex DuplexNoTumble\n"), std::string::npos);
  EXPECT_NE(got.find("%%Trailer\n%%Pages: 2\n"), std::string::npos);
  EXPECT_EQ(JobAttrs(1).value(1, "job-media-sheets-completed"), "4");
  const std::string log = root_.ErrorLog();
  EXPECT_NE(log.find("Started filter " + root_.file("bin/filter/textconv")), std::string::npos) << log;
  EXPECT_NE(log.find("Started filter " + root_.file("bin/filter/psconv")), std::string::npos);
}

}  // namespace
