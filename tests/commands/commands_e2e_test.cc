// submit and enqueue against a real vornd: the jobs they create, read back
// with Get-Job-Attributes and from the spool, and the scheduler's refusals as
// the commands report them. The queues are stopped so the jobs stay queued.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <thread>
#include <string>
#include <vector>

#include "commands_fixture.h"
#include "listening_printer.h"
#include "vorn/fd.h"
#include "vorn/http.h"
#include "vorn/request.h"

namespace {

using namespace commands;

constexpr const char* kPrinters =
    "<DefaultPrinter laser>\nState Stopped\nAccepting Yes\n</Printer>\n"
    "<Printer inkjet>\nState Stopped\nAccepting Yes\n</Printer>\n";

// Saved options of an instance; its copies must never beat a -n or -#.
constexpr const char* kUserDests = "Dest laser/duplex sides=two-sided-long-edge copies=2 job-priority=30\n";

// Sends an IPP request with the usual envelope plus `attrs` to the server on
// `port`; the response or null.
ipp_ptr Ask(int port, ipp_op_t op, const std::vector<std::pair<std::string, std::string>>& uris) {
  vorn::http_ptr http(httpConnect("127.0.0.1", port));
  if (!http) return nullptr;
  ipp_t* request = ippNew();
  request->op_status = uint16_t(op);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", "", "en");
  for (const auto& [name, value] : uris) ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, name, "", value);
  return ipp_ptr(vornDoFileRequest(http.get(), request, "/jobs", nullptr));
}

// The job attributes of job `id`, as text by name.
std::map<std::string, std::string> JobAttributes(int port, int id) {
  std::map<std::string, std::string> out;
  ipp_ptr response = Ask(port, IPP_GET_JOB_ATTRIBUTES, {{"job-uri", "ipp://localhost/jobs/" + std::to_string(id)}});
  if (!response || response->op_status > IPP_OK_CONFLICT) return out;
  for (ipp_attribute_t* a = response->attrs; a; a = a->next)
    if (a->group_tag == IPP_TAG_JOB) out[a->name] = ValueText(a);
  return out;
}

// The highest job id the scheduler lists (0 when none).
int LastJobId(int port) {
  ipp_ptr response = Ask(port, IPP_GET_JOBS, {{"printer-uri", "ipp://localhost/jobs"}});
  int last = 0;
  if (!response) return last;
  for (ipp_attribute_t* a = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER); a;
       a = ippFindNextAttribute(response.get(), "job-id", IPP_TAG_INTEGER))
    last = std::max(last, a->values.at(0).integer);
  return last;
}

// The job id of a "request id is DEST-N (F file(s))" line for `dest` and
// `files`; 0 when the line is not that.
int RequestId(const std::string& out, const std::string& dest, int files) {
  const std::string head = "request id is " + dest + "-";
  const std::string tail = " (" + std::to_string(files) + " file(s))\n";
  if (out.rfind(head, 0) != 0 || out.size() < head.size() + tail.size() ||
      out.compare(out.size() - tail.size(), tail.size(), tail) != 0)
    return 0;
  const std::string number = out.substr(head.size(), out.size() - head.size() - tail.size());
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return 0;
  return std::stoi(number);
}

class SubmitE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.InstallDataFile("vorn.types"));
    ASSERT_TRUE(root_.InstallDataFile("vorn.convs"));
    root_.WriteConfig("LogLevel debug\n");
    ASSERT_TRUE(WriteFile(root_.file("printers.conf"), printers_));
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
    env_.set_port(root_.port());
    env_.WriteUserDests(kUserDests);
    report_ = env_.MakeFile("report.txt", "Quarterly report\n");
  }

  // The document files of job `id` in the spool, in order.
  std::vector<std::string> Documents(int id) const {
    std::vector<std::string> docs;
    for (int n = 1; n <= 10; n++) {
      char name[32];
      std::snprintf(name, sizeof(name), "spool/d%05d-%03d", id, n);
      if (!FileExists(root_.file(name))) break;
      docs.push_back(ReadFile(root_.file(name)));
    }
    return docs;
  }

  int port() const { return root_.port(); }

  std::string printers_ = kPrinters;
  ServerRoot root_;
  Vornd vornd_{root_};
  CommandEnv env_;
  std::string report_;
};

using Attrs = std::map<std::string, std::string>;

