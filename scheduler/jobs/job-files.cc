// The spool directory: control files "c%05d" (the job's attributes as one
// IPP message) and data files "d%05d-%03d" (the documents as received);
// loading the queue from them and saving a job.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "scheduler/buffile.h"
#include "scheduler/conf/conf.h"
#include "scheduler/jobs/job-private.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"
#include "scheduler/sync-queue.h"
#include "scheduler/types/types.h"
#include "vorn/http.h"
#include "vorn/strings.h"

using namespace job_internal;

namespace {

std::string control_name(int id) {
  char name[32];
  std::snprintf(name, sizeof(name), "c%05d", id);
  return name;
}

std::string data_name(int id, int document) {
  char name[48];
  std::snprintf(name, sizeof(name), "d%05d-%03d", id, document);
  return name;
}

// "c%05d" exactly, as SaveJob names it, for an id from 1 up. Other spellings
// of the same number are not ours and are left alone.
bool parse_control_name(std::string_view name, int* id) {
  if (name.size() < 6 || name[0] != 'c') return false;
  int v = 0;
  auto [end, ec] = std::from_chars(name.data() + 1, name.data() + name.size(), v);
  if (ec != std::errc() || end != name.data() + name.size() || v < 1) return false;
  if (control_name(v) != name) return false;
  *id = v;
  return true;
}

// "d%05d-%03d" exactly, for an id and a document number from 1 up.
bool parse_data_name(std::string_view name, int* id, int* document) {
  if (name.size() < 10 || name[0] != 'd') return false;
  const char* p = name.data() + 1;
  const char* last = name.data() + name.size();
  int v = 0, n = 0;
  auto r1 = std::from_chars(p, last, v);
  if (r1.ec != std::errc() || r1.ptr == last || *r1.ptr != '-') return false;
  auto r2 = std::from_chars(r1.ptr + 1, last, n);
  if (r2.ec != std::errc() || r2.ptr != last || v < 1 || n < 1) return false;
  if (data_name(v, n) != name) return false;
  *id = v;
  *document = n;
  return true;
}

// "c%05d.N", "c%05d.O" or "c%05d.N.XXXXXX": what the safe writer leaves
// beside a control file when the scheduler ends in the middle of a save.
bool is_save_leftover(std::string_view name) {
  int id = 0;
  if (size_t n = name.rfind(".N."); n != std::string_view::npos && name.size() - n == 9)
    return parse_control_name(name.substr(0, n), &id);
  return name.size() > 2 && (name.ends_with(".N") || name.ends_with(".O")) &&
         parse_control_name(name.substr(0, name.size() - 2), &id);
}

ssize_t write_buffile(void* ctx, uint8_t* buf, size_t len) {
  long n = BufFileWrite(static_cast<BufFile*>(ctx), buf, len);
  return n < 0 ? -1 : ssize_t(n);
}

TypeRecord* raw_type() {
  if (!TypeDB) return nullptr;
  TypeRecord* t = FindType(TypeDB.get(), "application", "vnd.vorn-raw");
  // Every document of a loaded job has a type, even with a type database
  // that lacks this one.
  if (!t) t = AddType(TypeDB.get(), "application", "vnd.vorn-raw");
  return t;
}

// A stopped remote destination standing in for the one an active job was
// queued on, so the job is kept until that destination is seen again.
printer_t* add_placeholder(std::string_view resource, uint32_t* dtype) {
  bool is_class = resource.starts_with("/classes/");
  if (!is_class && !resource.starts_with("/printers/")) return nullptr;
  std::string name(resource.substr(is_class ? 9 : 10));
  printer_t* p = AddPrinter(name.c_str());
  if (!p) return nullptr;
  if (is_class) {
    p->type = PRINTER_CLASS | PRINTER_REMOTE;
    p->make_model = "Remote Class on unknown";
    size_t at = p->uri.rfind("/printers/");
    if (at != std::string::npos) p->uri.replace(at, 10, "/classes/");
  } else {
    p->type = PRINTER_REMOTE;
    p->make_model = "Remote Printer on unknown";
  }
  p->state = IPP_PRINTER_STOPPED;
  p->browse_time = 2147483647;  // browsing never times it out
  p->location = "Location Unknown";
  p->info = "No Information Available";
  p->hostname.clear();
  SetPrinterAttrs(p);
  *dtype = p->type & (PRINTER_CLASS | PRINTER_REMOTE | PRINTER_IMPLICIT);
  return p;
}

// "job-id" in the job group says which job a listing entry is, and clients
// act on a listed job by it. The file name is what identifies the job: a
// control file without the attribute (or with another value) gets it.
void set_job_id_attr(job_t* job) {
  ipp_t* attrs = job->attrs.get();
  ipp_attribute_t* a = attrs->attrs;
  while (a && !(a->group_tag == IPP_TAG_JOB && a->name == "job-id")) a = a->next;
  if (!a) {
    ippAddInteger(attrs, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", job->id);
    return;
  }
  if (a->value_tag == IPP_TAG_INTEGER && a->values.size() == 1 && a->values[0].integer == job->id) return;
  LogDiagnostic(L_ERROR, "LoadAllJobs: Bad job-id attribute in control file \"%s\"; using %d!",
                JobControlFile(job->id).c_str(), job->id);
  a->value_tag = IPP_TAG_INTEGER;
  a->values.clear();
  a->values.emplace_back();
  a->values[0].integer = job->id;
  ippTouch(attrs);
}

// A control file read whole (it is small; reading it piece by piece as the
// decoder asks costs a system call per piece, thousands of jobs over). False
// when it cannot be read or is larger than any IPP message may be.
bool read_control_file(int fd, std::string& out) {
  out.clear();
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0 && size_t(st.st_size) <= IPP_MAX_MESSAGE)
    out.reserve(size_t(st.st_size));
  char buf[16384];
  for (;;) {
    ssize_t n = vorn::read_retry(fd, buf, sizeof(buf));
    if (n < 0) return false;
    if (n == 0) return true;
    if (out.size() + size_t(n) > IPP_MAX_MESSAGE) return false;
    out.append(buf, size_t(n));
  }
}

struct memory_source {
  std::string_view data;
  size_t pos = 0;
};

ssize_t read_memory(void* ctx, uint8_t* buf, size_t len) {
  auto* src = static_cast<memory_source*>(ctx);
  size_t n = std::min(len, src->data.size() - src->pos);
  if (n == 0) return -1;  // the file ended before the message did
  std::memcpy(buf, src->data.data() + src->pos, n);
  src->pos += n;
  return ssize_t(n);
}

enum class load_result { queued, dropped, unreadable, out_of_memory };

// SetJobHoldUntil for a record in hand: looking each held job up by id
// would walk the whole queue once per job of a large spool.
void hold_loaded_job(job_t* job, const std::string& when) {
  LogDiagnostic(L_DEBUG, "SetJobHoldUntil(%d, \"%s\")", job->id, when.c_str());
  time_t t = 0;
  if (ComputeHoldUntil(when, JobClock(), &t)) job->hold_until = t;
  LogDiagnostic(L_DEBUG, "SetJobHoldUntil: hold_until = %d", int(job->hold_until));
}

// The first pass for one control file: a job to queue goes to `loaded` (by
// id) and `fresh` (its owner until the pass has ended).
load_result load_control_file(int id, std::unordered_map<int, job_t*>& loaded,
                              std::vector<std::unique_ptr<job_t>>& fresh) {
  std::unique_ptr<job_t> job(new (std::nothrow) job_t);
  if (!job) {
    LogDiagnostic(L_ERROR, "LoadAllJobs: Ran out of memory for jobs!");
    return load_result::out_of_memory;
  }
  job->attrs.reset(ippNew());
  if (!job->attrs) {
    LogDiagnostic(L_ERROR, "LoadAllJobs: Ran out of memory for job attributes!");
    return load_result::out_of_memory;
  }
  job->id = id;
  job->saved = true;
  LogDiagnostic(L_DEBUG, "LoadAllJobs: Loading attributes for job %d...\n", id);
  // Raised before reading, so not even an unreadable job's id comes back.
  if (id >= NextJobId) NextJobId = id + 1;

  std::string path = JobControlFile(id);
  vorn::unique_fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) {
    LogDiagnostic(L_ERROR, "LoadAllJobs: Unable to open job control file \"%s\" - %s!", path.c_str(),
                  std::strerror(errno));
    return load_result::unreadable;
  }
  std::string content;
  memory_source src;
  if (read_control_file(fd.get(), content)) src.data = content;
  if (src.data.empty() || ippReadIO(&src, read_memory, 1, nullptr, job->attrs.get()) != IPP_DATA) {
    LogDiagnostic(L_ERROR, "LoadAllJobs: Unable to read job control file \"%s\"!", path.c_str());
    return load_result::unreadable;
  }
  fd.reset();

