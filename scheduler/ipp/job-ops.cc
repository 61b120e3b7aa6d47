// The operations that change queued jobs: Cancel-Job, Purge-Jobs,
// Hold-Job, Release-Job, Restart-Job and Set-Job-Attributes. Each finds the
// job, checks that the requester may act on it and that its state allows
// the change, then leaves the work to the queue.
#include <charconv>
#include <cstring>
#include <string>

#include "scheduler/conf/conf.h"
#include "scheduler/http/client.h"
#include "scheduler/ipp/ipp.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"
#include "scheduler/printers/printers.h"
#include "vorn/strings.h"

namespace {

const char* final_state_name(int state) {
  switch (state) {
    case IPP_JOB_CANCELLED:
      return "cancelled";
    case IPP_JOB_ABORTED:
      return "aborted";
    default:
      return "completed";
  }
}

bool is_final(const job_t* job) { return JobState(job) >= IPP_JOB_CANCELLED; }

// The four job handlers take requests posted under "/classes/", "/jobs" or
// "/printers/" only.
bool job_resource_ok(client_t* con, const char* caller, const char* what) {
  const std::string& r = con->resource;
  if (r.starts_with("/classes/") || r.starts_with("/jobs") || r.starts_with("/printers/")) return true;
  LogDiagnostic(L_ERROR, "%s: %s request on bad resource '%s'!", caller, what, r.c_str());
  send_ipp_error(con, IPP_NOT_AUTHORIZED);
  return false;
}

// job-hold-until as a keyword or a name, or null.
ipp_attribute_t* hold_until_of(ipp_t* attrs) {
  ipp_attribute_t* a = ippFindAttribute(attrs, "job-hold-until", IPP_TAG_KEYWORD);
  return a ? a : ippFindAttribute(attrs, "job-hold-until", IPP_TAG_NAME);
}

// Sets the job's job-hold-until to `value` with `type`, adding it when the
// job has none.
void set_hold_until_attr(job_t* job, ipp_tag_t type, const std::string& value) {
  ipp_attribute_t* a = hold_until_of(job->attrs.get());
  if (!a) {
    ippAddString(job->attrs.get(), IPP_TAG_JOB, type, "job-hold-until", "", value);
    return;
  }
  a->value_tag = type;
  a->values.resize(1);
  a->values[0].string.text = value;
  ippTouch(job->attrs.get());  // listings cache the encoded attributes
}

}  // namespace

bool check_job_owner(client_t* con, const job_t* job, const char* caller, const char* verb, char* username,
                     size_t size) {
  if (validate_user(con, job->username.c_str(), username, int(size))) return true;
  LogDiagnostic(L_ERROR, "%s: \"%s\" not authorized to %s job id %d owned by \"%s\"!", caller, username, verb, job->id,
                job->username.c_str());
  send_ipp_error(con, IPP_FORBIDDEN);
  return false;
}

job_t* find_target_job(client_t* con, ipp_attribute_t* uri, const char* caller) {
  int id = job_target_id(con, uri, caller);
  if (id < 0) return nullptr;
  job_t* job = LookupJob(id);
  if (!job) {
    LogDiagnostic(L_ERROR, "%s: job #%d doesn't exist!", caller, id);
    send_ipp_error(con, IPP_NOT_FOUND);
  }
  return job;
}

int job_target_id(client_t* con, ipp_attribute_t* uri, const char* caller) {
  const char* text = uri && !uri->values.empty() ? uri->values[0].string.text.c_str() : "";
  if (uri && uri->name == "printer-uri") {
    const ipp_attribute_t* a = ippFindAttribute(con->ipp_request.get(), "job-id", IPP_TAG_INTEGER);
    if (!a || a->values.empty()) {
      LogDiagnostic(L_ERROR, "%s: got a printer-uri attribute but no job-id!", caller);
      send_ipp_error(con, IPP_BAD_REQUEST);
      return -1;
    }
    return a->values[0].integer < 0 ? 0 : a->values[0].integer;
  }
  // The id must be the whole rest of the path: "/jobs/12x" names no job.
  const std::string resource = target_resource(uri, nullptr);
  int id = 0;
  const char* end = resource.c_str() + resource.size();
  std::from_chars_result parsed{end, std::errc::invalid_argument};
  if (resource.starts_with("/jobs/")) parsed = std::from_chars(resource.c_str() + 6, end, id);
  if (parsed.ec != std::errc() || parsed.ptr != end || id < 1) {
    LogDiagnostic(L_ERROR, "%s: bad job-uri attribute '%s'!", caller, text);
    send_ipp_error(con, IPP_BAD_REQUEST);
    return -1;
  }
  return id;
}

