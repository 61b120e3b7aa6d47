// UpdateQuota: adds to a user's quota record, or recounts it from the queue
// when its period is over.
#include "scheduler/jobs/quota.h"

#include <ctime>
#include <string>
#include <vector>

#include "scheduler/conf/conf.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"
#include "vorn/strings.h"

namespace {

// The integer value of a job attribute, or -1 when it has none (time stamps
// not yet given are no-value attributes).
int job_integer(job_t* job, std::string_view name) {
  const ipp_attribute_t* a = ippFindAttribute(job->attrs.get(), name, IPP_TAG_INTEGER);
  return a && !a->values.empty() ? a->values[0].integer : -1;
}

// When the job last did something: completed, else started, else created.
time_t job_time(job_t* job) {
  for (const char* name : {"time-at-completed", "time-at-processing", "time-at-creation"}) {
    int t = job_integer(job, name);
    if (t >= 0) return time_t(t);
  }
  return -1;
}

}  // namespace

quota_t* UpdateQuota(printer_t* p, std::string_view username, int pages, int kbytes) {
  if (!p || username.empty()) return nullptr;
  if (p->k_limit == 0 && p->page_limit == 0) return nullptr;
  quota_t* q = QuotaForUser(p, username);
  if (!q) return nullptr;

  LogDiagnostic(L_DEBUG, "UpdateQuota: p=%s username=%s pages=%d k=%d", p->name.c_str(), q->username.c_str(),
                pages, kbytes);

  time_t now = JobClock();
  if (now < q->next_update) {
    q->page_count += pages;
    q->k_count += kbytes;
    return q;
  }

  time_t start = p->quota_period ? now - p->quota_period : 0;
  q->next_update = 0;
  q->page_count = 0;
  q->k_count = 0;

  std::vector<int> expired;
  for (job_t* job = Jobs; job; job = job->next) {
    if (!vorn::iequals(job->dest, p->name) || !vorn::iequals(job->username, q->username)) continue;
    time_t t = job_time(job);
    // A record still being built by a submission has no time yet; it is
    // skipped rather than ending the walk, so the jobs after it still count.
    if (t < 0) continue;
    if (t >= start) {
      if (q->next_update == 0) q->next_update = t + p->quota_period;
      int sheets = job_integer(job, "job-media-sheets-completed");
      int k = job_integer(job, "job-k-octets");
      if (sheets > 0) q->page_count += sheets;
      if (k > 0) q->k_count += k;
    } else if (AutoPurgeJobs && JobState(job) > IPP_JOB_STOPPED) {
      // Only finished jobs: an old job still waiting to print is not history.
      expired.push_back(job->id);
    }
  }
  // Purged after the walk: CancelJob frees records.
  for (int id : expired) CancelJob(id, 1);
  return q;
}
