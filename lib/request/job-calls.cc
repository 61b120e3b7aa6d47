// Job and printer calls of the commands over the process-wide connection:
// submitting files, cancelling a job, listing printers, fetching a PPD.

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "request-private.h"
#include "vorn/client.h"
#include "vorn/fd.h"
#include "vorn/options.h"
#include "vorn/request.h"
#include "vorn/file.h"

namespace {

using namespace vorn::request;

constexpr int64_t kMaxPPD = int64_t(64) << 20;

bool succeeded(const ipp_t* response) { return response && response->op_status <= IPP_OK_CONFLICT; }

// A request for one destination: the common start, "printer-uri" and
// "requesting-user-name".
ipp_t* printer_request(ipp_op_t op, const char* printer) {
  ipp_t* req = vornNewRequest(op);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", printer_uri(printer));
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", "", vornUser());
  return req;
}

int cancel_job(http_t* http, const char* printer, int job_id) {
  ipp_t* req = printer_request(IPP_CANCEL_JOB, printer);
  ippAddInteger(req, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
  ipp_ptr response(vornDoFileRequest(http, req, "/jobs/", nullptr));
  return succeeded(response.get()) ? 1 : 0;
}

// The new job's id from a Print-Job or Create-Job answer, else 0.
int job_id_of(ipp_t* response) {
  if (!succeeded(response)) return 0;
  ipp_attribute_t* id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER);
  if (!id || id->values.empty() || id->values[0].integer <= 0) {
    set_last_error(IPP_INTERNAL_ERROR);  // accepted, but the answer names no job
    return 0;
  }
  return id->values[0].integer;
}

// The options a Send-Document repeats for its own document.
vorn_options_t document_options(const vorn_options_t& options) {
  vorn_options_t doc;
  for (const char* name : {"document-format", "compression"})
    if (const char* value = vornGetOption(name, options)) vornAddOption(name, value, doc);
  return doc;
}

}  // namespace

int vornPrintFiles(const char* printer, int num_files, const char* const* files, const char* title,
                   const vorn_options_t& options) {
  bool usable = printer && valid_dest_name(printer) && num_files > 0 && files;
  for (int i = 0; usable && i < num_files; i++) usable = files[i] != nullptr;
  if (!usable) {
    set_last_error(IPP_BAD_REQUEST);
    return 0;
  }
  shared_connection conn;
  http_t* http = conn.get();
  if (!http) return 0;
  const std::string resource = std::string("/printers/") + printer;

  ipp_t* req = printer_request(num_files == 1 ? IPP_PRINT_JOB : IPP_CREATE_JOB, printer);
  if (title && *title) ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", "", title);
  vornEncodeOptions(req, options);
  ipp_ptr response(vornDoFileRequest(http, req, resource.c_str(), num_files == 1 ? files[0] : nullptr));
  int job_id = job_id_of(response.get());
  if (job_id == 0 || num_files == 1) return job_id;

  const vorn_options_t doc_options = document_options(options);
  for (int i = 0; i < num_files; i++) {
    req = printer_request(IPP_SEND_DOCUMENT, printer);
    ippAddInteger(req, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
    vornEncodeOptions(req, doc_options);
    ippAddBoolean(req, IPP_TAG_OPERATION, "last-document", i == num_files - 1);
    response.reset(vornDoFileRequest(http, req, resource.c_str(), files[i]));
    if (!succeeded(response.get())) {
      ipp_status_t why = vornLastError();
      cancel_job(http, printer, job_id);
      set_last_error(why);
      return 0;
    }
  }
  return job_id;
}

int vornPrintFiles(const char* printer, std::span<const std::string> files, const char* title,
                   const vorn_options_t& options) {
  std::vector<const char*> names;
  names.reserve(files.size());
  for (const auto& f : files) names.push_back(f.c_str());
  return vornPrintFiles(printer, int(names.size()), names.data(), title, options);
}

int vornPrintFile(const char* printer, const char* filename, const char* title, const vorn_options_t& options) {
  return vornPrintFiles(printer, 1, &filename, title, options);
}

int vornCancelJob(const char* printer, int job_id) {
  if (!printer || !valid_dest_name(printer) || job_id < 0) {
    set_last_error(IPP_BAD_REQUEST);
    return 0;
  }
  shared_connection conn;
  return conn.get() ? cancel_job(conn.get(), printer, job_id) : 0;
}

int vornGetPrinters(std::vector<std::string>& printers) {
  printers.clear();
  shared_connection conn;
  if (!conn.get()) return 0;
  ipp_t* req = vornNewRequest(VORN_GET_PRINTERS);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", "", "printer-name");
  ipp_ptr response(vornDoFileRequest(conn.get(), req, "/", nullptr));
  if (!succeeded(response.get())) return 0;
  for (ipp_attribute_t* a = ippFindAttribute(response.get(), "printer-name", IPP_TAG_NAME); a;
       a = ippFindNextAttribute(response.get(), "printer-name", IPP_TAG_NAME)) {
    for (const auto& v : a->values) printers.push_back(v.string.text);
  }
  return int(printers.size());
}

std::string vornGetPPD(const char* printer) {
  if (!printer || !valid_dest_name(printer)) {
    set_last_error(IPP_NOT_FOUND);
    return {};
  }
  shared_connection conn;
  http_t* http = conn.get();
  if (!http) return {};
  request_mode mode(http);
  const std::string resource = std::string("/printers/") + printer + ".ppd";
  exchange_t ex = exchange(http, "GET", resource.c_str(), nullptr);
  if (ex.status != HTTP_OK) {
    set_last_error(ex.status == HTTP_ERROR ? IPP_INTERNAL_ERROR : status_of_http(ex.status));
    httpCloseSocket(http);
    return {};
  }

  std::string filename;
  vorn::unique_fd fd(vornTempFd(filename));
  bool ok = bool(fd);
  int64_t total = 0;
  char buf[32768];
  for (int n; ok && (n = httpRead(http, buf, sizeof(buf))) != 0;) {
    total += n;
    ok = n > 0 && total <= kMaxPPD && vorn::write_all(fd.get(), buf, size_t(n)) == 0;
  }
  if (!ok) {
    if (fd) ::unlink(filename.c_str());
    httpCloseSocket(http);  // the rest of the body is not wanted
    set_last_error(IPP_INTERNAL_ERROR);
    return {};
  }
  set_last_error(IPP_OK);
  return filename;
}