bool check_admin_resource(client_t* con, const char* caller) {
  if (con->resource.compare(0, 7, "/admin/") == 0) return true;
  LogDiagnostic(L_ERROR, "%s: admin request on bad resource '%s'!", caller, con->resource.c_str());
  send_ipp_error(con, IPP_NOT_AUTHORIZED);
  return false;
}

void cancel_job(client_t* con, ipp_attribute_t* uri) {
  LogDiagnostic(L_DEBUG2, "cancel_job(%p[%d], %s)\n", static_cast<void*>(con), con->http.fd,
                uri->values[0].string.text.c_str());
  if (!job_resource_ok(con, "cancel_job", "cancel")) return;
  int id = job_target_id(con, uri, "cancel_job");
  if (id < 0) return;

  if (id == 0) {
    // Job 0 of a destination: the one it is printing, else its first
    // active job in queue order.
    std::string host;
    const std::string resource = target_resource(uri, &host);
    printer_t* dest = LookupDest(host, resource, nullptr);
    if (!dest) {
      LogDiagnostic(L_ERROR, "cancel_job: resource name '%s' no good!", resource.c_str());
      send_ipp_error(con, IPP_NOT_FOUND);
      return;
    }
    if (dest->job) {
      id = dest->job->id;
    } else {
      for (job_t* j = Jobs; j; j = j->next)
        if (JobState(j) <= IPP_JOB_PROCESSING && vorn::iequals(j->dest, dest->name)) {
          id = j->id;
          break;
        }
      if (id == 0) {
        LogDiagnostic(L_ERROR, "cancel_job: No active jobs on %s!", resource.c_str());
        send_ipp_error(con, IPP_NOT_POSSIBLE);
        return;
      }
    }
  }

  job_t* job = LookupJob(id);
  if (!job) {
    LogDiagnostic(L_ERROR, "cancel_job: job #%d doesn't exist!", id);
    send_ipp_error(con, IPP_NOT_FOUND);
    return;
  }
  char username[kMaxUsername + 1];
  if (!check_job_owner(con, job, "cancel_job", "delete", username, sizeof(username))) return;
  if (is_final(job)) {
    LogDiagnostic(L_ERROR, "cancel_job: job id %d is %s - can't cancel!", id, final_state_name(JobState(job)));
    send_ipp_error(con, IPP_NOT_POSSIBLE);
    return;
  }
  CancelJob(id, 0);
  RunPendingJobs();
  LogDiagnostic(L_INFO, "Job %d was cancelled by '%s'.", id, username);
  con->ipp_response->op_status = IPP_OK;
}

void hold_job(client_t* con, ipp_attribute_t* uri) {
  LogDiagnostic(L_DEBUG2, "hold_job(%p[%d], %s)\n", static_cast<void*>(con), con->http.fd,
                uri->values[0].string.text.c_str());
  if (!job_resource_ok(con, "hold_job", "hold")) return;
  job_t* job = find_target_job(con, uri, "hold_job");
  if (!job) return;
  char username[kMaxUsername + 1];
  if (!check_job_owner(con, job, "hold_job", "hold", username, sizeof(username))) return;
  // A finished job held would come back to life on its release.
  if (is_final(job)) {
    LogDiagnostic(L_ERROR, "hold_job: job #%d is finished and cannot be held!", job->id);
    send_ipp_error(con, IPP_NOT_POSSIBLE);
    return;
  }

  ipp_attribute_t* requested = hold_until_of(con->ipp_request.get());
  ipp_tag_t type = IPP_TAG_KEYWORD;
  std::string when = "indefinite";
  if (requested && !requested->values.empty()) {
    type = requested->value_tag;
    when = requested->values[0].string.text;
  }
  const int id = job->id;
  HoldJob(id);
  // HoldJob may have run other jobs; the record is looked up again.
  job = LookupJob(id);
  if (job) {
    if (hold_until_of(job->attrs.get())) set_hold_until_attr(job, type, when);
    SetJobHoldUntil(id, when);
    SaveJob(id);
  }
  LogDiagnostic(L_INFO, "Job %d was held by '%s'.", id, username);
  con->ipp_response->op_status = IPP_OK;
}

