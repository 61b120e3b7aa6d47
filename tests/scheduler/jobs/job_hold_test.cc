// job-hold-until: the release time of each keyword and time of day, and the
// release of held jobs as the clock moves.
#include <fcntl.h>

#include "tests/fixtures/jobs/job_fixture.h"

namespace {

using jobtest::Local;
using jobtest::LocalText;
using jobtest::Utc;

class JobHoldTest : public JobTest {};

// Local time is UTC+2 (the fixture's zone).
TEST_F(JobHoldTest, ReleaseTimeOfEveryKeyword) {
  struct Case {
    const char* when;
    const char* now;     // local time; a Wednesday unless said
    const char* expect;  // local release time, "now", "0", or "-" for unknown text
  };
  const Case cases[] = {
      {"indefinite", "2024-05-15 12:00:00", "0"},
      {"no-hold", "2024-05-15 12:00:00", "now"},
      {"day-time", "2024-05-15 03:00:00", "now"},
      {"day-time", "2024-05-15 17:59:59", "now"},
      {"day-time", "2024-05-15 18:00:00", "2024-05-16 06:00:00"},
      {"day-time", "2024-05-15 23:30:10", "2024-05-16 06:00:00"},
      {"evening", "2024-05-15 05:59:59", "now"},
      {"evening", "2024-05-15 06:00:00", "2024-05-15 18:00:00"},
      {"evening", "2024-05-15 17:59:00", "2024-05-15 18:00:00"},
      {"evening", "2024-05-15 18:00:00", "now"},
      {"evening", "2024-05-15 23:59:59", "now"},
      {"night", "2024-05-15 12:00:00", "2024-05-15 18:00:00"},
      {"night", "2024-05-15 02:00:00", "now"},
      {"second-shift", "2024-05-15 16:30:00", "now"},
      {"second-shift", "2024-05-15 10:15:20", "2024-05-15 16:00:00"},
      {"second-shift", "2024-05-15 15:59:59", "2024-05-15 16:00:00"},
      {"third-shift", "2024-05-15 07:59:59", "now"},
      {"third-shift", "2024-05-15 08:00:00", "2024-05-16 00:00:00"},
      {"third-shift", "2024-05-15 23:59:59", "2024-05-16 00:00:00"},
      {"weekend", "2024-05-15 12:00:00", "2024-05-17 18:00:00"},  // Wednesday
      {"weekend", "2024-05-13 00:00:00", "2024-05-17 18:00:00"},  // Monday
      {"weekend", "2024-05-17 17:59:00", "2024-05-17 18:00:00"},  // Friday
      {"weekend", "2024-05-17 18:00:00", "now"},
      {"weekend", "2024-05-17 20:00:00", "now"},
      {"weekend", "2024-05-18 10:00:00", "now"},  // Saturday
      {"weekend", "2024-05-19 23:00:00", "now"},  // Sunday
      {"Evening", "2024-05-15 12:00:00", "-"},
      {"weekends", "2024-05-15 12:00:00", "-"},
      {"", "2024-05-15 12:00:00", "-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.when) + " at " + c.now);
    time_t now = Local(c.now);
    time_t t = 12345;
    int known = ComputeHoldUntil(c.when, now, &t);
    std::string expect = c.expect;
    if (expect == "-") {
      EXPECT_EQ(known, 0);
      EXPECT_EQ(t, 12345) << "untouched";
    } else if (expect == "0") {
      EXPECT_EQ(known, 1);
      EXPECT_EQ(t, 0);
    } else if (expect == "now") {
      EXPECT_EQ(known, 1);
      EXPECT_EQ(t, now);
    } else {
      EXPECT_EQ(known, 1);
      EXPECT_EQ(LocalText(t), expect);
    }
  }
}

TEST_F(JobHoldTest, SecondShiftWaitsTheExactSeconds) {
  time_t now = Local("2024-05-15 10:15:20"), t = 0;
  ASSERT_EQ(ComputeHoldUntil("second-shift", now, &t), 1);
  EXPECT_EQ(t - now, 20680);
}

TEST_F(JobHoldTest, TimesOfDayAreUtc) {
  struct Case {
    const char* when;
    const char* now;     // UTC
    const char* expect;  // UTC, or "-" for a value that is refused
  };
  const Case cases[] = {
      {"23:00", "2024-05-15 10:00:00", "2024-05-15 23:00:00"},
      {"09:00", "2024-05-15 10:00:00", "2024-05-16 09:00:00"},  // already past today
      {"10:00", "2024-05-15 10:00:00", "2024-05-15 10:00:00"},  // now: released at once
      {"23:00", "2024-05-15 23:30:00", "2024-05-16 23:00:00"},
      {"00:15", "2024-05-15 23:30:00", "2024-05-16 00:15:00"},  // across midnight
      {"7:05", "2024-05-15 01:00:00", "2024-05-15 07:05:00"},
      {"12:30:45", "2024-05-15 12:30:44", "2024-05-15 12:30:45"},
      {"12:30:45", "2024-05-15 12:30:46", "2024-05-16 12:30:45"},
      {"0:0:0", "2024-12-31 23:59:59", "2025-01-01 00:00:00"},
      {"24:00", "2024-05-15 10:00:00", "-"},
      {"12:60", "2024-05-15 10:00:00", "-"},
      {"12:00:60", "2024-05-15 10:00:00", "-"},
      {"123:00", "2024-05-15 10:00:00", "-"},
      {"12", "2024-05-15 10:00:00", "-"},
      {"12:", "2024-05-15 10:00:00", "-"},
      {":30", "2024-05-15 10:00:00", "-"},
      {"12:30:", "2024-05-15 10:00:00", "-"},
      {"12:30x", "2024-05-15 10:00:00", "-"},
      {"-1:00", "2024-05-15 10:00:00", "-"},
      {"1:2:3:4", "2024-05-15 10:00:00", "-"},
      {" 12:30", "2024-05-15 10:00:00", "-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.when) + " at " + c.now);
    time_t t = 12345;
    int known = ComputeHoldUntil(c.when, Utc(c.now), &t);
    if (std::string(c.expect) == "-") {
      EXPECT_EQ(known, 0);
      EXPECT_EQ(t, 12345);
    } else {
      EXPECT_EQ(known, 1);
      EXPECT_EQ(t, Utc(c.expect));
    }
  }
}

// Named periods are local wall-clock times, also on the night the clocks go
// forward (a fixed count of seconds would land on 07:00).
TEST_F(JobHoldTest, DaylightSavingTimeKeepsTheWallClockTime) {
  SetZone("CET-1CEST,M3.5.0,M10.5.0/3");
  time_t t = 0;
  ASSERT_EQ(ComputeHoldUntil("day-time", Local("2024-03-30 20:00:00"), &t), 1);
  EXPECT_EQ(LocalText(t), "2024-03-31 06:00:00");
  ASSERT_EQ(ComputeHoldUntil("evening", Local("2024-10-27 01:00:00"), &t), 1);
  EXPECT_EQ(LocalText(t), "2024-10-27 01:00:00") << "01:00 is night: now";
  ASSERT_EQ(ComputeHoldUntil("evening", Local("2024-10-27 12:00:00"), &t), 1);
  EXPECT_EQ(LocalText(t), "2024-10-27 18:00:00");
}

TEST_F(JobHoldTest, SetJobHoldUntilKeepsTheTimeForUnknownText) {
  Printer("laser");
  job_t* job = Submit("laser", 50, "alice", IPP_JOB_HELD, {"%!PS\n"}, "evening");
  TakeLog();
  EXPECT_EQ(SetJobHoldUntil(job->id, "evening"), 1);
  EXPECT_EQ(LocalText(job->hold_until), "2024-05-15 18:00:00");
  EXPECT_EQ(SetJobHoldUntil(job->id, "soon"), 0);
  EXPECT_EQ(LocalText(job->hold_until), "2024-05-15 18:00:00");
  EXPECT_EQ(SetJobHoldUntil(99, "indefinite"), 0);
  std::string log = TakeLog();
  EXPECT_TRUE(HasLine(log, 'D', "SetJobHoldUntil(1, \"evening\")")) << log;
  EXPECT_TRUE(HasLine(log, 'D', "SetJobHoldUntil: hold_until = " + std::to_string(Local("2024-05-15 18:00:00"))));
  EXPECT_TRUE(HasLine(log, 'D', "SetJobHoldUntil(1, \"soon\")"));
}

// The state the control file holds.
int SavedState(int id) {
  ipp_ptr ipp(ippNew());
  vorn::unique_fd fd(::open(JobControlFile(id).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd || ippReadFile(fd.get(), ipp.get()) != IPP_DATA) return -1;
  ipp_attribute_t* a = ippFindAttribute(ipp.get(), "job-state", IPP_TAG_ENUM);
  return a ? a->values[0].integer : -1;
}

TEST_F(JobHoldTest, HeldJobsAreReleasedWhenTheClockGetsThere) {
  Printer("laser");
  Printer("inkjet");
  jobtest::Now = Local("2024-05-15 17:59:00");
  job_t* evening = Submit("laser", 50, "alice", IPP_JOB_HELD, {"%!PS\n"}, "evening");
  SetJobHoldUntil(evening->id, "evening");
  job_t* forever = Submit("inkjet", 50, "alice", IPP_JOB_HELD, {"%!PS\n"}, "indefinite");
  SetJobHoldUntil(forever->id, "indefinite");

  jobtest::Now = Local("2024-05-15 17:59:59");
  RunPendingJobs();
  EXPECT_TRUE(jobtest::RunnerCalls.empty());
  EXPECT_EQ(JobState(LookupJob(1)), IPP_JOB_HELD);

  jobtest::Now = Local("2024-05-15 18:00:00");
  RunPendingJobs();
  EXPECT_EQ(jobtest::RunnerCalls, std::vector<std::string>{"start 1 laser"});
  EXPECT_EQ(SavedState(1), IPP_JOB_PENDING) << "the release is saved, so a restart does not hold it again";
  EXPECT_EQ(LookupJob(1)->hold_until, 0);

  jobtest::Now = Local("2030-01-01 00:00:00");
  RunPendingJobs();
  EXPECT_EQ(JobState(LookupJob(2)), IPP_JOB_HELD) << "indefinite waits for a request";
  EXPECT_EQ(ReleaseJob(2), 1);
  EXPECT_EQ(jobtest::RunnerCalls, (std::vector<std::string>{"start 1 laser", "start 2 inkjet"}));
}

// Holding a job again, as Hold-Job does (HoldJob, then the new hold-until),
// once its first timed hold has passed: the old time must not release it.
TEST_F(JobHoldTest, AJobHeldAgainAfterATimedReleaseStaysHeld) {
  printer_t* laser = Printer("laser", IPP_PRINTER_PROCESSING);
  jobtest::Now = Local("2024-05-15 12:00:00");
  job_t* job = Submit("laser", 50, "alice", IPP_JOB_HELD, {"%!PS\n"}, "13:00");
  SetJobHoldUntil(job->id, "13:00");  // UTC: 15:00 local
  jobtest::Now = Local("2024-05-15 15:00:00");
  RunPendingJobs();
  EXPECT_EQ(JobState(LookupJob(1)), IPP_JOB_PENDING);

  jobtest::Now = Local("2024-05-15 16:00:00");
  ASSERT_EQ(HoldJob(1), 1);
  EXPECT_EQ(JobState(LookupJob(1)), IPP_JOB_HELD);
  SetJobHoldUntil(1, "indefinite");
  laser->state = IPP_PRINTER_IDLE;
  RunPendingJobs();
  EXPECT_EQ(JobState(LookupJob(1)), IPP_JOB_HELD);
  EXPECT_TRUE(jobtest::RunnerCalls.empty());
}

}  // namespace
