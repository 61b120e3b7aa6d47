// The documents of a submission: the compression and format checks with
// auto-typing, job tickets, document entries and the spool file move; and
// the two handlers that deal with documents only, Send-Document and
// Validate-Job.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "scheduler/http/client.h"
#include "scheduler/conf/conf.h"
#include "scheduler/ipp/ipp.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"
#include "scheduler/printers/printers.h"
#include "scheduler/jobs/quota.h"
#include "scheduler/types/types.h"
#include "vorn/http.h"
#include "vorn/options.h"
#include "vorn/strings.h"

namespace {

// A job ticket is read from the head of the document only: this many ticket
// lines at most, so a document made of ticket lines cannot fill memory.
constexpr int kMaxTicketLines = 4096;
constexpr size_t kMaxTicketLine = 255;

// Bytes of the spooled document as kilobytes, rounded up; 0 when it cannot
// be read.
int spool_kbytes(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return int((st.st_size + 1023) / 1024);
}

void unsupported_format(client_t* con, const char* caller, const TypeName& name) {
  const std::string text = std::string(name.super) + "/" + std::string(name.type);
  LogDiagnostic(L_ERROR, "%s: Unsupported format '%s'!", caller, text.c_str());
  LogDiagnostic(L_INFO, "Hint: Do you have the raw file printing rules enabled?");
  send_ipp_error(con, IPP_DOCUMENT_FORMAT_NOT_SUPPORTED);
  ipp_t* response = con->ipp_response.get();
  const ipp_attribute_t* format = ippFindAttribute(con->ipp_request.get(), "document-format", IPP_TAG_MIMETYPE);
  if (format) {
    if (ipp_attribute_t* copy = ippCopyAttribute(response, format)) copy->group_tag = IPP_TAG_UNSUPPORTED_GROUP;
  } else {
    ippAddString(response, IPP_TAG_UNSUPPORTED_GROUP, IPP_TAG_MIMETYPE, "document-format", "",
                 text);
  }
}

// One line of the stream without its newline, at most kMaxTicketLine
// characters (the rest of a longer line is read as the next line). False at
// the end of the file with nothing read.
bool read_line(std::FILE* fp, std::string& line) {
  char buffer[kMaxTicketLine + 1];
  if (!std::fgets(buffer, sizeof(buffer), fp)) return false;
  line.assign(buffer);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return true;
}

// Ticket attributes that describe the job's life rather than how to print
// it: a document may not set them.
bool ticket_may_set(const std::string& name) {
  return name != "job-originating-host-name" && name != "job-originating-user-name" &&
         name != "job-media-sheets-completed" && name != "job-k-octets" && name != "job-id" &&
         !name.starts_with("job-state") && !name.starts_with("time-at-");
}

}  // namespace

bool has_document(const client_t* con) {
  // The HTTP service spools every request body, so a request without a
  // document still comes with an (empty) file.
  struct stat st {};
  return !con->filename.empty() && ::stat(con->filename.c_str(), &st) == 0 && st.st_size > 0;
}

