// SetPrinterAttrs: the IPP attributes a destination advertises, its
// capability bits, raw flag and filters, from its PPD file, interface script
// or device URI; and the attribute set all destinations share.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "scheduler/conf/conf.h"
#include "scheduler/auth/auth.h"
#include "scheduler/auth/location.h"
#include "scheduler/log.h"
#include "scheduler/printers/printers.h"
#include "scheduler/types/types.h"
#include "vorn/http.h"
#include "vorn/ppd.h"
#include "vorn/strings.h"

namespace {

constexpr ipp_tag_t kPrinter = IPP_TAG_PRINTER;

// Finishings enum values.
enum { FINISHINGS_NONE = 3, FINISHINGS_STAPLE = 4, FINISHINGS_BIND = 7 };

void BuildCommonData() {
  CommonData.reset(ippNew());
  ipp_t* c = CommonData.get();

  ippAddString(c, kPrinter, IPP_TAG_KEYWORD, "pdl-override-supported", "", "not-attempted");
  static const char* const versions[] = {"1.0", "1.1"};
  ippAddStrings(c, kPrinter, IPP_TAG_KEYWORD, "ipp-versions-supported", "", versions);

  std::vector<int> ops = {IPP_PRINT_JOB,          IPP_VALIDATE_JOB,     IPP_CREATE_JOB,
                          IPP_SEND_DOCUMENT,      IPP_CANCEL_JOB,       IPP_GET_JOB_ATTRIBUTES,
                          IPP_GET_JOBS,           IPP_GET_PRINTER_ATTRIBUTES, IPP_HOLD_JOB,
                          IPP_RELEASE_JOB,        IPP_PAUSE_PRINTER,    IPP_RESUME_PRINTER,
                          IPP_PURGE_JOBS,         IPP_SET_JOB_ATTRIBUTES, IPP_ENABLE_PRINTER,
                          IPP_DISABLE_PRINTER,    VORN_GET_DEFAULT,     VORN_GET_PRINTERS,
                          VORN_ADD_PRINTER,       VORN_DELETE_PRINTER,  VORN_GET_CLASSES,
                          VORN_ADD_CLASS,         VORN_DELETE_CLASS,    VORN_ACCEPT_JOBS,
                          VORN_REJECT_JOBS,       VORN_GET_DEVICES,     VORN_GET_PPDS};
  // Without kept job files there is nothing to restart a job from.
  if (PreserveJobFiles) ops.push_back(IPP_RESTART_JOB);
  ippAddIntegers(c, kPrinter, IPP_TAG_ENUM, "operations-supported", ops);

  ippAddBoolean(c, kPrinter, "multiple-document-jobs-supported", true);
  ippAddInteger(c, kPrinter, IPP_TAG_INTEGER, "multiple-operation-time-out", 60);
  static const char* const handling[] = {"separate-documents-uncollated-copies",
                                         "separate-documents-collated-copies"};
  ippAddStrings(c, kPrinter, IPP_TAG_KEYWORD, "multiple-document-handling-supported", "", handling);

  ippAddString(c, kPrinter, IPP_TAG_CHARSET, "charset-configured", "", DefaultCharset);
  static const char* const charsets[] = {
      "us-ascii",     "iso-8859-1",   "iso-8859-2",   "iso-8859-3",   "iso-8859-4",   "iso-8859-5",
      "iso-8859-6",   "iso-8859-7",   "iso-8859-8",   "iso-8859-9",   "iso-8859-10",  "iso-8859-13",
      "iso-8859-14",  "iso-8859-15",  "utf-8",        "windows-874",  "windows-1250", "windows-1251",
      "windows-1252", "windows-1253", "windows-1254", "windows-1255", "windows-1256", "windows-1257",
      "windows-1258", "koi8-r",       "koi8-u"};
  ippAddStrings(c, kPrinter, IPP_TAG_CHARSET, "charset-supported", "", charsets);
  ippAddString(c, kPrinter, IPP_TAG_LANGUAGE, "natural-language-configured", "", DefaultLanguage);
  ippAddString(c, kPrinter, IPP_TAG_LANGUAGE, "generated-natural-language-supported", "", DefaultLanguage);

  ippAddString(c, kPrinter, IPP_TAG_MIMETYPE, "document-format-default", "", "application/octet-stream");
  if (SupportedFormats.empty())
    ippAddString(c, kPrinter, IPP_TAG_MIMETYPE, "document-format-supported", "", "application/octet-stream");
  else
    ippAddStrings(c, kPrinter, IPP_TAG_MIMETYPE, "document-format-supported", "", SupportedFormats);

  static const char* const compression[] = {"none", "gzip"};
  ippAddStrings(c, kPrinter, IPP_TAG_KEYWORD, "compression-supported", "", compression);
  ippAddInteger(c, kPrinter, IPP_TAG_INTEGER, "job-priority-supported", 100);
  ippAddInteger(c, kPrinter, IPP_TAG_INTEGER, "job-priority-default", 50);
  ippAddRange(c, kPrinter, "copies-supported", 1, MaxCopies);
  ippAddInteger(c, kPrinter, IPP_TAG_INTEGER, "copies-default", 1);
  ippAddBoolean(c, kPrinter, "page-ranges-supported", true);
  static const int number_up[] = {1, 2, 4, 6, 9, 16};
  ippAddIntegers(c, kPrinter, IPP_TAG_INTEGER, "number-up-supported", number_up);
  ippAddInteger(c, kPrinter, IPP_TAG_INTEGER, "number-up-default", 1);
  static const int orients[] = {3, 4, 5, 6};
  ippAddIntegers(c, kPrinter, IPP_TAG_ENUM, "orientation-requested-supported", orients);
  ippAddInteger(c, kPrinter, IPP_TAG_ENUM, "orientation-requested-default", 3);

  std::vector<std::string> banners = BannerNames ? BannerNames() : std::vector<std::string>{};
  if (!banners.empty()) {
    std::vector<std::string> sheets;
    if (!Classification.empty() && !ClassifyOverride) {
      sheets.push_back(Classification);
    } else {
      sheets.push_back("none");
      sheets.insert(sheets.end(), banners.begin(), banners.end());
    }
    if (!ippAddStrings(c, kPrinter, IPP_TAG_NAME, "job-sheets-supported", "", sheets))
      LogDiagnostic(L_EMERG, "SetPrinterAttrs: Unable to allocate memory for job-sheets-supported attribute: %s!",
                    std::strerror(ENOMEM));
  }
}

const char* AuthenticationKeyword(const printer_t* p) {
  if (p->type & PRINTER_REMOTE) return "requesting-user-name";
  std::string resource = ((p->type & (PRINTER_CLASS | PRINTER_IMPLICIT)) ? "/classes/" : "/printers/") + p->name;
  const location_t* loc = FindBest(resource, HTTP_POST);
  if (!loc) return "requesting-user-name";
  if (loc->auth_type == AUTH_DIGEST) return "digest";
  // A location that asks for users without naming a scheme checks Basic
  // passwords.
  if (loc->auth_type != AUTH_NONE || loc->level != AUTH_ANON) return "basic";
  return "requesting-user-name";
}

// The choices of the options named, in that order.
std::vector<std::string> Choices(const ppd_file_t* ppd, std::initializer_list<const char*> options) {
  std::vector<std::string> out;
  for (const char* name : options)
    if (const ppd_option_t* o = ppdFindOption(ppd, name))
      for (const ppd_choice_t& c : o->choices) out.push_back(c.choice);
  return out;
}

// Capabilities, make and model, media, finishings and filters of a local
// printer whose PPD was read.
void ApplyPPD(printer_t* p, ppd_file_t* ppd, ipp_t* a, std::vector<int>& finishings) {
  if (ppd->color_device) p->type |= PRINTER_COLOR;
  if (ppd->variable_sizes) p->type |= PRINTER_VARIABLE;
  if (!ppd->manual_copies) p->type |= PRINTER_COPIES;
  if (const ppd_attr_t* fax = ppdFindAttr(ppd, "vornFax", nullptr); fax && vorn::iequals(vorn::trim(fax->value), "true"))
    p->type |= PRINTER_FAX;

  ippAddBoolean(a, kPrinter, "color-supported", ppd->color_device);
  if (ppd->throughput) ippAddInteger(a, kPrinter, IPP_TAG_INTEGER, "pages-per-minute", ppd->throughput);

  if (!ppd->nickname.empty())
    p->make_model = vorn::cut(ppd->nickname, kMaxPrinterText);
  else if (!ppd->modelname.empty())
    p->make_model = vorn::cut(ppd->modelname, kMaxPrinterText);
  else
    p->make_model = "Bad PPD File";
  ippAddString(a, kPrinter, IPP_TAG_TEXT, "printer-make-and-model", "", p->make_model);

  std::vector<std::string> media = Choices(ppd, {"InputSlot", "MediaType", "EFMediaQualityMode", "PageSize"});
  if (media.empty()) {
    LogDiagnostic(L_CRIT,
                  "SetPrinterAttrs: The PPD file for printer %s contains no media options and is therefore invalid!",
                  p->name.c_str());
  } else {
    ippAddStrings(a, kPrinter, IPP_TAG_KEYWORD, "media-supported", "", media);
    std::string def = "none";
    for (const char* name : {"PageSize", "InputSlot", "MediaType", "EFMediaQualityMode"}) {
      const ppd_option_t* o = ppdFindOption(ppd, name);
      if (o && !o->defchoice.empty()) {
        def = o->defchoice;
        break;
      }
    }
    ippAddString(a, kPrinter, IPP_TAG_KEYWORD, "media-default", "", def);
  }

  std::vector<std::string> bins = Choices(ppd, {"OutputBin"});
  if (!bins.empty()) ippAddStrings(a, kPrinter, IPP_TAG_KEYWORD, "output-bin-supported", "", bins);

  if (ppdFindOption(ppd, "Duplex")) {
    p->type |= PRINTER_DUPLEX;
    static const char* const sides[] = {"one-sided", "two-sided-long-edge", "two-sided-short-edge"};
    ippAddStrings(a, kPrinter, IPP_TAG_KEYWORD, "sides-supported", "", sides);
    ippAddString(a, kPrinter, IPP_TAG_KEYWORD, "sides-default", "", "one-sided");
  }
  if (ppdFindOption(ppd, "Collate")) p->type |= PRINTER_COLLATE;
  if (ppdFindOption(ppd, "StapleLocation")) {
    p->type |= PRINTER_STAPLE;
    finishings.push_back(FINISHINGS_STAPLE);
  }
  if (ppdFindOption(ppd, "BindEdge")) {
    p->type |= PRINTER_BIND;
    finishings.push_back(FINISHINGS_BIND);
  }

  for (const ppd_size_t& size : ppd->sizes) {
    if (size.length > 1728)
      p->type |= PRINTER_LARGE;
    else if (size.length > 1008)
      p->type |= PRINTER_MEDIUM;
    else
      p->type |= PRINTER_SMALL;
  }

  if (ppd->filters.empty()) {
    // PostScript goes to the printer as it is.
    AddPrinterFilter(p, "application/vnd.vorn-postscript 0 -");
  } else {
    for (const std::string& f : ppd->filters) AddPrinterFilter(p, f.c_str());
  }
}

void AddMakeModel(printer_t* p, ipp_t* a, const char* text) {
  p->make_model = text;
  ippAddString(a, kPrinter, IPP_TAG_TEXT, "printer-make-and-model", "", p->make_model);
}

// Everything of a local printer after the common attributes. Returns the
// printer-type to advertise.
uint32_t SetLocalPrinterAttrs(printer_t* p, ipp_t* a, ipp_attribute_t* uri_attr) {
  ippAddString(a, kPrinter, IPP_TAG_URI, "device-uri", "",
               p->device_uri.empty() ? std::string("file:/dev/null") : httpPublicURI(p->device_uri));

  p->type |= PRINTER_BW;
  std::vector<int> finishings = {FINISHINGS_NONE};
  uint32_t advertised_extra = 0;

  std::string ppd_path = ServerRoot + "/ppd/" + p->name + ".ppd";
  vorn::ppd_file_ptr ppd(ppdOpenFile(ppd_path.c_str()));
  int open_errno = errno;
  struct stat st;
  if (ppd) {
    ApplyPPD(p, ppd.get(), a, finishings);
  } else if (::stat(ppd_path.c_str(), &st) == 0) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    LogDiagnostic(L_ERROR, "PPD file for %s cannot be loaded!", p->name.c_str());
    if (status <= PPD_ALLOC_ERROR)
      LogDiagnostic(L_ERROR, "%s", std::strerror(open_errno));
    else
      LogDiagnostic(L_ERROR, "%s on line %d.", ppdErrorString(status), line);
    LogDiagnostic(L_INFO, "Hint: Run \"ppdcheck %s\" and fix any errors.", ppd_path.c_str());
    AddPrinterFilter(p, "application/vnd.vorn-postscript 0 -");
  } else {
    std::string script = ServerRoot + "/interfaces/" + p->name;
    const std::string& dev = p->device_uri;
    if (::stat(script.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(script.c_str(), X_OK) == 0) {
      AddMakeModel(p, a, "Local System V Printer");
      // Every document type goes through the script.
      std::string filter = "*/* 0 " + script;
      AddPrinterFilter(p, filter.c_str());
    } else if (dev.starts_with("ipp://") &&
               (dev.find("/printers/") != std::string::npos || dev.find("/classes/") != std::string::npos)) {
      // A queue on another IPP server: clients are sent there. Credentials in
      // the device URI stay private.
      uri_attr->values[0].string.text = vorn::cut(httpPublicURI(dev), IPP_MAX_LENGTH);
      AddMakeModel(p, a, "Remote Printer");
      p->raw = 1;
      advertised_extra = PRINTER_REMOTE;
    } else {
      AddMakeModel(p, a, "Local Raw Printer");
      p->raw = 1;
    }
  }

  ippAddIntegers(a, kPrinter, IPP_TAG_ENUM, "finishings-supported", finishings);
  ippAddInteger(a, kPrinter, IPP_TAG_ENUM, "finishings-default", FINISHINGS_NONE);
  return p->type | advertised_extra;
}

void SetClassAttrs(printer_t* p, ipp_t* a) {
  if ((p->type & PRINTER_IMPLICIT) && !p->printers.empty())
    AddMakeModel(p, a, p->printers.front()->make_model.c_str());
  else
    AddMakeModel(p, a, "Local Printer Class");
  if (p->printers.empty()) return;

  std::vector<std::string> uris, names;
  uint32_t common = PRINTER_OPTIONS;
  for (const printer_t* m : p->printers) {
    uris.push_back(m->uri);
    names.push_back(m->name);
    common &= m->type;
  }
  ippAddStrings(a, kPrinter, IPP_TAG_URI, "member-uris", "", uris);
  ippAddStrings(a, kPrinter, IPP_TAG_NAME, "member-names", "", names);
  p->type |= common;
}

}  // namespace

