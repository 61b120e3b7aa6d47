// Starting and stopping the processes of a job's document: the filter
// chain, the backend, their pipes and the status pipe the main loop reads.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <new>

#include "scheduler/conf/conf.h"
#include "scheduler/fdset.h"
#include "scheduler/run/copy-loop.h"
#include "scheduler/run/run.h"
#include "scheduler/log.h"
#include "scheduler/types/types.h"
#include "vorn/http.h"
#include "vorn/fd.h"
#include "vorn/strings.h"

int FilterLevel = 0;
std::vector<status_pipe_t> StatusPipes;

namespace {

void take_cost(job_t* job) {
  FilterLevel -= job->cost;
  if (FilterLevel < 0) FilterLevel = 0;
  job->cost = 0;
}

// The failure as the printer's state message, with a history entry.
void printer_message(printer_t* p, std::string text) {
  p->state_message = vorn::cut(text, kMaxStateMessage);
  RecordPrinterHistory(p);
}

std::string quoted(std::string_view what, std::string_view name, int err) {
  return std::string(what) + " \"" + std::string(name) + "\" - " + std::strerror(err) + ".";
}

// A job that cannot go on now without being at fault goes back to the queue:
// no processes, no printer, pending, its document not counted as started.
void requeue(job_t* job, bool started_document) {
  take_cost(job);
  if (started_document && job->current_file > 0) job->current_file--;
  if (job->printer) {
    if (job->printer->job == job) job->printer->job = nullptr;
    if (job->printer->state == IPP_PRINTER_PROCESSING) ChangePrinterState(job->printer, IPP_PRINTER_IDLE, 0);
    job->printer = nullptr;
  }
  job->pipe.reset();
  job->procs.fill(0);
  SetJobState(job, IPP_JOB_PENDING);
}

// The file of a "file:" printer cannot be written: as with a failed
// backend, the printer stops and the job waits for it.
void device_failed(int id, printer_t* printer, const std::string& path) {
  int err = errno;
  LogDiagnostic(L_ERROR, "Unable to open \"%s\" for job %d - %s.", path.c_str(), id, std::strerror(err));
  printer_message(printer, quoted("Unable to open", path, err));
  if (job_t* job = LookupJob(id)) job->status = -1;
  StopJob(id, 1);
  if (job_t* job = LookupJob(id)) {
    SetJobState(job, IPP_JOB_PENDING);
    SaveJob(id);
  }
}

// Skips a document no chain can convert; the last one cancels the job.
void skip_document(job_t* job) {
  int id = job->id;
  if (JobState(job) == IPP_JOB_PROCESSING) requeue(job, false);
  job->current_file++;
  if (job->current_file >= job->num_files) {
    CancelJob(id, 0);
  } else {
    SaveJob(id);
  }
  // The next document need not wait for the next periodic check.
  RunPendingJobs();
}

bool is_banner(const job_t* job, const printer_t* p) {
  if (p->type & (PRINTER_REMOTE | PRINTER_IMPLICIT) || !job->job_sheets) return false;
  const auto& v = job->job_sheets->values;
  if (v.empty()) return false;
  if (job->current_file == 0 && !vorn::iequals(v[0].string.text, "none")) return true;
  return v.size() == 2 && !vorn::iequals(v[1].string.text, "none") && job->current_file == job->num_files - 1;
}


// The output of a "file:" printer: a device is opened as it is, any other
// path created, readable only by the scheduler's user. A job's first
// document replaces what was there; its later documents follow it rather
// than overwrite it. The scheduler writes here with its own rights, so a
// symbolic link (or a second hard link) planted where the file should be
// must not send the data, or the truncation, elsewhere: the last name is
// never followed, and what was opened must be a character device below
// /dev or a regular file with one link, checked before anything is cut.
vorn::unique_fd open_device_file(const std::string& path, bool first_document) {
  const bool device = path.starts_with("/dev/");
  // Devices are often links (/dev/serial/by-id/...): for them only what
  // was opened counts.
  int flags = O_WRONLY | O_NONBLOCK | O_CLOEXEC;
  if (!device) flags |= O_NOFOLLOW | O_CREAT | (first_document ? 0 : O_APPEND);
  vorn::unique_fd fd(::open(path.c_str(), flags, 0600));
  if (!fd) return fd;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return vorn::unique_fd();
  bool fits = device ? S_ISCHR(st.st_mode) : (S_ISREG(st.st_mode) && st.st_nlink == 1);
  if (!fits) {
    errno = device ? ENODEV : EPERM;
    return vorn::unique_fd();
  }
  if (!device && first_document && ::ftruncate(fd.get(), 0) != 0) return vorn::unique_fd();
  // Writes block like any output once the checks are done.
  int fl = ::fcntl(fd.get(), F_GETFL);
  if (fl >= 0) ::fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK);
  return fd;
}

