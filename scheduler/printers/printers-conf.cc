// printers.conf and classes.conf: loading the local printers and classes at
// start-up and reload, and saving them whenever they change.
//
// Each file is one block per destination:
//   <Printer NAME> or <DefaultPrinter NAME>   (<Class NAME>, <DefaultClass NAME>)
//   Info, Location, DeviceURI (printers), State, StateMessage, Accepting,
//   JobSheets, Printer (class members), QuotaPeriod, PageLimit, KLimit,
//   AllowUser / DenyUser lines
//   </Printer>                                (</Class>)
// Directive names are compared with regard to case.
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <ctime>

#include "scheduler/buffile.h"
#include "scheduler/conf/conf.h"
#include "scheduler/log.h"
#include "scheduler/printers/printers-private.h"
#include "scheduler/printers/printers.h"
#include "vorn/http.h"
#include "vorn/strings.h"

namespace {

constexpr size_t kMaxLine = 1023;
constexpr size_t kMaxDirective = 255;

// Lines of printers.conf: each keeps its first kMaxLine bytes; the rest of
// a longer line is skipped, so it never turns into lines of its own. A line
// ends at "\n", "\r" or "\r\n".
class LineReader {
 public:
  explicit LineReader(BufFile* fp) : fp_(fp) {}

  // False at the end of the data.
  bool Next(std::string& line) {
    line.clear();
    int c = Get();
    if (c < 0) return false;
    while (c >= 0 && c != '\n' && c != '\r') {
      if (line.size() < kMaxLine) line.push_back(char(c));
      c = Get();
    }
    if (c == '\r') {
      int n = Get();
      if (n != '\n') peeked_ = n;
    }
    return true;
  }

 private:
  int Get() {
    if (peeked_ != kNone) {
      int c = peeked_;
      peeked_ = kNone;
      return c;
    }
    return BufFileGetChar(fp_);
  }
  static constexpr int kNone = -2;
  BufFile* fp_;
  int peeked_ = kNone;
};

// A decimal number; anything else gives 0, negative values 0 and values past
// INT_MAX INT_MAX.
int ParseCount(std::string_view value) {
  long long n = 0;
  const char* end = value.data() + value.size();
  std::errc ec = std::from_chars(value.data(), end, n).ec;
  if (ec == std::errc::result_out_of_range) return value.starts_with("-") ? 0 : INT_MAX;
  if (ec != std::errc() || n < 0) return 0;
  return n > INT_MAX ? INT_MAX : int(n);
}

// Values are written on one line: control characters (a newline in an info
// text, say) would start a directive of their own.
std::string OneLine(std::string_view value) {
  std::string s(value);
  for (char& c : s)
    if ((unsigned char)c < 0x20 || c == 0x7f) c = ' ';
  return s;
}

// What differs between the two files.
struct dest_file_t {
  const char* file;    // "printers.conf"
  const char* loader;  // "LoadAllPrinters", for its messages
  const char* kind;    // "printer", for its messages
  const char* block;   // "Printer": <Printer>, <DefaultPrinter>, </Printer>
  const char* title;   // "Printer": the header's "# Printer configuration file"
  bool is_class;
  // The last load met a damaged file: before it is replaced, it is kept
  // under a name of its own.
  bool damaged = false;
};

dest_file_t PrintersFile{"printers.conf", "LoadAllPrinters", "printer", "Printer", "Printer", false};
dest_file_t ClassesFile{"classes.conf", "LoadAllClasses", "class", "Class", "Class", true};

// Whether the file keeps `p`: local printers, or local classes.
bool Keeps(const dest_file_t& f, const printer_t* p) {
  if (p->type & (PRINTER_REMOTE | PRINTER_IMPLICIT)) return false;
  return ((p->type & PRINTER_CLASS) != 0) == f.is_class;
}

// Finishes a destination read from the file. A printer's device URI is
// checked once its State line has been read, so a refused one leaves it
// stopped.
void CloseDest(const dest_file_t& f, printer_t* p) {
  if (!f.is_class) CheckPrinterDeviceURI(p);
  SetPrinterAttrs(p);
  RecordPrinterHistory(p);
}

// A class member named in classes.conf that is not here (yet): a stopped
// remote stand-in, never timed out by browsing, until it is announced.
printer_t* PlaceholderMember(const std::string& name) {
  printer_t* m = AddPrinter(name.c_str());
  if (!m) return nullptr;
  m->make_model = "Remote Printer on unknown";
  m->state = IPP_PRINTER_STOPPED;
  m->browse_time = 2147483647;
  m->type |= PRINTER_REMOTE;
  m->location = "Location Unknown";
  m->info = "No Information Available";
  m->hostname.clear();
  SetPrinterAttrs(m);
  return m;
}

// Keeps the damaged file as printers.conf.damaged-YYYYMMDD-HHMMSS (a hard
// link: the save then replaces only the name printers.conf). False when it
// could not be kept.
bool KeepDamagedConf(const std::string& path, const char* file) {
  char stamp[32];
  time_t now = time(nullptr);
  struct tm tm_now;
  gmtime_r(&now, &tm_now);
  if (strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", &tm_now) == 0) stamp[0] = '\0';
  std::string kept = path + ".damaged-" + stamp;
  for (int n = 1; n < 100; n++) {
    if (::link(path.c_str(), kept.c_str()) == 0) {
      LogDiagnostic(L_ERROR, "%s had errors when it was loaded; it is kept as %s.", file, kept.c_str());
      return true;
    }
    if (errno == ENOENT) return true;  // nothing left to keep
    if (errno != EEXIST) break;
    kept = path + ".damaged-" + stamp + "-" + std::to_string(n);
  }
  LogDiagnostic(L_ERROR, "Unable to keep the damaged %s as %s - %s", file, kept.c_str(), std::strerror(errno));
  return false;
}

}  // namespace

std::string DeviceURIProblem(std::string_view uri) {
  size_t colon = uri.find(':');
  if (colon == std::string_view::npos) return "no scheme";
  std::string_view scheme = uri.substr(0, colon);
  // The scheme names a program in the backend directory, never a path out
  // of it.
  bool valid = !scheme.empty() && scheme[0] != '.' && scheme.size() <= kMaxScheme;
  for (char c : scheme)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || vorn::isdigit(c) || c == '+' || c == '-' || c == '.'))
      valid = false;
  if (!valid) return "bad scheme \"" + std::string(vorn::cut(scheme, kMaxScheme)) + "\"";
  if (scheme != "file") return "";
  std::string_view path = uri.substr(colon + 1);
  if (path == "/dev/null") return "";
  if (!FileDevice) return "file devices are disabled (FileDevice)";
  if (!path.starts_with("/")) return "file device path is not absolute";
  return "";
}