  ipp_attribute_t* state = ippFindAttribute(job->attrs.get(), "job-state", IPP_TAG_ENUM);
  if (!state || state->values.empty() || state->values[0].integer < IPP_JOB_PENDING ||
      state->values[0].integer > IPP_JOB_COMPLETED) {
    LogDiagnostic(L_ERROR, "LoadAllJobs: Missing or bad job-state attribute in control file \"%s\"!",
                  path.c_str());
    return load_result::unreadable;
  }
  ipp_attribute_t* uri = ippFindAttribute(job->attrs.get(), "job-printer-uri", IPP_TAG_URI);
  if (!uri || uri->values.empty()) {
    LogDiagnostic(L_ERROR, "LoadAllJobs: No job-printer-uri attribute in control file \"%s\"!", path.c_str());
    return load_result::unreadable;
  }

  const std::string& text = uri->values[0].string.text;
  char scheme[HTTP_MAX_SCHEME], user[HTTP_MAX_USER], host[HTTP_MAX_HOST], resource[HTTP_MAX_URI];
  int port = 0;
  httpSeparate(text.c_str(), scheme, user, host, &port, resource);
  uint32_t dtype = 0;
  printer_t* p = LookupDest(host, resource, &dtype);
  if (!p && state->values[0].integer <= IPP_JOB_PROCESSING) p = add_placeholder(resource, &dtype);
  if (!p) {
    LogDiagnostic(L_ERROR, "LoadAllJobs: Unable to queue job for destination \"%s\"!", text.c_str());
    RemoveControlFile(id);
    return load_result::dropped;
  }

