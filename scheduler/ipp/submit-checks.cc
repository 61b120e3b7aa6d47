// Admission checks of the submission handlers (copies, page-ranges, job
// limits, user lists, quotas) and the reply values other replies reuse.
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>

#include <string>

#include "scheduler/http/client.h"
#include "scheduler/conf/conf.h"
#include "scheduler/ipp/ipp.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"
#include "scheduler/printers/printers.h"
#include "scheduler/jobs/quota.h"
#include "scheduler/run/run.h"
#include "vorn/strings.h"

namespace {

// The requester: the authenticated name, else requesting-user-name, else
// "anonymous", at most kMaxUsername characters.
std::string requester_of(client_t* con) {
  if (!con->username.empty()) return std::string(vorn::cut(con->username, kMaxUsername));
  const ipp_attribute_t* a = ippFindAttribute(con->ipp_request.get(), "requesting-user-name", IPP_TAG_NAME);
  if (a && !a->values.empty()) {
    LogDiagnostic(L_DEBUG, "check_quotas: requesting-user-name = '%s'", a->values[0].string.text.c_str());
    return std::string(vorn::cut(a->values[0].string.text, kMaxUsername));
  }
  return "anonymous";
}

// Whether `name` is on the printer's user list: by name, or through an
// "@group" entry naming its primary group or a group listing it.
bool user_listed(const printer_t* p, const std::string& name) {
  const passwd* pw = ::getpwnam(name.c_str());
  const bool known = pw != nullptr;
  const gid_t primary = known ? pw->pw_gid : 0;
  for (const std::string& entry : p->users) {
    if (entry.empty()) continue;
    if (entry[0] != '@') {
      if (vorn::iequals(entry, name)) return true;
      continue;
    }
    const group* gr = ::getgrnam(entry.c_str() + 1);
    if (!gr) continue;
    if (known && gr->gr_gid == primary) return true;
    for (char** member = gr->gr_mem; member && *member; member++)
      if (vorn::iequals(*member, name)) return true;
  }
  return false;
}

}  // namespace

bool check_page_ranges(const ipp_attribute_t* ranges, int* lower, int* upper) {
  if (!ranges) return true;
  int previous = 0;  // the first lower bound must be at least 1
  for (const ipp_value_t& v : ranges->values) {
    if (v.range.lower <= previous || v.range.upper < v.range.lower) {
      if (lower) *lower = v.range.lower;
      if (upper) *upper = v.range.upper;
      return false;
    }
    previous = v.range.upper;
  }
  return true;
}

bool check_attribute_names(client_t* con, const char* caller) {
  for (const ipp_attribute_t* a = con->ipp_request->attrs; a; a = a->next) {
    // Group separators carry no name.
    if (a->name.empty() && a->value_tag == IPP_TAG_ZERO) continue;
    if (ValidAttributeName(a->name)) continue;
    LogDiagnostic(L_ERROR, "%s: bad attribute name '%s'.", caller, a->name.c_str());
    send_ipp_error(con, IPP_BAD_REQUEST);
    return false;
  }
  return true;
}

bool check_copies_and_ranges(client_t* con, const char* caller) {
  ipp_t* request = con->ipp_request.get();
  const ipp_attribute_t* copies = ippFindAttribute(request, "copies", IPP_TAG_INTEGER);
  if (copies && !copies->values.empty()) {
    int n = copies->values[0].integer;
    if (n < 1 || n > MaxCopies) {
      LogDiagnostic(L_INFO, "%s: bad copies value %d.", caller, n);
      send_ipp_error(con, IPP_BAD_REQUEST);
      return false;
    }
  }
  int lower = 0, upper = 0;
  if (!check_page_ranges(ippFindAttribute(request, "page-ranges", IPP_TAG_RANGE), &lower, &upper)) {
    LogDiagnostic(L_ERROR, "%s: bad page-ranges values %d-%d.", caller, lower, upper);
    send_ipp_error(con, IPP_BAD_REQUEST);
    return false;
  }
  return true;
}

bool check_quotas(client_t* con, printer_t* p) {
  LogDiagnostic(L_DEBUG2, "check_quotas(%p[%d], %p[%s])\n", static_cast<void*>(con), con->http.fd,
                static_cast<void*>(p), p ? p->name.c_str() : "(null)");
  if (!p) return false;
  const std::string name = requester_of(con);

  if (MaxJobsPerPrinter && CountPrinterJobs(p->name) >= MaxJobsPerPrinter) {
    LogDiagnostic(L_INFO, "Too many jobs for printer \"%s\"...", p->name.c_str());
    return false;
  }
  if (MaxJobsPerUser && CountUserJobs(name) >= MaxJobsPerUser) {
    LogDiagnostic(L_INFO, "Too many jobs for user \"%s\"...", name.c_str());
    return false;
  }
  if (!p->users.empty() && user_listed(p, name) == (p->deny_users != 0)) {
    LogDiagnostic(L_INFO, "Denying user \"%s\" access to printer \"%s\"...", name.c_str(), p->name.c_str());
    return false;
  }
  if (p->page_limit || p->k_limit) {
    const quota_t* q = UpdateQuota(p, name, 0, 0);
    if (!q) {
      LogDiagnostic(L_ERROR, "Unable to allocate quota data for user \"%s\"!", name.c_str());
      return false;
    }
    if ((p->k_limit && q->k_count >= p->k_limit) || (p->page_limit && q->page_count >= p->page_limit)) {
      LogDiagnostic(L_INFO, "User \"%s\" is over the quota limit...", name.c_str());
      return false;
    }
  }
  return true;
}

const char* job_state_reason(const job_t* job, const printer_t* dest) {
  switch (JobState(job)) {
    case IPP_JOB_PENDING:
      return dest && dest->state == IPP_PRINTER_STOPPED ? "printer-stopped" : "none";
    case IPP_JOB_HELD:
      return ippFindAttribute(job->attrs.get(), "job-hold-until", IPP_TAG_KEYWORD) ||
                     ippFindAttribute(job->attrs.get(), "job-hold-until", IPP_TAG_NAME)
                 ? "job-hold-until-specified"
                 : "job-incoming";
    case IPP_JOB_PROCESSING:
      return "job-printing";
    case IPP_JOB_STOPPED:
      return "job-stopped";
    case IPP_JOB_CANCELLED:
      return "job-canceled-by-user";
    case IPP_JOB_ABORTED:
      return "aborted-by-system";
    case IPP_JOB_COMPLETED:
      return "job-completed-successfully";
    default:
      return "none";
  }
}

void add_job_state_reasons(client_t* con, job_t* job) {
  ippAddString(con->ipp_response.get(), IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-state-reasons", "",
               job_state_reason(job, LookupDestByName(job->dest)));
}

int listener_port(const client_t* con) {
  sockaddr_storage addr{};
  socklen_t len = sizeof(addr);
  if (::getsockname(con->http.fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&addr)->sin_port);
  if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_port);
  return 0;
}
