// The queue's order, new jobs, priorities, the purge of old jobs, and the
// choice of the jobs to start.
#include <algorithm>
#include <climits>
#include <new>
#include <vector>

#include "scheduler/conf/conf.h"
#include "scheduler/jobs/job-private.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"
#include "vorn/strings.h"

namespace job_internal {

namespace {

void link_after(job_t* prev, job_t* job) {
  if (prev) {
    job->next = prev->next;
    prev->next = job;
  } else {
    job->next = Jobs;
    Jobs = job;
  }
  NumJobs++;
}

}  // namespace

void InsertAllByPriorityAndId(std::vector<job_t*>& jobs) {
  std::sort(jobs.begin(), jobs.end(), [](const job_t* a, const job_t* b) {
    return a->priority != b->priority ? a->priority > b->priority : a->id < b->id;
  });
  // In this order each job's place is at or after the place of the one
  // before it, so one walk of the queue places them all.
  job_t* prev = nullptr;
  job_t* cur = Jobs;
  for (job_t* job : jobs) {
    while (cur && !(cur->priority < job->priority || (cur->priority == job->priority && cur->id > job->id))) {
      prev = cur;
      cur = cur->next;
    }
    link_after(prev, job);
    prev = job;
  }
}

void InsertAfterEqual(job_t* job) {
  job_t* prev = nullptr;
  for (job_t* cur = Jobs; cur && cur->priority >= job->priority; cur = cur->next) prev = cur;
  link_after(prev, job);
}

std::unique_ptr<job_t> UnlinkJob(job_t* job) {
  job_t* prev = nullptr;
  for (job_t* cur = Jobs; cur; prev = cur, cur = cur->next) {
    if (cur != job) continue;
    (prev ? prev->next : Jobs) = cur->next;
    cur->next = nullptr;
    NumJobs--;
    return std::unique_ptr<job_t>(cur);
  }
  return nullptr;
}

}  // namespace job_internal

using namespace job_internal;

job_t* NewJob(int priority, std::string_view dest) {
  if (NextJobId >= INT_MAX) {
    LogDiagnostic(L_ERROR, "NewJob: No job ids left!");
    return nullptr;
  }
  std::unique_ptr<job_t> job(new (std::nothrow) job_t);
  if (!job) return nullptr;
  job->attrs.reset(ippNew());
  if (!job->attrs) return nullptr;
  job->id = NextJobId++;
  job->priority = std::clamp(priority, 1, 100);
  job->dest = vorn::cut(dest, kMaxPrinterName);
  job_t* j = job.release();
  InsertAfterEqual(j);
  return j;
}

int ChangeJobPriority(int id, int priority) {
  job_t* job = LookupJob(id);
  if (!job) return 0;
  priority = std::clamp(priority, 1, 100);
  job->priority = priority;
  ipp_attribute_t* a = ippFindAttribute(job->attrs.get(), "job-priority", IPP_TAG_ZERO);
  if (a) {
    a->value_tag = IPP_TAG_INTEGER;
    a->values.clear();
    a->values.emplace_back();
    a->values[0].integer = priority;
    ippTouch(job->attrs.get());
  } else {
    ippAddInteger(job->attrs.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "job-priority", priority);
  }
  SaveJob(id);

  job_t* prev = nullptr;
  for (job_t* cur = Jobs; cur != job; cur = cur->next) prev = cur;
  if ((!prev || prev->priority > priority) && (!job->next || job->next->priority < priority)) return 1;
  InsertAfterEqual(UnlinkJob(job).release());
  return 1;
}

void PurgeOldJobs() {
  if (MaxJobs <= 0) return;
  for (job_t* job = Jobs; job && NumJobs >= MaxJobs;) {
    job_t* next = job->next;
    if (JobState(job) >= IPP_JOB_CANCELLED) CancelJob(job->id, 1);
    job = next;
  }
}

namespace {

void run_pending_pass() {
  time_t now = JobClock();
  for (job_t* job = Jobs; job;) {
    job_t* next = job->next;  // starting or purging may free `job`
    int state = JobState(job);
    if (state == IPP_JOB_HELD && job->hold_until != 0 && job->hold_until <= now && job->id != HoldingJobId) {
      SetJobState(job, IPP_JOB_PENDING);
      job->hold_until = 0;  // served: a later hold must not end at this time
      // Saved, so that a restart does not hold it once more (an "HH:MM" hold
      // would wait another day).
      SaveJob(job->id);
      state = IPP_JOB_PENDING;
    }
    if (state != IPP_JOB_PENDING) {
      job = next;
      continue;
    }

    printer_t* target = nullptr;
    printer_t* cls = LookupClass(job->dest);
    printer_t* prn = nullptr;
    if (cls) {
      if (cls->type & PRINTER_REMOTE)
        target = cls;
      else if (cls->state != IPP_PRINTER_STOPPED)
        target = NextFreeMemberOf(cls);
    } else if ((prn = LookupPrinter(job->dest))) {
      target = prn;
      if (target->type & PRINTER_IMPLICIT)
        target = target->state == IPP_PRINTER_STOPPED ? nullptr : NextFreeMemberOf(target);
    }

    if (!cls && !prn) {
      LogDiagnostic(L_WARN, "Printer/class %s has gone away; cancelling job %d!", job->dest.c_str(), job->id);
      CancelJob(job->id, 1);
    } else if (target && CanTakeJob(target) && StartJobHook) {
      StartJobHook(job->id, target);
    }
    job = next;
  }
}

}  // namespace

void RunPendingJobs() {
  // The runner may come back here (a job it cancels frees a printer); the
  // walk in progress must not have jobs freed under it, so such a call only
  // asks for one more pass.
  static bool running = false;
  static bool again = false;
  if (running) {
    again = true;
    return;
  }
  running = true;
  again = false;
  run_pending_pass();
  if (again) {
    again = false;
    run_pending_pass();
  }
  running = false;
}
