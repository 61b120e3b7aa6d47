// job-hold-until: when a held job is released.
//
// Named periods are local wall-clock times and are found with mktime, so the
// target is right across a change of daylight saving time; "HH:MM[:SS]" is a
// time of day in UTC.
#include <ctime>
#include <string>

#include "scheduler/jobs/job.h"
#include "scheduler/log.h"

namespace {

// `local` moved by `days` to hh:00:00 local time.
time_t local_at(const tm& local, int days, int hour) {
  tm t = local;
  t.tm_mday += days;
  t.tm_hour = hour;
  t.tm_min = 0;
  t.tm_sec = 0;
  t.tm_isdst = -1;
  return ::mktime(&t);
}

// One to two digits; advances `s`.
bool read_field(std::string_view& s, int* value) {
  size_t n = 0;
  int v = 0;
  while (n < s.size() && n < 2 && s[n] >= '0' && s[n] <= '9') v = v * 10 + (s[n++] - '0');
  if (n == 0) return false;
  s.remove_prefix(n);
  *value = v;
  return true;
}

// "HH:MM" or "HH:MM:SS" as seconds after midnight; false for anything else.
bool parse_time_of_day(std::string_view s, int* seconds) {
  int h = 0, m = 0, sec = 0;
  if (!read_field(s, &h) || s.empty() || s[0] != ':') return false;
  s.remove_prefix(1);
  if (!read_field(s, &m)) return false;
  if (!s.empty()) {
    if (s[0] != ':') return false;
    s.remove_prefix(1);
    if (!read_field(s, &sec) || !s.empty()) return false;
  }
  if (h > 23 || m > 59 || sec > 59) return false;
  *seconds = (h * 60 + m) * 60 + sec;
  return true;
}

}  // namespace

int ComputeHoldUntil(std::string_view when, time_t now, time_t* hold_until) {
  tm local{};
  ::localtime_r(&now, &local);
  const int hh = local.tm_hour;
  time_t t;

  if (when == "indefinite") {
    t = 0;
  } else if (when == "no-hold") {
    // Nothing to wait for: a job held with it (waiting for its documents,
    // or loaded after a restart) goes at the next check.
    t = now;
  } else if (when == "day-time") {
    t = hh < 18 ? now : local_at(local, 1, 6);
  } else if (when == "evening" || when == "night") {
    t = (hh < 6 || hh >= 18) ? now : local_at(local, 0, 18);
  } else if (when == "second-shift") {
    t = hh >= 16 ? now : local_at(local, 0, 16);
  } else if (when == "third-shift") {
    t = hh < 8 ? now : local_at(local, 1, 0);
  } else if (when == "weekend") {
    if (local.tm_wday == 0 || local.tm_wday == 6) {
      t = now;
    } else {
      t = local_at(local, 5 - local.tm_wday, 18);
      if (t < now) t = now;  // Friday evening is already weekend
    }
  } else {
    int seconds = 0;
    if (!parse_time_of_day(when, &seconds)) return 0;
    time_t midnight = now - ((now % 86400) + 86400) % 86400;
    t = midnight + seconds;
    if (t < now) t += 86400;
  }
  *hold_until = t;
  return 1;
}

int SetJobHoldUntil(int id, std::string_view when) {
  std::string text(when);
  LogDiagnostic(L_DEBUG, "SetJobHoldUntil(%d, \"%s\")", id, text.c_str());
  job_t* job = LookupJob(id);
  if (!job) return 0;
  time_t t = 0;
  int known = ComputeHoldUntil(when, JobClock(), &t);
  if (known) job->hold_until = t;
  LogDiagnostic(L_DEBUG, "SetJobHoldUntil: hold_until = %d", int(job->hold_until));
  return known;
}