TEST_F(SubmitE2E, SubmitCreatesTheJobItsFlagsDescribe) {
  const struct {
    std::vector<std::string> args;  // "FILE" stands for report.txt
    const char* dest;               // in the request id line
    Attrs attrs;                    // job attributes that must have these values
    std::vector<std::string> absent;
  } cases[] = {
      {{"-n", "3", "-d", "laser/duplex", "FILE"},
       "laser",
       {{"copies", "3"}, {"sides", "two-sided-long-edge"}, {"job-priority", "30"}, {"job-name", "report.txt"}},
       {}},
      {{"-d", "inkjet", "-t", "Quarterly", "-o", "media=A4 number-up=2", "-P", "2-4", "-q", "70", "FILE"},
       "inkjet",
       {{"job-name", "Quarterly"}, {"media", "A4"}, {"number-up", "2"}, {"page-ranges", "2-4"},
        {"job-priority", "70"}},
       {"sides"}},
      {{"-dinkjet", "-H", "hold", "FILE"}, "inkjet", {{"job-hold-until", "indefinite"}, {"job-state", "4"}}, {}},
      {{"-d", "inkjet", "-H", "immediate", "FILE"}, "inkjet", {{"job-priority", "100"}}, {}},
      {{"-d", "inkjet", "-p", "1", "-H", "resume", "FILE"}, "inkjet", {{"job-priority", "1"}, {"job-state", "3"}}, {}},
      // no -d: the scheduler's default destination, without the instance's options
      {{"FILE"}, "laser", {{"job-name", "report.txt"}}, {"sides"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    for (std::string& a : args)
      if (a == "FILE") a = report_;
    SCOPED_TRACE(args.front() + " " + c.dest);
    const size_t logged = root_.AccessLog().size();
    RunResult r = env_.Submit(args);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    int id = RequestId(r.out, c.dest, 1);
    ASSERT_GT(id, 0) << r.out;
    // A named destination's saved options are all in the files: only the
    // default destination needs the server's list (printers, classes,
    // default), asked before the job is sent.
    const bool named = std::any_of(args.begin(), args.end(), [](const std::string& a) { return a.starts_with("-d"); });
    const std::string requests = root_.AccessLog().substr(logged);
    size_t list_requests = 0;
    for (size_t at = 0; (at = requests.find("\"POST / HTTP/1.1\"", at)) != std::string::npos; at++) list_requests++;
    EXPECT_EQ(list_requests, named ? 0u : 3u) << requests;
    Attrs attrs = JobAttributes(port(), id);
    for (const auto& [name, value] : c.attrs) EXPECT_EQ(attrs[name], value) << name;
    for (const std::string& name : c.absent) EXPECT_EQ(attrs.count(name), 0u) << name;
    EXPECT_EQ(attrs["job-printer-uri"].substr(attrs["job-printer-uri"].rfind('/') + 1), c.dest);
    EXPECT_EQ(Documents(id), std::vector<std::string>{"Quarterly report\n"});
  }
}

TEST_F(SubmitE2E, SeveralFilesAndStandardInput) {
  std::string second = env_.MakeFile("second.txt", "page two\n");
  std::string third = env_.MakeFile("third.txt", "page three\n");

  RunResult r = env_.Submit({"-d", "inkjet", report_, second, third});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  int id = RequestId(r.out, "inkjet", 3);
  ASSERT_GT(id, 0) << r.out;
  EXPECT_EQ(JobAttributes(port(), id)["job-name"], "report.txt");
  EXPECT_EQ(Documents(id), (std::vector<std::string>{"Quarterly report\n", "page two\n", "page three\n"}));

  // Standard input: everything after "-" is left unread, so report.txt is not
  // printed; the temporary copy is gone afterwards.
  r = env_.Submit({"-d", "inkjet", "-t", "T", "-", report_}, "from standard input\n");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  id = RequestId(r.out, "inkjet", 1);
  ASSERT_GT(id, 0) << r.out;
  EXPECT_EQ(JobAttributes(port(), id)["job-name"], "T");
  EXPECT_EQ(Documents(id), std::vector<std::string>{"from standard input\n"});
  EXPECT_TRUE(ListDir(env_.tmp()).empty());

  // Without a title standard input is "(stdin)"; a large input arrives whole.
  std::string big;
  for (int i = 0; big.size() < 100000; i++) big += "line " + std::to_string(i) + "\n";
  r = env_.Submit({"-d", "inkjet"}, big);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  id = RequestId(r.out, "inkjet", 1);
  ASSERT_GT(id, 0) << r.out;
  EXPECT_EQ(JobAttributes(port(), id)["job-name"], "(stdin)");
  EXPECT_EQ(Documents(id), std::vector<std::string>{big});
  EXPECT_TRUE(ListDir(env_.tmp()).empty());

  // -s: the job is made, nothing is written.
  r = env_.Submit({"-s", "-d", "inkjet", report_});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(LastJobId(port()), id + 1);
}

TEST_F(SubmitE2E, EnqueueCreatesTheJobItsFlagsDescribe) {
  const struct {
    std::vector<std::string> args;
    Attrs attrs;
  } cases[] = {
      {{"-P", "inkjet", "-#", "2", "-J", "Banner", "-h", "-q", "FILE"},
       {{"copies", "2"}, {"job-name", "Banner"}, {"job-sheets", "none"}, {"job-hold-until", "indefinite"}}},
      {{"-Plaser/duplex", "FILE"}, {{"copies", "2"}, {"sides", "two-sided-long-edge"}, {"job-name", "report.txt"}}},
      {{"-#5", "-P", "laser/duplex", "-T", "Tee", "FILE"}, {{"copies", "5"}, {"job-name", "Tee"}}},
      {{"-U", "ann", "-C", "Cee", "-P", "inkjet", "FILE"}, {{"job-originating-user-name", "ann"}, {"job-name", "Cee"}}},
      {{"FILE"}, {{"job-name", "report.txt"}}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    for (std::string& a : args)
      if (a == "FILE") a = report_;
    SCOPED_TRACE(args.front());
    int before = LastJobId(port());
    RunResult r = env_.Enqueue(args);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    int id = LastJobId(port());
    ASSERT_EQ(id, before + 1);
    Attrs attrs = JobAttributes(port(), id);
    for (const auto& [name, value] : c.attrs) EXPECT_EQ(attrs[name], value) << name;
    EXPECT_EQ(Documents(id), std::vector<std::string>{"Quarterly report\n"});
  }

  RunResult r = env_.Enqueue({"-P", "inkjet"}, "piped\n");
  EXPECT_EQ(r.exit_status, 0) << r.err;
  int id = LastJobId(port());
  EXPECT_EQ(JobAttributes(port(), id)["job-name"], "(stdin)");
  EXPECT_EQ(Documents(id), std::vector<std::string>{"piped\n"});
  EXPECT_TRUE(ListDir(env_.tmp()).empty());
}

// -r: the files go once the scheduler has the job, and stay when it refused.
TEST_F(SubmitE2E, EnqueueRemovesFilesAfterSubmission) {
  std::string a = env_.MakeFile("a.txt", "first\n"), b = env_.MakeFile("b.txt", "second\n");
  RunResult r = env_.Enqueue({"-r", "-P", "nosuch", a, b});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err.rfind("enqueue: unable to print file: client-error-", 0), 0u) << r.err;
  EXPECT_TRUE(FileExists(a));
  EXPECT_TRUE(FileExists(b));

  r = env_.Enqueue({"-r", "-P", "inkjet", a, b});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_FALSE(FileExists(a));
  EXPECT_FALSE(FileExists(b));
  EXPECT_EQ(Documents(LastJobId(port())), (std::vector<std::string>{"first\n", "second\n"}));
}

// What the scheduler refuses comes back as "unable to print file" with the
// status's name, and no job is left behind.
TEST_F(SubmitE2E, RefusalsAreReported) {
  const struct {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{"-d", "nosuch", "FILE"}, "submit: unable to print file: client-error-not-found\n"},
      {{"-d", "nosuch/duplex", "FILE"}, "submit: unable to print file: client-error-not-found\n"},
      {{"-d", "inkjet", "-n", "0", "FILE"}, "submit: unable to print file: client-error-bad-request\n"},
      {{"-d", "inkjet", "-n", "many", "FILE"}, "submit: unable to print file: client-error-bad-request\n"},
      {{"-d", "inkjet", "-P", "5-2", "FILE"}, "submit: unable to print file: client-error-bad-request\n"},
      {{"-d", "inkjet", "FILES"}, "submit: unable to print file: client-error-document-access-error\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    for (std::string& a : args) {
      if (a == "FILE") a = report_;
      if (a == "FILES") a = env_.file("files");  // a folder: readable, but no document
    }
    SCOPED_TRACE(args[1] + " " + args[args.size() - 2]);
    RunResult r = env_.Submit(args);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(LastJobId(port()), 0);

  RunResult r = env_.Enqueue({"-P", "nosuch", report_});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "enqueue: unable to print file: client-error-not-found\n");
}

// A job of several files whose later file cannot be sent is cancelled
// whole: the files sent before it never print.
TEST_F(SubmitE2E, AFailedLaterFileCancelsTheWholeJob) {
  RunResult r = env_.Submit({"-d", "inkjet", report_, env_.file("files")});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "submit: unable to print file: client-error-document-access-error\n");
  EXPECT_EQ(r.out, "");
  Attrs job = JobAttributes(port(), 1);
  // Kept as history or gone, but never waiting to print.
  if (!job.empty()) {
    EXPECT_EQ(job["job-state"], "7");
  }
  EXPECT_EQ(LastJobId(port()), 0);  // no job waits
}

