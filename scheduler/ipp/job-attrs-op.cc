// Set-Job-Attributes: changes to a queued job's attributes, its priority
// and its state. The request is checked whole before anything changes, as a
// Print-Job would be, so a refused request leaves the job and its control
// file as they were.
#include <string>
#include <string_view>

#include "scheduler/conf/conf.h"
#include "scheduler/http/client.h"
#include "scheduler/ipp/ipp.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"

namespace {

// Attributes that describe the job's life, set by the scheduler alone.
bool read_only(std::string_view name) {
  static constexpr std::string_view kNames[] = {
      "attributes-charset",   "attributes-natural-language", "document-compression",
      "document-format",      "job-detailed-status-messages", "job-document-access-errors",
      "job-id",               "job-k-octets",                 "job-originating-host-name",
      "job-originating-user-name", "job-printer-up-time",     "job-printer-uri",
      "job-sheets",           "job-state-message",            "job-state-reasons",
      "job-uri",              "number-of-documents",          "number-of-intervening-jobs",
      "output-device-assigned",
  };
  for (std::string_view n : kNames)
    if (name == n) return true;
  for (std::string_view prefix : {"date-time-at-", "job-impressions", "job-k-octets", "job-media-sheets", "time-at-"})
    if (name.starts_with(prefix)) return true;
  return false;
}

// The checks a Print-Job gets, on the request's job group: copies within
// MaxCopies, rising page ranges and a priority from 1 to 100.
bool values_in_range(client_t* con) {
  if (!check_copies_and_ranges(con, "set_job_attrs")) return false;
  const ipp_attribute_t* p = ippFindAttribute(con->ipp_request.get(), "job-priority", IPP_TAG_INTEGER);
  if (p && !p->values.empty() && (p->values[0].integer < 1 || p->values[0].integer > 100)) {
    LogDiagnostic(L_ERROR, "set_job_attrs: bad job-priority value %d.", p->values[0].integer);
    send_ipp_error(con, IPP_BAD_REQUEST);
    return false;
  }
  return true;
}

void unsupported(client_t* con, const ipp_attribute_t* a) {
  ipp_attribute_t* copy = ippCopyAttribute(con->ipp_response.get(), a);
  if (copy) copy->group_tag = IPP_TAG_UNSUPPORTED_GROUP;
}

// Replaces (or with delete-attribute removes) the job's attribute of that
// name; a job-hold-until also holds or releases the job.
void replace_attribute(job_t* job, const ipp_attribute_t* a) {
  ipp_t* attrs = job->attrs.get();
  const bool remove_only = a->value_tag == IPP_TAG_DELETEATTR;
  for (ipp_attribute_t* old = ippFindAttribute(attrs, a->name, IPP_TAG_ZERO); old;
       old = ippFindAttribute(attrs, a->name, IPP_TAG_ZERO))
    _ipp_free_attr(attrs, old);
  if (remove_only) return;
  ipp_attribute_t* copy = ippCopyAttribute(attrs, a);
  if (copy) copy->group_tag = IPP_TAG_JOB;
  if (a->name == "job-hold-until" && !a->values.empty()) {
    const std::string when = a->values[0].string.text;
    SetJobHoldUntil(job->id, when);
    if (when == "no-hold")
      ReleaseJob(job->id);
    else
      HoldJob(job->id);
  }
}

}  // namespace

void set_job_attrs(client_t* con, ipp_attribute_t* uri) {
  LogDiagnostic(L_DEBUG2, "set_job_attrs(%p[%d], %s)\n", static_cast<void*>(con), con->http.fd,
                uri->values[0].string.text.c_str());
  job_t* job = find_target_job(con, uri, "set_job_attrs");
  if (!job) return;
  const int id = job->id;
  if (JobState(job) >= IPP_JOB_CANCELLED) {
    LogDiagnostic(L_ERROR, "set_job_attrs: job #%d is finished and cannot be altered!", id);
    send_ipp_error(con, IPP_NOT_POSSIBLE);
    return;
  }
  char username[kMaxUsername + 1];
  if (!check_job_owner(con, job, "set_job_attrs", "alter", username, sizeof(username))) return;
  if (!check_attribute_names(con, "set_job_attrs") || !values_in_range(con)) return;

  ipp_status_t status = IPP_OK;
  for (const ipp_attribute_t* a = con->ipp_request->attrs; a; a = a->next) {
    if (a->group_tag != IPP_TAG_JOB || a->name.empty()) continue;
    job = LookupJob(id);  // a cancel may have freed it
    const bool apply = status == IPP_OK && job;

    if (read_only(a->name)) {
      status = IPP_ATTRIBUTES_NOT_SETTABLE;
      unsupported(con, a);
      continue;
    }
    if (a->name == "job-priority") {
      if (a->value_tag != IPP_TAG_INTEGER || a->values.empty()) {
        status = IPP_REQUEST_VALUE_TOO_LONG;
        unsupported(con, a);
        continue;
      }
      if (!apply) continue;
      if (JobState(job) >= IPP_JOB_PROCESSING) {
        send_ipp_error(con, IPP_NOT_POSSIBLE);
        return;
      }
      ChangeJobPriority(id, a->values[0].integer);
      continue;
    }
    if (a->name == "job-state") {
      if (a->value_tag != IPP_TAG_ENUM || a->values.empty()) {
        status = IPP_REQUEST_VALUE_TOO_LONG;
        unsupported(con, a);
        continue;
      }
      if (!apply) continue;
      const int want = a->values[0].integer;
      const int now = JobState(job);
      if (want == IPP_JOB_PENDING || want == IPP_JOB_HELD) {
        if (now >= IPP_JOB_PROCESSING) {
          send_ipp_error(con, IPP_NOT_POSSIBLE);
          return;
        }
        SetJobState(job, want);
      } else if (want == IPP_JOB_PROCESSING || want == IPP_JOB_STOPPED) {
        if (want != now) {
          send_ipp_error(con, IPP_NOT_POSSIBLE);
          return;
        }
      } else if (want >= IPP_JOB_CANCELLED && want <= IPP_JOB_COMPLETED) {
        if (now >= IPP_JOB_STOPPED) {
          send_ipp_error(con, IPP_NOT_POSSIBLE);
          return;
        }
        CancelJob(id, 0);
        if (job_t* kept = LookupJob(id)) {
          SetJobState(kept, want);
          SaveJob(id);
        }
      }
      continue;
    }
    if (apply) replace_attribute(job, a);
  }

  if (LookupJob(id)) SaveJob(id);
  RunPendingJobs();
  con->ipp_response->op_status = uint16_t(status);
}
