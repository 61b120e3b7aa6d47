// Loading the spool: every loaded job goes where it would go alone (before
// the first queued job of lower priority, or of the same priority and a
// higher id), whatever order the queue is in; held jobs get their hold time
// back; control files that hold no whole message are refused.
#include <fcntl.h>
#include <unistd.h>

#include "scheduler/jobs/job-private.h"
#include "tests/fixtures/jobs/job_fixture.h"
#include "vorn/fd.h"

namespace {

class JobLoadTest : public JobTest {};

TEST_F(JobLoadTest, LoadedJobsJoinAQueueInPlace) {
  const struct {
    const char* what;
    std::vector<int> priorities;  // submitted as ids 1, 2, ...
    int moved;                    // a job re-prioritised to its own priority (goes behind its equals), or 0
    std::vector<int> forgotten;   // dropped from memory, their files kept
    const char* before;           // the queue before the load
    const char* after;
  } cases[] = {
      {"mixed priorities", {50, 80, 50, 100, 1, 50}, 0, {1, 6}, "4,2,3,5", "4,2,1,3,6,5"},
      {"one priority", {50, 50, 50, 50}, 0, {2, 4}, "1,3", "1,2,3,4"},
      {"a queue out of id order", {50, 50, 50, 50}, 1, {3}, "2,4,1", "2,3,4,1"},
      {"new highest and lowest", {10, 90, 50, 90, 10}, 0, {1, 2, 5}, "4,3", "2,4,3,1,5"},
      {"into an empty queue", {30, 60, 30}, 0, {1, 2, 3}, "", "2,1,3"},
  };
  Printer("laser", IPP_PRINTER_STOPPED);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DiscardAllJobs();
    for (const auto& entry : std::filesystem::directory_iterator(RequestRoot))
      std::filesystem::remove_all(entry.path());
    NextJobId = 1;
    for (int p : c.priorities) Submit("laser", p);
    if (c.moved) ChangeJobPriority(c.moved, LookupJob(c.moved)->priority);
    for (int id : c.forgotten) job_internal::UnlinkJob(LookupJob(id));
    ASSERT_EQ(Order(), c.before);
    LoadAllJobs();
    EXPECT_EQ(Order(), c.after);
    EXPECT_EQ(NumJobs, int(c.priorities.size()));
  }
}

TEST_F(JobLoadTest, HeldJobsGetTheirHoldTimeBack) {
  Printer("laser", IPP_PRINTER_STOPPED);
  const struct {
    const char* hold_until;
    int state;           // after the load
    time_t hold_until_time;  // after the load
  } cases[] = {
      {"indefinite", IPP_JOB_HELD, 0},
      {"no-hold", IPP_JOB_HELD, jobtest::Now},  // released by the next RunPendingJobs
      {"second-shift", IPP_JOB_HELD, jobtest::Now + 4 * 3600},  // 16:00 on a day at 12:00
      {"weekend-or-so", IPP_JOB_HELD, 0},       // unknown: unchanged
  };
  for (const auto& c : cases) Submit("laser", 50, "alice", IPP_JOB_HELD, {"%!PS\n"}, c.hold_until);
  DiscardAllJobs();
  LoadAllJobs();
  for (size_t i = 0; i < std::size(cases); i++) {
    SCOPED_TRACE(cases[i].hold_until);
    const job_t* job = LookupJob(int(i) + 1);
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(JobState(job), cases[i].state);
    EXPECT_EQ(job->hold_until, cases[i].hold_until_time);
  }
}

TEST_F(JobLoadTest, ControlFilesMustHoldOneWholeMessage) {
  Printer("laser", IPP_PRINTER_STOPPED);
  Submit("laser");
  const std::string good = Slurp(Spool("c00001"));
  const struct {
    const char* what;
    std::string content;
    off_t sparse_size;  // > 0: a file of this size full of zeros instead
    bool loads;
  } cases[] = {
      {"whole", good, 0, true},
      {"bytes after the end tag are not read", good + "trailing bytes", 0, true},
      {"empty", "", 0, false},
      {"cut short", good.substr(0, good.size() / 2), 0, false},
      {"larger than any message", "", off_t(IPP_MAX_MESSAGE) + 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DiscardAllJobs();
    if (c.sparse_size > 0) {
      vorn::unique_fd fd(::open(Spool("c00001").c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
      ASSERT_TRUE(fd);
      ASSERT_EQ(::ftruncate(fd.get(), c.sparse_size), 0);
    } else {
      Put(Spool("c00001"), c.content);
    }
    TakeLog();
    LoadAllJobs();
    EXPECT_EQ(LookupJob(1) != nullptr, c.loads);
    EXPECT_EQ(HasLine(TakeLog(), 'E', "LoadAllJobs: Unable to read job control file \"" + Spool("c00001") + "\"!"),
              !c.loads);
  }
}

}  // namespace
