// The job queue: every job the scheduler knows (waiting, printing and, as
// history, finished), its order, its states and what moves them, and the
// spool directory that mirrors it (one control file and one data file per
// document, in RequestRoot). Starting and stopping a job's processes belong
// to the job runner; it is reached through the two hooks below.
//
// Ownership: the queue owns its records. A job_t* stays valid until the job
// leaves the queue: CancelJob (when the job is not kept as history),
// PurgeOldJobs, RunPendingJobs (a job whose destination vanished) and
// DiscardAllJobs free records, so look a job up again by id after calling
// any of them. Everything runs in the scheduler's one thread.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scheduler/printers/printers.h"
#include "vorn/fd.h"
#include "vorn/ipp.h"

struct TypeRecord;

constexpr int kMaxJobProcs = 22;     // filters, decompression and backend, then 0
constexpr int kMaxJobFiles = 9999;   // documents of one job found at load time
constexpr size_t kJobBufferSize = 1024;  // status message buffer of a running job

struct job_t {
  job_t() = default;
  job_t(const job_t&) = delete;
  job_t& operator=(const job_t&) = delete;

  job_t* next = nullptr;                // queue link
  int id = 0;                           // unique, from 1 up
  int priority = 50;                    // job-priority, 1 to 100
  uint64_t place = 0;                   // order within a priority: the queue sorts by priority, then place
  ipp_attribute_t* state = nullptr;     // "job-state" (enum) in attrs; see JobState
  // The value of `state`, kept beside it by SetJobState: listings and the
  // queue read it for every job, and the attribute's value lies two
  // pointers away.
  int state_value = 0;
  ipp_attribute_t* sheets = nullptr;    // "job-media-sheets-completed" in attrs, or null
  time_t hold_until = 0;                // release time of a held job; 0 = only by request
  std::string username;                 // job-originating-user-name
  std::string dest;                     // destination (printer or class) name
  uint32_t dtype = 0;                   // PRINTER_CLASS | REMOTE | IMPLICIT (| FAX when moved)
  ipp_attribute_t* job_sheets = nullptr;  // "job-sheets" in attrs, or null
  int num_files = 0;                    // documents
  int current_file = 0;                 // document being printed, 0-based; 0 once finished
  std::vector<TypeRecord*> filetypes;   // num_files entries, types owned by TypeDB; null: not typed yet
  std::vector<int> compressions;        // num_files entries: 1 = gzip-compressed
  ipp_ptr attrs;                        // every job attribute: the control file
  vorn::unique_fd pipe;                 // read end of the running job's status pipe
  int cost = 0;                         // filter cost of the running document
  std::array<int, kMaxJobProcs> procs{};  // running processes, 0-terminated; reaped ones negated
  int status = 0;                       // 0; failed filter's exit status; negated for the backend
  printer_t* printer = nullptr;         // printer it runs on, not owned
  std::unique_ptr<char[]> buffer;       // status messages, kJobBufferSize bytes when running
  int bufused = 0;
  // The status line being read was longer than the buffer: its first part
  // was handled, the rest up to the next newline is dropped.
  bool buftrunc = false;
  int tries = 0;                        // failed deliveries of a fax job
  bool saved = false;                   // a control file was written (or queued to be)
  // The listing cache; shared with replies still being sent when it is
  // replaced.
  std::shared_ptr<const ipp_encoded_t> encoded;
};

// The queue, highest priority first; equal priorities in the order each
// operation inserts them. NumJobs counts it; NextJobId is never reused while
// the daemon runs and is raised at load time above every id found.
extern job_t* Jobs;
extern int NumJobs;
extern int NextJobId;

// "Now" for the queue (hold-until times, time stamps, releases): time() by
// default; tests point it elsewhere to drive the clock.
extern time_t (*JobClock)();

// Hand-over to the job runner. StartJobHook starts the job's current
// document on a printer (or a remote class); StopJobHook stops a processing
// job's processes (force: SIGKILL) and leaves it stopped (6), unlinked from
// its printer. The runner installs them; while they are null RunPendingJobs
// chooses targets but starts nothing, and without a runner no job can be
// processing, so there is nothing to stop.
extern void (*StartJobHook)(int id, printer_t* printer);
extern void (*StopJobHook)(int id, int force);

// ---- Records (job.cc) ----

// The job's state, its "job-state" attribute's value; 0 when it has none
// yet (a record still being built by a submission).
inline int JobState(const job_t* job) { return job ? job->state_value : 0; }
// Sets the state (attribute and state_value), adding "job-state" (enum,
// job group) when missing. The one way to change a job's state.
void SetJobState(job_t* job, int state);
// Stamps a time attribute (any group) with JobClock(): its type becomes
// integer. A missing attribute is not added.
void StampJobTime(job_t* job, std::string_view name);

// The job with that id, or null.
job_t* LookupJob(int id);
// The first processing job, in queue order, for which `match` is true, or
// null. Only processing jobs are looked at, not the whole queue.
job_t* FindProcessingJob(const std::function<bool(const job_t*)>& match);

// The job-group attributes of the job's attribute set, encoded, made again
// only when the set changed since the last call (its change count; code that
// edits an attribute in place calls ippTouch). Null when an attribute cannot
// be encoded. (job-encoding.cc)
std::shared_ptr<const ipp_encoded_t> JobEncoding(job_t* job);

// Active jobs (state <= 5) queued on `dest` (without regard to case) /
// owned by `username` (with regard to case).
int CountPrinterJobs(std::string_view dest);
int CountUserJobs(std::string_view username);