// A document this small, going to a regular file rather than a device, is
// copied by the scheduler itself: a process would cost more than the copy,
// and a file takes the bytes at once (a device may keep a writer waiting).
constexpr off_t kCopyHereLimit = 1 << 20;

bool copy_here(int data, int out) {
  struct stat in {}, to {};
  return ::fstat(data, &in) == 0 && S_ISREG(in.st_mode) && in.st_size <= kCopyHereLimit &&
         ::fstat(out, &to) == 0 && S_ISREG(to.st_mode);
}

bool make_pipe(vorn::unique_fd& rd, vorn::unique_fd& wr) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  rd.reset(fds[0]);
  wr.reset(fds[1]);
  return true;
}

// Decides the chain for the job's current document; false when the
// document was skipped (or the job cancelled).
bool find_chain(job_t* job, printer_t* printer, std::vector<FilterRecord>& chain, int* cost) {
  *cost = 0;
  if (printer->raw) {
    LogDiagnostic(L_DEBUG, "StartJob: Sending job to queue tagged as raw...");
    return true;
  }
  int n = 0;
  TypeRecord* src = job->filetypes[size_t(job->current_file)];
  chain = FindFilterChain(TypeDB.get(), src, printer->filetype, &n, kFilterChainDepth);
  if (chain.empty()) {
    LogDiagnostic(L_ERROR, "Unable to convert file %d to printable format for job %d!", job->current_file, job->id);
    LogDiagnostic(L_INFO, "Hint: Do you have Ghostscript installed?");
    if (LogLevel < L_DEBUG) LogDiagnostic(L_INFO, "Hint: Try setting the LogLevel to \"debug\".");
    skip_document(job);
    return false;
  }
  std::erase_if(chain, [](const FilterRecord& f) { return f.program == "-"; });
  for (const FilterRecord& f : chain) *cost += f.cost;
  return true;
}

}  // namespace

