#include "scheduler/log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>
#include <vector>

#include "scheduler/buffile.h"
#include "scheduler/http/client.h"
#include "scheduler/conf/conf.h"

namespace {

constexpr size_t kMaxMessage = 1023;  // diagnostics are cut here
constexpr size_t kMaxLogName = 1023;
constexpr size_t kMaxHeld = 1000;     // messages held while a file is read

// Letter and system-log priority of each level.
constexpr char kLevelLetter[] = {' ', 'X', 'A', 'C', 'E', 'W', 'N', 'I', 'D', 'd'};
constexpr int kSyslogPriority[] = {LOG_EMERG, LOG_EMERG, LOG_ALERT, LOG_CRIT, LOG_ERR,
                                   LOG_WARNING, LOG_NOTICE, LOG_INFO, LOG_DEBUG, LOG_DEBUG};

struct log_file_t {
  std::unique_ptr<BufFile> file;
  std::string name;  // the expanded file name it was opened with
};

log_file_t ErrorFile, AccessFile, PageFile;

struct held_message_t {
  int level;
  time_t when;
  std::string text;
};
bool Holding = false;
std::vector<held_message_t> Held;

int clamp_level(int level) { return level < L_NONE ? L_NONE : level > L_DEBUG2 ? L_DEBUG2 : level; }

// The file name of a log path: relative to ServerRoot, each "%s" replaced
// by ServerName, cut at 1023 characters.
std::string log_file_name(const std::string& path) {
  std::string name = path[0] == '/' ? std::string() : ServerRoot + "/";
  for (size_t i = 0; i < path.size(); i++) {
    if (path[i] == '%' && i + 1 < path.size() && path[i + 1] == 's') {
      name += ServerName;
      i++;
    } else {
      name += path[i];
    }
  }
  if (name.size() > kMaxLogName) name.resize(kMaxLogName);
  return name;
}

bool open_log(log_file_t& log) {
  log.file = BufFileOpen(log.name.c_str(), "a");
  if (!log.file) return false;
  if (log.name.compare(0, 5, "/dev/") != 0) {
    // The filters (User, Group) must not rewrite the record of what they did.
    if (::fchown(log.file->fd.get(), ServerFileOwner(), Group) != 0) {
      // Not running as root: the log keeps our own owner.
    }
    ::fchmod(log.file->fd.get(), mode_t(LogFilePerm) & 07755);
  }
  return true;
}

enum class log_state { empty_path, failed, open };

// Opens the log of `path` when it is closed and rotates it when it has grown
// beyond MaxLogSize, keeping the previous generation as "NAME.O".
log_state check_log_file(log_file_t& log, const std::string& path) {
  if (path.empty()) return log_state::empty_path;
  if (!log.file) {
    log.name = log_file_name(path);
    if (!open_log(log)) return log_state::failed;
  }
  if (MaxLogSize > 0 && log.file->pos > MaxLogSize) {
    BufFileClose(std::move(log.file));
    std::string old = log.name + ".O";
    // rename() replaces an earlier ".O" in one step.
    ::rename(log.name.c_str(), old.c_str());
    if (!open_log(log)) return log_state::failed;
  }
  return log_state::open;
}

int write_error_line(int level, time_t when, std::string_view raw) {
  level = clamp_level(level);
  // Messages quote user names, titles and status lines: one message is one
  // line whatever they hold.
  if (!raw.empty() && raw.back() == '\n') raw.remove_suffix(1);
  const std::string message = EscapeLogText(raw);
  if (ErrorLog == "syslog") {
    ::syslog(kSyslogPriority[level], "%s", message.c_str());
    return 1;
  }
  switch (check_log_file(ErrorFile, ErrorLog)) {
    case log_state::empty_path: return 1;
    case log_state::failed: return 0;
    case log_state::open: break;
  }
  BufFilePrintf(ErrorFile.file.get(), "%c %s %s\n", kLevelLetter[level], GetDateString(when).c_str(),
                message.c_str());
  BufFileFlush(ErrorFile.file.get());
  return 1;
}

std::string dash_if_empty(std::string_view s) { return s.empty() ? std::string("-") : EscapeLogText(s); }

}  // namespace