// A job is acknowledged once its files are on disk. When its control file
// cannot be put in place (here its name is taken by a folder that is not
// empty) the client hears of the failure and the job is dropped, not left
// to print without a file that would bring it back after a restart; the
// next job goes through, its control file already in place when acknowledged.
TEST_F(SubmitE2E, AJobIsAcknowledgedOnlyOnceItsControlFileIsInPlace) {
  const std::string blocked = root_.file("spool/c00001");
  std::filesystem::create_directories(blocked + "/in-the-way");
  RunResult r = env_.Submit({"-d", "inkjet", report_});
  EXPECT_EQ(r.exit_status, 1) << r.out;
  EXPECT_EQ(r.err.rfind("submit: unable to print file: ", 0), 0u) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(JobAttributes(port(), 1).empty()) << "job 1 was kept";
  EXPECT_TRUE(root_.WaitForLog("Job 1 cancelled: its control file could not be written."));
  EXPECT_TRUE(Documents(1).empty());

  std::filesystem::remove_all(blocked);
  r = env_.Submit({"-d", "inkjet", report_});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(RequestId(r.out, "inkjet", 1), 2) << r.out;
  EXPECT_TRUE(FileExists(root_.file("spool/c00002")));
  EXPECT_EQ(Documents(2), std::vector<std::string>{"Quarterly report\n"});
  EXPECT_EQ(JobAttributes(port(), 2)["job-state"], "3");
  for (const std::string& name : ListDir(root_.file("spool")))
    EXPECT_EQ(name.find(".N"), std::string::npos) << "left over: " << name;
}

