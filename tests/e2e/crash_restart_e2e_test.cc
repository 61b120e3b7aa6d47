// A scheduler killed (SIGKILL) while it rewrites its files loses nothing.
//
// The server root holds printers.conf (many stopped printers) and a spool of
// jobs with large control files and their documents. Each round:
//  - every job is armed on disk as held with job-hold-until "no-hold", so
//    the scheduler's first pass over the queue releases and re-saves every
//    control file (SaveJob);
//  - vornd starts; while it is up a client keeps uploading printers.conf
//    (PUT /admin/conf/printers.conf, alternately two versions), each upload
//    replacing the file and reloading printers and jobs;
//  - vornd is killed at a moment chosen by the round: at the k-th write to a
//    control file (seen through inotify), at the k-th write to printers.conf,
//    or after a delay;
//  - what it left on disk is checked: printers.conf is one of the versions,
//    byte for byte; every control file reads back whole with its attributes;
//    every document is unchanged; nothing else looks like a job file.
// The next round's start is the restart: the reply of Get-Jobs and
// VORN-Get-Printers (through the IPP client tests/e2e/query_client.js) must
// list every job and every printer with all their fields. A last restart is
// checked the same way, then stopped cleanly: no temporary file is left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "query_reply.h"
#include "vorn/fd.h"
#include "vorn/ipp.h"

namespace {

using namespace e2e;
using Clock = std::chrono::steady_clock;

constexpr int kPrinters = 240;
constexpr int kJobs = 120;
constexpr int kPayloads = 4;          // large text attributes per job
constexpr size_t kPayloadSize = 4000;
constexpr int kMaxRounds = 15;
constexpr auto kLoopTime = 40s;       // no new round starts after this

constexpr int kGetJobs = 0x000A;
constexpr int kGetPrinters = 0x4002;

std::string PrinterName(int i) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "p%03d", i);
  return buf;
}

std::string ControlName(int id) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "c%05d", id);
  return buf;
}

std::string DataName(int id, int doc) {
  char buf[24];
  std::snprintf(buf, sizeof(buf), "d%05d-%03d", id, doc);
  return buf;
}

// printers.conf in version `rev` ("A" or "B"): the same printers, other
// Info and Location lines.
std::string PrintersConf(char rev) {
  std::string s = "# Printer configuration file for VORN v1.1\n";
  for (int i = 0; i < kPrinters; i++) {
    s += (i == 0 ? "<DefaultPrinter " : "<Printer ") + PrinterName(i) + ">\n";
    s += "Info Printer " + std::to_string(i) + " revision " + rev + " on the " + std::to_string(i % 9) +
         "th floor by the stairs\n";
    s += "Location Building " + std::string(1, rev) + ", room " + std::to_string(100 + i) + "\n";
    s += "DeviceURI socket://printer-" + std::to_string(i) + ".example.org:9100\n";
    s += "State Stopped\nStateMessage Waiting for toner " + std::to_string(i) + "\n";
    s += std::string("Accepting ") + (i % 3 ? "Yes" : "No") + "\n";
    s += "JobSheets none none\nQuotaPeriod " + std::to_string(i * 60) + "\nPageLimit " + std::to_string(i) +
         "\nKLimit " + std::to_string(i * 2) + "\n";
    s += "AllowUser user" + std::to_string(i % 7) + "\nAllowUser staff\n</Printer>\n";
  }
  return s;
}

// What VORN-Get-Printers must say of printer `i` in version `rev`.
std::vector<std::string> PrinterLines(int i, char rev) {
  return {
      "printer-name=" + PrinterName(i),
      "printer-info=Printer " + std::to_string(i) + " revision " + rev + " on the " + std::to_string(i % 9) +
          "th floor by the stairs",
      "printer-location=Building " + std::string(1, rev) + ", room " + std::to_string(100 + i),
      "device-uri=socket://printer-" + std::to_string(i) + ".example.org:9100",
      "printer-state=5",
      "printer-state-message=Waiting for toner " + std::to_string(i),
      std::string("printer-is-accepting-jobs=") + (i % 3 ? "true" : "false"),
      "job-quota-period=" + std::to_string(i * 60),
      "job-page-limit=" + std::to_string(i),
      "job-k-limit=" + std::to_string(i * 2),
      "requesting-user-name-allowed=user" + std::to_string(i % 7) + ",staff",
  };
}

