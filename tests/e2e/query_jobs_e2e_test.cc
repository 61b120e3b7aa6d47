// Get-Jobs and Get-Job-Attributes on a running scheduler whose queue is
// loaded from control files written here into its spool directory, sent and
// decoded by an IPP client written elsewhere (the npm package ipp-encoder,
// driven by tests/e2e/query_client.js).
#include <fcntl.h>
#include <gtest/gtest.h>

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
constexpr int kGetJobs = 0x000A;

struct JobSpec {
  int id;
  const char* printer;
  int state;
  const char* user;
  int priority;
};

// The queue: 5 goes first for its priority; beta is stopped, so its jobs
// stay queued; job 1 is printing on alpha through a backend that waits as
// long as the scheduler lives.
const JobSpec kJobs[] = {
    {1, "alpha", 3, "ann", 50},       {2, "beta", 4, "bob", 50},  {3, "alpha", 9, "ann", 50},
    {4, "alpha", 7, "anonymous", 50}, {5, "beta", 3, "anonymous", 60},
};

// Writes the control file of one job as the queue saves it.
bool WriteControlFile(const std::string& spool, const JobSpec& job) {
  char name[32];
  std::snprintf(name, sizeof(name), "/c%05d", job.id);
  vorn::unique_fd fd(::open((spool + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (fd.get() < 0) return false;
  ipp_ptr ipp(ippNew());
  ipp_t* a = ipp.get();
  ippAddString(a, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
  ippAddString(a, IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", "", "en");
  ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-priority", job.priority);
  ippAddString(a, IPP_TAG_JOB, IPP_TAG_NAME, "job-originating-user-name", "", job.user);
  ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_ENUM, "job-state", job.state);
  ippAddString(a, IPP_TAG_JOB, IPP_TAG_URI, "job-printer-uri", "",
               std::string("ipp://localhost/printers/") + job.printer);
  ippAddString(a, IPP_TAG_JOB, IPP_TAG_NAME, "job-name", "", "doc-" + std::to_string(job.id));
  if (job.state == 4) ippAddString(a, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-hold-until", "", "indefinite");
  return ippWriteFile(fd.get(), a) == IPP_DATA;
}

// The id at the end of a job-uri value; -1 when it is not one.
int IdOf(const std::string& uri) {
  size_t slash = uri.rfind("/jobs/");
  return slash == std::string::npos ? -1 : std::atoi(uri.c_str() + slash + 6);
}

class QueryJobs : public ::testing::Test {
 protected:
  void SetUp() override {
    node_ = FindProgram("node");
    ASSERT_FALSE(node_.empty()) << "the node command is needed (.ci/install-deps installs it)";
    root_.WriteConfig("LogLevel debug2\n");
    ASSERT_TRUE(WriteFile(root_.file("printers.conf"),
                          "<Printer alpha>\nDeviceURI wait:/\nState Idle\nAccepting Yes\n</Printer>\n"
                          "<Printer beta>\nState Stopped\nAccepting Yes\n</Printer>\n"));
    std::error_code ec;
    std::filesystem::create_directories(root_.file("bin/backend"), ec);
    ASSERT_FALSE(ec) << ec.message();
    ASSERT_TRUE(WriteFile(root_.file("bin/backend/wait"),
                          "#!/bin/sh\nwhile kill -0 $PPID 2>/dev/null; do sleep 0.1; done\n", 0755));
    ASSERT_TRUE(WriteFile(root_.file("spool/d00001-001"), "job 1\n"));
    for (const JobSpec& job : kJobs) ASSERT_TRUE(WriteControlFile(root_.file("spool"), job));
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
    ASSERT_TRUE(root_.WaitForLog("/backend/wait (PID")) << root_.ErrorLog();
  }

  Reply Query(int op, const std::vector<std::string>& attrs) { return RunQuery(node_, root_.port(), op, attrs); }

  std::string node_;
  ServerRoot root_;
  Vornd vornd_{root_};
};

TEST_F(QueryJobs, GetJobsSelectsByPathStateOwnerAndLimit) {
  const std::string jobs = "printer-uri=45:ipp://localhost/jobs";
  const struct {
    const char* what;
    std::vector<std::string> attrs;
    std::vector<int> listed;  // in queue order
  } cases[] = {
      {"/jobs: every job not finished", {jobs}, {5, 1, 2}},
      {"/: the same", {"printer-uri=45:ipp://localhost/"}, {5, 1, 2}},
      {"/printers: jobs not on a class", {"printer-uri=45:ipp://localhost/printers"}, {5, 1, 2}},
      {"/classes: none here", {"printer-uri=45:ipp://localhost/classes/"}, {}},
      {"completed: the finished ones", {jobs, "which-jobs=44:completed"}, {3, 4}},
      {"any other which-jobs", {jobs, "which-jobs=44:not-completed"}, {5, 1, 2}},
      {"one printer", {"printer-uri=45:ipp://localhost/printers/alpha"}, {1}},
      {"one printer, finished", {"printer-uri=45:ipp://localhost/printers/alpha", "which-jobs=44:completed"}, {3, 4}},
      {"the other printer", {"printer-uri=45:ipp://localhost/printers/beta"}, {5, 2}},
      {"limit", {jobs, "limit=21:2"}, {5, 1}},
      {"my-jobs by requesting-user-name", {jobs, "my-jobs=22:true", "requesting-user-name=42:ann"}, {1}},
      {"my-jobs: names compare with case", {jobs, "my-jobs=22:true", "requesting-user-name=42:ANN"}, {}},
      {"my-jobs without a name: anonymous", {jobs, "my-jobs=22:true"}, {5}},
      {"my-jobs false", {jobs, "my-jobs=22:false", "requesting-user-name=42:ann"}, {5, 1, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reply r = Query(kGetJobs, c.attrs);
    EXPECT_EQ(r.status, "0x0000") << r.raw;
    std::vector<int> listed;
    for (size_t g = 1; g < r.groups.size(); g++) {
      EXPECT_EQ(r.tags[g], 2) << r.raw;
      listed.push_back(IdOf(r.value(g, "job-uri")));
    }
    EXPECT_EQ(listed, c.listed) << r.raw;
  }

  Reply r = Query(kGetJobs, {"printer-uri=45:ipp://localhost/printers/nosuch"});
  EXPECT_EQ(r.status, "0x0406") << r.raw;
  EXPECT_NE(root_.ErrorLog().find("get_jobs: resource name '/printers/nosuch' no good!"), std::string::npos);

  // Each job: its URIs on the port asked, the time, its job group through
  // the filter (never the operation group of its control file), the reason.
  r = Query(kGetJobs, {jobs, "requested-attributes=44:job-name,attributes-charset"});
  EXPECT_EQ(r.status, "0x0001") << r.raw;
  ASSERT_EQ(r.groups.size(), 4u) << r.raw;
  EXPECT_EQ(r.names(1), (std::vector<std::string>{"job-more-info", "job-uri", "job-printer-up-time", "job-name",
                                                  "job-state-reasons"}))
      << r.raw;
  const std::string suffix = ":" + std::to_string(root_.port()) + "/jobs/5";
  const std::string uri = r.value(1, "job-uri");
  EXPECT_EQ(uri.rfind("http://", 0), 0u) << uri;
  EXPECT_EQ(uri.substr(uri.size() - std::min(uri.size(), suffix.size())), suffix);
  EXPECT_EQ(r.value(1, "job-more-info"), uri);
}

TEST_F(QueryJobs, GetJobAttributesNamesOneJob) {
  const struct {
    const char* what;
    std::vector<std::string> attrs;
    const char* status;
    int id;              // expected job-id, 0: no job group
    const char* reason;  // expected job-state-reasons
  } cases[] = {
      {"job-uri, held with a hold time", {"job-uri=45:ipp://localhost/jobs/2"}, "0x0000", 2,
       "job-hold-until-specified"},
      {"printer-uri and job-id, pending on a stopped printer",
       {"printer-uri=45:ipp://localhost/printers/beta", "job-id=21:5"}, "0x0000", 5, "printer-stopped"},
      {"printing", {"job-uri=45:ipp://localhost/jobs/1"}, "0x0000", 1, "job-printing"},
      {"completed", {"job-uri=45:ipp://localhost/jobs/3"}, "0x0000", 3, "job-completed-successfully"},
      {"cancelled", {"job-uri=45:ipp://localhost/jobs/4"}, "0x0000", 4, "job-canceled-by-user"},
      {"printer-uri without job-id", {"printer-uri=45:ipp://localhost/printers/beta"}, "0x0400", 0, ""},
      {"job-uri with a tail after the id", {"job-uri=45:ipp://localhost/jobs/2x"}, "0x0400", 0, ""},
      {"job-uri without an id", {"job-uri=45:ipp://localhost/jobs/"}, "0x0400", 0, ""},
      {"job-uri outside /jobs/", {"job-uri=45:ipp://localhost/printers/2"}, "0x0400", 0, ""},
      {"unknown job", {"job-uri=45:ipp://localhost/jobs/99"}, "0x0406", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reply r = Query(kGetJobAttributes, c.attrs);
    EXPECT_EQ(r.status, c.status) << r.raw;
    if (c.id == 0) {
      EXPECT_EQ(r.tags, (std::vector<int>{1})) << r.raw;
      continue;
    }
    ASSERT_EQ(r.tags, (std::vector<int>{1, 2})) << r.raw;
    ASSERT_FALSE(r.groups[1].empty());
    EXPECT_EQ(r.groups[1].front(), "job-id=" + std::to_string(c.id)) << r.raw;
    EXPECT_EQ(IdOf(r.value(1, "job-uri")), c.id);
    EXPECT_EQ(r.value(1, "job-name"), "doc-" + std::to_string(c.id));
    EXPECT_EQ(r.value(1, "attributes-charset"), "(none)") << r.raw;
    EXPECT_EQ(r.groups[1].back(), std::string("job-state-reasons=") + c.reason) << r.raw;
  }
  const std::string log = root_.ErrorLog();
  for (const char* message : {"get_job_attrs: got a printer-uri attribute but no job-id!",
                              "get_job_attrs: bad job-uri attribute 'ipp://localhost/jobs/2x'!",
                              "get_job_attrs: job #99 doesn't exist!"})
    EXPECT_NE(log.find(message), std::string::npos) << message;

  Reply r = Query(kGetJobAttributes, {"job-uri=45:ipp://localhost/jobs/2", "requested-attributes=44:job-state"});
  EXPECT_EQ(r.status, "0x0001") << r.raw;
  ASSERT_EQ(r.tags, (std::vector<int>{1, 2})) << r.raw;
  EXPECT_EQ(r.names(1), (std::vector<std::string>{"job-id", "job-more-info", "job-uri", "job-printer-up-time",
                                                  "job-state", "job-state-reasons"}))
      << r.raw;
  EXPECT_EQ(r.value(1, "job-state"), "4");
}

}  // namespace