void release_job(client_t* con, ipp_attribute_t* uri) {
  LogDiagnostic(L_DEBUG2, "release_job(%p[%d], %s)\n", static_cast<void*>(con), con->http.fd,
                uri->values[0].string.text.c_str());
  if (!job_resource_ok(con, "release_job", "release")) return;
  job_t* job = find_target_job(con, uri, "release_job");
  if (!job) return;
  if (JobState(job) != IPP_JOB_HELD) {
    LogDiagnostic(L_ERROR, "release_job: job #%d is not held!", job->id);
    send_ipp_error(con, IPP_NOT_POSSIBLE);
    return;
  }
  char username[kMaxUsername + 1];
  if (!check_job_owner(con, job, "release_job", "release", username, sizeof(username))) return;
  if (hold_until_of(job->attrs.get())) set_hold_until_attr(job, IPP_TAG_KEYWORD, "no-hold");
  const int id = job->id;
  ReleaseJob(id);
  LogDiagnostic(L_INFO, "Job %d was released by '%s'.", id, username);
  con->ipp_response->op_status = IPP_OK;
}

void restart_job(client_t* con, ipp_attribute_t* uri) {
  LogDiagnostic(L_DEBUG2, "restart_job(%p[%d], %s)\n", static_cast<void*>(con), con->http.fd,
                uri->values[0].string.text.c_str());
  if (!job_resource_ok(con, "restart_job", "restart")) return;
  job_t* job = find_target_job(con, uri, "restart_job");
  if (!job) return;
  if (JobState(job) <= IPP_JOB_PROCESSING) {
    LogDiagnostic(L_ERROR, "restart_job: job #%d is not complete!", job->id);
    send_ipp_error(con, IPP_NOT_POSSIBLE);
    return;
  }
  if (is_final(job) && !PreserveJobFiles) {
    LogDiagnostic(L_ERROR, "restart_job: job #%d cannot be restarted - no files!", job->id);
    send_ipp_error(con, IPP_NOT_POSSIBLE);
    return;
  }
  char username[kMaxUsername + 1];
  if (!check_job_owner(con, job, "restart_job", "restart", username, sizeof(username))) return;
  const int id = job->id;
  RequeueJob(id);
  LogDiagnostic(L_INFO, "Job %d was restarted by '%s'.", id, username);
  con->ipp_response->op_status = IPP_OK;
}

void cancel_all_jobs(client_t* con, ipp_attribute_t* uri) {
  LogDiagnostic(L_DEBUG2, "cancel_all_jobs(%p[%d], %s)\n", static_cast<void*>(con), con->http.fd,
                uri->values[0].string.text.c_str());
  if (!check_admin_resource(con, "cancel_all_jobs")) return;
  ipp_t* request = con->ipp_request.get();
  if (uri->name != "printer-uri") {
    LogDiagnostic(L_ERROR, "cancel_all_jobs: bad %s attribute '%s'!", uri->name.c_str(),
                  uri->values[0].string.text.c_str());
    send_ipp_error(con, IPP_BAD_REQUEST);
    return;
  }

  std::string owner;  // empty: every user's jobs
  const ipp_attribute_t* my_jobs = ippFindAttribute(request, "my-jobs", IPP_TAG_BOOLEAN);
  if (my_jobs && !my_jobs->values.empty() && my_jobs->values[0].boolean) {
    const ipp_attribute_t* user = ippFindAttribute(request, "requesting-user-name", IPP_TAG_NAME);
    if (!user || user->values.empty()) {
      LogDiagnostic(L_ERROR, "cancel_all_jobs: missing requesting-user-name attribute!");
      send_ipp_error(con, IPP_BAD_REQUEST);
      return;
    }
    owner = user->values[0].string.text;
  }
  const ipp_attribute_t* purge_attr = ippFindAttribute(request, "purge-jobs", IPP_TAG_BOOLEAN);
  const int purge = purge_attr && !purge_attr->values.empty() ? purge_attr->values[0].boolean : 1;
  const char* done = purge ? "purged" : "cancelled";

  std::string host;
  const std::string resource = target_resource(uri, &host);
  if (printer_t* dest = LookupDest(host, resource, nullptr)) {
    CancelMatchingJobs(dest->name, owner, purge);
    LogDiagnostic(L_INFO, "All jobs on '%s' were %s by '%s'.", dest->name.c_str(), done, con->username.c_str());
  } else if (resource == "/printers/") {
    CancelMatchingJobs("", owner, purge);
    LogDiagnostic(L_INFO, "All jobs were %s by '%s'.", done, con->username.c_str());
  } else {
    LogDiagnostic(L_ERROR, "cancel_all_jobs: resource name '%s' no good!", resource.c_str());
    send_ipp_error(con, IPP_NOT_FOUND);
    return;
  }
  con->ipp_response->op_status = IPP_OK;
}
