// The operations that change queued jobs (Cancel-Job, Hold-Job,
// Release-Job, Restart-Job, Set-Job-Attributes, Purge-Jobs) on a running
// scheduler, sent by an IPP client written elsewhere. The printers are
// stopped so jobs stay queued; refusals must leave the spool byte for byte
// as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "harness.h"
#include "query_reply.h"
#include "submit_server.h"
#include "vorn/ipp.h"

namespace {

using namespace e2e;

std::string JobUri(int id) { return "job-uri=45:ipp://localhost/jobs/" + std::to_string(id); }

bool HasLine(const std::string& log, const std::string& message) { return log.find(message) != std::string::npos; }

class JobOps : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Start("PreserveJobHistory Yes\nPreserveJobFiles No\n",
                  "<Printer stopped>\nState Stopped\nAccepting Yes\n</Printer>\n"
                  "<Printer other>\nState Stopped\nAccepting Yes\n</Printer>\n");
    doc_ = server_.Document("doc.txt", "some text\n");
    // 1 alice, 2 bob, 3 alice, all on "stopped".
    for (const char* user : {"alice", "bob", "alice"}) {
      Reply r = server_.Send(IPP_PRINT_JOB, {PrinterUri("stopped"), User(user), doc_});
      ASSERT_EQ(r.status, "0x0000") << r.raw;
    }
  }
  void TearDown() override {
    EXPECT_EQ(server_.vornd_.Stderr().find("Sanitizer"), std::string::npos) << server_.vornd_.Stderr();
  }

  std::string State(int id) { return server_.JobAttributes(id).value(1, "job-state"); }
  std::string Attr(int id, const std::string& name) { return server_.JobAttributes(id).value(1, name); }

  // Every file of the spool with its bytes, once the request file is gone.
  std::map<std::string, std::string> SpoolBytes() {
    std::map<std::string, std::string> out;
    for (const std::string& name : server_.SettledSpool())
      if (name != "tmp") out[name] = ReadFile(server_.root_.file("spool/" + name));
    return out;
  }

  SubmitServer server_;
  std::string doc_;
};

TEST_F(JobOps, HoldReleaseAndCancel) {
  Reply r = server_.Send(IPP_HOLD_JOB, {JobUri(1), User("alice")});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(State(1), "4");
  EXPECT_TRUE(HasLine(server_.root_.ErrorLog(), "Job 1 was held by 'alice'."));

  r = server_.Send(IPP_RELEASE_JOB, {JobUri(1), User("alice")});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(State(1), "3");

  // A hold with a time keeps it on the job.
  r = server_.Send(IPP_HOLD_JOB, {JobUri(3), User("alice"), "job-hold-until=44:weekend"});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(State(3), "4");
  auto listed_hold = [&] {
    Reply jobs = RunQuery(server_.node_, server_.root_.port(), IPP_GET_JOBS,
                          {PrinterUri("stopped"), "requested-attributes=44:job-id,job-hold-until"});
    for (size_t g = 0; g < jobs.groups.size(); g++)
      if (jobs.value(g, "job-id") == "3") return jobs.value(g, "job-hold-until");
    return std::string("(no job 3)");
  };
  EXPECT_EQ(listed_hold(), "weekend");
  r = server_.Send(IPP_RELEASE_JOB, {JobUri(3), User("alice")});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(State(3), "3");
  // Listings show the value the release wrote, not one encoded before.
  EXPECT_EQ(listed_hold(), "no-hold");

  // Job 0 of a destination: its first active job in queue order.
  r = server_.Send(IPP_CANCEL_JOB, {PrinterUri("stopped"), "job-id=21:0", User("alice")});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(State(1), "7");
  EXPECT_EQ(State(2), "3");
  EXPECT_TRUE(HasLine(server_.root_.ErrorLog(), "Job 1 was cancelled by 'alice'."));

  r = server_.Send(IPP_CANCEL_JOB, {PrinterUri("other"), "job-id=21:0", User("alice")});
  EXPECT_EQ(r.status, "0x0404") << r.raw;
  EXPECT_TRUE(HasLine(server_.root_.ErrorLog(), "cancel_job: No active jobs on /printers/other!"));
}