  job->dest = p->name;
  job->dtype = dtype;
  FillJobFromAttrs(job.get());
  set_job_id_attr(job.get());
  job_t* j = job.get();
  loaded[id] = j;
  fresh.push_back(std::move(job));

  if (JobState(j) == IPP_JOB_HELD) {
    ipp_attribute_t* hold = ippFindAttribute(j->attrs.get(), "job-hold-until", IPP_TAG_KEYWORD);
    if (!hold) hold = ippFindAttribute(j->attrs.get(), "job-hold-until", IPP_TAG_NAME);
    if (hold && !hold->values.empty())
      hold_loaded_job(j, hold->values[0].string.text);
    else
      SetJobState(j, IPP_JOB_PENDING);
  } else if (JobState(j) == IPP_JOB_PROCESSING) {
    SetJobState(j, IPP_JOB_PENDING);  // its processes died with the last daemon
  }
  return load_result::queued;
}

// The second pass for one data file.
void load_data_file(std::string_view name, int id, int document, const std::unordered_map<int, job_t*>& loaded,
                    const std::set<int>& unreadable, const std::unordered_set<int>& queued) {
  std::string path = RequestRoot + "/" + std::string(name);
  auto it = loaded.find(id);
  if (it == loaded.end()) {
    if (unreadable.count(id)) {
      // Its control file may yet be repaired: the documents stay with it.
      LogDiagnostic(L_ERROR, "LoadAllJobs: Keeping print file \"%s\" of unreadable job %d!", path.c_str(), id);
    } else if (!queued.count(id)) {
      LogDiagnostic(L_ERROR, "LoadAllJobs: Orphaned print file \"%s\"!", path.c_str());
      ::unlink(path.c_str());
    }
    return;
  }
  job_t* job = it->second;
  if (document > kMaxJobFiles) {
    LogDiagnostic(L_ERROR, "LoadAllJobs: Ignoring print file \"%s\": more than %d documents!", path.c_str(),
                  kMaxJobFiles);
    return;
  }
  if (size_t(document) > job->filetypes.size()) {
    job->filetypes.resize(size_t(document), nullptr);
    job->compressions.resize(size_t(document), -1);  // -1: not found (yet)
  }
  if (document > job->num_files) job->num_files = document;

  // Typed when the document is about to print (TypeJobDocument): reading
  // every document of a long queue would hold up the start.
  job->filetypes[size_t(document - 1)] = nullptr;
  job->compressions[size_t(document - 1)] = 0;
}

