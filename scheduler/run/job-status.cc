// The status lines filters and backends write on the job's status pipe, and
// what the end of a document means for the job: next document, completion,
// abort, requeue or fax retry.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "scheduler/conf/conf.h"
#include "scheduler/fdset.h"
#include "scheduler/run/run.h"
#include "scheduler/log.h"
#include "scheduler/jobs/quota.h"
#include "scheduler/signals.h"
#include "vorn/strings.h"

namespace {

constexpr size_t kMaxLine = kJobBufferSize - 1;

// Jobs whose status pipe ended while some of their processes were not yet
// reaped: their outcome is only known once every exit status is in.
std::vector<int> AwaitingExit;

enum line_kind { kLevel, kInfo, kPage, kState };

struct prefix_t {
  const char* prefix;
  int level;
  line_kind kind;
};

// Tested in this order, with regard to case.
constexpr prefix_t kPrefixes[] = {
    {"EMERG:", L_EMERG, kLevel},   {"ALERT:", L_ALERT, kLevel},   {"CRIT:", L_CRIT, kLevel},
    {"ERROR:", L_ERROR, kLevel},   {"WARNING:", L_WARN, kLevel},  {"NOTICE:", L_NOTICE, kLevel},
    {"INFO:", L_INFO, kInfo},      {"DEBUG:", L_DEBUG, kLevel},   {"DEBUG2:", L_DEBUG2, kLevel},
    {"PAGE:", 0, kPage},           {"STATE:", 0, kState},
};

void set_state_message(printer_t* p, std::string_view message) {
  if (!p) return;
  p->state_message = vorn::cut(message, kMaxStateMessage);
  RecordPrinterHistory(p);
}

const std::string* job_text(const job_t* job, std::string_view name) {
  for (const ipp_attribute_t* a = job->attrs ? job->attrs->attrs : nullptr; a; a = a->next)
    if (a->name == name && !a->values.empty() &&
        (a->value_tag == IPP_TAG_NAME || a->value_tag == IPP_TAG_NAMELANG || a->value_tag == IPP_TAG_TEXT ||
         a->value_tag == IPP_TAG_TEXTLANG))
      return &a->values[0].string.text;
  return nullptr;
}

// A decimal number at the start of `s` (after blanks), cut to 0..INT_MAX;
// false when there is none.
bool take_number(std::string_view& s, int* value) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) i++;
  bool negative = i < s.size() && s[i] == '-';
  if (negative || (i < s.size() && s[i] == '+')) i++;
  size_t start = i;
  long long v = 0;
  while (i < s.size() && vorn::isdigit(s[i])) {
    if (v < INT_MAX) v = v * 10 + (s[i] - '0');
    i++;
  }
  if (i == start) return false;
  if (negative) v = 0;
  *value = int(std::min<long long>(v, INT_MAX));
  s.remove_prefix(i);
  return true;
}

void page_line(int id, std::string_view message) {
  job_t* job = LookupJob(id);
  if (!job) return;
  int current = job->sheets && !job->sheets->values.empty() ? job->sheets->values[0].integer : 0;
  int increment = 0;
  std::string_view rest = message;
  if (vorn::istarts_with(rest, "total ")) {
    rest.remove_prefix(6);
    int total = 0;
    // A total never takes sheets back: they were printed and charged.
    if (take_number(rest, &total)) increment = std::max(0, total - current);
  } else {
    int page = 0, copies = 1;
    if (take_number(rest, &page)) {
      if (!take_number(rest, &copies)) copies = 1;
      increment = copies;
    }
  }
  increment = std::min(increment, INT_MAX - std::max(current, 0));
  if (job->sheets && !job->sheets->values.empty()) {
    job->sheets->values[0].integer = current + increment;
    ippTouch(job->attrs.get());
  }

  printer_t* p = job->printer;
  std::string username = job->username;
  if (p && p->page_limit > 0 && increment > 0) {
    UpdateQuota(p, username, increment, 0);
    if (!(job = LookupJob(id))) return;  // a purge may have taken it
  }
  const std::string* billing = job_text(job, "job-billing");
  const std::string* host = job_text(job, "job-originating-host-name");
  WritePageLine(p ? std::string_view(p->name) : std::string_view(job->dest), username, id, message,
                billing ? *billing : std::string_view(), host ? *host : std::string_view());
}

void handle_line(int id, std::string_view line) {
  job_t* job = LookupJob(id);
  if (!job) return;
  for (const prefix_t& pre : kPrefixes) {
    if (!line.starts_with(pre.prefix)) continue;
    std::string_view message = line.substr(std::strlen(pre.prefix));
    while (!message.empty() && (message[0] == ' ' || message[0] == '\t')) message.remove_prefix(1);
    std::string text(message);
    switch (pre.kind) {
      case kLevel:
        LogDiagnostic(pre.level, "[Job %d] %s", id, text.c_str());
        if (pre.level <= L_NOTICE) set_state_message(job->printer, message);
        break;
      case kInfo:
        if (LogLevel >= L_DEBUG2) LogDiagnostic(L_INFO, "[Job %d] %s", id, text.c_str());
        // After a failure the failure's message stays visible.
        if (job->status == 0) set_state_message(job->printer, message);
        break;
      case kPage:
        page_line(id, message);
        break;
      case kState:
        ApplyStateReasons(job->printer, message);
        break;
    }
    return;
  }
  LogDiagnostic(L_DEBUG, "[Job %d] %s", id, std::string(line).c_str());
}

