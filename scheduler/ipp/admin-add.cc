// VORN-Add-Printer and VORN-Add-Class: creating and changing destinations,
// with the printer's PPD file or interface script.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "scheduler/buffile.h"
#include "scheduler/conf/conf.h"
#include "scheduler/http/client.h"
#include "scheduler/ipp/ipp.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"
#include "scheduler/printers/catalogue.h"
#include "scheduler/printers/printers.h"
#include "vorn/http.h"
#include "vorn/strings.h"

namespace {

constexpr size_t kMaxNameBytes = 127;  // a destination name in a request

// A name a request may give a new destination: it becomes a file name
// under the server root and part of URIs, so nothing that could leave its
// folder or change a URI's meaning.
bool acceptable_name(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameBytes) return false;
  for (unsigned char c : name)
    if (c <= ' ' || c == 0x7f || c == '/' || c == '\\' || c == '?' || c == '#' || c == '"' || c == '\'')
      return false;
  return true;
}

// A ppd-name must name a file of the model folder, never one elsewhere.
bool acceptable_model(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.find("..") != std::string_view::npos) return false;
  for (unsigned char c : name)
    if (c < ' ' || c == 0x7f || c == '\\') return false;
  return true;
}

// Whether a device URI's scheme is one this system can print to: a scheme
// of the device list, or, before device discovery has filled that, a
// backend program of that name.
bool known_device_scheme(std::string_view uri) {
  const std::string scheme(uri.substr(0, uri.find(':')));
  if (DeviceCatalogue)
    for (ipp_attribute_t* a = ippFindAttribute(DeviceCatalogue.get(), "device-uri", IPP_TAG_URI); a;
         a = ippFindNextAttribute(DeviceCatalogue.get(), "device-uri", IPP_TAG_URI)) {
      std::string_view listed = a->values.empty() ? std::string_view() : a->values[0].string.text;
      if (listed == scheme || (listed.starts_with(scheme) && listed.size() > scheme.size() &&
                               listed[scheme.size()] == ':'))
        return true;
    }
  return ::access((ServerBin + "/backend/" + scheme).c_str(), X_OK) == 0;
}

// The first value of the request's attribute `name` as text, or null.
const std::string* text_value(ipp_t* request, const char* name, ipp_tag_t type) {
  const ipp_attribute_t* a = ippFindAttribute(request, name, type);
  return a && !a->values.empty() ? &a->values[0].string.text : nullptr;
}

// The "Any" name of an implicit class, or its deletion, when a local
// destination takes its name.
void make_way_for_local(printer_t* implicit) {
  if (ImplicitAnyClasses) {
    implicit->name = "Any" + implicit->name;
    ReorderPrinters();
  } else {
    RemovePrinter(implicit, 0);
  }
}

// A remote destination keeps its place as NAME@HOST when a local one takes
// its name.
void rename_remote(printer_t* remote) {
  RemovePrinterFilters(remote);
  remote->name = vorn::cut(remote->name + "@" + remote->hostname, kMaxPrinterName);
  SetPrinterAttrs(remote);
  ReorderPrinters();
}

// Location and info, the first attributes both operations take.
void apply_texts(client_t* con, printer_t* p) {
  ipp_t* request = con->ipp_request.get();
  if (const std::string* v = text_value(request, "printer-location", IPP_TAG_TEXT))
    p->location = vorn::cut(*v, kMaxPrinterText);
  if (const std::string* v = text_value(request, "printer-info", IPP_TAG_TEXT)) p->info = vorn::cut(*v, kMaxPrinterText);
}

