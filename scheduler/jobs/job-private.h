// Shared inside the job queue's files only.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "scheduler/jobs/job.h"

namespace job_internal {

// Links each job of `jobs` before the first queued job of lower priority,
// or of the same priority and a higher id (the load order), and counts it.
// Sorts `jobs` first, so one walk of the queue places them all: the load of
// a large spool stays linear. The queue owns the jobs then.
void InsertAllByPriorityAndId(std::vector<job_t*>& jobs);
// Links `job` after every queued job of higher or equal priority (arrival
// order within a priority) and counts it.
void InsertAfterEqual(job_t* job);
// Every queued job by id; kept by the two functions above and UnlinkJob.
extern std::unordered_map<int, job_t*> JobIndex;
// The queued jobs that are held / processing (and pending, below), in queue order:
// what RunPendingJobs and the reaper look at, without walking the finished
// jobs kept as history. SyncStateSets puts a job in the set of its state
// (or none) after the state changed; a job's priority and place must not
// change while it is in one.
struct queue_key {
  int priority;
  uint64_t place;
};
struct queue_order {
  using is_transparent = void;
  static queue_key key(const job_t* j) { return {j->priority, j->place}; }
  static queue_key key(const queue_key& k) { return k; }
  template <typename A, typename B>
  bool operator()(const A& a, const B& b) const {
    queue_key x = key(a), y = key(b);
    return x.priority != y.priority ? x.priority > y.priority : x.place < y.place;
  }
};
using job_set = std::set<job_t*, queue_order>;
extern job_set HeldJobs;
extern job_set ProcessingJobs;
// The pending jobs, by destination (job->dest, which must not change while
// the job is in there either): RunPendingJobs passes over a busy printer's
// whole backlog at once instead of job by job.
extern std::unordered_map<std::string, job_set> PendingByDest;
void SyncStateSets(job_t* job);
// Takes `job` out of every set above (SyncStateSets files it again).
void DropFromStateSets(job_t* job);
// Unlinks `job` from the queue and uncounts it; the caller owns it then.
std::unique_ptr<job_t> UnlinkJob(job_t* job);
// Frees a record that left the queue: a printer still pointing at it
// forgets it.
void FreeJob(std::unique_ptr<job_t> job);

// The job HoldJob is holding while its RunPendingJobs runs: that pass must
// not release it again because of an old hold-until time (0: none).
extern int HoldingJobId;

// Fills the state, sheets and job_sheets references, priority and username
// from the attributes; a missing priority becomes 50 and a missing owner
// "anonymous", both also added as attributes.
void FillJobFromAttrs(job_t* job);

// Removes the control file (and what the safe writer may have left beside
// it) / the data files of documents 1 to num_files.
void RemoveControlFile(int id);
void RemoveDataFiles(int id, int num_files);

}  // namespace job_internal