TypeRecord* check_document(client_t* con, const char* caller, int* compressed) {
  ipp_t* request = con->ipp_request.get();
  *compressed = 0;

  if (const ipp_attribute_t* c = ippFindAttribute(request, "compression", IPP_TAG_KEYWORD);
      c && !c->values.empty()) {
    const std::string& value = c->values[0].string.text;
    if (value != "none" && value != "gzip") {
      LogDiagnostic(L_ERROR, "%s: Unsupported compression \"%s\"!", caller, value.c_str());
      send_ipp_error(con, IPP_ATTRIBUTES_NOT_SUPPORTED);
      ippAddString(con->ipp_response.get(), IPP_TAG_UNSUPPORTED_GROUP, IPP_TAG_KEYWORD, "compression", "", value);
      return nullptr;
    }
    *compressed = value == "gzip";
  }

  if (!has_document(con)) {
    LogDiagnostic(L_ERROR, "%s: No file!?!", caller);
    send_ipp_error(con, IPP_BAD_REQUEST);
    return nullptr;
  }

  ipp_attribute_t* format = ippFindAttribute(request, "document-format", IPP_TAG_MIMETYPE);
  const std::string text =
      format && !format->values.empty() ? format->values[0].string.text : "application/octet-stream";
  TypeName name;
  if (!ParseTypeName(text, &name)) {
    LogDiagnostic(L_ERROR, "%s: could not scan type '%s'!", caller, text.c_str());
    send_ipp_error(con, IPP_BAD_REQUEST);
    return nullptr;
  }

  TypeRecord* filetype = nullptr;
  if (vorn::iequals(name.super, "application") && vorn::iequals(name.type, "octet-stream")) {
    LogDiagnostic(L_DEBUG, "%s: auto-typing file...", caller);
    int detected_compressed = 0;
    filetype = DetectFileType(TypeDB.get(), con->filename.c_str(), &detected_compressed);
    if (filetype) {
      *compressed = detected_compressed;
      const std::string detected = filetype->super + "/" + filetype->type;
      if (format && !format->values.empty())
        format->values[0].string.text = detected;
      else
        ippAddString(request, IPP_TAG_JOB, IPP_TAG_MIMETYPE, "document-format", "", detected);
    } else {
      filetype = FindType(TypeDB.get(), name.super, name.type);
    }
  } else {
    filetype = FindType(TypeDB.get(), name.super, name.type);
  }
  if (!filetype) {
    unsupported_format(con, caller, name);
    return nullptr;
  }
  LogDiagnostic(L_DEBUG, "%s: request file type is %s/%s.", caller, filetype->super.c_str(),
                filetype->type.c_str());
  return filetype;
}