void StartJob(int id, printer_t* printer) {
  LogDiagnostic(L_DEBUG, "StartJob(%d, %p)", id, static_cast<void*>(printer));
  job_t* job = LookupJob(id);
  if (!job || !printer) return;
  LogDiagnostic(L_DEBUG, "StartJob() id = %d, file = %d/%d", id, job->current_file, job->num_files);

  if (job->num_files == 0) {
    LogDiagnostic(L_ERROR, "Job ID %d has no files!  Cancelling it!", id);
    CancelJob(id, 0);
    return;
  }
  if (job->current_file < 0 || job->current_file >= job->num_files ||
      size_t(job->current_file) >= job->filetypes.size()) {
    // Nothing left to print: the job is done.
    job->current_file = 0;
    CancelJob(id, 0);
    return;
  }

  TypeJobDocument(job, job->current_file);
  std::vector<FilterRecord> chain;
  int cost = 0;
  if (!find_chain(job, printer, chain, &cost)) return;

  if (FilterLimit > 0 && FilterLevel > 0 && FilterLevel + cost > FilterLimit) {
    LogDiagnostic(L_INFO, "Holding job %d because filter limit has been reached.", id);
    LogDiagnostic(L_DEBUG, "StartJob: id = %d, file = %d, cost = %d, level = %d, limit = %d", id, job->current_file,
                  cost, FilterLevel, FilterLimit);
    // A job between two documents waits in the queue like any other.
    if (JobState(job) == IPP_JOB_PROCESSING) requeue(job, false);
    return;
  }
  job->cost = cost;
  FilterLevel += cost;

  if (size_t(job->current_file) < job->compressions.size() && job->compressions[size_t(job->current_file)] == 1) {
    FilterRecord unzip;
    unzip.cost = 0;
    unzip.program = "unzipconv";
    chain.insert(chain.begin(), std::move(unzip));
  }

  SetJobState(job, IPP_JOB_PROCESSING);
  job->status = 0;
  job->printer = printer;
  printer->job = job;
  ChangePrinterState(printer, IPP_PRINTER_PROCESSING, 0);
  if (job->current_file == 0) StampJobTime(job, "time-at-processing");

  if (!job->job_sheets) {
    LogDiagnostic(L_DEBUG, "No job-sheets attribute.");
    if ((job->job_sheets = ippFindAttribute(job->attrs.get(), "job-sheets", IPP_TAG_ZERO)))
      LogDiagnostic(L_DEBUG, "... but someone added one without setting job_sheets!");
  } else if (job->job_sheets->values.size() == 1) {
    LogDiagnostic(L_DEBUG, "job-sheets=%s", job->job_sheets->values[0].string.text.c_str());
  } else if (job->job_sheets->values.size() >= 2) {
    LogDiagnostic(L_DEBUG, "job-sheets=%s,%s", job->job_sheets->values[0].string.text.c_str(),
                  job->job_sheets->values[1].string.text.c_str());
  }
  bool banner = is_banner(job, printer);
  LogDiagnostic(L_DEBUG, "banner_page = %d", banner ? 1 : 0);

  bool remote = (printer->type & PRINTER_REMOTE) != 0;
  std::vector<std::string> args = JobArguments(job, printer->name, banner, remote);
  std::string file = JobDataFile(id, job->current_file + 1);
  LogDiagnostic(L_DEBUG, "StartJob: argv = \"%s\",\"%s\",\"%s\",\"%s\",\"%s\",\"%s\",\"%s\"", args[0].c_str(),
                args[1].c_str(), args[2].c_str(), args[3].c_str(), args[4].c_str(), args[5].c_str(), file.c_str());
  // The backend alone gets the device URI with its user and password;
  // filters and the log see it without them.
  std::vector<std::string> backend_env =
      JobEnvironment(job, printer, job->filetypes[size_t(job->current_file)], banner, DaemonJobEnv());
  std::vector<std::string> env = backend_env;
  for (std::string& e : env)
    if (e.starts_with("DEVICE_URI=")) e = "DEVICE_URI=" + httpPublicURI(printer->device_uri);
  for (size_t i = 0; i < env.size(); i++) LogDiagnostic(L_DEBUG, "StartJob: envp[%d]=\"%s\"", int(i), env[i].c_str());
  std::vector<char*> envp = ArgPointers(env);

  const bool first_document = job->current_file == 0;
  job->current_file++;

  if (!job->buffer) {
    LogDiagnostic(L_DEBUG2, "StartJob: Allocating status buffer...");
    job->buffer.reset(new (std::nothrow) char[kJobBufferSize]);
    if (!job->buffer) {
      LogDiagnostic(L_EMERG, "Unable to allocate memory for job status buffer - %s", std::strerror(ENOMEM));
      CancelJob(id, 0);
      return;
    }
  }
  job->bufused = 0;
  job->buftrunc = false;

  vorn::unique_fd status_rd, status_wr;
  vorn::unique_fd null_in(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (!make_pipe(status_rd, status_wr) || !null_in) {
    int err = errno;
    LogDiagnostic(L_ERROR, "Unable to create job status pipes - %s.", std::strerror(err));
    printer_message(printer, std::string("Unable to create status pipes - ") + std::strerror(err) + ".");
    // Out of descriptors is passing: the job waits in the queue for it.
    requeue(job, true);
    return;
  }
  LogDiagnostic(L_DEBUG, "StartJob: statusfds = [ %d %d ]", status_rd.get(), status_wr.get());
  job->pipe = std::move(status_rd);
  job->procs.fill(0);
  size_t slot = 0;
  LogDiagnostic(L_DEBUG, "StartJob: filterfds[%d] = [ %d %d ]", 1, null_in.get(), -1);

  // The URI was checked when it was set; FileDevice may have changed since.
  if (std::string why = DeviceURIProblem(printer->device_uri); !why.empty()) {
    LogDiagnostic(L_ERROR, "Device URI of printer %s refused for job %d - %s.", printer->name.c_str(), id,
                  why.c_str());
    printer_message(printer, "Device URI refused: " + why + ".");
    job->status = -1;  // as a failed backend: the printer stops, the job waits
    StopJob(id, 1);
    if ((job = LookupJob(id))) {
      SetJobState(job, IPP_JOB_PENDING);
      SaveJob(id);
    }
    return;
  }
  const bool to_file = printer->device_uri.starts_with("file:");
  std::string device_path = to_file ? printer->device_uri.substr(5) : std::string();

  // The next process reads `input`; the first one reads the file itself.
  vorn::unique_fd input = std::move(null_in);
  bool first = true;

  for (size_t i = 0; i < chain.size(); i++) {
    const std::string& program = chain[i].program;
    std::string path = program.starts_with("/") ? program : ServerBin + "/filter/" + program;
    vorn::unique_fd next_in, output;
    bool last = i + 1 == chain.size();
    if (last && to_file) {
      output = open_device_file(device_path, first_document);
    } else if (!make_pipe(next_in, output)) {
      output.reset();
    }
    if (!output && last && to_file) {
      device_failed(id, printer, device_path);
      return;
    }
    if (!output) {
      int err = errno;
      LogDiagnostic(L_ERROR, "Unable to start filter \"%s\" - %s.", program.c_str(), std::strerror(err));
      printer_message(printer, quoted("Unable to start filter", program, err));
      CancelJob(id, 0);
      return;
    }
    LogDiagnostic(L_DEBUG, "StartJob: filter = \"%s\"", path.c_str());
    LogDiagnostic(L_DEBUG, "StartJob: filterfds = [ %d %d ], status %d", input.get(), output.get(),
                  status_wr.get());
    std::vector<std::string> fargs = args;
    if (first) fargs.push_back(file);
    std::vector<char*> argv = ArgPointers(fargs);
    pid_t pid = 0;
    start_process(path.c_str(), argv.data(), envp.data(), input.get(), output.get(), status_wr.get(), 0, &pid);
    if (pid <= 0) {
      int err = errno;
      LogDiagnostic(L_ERROR, "Unable to start filter \"%s\" - %s.", program.c_str(), std::strerror(err));
      printer_message(printer, quoted("Unable to start filter", program, err));
      CancelJob(id, 0);
      return;
    }
    job->procs[slot++] = pid;
    LogDiagnostic(L_INFO, "Started filter %s (PID %d) for job %d.", path.c_str(), int(pid), id);
    input = std::move(next_in);  // the pipe's read end, or none after the file
    first = false;
  }

  if (to_file) {
    if (chain.empty()) {
      // Nothing to convert: the document's bytes go to the file as they are.
      vorn::unique_fd data(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
      vorn::unique_fd out = open_device_file(device_path, first_document);
      if (data && out && copy_here(data.get(), out.get())) {
        // As the copy process would: a failure is the last process's, and
        // the status pipe's end (below) finishes the document.
        if (int err = vorn::copy::copy_all(data.get(), out.get(), status_wr.get())) job->status = -err;
        LogDiagnostic(L_INFO, "Copied job %d to %s.", id, device_path.c_str());
      } else {
        pid_t pid = 0;
        if (data && out) start_copy_process(data.get(), out.get(), status_wr.get(), &pid);
        if (pid <= 0) {
          device_failed(id, printer, device_path);
          return;
        }
        job->procs[slot++] = pid;
        LogDiagnostic(L_INFO, "Started copy to %s (PID %d) for job %d.", device_path.c_str(), int(pid), id);
      }
    }
  } else {
    std::string scheme(vorn::cut(std::string_view(printer->device_uri).substr(0, printer->device_uri.find(':')),
                                 kMaxScheme));
    std::string path = ServerBin + "/backend/" + scheme;
    vorn::unique_fd out(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    std::vector<std::string> bargs = args;
    // Everyone can read argv: the whole URI is only in DEVICE_URI.
    bargs[0] = httpPublicURI(printer->device_uri);
    if (first) bargs.push_back(file);
    std::vector<char*> argv = ArgPointers(bargs);
    LogDiagnostic(L_DEBUG, "StartJob: backend = \"%s\"", path.c_str());
    pid_t pid = 0;
    std::vector<char*> benvp = ArgPointers(backend_env);
    if (out)
      start_process(path.c_str(), argv.data(), benvp.data(), input.get(), out.get(), status_wr.get(), 1, &pid);
    if (pid <= 0) {
      int err = errno;
      LogDiagnostic(L_ERROR, "Unable to start backend \"%s\" - %s.", scheme.c_str(), std::strerror(err));
      printer_message(printer, quoted("Unable to start backend", scheme, err));
      CancelJob(id, 0);
      return;
    }
    job->procs[slot++] = pid;
    LogDiagnostic(L_INFO, "Started backend %s (PID %d) for job %d.", path.c_str(), int(pid), id);
  }

  // The children have their copies: end of file on the status pipe now
  // means every one of them closed it.
  input.reset();
  status_wr.reset();
  LogDiagnostic(L_DEBUG2, "StartJob: Adding fd %d to InputSet...", job->pipe.get());
  InputSet.set(job->pipe.get());
  int fd = job->pipe.get();
  std::erase_if(StatusPipes, [fd](const status_pipe_t& p) { return p.fd == fd; });
  StatusPipes.push_back({id, fd});
}

void StopJob(int id, int force) {
  LogDiagnostic(L_DEBUG, "StopJob: id = %d, force = %d", id, force);
  job_t* job = LookupJob(id);
  if (!job || JobState(job) != IPP_JOB_PROCESSING) return;

  take_cost(job);
  if (printer_t* p = job->printer) {
    bool on_class = (job->dtype & (PRINTER_CLASS | PRINTER_IMPLICIT)) != 0;
    // A fax printer retries on its own; stopping it would end the retries.
    if (job->status < 0 && !on_class && !(p->type & PRINTER_FAX))
      ChangePrinterState(p, IPP_PRINTER_STOPPED, 1);
    else if (p->state != IPP_PRINTER_STOPPED)
      ChangePrinterState(p, IPP_PRINTER_IDLE, 0);
    LogDiagnostic(L_DEBUG, "StopJob: printer state is %d", p->state);
    if (p->job == job) p->job = nullptr;
  }
  SetJobState(job, IPP_JOB_STOPPED);
  job->printer = nullptr;
  if (job->current_file > 0) job->current_file--;

  for (int& pid : job->procs) {
    if (pid > 0) ::kill(pid, force ? SIGKILL : SIGTERM);
    pid = 0;
  }
  if (job->pipe) {
    LogDiagnostic(L_DEBUG2, "StopJob: Removing fd %d from InputSet...", job->pipe.get());
    InputSet.clear(job->pipe.get());
    job->pipe.reset();
  }
  if (job->buffer) {
    LogDiagnostic(L_DEBUG2, "StopJob: Freeing status buffer...");
    job->buffer.reset();
  }
  job->bufused = 0;
  job->buftrunc = false;
}

void StopActiveJobs() {
  for (job_t* job = Jobs; job;) {
    job_t* next = job->next;
    if (JobState(job) == IPP_JOB_PROCESSING) {
      int id = job->id;
      StopJob(id, 1);
      if ((job = LookupJob(id))) {
        SetJobState(job, IPP_JOB_PENDING);
        SaveJob(id);
      }
    }
    job = next;
  }
}

void InstallJobRunner() {
  StartJobHook = StartJob;
  StopJobHook = StopJob;
}