int Priority(int id) { return 1 + (id * 37) % 100; }
int Documents(int id) { return 1 + id % 3; }

std::string Document(int id, int doc) {
  std::string s = "%!PS-Adobe-3.0\n";
  for (int line = 0; s.size() < 2000 + size_t(id % 5) * 300; line++)
    s += "(job " + std::to_string(id) + " document " + std::to_string(doc) + " line " + std::to_string(line) +
         ") show\n";
  return s;
}

// The job's attributes as its control file holds them, with `state`.
ipp_ptr JobAttrs(int id, int state) {
  ipp_ptr ipp(ippNew());
  ipp_t* a = ipp.get();
  ipp->op_status = 0x0002;  // created by Print-Job
  ipp->request_id = id;
  ippAddString(a, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
  ippAddString(a, IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", "", "en");
  ippAddString(a, IPP_TAG_JOB, IPP_TAG_NAME, "job-originating-user-name", "", "user" + std::to_string(id % 7));
  ippAddString(a, IPP_TAG_JOB, IPP_TAG_NAME, "job-originating-host-name", "", "localhost");
  ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", id);
  ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_ENUM, "job-state", state);
  ippAddString(a, IPP_TAG_JOB, IPP_TAG_URI, "job-printer-uri", "",
               "ipp://localhost/printers/" + PrinterName(id % kPrinters));
  ippAddString(a, IPP_TAG_JOB, IPP_TAG_NAME, "job-name", "", "report-" + std::to_string(id));
  ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-priority", Priority(id));
  ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-k-octets", Documents(id) * 3);
  ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "time-at-creation", 1700000000 + id);
  ippAddString(a, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-hold-until", "", "no-hold");
  for (int k = 0; k < kPayloads; k++) {
    std::string text;
    for (size_t n = 0; text.size() < kPayloadSize; n++) text += char('a' + (id * 7 + k * 3 + int(n)) % 26);
    ippAddString(a, IPP_TAG_JOB, IPP_TAG_TEXT, "x-note-" + std::to_string(k), "", text);
  }
  return ipp;
}

// One line per attribute: group, type, name and values. "job-state" is left
// out: a round may find a job still held or already released.
std::vector<std::string> Dump(const ipp_t* ipp) {
  std::vector<std::string> out;
  char head[64];
  std::snprintf(head, sizeof(head), "%d.%d %04x %d", ipp->version[0], ipp->version[1], ipp->op_status,
                ipp->request_id);
  out.push_back(head);
  for (const ipp_attribute_t* a = ipp->attrs; a; a = a->next) {
    if (a->name == "job-state") continue;
    std::string line = std::to_string(a->group_tag) + " " + std::to_string(a->value_tag) + " " + a->name + "=";
    for (const ipp_value_t& v : a->values)
      line += (v.string.text.empty() ? std::to_string(v.integer) : v.string.text) + ",";
    out.push_back(line);
  }
  return out;
}

// What Get-Jobs must say of the job (job-state apart), as query_client.js
// prints it.
std::vector<std::string> JobLines(int id) {
  ipp_ptr ipp = JobAttrs(id, 4);
  std::vector<std::string> out;
  for (const ipp_attribute_t* a = ipp->attrs; a; a = a->next) {
    if (a->group_tag != IPP_TAG_JOB || a->name == "job-state") continue;
    std::string line = a->name + "=";
    for (size_t i = 0; i < a->values.size(); i++) {
      if (i) line += ",";
      line += a->value_tag == IPP_TAG_INTEGER || a->value_tag == IPP_TAG_ENUM ? std::to_string(a->values[i].integer)
                                                                            : a->values[i].string.text;
    }
    out.push_back(line);
  }
  return out;
}

bool WriteJob(const std::string& spool, int id, int state) {
  std::string temp = spool + "/armed.tmp";
  {
    vorn::unique_fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd) return false;
    ipp_ptr ipp = JobAttrs(id, state);
    if (ippWriteFile(fd.get(), ipp.get()) != IPP_DATA) return false;
  }
  return ::rename(temp.c_str(), (spool + "/" + ControlName(id)).c_str()) == 0;
}

