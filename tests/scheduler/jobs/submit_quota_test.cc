// UpdateQuota: what a user's quota record holds within a period and how it is
// recounted from the queue once the period is over, on a clock the test
// drives.
#include "scheduler/jobs/quota.h"

#include "tests/fixtures/jobs/job_fixture.h"

namespace {

class QuotaTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    AutoPurgeJobs = 0;
    laser_ = Printer("laser");
    Printer("other");
    laser_->quota_period = kDay;
    laser_->k_limit = 100;
  }

  // A job of `user` on `dest` with these sheets and kilobytes, last touched
  // `age` seconds ago (its time-at-completed when finished, else its
  // creation).
  job_t* Job(const std::string& dest, const std::string& user, int pages, int kbytes, time_t age,
             int state = IPP_JOB_COMPLETED) {
    const time_t now = jobtest::Now;
    jobtest::Now = now - age;
    job_t* job = Submit(dest, 50, user, state);
    jobtest::Now = now;
    job->sheets->values[0].integer = pages;
    ippAddInteger(job->attrs.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "job-k-octets", kbytes);
    if (state > IPP_JOB_STOPPED) {
      ipp_attribute_t* done = ippFindAttribute(job->attrs.get(), "time-at-completed", IPP_TAG_ZERO);
      done->value_tag = IPP_TAG_INTEGER;
      done->values[0].integer = int(now - age);
    }
    return job;
  }

  static constexpr int kDay = 86400;
  printer_t* laser_ = nullptr;
};

TEST_F(QuotaTest, NoRecordWithoutLimitsPrinterOrUser) {
  EXPECT_EQ(UpdateQuota(nullptr, "alice", 1, 1), nullptr);
  EXPECT_EQ(UpdateQuota(laser_, "", 1, 1), nullptr);
  EXPECT_EQ(UpdateQuota(LookupPrinter("other"), "alice", 1, 1), nullptr);
  EXPECT_TRUE(LookupPrinter("other")->quotas.empty());
}

TEST_F(QuotaTest, RecountTakesTheUsersJobsOfThePeriod) {
  Job("laser", "alice", 3, 10, 3600);
  Job("laser", "ALICE", 4, 20, kDay - 1);       // names compare without case
  Job("laser", "alice", 5, 40, 60, IPP_JOB_PENDING);
  Job("laser", "alice", 100, 100, kDay + 1);    // older than the period
  Job("laser", "bob", 100, 100, 60);
  Job("other", "alice", 100, 100, 60);

  const quota_t* q = UpdateQuota(laser_, "alice", 7, 7);
  ASSERT_NE(q, nullptr);
  // The amounts passed in belong to the jobs counted: not added again.
  EXPECT_EQ(q->page_count, 12);
  EXPECT_EQ(q->k_count, 70);
  // The period ends a day after the first job that counted.
  EXPECT_EQ(q->next_update, jobtest::Now - 3600 + kDay);
  EXPECT_EQ(NumJobs, 6);  // AutoPurgeJobs off: the old job stays
}

TEST_F(QuotaTest, WithinThePeriodAmountsAddUpUntilItEnds) {
  Job("laser", "alice", 2, 2, 100);
  quota_t* q = UpdateQuota(laser_, "alice", 0, 0);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->page_count, 2);

  q = UpdateQuota(laser_, "alice", 3, 5);
  EXPECT_EQ(q->page_count, 5);
  EXPECT_EQ(q->k_count, 7);

  // At the end of the period the record is rebuilt from the queue: the
  // amounts added meanwhile belong to no job and go; the job, exactly a
  // period old, still counts.
  jobtest::Now += kDay - 100;
  q = UpdateQuota(laser_, "alice", 3, 5);
  EXPECT_EQ(q->page_count, 2);
  EXPECT_EQ(q->k_count, 2);
  EXPECT_EQ(q->next_update, jobtest::Now);  // that job's time + the period

  // Past that, it no longer does.
  jobtest::Now += kDay + 1;
  q = UpdateQuota(laser_, "alice", 0, 0);
  EXPECT_EQ(q->page_count, 0);
  EXPECT_EQ(q->k_count, 0);
  EXPECT_EQ(q->next_update, 0);
}

TEST_F(QuotaTest, WithoutAPeriodAllHistoryCounts) {
  laser_->quota_period = 0;
  Job("laser", "alice", 1, 1, 400 * kDay);
  Job("laser", "alice", 2, 2, 60);
  const quota_t* q = UpdateQuota(laser_, "alice", 0, 0);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->page_count, 3);
  EXPECT_EQ(q->k_count, 3);
}

TEST_F(QuotaTest, AutoPurgeDropsOnlyFinishedJobsOlderThanThePeriod) {
  AutoPurgeJobs = 1;
  const int old_done = Job("laser", "alice", 1, 1, 2 * kDay)->id;
  const int old_waiting = Job("laser", "alice", 1, 1, 2 * kDay, IPP_JOB_HELD)->id;
  const int recent = Job("laser", "alice", 1, 1, 60)->id;
  const int other_user = Job("laser", "bob", 1, 1, 2 * kDay)->id;

  const quota_t* q = UpdateQuota(laser_, "alice", 0, 0);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->page_count, 1);
  EXPECT_EQ(LookupJob(old_done), nullptr);
  EXPECT_FALSE(Exists(JobControlFile(old_done)));
  // A job still waiting to print is never purged for its age.
  EXPECT_NE(LookupJob(old_waiting), nullptr);
  EXPECT_NE(LookupJob(recent), nullptr);
  EXPECT_NE(LookupJob(other_user), nullptr);
}

TEST_F(QuotaTest, AJobWithoutTimesDoesNotHideTheOthers) {
  job_t* bare = Job("laser", "alice", 50, 50, 0, IPP_JOB_PENDING);
  _ipp_free_attr(bare->attrs.get(), ippFindAttribute(bare->attrs.get(), "time-at-creation", IPP_TAG_ZERO));
  Job("laser", "alice", 2, 3, 60);  // queued behind it
  const quota_t* q = UpdateQuota(laser_, "alice", 0, 0);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->page_count, 2);
  EXPECT_EQ(q->k_count, 3);
}

}  // namespace