// The state, banner, user-list and quota attributes both operations take.
// False after answering an error (the handler then ends; nothing is saved).
bool apply_state(client_t* con, printer_t* p, const char* caller) {
  ipp_t* request = con->ipp_request.get();
  if (const ipp_attribute_t* a = ippFindAttribute(request, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
      a && !a->values.empty()) {
    LogDiagnostic(L_INFO, "Setting %s printer-is-accepting-jobs to %d (was %d.)", p->name.c_str(),
                  int(a->values[0].boolean), p->accepting);
    p->accepting = a->values[0].boolean ? 1 : 0;
    RecordPrinterHistory(p);
  }
  if (const ipp_attribute_t* a = ippFindAttribute(request, "printer-state", IPP_TAG_ENUM); a && !a->values.empty()) {
    int state = a->values[0].integer;
    if (state != IPP_PRINTER_IDLE && state != IPP_PRINTER_STOPPED) {
      LogDiagnostic(L_ERROR, "Attempt to set %s printer-state to bad value %d!", p->name.c_str(), state);
      send_ipp_error(con, IPP_BAD_REQUEST);
      return false;
    }
    LogDiagnostic(L_INFO, "Setting %s printer-state to %d (was %d.)", p->name.c_str(), state, p->state);
    ChangePrinterState(p, state, 0);
  }
  if (const std::string* v = text_value(request, "printer-state-message", IPP_TAG_TEXT)) {
    p->state_message = vorn::cut(*v, kMaxStateMessage);
    RecordPrinterHistory(p);
  }
  if (const ipp_attribute_t* a = ippFindAttribute(request, "job-sheets-default", IPP_TAG_ZERO);
      a && !a->values.empty() && Classification.empty()) {
    p->job_sheets[0] = vorn::cut(a->values[0].string.text, kMaxPrinterText);
    p->job_sheets[1] = a->values.size() > 1 ? std::string(vorn::cut(a->values[1].string.text, kMaxPrinterText))
                                            : std::string("none");
  }
  const ipp_attribute_t* allowed = ippFindAttribute(request, "requesting-user-name-allowed", IPP_TAG_ZERO);
  if (allowed) {
    ClearUserRules(p);
    p->deny_users = 0;
    bool names = allowed->value_tag == IPP_TAG_NAME || allowed->value_tag == IPP_TAG_NAMELANG;
    if (names && !(allowed->values.size() == 1 && allowed->values[0].string.text == "all"))
      for (const ipp_value_t& v : allowed->values) AddUserRule(p, v.string.text);
  } else if (const ipp_attribute_t* denied = ippFindAttribute(request, "requesting-user-name-denied", IPP_TAG_ZERO)) {
    ClearUserRules(p);
    p->deny_users = 1;
    bool names = denied->value_tag == IPP_TAG_NAME || denied->value_tag == IPP_TAG_NAMELANG;
    if (names && !(denied->values.size() == 1 && denied->values[0].string.text == "none"))
      for (const ipp_value_t& v : denied->values) AddUserRule(p, v.string.text);
  }
  static const struct {
    const char* name;
    int printer_t::*field;
  } kQuotas[] = {{"job-quota-period", &printer_t::quota_period},
                 {"job-k-limit", &printer_t::k_limit},
                 {"job-page-limit", &printer_t::page_limit}};
  for (const auto& q : kQuotas) {
    const ipp_attribute_t* a = ippFindAttribute(request, q.name, IPP_TAG_INTEGER);
    if (!a || a->values.empty()) continue;
    ClearQuotas(p);
    p->*q.field = a->values[0].integer < 0 ? 0 : a->values[0].integer;
    LogDiagnostic(L_DEBUG, "%s: Setting %s to %d...", caller, q.name, p->*q.field);
  }
  return true;
}

// Copies `from` (decompressed when gzip'd) to a new version of `to` with
// `mode`. 0, or -1 with errno set (the old `to` then stays).
int copy_file(const std::string& from, const std::string& to, mode_t mode) {
  LogDiagnostic(L_DEBUG2, "copy_file(\"%s\", \"%s\")\n", from.c_str(), to.c_str());
  auto in = BufFileOpen(from.c_str(), "r");
  if (!in) return -1;
  auto out = BufFileCreateSafe(to, mode);
  if (!out) return -1;
  char buffer[2048];
  long n;
  while ((n = BufFileRead(in.get(), buffer, sizeof(buffer))) > 0)
    if (BufFileWrite(out.get(), buffer, size_t(n)) != n) return -1;
  if (int e = BufFileError(in.get())) {
    errno = e;
    return -1;
  }
  return BufFileCommit(std::move(out));
}

// The letters and digits at the start of `s`, at most 40.
std::string word_of(std::string_view s) {
  size_t n = 0;
  while (n < s.size() && n < 40 && (vorn::isdigit(s[n]) || (s[n] >= 'a' && s[n] <= 'z') || (s[n] >= 'A' && s[n] <= 'Z')))
    n++;
  return std::string(s.substr(0, n));
}

struct kept_default {
  std::string option, value;
};

// The defaults of the PPD a model replaces, so the new PPD keeps what the
// administrator chose: every "*DefaultOPTION: VALUE" (the first of each
// option) and the last "*vornProtocol:" line. Without an old PPD, the page
// size of the system's language.
std::vector<kept_default> old_defaults(const std::string& ppd, std::string* protocol) {
  std::vector<kept_default> kept;
  auto in = BufFileOpen(ppd.c_str(), "r");
  if (!in) {
    std::string_view lang = DefaultLanguage;
    bool letter = lang.empty() || vorn::iequals(lang, "C") || vorn::iequals(lang, "POSIX") ||
                  vorn::iequals(lang, "en") || lang.starts_with("en_US") || lang.starts_with("en_CA") ||
                  lang.starts_with("fr_CA");
    for (const char* option : {"PageSize", "PageRegion", "PaperDimension", "ImageableArea"})
      kept.push_back({option, letter ? "Letter" : "A4"});
    return kept;
  }
  char line[2048];
  while (BufFileGets(in.get(), line, sizeof(line))) {
    std::string_view s = line;
    if (s.starts_with("*vornProtocol:")) {
      *protocol = vorn::cut(s, 255);
      continue;
    }
    if (!s.starts_with("*Default")) continue;
    std::string option = word_of(s.substr(8));
    size_t colon = s.find(':');
    if (option.empty() || colon == std::string_view::npos) continue;
    std::string value = word_of(vorn::trim(s.substr(colon + 1)));
    bool seen = false;
    for (const kept_default& k : kept) seen = seen || k.option == option;
    if (!seen) kept.push_back({option, value});
  }
  return kept;
}

// Installs model `model` as `ppd`, keeping the defaults of the PPD it
// replaces. 0, or -1 with errno set.
int copy_model(const std::string& model, const std::string& ppd) {
  LogDiagnostic(L_DEBUG2, "copy_model(\"%s\", \"%s\")\n", model.c_str(), ppd.c_str());
  std::string protocol;
  std::vector<kept_default> kept = old_defaults(ppd, &protocol);
  auto in = BufFileOpen(model.c_str(), "r");
  if (!in) return -1;
  auto out = BufFileCreateSafe(ppd, 0644);
  if (!out) return -1;
  // Long lines come back in pieces; only the piece that ends a line gets
  // the newline.
  static constexpr size_t kLine = 65536;
  std::vector<char> line(kLine);
  bool ok = true;
  while (ok && BufFileGets(in.get(), line.data(), line.size())) {
    std::string_view s = line.data();
    bool ends_line = s.size() < kLine - 1;
    std::string text(s);
    if (s.starts_with("*Default")) {
      std::string option = word_of(s.substr(8));
      for (const kept_default& k : kept)
        if (k.option == option && !option.empty()) text = "*Default" + option + ": " + k.value;
    }
    ok = BufFilePuts(out.get(), text.c_str()) >= 0 && (!ends_line || BufFilePuts(out.get(), "\n") >= 0);
  }
  if (ok && !protocol.empty()) ok = BufFilePuts(out.get(), (protocol + "\n").c_str()) >= 0;
  if (int e = BufFileError(in.get())) {
    errno = e;
    return -1;
  }
  if (!ok) return -1;
  return BufFileCommit(std::move(out));
}

// The PPD or interface script of a VORN-Add-Printer. False after answering
// an error.
bool install_driver(client_t* con, printer_t* p) {
  const std::string ppd = ServerRoot + "/ppd/" + p->name + ".ppd";
  const std::string script = ServerRoot + "/interfaces/" + p->name;
  // A server root set up by hand may lack the two folders.
  ::mkdir((ServerRoot + "/ppd").c_str(), 0755);
  ::mkdir((ServerRoot + "/interfaces").c_str(), 0755);
  auto ppd_failed = [&](const std::string& from) {
    LogDiagnostic(L_ERROR, "add_printer: Unable to copy PPD file from %s to %s - %s!", from.c_str(), ppd.c_str(),
                  std::strerror(errno));
    send_ipp_error(con, IPP_INTERNAL_ERROR);
    return false;
  };

  if (has_document(con)) {
    auto doc = BufFileOpen(con->filename.c_str(), "r");
    if (!doc) return true;  // a document that cannot be read changes nothing
    char first[1024] = "";
    BufFileGets(doc.get(), first, sizeof(first));
    doc.reset();
    if (std::string_view(first).starts_with("*PPD-Adobe")) {
      ::unlink(script.c_str());
      if (copy_file(con->filename, ppd, 0644) != 0) return ppd_failed(con->filename);
      LogDiagnostic(L_DEBUG, "add_printer: Copied PPD file successfully!");
    } else {
      if (copy_file(con->filename, script, 0755) != 0) {
        LogDiagnostic(L_ERROR, "add_printer: Unable to copy interface script from %s to %s - %s!",
                      con->filename.c_str(), script.c_str(), std::strerror(errno));
        send_ipp_error(con, IPP_INTERNAL_ERROR);
        return false;
      }
      LogDiagnostic(L_DEBUG, "add_printer: Copied interface script successfully!");
      ::unlink(ppd.c_str());
    }
    return true;
  }

  const std::string* model = text_value(con->ipp_request.get(), "ppd-name", IPP_TAG_NAME);
  if (!model) return true;
  if (*model == "raw") {
    ::unlink(script.c_str());
    ::unlink(ppd.c_str());
    return true;
  }
  ::unlink(script.c_str());
  const std::string from = DataDir + "/model/" + *model;
  if (copy_model(from, ppd) != 0) return ppd_failed(from);
  LogDiagnostic(L_DEBUG, "add_printer: Copied PPD file successfully!");
  return true;
}

// The part of the printer-uri after `prefix` ("/printers/", "/classes/"),
// or "" when the path is not of that form.
std::string name_in_path(ipp_attribute_t* uri, const char* prefix) {
  const std::string resource = target_resource(uri, nullptr);
  const size_t n = std::strlen(prefix);
  if (resource.size() <= n || resource.compare(0, n, prefix) != 0) return "";
  return resource.substr(n);
}

}  // namespace

