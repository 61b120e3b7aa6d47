// The job record and the operations that change one job: cancel, hold,
// release, requeue, retarget; the counts; discarding the queue.
#include "scheduler/jobs/job.h"

#include <algorithm>

#include "scheduler/conf/conf.h"
#include "scheduler/jobs/job-private.h"
#include "scheduler/log.h"
#include "vorn/strings.h"

using namespace job_internal;

job_t* Jobs = nullptr;
int NumJobs = 0;
int NextJobId = 1;

namespace {
time_t system_clock() { return ::time(nullptr); }
}  // namespace

time_t (*JobClock)() = system_clock;
void (*StartJobHook)(int id, printer_t* printer) = nullptr;
void (*StopJobHook)(int id, int force) = nullptr;

// ---- Records ----

void SetJobState(job_t* job, int state) {
  if (!job) return;
  job->state_value = state;
  if (job->state && !job->state->values.empty()) {
    job->state->value_tag = IPP_TAG_ENUM;
    job->state->values[0].integer = state;
    ippTouch(job->attrs.get());
  } else {
    if (!job->attrs) job->attrs.reset(ippNew());
    job->state = ippAddInteger(job->attrs.get(), IPP_TAG_JOB, IPP_TAG_ENUM, "job-state", state);
  }
  SyncStateSets(job);
}

void StampJobTime(job_t* job, std::string_view name) {
  if (!job || !job->attrs) return;
  ipp_attribute_t* a = ippFindAttribute(job->attrs.get(), name, IPP_TAG_ZERO);
  if (!a) return;
  a->value_tag = IPP_TAG_INTEGER;
  a->values.clear();
  a->values.emplace_back();
  a->values[0].integer = int(JobClock());
  ippTouch(job->attrs.get());
}

job_t* LookupJob(int id) {
  auto it = JobIndex.find(id);
  return it == JobIndex.end() ? nullptr : it->second;
}

int CountPrinterJobs(std::string_view dest) {
  int count = 0;
  for (const job_t* job = Jobs; job; job = job->next)
    if (JobState(job) <= IPP_JOB_PROCESSING && vorn::iequals(job->dest, dest)) count++;
  return count;
}

int CountUserJobs(std::string_view username) {
  int count = 0;
  for (const job_t* job = Jobs; job; job = job->next)
    if (JobState(job) <= IPP_JOB_PROCESSING && job->username == username) count++;
  return count;
}