// Kills `pid` at the `count`-th IN_MODIFY that `inotify_fd` reports of a
// file whose name starts with `prefix`, or when `deadline` passes. Returns
// whether the count was reached.
bool KillAtWrite(const std::string& prefix, int count, pid_t pid, Clock::time_point deadline, int inotify_fd) {
  int seen = 0;
  alignas(inotify_event) char buf[8192];
  while (Clock::now() < deadline) {
    pollfd p{inotify_fd, POLLIN, 0};
    int left = int(std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count());
    if (::poll(&p, 1, std::max(left, 1)) <= 0) continue;
    ssize_t n = ::read(inotify_fd, buf, sizeof(buf));
    for (ssize_t off = 0; off < n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buf + off);
      off += ssize_t(sizeof(inotify_event) + ev->len);
      if (!(ev->mask & IN_MODIFY) || ev->len == 0 || std::string_view(ev->name).rfind(prefix, 0) != 0) continue;
      if (++seen >= count) {
        ::kill(pid, SIGKILL);
        return true;
      }
    }
  }
  ::kill(pid, SIGKILL);
  return false;
}

class CrashRestart : public ::testing::Test {
 protected:
  void SetUp() override {
    node_ = FindProgram("node");
    ASSERT_FALSE(node_.empty()) << "the node command is needed (.ci/install-deps installs it)";
    conf_a_ = PrintersConf('A');
    conf_b_ = PrintersConf('B');
    root_.WriteConfig("MaxJobs 0\n");
    ASSERT_TRUE(WriteFile(root_.file("printers.conf"), conf_a_, 0600));
    for (int id = 1; id <= kJobs; id++) {
      ASSERT_TRUE(WriteJob(spool(), id, 4));
      for (int d = 1; d <= Documents(id); d++)
        ASSERT_TRUE(WriteFile(spool() + "/" + DataName(id, d), Document(id, d), 0600));
    }
  }

  std::string spool() const { return root_.file("spool"); }