int CheckPrinterDeviceURI(printer_t* p) {
  if (!p || p->device_uri.empty()) return 1;
  std::string why = DeviceURIProblem(p->device_uri);
  if (why.empty()) return 1;
  LogDiagnostic(L_ERROR, "Printer %s: device URI \"%s\" refused - %s.", p->name.c_str(),
                httpPublicURI(p->device_uri).c_str(), why.c_str());
  p->state = IPP_PRINTER_STOPPED;
  p->state_message = vorn::cut("Device URI refused: " + why + ".", kMaxStateMessage);
  return 0;
}

namespace {

void LoadDestFile(dest_file_t& f) {
  std::string path = ServerRoot + "/" + f.file;
  f.damaged = false;
  auto fp = BufFileOpen(path.c_str(), "r");
  if (!fp) {
    // A system with no destinations of this kind yet has no file: that is
    // no error.
    LogDiagnostic(errno == ENOENT ? L_INFO : L_ERROR, "%s: Unable to open %s - %s", f.loader, path.c_str(),
                  std::strerror(errno));
    return;
  }

  PrintcapDeferred = true;
  printer_t* p = nullptr;
  bool skipping = false;  // inside a block that is not loaded (duplicate, damaged)
  int linenum = 0;
  std::string line;
  auto syntax = [&] {
    LogDiagnostic(L_ERROR, "Syntax error on line %d of %s.", linenum, f.file);
    f.damaged = true;
  };
  // A damaged block is left out whole rather than loaded half; the rest of
  // the file still loads, and the first save keeps the file aside.
  auto discard = [&] {
    LogDiagnostic(L_ERROR, "Skipping %s %s of %s: its block is damaged.", f.kind, p->name.c_str(), f.file);
    if (DefaultPrinter == p) DefaultPrinter = nullptr;
    RemovePrinter(p, 0);
    p = nullptr;
  };
  const std::string open_tag = std::string("<") + f.block, default_tag = std::string("<Default") + f.block,
                    close_tag = std::string("</") + f.block + ">";
  LineReader reader(fp.get());
  while (reader.Next(line)) {
    linenum++;
    std::string_view s = vorn::trim(line);
    if (s.empty() || s[0] == '#') continue;
    size_t end = 0;
    while (end < s.size() && !vorn::isspace(s[end])) end++;
    std::string name(vorn::cut(s.substr(0, end), kMaxDirective));
    std::string value(vorn::trim(s.substr(end)));

    if (name == open_tag || name == default_tag) {
      bool reported = false;
      if (p) {
        // The open block never ended: it is the damaged one, this line
        // starts the next.
        syntax();
        reported = true;
        discard();
      }
      skipping = false;
      std::string pname;
      if (!value.empty() && value.back() == '>') {
        value.pop_back();
        pname = vorn::trim(value);
      }
      if (pname.empty()) {
        if (!reported) syntax();
        skipping = true;
        continue;
      }
      if (LookupDestByName(vorn::cut(pname, kMaxPrinterName))) {
        // A second block for the same name must not create a second record.
        LogDiagnostic(L_ERROR, "Duplicate %s %s on line %d of %s.", f.kind, pname.c_str(), linenum, f.file);
        f.damaged = true;
        skipping = true;
        continue;
      }
      LogDiagnostic(L_DEBUG, "%s: Loading %s %s...", f.loader, f.kind, pname.c_str());
      p = f.is_class ? NewClass(pname.c_str()) : AddPrinter(pname.c_str());
      if (!p) {
        skipping = true;  // logged by AddPrinter
        continue;
      }
      p->accepting = 1;
      p->state = IPP_PRINTER_IDLE;
      if (name == default_tag) DefaultPrinter = p;
      continue;
    }
    if (name == close_tag) {
      if (skipping) {
        skipping = false;
        continue;
      }
      if (!p) {
        syntax();
        continue;
      }
      CloseDest(f, p);
      p = nullptr;
      continue;
    }
    if (skipping) continue;
    if (!p) {
      // A directive outside any block belongs to no printer.
      syntax();
      continue;
    }

    if (name == "Info") {
      p->info = vorn::cut(value, kMaxPrinterText);
    } else if (name == "Location") {
      p->location = vorn::cut(value, kMaxPrinterText);
    } else if (name == "DeviceURI" && !f.is_class) {
      p->device_uri = vorn::cut(value, kMaxPrinterURI);
    } else if (name == "State") {
      if (vorn::iequals(value, "idle"))
        p->state = IPP_PRINTER_IDLE;
      else if (vorn::iequals(value, "stopped"))
        p->state = IPP_PRINTER_STOPPED;
    } else if (name == "StateMessage") {
      p->state_message = vorn::cut(value, kMaxStateMessage);
    } else if (name == "Accepting") {
      p->accepting = vorn::iequals(value, "yes") ? 1 : 0;
    } else if (name == "JobSheets") {
      std::string_view v = value;
      size_t sp = 0;
      while (sp < v.size() && !vorn::isspace(v[sp])) sp++;
      if (sp > 0) p->job_sheets[0] = vorn::cut(v.substr(0, sp), kMaxPrinterText);
      std::string_view second = vorn::trim(v.substr(sp));
      size_t sp2 = 0;
      while (sp2 < second.size() && !vorn::isspace(second[sp2])) sp2++;
      if (sp2 > 0) p->job_sheets[1] = vorn::cut(second.substr(0, sp2), kMaxPrinterText);
    } else if (name == "Printer" && f.is_class) {
      printer_t* m = LookupPrinter(value);
      if (!m) {
        LogDiagnostic(L_WARN, "Unknown printer %s on line %d of classes.conf.", value.c_str(), linenum);
        m = PlaceholderMember(value);
      }
      if (m) AddClassMember(p, m);
    } else if (name == "QuotaPeriod") {
      p->quota_period = ParseCount(value);
    } else if (name == "PageLimit") {
      p->page_limit = ParseCount(value);
    } else if (name == "KLimit") {
      p->k_limit = ParseCount(value);
    } else if (name == "AllowUser") {
      p->deny_users = 0;
      AddUserRule(p, value);
    } else if (name == "DenyUser") {
      p->deny_users = 1;
      AddUserRule(p, value);
    } else {
      LogDiagnostic(L_ERROR, "Unknown configuration directive %s on line %d of %s.", name.c_str(), linenum,
                    f.file);
    }
  }

  if (int e = BufFileError(fp.get()))
    LogDiagnostic(L_ERROR, "%s: Unable to read %s - %s", f.loader, path.c_str(), std::strerror(e));
  if (p) {
    // The file ended inside a block: what was read of the printer is kept,
    // with its attributes built like any other.
    syntax();
    CloseDest(f, p);
  }
  PrintcapDeferred = false;
  SavePrintcap();
}

int WriteDestFile(dest_file_t& f) {
  std::string path = ServerRoot + "/" + f.file;
  // The destinations of a damaged block were not loaded: replacing the file
  // without keeping it would drop them for good.
  if (f.damaged) {
    if (!KeepDamagedConf(path, f.file)) {
      LogDiagnostic(L_ERROR, "Unable to save %s - the damaged file could not be kept", f.file);
      return 0;
    }
    f.damaged = false;
  }
  uid_t owner = RunAsUser ? User : ::getuid();
  auto out = BufFileCreateSafe(path, mode_t(ConfigFilePerm) & 07777, owner, Group);
  if (!out) {
    LogDiagnostic(L_ERROR, "Unable to save %s - %s", f.file, std::strerror(errno));
    return 0;
  }
  LogDiagnostic(L_INFO, "Saving %s...", f.file);

  BufFile* fp = out.get();
  char date[256];
  time_t now = time(nullptr);
  struct tm tm_now;
  localtime_r(&now, &tm_now);
  // The locale's own date form is what the header is meant to show.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
  if (strftime(date, sizeof(date), "%c", &tm_now) == 0) date[0] = '\0';
#pragma GCC diagnostic pop
  bool ok = BufFilePrintf(fp, "# %s configuration file for VORN v1.1\n", f.title) >= 0 &&
            BufFilePrintf(fp, "# Written by vornd on %s\n", date) >= 0;

  // BufFilePrintf stops at 2047 characters: values go through Puts.
  auto line = [&](const char* directive, std::string_view value) {
    if (!ok) return;
    ok = BufFilePuts(fp, directive) >= 0 && BufFilePuts(fp, " ") >= 0 &&
         BufFilePuts(fp, OneLine(value).c_str()) >= 0 && BufFilePuts(fp, "\n") >= 0;
  };

  for (printer_t* p = Printers; p && ok; p = p->next) {
    if (!Keeps(f, p)) continue;
    ok = BufFilePrintf(fp, "<%s%s ", p == DefaultPrinter ? "Default" : "", f.block) >= 0 &&
         BufFilePuts(fp, OneLine(p->name).c_str()) >= 0 && BufFilePuts(fp, ">\n") >= 0;
    if (!p->info.empty()) line("Info", p->info);
    if (!p->location.empty()) line("Location", p->location);
    if (!f.is_class && !p->device_uri.empty()) line("DeviceURI", p->device_uri);
    if (p->state == IPP_PRINTER_STOPPED) {
      line("State", "Stopped");
      line("StateMessage", p->state_message);
    } else {
      line("State", "Idle");  // a printer busy now is idle after a restart
    }
    line("Accepting", p->accepting ? "Yes" : "No");
    line("JobSheets", OneLine(p->job_sheets[0]) + " " + OneLine(p->job_sheets[1]));
    if (f.is_class)
      for (const printer_t* m : p->printers) line("Printer", m->name);
    line("QuotaPeriod", std::to_string(p->quota_period));
    line("PageLimit", std::to_string(p->page_limit));
    line("KLimit", std::to_string(p->k_limit));
    for (const std::string& user : p->users) line(p->deny_users ? "DenyUser" : "AllowUser", user);
    if (ok) ok = BufFilePrintf(fp, "</%s>\n", f.block) >= 0;
  }

  if (!ok) {
    int e = errno;
    out.reset();  // removes the unfinished file; the old one stays
    LogDiagnostic(L_ERROR, "Unable to save %s - %s", f.file, std::strerror(e));
    return 0;
  }
  if (BufFileCommit(std::move(out)) != 0) {
    LogDiagnostic(L_ERROR, "Unable to save %s - %s", f.file, std::strerror(errno));
    return 0;
  }
  return 1;
}

}  // namespace

void LoadAllPrinters() { LoadDestFile(PrintersFile); }
void LoadAllClasses() { LoadDestFile(ClassesFile); }
int WritePrintersConf() { return WriteDestFile(PrintersFile); }
int WriteClassesConf() { return WriteDestFile(ClassesFile); }

void SaveDestinationFile(const printer_t* p) {
  if (p->type & PRINTER_CLASS)
    WriteClassesConf();
  else
    WritePrintersConf();
}