void read_ps_job_ticket(client_t* con) {
  std::FILE* raw = std::fopen(con->filename.c_str(), "re");
  if (!raw) {
    LogDiagnostic(L_ERROR, "read_ps_job_ticket: Unable to open PostScript print file - %s", std::strerror(errno));
    return;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> fp(raw, std::fclose);

  std::string line;
  if (!read_line(fp.get(), line)) {
    LogDiagnostic(L_ERROR, "read_ps_job_ticket: Unable to read from PostScript print file - %s",
                  errno ? std::strerror(errno) : "end of file");
    return;
  }
  if (!line.starts_with("%!PS-Adobe-")) return;

  vorn_options_t options;
  constexpr std::string_view kTicket = "%vornJobTicket:";
  for (int n = 0; n < kMaxTicketLines && read_line(fp.get(), line) && line.starts_with(kTicket); n++)
    vornParseOptions(std::string_view(line).substr(kTicket.size()), options);
  if (options.empty()) return;

  ipp_ptr ticket(ippNew());
  vornEncodeOptions(ticket.get(), options);
  ipp_t* request = con->ipp_request.get();
  for (const ipp_attribute_t* a = ticket->attrs; a; a = a->next) {
    if (a->group_tag != IPP_TAG_JOB || !ticket_may_set(a->name)) continue;
    // Every earlier spelling goes, whatever its group, so one value is left.
    while (ipp_attribute_t* old = ippFindAttribute(request, a->name, IPP_TAG_ZERO)) _ipp_free_attr(request, old);
    ippCopyAttribute(request, a);
  }
}

bool add_file(client_t* con, job_t* job, TypeRecord* filetype, int compressed) {
  LogDiagnostic(L_DEBUG2, "add_file(con=%p[%d], job=%d, filetype=%s/%s, compression=%d)\n",
                static_cast<void*>(con), con->http.fd, job->id, filetype ? filetype->super.c_str() : "(null)",
                filetype ? filetype->type.c_str() : "(null)", compressed);
  // Data file names and the loader count documents up to kMaxJobFiles.
  if (job->num_files >= kMaxJobFiles) {
    LogDiagnostic(L_ERROR, "add_file: job %d already has %d files!", job->id, job->num_files);
    CancelJob(job->id, 1);
    send_ipp_error(con, IPP_INTERNAL_ERROR);
    return false;
  }
  job->filetypes.push_back(filetype);
  job->compressions.push_back(compressed);
  job->num_files++;
  return true;
}

bool move_document(client_t* con, job_t* job) {
  const std::string target = JobDataFile(job->id, job->num_files);
  if (::rename(con->filename.c_str(), target.c_str()) != 0) {
    LogDiagnostic(L_ERROR, "Unable to move print file %s to %s - %s", con->filename.c_str(), target.c_str(),
                  std::strerror(errno));
    return false;
  }
  con->filename.clear();
  return true;
}

void send_document(client_t* con, ipp_attribute_t* uri) {
  const std::string resource = target_resource(uri, nullptr);
  LogDiagnostic(L_DEBUG2, "send_document(%p[%d], %s)\n", static_cast<void*>(con), con->http.fd, resource.c_str());

  if (!resource.starts_with("/classes/") && !resource.starts_with("/jobs/") && !resource.starts_with("/printers/")) {
    LogDiagnostic(L_ERROR, "send_document: print request on bad resource '%s'!", resource.c_str());
    send_ipp_error(con, IPP_NOT_AUTHORIZED);
    return;
  }

  job_t* job = find_target_job(con, uri, "send_document");
  if (!job) return;
  const int id = job->id;
  char username[kMaxUsername + 1];
  if (!check_job_owner(con, job, "send_document", "send document for", username, sizeof(username))) return;
  // Documents added to a finished job would never print.
  if (JobState(job) > IPP_JOB_STOPPED) {
    LogDiagnostic(L_ERROR, "send_document: job #%d is finished and takes no more documents!", id);
    send_ipp_error(con, IPP_NOT_POSSIBLE);
    return;
  }
  // A printing job belongs to its processes until they end: holding it now
  // would leave the printer waiting for a job whose exits no longer count.
  if (JobState(job) == IPP_JOB_PROCESSING) {
    LogDiagnostic(L_ERROR, "send_document: job #%d is printing and takes no more documents!", id);
    send_ipp_error(con, IPP_NOT_POSSIBLE);
    return;
  }
  if (!check_attribute_names(con, "send_document")) return;

  int compressed = 0;
  TypeRecord* filetype = check_document(con, "send_document", &compressed);
  if (!filetype) return;

  // What a failed save has to undo.
  const int old_files = job->num_files;
  const int old_state = JobState(job);
  const time_t old_hold = job->hold_until;

  const int kbytes = spool_kbytes(con->filename);
  if (!add_file(con, job, filetype, compressed)) return;
  if (!move_document(con, job)) {
    job->filetypes.pop_back();
    job->compressions.pop_back();
    job->num_files--;
    send_ipp_error(con, IPP_INTERNAL_ERROR);
    return;
  }
  ipp_attribute_t* octets = ippFindAttribute(job->attrs.get(), "job-k-octets", IPP_TAG_INTEGER);
  if (octets && !octets->values.empty())
    octets->values[0].integer += kbytes;
  else
    octets = ippAddInteger(job->attrs.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "job-k-octets", kbytes);
  UpdateQuota(LookupDestByName(job->dest), job->username, 0, kbytes);
  LogDiagnostic(L_INFO, "File of type %s/%s queued in job #%d by '%s'.", filetype->super.c_str(),
                filetype->type.c_str(), id, username);

  const ipp_attribute_t* hold = ippFindAttribute(job->attrs.get(), "job-hold-until", IPP_TAG_KEYWORD);
  if (!hold) hold = ippFindAttribute(job->attrs.get(), "job-hold-until", IPP_TAG_NAME);
  const bool no_hold = !hold || hold->values.empty() || hold->values[0].string.text == "no-hold";
  const ipp_attribute_t* last = ippFindAttribute(con->ipp_request.get(), "last-document", IPP_TAG_BOOLEAN);
  const bool last_document = last && !last->values.empty() && last->values[0].boolean;

  if (!last_document) {
    // The next document is expected within a minute.
    if (no_hold) {
      SetJobState(job, IPP_JOB_HELD);
      job->hold_until = JobClock() + 60;
    }
  } else {
    add_end_banner(con, job);
    if (JobState(job) == IPP_JOB_STOPPED || (JobState(job) == IPP_JOB_HELD && no_hold)) {
      SetJobState(job, IPP_JOB_PENDING);
      job->hold_until = 0;
    }
  }

  if (!SaveJob(id)) {
    // The client must not be told the document is queued when a restart
    // would not know it: take it back.
    for (int n = job->num_files; n > old_files; n--) ::unlink(JobDataFile(id, n).c_str());
    job->filetypes.resize(size_t(old_files));
    job->compressions.resize(size_t(old_files));
    job->num_files = old_files;
    octets->values[0].integer -= kbytes;
    if (old_state) SetJobState(job, old_state);
    job->hold_until = old_hold;
    send_ipp_error(con, IPP_INTERNAL_ERROR);
    return;
  }
  if (last_document) {
    RunPendingJobs();
    job = LookupJob(id);
  }
  if (job) add_job_reply(con, job, true);
}

void validate_job(client_t* con, ipp_attribute_t* uri) {
  std::string host;
  const std::string resource = target_resource(uri, &host);
  LogDiagnostic(L_DEBUG2, "validate_job(%p[%d], %s)\n", static_cast<void*>(con), con->http.fd, resource.c_str());

  if (!con->resource.starts_with("/classes/") && !con->resource.starts_with("/printers/")) {
    LogDiagnostic(L_ERROR, "validate_job: request on bad resource '%s'!", con->resource.c_str());
    send_ipp_error(con, IPP_NOT_AUTHORIZED);
    return;
  }
  if (!check_attribute_names(con, "validate_job")) return;
  ipp_t* request = con->ipp_request.get();
  if (const ipp_attribute_t* c = ippFindAttribute(request, "compression", IPP_TAG_KEYWORD);
      c && !c->values.empty() && c->values[0].string.text != "none" && c->values[0].string.text != "gzip") {
    LogDiagnostic(L_ERROR, "validate_job: Unsupported compression attribute %s!", c->values[0].string.text.c_str());
    send_ipp_error(con, IPP_ATTRIBUTES_NOT_SUPPORTED);
    ippAddString(con->ipp_response.get(), IPP_TAG_UNSUPPORTED_GROUP, IPP_TAG_KEYWORD, "compression", "",
                 c->values[0].string.text);
    return;
  }
  if (const ipp_attribute_t* format = ippFindAttribute(request, "document-format", IPP_TAG_MIMETYPE);
      format && !format->values.empty()) {
    const std::string& text = format->values[0].string.text;
    TypeName name;
    if (!ParseTypeName(text, &name)) {
      LogDiagnostic(L_ERROR, "validate_job: could not scan type '%s'!\n", text.c_str());
      send_ipp_error(con, IPP_BAD_REQUEST);
      return;
    }
    if (!(vorn::iequals(name.super, "application") && vorn::iequals(name.type, "octet-stream")) &&
        !FindType(TypeDB.get(), name.super, name.type)) {
      LogDiagnostic(L_ERROR, "validate_job: Unsupported format '%s'!\n", text.c_str());
      LogDiagnostic(L_INFO, "Hint: Do you have the raw file printing rules enabled?");
      send_ipp_error(con, IPP_DOCUMENT_FORMAT_NOT_SUPPORTED);
      if (ipp_attribute_t* copy = ippCopyAttribute(con->ipp_response.get(), format))
        copy->group_tag = IPP_TAG_UNSUPPORTED_GROUP;
      return;
    }
  }
  if (!LookupDest(host, resource, nullptr)) {
    LogDiagnostic(L_ERROR, "validate_job: resource name '%s' no good!", resource.c_str());
    send_ipp_error(con, IPP_NOT_FOUND);
    return;
  }
  con->ipp_response->op_status = IPP_OK;
}
