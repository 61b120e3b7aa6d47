// Read-only operations on destinations and the requested-attributes filter
// every query uses.
#include "scheduler/ipp/ipp.h"

#include <climits>
#include <ctime>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "scheduler/http/client.h"
#include "scheduler/conf/conf.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"
#include "scheduler/printers/printers.h"
#include "vorn/http.h"
#include "vorn/strings.h"

namespace {

// Whether `name` passes the filter (see copy_attrs).
bool wanted(const ipp_attribute_t* requested, std::string_view name) {
  if (!requested || requested->values.empty() || requested->values[0].string.text == "all") return true;
  for (const ipp_value_t& v : requested->values)
    if (v.string.text == name) return true;
  return false;
}

// The request's "requested-attributes", or null.
const ipp_attribute_t* requested_of(client_t* con) {
  return ippFindAttribute(con->ipp_request.get(), "requested-attributes", IPP_TAG_KEYWORD);
}

// Successful answers say whether the request narrowed the reply.
void set_query_status(client_t* con, const ipp_attribute_t* requested) {
  con->ipp_response->op_status = requested ? IPP_OK_SUBST : IPP_OK;
}

// The first integer (or enum) value of a request attribute, else `fallback`.
int request_int(client_t* con, const char* name, int fallback) {
  const ipp_attribute_t* a = ippFindAttribute(con->ipp_request.get(), name, IPP_TAG_ZERO);
  if (!a || a->values.empty() || (a->value_tag != IPP_TAG_INTEGER && a->value_tag != IPP_TAG_ENUM))
    return fallback;
  return a->values[0].integer;
}

// Active jobs per destination name (without regard to case), counted in
// one pass over the queue when first asked: a listing of every printer
// would otherwise walk the whole queue once per printer.
class job_counts_t {
 public:
  int of(std::string_view dest) {
    if (!counted_) {
      counted_ = true;
      for (const job_t* job = Jobs; job; job = job->next)
        if (JobState(job) <= IPP_JOB_PROCESSING) counts_[folded(job->dest)]++;
    }
    auto it = counts_.find(folded(dest));
    return it == counts_.end() ? 0 : it->second;
  }

 private:
  static std::string folded(std::string_view name) {
    std::string out(name);
    for (char& c : out) c = vorn::tolower(c);
    return out;
  }
  bool counted_ = false;
  std::unordered_map<std::string, int> counts_;
};

// "printer-state-history": one collection member per history entry.
void add_state_history(ipp_t* to, const printer_t* p) {
  std::vector<ipp_t*> members;
  members.reserve(p->history.size());
  for (const ipp_ptr& entry : p->history) {
    ipp_t* member = ippNew();
    for (const ipp_attribute_t* a = entry->attrs; a; a = a->next) {
      // Members carry no group of their own.
      if (ipp_attribute_t* copy = ippCopyAttribute(member, a)) copy->group_tag = IPP_TAG_ZERO;
    }
    members.push_back(member);
  }
  ippAddCollections(to, IPP_TAG_PRINTER, "printer-state-history", members);
}

}  // namespace

void copy_attrs(ipp_t* to, ipp_t* from, const ipp_attribute_t* requested, ipp_tag_t group) {
  LogDiagnostic(L_DEBUG2, "copy_attrs(%p, %p, %p, %x)\n", static_cast<void*>(to), static_cast<void*>(from),
                static_cast<const void*>(requested), unsigned(group));
  if (!to || !from) return;
  for (const ipp_attribute_t* a = from->attrs; a; a = a->next) {
    if (a->name.empty()) {
      ippAddSeparator(to);
      continue;
    }
    if (group != IPP_TAG_ZERO && a->group_tag != group) continue;
    if (!wanted(requested, a->name)) continue;
    LogDiagnostic(L_DEBUG2, "copy_attribute(%p, %p[%s,%x,%x])\n", static_cast<void*>(to),
                  static_cast<const void*>(a), a->name.c_str(), unsigned(a->group_tag), unsigned(a->value_tag));
    ippCopyAttribute(to, a);
  }
}

