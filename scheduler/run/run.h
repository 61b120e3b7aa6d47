// Running print jobs: the child processes of a document (filters and
// backend), the command line, options and environment every filter and
// backend receives, the status lines they write back, and what the end of a
// document means for the job and its printer.
//
// Everything runs in the scheduler's one thread. Jobs may leave the queue
// inside StartJob, StopJob and UpdateJob (a cancelled job is freed unless it
// is kept as history): callers hold job ids across these calls, never
// job_t pointers.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "scheduler/jobs/job.h"
#include "scheduler/printers/printers.h"

struct TypeRecord;

// ---- Child processes (process.cc) ----

// Starts `path` with `argv` and `envp` (null-terminated, passed to execve()
// unchanged: no search path, no shell). `infd` and `outfd` become standard
// input and output; `errfd` becomes standard error only when it is above 2
// (else the child keeps the scheduler's). Every other descriptor is closed in
// the child, its umask is 077, SIGTERM, SIGCHLD and SIGPIPE get their default
// action. Without `root` the child runs at FilterNice and, when the
// scheduler is root, without supplementary groups as Group and User; a
// failure to change identity ends it with errno as exit status, as does a
// failed execve() (after "<path>: <error>" on its standard error).
// The caller keeps its descriptors. Returns the pid (also in `*pid` when not
// null), or 0 when fork() failed (logged). SIGTERM and SIGCHLD are held until
// the pid is known, so the reaper always finds it recorded.
pid_t start_process(const char* path, char* const argv[], char* const envp[], int infd, int outfd,
                    int errfd, int root, pid_t* pid);

// To be called after the scheduler changes a signal's action: children
// learn anew which signals to reset (the list is kept between starts).
void ChildSignalsChanged();

// The null-terminated pointer vector execve takes, over `strings` (which
// must outlive it).
std::vector<char*> ArgPointers(std::vector<std::string>& strings);

// A CGI program: the same child set-up as a filter's (as User and Group
// without supplementary groups when the scheduler is root, umask 077, every
// other descriptor closed, signals at their default action) but at the
// scheduler's own priority. Same result as start_process.
pid_t start_cgi_process(const char* path, char* const argv[], char* const envp[], int infd, int outfd,
                        int errfd, pid_t* pid);

// The same child set-up, but instead of a program the child copies its
// standard input to its standard output (a document that needs no filter on
// a printer writing to a file). A failed write ends it with errno as exit
// status after an "ERROR:" line on its standard error.
pid_t start_copy_process(int infd, int outfd, int errfd, pid_t* pid);

// ---- Pure builders (job-options.cc) ----

// The options string of argv[5]: the job-group attributes of `attrs` in
// order, except copies, job-name, the mime type, uri, with-language and
// collection values, "time-*", "job-*" (but for a `remote` printer
// job-billing, job-sheets, job-hold-until and job-priority) and, for a
// `banner` document, page-label, page-border and number-up*, and attributes
// whose names are not keywords. A text with any byte the option parser
// splits on is single-quoted; quotes and backslashes are escaped and NUL
// bytes left out, so vornParseOptions reads back exactly the names and the
// values (several values joined by ","). A boolean whose name starts with
// "no" is written "name=true" or "name=false".
std::string JobOptionsString(const ipp_t* attrs, bool banner, bool remote);

// Whether JobOptionsString writes attribute `a`.
bool JobOptionWanted(const ipp_attribute_t* a, bool banner, bool remote);

// One value of `a` as a filter reads it back, before any quoting: numbers,
// ranges ("1-5") and resolutions ("300x300dpi") as text, a text as it is.
std::string JobOptionValue(const ipp_attribute_t* a, const ipp_value_t& v);

// An IPP keyword: lower-case letters, digits, "-", "_" and ".", not empty.
// The only attribute names a job may carry.
bool ValidAttributeName(std::string_view name);

// argv[0..5] for a job's processes (argv[6], the file name, is the
// runner's): printer name, id, owner, title (job-name, else
// "<printer>-<id>"), copies ("1" when absent and for a banner), options.
std::vector<std::string> JobArguments(const job_t* job, std::string_view printer_name, bool banner,
                                      bool remote);

// What the environment of a job's processes is built from; the caller
// fills in the values of the daemon (or a test its own).
struct job_env_t {
  std::string server_bin, server_root, rip_cache, temp_dir, data_dir, font_path;
  std::string tz;            // "TZ=..." or "" (then no entry)
  std::string classification;  // Classification, "" when unset
  // The daemon's own LD_LIBRARY_PATH, LD_PRELOAD, DYLD_LIBRARY_PATH,
  // SHLIB_PATH and NLSPATH entries ("NAME=value"), those it has, in order.
  std::vector<std::string> inherited;
};

// The values of this daemon: the settings and its environment.
job_env_t DaemonJobEnv();

// The environment entries, in order (see the calling convention of filters
// and backends): PATH, SOFTWARE, USER, CHARSET, LANG, TZ (when set), PPD,
// VORN_SERVERROOT, RIP_MAX_CACHE, TMPDIR, CONTENT_TYPE, DEVICE_URI, PRINTER,
// VORN_DATADIR, VORN_FONTPATH, the inherited ones, CLASSIFICATION (not for a
// banner) and CLASS (jobs queued on a class).
std::vector<std::string> JobEnvironment(const job_t* job, const printer_t* printer, const TypeRecord* type,
                                        bool banner, const job_env_t& env);

// "LANG=" value for an attributes-natural-language: "en" stays, "pt-br"
// becomes "pt_BR", anything else "C".
std::string JobLanguage(std::string_view natural_language);

// ---- The runner (job-run.cc) ----

// Sum of the filter costs of the documents being processed now.
extern int FilterLevel;

// Starts the job's current document on `printer` (see job.h's
// StartJobHook). Unknown ids do nothing.
void StartJob(int id, printer_t* printer);
// Stops a processing job's processes (SIGKILL with `force`, else SIGTERM)
// and leaves it stopped, unlinked from its printer, current_file back on the
// document it was printing. A failed backend stops the printer (not for jobs
// queued on a class, nor fax printers, which retry).
void StopJob(int id, int force);
// StopJob with force for every processing job, which becomes pending again
// (saved), so that the next start prints it. Used at shutdown.
void StopActiveJobs();
// Installs StartJob and StopJob as the job queue's hooks.
void InstallJobRunner();

// The status pipes the main loop watches: one entry per pipe StartJob
// opened, so that a pass of the loop costs the running jobs, not the whole
// queue. Entries outlive their pipes: a user checks that the descriptor is
// still in InputSet and still the job's own. Opening a pipe drops the older
// entries of its descriptor, so there is at most one per descriptor.
struct status_pipe_t {
  int id;
  int fd;
};
extern std::vector<status_pipe_t> StatusPipes;

// ---- Status lines (job-status.cc) ----

// Reads what the job's status pipe has (call when it is readable) and acts
// on each complete line; at end of file finishes the document. `job` may be
// freed by the call.
void UpdateJob(job_t* job);

// Finishes documents whose status pipe ended before all of their processes
// had been reaped; the main loop calls it after reaping children.
void FinishExitedJobs();