// Documents missing in the middle of a job: the later ones move down, so
// every document 1..num_files exists.
void close_gaps(job_t* job) {
  int out = 0;
  for (int i = 0; i < job->num_files; i++) {
    if (job->compressions[size_t(i)] < 0) {
      LogDiagnostic(L_ERROR, "LoadAllJobs: Print file \"%s\" of job %d is missing!",
                    JobDataFile(job->id, i + 1).c_str(), job->id);
      continue;
    }
    if (out != i) {
      std::string from = JobDataFile(job->id, i + 1), to = JobDataFile(job->id, out + 1);
      if (::rename(from.c_str(), to.c_str()) != 0) {
        LogDiagnostic(L_ERROR, "LoadAllJobs: Unable to rename print file \"%s\" to \"%s\" - %s!", from.c_str(),
                      to.c_str(), std::strerror(errno));
        break;  // the documents from here on wait for the next load
      }
      LogDiagnostic(L_DEBUG, "LoadAllJobs: Renamed print file \"%s\" to \"%s\".", from.c_str(), to.c_str());
    }
    job->filetypes[size_t(out)] = job->filetypes[size_t(i)];
    job->compressions[size_t(out)] = job->compressions[size_t(i)];
    out++;
  }
  job->num_files = out;
  job->filetypes.resize(size_t(out));
  job->compressions.resize(size_t(out));
}

}  // namespace

std::string JobControlFile(int id) { return RequestRoot + "/" + control_name(id); }

std::string JobDataFile(int id, int document) { return RequestRoot + "/" + data_name(id, document); }

namespace job_internal {

void RemoveControlFile(int id) {
  std::string path = JobControlFile(id);
  // After any save of it still queued, or that save would bring it back.
  QueueUnlink({path + ".N", path + ".O", path});
}

void RemoveDataFiles(int id, int num_files) {
  for (int i = 1; i <= num_files; i++) ::unlink(JobDataFile(id, i).c_str());
}

}  // namespace job_internal

void TypeJobDocument(job_t* job, int index) {
  if (index < 0 || size_t(index) >= job->filetypes.size() || job->filetypes[size_t(index)]) return;
  const std::string path = JobDataFile(job->id, index + 1);
  LogDiagnostic(L_DEBUG, "TypeJobDocument: Auto-typing document file %s...", path.c_str());
  int compressed = 0;
  TypeRecord* type = TypeDB ? DetectFileType(TypeDB.get(), path.c_str(), &compressed) : nullptr;
  job->filetypes[size_t(index)] = type ? type : raw_type();
  if (size_t(index) < job->compressions.size()) job->compressions[size_t(index)] = compressed ? 1 : 0;
}

