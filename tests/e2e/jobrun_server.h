// The fixture of the end-to-end tests that run jobs in a real vornd: a
// server root whose ServerBin holds shell-script filters and a backend
// (tests/fixtures/jobrun/), printers.conf and pending jobs written before
// the start, and IPP queries (tests/e2e/query_client.js) to read back.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "query_reply.h"
#include "vorn/fd.h"
#include "vorn/ipp.h"

namespace e2e {

inline constexpr int kGetJobAttributes = 0x0009;
inline constexpr int kGetPrinterAttributes = 0x000B;

inline std::string Fixture(const std::string& name) { return SourceDir() + "/tests/fixtures/jobrun/" + name; }

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

  // The shipped type database and built programs (built path, path in the
  // server root), for jobs through the real filter chain.
  void InstallChain(const std::vector<std::pair<std::string, std::string>>& programs) {
    ASSERT_TRUE(root_.InstallDataFile("vorn.types"));
    ASSERT_TRUE(root_.InstallDataFile("vorn.convs"));
    InstallPrograms(programs);
  }
  void InstallPrograms(const std::vector<std::pair<std::string, std::string>>& programs) {
    for (const auto& [from, to] : programs) {
      ASSERT_TRUE(WriteFile(root_.file(to), ReadFile(from), 0755)) << to;
      ::chmod(root_.file(to).c_str(), 0755);
    }
  }

  // File devices are allowed: several tests print to files.
  void Configure(const std::string& extra) {
    root_.WriteConfig("LogLevel debug2\nPreserveJobHistory Yes\nFileDevice On\n" + extra);
  }

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
inline std::string Record(int id, const std::string& device, const std::string& printer, const std::string& data) {
  return "call 5|" + std::to_string(id) + "|ann|doc-" + std::to_string(id) +
         "|2|sides=two-sided-long-edge|" + device + "|" + printer + "|utf-8|fr_CA\n" + data + "end\n";
}

}  // namespace e2e