  // The on-disk state a killed scheduler left.
  void CheckDisk(const std::string& when) {
    SCOPED_TRACE(when);
    const std::string conf = ReadFile(root_.file("printers.conf"));
    EXPECT_TRUE(conf == conf_a_ || conf == conf_b_)
        << "printers.conf is neither version: " << conf.size() << " bytes, ends with \""
        << conf.substr(conf.size() - std::min<size_t>(conf.size(), 80)) << "\"";
    for (int id = 1; id <= kJobs; id++) {
      const std::string path = spool() + "/" + ControlName(id);
      vorn::unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
      ASSERT_TRUE(fd) << path << " is gone";
      ipp_ptr got(ippNew());
      ASSERT_EQ(ippReadFile(fd.get(), got.get()), IPP_DATA) << path << " is torn";
      const ipp_attribute_t* state = ippFindAttribute(got.get(), "job-state", IPP_TAG_ENUM);
      ASSERT_TRUE(state && state->values.size() == 1) << path;
      EXPECT_TRUE(state->values[0].integer == 3 || state->values[0].integer == 4) << path;
      EXPECT_EQ(Dump(got.get()), Dump(JobAttrs(id, 4).get())) << path;
      for (int d = 1; d <= Documents(id); d++)
        EXPECT_EQ(ReadFile(spool() + "/" + DataName(id, d)), Document(id, d)) << id << "/" << d;
    }
    // Only the jobs' files, what a save in progress leaves beside them, and
    // the temporary directory.
    std::set<std::string> allowed = {"tmp"};
    for (int id = 1; id <= kJobs; id++) {
      for (const char* suffix : {"", ".N", ".O"}) allowed.insert(ControlName(id) + suffix);
      for (int d = 1; d <= Documents(id); d++) allowed.insert(DataName(id, d));
    }
    for (const auto& entry : std::filesystem::directory_iterator(spool())) {
      const std::string name = entry.path().filename();
      // Request bodies the HTTP service was receiving ("%08x") are not jobs.
      const bool request_file = name.size() == 8 && name.find_first_not_of("0123456789abcdef") == std::string::npos;
      // A save's own temporary name: "c%05d.N.XXXXXX".
      const size_t temp = name.rfind(".N.");
      const bool save_temp = temp != std::string::npos && name.size() - temp == 9 && allowed.count(name.substr(0, temp));
      const bool ours = allowed.count(name) || request_file || save_temp;
      EXPECT_TRUE(ours) << "stray file " << name;
    }
  }

  // The restarted scheduler's view: every job in queue order with its fields,
  // no finished job, every printer of one version with its fields.
  void CheckServer(const std::string& when) {
    SCOPED_TRACE(when);
    Reply jobs = RunQuery(node_, root_.port(), kGetJobs, {"printer-uri=45:ipp://localhost/jobs"});
    ASSERT_EQ(jobs.status, "0x0000") << jobs.raw.substr(0, 200);
    std::vector<int> order(kJobs);
    for (int i = 0; i < kJobs; i++) order[size_t(i)] = i + 1;
    std::stable_sort(order.begin(), order.end(), [](int x, int y) { return Priority(x) > Priority(y); });
    ASSERT_EQ(jobs.groups.size(), size_t(kJobs) + 1);
    for (size_t g = 1; g < jobs.groups.size(); g++) {
      const int id = order[g - 1];
      SCOPED_TRACE("job " + std::to_string(id));
      const std::vector<std::string>& lines = jobs.groups[g];
      for (const std::string& want : JobLines(id))
        EXPECT_NE(std::find(lines.begin(), lines.end(), want), lines.end()) << want.substr(0, 60);
      const std::string state = jobs.value(g, "job-state");
      EXPECT_TRUE(state == "3" || state == "4") << state;
    }
    Reply done = RunQuery(node_, root_.port(), kGetJobs,
                          {"printer-uri=45:ipp://localhost/jobs", "which-jobs=44:completed"});
    EXPECT_EQ(done.groups.size(), 1u) << done.raw.substr(0, 300);

    Reply printers = RunQuery(node_, root_.port(), kGetPrinters, {});
    ASSERT_EQ(printers.status, "0x0000");
    ASSERT_EQ(printers.groups.size(), size_t(kPrinters) + 1);
    const char rev = printers.value(1, "printer-location").find("Building B") == 0 ? 'B' : 'A';
    for (int i = 0; i < kPrinters; i++) {
      const std::vector<std::string>& lines = printers.groups[size_t(i) + 1];
      for (const std::string& want : PrinterLines(i, rev))
        EXPECT_NE(std::find(lines.begin(), lines.end(), want), lines.end()) << want;
    }
  }

  std::string node_;
  std::string conf_a_, conf_b_;
  ServerRoot root_;
};