void SetPrinterAttrs(printer_t* p) {
  if (!p) return;
  if (!CommonData) BuildCommonData();

  RemovePrinterFilters(p);
  AddPrinterFilter(p, "application/vnd.vorn-raw 0 -");  // raw data needs no conversion

  p->attrs.reset(ippNew());
  ipp_t* a = p->attrs.get();
  bool remote = (p->type & PRINTER_REMOTE) != 0;

  ipp_attribute_t* uri_attr = ippAddString(a, kPrinter, IPP_TAG_URI, "printer-uri-supported", "", p->uri);
  ippAddString(a, kPrinter, IPP_TAG_KEYWORD, "uri-authentication-supported", "", AuthenticationKeyword(p));
  ippAddString(a, kPrinter, IPP_TAG_KEYWORD, "uri-security-supported", "", "none");
  ippAddString(a, kPrinter, IPP_TAG_NAME, "printer-name", "", p->name);
  ippAddString(a, kPrinter, IPP_TAG_TEXT, "printer-location", "", p->location);
  ippAddString(a, kPrinter, IPP_TAG_TEXT, "printer-info", "", p->info);
  ippAddString(a, kPrinter, IPP_TAG_URI, "printer-more-info", "", p->uri);
  if (!p->users.empty())
    ippAddStrings(a, kPrinter, IPP_TAG_NAME,
                  p->deny_users ? "requesting-user-name-denied" : "requesting-user-name-allowed", "", p->users);
  ippAddInteger(a, kPrinter, IPP_TAG_INTEGER, "job-quota-period", p->quota_period);
  ippAddInteger(a, kPrinter, IPP_TAG_INTEGER, "job-k-limit", p->k_limit);
  ippAddInteger(a, kPrinter, IPP_TAG_INTEGER, "job-page-limit", p->page_limit);
  if (!remote && BannerNames && !BannerNames().empty()) {
    std::string sheets[2] = {p->job_sheets[0], p->job_sheets[1]};
    if (!Classification.empty()) sheets[0] = sheets[1] = Classification;
    ippAddStrings(a, kPrinter, IPP_TAG_NAME, "job-sheets-default", "", sheets);
  }

  uint32_t advertised;
  if (remote) {
    ippAddString(a, kPrinter, IPP_TAG_TEXT, "printer-make-and-model", "", p->make_model);
    p->raw = 1;
    advertised = p->type;
  } else {
    // Recomputed below; the fax bit comes from the PPD like the others.
    p->type &= ~uint32_t(PRINTER_OPTIONS | PRINTER_FAX);
    p->raw = 0;
    if (p->type & (PRINTER_CLASS | PRINTER_IMPLICIT)) {
      SetClassAttrs(p, a);
      advertised = p->type;
    } else {
      advertised = SetLocalPrinterAttrs(p, a, uri_attr);
    }
  }
  p->type &= PRINTER_STORED_MASK;
  ippAddInteger(a, kPrinter, IPP_TAG_ENUM, "printer-type", int(advertised & PRINTER_STORED_MASK));
}