// A finished job stays finished: every operation that could bring it back
// is refused and the spool does not change.
TEST_F(JobOps, FinishedJobsAreNotBroughtBack) {
  ASSERT_EQ(server_.Send(IPP_CANCEL_JOB, {JobUri(1), User("alice")}).status, "0x0000");
  ASSERT_EQ(State(1), "7");
  const auto before = SpoolBytes();
  const struct {
    int op;
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {IPP_CANCEL_JOB, {JobUri(1), User("alice")}, "cancel_job: job id 1 is cancelled - can't cancel!"},
      {IPP_HOLD_JOB, {JobUri(1), User("alice")}, "hold_job: job #1 is finished and cannot be held!"},
      {IPP_RELEASE_JOB, {JobUri(1), User("alice")}, "release_job: job #1 is not held!"},
      {IPP_SET_JOB_ATTRIBUTES,
       {JobUri(1), User("alice"), "job:job-hold-until=44:no-hold"},
       "set_job_attrs: job #1 is finished and cannot be altered!"},
      {IPP_SET_JOB_ATTRIBUTES,
       {JobUri(1), User("alice"), "job:job-state=23:3"},
       "set_job_attrs: job #1 is finished and cannot be altered!"},
      {IPP_RESTART_JOB, {JobUri(1), User("alice")}, "restart_job: job #1 cannot be restarted - no files!"},
      {IPP_RESTART_JOB, {JobUri(3), User("alice")}, "restart_job: job #3 is not complete!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Reply r = server_.Send(c.op, c.args);
    EXPECT_EQ(r.status, "0x0404") << r.raw;
    EXPECT_TRUE(HasLine(server_.root_.ErrorLog(), c.message));
    EXPECT_EQ(SpoolBytes(), before);
  }
  EXPECT_EQ(State(1), "7");
}

TEST_F(JobOps, TargetsOwnersAndResources) {
  const auto before = SpoolBytes();
  const struct {
    int op;
    std::vector<std::string> args;
    const char* status;
    const char* message;
  } cases[] = {
      {IPP_CANCEL_JOB, {JobUri(2), User("alice")}, "0x0401",
       "cancel_job: \"alice\" not authorized to delete job id 2 owned by \"bob\"!"},
      {IPP_HOLD_JOB, {JobUri(2), User("alice")}, "0x0401",
       "hold_job: \"alice\" not authorized to hold job id 2 owned by \"bob\"!"},
      {IPP_SET_JOB_ATTRIBUTES, {JobUri(2), User("alice"), "job:job-name=42:mine"}, "0x0401",
       "set_job_attrs: \"alice\" not authorized to alter job id 2 owned by \"bob\"!"},
      {IPP_CANCEL_JOB, {"job-uri=45:ipp://localhost/jobs/2x", User("bob")}, "0x0400",
       "cancel_job: bad job-uri attribute 'ipp://localhost/jobs/2x'!"},
      {IPP_HOLD_JOB, {PrinterUri("stopped"), User("bob")}, "0x0400",
       "hold_job: got a printer-uri attribute but no job-id!"},
      {IPP_RELEASE_JOB, {JobUri(99), User("bob")}, "0x0406", "release_job: job #99 doesn't exist!"},
      {IPP_CANCEL_JOB, {"/admin/", JobUri(2), User("bob")}, "0x0403",
       "cancel_job: cancel request on bad resource '/admin/'!"},
      {IPP_CANCEL_JOB, {PrinterUri("nosuch"), "job-id=21:0", User("bob")}, "0x0406",
       "cancel_job: resource name '/printers/nosuch' no good!"},
      {IPP_PURGE_JOBS, {"/jobs/", PrinterUri("stopped"), User("bob")}, "0x0403",
       "cancel_all_jobs: admin request on bad resource '/jobs/'!"},
      {IPP_PURGE_JOBS, {"/admin/", JobUri(2), User("bob")}, "0x0400",
       "cancel_all_jobs: bad job-uri attribute 'ipp://localhost/jobs/2'!"},
      {IPP_PURGE_JOBS, {"/admin/", PrinterUri("stopped"), "my-jobs=22:true"}, "0x0400",
       "cancel_all_jobs: missing requesting-user-name attribute!"},
      {IPP_PURGE_JOBS, {"/admin/", PrinterUri("nosuch")}, "0x0406",
       "cancel_all_jobs: resource name '/printers/nosuch' no good!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Reply r = server_.Send(c.op, c.args);
    EXPECT_EQ(r.status, c.status) << r.raw;
    EXPECT_TRUE(HasLine(server_.root_.ErrorLog(), c.message));
    EXPECT_EQ(SpoolBytes(), before);
  }
  // The owner may.
  EXPECT_EQ(server_.Send(IPP_CANCEL_JOB, {JobUri(2), User("bob")}).status, "0x0000");
  EXPECT_EQ(State(2), "7");
}

TEST_F(JobOps, SetJobAttributes) {
  // Refused whole, before anything changes.
  const auto before = SpoolBytes();
  const struct {
    std::vector<std::string> attrs;
    const char* status;
    std::vector<std::string> unsupported;
  } refused[] = {
      {{"job:copies=21:0"}, "0x0400", {}},
      {{"job:page-ranges=33:5-1"}, "0x0400", {}},
      {{"job:job-priority=21:101"}, "0x0400", {}},
      {{"job:job-priority=21:0"}, "0x0400", {}},
      {{"job:Job-Name=42:caps"}, "0x0400", {}},
      // a scheduler-owned attribute stops everything after it
      {{"job:job-id=21:7", "job:job-name=42:renamed"}, "0x0413", {"job-id=7"}},
      {{"job:job-originating-user-name=42:mallory"}, "0x0413", {"job-originating-user-name=mallory"}},
      {{"job:time-at-creation=21:1"}, "0x0413", {"time-at-creation=1"}},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.attrs[0]);
    std::vector<std::string> args = {JobUri(3), User("alice")};
    args.insert(args.end(), c.attrs.begin(), c.attrs.end());
    Reply r = server_.Send(IPP_SET_JOB_ATTRIBUTES, args);
    EXPECT_EQ(r.status, c.status) << r.raw;
    if (!c.unsupported.empty()) {
      ASSERT_EQ(r.tags, (std::vector<int>{1, 5})) << r.raw;
      EXPECT_EQ(r.groups[1], c.unsupported);
    }
    EXPECT_EQ(SpoolBytes(), before);
  }
  EXPECT_EQ(Attr(3, "job-name"), "Untitled");  // the client named none

  // Accepted: a new name and priority, a hold and its release, a cancel.
  Reply r = server_.Send(IPP_SET_JOB_ATTRIBUTES,
                         {JobUri(3), User("alice"), "job:job-name=42:renamed", "job:job-priority=21:80"});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(Attr(3, "job-name"), "renamed");
  EXPECT_EQ(Attr(3, "job-priority"), "80");
  // A higher priority moves the job to the front of the queue.
  Reply jobs = RunQuery(server_.node_, server_.root_.port(), IPP_GET_JOBS,
                        {PrinterUri("stopped"), "requested-attributes=44:job-id"});
  ASSERT_GE(jobs.groups.size(), 4u) << jobs.raw;
  EXPECT_EQ(jobs.value(1, "job-id"), "3") << jobs.raw;

  r = server_.Send(IPP_SET_JOB_ATTRIBUTES, {JobUri(3), User("alice"), "job:job-hold-until=44:indefinite"});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(State(3), "4");
  r = server_.Send(IPP_SET_JOB_ATTRIBUTES, {JobUri(3), User("alice"), "job:job-hold-until=44:no-hold"});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(State(3), "3");
  r = server_.Send(IPP_SET_JOB_ATTRIBUTES, {JobUri(3), User("alice"), "job:job-state=23:7"});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(State(3), "7");

  // The changes are in the control file: they survive a restart.
  ASSERT_EQ(server_.vornd_.Stop(), 0);
  ASSERT_TRUE(server_.vornd_.StartForeground()) << server_.vornd_.Stderr();
  EXPECT_EQ(Attr(3, "job-name"), "renamed");
  EXPECT_EQ(State(3), "7");
}

TEST_F(JobOps, PurgeJobs) {
  // alice's jobs are cancelled and kept as history; bob's stay queued.
  Reply r = server_.Send(IPP_PURGE_JOBS,
                         {"/admin/", PrinterUri("stopped"), User("alice"), "my-jobs=22:true", "purge-jobs=22:false"});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(State(1), "7");
  EXPECT_EQ(State(2), "3");
  EXPECT_EQ(State(3), "7");
  EXPECT_TRUE(HasLine(server_.root_.ErrorLog(), "All jobs on 'stopped' were cancelled by"));

  // Every job of every destination, purged: nothing is left of them.
  r = server_.Send(IPP_PURGE_JOBS, {"/admin/", "printer-uri=45:ipp://localhost/printers/", User("root")});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_TRUE(HasLine(server_.root_.ErrorLog(), "All jobs were purged by"));
  EXPECT_EQ(SpoolBytes(), (std::map<std::string, std::string>{}));
  EXPECT_EQ(server_.JobAttributes(2).status, "0x0406");
}

}  // namespace