// Uploads printers.conf, alternately version B and A, until told to stop.
void UploadLoop(const ServerRoot& root, const std::string& a, const std::string& b, std::atomic<bool>& stop,
                Clock::time_point deadline) {
  const int port = root.port();
  for (int n = 0; n < 500 && !stop && Clock::now() < deadline; n++) {
    const std::string& body = n % 2 ? a : b;
    RawHttp http(port);
    if (!http.connected()) {
      std::this_thread::sleep_for(20ms);
      continue;
    }
    // As root, with the certificate of the scheduler running now.
    http.Exchange("PUT /admin/conf/printers.conf HTTP/1.1\r\nHost: localhost\r\n" + root.RootAuthorization() +
                      "Content-Length: " +
                      std::to_string(body.size()) + "\r\n\r\n" + body,
                  3s);
  }
}

TEST_F(CrashRestart, KilledWhileWritingLosesNothing) {
  const auto loop_end = Clock::now() + kLoopTime;
  int rounds = 0, hit = 0;
  for (int r = 0; r < kMaxRounds && Clock::now() < loop_end; r++, rounds++) {
    SCOPED_TRACE("round " + std::to_string(r));
    const int mode = r % 3;  // 0: at a control file write, 1: at a printers.conf write, 2: after a delay
    const std::string watched = mode == 0 ? spool() : root_.path();
    vorn::unique_fd ino(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    ASSERT_TRUE(ino);
    ASSERT_GE(::inotify_add_watch(ino.get(), watched.c_str(), IN_MODIFY), 0);

    auto vornd = std::make_unique<Vornd>(root_);
    ASSERT_TRUE(vornd->Start({"-f", "-c", root_.conf_path()}));
    const pid_t pid = vornd->pid();
    std::atomic<bool> killed_at_write{false};
    std::thread killer;
    if (mode != 2) {
      // inotify merges the events of one write burst, so a job's save may
      // count once: the counts stay within the first half of the jobs.
      const int count = mode == 0 ? 1 + (r * 29) % (kJobs / 2) : 1 + (r * 13) % 60;
      const std::string prefix = mode == 0 ? "c" : "printers.conf";
      killer = std::thread([&, count, prefix] {
        killed_at_write = KillAtWrite(prefix, count, pid, Clock::now() + 8s, ino.get());
      });
    }

    // The restart: whatever the last round left must load whole. A kill at
    // a control file write may come first; then the next round checks.
    const bool up = vornd->WaitListening(root_.port(), kWait);
    if (mode != 0) {
      if (up) CheckServer("after restart " + std::to_string(r));
      if (!up || HasFatalFailure()) {
        ::kill(pid, SIGKILL);
        if (killer.joinable()) killer.join();
        ASSERT_TRUE(up) << vornd->Stderr();
        return;
      }
    }

    std::atomic<bool> stop{false};
    std::thread uploader(UploadLoop, std::cref(root_), std::cref(conf_a_), std::cref(conf_b_), std::ref(stop),
                         Clock::now() + 10s);
    if (mode == 2) {
      std::this_thread::sleep_for(milliseconds((r * 211) % 1200));
      ::kill(pid, SIGKILL);
    } else {
      killer.join();
      if (killed_at_write) hit++;
    }
    EXPECT_NE(vornd->Wait(), -1);
    stop = true;
    uploader.join();
    vornd.reset();

    CheckDisk("after kill " + std::to_string(r));
    if (HasFatalFailure()) return;
    for (int id = 1; id <= kJobs; id++) ASSERT_TRUE(WriteJob(spool(), id, 4));
  }
  // Not a figure to reach, only a sign that kills did land in writes.
  EXPECT_GT(hit, 0) << "no kill came during a write in " << rounds << " rounds";

  Vornd last(root_);
  ASSERT_TRUE(last.StartForeground()) << last.Stderr();
  CheckServer("after the last restart");
  const int status = last.Stop(20s);
  EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  for (const auto& entry : std::filesystem::directory_iterator(spool())) {
    const std::string name = entry.path().filename();
    EXPECT_FALSE(name.ends_with(".N") || name.ends_with(".O") || name.find(".N.") != std::string::npos)
        << "left over: " << name;
  }
}

}  // namespace