int SaveJob(int id) {
  job_t* job = LookupJob(id);
  if (!job || !job->attrs) return 0;

  std::string path = JobControlFile(id);
  // Not the filters'; no backup. With the sync thread the new version gets
  // a name of its own, as saves of one job may wait in the queue together.
  std::unique_ptr<BufFile> sf = BufFileCreateSafe(path, 0600, ServerFileOwner(), Group, SyncCommitFlags());
  if (!sf) {
    LogDiagnostic(L_ERROR, "SaveJob: Unable to create job control file \"%s\" - %s.", path.c_str(),
                  std::strerror(errno));
    return 0;
  }
  errno = 0;
  if (ippWriteIO(sf.get(), write_buffile, 1, nullptr, job->attrs.get()) != IPP_DATA) {
    LogDiagnostic(L_ERROR, "SaveJob: Unable to write job control file \"%s\" - %s.", path.c_str(),
                  errno ? std::strerror(errno) : "attributes cannot be encoded");
    return 0;  // the old file stays; the temporary one goes with `sf`
  }
  LogDiagnostic(L_DEBUG2, "SaveJob: Closing file %d...", sf->fd.get());
  std::unique_ptr<vorn_safe_file_t> safe = BufFileDetachSafe(std::move(sf));
  if (!safe || QueueCommit(std::move(safe), job->saved ? 0 : id) != 0) {
    LogDiagnostic(L_ERROR, "SaveJob: Unable to write job control file \"%s\" - %s.", path.c_str(),
                  std::strerror(errno));
    return 0;
  }
  job->saved = true;
  return 1;
}

void JobSaveFailed(int id) {
  job_t* job = LookupJob(id);
  if (!job || JobState(job) > IPP_JOB_STOPPED) return;
  // Its first control file never reached the disk: the job would not come
  // back after a restart, and its client was told the request failed.
  LogDiagnostic(L_ERROR, "Job %d cancelled: its control file could not be written.", id);
  CancelJob(id, 1);
}

void LoadAllJobs() {
  WaitForSyncs();  // the spool directory as the queued saves leave it
  LogDiagnostic(L_DEBUG, "LoadAllJobs: Scanning %s...", RequestRoot.c_str());
  vorn::unique_fd dfd(::open(RequestRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* d = dfd ? ::fdopendir(dfd.get()) : nullptr;
  if (!d) {
    LogDiagnostic(L_ERROR, "LoadAllJobs: Unable to open spool directory %s: %s", RequestRoot.c_str(),
                  std::strerror(errno));
    return;
  }
  dfd.release();  // the directory stream owns it now
  vorn::unique_dir dir(d);

  std::unordered_map<int, job_t*> loaded;  // this load's jobs by id
  std::vector<std::unique_ptr<job_t>> fresh;
  std::set<int> unreadable;
  std::unordered_set<int> queued;  // jobs queued before this load
  for (const job_t* j = Jobs; j; j = j->next) queued.insert(j->id);

  for (dirent* ent; (ent = ::readdir(dir.get()));) {
    std::string_view name = ent->d_name;
    int id = 0;
    if (!parse_control_name(name, &id)) {
      if (is_save_leftover(name)) {
        LogDiagnostic(L_DEBUG, "LoadAllJobs: Removing leftover file \"%s/%s\"...", RequestRoot.c_str(),
                      ent->d_name);
        ::unlinkat(::dirfd(dir.get()), ent->d_name, 0);
      }
      continue;
    }
    if (queued.count(id)) continue;
    load_result r = load_control_file(id, loaded, fresh);
    if (r == load_result::unreadable) unreadable.insert(id);
    if (r == load_result::out_of_memory) break;
  }

  ::rewinddir(dir.get());
  for (dirent* ent; (ent = ::readdir(dir.get()));) {
    int id = 0, document = 0;
    if (parse_data_name(ent->d_name, &id, &document))
      load_data_file(ent->d_name, id, document, loaded, unreadable, queued);
  }
  dir.reset();

  for (auto& [id, job] : loaded) close_gaps(job);

  std::vector<job_t*> jobs;
  jobs.reserve(fresh.size());
  for (auto& job : fresh) jobs.push_back(job.release());
  InsertAllByPriorityAndId(jobs);

  PurgeOldJobs();
}