// The values computed for `p` now.
static void add_computed_attrs(ipp_t* to, printer_t* p, job_counts_t& counts) {
  const time_t now = time(nullptr);
  ippAddInteger(to, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", p->state);
  if (p->reasons.empty()) {
    ippAddString(to, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "printer-state-reasons", "",
                 p->state == IPP_PRINTER_STOPPED ? "paused" : "none");
  } else {
    ippAddStrings(to, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "printer-state-reasons", "", p->reasons);
  }
  ippAddString(to, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-state-message", "", p->state_message);
  ippAddBoolean(to, IPP_TAG_PRINTER, "printer-is-accepting-jobs", p->accepting != 0);
  ippAddInteger(to, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "printer-up-time", int(now));
  ippAddInteger(to, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "printer-state-time", int(p->state_time));
  ippAddDate(to, IPP_TAG_PRINTER, "printer-current-time", ippTimeToDate(now).data());
  ippAddInteger(to, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "queued-job-count", counts.of(p->name));
}

// History is only sent to those who name it (or "all"), never by default.
static bool history_wanted(const printer_t* p, const ipp_attribute_t* requested) {
  bool asked = false;
  if (requested && !requested->values.empty()) {
    for (const ipp_value_t& v : requested->values)
      if (v.string.text == "all" || v.string.text == "printer-state-history") asked = true;
  }
  return MaxPrinterHistory > 0 && asked && !p->history.empty();
}

// The computed values, then its attribute set and the shared one through
// the filter, then printer-state-history when it is asked for.
static void copy_printer_attrs(ipp_t* to, printer_t* p, const ipp_attribute_t* requested, job_counts_t& counts) {
  add_computed_attrs(to, p, counts);
  copy_attrs(to, p->attrs.get(), requested, IPP_TAG_ZERO);
  copy_attrs(to, CommonData.get(), requested, IPP_TAG_ZERO);
  if (history_wanted(p, requested)) add_state_history(to, p);
}

// The cached encoding of a printer-group attribute set, made again when the
// set changed; null when it cannot serve (an attribute that cannot be
// encoded, or one of another group, which only a copy keeps in its group).
static std::shared_ptr<const ipp_encoded_t> encoded_set(std::shared_ptr<const ipp_encoded_t>& cache, const ipp_t* set) {
  if (!set) return nullptr;
  if (!cache || cache->changes != set->changes) {
    cache = ippEncodeGroup(set, IPP_TAG_PRINTER);
    if (!cache) return nullptr;
  }
  return cache->skipped == 0 ? cache : nullptr;
}

// copy_printer_attrs as pieces of a listing; false when a set cannot be
// sent from its encoding.
static bool add_printer_pieces(reply_pieces_t& pieces, printer_t* p, const ipp_attribute_t* requested,
                               job_counts_t& counts) {
  static std::shared_ptr<const ipp_encoded_t> common_cache;
  std::shared_ptr<const ipp_encoded_t> own = encoded_set(p->encoded, p->attrs.get());
  std::shared_ptr<const ipp_encoded_t> common = encoded_set(common_cache, CommonData.get());
  if ((p->attrs && !own) || (CommonData && !common)) return false;
  ipp_ptr computed(ippNew());
  add_computed_attrs(computed.get(), p, counts);
  pieces.open_group(IPP_TAG_PRINTER);
  if (!pieces.add_all(computed.get())) return false;
  if (own) pieces.add_encoded(own, requested);
  if (common) pieces.add_encoded(common, requested);
  if (history_wanted(p, requested)) {
    ipp_ptr history(ippNew());
    add_state_history(history.get(), p);
    if (!pieces.add_all(history.get())) return false;
  }
  return true;
}

void get_printer_attrs(client_t* con, ipp_attribute_t* uri) {
  const char* text = uri && !uri->values.empty() ? uri->values[0].string.text.c_str() : "";
  LogDiagnostic(L_DEBUG2, "get_printer_attrs(%p[%d], %s)\n", static_cast<void*>(con), con->http.fd, text);

  char scheme[HTTP_MAX_URI], userpass[HTTP_MAX_URI], host[HTTP_MAX_URI], resource[HTTP_MAX_URI];
  int port = 0;
  httpSeparateURI(text, scheme, sizeof(scheme), userpass, sizeof(userpass), host, sizeof(host), &port, resource,
                  sizeof(resource));
  uint32_t dtype = 0;
  printer_t* p = LookupDest(host, resource, &dtype);
  if (!p) {
    LogDiagnostic(L_ERROR, "get_printer_attrs: resource name '%s' no good!", resource);
    send_ipp_error(con, IPP_NOT_FOUND);
    return;
  }
  const ipp_attribute_t* requested = requested_of(con);
  job_counts_t counts;
  copy_printer_attrs(con->ipp_response.get(), p, requested, counts);
  set_query_status(con, requested);
}

void get_printers(client_t* con, int type) {
  LogDiagnostic(L_DEBUG2, "get_printers(%p[%d], %x)\n", static_cast<void*>(con), con->http.fd, unsigned(type));
  // A limit below 1 means nothing sensible; it is read as no limit.
  int limit = request_int(con, "limit", 10000000);
  if (limit < 1) limit = INT_MAX;
  const uint32_t printer_type = uint32_t(request_int(con, "printer-type", 0));
  const uint32_t printer_mask = uint32_t(request_int(con, "printer-type-mask", 0));
  const ipp_attribute_t* loc = ippFindAttribute(con->ipp_request.get(), "printer-location", IPP_TAG_TEXT);
  const std::string* location = loc && !loc->values.empty() ? &loc->values[0].string.text : nullptr;
  const ipp_attribute_t* requested = requested_of(con);
  ipp_t* response = con->ipp_response.get();
  job_counts_t counts;
  auto listed = [&](const printer_t* p) {
    if ((p->type & PRINTER_CLASS) != uint32_t(type & PRINTER_CLASS)) return false;
    if ((p->type & printer_mask) != printer_type) return false;
    if (location && !p->location.empty() && !vorn::iequals(p->location, *location)) return false;
    if (ImplicitClasses && HideImplicitMembers && (p->type & PRINTER_REMOTE)) {
      size_t at = p->name.find('@');
      if (at != std::string::npos) {
        const printer_t* iclass = LookupPrinter(std::string_view(p->name).substr(0, at));
        if (iclass && (iclass->type & PRINTER_IMPLICIT)) return false;
      }
    }
    return true;
  };

  // From the cached encodings; a printer whose sets cannot be sent so has
  // the whole listing copied instead.
  reply_pieces_t pieces;
  bool encoded = true;
  int count = 0;
  for (printer_t* p = Printers; p && count < limit; p = p->next) {
    if (!listed(p)) continue;
    if (!add_printer_pieces(pieces, p, requested, counts)) {
      encoded = false;
      break;
    }
    count++;
  }
  if (encoded) {
    pieces.finish(response);
  } else {
    count = 0;
    for (printer_t* p = Printers; p && count < limit; p = p->next) {
      if (!listed(p)) continue;
      if (count > 0) ippAddSeparator(response);
      copy_printer_attrs(response, p, requested, counts);
      count++;
    }
  }
  set_query_status(con, requested);
}

void get_printers_op(client_t* con, ipp_attribute_t*) { get_printers(con, 0); }

void get_classes_op(client_t* con, ipp_attribute_t*) { get_printers(con, PRINTER_CLASS); }

void get_default(client_t* con, ipp_attribute_t*) {
  LogDiagnostic(L_DEBUG2, "get_default(%p[%d])\n", static_cast<void*>(con), con->http.fd);
  if (!DefaultPrinter) {
    send_ipp_error(con, IPP_NOT_FOUND);
    return;
  }
  copy_attrs(con->ipp_response.get(), DefaultPrinter->attrs.get(), requested_of(con), IPP_TAG_ZERO);
  con->ipp_response->op_status = IPP_OK;
}
