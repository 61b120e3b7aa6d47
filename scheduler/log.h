// The scheduler's three logs: the error log (diagnostics filtered by
// LogLevel), the access log (one line per HTTP request) and the page log (one
// line per printed page). Each is a file, opened on first use and rotated at
// MaxLogSize keeping one ".O" generation, or the system log ("syslog").
//
// Signal handlers of the scheduler never log (they only set flags), so these
// calls need no protection against being re-entered.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

struct client_t;

// Log levels: a message of level L is written when L <= LogLevel.
enum log_level {
  L_NONE = 0,
  L_EMERG = 1,
  L_ALERT = 2,
  L_CRIT = 3,
  L_ERROR = 4,
  L_WARN = 5,
  L_NOTICE = 6,
  L_INFO = 7,
  L_DEBUG = 8,
  L_DEBUG2 = 9,
};

// Writes one diagnostic line to the error log: the level letter, the date
// string and the message (cut at 1023 characters, one final newline dropped,
// then passed through EscapeLogText, so text quoted from users or filters
// never starts a line of its own). Returns 1 when written or filtered out, 0 when
// the error log cannot be opened.
int LogDiagnostic(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// `text` with every control character written out: "\n", "\r", "\t",
// other bytes below 0x20 and 0x7f as "\xNN".
std::string EscapeLogText(std::string_view text);

// One access-log line for the request of `con` answered with `code`; the
// host name, user name and resource pass through EscapeLogText.
// Returns 1, or 0 when the access log cannot be opened.
int WriteAccessLine(const client_t* con, int code);

// One page-log line: printer, user ("-" when empty), job id, the page text
// (page number and copies), billing ("-" when empty) and the originating
// host, each through EscapeLogText. Returns 1, or 0 when the page log cannot be opened.
int WritePageLine(std::string_view printer, std::string_view username, int job_id,
                  std::string_view page, std::string_view billing, std::string_view host);

// "[dd/Mon/yyyy:hh:mm:ss +hhmm]" for `t` in local time, with the zone's
// offset east of UTC at that moment.
std::string GetDateString(time_t t);

// Closes the three log files; the next line reopens them with the paths then
// configured (StopServer calls this so that a reload takes new paths).
void CloseLogs();

// While the configuration is being read, diagnostics are held in memory and
// written by ReleaseLogs once ErrorLog and LogLevel have their new values, so
// every message of a configuration file reaches the log that file names.
void HoldLogs();
void ReleaseLogs();