void add_printer(client_t* con, ipp_attribute_t* uri) {
  LogDiagnostic(L_DEBUG2, "add_printer(%p[%d], %s)\n", static_cast<void*>(con), con->http.fd,
                uri->values[0].string.text.c_str());
  if (!check_admin_resource(con, "add_printer")) return;
  const std::string name = name_in_path(uri, "/printers/");
  if (name.empty()) {
    LogDiagnostic(L_ERROR, "add_printer: bad printer URI \"%s\"!", uri->values[0].string.text.c_str());
    send_ipp_error(con, IPP_BAD_REQUEST);
    return;
  }
  if (!acceptable_name(name)) {
    LogDiagnostic(L_ERROR, "add_printer: bad printer name \"%s\"!", name.c_str());
    send_ipp_error(con, IPP_BAD_REQUEST);
    return;
  }
  ipp_t* request = con->ipp_request.get();
  const std::string* model = text_value(request, "ppd-name", IPP_TAG_NAME);
  if (model && *model != "raw" && !acceptable_model(*model)) {
    LogDiagnostic(L_ERROR, "add_printer: bad ppd-name \"%s\"!", model->c_str());
    send_ipp_error(con, IPP_BAD_REQUEST);
    return;
  }

  printer_t* p = LookupPrinter(name);
  if (!p) {
    if (printer_t* c = LookupClass(name)) {
      if (!(c->type & PRINTER_REMOTE)) {
        LogDiagnostic(L_ERROR, "add_printer: \"%s\" already exists as a class!", name.c_str());
        send_ipp_error(con, IPP_NOT_POSSIBLE);
        return;
      }
      rename_remote(c);
    }
  } else if (p->type & PRINTER_IMPLICIT) {
    make_way_for_local(p);
    p = nullptr;
  } else if (p->type & PRINTER_REMOTE) {
    rename_remote(p);
    p = nullptr;
  }
  const bool created = !p;
  if (created) {
    p = AddPrinter(name.c_str());
    if (!p) {
      send_ipp_error(con, IPP_INTERNAL_ERROR);
      return;
    }
  }

  // A printer made by this request is not left behind half set up when a
  // later attribute is refused.
  auto fail = [&](ipp_status_t status) {
    send_ipp_error(con, status);
    if (created) RemovePrinter(p, 0);
  };
  apply_texts(con, p);
  if (const std::string* device = text_value(request, "device-uri", IPP_TAG_URI)) {
    const std::string problem = DeviceURIProblem(*device);
    if (device->starts_with("file:") && !problem.empty()) {
      LogDiagnostic(L_ERROR,
                    "add_printer: File device URIs have been disabled! To enable, see the FileDevice directive in "
                    "vornd.conf.");
      fail(IPP_NOT_POSSIBLE);
      return;
    }
    if (!problem.empty() || (!device->starts_with("file:") && !known_device_scheme(*device))) {
      LogDiagnostic(L_ERROR, "add_printer: bad device-uri attribute '%s'!", httpPublicURI(*device).c_str());
      fail(IPP_NOT_POSSIBLE);
      return;
    }
    LogDiagnostic(L_INFO, "Setting %s device-uri to \"%s\" (was \"%s\".)", p->name.c_str(),
                  httpPublicURI(*device).c_str(), httpPublicURI(p->device_uri).c_str());
    p->device_uri = vorn::cut(*device, kMaxPrinterURI);
  }
  if (!apply_state(con, p, "add_printer")) {
    if (created) RemovePrinter(p, 0);
    return;
  }
  if (p->device_uri.empty()) p->device_uri = "file:/dev/null";
  if (!install_driver(con, p)) {
    if (created) RemovePrinter(p, 0);
    return;
  }
  if (!DefaultPrinter) DefaultPrinter = p;

  SetPrinterAttrs(p);
  WritePrintersConf();
  if (p->job && StopJobHook) {
    // The job in progress started with the old settings: it starts again.
    const int id = p->job->id;
    StopJobHook(id, 1);
    if (job_t* job = LookupJob(id)) {
      SetJobState(job, IPP_JOB_PENDING);
      SaveJob(id);
    }
  }
  RunPendingJobs();
  SavePrintcap();
  if (created) {
    RecordPrinterHistory(p);
    LogDiagnostic(L_INFO, "New printer '%s' added by '%s'.", p->name.c_str(), con->username.c_str());
  } else {
    LogDiagnostic(L_INFO, "Printer '%s' modified by '%s'.", p->name.c_str(), con->username.c_str());
  }
  con->ipp_response->op_status = IPP_OK;
}