// ---- Queue (job-queue.cc) ----

// A new record with the next id, priority cut to 1..100, an empty attribute
// set and destination `dest`, inserted after every job of higher or equal
// priority. Null when no id or memory is left.
job_t* NewJob(int priority, std::string_view dest);

// Sets the priority (cut to 1..100) and "job-priority", saves, and moves the
// job behind every job of higher or equal priority unless it is still in
// order. 1, or 0 for an unknown id.
int ChangeJobPriority(int id, int priority);

// Starts whatever can start: releases held jobs whose hold-until time has
// come, purges jobs whose destination is gone, and hands each pending job
// whose destination (or a free member of its class) can take it to
// StartJobHook.
void RunPendingJobs();

// While MaxJobs is set and the queue holds at least MaxJobs jobs, purges
// finished jobs from the front. Active jobs are never removed.
void PurgeOldJobs();

// ---- Operations (job.cc) ----

// Cancels the job: stops it when processing, marks it cancelled, stamps
// "time-at-completed", removes its data files unless they are kept
// (PreserveJobHistory and PreserveJobFiles on, no purge, local destination)
// and keeps it as history (saved) when PreserveJobHistory is on, purge is
// off and the destination is local; otherwise deletes its control file and
// frees it. Unknown ids do nothing.
void CancelJob(int id, int purge);

// The end of a job that ran through: CancelJob without purge, except that
// a job kept as history is left in `final_state` (completed or aborted)
// and saved once in that state; then starts what can start
// (RunPendingJobs), before that save, so the freed printer's next job
// does not wait for the disk. No request is answered between the two, so
// no client sees the job finished before its file says so.
void FinishJob(int id, int final_state);

// CancelJob for every job whose destination and owner equal `dest` and
// `username` (with regard to case; an empty name matches every job), then
// RunPendingJobs. Without purge, finished jobs are left as they are.
void CancelMatchingJobs(std::string_view dest, std::string_view username, int purge);

// Each returns 1 when the job changed, 0 otherwise (unknown id, or a state
// the operation does not apply to).
// HoldJob: a job that is not finished becomes held (stopped first when
// processing); hold_until is not changed. Saves and runs RunPendingJobs,
// which does not release this job: the caller sets its hold-until next.
int HoldJob(int id);
// ReleaseJob: a held job becomes pending with hold_until 0 (a release by
// time, in RunPendingJobs, clears it too); saves, RunPendingJobs.
int ReleaseJob(int id);
// RequeueJob: a stopped job, or a finished one while PreserveJobFiles is on,
// becomes pending again from its first unprinted document with its tries
// reset; saves, RunPendingJobs.
int RequeueJob(int id);
// RetargetJob: a job not yet processing moves to the destination `dest`
// (printer first, then class): dest, dtype and "job-printer-uri" change and
// the job is saved; its place in the queue does not.
int RetargetJob(int id, std::string_view dest);

// Stops every processing job (with force) and frees the whole queue without
// touching the spool directory (a full reload). NextJobId is kept.
void DiscardAllJobs();

// ---- Hold-until (job-hold.cc) ----

// The hold-until time for `when` at `now`: "indefinite" 0; "no-hold" now;
// "day-time", "evening", "night", "second-shift", "third-shift", "weekend"
// from the local time; "HH:MM" or "HH:MM:SS" (hours 0-23, minutes and
// seconds 0-59) as a time of day in UTC, the next such moment at or after
// now. Returns 1, or 0 for any other text (`*hold_until` untouched).
int ComputeHoldUntil(std::string_view when, time_t now, time_t* hold_until);

// Applies ComputeHoldUntil to the job; an unknown text leaves hold_until as
// it was. A time not later than now releases a held job at the next
// RunPendingJobs. Returns 1 when hold_until was set.
int SetJobHoldUntil(int id, std::string_view when);

// ---- Spool directory (job-files.cc) ----

// Rebuilds the queue from the spool directory (start-up and full reload;
// jobs already queued are skipped), then runs PurgeOldJobs. Jobs are ordered
// by priority, then id; held jobs get their hold-until time again, held ones
// without one and processing ones become pending.
// Control files that cannot be opened or read, or lack a valid "job-state"
// or "job-printer-uri", are logged and left in place with their data files
// (logged too) for an administrator; their ids are never reused. An active
// job whose destination is unknown gets a stopped remote stand-in of that
// name; a finished one is deleted (logged). Data files of no job are deleted
// (logged); documents missing in the middle of a job are logged and the
// later ones renumbered to close the gap. What a save interrupted by a crash
// left beside a control file is removed.
void LoadAllJobs();

// Rewrites the job's control file "RequestRoot/c%05d" whole through the safe
// writer, mode 0600, owner User and group Group: a crash leaves the old or
// the new file. Returns 1, or 0 for an unknown id or a failure (logged; the
// job stays in memory and the old file in place). With the sync thread
// running (sync-queue.h) the new version is put in place by that thread, in
// the order of the saves; 1 then means queued.
int SaveJob(int id);

// The sync thread could not put the first control file of job `id` in
// place: the job is cancelled and removed unless it has ended already.
void JobSaveFailed(int id);

// Documents loaded from the spool are typed from their content when they are
// about to print: the type and compression of document `index` (from 0),
// unless it has them already. A file of no known type is sent raw.
void TypeJobDocument(job_t* job, int index);

// "RequestRoot/c%05d" and "RequestRoot/d%05d-%03d" (document from 1).
std::string JobControlFile(int id);
std::string JobDataFile(int id, int document);