std::string EscapeLogText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7f) {
      out += c;
      continue;
    }
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        char hex[8];
        std::snprintf(hex, sizeof(hex), "\\x%02x", u);
        out += hex;
      }
    }
  }
  return out;
}

std::string GetDateString(time_t t) {
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  struct tm tm {};
  ::localtime_r(&t, &tm);
  // The zone's offset at that moment, east of UTC, so summer time shows too.
  long offset = tm.tm_gmtoff;
  char sign = offset < 0 ? '-' : '+';
  long abs_offset = std::labs(offset);
  char text[64];
  std::snprintf(text, sizeof(text), "[%02d/%s/%04d:%02d:%02d:%02d %c%02ld%02ld]", tm.tm_mday,
                months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, sign,
                abs_offset / 3600, (abs_offset / 60) % 60);
  return text;
}

int LogDiagnostic(int level, const char* format, ...) {
  if (!Holding && level > LogLevel) return 1;
  char text[kMaxMessage + 1];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof(text), format, ap);
  va_end(ap);
  if (Holding) {
    if (Held.size() < kMaxHeld) Held.push_back({level, ::time(nullptr), text});
    return 1;
  }
  return write_error_line(level, ::time(nullptr), text);
}

void HoldLogs() { Holding = true; }

void ReleaseLogs() {
  Holding = false;
  std::vector<held_message_t> held;
  held.swap(Held);
  for (const held_message_t& m : held)
    if (m.level <= LogLevel) write_error_line(m.level, m.when, m.text);
}

int WriteAccessLine(const client_t* con, int code) {
  if (!con) return 0;
  const std::string user_text = dash_if_empty(con->username);
  const std::string host_text = EscapeLogText(con->http.hostname);
  const std::string resource_text = EscapeLogText(con->resource);
  const char* user = user_text.c_str();
  const char* method = httpStateString(con->request_method);
  int major = con->http.version / 100, minor = con->http.version % 100;
  if (AccessLog == "syslog") {
    ::syslog(LOG_INFO, "REQUEST %s - %s \"%s %s HTTP/%d.%d\" %d %lld\n", host_text.c_str(), user,
             method, resource_text.c_str(), major, minor, code, con->byte_count);
    return 1;
  }
  switch (check_log_file(AccessFile, AccessLog)) {
    case log_state::empty_path: return 1;
    case log_state::failed: return 0;
    case log_state::open: break;
  }
  BufFilePrintf(AccessFile.file.get(), "%s - %s %s \"%s %s HTTP/%d.%d\" %d %lld\n",
                host_text.c_str(), user, GetDateString(con->request_time).c_str(), method,
                resource_text.c_str(), major, minor, code, con->byte_count);
  BufFileFlush(AccessFile.file.get());
  return 1;
}

int WritePageLine(std::string_view printer, std::string_view username, int job_id,
                  std::string_view page, std::string_view billing, std::string_view host) {
  std::string p = EscapeLogText(printer), u = dash_if_empty(username), pg = EscapeLogText(page),
              b = dash_if_empty(billing), h = EscapeLogText(host);
  if (PageLog == "syslog") {
    ::syslog(LOG_INFO, "PAGE %s %s %d %s %s %s", p.c_str(), u.c_str(), job_id, pg.c_str(),
             b.c_str(), h.c_str());
    return 1;
  }
  switch (check_log_file(PageFile, PageLog)) {
    case log_state::empty_path: return 1;
    case log_state::failed: return 0;
    case log_state::open: break;
  }
  BufFilePrintf(PageFile.file.get(), "%s %s %d %s %s %s %s\n", p.c_str(), u.c_str(), job_id,
                GetDateString(::time(nullptr)).c_str(), pg.c_str(), b.c_str(), h.c_str());
  BufFileFlush(PageFile.file.get());
  return 1;
}

void CloseLogs() {
  for (log_file_t* log : {&ErrorFile, &AccessFile, &PageFile}) {
    if (log->file) BufFileClose(std::move(log->file));
    log->name.clear();
  }
}
