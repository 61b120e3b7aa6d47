// Running jobs in a real vornd: jobs are put in the spool directory as
// control and data files before the start, the printers come from a
// printers.conf written here, and ServerBin holds shell-script filters and a
// backend (tests/fixtures/jobrun/) that check their calling convention and
// write status lines. Effects are read back through the output files, the
// logs, printers.conf and IPP queries (tests/e2e/query_client.js).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "jobrun_server.h"

namespace {

using namespace e2e;

TEST_F(JobRun, TwoFiltersWriteToAFileDevice) {
  const std::string out = root_.file("file.out");
  Printers({{"filep", "file:" + out}});
  Job(1, "filep", {"JR: hello\nworld\n"});
  Start();
  ASSERT_TRUE(WaitForJobState(1, "9")) << root_.ErrorLog();
  EXPECT_EQ(ReadFile(out), "> JR: HELLO\n> WORLD\n");
  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string log = root_.ErrorLog();
  EXPECT_NE(log.find("Started filter " + root_.file("bin/filter/upper")), std::string::npos);
  EXPECT_NE(log.find("Started filter " + root_.file("bin/filter/quote")), std::string::npos);
  EXPECT_EQ(log.find("Started backend"), std::string::npos);
  EXPECT_NE(log.find("[Job 1] upper 1 ann doc-1"), std::string::npos);  // DEBUG: from the filter
}

TEST_F(JobRun, TheBackendGetsTheLastFiltersOutputAndReportsPagesAndState) {
  Printers({{"laser", "test://dev/q"}});
  Job(1, "laser", {"JR: one\n"});
  Start();
  ASSERT_TRUE(WaitForJobState(1, "9")) << root_.ErrorLog();
  EXPECT_EQ(BackendOut(), Record(1, "test://dev/q", "laser", "> JR: ONE\n"));

  Reply job = JobAttrs(1);
  EXPECT_EQ(job.value(1, "job-media-sheets-completed"), "4") << job.raw;
  std::string pages = ReadFile(root_.file("logs/page_log"));
  EXPECT_NE(pages.find("laser ann 1 ["), std::string::npos) << pages;
  EXPECT_NE(pages.find("] 1 1 - ws1\n"), std::string::npos) << pages;
  EXPECT_NE(pages.find("] 2 3 - ws1\n"), std::string::npos) << pages;

  Reply printer = PrinterAttrs("laser");
  EXPECT_EQ(printer.value(1, "printer-state"), "3") << printer.raw;
  EXPECT_EQ(printer.value(1, "printer-state-message"), "sent job 1");
  EXPECT_EQ(printer.value(1, "printer-state-reasons"), "jobrun-ok");
  // INFO: lines reach the log at debug2.
  EXPECT_NE(root_.ErrorLog().find("[Job 1] sent job 1"), std::string::npos);
}

TEST_F(JobRun, EveryDocumentOfAJobIsPrinted) {
  const std::string out = root_.file("file.out");
  Printers({{"filep", "file:" + out}, {"laser", "test://dev/q"}});
  Job(1, "filep", {"JR: first\n", "JR: second\n", "JR: third\n"});
  Job(2, "laser", {"JR: a\n", "JR: b\n"});
  Start();
  ASSERT_TRUE(WaitForJobState(1, "9")) << root_.ErrorLog();
  ASSERT_TRUE(WaitForJobState(2, "9")) << root_.ErrorLog();
  EXPECT_EQ(ReadFile(out), "> JR: FIRST\n> JR: SECOND\n> JR: THIRD\n");
  EXPECT_EQ(BackendOut(), Record(2, "test://dev/q", "laser", "> JR: A\n") +
                              Record(2, "test://dev/q", "laser", "> JR: B\n"));
  EXPECT_EQ(JobAttrs(2).value(1, "job-media-sheets-completed"), "8");
}

TEST_F(JobRun, AFailingBackendStopsThePrinterAndKeepsTheJob) {
  Printers({{"laser", "test://dev/q"}});
  Job(1, "laser", {"JR: one\n"});
  ASSERT_TRUE(WriteFile(root_.file("backend-fail"), ""));
  Start();
  ASSERT_TRUE(WaitUntil([&] { return PrinterAttrs("laser").value(1, "printer-state") == "5"; }, kWait))
      << root_.ErrorLog();
  Reply printer = PrinterAttrs("laser");
  EXPECT_EQ(printer.value(1, "printer-state-message"), "device unplugged") << printer.raw;
  EXPECT_EQ(JobState(1), "3");
  EXPECT_TRUE(root_.WaitForLog("[Job 1] device unplugged"));
  EXPECT_TRUE(FileExists(root_.file("spool/d00001-001")));

  // The stop is saved with the printer's message.
  ASSERT_EQ(vornd_.Stop(), 0);
  const std::string conf = ReadFile(root_.file("printers.conf"));
  EXPECT_NE(conf.find("State Stopped\nStateMessage device unplugged\n"), std::string::npos) << conf;
}

// The daemon ends while the backend waits; after a restart the job prints,
// exactly once.
TEST_F(JobRun, AJobStoppedBySigtermPrintsAfterTheRestart) {
  Printers({{"laser", "test://dev/q"}});
  Job(1, "laser", {"JR: one\n"});
  ASSERT_TRUE(WriteFile(root_.file("backend-hold"), ""));
  Start();
  ASSERT_TRUE(root_.WaitForLog("Started backend ")) << root_.ErrorLog();
  ASSERT_EQ(vornd_.Stop(), 0);
  EXPECT_TRUE(root_.WaitForLog("StopJob: id = 1, force = 1"));
  // Killed with the daemon: nothing reached the device.
  EXPECT_EQ(BackendOut(), "");

  std::filesystem::remove(root_.file("backend-hold"));
  Vornd again(root_);
  ASSERT_TRUE(again.StartForeground()) << again.Stderr();
  ASSERT_TRUE(WaitForJobState(1, "9")) << root_.ErrorLog();
  EXPECT_EQ(BackendOut(), Record(1, "test://dev/q", "laser", "> JR: ONE\n"));
}

TEST_F(JobRun, AJobCutBySigkillIsNotLostAndPrintsAfterTheRestart) {
  Printers({{"laser", "test://dev/q"}});
  Job(1, "laser", {"JR: one\n"});
  ASSERT_TRUE(WriteFile(root_.file("backend-hold"), ""));
  Start();
  ASSERT_TRUE(root_.WaitForLog("Started backend ")) << root_.ErrorLog();
  pid_t backend = BackendPid(1);
  ASSERT_GT(backend, 0);
  vornd_.Signal(SIGKILL);
  vornd_.Wait();
  // The device goes with the crashed scheduler's processes.
  ::kill(backend, SIGKILL);
  EXPECT_TRUE(FileExists(root_.file("spool/c00001")));
  EXPECT_TRUE(FileExists(root_.file("spool/d00001-001")));

  std::filesystem::remove(root_.file("backend-hold"));
  Vornd again(root_);
  ASSERT_TRUE(again.StartForeground()) << again.Stderr();
  ASSERT_TRUE(WaitForJobState(1, "9")) << root_.ErrorLog();
  EXPECT_EQ(BackendOut(), Record(1, "test://dev/q", "laser", "> JR: ONE\n"));
}

TEST_F(JobRun, FilterLimitHoldsAJobUntilTheRunningOneEnds) {
  // Each job costs 10 (upper); two at once would exceed 15.
  Configure("FilterLimit 15\n");
  Printers({{"laser", "test://dev/q"}, {"other", "test://dev/other"}});
  Job(1, "laser", {"JR: one\n"});
  Job(2, "other", {"JR: two\n"});
  ASSERT_TRUE(WriteFile(root_.file("backend-hold"), ""));
  Start();
  ASSERT_TRUE(root_.WaitForLog("Holding job 2 because filter limit has been reached.")) << root_.ErrorLog();
  EXPECT_EQ(JobState(1), "5");
  EXPECT_EQ(JobState(2), "3");

  std::filesystem::remove(root_.file("backend-hold"));
  ASSERT_TRUE(WaitForJobState(2, "9")) << root_.ErrorLog();
  EXPECT_EQ(JobState(1), "9");
  EXPECT_EQ(BackendOut(), Record(1, "test://dev/q", "laser", "> JR: ONE\n") +
                              Record(2, "test://dev/other", "other", "> JR: TWO\n"));
}

}  // namespace
