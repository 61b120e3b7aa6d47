// The web interface in a real browser (chromium-headless-shell driven by
// puppeteer-core) against a running vornd that runs the CGI programs: the
// printer list, cancelling a job, adding a printer and a class, with
// screenshots.
// The web user signs in with a digest password; the programs act for them
// at the scheduler with their local certificate.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "cgi_server.h"
#include "vorn/http.h"

namespace {

using namespace cgitest;

TEST(CgiBrowser, ListCancelAndAddInChromium) {
  const std::string browser = FindProgram("chromium-headless-shell");
  const std::string node = FindProgram("node");
  const std::string puppeteer = SourceDir() + "/tests/interop/node_modules/puppeteer-core/package.json";
  if (browser.empty()) GTEST_SKIP() << "chromium-headless-shell is not installed (.ci/install-deps installs it)";
  if (node.empty()) GTEST_SKIP() << "node is not installed (.ci/install-deps installs it)";
  if (!FileExists(puppeteer)) GTEST_SKIP() << "puppeteer-core is not installed in tests/interop (.ci/install-deps)";

  CgiServer server;
  char digest[33];
  httpMD5("alice", "VORN", "secret", digest);
  ASSERT_TRUE(WriteFile(server.s_.root_.file("passwd.md5"), std::string("alice:users:") + digest + "\n", 0600));
  server.Start("<Location /jobs>\nAuthType Digest\nAuthClass User\nOrder deny,allow\n</Location>\n"
               "<Location /admin>\nAuthType Digest\nAuthClass User\nOrder deny,allow\n</Location>\n");
  Reply r = server.s_.Send(IPP_PRINT_JOB, {PrinterUri("lab"), User("alice"), "job-name=42:memo",
                                           server.s_.Document("doc.txt", "hello\n")});
  ASSERT_EQ(r.status, "0x0000") << r.raw;
  const std::string job = r.value(1, "job-id");

  const std::string shots = CGI_SCREENSHOT_DIR;
  std::filesystem::remove_all(shots);
  std::filesystem::create_directories(shots);
  RunResult run = RunProgram({node, SourceDir() + "/tests/commands/cgi/web_browser.mjs",
                              std::to_string(server.s_.root_.port()), shots, browser, job, "alice", "secret"},
                             180s);
  EXPECT_EQ(run.exit_status, 0) << run.out << run.err << server.s_.root_.ErrorLog();
  EXPECT_NE(run.out.find("web interface checked"), std::string::npos);
  // The programs acted for the signed-in user: the scheduler challenged
  // them and took their local certificate as alice's.
  const std::string log = server.s_.root_.ErrorLog();
  EXPECT_NE(log.find("Job " + job + " was cancelled by 'alice'."), std::string::npos) << log;
  EXPECT_NE(log.find("New printer 'webprinter' added by 'alice'."), std::string::npos);
  EXPECT_NE(log.find("New class 'webclass' added by 'alice'."), std::string::npos);
  EXPECT_NE(server.s_.root_.AccessLog().find("localhost - alice ["), std::string::npos);
  EXPECT_EQ(log.find("Sanitizer"), std::string::npos) << log;

  // What the browser did is what the scheduler has.
  EXPECT_EQ(server.s_.JobAttributes(std::stoi(job)).value(1, "job-state"), "7");
  EXPECT_NE(ReadFile(server.s_.root_.file("printers.conf")).find("<Printer webprinter>\nInfo Added \"from\" <the> browser\n"),
            std::string::npos);
  EXPECT_NE(ReadFile(server.s_.root_.file("classes.conf")).find("<Class webclass>\nInfo Both <of> them\n"),
            std::string::npos)
      << ReadFile(server.s_.root_.file("classes.conf"));
  for (const char* png : {"printers.png", "printers-phone.png", "jobs-cancelled.png", "admin-form.png",
                          "admin-added.png", "admin-class-form.png", "admin-class-added.png"}) {
    const std::string bytes = ReadFile(shots + "/" + png);
    EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1a\n") << png;
  }
}

}  // namespace
