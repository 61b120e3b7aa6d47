// Shared inside the job queue's files only.
#pragma once

#include <memory>
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
void RemoveDataFiles(const job_t* job);

}  // namespace job_internal
