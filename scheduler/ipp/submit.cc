// Print-Job and Create-Job: the admission of a new job, the attributes every
// new job gets, its banners and the reply.
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "scheduler/jobs/banners.h"
#include "scheduler/http/client.h"
#include "scheduler/conf/conf.h"
#include "scheduler/ipp/ipp.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"
#include "scheduler/printers/printers.h"
#include "scheduler/jobs/quota.h"
#include "scheduler/types/types.h"
#include "vorn/http.h"
#include "vorn/strings.h"

namespace {

// Job attributes only the scheduler sets. A request that carries them (in
// any group) would otherwise leave a second copy in the control file, which
// a reload could read in place of ours: a job-state or job-printer-uri of
// the client's choosing.
constexpr const char* kSchedulerAttributes[] = {
    "job-originating-user-name", "job-id",           "job-state",         "job-state-reasons",
    "job-media-sheets-completed", "job-printer-uri", "job-k-octets",      "time-at-creation",
    "time-at-processing",         "time-at-completed", "job-uri",         "job-printer-up-time",
};

// The first value of a string attribute, or nullptr.
const std::string* text_of(const ipp_attribute_t* a) {
  return a && !a->values.empty() ? &a->values[0].string.text : nullptr;
}

// job-hold-until as a keyword or a name, or nullptr.
ipp_attribute_t* find_hold_until(ipp_t* attrs) {
  ipp_attribute_t* a = ippFindAttribute(attrs, "job-hold-until", IPP_TAG_KEYWORD);
  return a ? a : ippFindAttribute(attrs, "job-hold-until", IPP_TAG_NAME);
}

// job-sheets as names (or keywords, as some clients send them), or nullptr.
ipp_attribute_t* find_job_sheets(ipp_t* attrs) {
  ipp_attribute_t* a = ippFindAttribute(attrs, "job-sheets", IPP_TAG_NAME);
  return a ? a : ippFindAttribute(attrs, "job-sheets", IPP_TAG_KEYWORD);
}

// Moves `a` to the end of `attrs` in the job group, renamed to `name`.
ipp_attribute_t* move_to_job_group(ipp_t* attrs, ipp_attribute_t* a, const char* name) {
  ipp_attribute_t* moved = ippCopyAttribute(attrs, a);
  _ipp_free_attr(attrs, a);
  if (moved) {
    moved->group_tag = IPP_TAG_JOB;
    moved->name = name;
  }
  return moved;
}

// The destination's URI as jobs name it.
std::string printer_uri_of(const client_t* con, const printer_t* p, uint32_t dtype) {
  return "http://" + ServerName + ":" + std::to_string(listener_port(con)) +
         ((dtype & PRINTER_CLASS) ? "/classes/" : "/printers/") + p->name;
}

// Print-Job and Create-Job are posted to a destination's path: the
// locations that guard printers then guard what is printed on them.
bool destination_path(client_t* con, const char* caller) {
  const std::string& posted = con->resource;
  if (posted.starts_with("/classes/") || posted.starts_with("/printers/")) return true;
  LogDiagnostic(L_ERROR, "%s: print request on bad resource '%s'!", caller, posted.c_str());
  send_ipp_error(con, IPP_NOT_AUTHORIZED);
  return false;
}

// The destination of the request and whether it takes jobs; null when
// refused (answered).
printer_t* accepting_destination(client_t* con, const std::string& host, const std::string& resource,
                                 const char* caller, uint32_t* dtype) {
  printer_t* p = LookupDest(host, resource, dtype);
  if (!p) {
    LogDiagnostic(L_ERROR, "%s: resource name '%s' no good!", caller, resource.c_str());
    send_ipp_error(con, IPP_NOT_FOUND);
    return nullptr;
  }
  if (!p->accepting) {
    LogDiagnostic(L_INFO, "%s: destination '%s' is not accepting jobs.", caller, p->name.c_str());
    send_ipp_error(con, IPP_NOT_ACCEPTING_JOBS);
    return nullptr;
  }
  return p;
}

// The MaxJobs limit, after purging finished jobs; false when refused.
bool below_job_limit(client_t* con, const char* caller) {
  if (!MaxJobs || NumJobs < MaxJobs) return true;
  PurgeOldJobs();
  if (NumJobs < MaxJobs) return true;
  if (std::string_view(caller) == "print_job")
    LogDiagnostic(L_INFO, "print_job: too many jobs - %d jobs, max jobs is %d.", NumJobs, MaxJobs);
  else
    LogDiagnostic(L_INFO, "%s: too many jobs.", caller);
  send_ipp_error(con, IPP_NOT_POSSIBLE);
  return false;
}

// What a new job is made of, before its attributes are added.
struct new_job_t {
  job_t* job = nullptr;
  std::string title;
};

// Default job-priority and job-name, a new record taking over the request's
// attributes, its owner and the originating user and host names. An empty
// result when no record could be made (answered).
new_job_t make_job(client_t* con, printer_t* p, uint32_t dtype, const char* caller) {
  ipp_t* request = con->ipp_request.get();
  for (ipp_attribute_t* a = request->attrs; a;) {
    ipp_attribute_t* next = a->next;
    for (const char* name : kSchedulerAttributes)
      if (a->name == name) {
        _ipp_free_attr(request, a);
        break;
      }
    a = next;
  }

  ipp_attribute_t* priority = ippFindAttribute(request, "job-priority", IPP_TAG_INTEGER);
  if (!priority || priority->values.empty())
    priority = ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-priority", 50);
  ipp_attribute_t* name = ippFindAttribute(request, "job-name", IPP_TAG_NAME);
  if (!name || name->values.empty())
    name = ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", "", "Untitled");
  new_job_t made;
  made.title = name->values[0].string.text;

  job_t* job = NewJob(priority->values[0].integer, p->name);
  if (!job) {
    LogDiagnostic(L_ERROR, "%s: unable to add job for destination '%s'!", caller, p->name.c_str());
    send_ipp_error(con, IPP_INTERNAL_ERROR);
    return made;
  }
  // The stored priority is the one the queue uses.
  priority->values[0].integer = job->priority;
  job->dtype = dtype;

  // The job takes the attribute list; the request keeps its header, which
  // the response still reads.
  ipp_t* attrs = job->attrs.get();
  attrs->attrs = request->attrs;
  attrs->last = request->last;
  request->attrs = request->last = request->current = nullptr;
  // The control file keeps the header of the request that made the job.
  attrs->version[0] = request->version[0];
  attrs->version[1] = request->version[1];
  attrs->op_status = request->op_status;
  attrs->request_id = request->request_id;

  ipp_attribute_t* user = ippFindAttribute(attrs, "requesting-user-name", IPP_TAG_NAME);
  if (!con->username.empty()) {
    job->username = vorn::cut(con->username, kMaxUsername);
  } else if (const std::string* sent = text_of(user)) {
    job->username = vorn::cut(*sent, kMaxUsername);
    LogDiagnostic(L_DEBUG, "%s: requesting-user-name = '%s'", caller, job->username.c_str());
  } else {
    job->username = "anonymous";
  }

  if (user) {
    // A verified user owns the job, whatever name the request states.
    if (!con->username.empty() && !user->values.empty()) user->values[0].string.text = job->username;
    move_to_job_group(attrs, user, "job-originating-user-name");
  }
  else
    ippAddString(attrs, IPP_TAG_JOB, IPP_TAG_NAME, "job-originating-user-name", "", job->username);

  // A local gateway may pass on the host a job really came from.
  const std::string peer = con->http.hostname;
  ipp_attribute_t* host = ippFindAttribute(attrs, "job-originating-host-name", IPP_TAG_ZERO);
  if (host) {
    if (!(host->value_tag == IPP_TAG_NAME && host->values.size() == 1 && peer == "localhost")) {
      host->value_tag = IPP_TAG_NAME;
      host->values.clear();
      host->values.emplace_back();
      host->values[0].string.text = peer;
    }
    move_to_job_group(attrs, host, "job-originating-host-name");
  } else {
    ippAddString(attrs, IPP_TAG_JOB, IPP_TAG_NAME, "job-originating-host-name", "", peer);
  }
  made.job = job;
  return made;
}

// The time stamps of a new job: created now, the others still to come.
void add_job_times(job_t* job) {
  ipp_t* attrs = job->attrs.get();
  ippAddInteger(attrs, IPP_TAG_JOB, IPP_TAG_INTEGER, "time-at-creation", int(JobClock()));
  ippAddOutOfBand(attrs, IPP_TAG_JOB, IPP_TAG_NOVALUE, "time-at-processing");
  ippAddOutOfBand(attrs, IPP_TAG_JOB, IPP_TAG_NOVALUE, "time-at-completed");
}

// job-id, job-state, job-media-sheets-completed, job-printer-uri, job-name.
void add_job_identity(client_t* con, job_t* job, printer_t* p, int state, const std::string& title) {
  ipp_t* attrs = job->attrs.get();
  ippAddInteger(attrs, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", job->id);
  SetJobState(job, state);
  job->sheets = ippAddInteger(attrs, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-media-sheets-completed", 0);
  ippAddString(attrs, IPP_TAG_JOB, IPP_TAG_URI, "job-printer-uri", "", printer_uri_of(con, p, job->dtype));
  ippAddString(attrs, IPP_TAG_JOB, IPP_TAG_NAME, "job-name", "", title);
}

// job-sheets and classification, then the start banner; the banner's
// kilobytes are added to `*kbytes`.
void start_banners(client_t* con, job_t* job, printer_t* p, int* kbytes) {
  ipp_t* attrs = job->attrs.get();
  ipp_attribute_t* sheets = find_job_sheets(attrs);
  const bool remote = (job->dtype & (PRINTER_REMOTE | PRINTER_IMPLICIT)) != 0;
  if (remote && Classification.empty()) {
    job->job_sheets = sheets;
    return;
  }
  if (!sheets || sheets->values.empty()) {
    LogDiagnostic(L_DEBUG, "Adding default job-sheets values \"%s,%s\"...", p->job_sheets[0].c_str(),
                  p->job_sheets[1].c_str());
    if (sheets) _ipp_free_attr(attrs, sheets);
    sheets = ippAddStrings(attrs, IPP_TAG_JOB, IPP_TAG_NAME, "job-sheets", "", std::span(p->job_sheets));
  }
  job->job_sheets = sheets;

  std::vector<ipp_value_t>& v = sheets->values;
  if (!Classification.empty()) {
    const bool two = v.size() > 1;
    if (!ClassifyOverride) {
      // The classification must appear on one of the banners.
      if (v[0].string.text != Classification && (!two || v[1].string.text != Classification))
        v[0].string.text = Classification;
    } else if (v[0].string.text == "none" && (!two || v[1].string.text == "none")) {
      v[0].string.text = Classification;
    } else if (two && v[0].string.text != v[1].string.text && v[0].string.text != "none" &&
               v[1].string.text != "none") {
      v[1].string.text = v[0].string.text;
    }
  }

  if (!remote) {
    LogDiagnostic(L_INFO, "Adding start banner page \"%s\" to job %d.", v[0].string.text.c_str(), job->id);
    *kbytes += copy_banner(con, job, v[0].string.text);
  }
}

// A job that cannot be completed leaves nothing behind.
void discard_job(client_t* con, int id) {
  CancelJob(id, 1);
  send_ipp_error(con, IPP_INTERNAL_ERROR);
}

}  // namespace

std::string target_resource(const ipp_attribute_t* uri, std::string* host) {
  const char* text = uri && !uri->values.empty() ? uri->values[0].string.text.c_str() : "";
  char scheme[HTTP_MAX_URI], userpass[HTTP_MAX_URI], hostname[HTTP_MAX_URI], resource[HTTP_MAX_URI];
  int port = 0;
  httpSeparateURI(text, scheme, sizeof(scheme), userpass, sizeof(userpass), hostname, sizeof(hostname), &port,
                  resource, sizeof(resource));
  if (host) *host = hostname;
  return resource;
}

void add_job_reply(client_t* con, job_t* job, bool reasons) {
  ipp_t* response = con->ipp_response.get();
  ippAddString(response, IPP_TAG_JOB, IPP_TAG_URI, "job-uri", "",
               "http://" + ServerName + ":" + std::to_string(listener_port(con)) + "/jobs/" +
                   std::to_string(job->id));
  ippAddInteger(response, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", job->id);
  ippAddInteger(response, IPP_TAG_JOB, IPP_TAG_ENUM, "job-state", JobState(job));
  if (reasons) add_job_state_reasons(con, job);
  response->op_status = IPP_OK;
}

void add_end_banner(client_t* con, job_t* job) {
  if (job->dtype & (PRINTER_REMOTE | PRINTER_IMPLICIT)) return;
  const ipp_attribute_t* sheets = find_job_sheets(job->attrs.get());
  if (!sheets || sheets->values.size() != 2) return;
  const std::string name = sheets->values[1].string.text;
  LogDiagnostic(L_INFO, "Adding end banner page \"%s\" to job %d.", name.c_str(), job->id);
  int kbytes = copy_banner(con, job, name);
  if (kbytes) UpdateQuota(LookupDestByName(job->dest), job->username, 0, kbytes);
}

void print_job(client_t* con, ipp_attribute_t* uri) {
  std::string host;
  const std::string resource = target_resource(uri, &host);
  LogDiagnostic(L_DEBUG2, "print_job(%p[%d], %s)\n", static_cast<void*>(con), con->http.fd, resource.c_str());

  if (!destination_path(con, "print_job")) return;
  if (!check_attribute_names(con, "print_job")) return;
  if (!check_copies_and_ranges(con, "print_job")) return;
  int compressed = 0;
  TypeRecord* filetype = check_document(con, "print_job", &compressed);
  if (!filetype) return;
  if (vorn::iequals(filetype->super, "application") && vorn::iequals(filetype->type, "postscript")) {
    read_ps_job_ticket(con);
    // A ticket is bound by the same limits as the request.
    if (!check_copies_and_ranges(con, "print_job")) return;
  }

  uint32_t dtype = 0;
  printer_t* p = accepting_destination(con, host, resource, "print_job", &dtype);
  if (!p) return;
  if (!below_job_limit(con, "print_job")) return;
  if (!check_quotas(con, p)) {
    send_ipp_error(con, IPP_NOT_POSSIBLE);
    return;
  }

  const int kbytes = [&] {
    struct stat st {};
    return ::stat(con->filename.c_str(), &st) == 0 ? int((st.st_size + 1023) / 1024) : 0;
  }();
  new_job_t made = make_job(con, p, dtype, "print_job");
  job_t* job = made.job;
  if (!job) return;
  const int id = job->id;
  ipp_t* attrs = job->attrs.get();
  add_job_identity(con, job, p, IPP_JOB_PENDING, made.title);
  ippAddInteger(attrs, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-k-octets", kbytes);
  add_job_times(job);
  ipp_attribute_t* hold = find_hold_until(attrs);
  if (!hold || hold->values.empty())
    hold = ippAddString(attrs, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-hold-until", "", "no-hold");
  const std::string when = hold->values[0].string.text;
  if (when != "no-hold" && !(dtype & PRINTER_REMOTE)) {
    SetJobState(job, IPP_JOB_HELD);
    SetJobHoldUntil(id, when);
  }

  // Quotas are charged once the job is certain to stay.
  int charged = kbytes;
  start_banners(con, job, p, &charged);
  if (!add_file(con, job, filetype, compressed)) return;
  if (!move_document(con, job)) return discard_job(con, id);
  add_end_banner(con, job);

  LogDiagnostic(L_INFO, "Job %d queued on '%s' by '%s'.", id, p->name.c_str(), job->username.c_str());
  LogDiagnostic(L_DEBUG, "Job %d hold_until = %d", id, int(job->hold_until));
  if (!SaveJob(id)) return discard_job(con, id);
  UpdateQuota(p, job->username, 0, charged);

  // The reply tells how the job was queued; it may start at once.
  add_job_reply(con, job, true);
  RunPendingJobs();
}

void create_job(client_t* con, ipp_attribute_t* uri) {
  std::string host;
  const std::string resource = target_resource(uri, &host);
  LogDiagnostic(L_DEBUG2, "create_job(%p[%d], %s)\n", static_cast<void*>(con), con->http.fd, resource.c_str());

  if (!destination_path(con, "create_job")) return;
  if (!check_attribute_names(con, "create_job")) return;
  uint32_t dtype = 0;
  printer_t* p = accepting_destination(con, host, resource, "create_job", &dtype);
  if (!p) return;
  if (!check_copies_and_ranges(con, "create_job")) return;
  if (!below_job_limit(con, "create_job")) return;
  if (!check_quotas(con, p)) {
    send_ipp_error(con, IPP_NOT_POSSIBLE);
    return;
  }

  new_job_t made = make_job(con, p, dtype, "create_job");
  job_t* job = made.job;
  if (!job) return;
  const int id = job->id;
  ipp_t* attrs = job->attrs.get();
  add_job_times(job);
  add_job_identity(con, job, p, IPP_JOB_HELD, made.title);
  ippAddInteger(attrs, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-k-octets", 0);

  // A client that sends no document within a minute leaves a job that is
  // released empty.
  const ipp_attribute_t* hold = find_hold_until(attrs);
  const std::string* when = text_of(hold);
  if (!when || *when == "no-hold" || (dtype & PRINTER_REMOTE))
    job->hold_until = JobClock() + 60;
  else
    SetJobHoldUntil(id, *when);

  int charged = 0;
  start_banners(con, job, p, &charged);

  LogDiagnostic(L_INFO, "Job %d created on '%s' by '%s'.", id, p->name.c_str(), job->username.c_str());
  if (!SaveJob(id)) return discard_job(con, id);
  if (charged) UpdateQuota(p, job->username, 0, charged);
  add_job_reply(con, job, false);
}