class NoDefault : public SubmitE2E {
 protected:
  NoDefault() { printers_ = "<Printer inkjet>\nState Stopped\nAccepting Yes\n</Printer>\n"; }
};

TEST_F(NoDefault, NoDefaultDestination) {
  for (const char* program : {SubmitPath(), EnqueuePath()}) {
    SCOPED_TRACE(program);
    RunResult r = env_.Run(program, {report_});
    const std::string prog = std::string(program).substr(std::string(program).rfind('/') + 1);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, prog + ": error - no default destination available.\n");
  }
  // A Default line of the user's own file is a default destination.
  env_.WriteUserDests("Default inkjet copies=4\n");
  RunResult r = env_.Submit({report_});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  int id = RequestId(r.out, "inkjet", 1);
  ASSERT_GT(id, 0) << r.out;
  EXPECT_EQ(JobAttributes(port(), id)["copies"], "4");
}

class SocketJourney : public SubmitE2E {
 protected:
  SocketJourney() {
    printers_ = "<DefaultPrinter sock>\nDeviceURI socket://127.0.0.1:" + std::to_string(printer_.port()) +
                "\nState Idle\nAccepting Yes\n</Printer>\n";
  }
  void SetUp() override {
#ifndef SOCKET_BACKEND_PATH
    GTEST_SKIP() << "the socket backend is not built";
#else
    ASSERT_NE(printer_.port(), 0);
    std::filesystem::create_directories(root_.file("bin/backend"));
    std::error_code ec;
    std::filesystem::copy_file(SOCKET_BACKEND_PATH, root_.file("bin/backend/socket"), ec);
    ASSERT_FALSE(ec) << ec.message();
    SubmitE2E::SetUp();
#endif
  }

  // It says "READY" once the job's data has all come.
  ListeningPrinter printer_{"READY\n"};
};

// Standard input through submit, the scheduler and the socket backend to a
// printer on the network, byte for byte.
TEST_F(SocketJourney, JobReachesTheSocketPrinter) {
  std::string data = "%!PS-Adobe-3.0\n";
  for (int i = 0; i < 256 * 64; i++) data += char(i & 0xff);
  RunResult r = env_.Submit({"-o", "raw"}, data);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_GT(RequestId(r.out, "sock", 1), 0) << r.out;
  std::string received = printer_.Received();
  EXPECT_EQ(received.size(), data.size()) << root_.ErrorLog();
  EXPECT_TRUE(received == data);
  // What the printer said back reaches the scheduler's log, and the job ends.
  EXPECT_TRUE(root_.WaitForLog("[Job 1] DATA: READY")) << root_.ErrorLog();
  EXPECT_TRUE(WaitUntil([&] { return JobAttributes(port(), 1)["job-state"] == "9"; }, kWait))
      << JobAttributes(port(), 1)["job-state"] << root_.ErrorLog();
}

}  // namespace