bool has_live_process(const job_t* job) {
  return std::any_of(job->procs.begin(), job->procs.end(), [](int pid) { return pid > 0; });
}

// The end of a document whose processes have all been reaped.
void finish_document(int id) {
  job_t* job = LookupJob(id);
  if (!job || JobState(job) != IPP_JOB_PROCESSING) return;
  printer_t* p = job->printer;

  if (job->status < 0 || !p) {
    bool on_class = (job->dtype & (PRINTER_CLASS | PRINTER_IMPLICIT)) != 0;
    bool fax = (p && (p->type & PRINTER_FAX)) || (job->dtype & PRINTER_FAX);
    StopJob(id, 0);
    if (!(job = LookupJob(id))) return;
    SetJobState(job, IPP_JOB_PENDING);
    SaveJob(id);
    if (!on_class) {
      // The job waits for the printer to be started again.
      if (!fax) return;
      job->tries++;
      if (job->tries < FaxRetryLimit) {
        SetJobState(job, IPP_JOB_HELD);
        job->hold_until = JobClock() + FaxRetryInterval;
        SaveJob(id);
      } else {
        LogDiagnostic(L_ERROR, "Canceling fax job %d since it could not be sent after %d tries.", id, FaxRetryLimit);
        CancelJob(id, 0);
      }
    }
    RunPendingJobs();
    return;
  }

  if (job->current_file < job->num_files) {
    FilterLevel = std::max(0, FilterLevel - job->cost);
    job->cost = 0;
    StartJob(id, p);
    job = LookupJob(id);
    // Held back or skipped: another job may use the printer meanwhile.
    if (!job || JobState(job) != IPP_JOB_PROCESSING) RunPendingJobs();
    return;
  }

  FinishJob(id, job->status == 0 ? IPP_JOB_COMPLETED : IPP_JOB_ABORTED);
}

}  // namespace

void UpdateJob(job_t* job) {
  if (!job || !job->pipe) return;
  const int id = job->id;
  if (!job->buffer) {
    job->buffer.reset(new (std::nothrow) char[kJobBufferSize]);
    job->bufused = 0;
    job->buftrunc = false;
    if (!job->buffer) return;
  }

  ssize_t n = ::read(job->pipe.get(), job->buffer.get() + job->bufused, kMaxLine - size_t(job->bufused));
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  const bool eof = n <= 0;
  if (n > 0) job->bufused += int(n);

  for (;;) {
    job = LookupJob(id);
    if (!job || !job->buffer || job->bufused <= 0) break;
    char* buf = job->buffer.get();
    size_t used = size_t(job->bufused);
    const char* nl = static_cast<const char*>(std::memchr(buf, '\n', used));
    size_t len, consumed;
    bool cut = false;
    if (nl) {
      len = size_t(nl - buf);
      consumed = len + 1;
    } else if (used >= kMaxLine || eof) {
      // A full buffer, or what is left at the end, is one line; the rest of
      // an overlong line must never be read as a line of its own (its tail
      // could say "PAGE:" for a process that only meant an error text).
      len = consumed = used;
      cut = !eof;
    } else {
      break;
    }
    const bool tail = job->buftrunc;
    job->buftrunc = cut || (tail && !nl);
    std::string line(buf, len);
    std::memmove(buf, buf + consumed, used - consumed);
    job->bufused = int(used - consumed);
    if (tail) {
      LogDiagnostic(L_DEBUG, "[Job %d] Dropped %d more bytes of an overlong status line.", id, int(len));
      continue;
    }
    handle_line(id, line);
  }

  if (!eof) return;
  if (!(job = LookupJob(id)) || !job->pipe) return;
  LogDiagnostic(L_DEBUG, "UpdateJob: job %d, file %d is complete.", id, job->current_file - 1);
  LogDiagnostic(L_DEBUG2, "UpdateJob: Removing fd %d from InputSet...", job->pipe.get());
  InputSet.clear(job->pipe.get());
  job->pipe.reset();

  // Exits not yet reaped would hide a failure.
  ReapChildren();
  if (!(job = LookupJob(id))) return;
  if (has_live_process(job)) {
    if (std::find(AwaitingExit.begin(), AwaitingExit.end(), id) == AwaitingExit.end()) AwaitingExit.push_back(id);
    return;
  }
  finish_document(id);
}

void FinishExitedJobs() {
  if (AwaitingExit.empty()) return;
  std::vector<int> ids;
  ids.swap(AwaitingExit);
  for (int id : ids) {
    job_t* job = LookupJob(id);
    // Stopped, cancelled or already on its next document meanwhile.
    if (!job || JobState(job) != IPP_JOB_PROCESSING || job->pipe) continue;
    if (has_live_process(job)) {
      AwaitingExit.push_back(id);
      continue;
    }
    finish_document(id);
  }
}
