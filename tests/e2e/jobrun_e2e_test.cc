// Running jobs in a real vornd: jobs are put in the spool directory as
// control and data files before the start, the printers come from a
// printers.conf written here, and ServerBin holds shell-script filters and a
// backend (tests/fixtures/jobrun/) that check their calling convention and
// write status lines. Effects are read back through the output files, the
// logs, printers.conf and IPP queries (tests/e2e/query_client.js).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "query_reply.h"
#include "vorn/fd.h"
#include "vorn/ipp.h"

namespace {

using namespace e2e;

constexpr int kGetJobAttributes = 0x0009;
constexpr int kGetPrinterAttributes = 0x000B;

std::string Fixture(const std::string& name) { return SourceDir() + "/tests/fixtures/jobrun/" + name; }

struct PrinterSpec {
  const char* name;
  std::string device;
  bool ppd = true;  // with the test PPD: upper | quote
};

class JobRun : public ::testing::Test {
 protected:
  void SetUp() override {
    node_ = FindProgram("node");
    ASSERT_FALSE(node_.empty()) << "the node command is needed (.ci/install-deps installs it)";
    std::filesystem::create_directories(root_.file("bin/filter"));
    std::filesystem::create_directories(root_.file("bin/backend"));
    std::filesystem::create_directories(root_.file("ppd"));
    Install("upper.sh", "bin/filter/upper", 0755);
    Install("quote.sh", "bin/filter/quote", 0755);
    Install("backend.sh", "bin/backend/test", 0755);
    Install("jobrun.types", "jobrun.types", 0644);
    Install("jobrun.convs", "jobrun.convs", 0644);
    Configure("");
  }

  void Install(const std::string& fixture, const std::string& to, mode_t mode) {
    ASSERT_TRUE(WriteFile(root_.file(to), ReadFile(Fixture(fixture)), mode)) << to;
    ::chmod(root_.file(to).c_str(), mode);
  }

  void Configure(const std::string& extra) { root_.WriteConfig("LogLevel debug2\nPreserveJobHistory Yes\n" + extra); }

  void Printers(const std::vector<PrinterSpec>& printers) {
    std::string conf;
    for (const PrinterSpec& p : printers) {
      conf += std::string("<Printer ") + p.name + ">\nDeviceURI " + p.device + "\nState Idle\nAccepting Yes\n</Printer>\n";
      if (p.ppd) Install("jobrun.ppd", std::string("ppd/") + p.name + ".ppd", 0644);
    }
    ASSERT_TRUE(WriteFile(root_.file("printers.conf"), conf));
  }

  // A pending job as the scheduler saves one, with its documents.
  void Job(int id, const std::string& printer, const std::vector<std::string>& docs) {
    char name[32];
    for (size_t i = 0; i < docs.size(); i++) {
      std::snprintf(name, sizeof(name), "spool/d%05d-%03d", id, int(i + 1));
      ASSERT_TRUE(WriteFile(root_.file(name), docs[i], 0600));
    }
    std::snprintf(name, sizeof(name), "spool/c%05d", id);
    vorn::unique_fd fd(::open(root_.file(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    ASSERT_TRUE(fd);
    ipp_ptr ipp(ippNew());
    ipp_t* a = ipp.get();
    ippAddString(a, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
    ippAddString(a, IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", "", "fr-ca");
    ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-priority", 50);
    ippAddString(a, IPP_TAG_JOB, IPP_TAG_NAME, "job-originating-user-name", "", "ann");
    ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_ENUM, "job-state", 3);
    ippAddString(a, IPP_TAG_JOB, IPP_TAG_URI, "job-printer-uri", "", "ipp://localhost/printers/" + printer);
    ippAddString(a, IPP_TAG_JOB, IPP_TAG_NAME, "job-name", "", "doc-" + std::to_string(id));
    ippAddString(a, IPP_TAG_JOB, IPP_TAG_NAME, "job-originating-host-name", "", "ws1");
    ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-media-sheets-completed", 0);
    ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", 2);
    ippAddString(a, IPP_TAG_JOB, IPP_TAG_KEYWORD, "sides", "", "two-sided-long-edge");
    ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "time-at-creation", 1);
    ippAddOutOfBand(a, IPP_TAG_JOB, IPP_TAG_NOVALUE, "time-at-processing");
    ippAddOutOfBand(a, IPP_TAG_JOB, IPP_TAG_NOVALUE, "time-at-completed");
    ASSERT_EQ(ippWriteFile(fd.get(), a), IPP_DATA);
  }

  void Start() { ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr(); }

  Reply Query(int op, const std::vector<std::string>& attrs) { return RunQuery(node_, root_.port(), op, attrs); }
  Reply PrinterAttrs(const std::string& name) {
    return Query(kGetPrinterAttributes, {"printer-uri=45:ipp://localhost/printers/" + name});
  }
  Reply JobAttrs(int id) { return Query(kGetJobAttributes, {"job-uri=45:ipp://localhost/jobs/" + std::to_string(id)}); }
  std::string JobState(int id) { return JobAttrs(id).value(1, "job-state"); }

  bool WaitForJobState(int id, const std::string& state, milliseconds timeout = 20s) {
    return WaitUntil([&] { return JobState(id) == state; }, timeout);
  }

  std::string BackendOut() const { return ReadFile(root_.file("backend.out")); }

  // The backend's PID from "Started backend ... (PID n) for job <id>.".
  pid_t BackendPid(int id) const {
    std::string log = root_.ErrorLog();
    std::string tail = ") for job " + std::to_string(id) + ".";
    size_t at = log.find("Started backend ");
    while (at != std::string::npos) {
      size_t end = log.find('\n', at);
      std::string line = log.substr(at, end - at);
      size_t pid_at = line.find("(PID ");
      if (pid_at != std::string::npos && line.size() >= tail.size() &&
          line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
        return pid_t(std::atoi(line.c_str() + pid_at + 5));
      at = log.find("Started backend ", end);
    }
    return -1;
  }

  std::string node_;
  ServerRoot root_;
  Vornd vornd_{root_};
};

// The backend's record of one document: the call line, the data, "end".
std::string Record(int id, const std::string& device, const std::string& printer, const std::string& data) {
  return "call 5|" + std::to_string(id) + "|ann|doc-" + std::to_string(id) +
         "|2|sides=two-sided-long-edge|" + device + "|" + printer + "|utf-8|fr_CA\n" + data + "end\n";
}

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
