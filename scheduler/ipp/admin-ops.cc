// Administration of existing destinations: deleting them, the default
// destination, accepting and rejecting jobs, starting and stopping, and
// moving a job to another destination.
#include <unistd.h>

#include <string>

#include "scheduler/conf/conf.h"
#include "scheduler/http/client.h"
#include "scheduler/ipp/ipp.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"
#include "scheduler/printers/printers.h"
#include "vorn/strings.h"

namespace {

bool is_class(const printer_t* p) { return (p->type & PRINTER_CLASS) != 0; }

// The destination the request's printer-uri names; null after logging
// "CALLER: resource name '...' no good!" and answering 0x0406.
printer_t* resolve(client_t* con, ipp_attribute_t* uri, const char* caller) {
  std::string host;
  const std::string resource = target_resource(uri, &host);
  printer_t* p = LookupDest(host, resource, nullptr);
  if (!p) {
    LogDiagnostic(L_ERROR, "%s: resource name '%s' no good!", caller, resource.c_str());
    send_ipp_error(con, IPP_NOT_FOUND);
  }
  return p;
}

// The request's "printer-state-message" (text), or `fallback`.
std::string state_message_of(client_t* con, const char* fallback) {
  const ipp_attribute_t* a = ippFindAttribute(con->ipp_request.get(), "printer-state-message", IPP_TAG_TEXT);
  if (!a || a->values.empty()) return fallback;
  return std::string(vorn::cut(a->values[0].string.text, kMaxStateMessage));
}

void log_entry(client_t* con, const char* handler, ipp_attribute_t* uri) {
  LogDiagnostic(L_DEBUG2, "%s(%p[%d], %s)\n", handler, static_cast<void*>(con), con->http.fd,
                uri && !uri->values.empty() ? uri->values[0].string.text.c_str() : "(null)");
}

// Accepting and rejecting differ only in the flag and the message.
void set_accepting(client_t* con, ipp_attribute_t* uri, bool accepting) {
  const char* caller = accepting ? "accept_jobs" : "reject_jobs";
  log_entry(con, caller, uri);
  if (!check_admin_resource(con, caller)) return;
  printer_t* p = resolve(con, uri, caller);
  if (!p) return;
  p->accepting = accepting ? 1 : 0;
  p->state_message = accepting ? std::string() : state_message_of(con, "Rejecting Jobs");
  RecordPrinterHistory(p);
  SaveDestinationFile(p);
  if (accepting)
    LogDiagnostic(L_INFO, "Printer '%s' now accepting jobs ('%s').", p->name.c_str(), con->username.c_str());
  else
    LogDiagnostic(L_INFO, "%s '%s' rejecting jobs ('%s').", is_class(p) ? "Class" : "Printer", p->name.c_str(),
                  con->username.c_str());
  con->ipp_response->op_status = IPP_OK;
}

}  // namespace

void delete_printer(client_t* con, ipp_attribute_t* uri) {
  log_entry(con, "delete_printer", uri);
  if (!check_admin_resource(con, "delete_printer")) return;
  printer_t* p = resolve(con, uri, "delete_printer");
  if (!p) return;
  const std::string name = p->name;
  const bool cls = is_class(p);
  CancelMatchingJobs(name, "", 1);
  ::unlink((ServerRoot + "/interfaces/" + name).c_str());
  ::unlink((ServerRoot + "/ppd/" + name + ".ppd").c_str());
  LogDiagnostic(L_INFO, "%s '%s' deleted by '%s'.", cls ? "Class" : "Printer", name.c_str(), con->username.c_str());
  RemovePrinter(p, 0);
  if (cls)
    WriteClassesConf();
  else
    WritePrintersConf();
  con->ipp_response->op_status = IPP_OK;
}

void set_default(client_t* con, ipp_attribute_t* uri) {
  log_entry(con, "set_default", uri);
  if (!check_admin_resource(con, "set_default")) return;
  printer_t* p = resolve(con, uri, "set_default");
  if (!p) return;
  DefaultPrinter = p;
  // Either file may have held the old default.
  WritePrintersConf();
  WriteClassesConf();
  SavePrintcap();
  LogDiagnostic(L_INFO, "Default destination set to '%s' by '%s'.", p->name.c_str(), con->username.c_str());
  con->ipp_response->op_status = IPP_OK;
}

void accept_jobs(client_t* con, ipp_attribute_t* uri) { set_accepting(con, uri, true); }
void reject_jobs(client_t* con, ipp_attribute_t* uri) { set_accepting(con, uri, false); }

void start_printer(client_t* con, ipp_attribute_t* uri) {
  log_entry(con, "start_printer", uri);
  if (!check_admin_resource(con, "start_printer")) return;
  printer_t* p = resolve(con, uri, "start_printer");
  if (!p) return;
  p->state_message.clear();
  ChangePrinterState(p, IPP_PRINTER_IDLE, 1);
  LogDiagnostic(L_INFO, "%s '%s' started by '%s'.", is_class(p) ? "Class" : "Printer", p->name.c_str(),
                con->username.c_str());
  RunPendingJobs();
  con->ipp_response->op_status = IPP_OK;
}

void stop_printer(client_t* con, ipp_attribute_t* uri) {
  log_entry(con, "stop_printer", uri);
  if (!check_admin_resource(con, "stop_printer")) return;
  printer_t* p = resolve(con, uri, "stop_printer");
  if (!p) return;
  p->state_message = state_message_of(con, "Paused");
  HaltPrinter(p, 1);
  LogDiagnostic(L_INFO, "%s '%s' stopped by '%s'.", is_class(p) ? "Class" : "Printer", p->name.c_str(),
                con->username.c_str());
  con->ipp_response->op_status = IPP_OK;
}

void move_job(client_t* con, ipp_attribute_t* uri) {
  log_entry(con, "move_job", uri);
  job_t* job = find_target_job(con, uri, "move_job");
  if (!job) return;
  const int id = job->id;
  if (JobState(job) >= IPP_JOB_CANCELLED) {
    LogDiagnostic(L_ERROR, "move_job: job #%d is finished and cannot be altered!", id);
    send_ipp_error(con, IPP_NOT_POSSIBLE);
    return;
  }
  char username[kMaxUsername + 1];
  if (!check_job_owner(con, job, "move_job", "move", username, sizeof(username))) return;
  ipp_attribute_t* target = ippFindAttribute(con->ipp_request.get(), "job-printer-uri", IPP_TAG_URI);
  if (!target || target->values.empty()) {
    LogDiagnostic(L_ERROR, "move_job: job-printer-uri attribute missing!");
    send_ipp_error(con, IPP_BAD_REQUEST);
    return;
  }
  printer_t* dest = resolve(con, target, "move_job");
  if (!dest) return;
  // A job already printing stays where it is; saying it moved would be
  // untrue.
  if (!RetargetJob(id, dest->name)) {
    LogDiagnostic(L_ERROR, "move_job: job #%d is printing and cannot be moved!", id);
    send_ipp_error(con, IPP_NOT_POSSIBLE);
    return;
  }
  RunPendingJobs();
  con->ipp_response->op_status = IPP_OK;
}
