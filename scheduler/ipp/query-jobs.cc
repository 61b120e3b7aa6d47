// Read-only operations on jobs: Get-Jobs and Get-Job-Attributes.
#include <charconv>
#include <climits>
#include <memory>
#include <ctime>
#include <string>
#include <unordered_map>

#include "scheduler/http/client.h"
#include "scheduler/conf/conf.h"
#include "scheduler/ipp/ipp.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"
#include "scheduler/printers/printers.h"
#include "vorn/http.h"
#include "vorn/strings.h"

namespace {

// Destinations by the name jobs carry, each looked up once per request: a
// listing of thousands of jobs names the same destinations again and again.
class dest_cache {
 public:
  const printer_t* find(const std::string& name) {
    auto [it, added] = map_.try_emplace(name, nullptr);
    if (added) it->second = LookupDestByName(name);
    return it->second;
  }

 private:
  std::unordered_map<std::string, const printer_t*> map_;
};

// What every job value of one reply shares.
struct job_reply_t {
  client_t* con;
  const ipp_attribute_t* requested;  // the filter, or null
  std::string uri_prefix;            // "http://ServerName:port/jobs/"
  dest_cache dests;
};

job_reply_t start_job_reply(client_t* con, const ipp_attribute_t* requested) {
  return {con, requested, "http://" + ServerName + ":" + std::to_string(listener_port(con)) + "/jobs/", {}};
}

// The values of one job: its URIs and the time computed now, its job group
// through the filter, then job-state-reasons. The job group holds "job-id"
// (every submission adds it); when the reply already starts with one
// (`id_added`), the copy is dropped: an attribute twice in one group is a
// malformed reply.
void copy_job_values(job_reply_t& reply, job_t* job, bool id_added) {
  ipp_t* response = reply.con->ipp_response.get();
  const std::string uri = reply.uri_prefix + std::to_string(job->id);
  ippAddString(response, IPP_TAG_JOB, IPP_TAG_URI, "job-more-info", "", uri);
  ipp_attribute_t* first = ippAddString(response, IPP_TAG_JOB, IPP_TAG_URI, "job-uri", "", uri);
  ippAddInteger(response, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-printer-up-time", int(time(nullptr)));
  copy_attrs(response, job->attrs.get(), reply.requested, IPP_TAG_JOB);
  if (id_added) {
    for (ipp_attribute_t* a = first; a; a = a->next) {
      if (a->name == "job-id") {
        _ipp_free_attr(response, a);
        break;
      }
    }
  }
  ippAddString(response, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-state-reasons", "",
               job_state_reason(job, reply.dests.find(job->dest)));
}

// A listing sent as encoded pieces: for each job its computed values
// around its cached attribute encoding, so no job attribute is copied or
// encoded again while the job is unchanged.
class job_listing_t {
 public:
  job_listing_t(job_reply_t& reply) : reply_(reply) {
    uri_ = scratch(IPP_TAG_URI, "job-uri");
    info_ = scratch(IPP_TAG_URI, "job-more-info");
    up_ = scratch(IPP_TAG_INTEGER, "job-printer-up-time");
    reasons_ = scratch(IPP_TAG_KEYWORD, "job-state-reasons");
  }

  // The values of one job, as copy_job_values gives them; false when its
  // attributes cannot be encoded (the listing is then of no use).
  bool add(job_t* job) {
    std::shared_ptr<const ipp_encoded_t> enc = JobEncoding(job);
    if (!enc) return false;
    const std::string uri = reply_.uri_prefix + std::to_string(job->id);
    info_->values[0].string.text = uri;
    uri_->values[0].string.text = uri;
    up_->values[0].integer = int(time(nullptr));
    reasons_->values[0].string.text = job_state_reason(job, reply_.dests.find(job->dest));
    pieces_.open_group(IPP_TAG_JOB);
    if (!pieces_.add(info_.get()) || !pieces_.add(uri_.get()) || !pieces_.add(up_.get())) return false;
    pieces_.add_encoded(enc, reply_.requested);
    return pieces_.add(reasons_.get());
  }

  void finish(ipp_t* response) { pieces_.finish(response); }

 private:
  static std::unique_ptr<ipp_attribute_t> scratch(ipp_tag_t tag, const char* name) {
    auto a = std::make_unique<ipp_attribute_t>();
    a->group_tag = IPP_TAG_JOB;
    a->value_tag = tag;
    a->name = name;
    a->values.resize(1);
    return a;
  }

  job_reply_t& reply_;
  reply_pieces_t pieces_;
  std::unique_ptr<ipp_attribute_t> uri_, info_, up_, reasons_;
};

const ipp_attribute_t* requested_of(client_t* con) {
  return ippFindAttribute(con->ipp_request.get(), "requested-attributes", IPP_TAG_KEYWORD);
}

// Host and resource of the request's target URI.
struct target_t {
  std::string host, resource;
};
target_t split_target(const ipp_attribute_t* uri) {
  const char* text = uri && !uri->values.empty() ? uri->values[0].string.text.c_str() : "";
  char scheme[HTTP_MAX_URI], userpass[HTTP_MAX_URI], host[HTTP_MAX_URI], resource[HTTP_MAX_URI];
  int port = 0;
  httpSeparateURI(text, scheme, sizeof(scheme), userpass, sizeof(userpass), host, sizeof(host), &port, resource,
                  sizeof(resource));
  return {host, resource};
}

// Whether the job's kind (or, while it prints, its printer's) has the
// class bit `class_bit`.
bool kind_matches(const job_t* job, uint32_t class_bit) {
  if ((job->dtype & PRINTER_CLASS) == class_bit) return true;
  return job->printer && (job->printer->type & PRINTER_CLASS) == class_bit;
}

}  // namespace

void get_jobs(client_t* con, ipp_attribute_t* uri) {
  const target_t target = split_target(uri);
  const std::string& resource = target.resource;
  LogDiagnostic(L_DEBUG2, "get_jobs(%p[%d], %s)\n", static_cast<void*>(con), con->http.fd, resource.c_str());

  enum { kAll, kKind, kDest } selection = kAll;
  uint32_t class_bit = 0;
  const printer_t* dest = nullptr;
  if (resource == "/" || (resource.starts_with("/jobs") && resource.size() <= 6)) {
    selection = kAll;
  } else if (resource == "/printers" || resource == "/printers/") {
    selection = kKind;
  } else if (resource == "/classes" || resource == "/classes/") {
    selection = kKind;
    class_bit = PRINTER_CLASS;
  } else {
    uint32_t dtype = 0;
    dest = LookupDest(target.host, resource, &dtype);
    if (!dest) {
      LogDiagnostic(L_ERROR, "get_jobs: resource name '%s' no good!", resource.c_str());
      send_ipp_error(con, IPP_NOT_FOUND);
      return;
    }
    selection = kDest;
    class_bit = dtype & PRINTER_CLASS;
  }

  ipp_t* request = con->ipp_request.get();
  const ipp_attribute_t* which = ippFindAttribute(request, "which-jobs", IPP_TAG_KEYWORD);
  const bool completed = which && !which->values.empty() && which->values[0].string.text == "completed";

  int limit = 1000000;
  if (const ipp_attribute_t* a = ippFindAttribute(request, "limit", IPP_TAG_INTEGER); a && !a->values.empty())
    limit = a->values[0].integer;
  // A limit below 1 means nothing sensible; it is read as no limit.
  if (limit < 1) limit = INT_MAX;

  std::string owner;
  const ipp_attribute_t* my_jobs = ippFindAttribute(request, "my-jobs", IPP_TAG_BOOLEAN);
  const bool mine = my_jobs && !my_jobs->values.empty() && my_jobs->values[0].boolean;
  if (mine) {
    const ipp_attribute_t* user = ippFindAttribute(request, "requesting-user-name", IPP_TAG_NAME);
    if (!con->username.empty())
      owner = con->username;
    else if (user && !user->values.empty())
      owner = user->values[0].string.text;
    else
      owner = "anonymous";
  }

  const ipp_attribute_t* requested = requested_of(con);
  job_reply_t reply = start_job_reply(con, requested);
  ipp_t* response = con->ipp_response.get();
  // Cached encodings first; a job that cannot be encoded sends the whole
  // listing the long way, which fails the reply as it always did.
  auto selected = [&](const job_t* job) {
    const int state = JobState(job);
    if (completed ? state < IPP_JOB_CANCELLED : (state < IPP_JOB_PENDING || state > IPP_JOB_STOPPED)) return false;
    if (selection == kKind && !kind_matches(job, class_bit)) return false;
    if (selection == kDest) {
      const bool named =
          vorn::iequals(job->dest, dest->name) || (job->printer && vorn::iequals(job->printer->name, dest->name));
      if (!named || !kind_matches(job, class_bit)) return false;
    }
    return !mine || job->username == owner;
  };
  job_listing_t listing(reply);
  bool encoded = true;
  int count = 0;
  for (job_t* job = Jobs; job && count < limit; job = job->next) {
    if (!selected(job)) continue;
    LogDiagnostic(L_DEBUG2, "get_jobs: job->id = %d", job->id);
    if (encoded && !listing.add(job)) {
      LogDiagnostic(L_DEBUG, "get_jobs: job %d cannot be encoded", job->id);
      encoded = false;
      // Start over the long way with the jobs listed so far.
      count = 0;
      for (job_t* j = Jobs; j != job; j = j->next) {
        if (!selected(j)) continue;
        if (count++ > 0) ippAddSeparator(response);
        copy_job_values(reply, j, false);
      }
    }
    if (!encoded) {
      if (count > 0) ippAddSeparator(response);
      copy_job_values(reply, job, false);
    }
    count++;
    LogDiagnostic(L_DEBUG2, "get_jobs: count = %d", count);
  }
  if (encoded) listing.finish(response);
  response->op_status = requested ? IPP_OK_SUBST : IPP_OK;
}

void get_job_attrs(client_t* con, ipp_attribute_t* uri) {
  const char* text = uri && !uri->values.empty() ? uri->values[0].string.text.c_str() : "";
  LogDiagnostic(L_DEBUG2, "get_job_attrs(%p[%d], %s)\n", static_cast<void*>(con), con->http.fd, text);

  int id = 0;
  if (uri && uri->name == "printer-uri") {
    const ipp_attribute_t* job_id = ippFindAttribute(con->ipp_request.get(), "job-id", IPP_TAG_INTEGER);
    if (!job_id || job_id->values.empty()) {
      LogDiagnostic(L_ERROR, "get_job_attrs: got a printer-uri attribute but no job-id!");
      send_ipp_error(con, IPP_BAD_REQUEST);
      return;
    }
    id = job_id->values[0].integer;
  } else {
    // The id must be the whole rest of the path: "/jobs/12x" names no job.
    const std::string resource = split_target(uri).resource;
    const char* end = resource.c_str() + resource.size();
    std::from_chars_result parsed{end, std::errc::invalid_argument};
    if (resource.starts_with("/jobs/")) parsed = std::from_chars(resource.c_str() + 6, end, id);
    auto [ptr, ec] = parsed;
    if (ec != std::errc() || ptr != end) {
      LogDiagnostic(L_ERROR, "get_job_attrs: bad job-uri attribute '%s'!\n", text);
      send_ipp_error(con, IPP_BAD_REQUEST);
      return;
    }
  }

  job_t* job = LookupJob(id);
  if (!job) {
    LogDiagnostic(L_ERROR, "get_job_attrs: job #%d doesn't exist!", id);
    send_ipp_error(con, IPP_NOT_FOUND);
    return;
  }
  const ipp_attribute_t* requested = requested_of(con);
  ippAddInteger(con->ipp_response.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", job->id);
  job_reply_t reply = start_job_reply(con, requested);
  copy_job_values(reply, job, true);
  con->ipp_response->op_status = requested ? IPP_OK_SUBST : IPP_OK;
}