void add_class(client_t* con, ipp_attribute_t* uri) {
  LogDiagnostic(L_DEBUG2, "add_class(%p[%d], %s)\n", static_cast<void*>(con), con->http.fd,
                uri->values[0].string.text.c_str());
  if (!check_admin_resource(con, "add_class")) return;
  const std::string name = name_in_path(uri, "/classes/");
  if (name.empty()) {
    send_ipp_error(con, IPP_BAD_REQUEST);
    return;
  }
  if (!acceptable_name(name)) {
    LogDiagnostic(L_ERROR, "add_class: bad class name \"%s\"!", name.c_str());
    send_ipp_error(con, IPP_BAD_REQUEST);
    return;
  }

  printer_t* c = LookupClass(name);
  if (!c) {
    if (printer_t* p = LookupPrinter(name)) {
      if (!(p->type & (PRINTER_REMOTE | PRINTER_IMPLICIT))) {
        send_ipp_error(con, IPP_NOT_POSSIBLE);
        return;
      }
      if (p->type & PRINTER_IMPLICIT)
        make_way_for_local(p);
      else
        rename_remote(p);
    }
  } else if (c->type & PRINTER_IMPLICIT) {
    make_way_for_local(c);
    c = nullptr;
  } else if (c->type & PRINTER_REMOTE) {
    rename_remote(c);
    c = nullptr;
  }
  // Every member is found before anything changes: a request naming an
  // unknown one leaves an existing class as it was.
  const ipp_attribute_t* members = ippFindAttribute(con->ipp_request.get(), "member-uris", IPP_TAG_URI);
  std::vector<printer_t*> found;
  if (members) {
    for (const ipp_value_t& v : members->values) {
      ipp_attribute_t one;
      one.name = "member-uris";
      one.value_tag = IPP_TAG_URI;
      one.values.emplace_back();
      one.values[0].string.text = v.string.text;
      std::string host;
      const std::string resource = target_resource(&one, &host);
      printer_t* m = LookupDest(host, resource, nullptr);
      if (!m) {
        LogDiagnostic(L_ERROR, "add_class: resource name '%s' no good!", resource.c_str());
        send_ipp_error(con, IPP_NOT_FOUND);
        return;
      }
      found.push_back(m);
    }
  }

  const bool created = !c;
  if (created) {
    c = NewClass(name.c_str());
    if (!c) {
      send_ipp_error(con, IPP_INTERNAL_ERROR);
      return;
    }
  }

  apply_texts(con, c);
  if (!apply_state(con, c, "add_class")) {
    if (created) RemovePrinter(c, 0);
    return;
  }
  if (members) {
    c->printers.clear();
    c->last = 0;
    for (printer_t* m : found) {
      AddClassMember(c, m);
      LogDiagnostic(L_DEBUG, "add_class: Added %s \"%s\" to class \"%s\"...",
                    (m->type & PRINTER_CLASS) ? "class" : "printer", m->name.c_str(), c->name.c_str());
    }
  }

  SetPrinterAttrs(c);
  WriteClassesConf();
  RunPendingJobs();
  SavePrintcap();
  if (created) {
    RecordPrinterHistory(c);
    LogDiagnostic(L_INFO, "New class '%s' added by '%s'.", c->name.c_str(), con->username.c_str());
  } else {
    LogDiagnostic(L_INFO, "Class '%s' modified by '%s'.", c->name.c_str(), con->username.c_str());
  }
  con->ipp_response->op_status = IPP_OK;
}