namespace job_internal {

int HoldingJobId = 0;

void FreeJob(std::unique_ptr<job_t> job) {
  if (!job) return;
  // A printer must never point at a freed job.
  for (printer_t* p = Printers; p; p = p->next)
    if (p->job == job.get()) p->job = nullptr;
}

void FillJobFromAttrs(job_t* job) {
  ipp_t* attrs = job->attrs.get();
  job->state = ippFindAttribute(attrs, "job-state", IPP_TAG_ENUM);
  job->state_value = job->state && !job->state->values.empty() ? job->state->values[0].integer : 0;
  job->sheets = ippFindAttribute(attrs, "job-media-sheets-completed", IPP_TAG_INTEGER);
  job->job_sheets = ippFindAttribute(attrs, "job-sheets", IPP_TAG_NAME);

  // The scheduler always writes both; a file that lacks one still gets the
  // values a submission without them would have had.
  ipp_attribute_t* a = ippFindAttribute(attrs, "job-priority", IPP_TAG_INTEGER);
  if (a && !a->values.empty()) {
    job->priority = std::clamp(a->values[0].integer, 1, 100);
  } else {
    job->priority = 50;
    ippAddInteger(attrs, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-priority", job->priority);
  }
  a = ippFindAttribute(attrs, "job-originating-user-name", IPP_TAG_NAME);
  if (!a) a = ippFindAttribute(attrs, "job-originating-user-name", IPP_TAG_NAMELANG);
  if (a && !a->values.empty()) {
    job->username = a->values[0].string.text;
  } else {
    job->username = "anonymous";
    ippAddString(attrs, IPP_TAG_JOB, IPP_TAG_NAME, "job-originating-user-name", "", job->username);
  }
}

}  // namespace job_internal

// ---- Operations ----

namespace {

// Takes the job out of the active queue in `state`; see CancelJob. With
// `start_next`, pending jobs are started before a job kept as history is
// saved: its printer's next job runs while the file is written and synced.
void end_job(int id, int purge, int state, bool start_next = false) {
  job_t* job = LookupJob(id);
  if (!job) return;

  if (JobState(job) == IPP_JOB_PROCESSING && StopJobHook) {
    StopJobHook(id, 0);
    if (!(job = LookupJob(id))) return;
  }
  SetJobState(job, state);
  StampJobTime(job, "time-at-completed");
  job->current_file = 0;

  bool remote = (job->dtype & PRINTER_REMOTE) != 0;
  const bool history = PreserveJobHistory && !purge && !remote;
  const int documents = !history || !PreserveJobFiles ? job->num_files : 0;  // to remove
  if (!history) {
    RemoveControlFile(id);
    FreeJob(UnlinkJob(job));
  }
  // The freed printer's next job starts first: removing the documents (a
  // slow call on some file systems) and saving the history wait until it
  // runs.
  if (start_next) RunPendingJobs();
  RemoveDataFiles(id, documents);
  if (history) SaveJob(id);
}

}  // namespace

void CancelJob(int id, int purge) {
  LogDiagnostic(L_DEBUG, "CancelJob: id = %d", id);
  end_job(id, purge, IPP_JOB_CANCELLED);
}

void FinishJob(int id, int final_state) { end_job(id, 0, final_state, true); }

void CancelMatchingJobs(std::string_view dest, std::string_view username, int purge) {
  for (job_t* job = Jobs; job;) {
    job_t* next = job->next;  // CancelJob may free `job`
    bool match = (dest.empty() || job->dest == dest) && (username.empty() || job->username == username);
    // Cancelling history again would turn completed jobs into cancelled ones.
    if (match && (purge || JobState(job) <= IPP_JOB_STOPPED)) CancelJob(job->id, purge);
    job = next;
  }
  RunPendingJobs();
}

int HoldJob(int id) {
  LogDiagnostic(L_DEBUG, "HoldJob: id = %d", id);
  job_t* job = LookupJob(id);
  // A finished job has nothing left to hold; holding it would bring it back.
  if (!job || JobState(job) > IPP_JOB_STOPPED) return 0;
  if (JobState(job) == IPP_JOB_PROCESSING && StopJobHook) {
    StopJobHook(id, 0);
    if (!(job = LookupJob(id))) return 0;
  }
  SetJobState(job, IPP_JOB_HELD);
  SaveJob(id);
  // The pass frees the printer for others; the job itself stays held until
  // the caller has set its new hold-until time.
  HoldingJobId = id;
  RunPendingJobs();
  HoldingJobId = 0;
  return 1;
}

int ReleaseJob(int id) {
  LogDiagnostic(L_DEBUG, "ReleaseJob: id = %d", id);
  job_t* job = LookupJob(id);
  if (!job || JobState(job) != IPP_JOB_HELD) return 0;
  SetJobState(job, IPP_JOB_PENDING);
  job->hold_until = 0;  // served: a later hold must not end at this time
  SaveJob(id);
  RunPendingJobs();
  return 1;
}

int RequeueJob(int id) {
  job_t* job = LookupJob(id);
  if (!job) return 0;
  int state = JobState(job);
  // Never a job that is waiting or printing: requeueing a processing job
  // would start it a second time while its processes still run.
  if (state != IPP_JOB_STOPPED && !(state >= IPP_JOB_CANCELLED && PreserveJobFiles)) return 0;
  job->tries = 0;
  SetJobState(job, IPP_JOB_PENDING);
  SaveJob(id);
  RunPendingJobs();
  return 1;
}

int RetargetJob(int id, std::string_view dest) {
  printer_t* p = LookupPrinter(dest);
  if (!p) p = LookupClass(dest);
  job_t* job = LookupJob(id);
  if (!p || !job || JobState(job) >= IPP_JOB_PROCESSING) return 0;

  DropFromStateSets(job);  // filed by destination
  job->dest = p->name;
  SyncStateSets(job);
  job->dtype = p->type & (PRINTER_CLASS | PRINTER_REMOTE | PRINTER_IMPLICIT | PRINTER_FAX);
  ipp_attribute_t* uri = ippFindAttribute(job->attrs.get(), "job-printer-uri", IPP_TAG_URI);
  if (uri && !uri->values.empty()) {
    uri->values[0].string.text = p->uri;
    ippTouch(job->attrs.get());
  } else {
    ippAddString(job->attrs.get(), IPP_TAG_JOB, IPP_TAG_URI, "job-printer-uri", "", p->uri);
  }
  SaveJob(id);
  return 1;
}

void DiscardAllJobs() {
  if (StopJobHook) {
    for (job_t* job = Jobs; job;) {
      job_t* next = job->next;
      if (JobState(job) == IPP_JOB_PROCESSING) StopJobHook(job->id, 1);
      job = next;
    }
  }
  while (Jobs) FreeJob(UnlinkJob(Jobs));
}
