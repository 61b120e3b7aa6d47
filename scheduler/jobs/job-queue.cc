// The queue's order, new jobs, priorities, the purge of old jobs, and the
// choice of the jobs to start.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <new>
#include <unordered_map>
#include <vector>

#include "scheduler/conf/conf.h"
#include "scheduler/jobs/job-private.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"
#include "vorn/strings.h"

namespace job_internal {

std::unordered_map<int, job_t*> JobIndex;
job_set HeldJobs;
job_set ProcessingJobs;
std::unordered_map<std::string, job_set> PendingByDest;

void DropFromStateSets(job_t* job) {
  auto d = PendingByDest.find(job->dest);
  if (d != PendingByDest.end() && d->second.erase(job) && d->second.empty()) PendingByDest.erase(d);
  HeldJobs.erase(job);
  ProcessingJobs.erase(job);
}

void SyncStateSets(job_t* job) {
  DropFromStateSets(job);
  auto it = JobIndex.find(job->id);
  if (it == JobIndex.end() || it->second != job) return;  // not queued (yet)
  int state = JobState(job);
  if (state == IPP_JOB_PENDING) PendingByDest[job->dest].insert(job);
  if (state == IPP_JOB_HELD) HeldJobs.insert(job);
  if (state == IPP_JOB_PROCESSING) ProcessingJobs.insert(job);
}

namespace {

uint64_t NextPlace = 0;

// The last job of the queue: new jobs of the lowest priority present (the
// usual case) are appended without walking the finished jobs kept as
// history in front of them.
job_t* JobsTail = nullptr;

void link_after(job_t* prev, job_t* job) {
  if (prev) {
    job->next = prev->next;
    prev->next = job;
  } else {
    job->next = Jobs;
    Jobs = job;
  }
  if (!job->next) JobsTail = job;
  JobIndex[job->id] = job;
  NumJobs++;
  SyncStateSets(job);
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
    job->place = 0;  // numbered below, with the jobs already queued
    link_after(prev, job);
    prev = job;
  }
  // Jobs placed by id among those already queued: number the whole queue
  // again so that its order and the waiting set's agree.
  PendingByDest.clear();
  HeldJobs.clear();
  ProcessingJobs.clear();
  for (job_t* job = Jobs; job; job = job->next) {
    job->place = ++NextPlace;
    SyncStateSets(job);
  }
}

void InsertAfterEqual(job_t* job) {
  job->place = ++NextPlace;  // last of its priority
  if (JobsTail && JobsTail->priority >= job->priority) {
    link_after(JobsTail, job);
    return;
  }
  job_t* prev = nullptr;
  for (job_t* cur = Jobs; cur && cur->priority >= job->priority; cur = cur->next) prev = cur;
  link_after(prev, job);
}

std::unique_ptr<job_t> UnlinkJob(job_t* job) {
  job_t* prev = nullptr;
  for (job_t* cur = Jobs; cur; prev = cur, cur = cur->next) {
    if (cur != job) continue;
    (prev ? prev->next : Jobs) = cur->next;
    if (JobsTail == cur) JobsTail = prev;
    cur->next = nullptr;
    DropFromStateSets(cur);
    JobIndex.erase(cur->id);
    NumJobs--;
    return std::unique_ptr<job_t>(cur);
  }
  return nullptr;
}

}  // namespace job_internal

using namespace job_internal;

job_t* FindProcessingJob(const std::function<bool(const job_t*)>& match) {
  for (job_t* job : ProcessingJobs)
    if (match(job)) return job;
  return nullptr;
}

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
  DropFromStateSets(job);  // keyed by priority
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
  if ((!prev || prev->priority > priority) && (!job->next || job->next->priority < priority)) {
    SyncStateSets(job);
    return 1;
  }
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

// The printer (or remote class) that can take a job for `dest` now, or
// null; *gone when the destination no longer exists.
printer_t* target_for(const std::string& dest, bool* gone, bool* shared) {
  *gone = false;
  *shared = false;
  printer_t* target = nullptr;
  if (printer_t* cls = LookupClass(dest)) {
    *shared = true;  // the next free member may differ from call to call
    if (cls->type & PRINTER_REMOTE)
      target = cls;
    else if (cls->state != IPP_PRINTER_STOPPED)
      target = NextFreeMemberOf(cls);
  } else if (printer_t* prn = LookupPrinter(dest)) {
    target = prn;
    if (target->type & PRINTER_IMPLICIT) {
      *shared = true;
      target = target->state == IPP_PRINTER_STOPPED ? nullptr : NextFreeMemberOf(target);
    }
  } else {
    *gone = true;
  }
  return target && CanTakeJob(target) ? target : nullptr;
}

void run_pending_pass() {
  time_t now = JobClock();
  // Timed holds that have ended; by id, as releasing changes the set.
  std::vector<int> due;
  for (const job_t* job : HeldJobs)
    if (job->hold_until != 0 && job->hold_until <= now && job->id != HoldingJobId) due.push_back(job->id);
  for (int id : due) {
    job_t* job = LookupJob(id);
    if (!job || JobState(job) != IPP_JOB_HELD) continue;
    SetJobState(job, IPP_JOB_PENDING);
    job->hold_until = 0;  // served: a later hold must not end at this time
    // Saved, so that a restart does not hold it once more (an "HH:MM" hold
    // would wait another day).
    SaveJob(job->id);
  }

  // Pending jobs in queue order, destination by destination: the first
  // waiting job of each, the earliest of them first. A printer found busy
  // stays busy for the rest of the pass (a job ending meanwhile asks for
  // another pass), so its other jobs are passed over at once. Each
  // destination's place is kept as a key and looked up again when its turn
  // comes: starting or cancelling a job may free others.
  struct head {
    queue_key key;
    std::string dest;
  };
  auto later = [](const head& a, const head& b) { return queue_order{}(b.key, a.key); };
  std::vector<head> heads;
  heads.reserve(PendingByDest.size());
  for (const auto& [dest, jobs] : PendingByDest) heads.push_back({queue_order::key(*jobs.begin()), dest});
  std::make_heap(heads.begin(), heads.end(), later);
  auto push = [&](head h) {
    heads.push_back(std::move(h));
    std::push_heap(heads.begin(), heads.end(), later);
  };
  while (!heads.empty()) {
    std::pop_heap(heads.begin(), heads.end(), later);
    head h = std::move(heads.back());
    heads.pop_back();
    auto d = PendingByDest.find(h.dest);
    if (d == PendingByDest.end()) continue;
    auto it = d->second.lower_bound(h.key);
    if (it == d->second.end()) continue;
    job_t* job = *it;
    const queue_key key = queue_order::key(job);
    if (queue_order{}(h.key, key)) {  // its first job went: the next one waits for its own turn
      push({key, std::move(h.dest)});
      continue;
    }
    bool gone = false, shared = false;
    printer_t* target = target_for(job->dest, &gone, &shared);
    if (gone) {
      LogDiagnostic(L_WARN, "Printer/class %s has gone away; cancelling job %d!", job->dest.c_str(), job->id);
      CancelJob(job->id, 1);
    } else if (target && StartJobHook) {
      StartJobHook(job->id, target);
    } else if (!shared) {
      continue;  // busy: the destination leaves this pass
    }
    // Its next job, after the place of the one just handled.
    d = PendingByDest.find(h.dest);
    if (d == PendingByDest.end()) continue;
    it = d->second.upper_bound(key);
    if (it != d->second.end()) push({queue_order::key(*it), std::move(h.dest)});
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
