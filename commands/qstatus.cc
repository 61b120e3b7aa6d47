// qstatus: the System V style status command. Each option runs its report
// at once, in command-line order, so one call can print several reports;
// the settings options (-D, -l, -R, -W, -E, -h) change the reports after
// them.
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "command-common.h"
#include "vorn/client.h"
#include "vorn/dests.h"
#include "vorn/paths.h"
#include "vorn/request.h"
#include "vorn/strings.h"

namespace {

using namespace vorn::cmd;

struct state_t {
  vorn::http_ptr http;
  bool dests_loaded = false;
  vorn_dests_t dests;
  int long_level = 0;  // 0 none, 1 descriptions, 2 full
  bool ranking = false;
  std::string which = "not-completed";
};

// The open connection, opened on first need; a connection that cannot be
// opened ends the command.
http_t* Http(state_t& s) {
  if (!s.http) {
    s.http = ConnectScheduler();
    if (!s.http) {
      std::perror("qstatus: Unable to connect to server");
      std::exit(1);
    }
  }
  return s.http.get();
}

vorn_dests_t& Dests(state_t& s) {
  if (!s.dests_loaded) {
    vornGetDests(s.dests);
    s.dests_loaded = true;
  }
  return s.dests;
}

// The names of a list: separated by commas and/or white space.
std::vector<std::string> SplitList(std::string_view list) {
  std::vector<std::string> names;
  size_t i = 0;
  while (i < list.size()) {
    while (i < list.size() && (list[i] == ',' || vorn::isspace(list[i]))) i++;
    size_t start = i;
    while (i < list.size() && list[i] != ',' && !vorn::isspace(list[i])) i++;
    if (i > start) names.emplace_back(list.substr(start, i - start));
  }
  return names;
}

// Whether `name` is in `list`: destination names ignore case and the whole
// list "all" takes every one; user names keep their case.
bool InDestList(const char* list, std::string_view name) {
  if (!list || std::strcmp(list, "all") == 0) return true;
  for (const std::string& entry : SplitList(list))
    if (vorn::iequals(entry, name)) return true;
  return false;
}

bool InUserList(const char* list, std::string_view name) {
  for (const std::string& entry : SplitList(list))
    if (entry == name) return true;
  return false;
}

// Each name of a report's destination list must be a known destination;
// otherwise the command ends before any request.
void CheckDestList(state_t& s, const char* list) {
  if (!list) return;
  for (const std::string& name : SplitList(list)) {
    if (name.size() > VORN_MAX_DEST_NAME) {
      std::fprintf(stderr, "qstatus: Invalid destination name in list \"%s\"!\n", list);
      std::exit(1);
    }
    if (!vornGetDest(name.c_str(), nullptr, Dests(s))) {
      std::fprintf(stderr, "qstatus: Unknown destination \"%s\"!\n", name.c_str());
      std::exit(1);
    }
  }
}

// The local instances of printer `name`, for the lines repeated per instance.
std::vector<const vorn_dest_t*> Instances(state_t& s, std::string_view name) {
  std::vector<const vorn_dest_t*> out;
  for (const vorn_dest_t& d : Dests(s))
    if (!d.instance.empty() && vorn::iequals(d.name, name)) out.push_back(&d);
  return out;
}

void AddRequested(ipp_t* request, const std::vector<const char*>& names) {
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", "", names);
}

// Sends a request to "/"; on failure writes "qstatus: WHAT failed: ..." and
// returns null.
ipp_ptr Ask(state_t& s, ipp_t* request, const char* what) {
  ipp_status_t status;
  ipp_ptr response = Send(Http(s), request, "/", &status);
  if (!response) std::fprintf(stderr, "qstatus: %s failed: %s\n", what, ippErrorString(status));
  return response;
}

ipp_ptr GetPrinters(state_t& s, const std::vector<const char*>& requested) {
  ipp_t* request = vornNewRequest(VORN_GET_PRINTERS);
  AddRequested(request, requested);
  return Ask(s, request, "get-printers");
}

int ShowAccepting(state_t& s, const char* list) {
  ipp_ptr response = GetPrinters(s, {"printer-name", "printer-state-message", "printer-is-accepting-jobs"});
  if (!response) return 1;
  for (const attr_group& p : Groups(response.get(), IPP_TAG_PRINTER)) {
    std::string name = p.text("printer-name", IPP_TAG_NAME);
    if (name.empty() || !InDestList(list, name)) continue;
    bool accepting = p.boolean("printer-is-accepting-jobs", true);
    std::string reason = p.text("printer-state-message", IPP_TAG_TEXT);
    if (reason.empty()) reason = "reason unknown";
    if (accepting)
      std::printf("%s accepting requests since Jan 01 00:00\n", name.c_str());
    else
      std::printf("%s not accepting requests since Jan 01 00:00 -\n\t%s\n", name.c_str(), reason.c_str());
    for (const vorn_dest_t* d : Instances(s, name)) {
      if (accepting)
        std::printf("%s/%s accepting requests since Jan 01 00:00\n", name.c_str(), d->instance.c_str());
      else
        std::printf("%s/%s not accepting requests since Jan 01 00:00 -\n\t%s\n", name.c_str(), d->instance.c_str(),
                    reason.c_str());
    }
  }
  return 0;
}

// The members of a class of another server, asked of that server.
std::vector<std::string> RemoteMembers(const std::string& uri) {
  char scheme[HTTP_MAX_SCHEME], user[HTTP_MAX_USER], host[HTTP_MAX_HOST], resource[HTTP_MAX_URI];
  int port = 0;
  std::vector<std::string> members;
  if (!httpSeparate(uri.c_str(), scheme, user, host, &port, resource)) return members;
  vorn::http_ptr http(httpConnectEncrypt(host, port, vornEncryption()));
  if (!http) return members;
  ipp_t* request = vornNewRequest(IPP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", uri);
  AddRequested(request, {"printer-name", "printer-uri-supported", "member-names"});
  ipp_status_t status;
  ipp_ptr response = Send(http.get(), request, "/", &status);
  if (!response) return members;
  if (ipp_attribute_t* a = ippFindAttribute(response.get(), "member-names", IPP_TAG_NAME))
    for (const ipp_value_t& v : a->values) members.push_back(v.string.text);
  return members;
}

int ShowClasses(state_t& s, const char* list) {
  ipp_t* request = vornNewRequest(VORN_GET_CLASSES);
  AddRequested(request, {"printer-name", "printer-uri-supported", "member-names"});
  ipp_ptr response = Ask(s, request, "get-classes");
  if (!response) return 1;
  for (const attr_group& c : Groups(response.get(), IPP_TAG_PRINTER)) {
    std::string name = c.text("printer-name", IPP_TAG_NAME);
    std::vector<std::string> members;
    bool known = false;
    if (const ipp_attribute_t* a = c.find("member-names", IPP_TAG_NAME)) {
      for (const ipp_value_t& v : a->values) members.push_back(v.string.text);
      known = true;
    } else if (const ipp_attribute_t* u = c.find("printer-uri-supported", IPP_TAG_URI); u && !u->values.empty()) {
      // A class of another server: its members are asked of it, whether
      // or not the list selects the class.
      members = RemoteMembers(u->values[0].string.text);
      known = !members.empty();
    }
    if (name.empty() || !InDestList(list, name)) continue;
    std::printf("members of class %s:\n", name.c_str());
    if (!known) {
      std::printf("\tunknown\n");
      continue;
    }
    for (const std::string& m : members) std::printf("\t%s\n", m.c_str());
  }
  return 0;
}

int ShowDefault(state_t& s) {
  const vorn_dest_t* d = vornGetDest(nullptr, nullptr, Dests(s));
  if (!d)
    std::printf("no system default destination\n");
  else if (!d->instance.empty())
    std::printf("system default destination: %s/%s\n", d->name.c_str(), d->instance.c_str());
  else
    std::printf("system default destination: %s\n", d->name.c_str());
  return 0;
}

int ShowDevices(state_t& s, const char* list) {
  ipp_ptr response = GetPrinters(s, {"printer-name", "printer-uri-supported", "device-uri"});
  if (!response) return 1;
  for (const attr_group& p : Groups(response.get(), IPP_TAG_PRINTER)) {
    std::string name = p.text("printer-name", IPP_TAG_NAME);
    if (name.empty() || !InDestList(list, name)) continue;
    std::string device = p.text("device-uri", IPP_TAG_URI);
    if (device.empty())
      device = p.text("printer-uri-supported", IPP_TAG_URI);  // a printer of another server
    else if (device.starts_with("file:"))
      device.erase(0, 5);
    std::printf("device for %s: %s\n", name.c_str(), device.c_str());
    for (const vorn_dest_t* d : Instances(s, name))
      std::printf("device for %s/%s: %s\n", name.c_str(), d->instance.c_str(), device.c_str());
  }
  return 0;
}

std::string TimeText(time_t t) {
  char text[256];
  struct tm tm_buf;
  if (!localtime_r(&t, &tm_buf)) return "";
  // The locale's full date and time ("%c"), in whatever form it writes years.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
  if (std::strftime(text, sizeof(text), "%c", &tm_buf) == 0) return "";
#pragma GCC diagnostic pop
  return text;
}

// The job report: jobs of the destinations in `dests` or of the users in
// `users` (neither: every job).
int ShowJobs(state_t& s, const char* dests, const char* users) {
  ipp_t* request = vornNewRequest(IPP_GET_JOBS);
  AddRequested(request, {"job-id", "job-k-octets", "job-name", "time-at-creation", "job-printer-uri",
                         "job-originating-user-name"});
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", "", "ipp://localhost/jobs/");
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", "", s.which);
  ipp_ptr response = Ask(s, request, "get-jobs");
  if (!response) return 1;
  int rank = -1;
  for (const attr_group& j : Groups(response.get(), IPP_TAG_JOB)) {
    std::string dest = LastPathPart(j.text("job-printer-uri", IPP_TAG_URI));
    int id = j.integer("job-id", IPP_TAG_INTEGER, 0);
    if (dest.empty() || id == 0) continue;
    rank++;  // every job with a destination and an id has a rank, shown or not
    std::string user = j.text("job-originating-user-name", IPP_TAG_NAME, "unknown");
    if ((dests || users) && !(dests && InDestList(dests, dest)) && !(users && InUserList(users, user))) continue;
    std::string job_text = dest + "-" + std::to_string(id);
    long long size = 1024LL * j.integer("job-k-octets", IPP_TAG_INTEGER, 0);
    std::string when = TimeText(time_t(j.integer("time-at-creation", IPP_TAG_INTEGER, 0)));
    if (s.ranking)
      std::printf("%3d %-21s %-13s %8lld %s\n", rank, job_text.c_str(), user.c_str(), size, when.c_str());
    else
      std::printf("%-23s %-13s %8lld   %s\n", job_text.c_str(), user.c_str(), size, when.c_str());
    if (s.long_level > 0) std::printf("\tqueued for %s\n", dest.c_str());
  }
  return 0;
}

// The id of the job printer `name` is printing, 0 when none.
int CurrentJob(state_t& s, const std::string& name) {
  ipp_t* request = vornNewRequest(IPP_GET_JOBS);
  AddRequested(request, {"job-id"});
  std::string uri = std::string("ipp://") + Http(s)->hostname + "/printers/" + name;
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", uri);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "limit", 1);
  ipp_status_t status;
  ipp_ptr response = Send(Http(s), request, "/", &status);
  if (!response) return 0;
  ipp_attribute_t* a = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
  return a && !a->values.empty() ? a->values[0].integer : 0;
}

// The state line and the long lines of one printer; `shown` is "NAME" or
// "NAME/INSTANCE".
void PrinterLines(const state_t& s, const std::string& shown, const std::string& name, const attr_group& p,
                  int state, int job) {
  std::string reason = p.text("printer-state-message", IPP_TAG_TEXT);
  if (reason.empty()) reason = "reason unknown";
  if (state == IPP_PRINTER_IDLE)
    std::printf("printer %s is idle.  enabled since Jan 01 00:00\n", shown.c_str());
  else if (state == IPP_PRINTER_PROCESSING)
    std::printf("printer %s now printing %s-%d.  enabled since Jan 01 00:00\n", shown.c_str(), name.c_str(), job);
  else if (state == IPP_PRINTER_STOPPED)
    std::printf("printer %s disabled since Jan 01 00:00 -\n\t%s\n", shown.c_str(), reason.c_str());
  if (s.long_level == 2) std::printf("\tForm mounted:\n\tContent types: any\n\tPrinter types: unknown\n");
  if (s.long_level >= 1) std::printf("\tDescription: %s\n", p.text("printer-info", IPP_TAG_TEXT).c_str());
  if (s.long_level != 2) return;
  std::printf("\tLocation: %s\n", p.text("printer-location", IPP_TAG_TEXT).c_str());
  bool remote = p.integer("printer-type", IPP_TAG_ENUM, 0) & 0x2;
  std::printf("\tConnection: %s\n", remote ? "remote" : "direct");
  if (!remote) {
    const char* root = std::getenv("VORN_SERVERROOT");
    std::printf("\tInterface: %s/ppd/%s.ppd\n", root && *root ? root : VORN_DEFAULT_SERVERROOT, name.c_str());
  }
  std::printf(
      "\tOn fault: no alert\n\tAfter fault: continue\n\tUsers allowed:\n\t\t(all)\n\tForms allowed:\n"
      "\t\t(none)\n\tBanner required\n\tCharset sets:\n\t\t(none)\n\tDefault pitch:\n\tDefault page size:\n"
      "\tDefault port settings:\n");
}

int ShowPrinters(state_t& s, const char* list) {
  ipp_ptr response = GetPrinters(s, {"printer-name", "printer-state", "printer-state-message", "printer-type",
                                     "printer-info", "printer-location"});
  if (!response) return 1;
  for (const attr_group& p : Groups(response.get(), IPP_TAG_PRINTER)) {
    std::string name = p.text("printer-name", IPP_TAG_NAME);
    if (name.empty() || !InDestList(list, name)) continue;
    int state = p.integer("printer-state", IPP_TAG_ENUM, IPP_PRINTER_IDLE);
    int job = state == IPP_PRINTER_PROCESSING ? CurrentJob(s, name) : 0;
    PrinterLines(s, name, name, p, state, job);
    for (const vorn_dest_t* d : Instances(s, name)) PrinterLines(s, name + "/" + d->instance, name, p, state, job);
  }
  return 0;
}

int ShowScheduler(state_t& s) {
  Http(s);  // a scheduler that cannot be reached has ended the command
  std::printf("scheduler is running\n");
  return 0;
}

// A report's list: attached to the flag, or the next argument when that does
// not begin with "-"; null when there is none (the whole report).
const char* ReportList(int argc, char** argv, int* i) {
  if (argv[*i][2]) return argv[*i] + 2;
  if (*i + 1 < argc && argv[*i + 1][0] != '-') return argv[++*i];
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_TIME, "");
  state_t s;
  int status = 0;
  bool any_report = false;

  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (arg[0] != '-' || !arg[1]) {
      // A destination list for a job report; "all" shows every destination
      // and is not checked.
      status |= ShowJobs(s, arg, nullptr);
      any_report = true;
      continue;
    }
    const char* list = nullptr;
    switch (arg[1]) {
      case 'D':
        s.long_level = 1;
        break;
      case 'E':
        RequireEncryption(s.http.get());
        break;
      case 'P':
        break;
      case 'R':
        s.ranking = true;
        break;
      case 'S':
      case 'f':
        if (!arg[2] && i + 1 < argc) i++;  // the value is not used
        break;
      case 'W': {
        const char* which = FlagValue(argc, argv, &i);
        if (!which || (std::strcmp(which, "completed") != 0 && std::strcmp(which, "not-completed") != 0)) {
          std::fprintf(stderr, "qstatus: Need \"completed\" or \"not-completed\" after -W!\n");
          return 1;
        }
        s.which = which;
        break;
      }
      case 'h':
        if (!SelectServer(argc, argv, &i, s.http)) {
          std::fprintf(stderr, "Error: need hostname after '-h' option!\n");
          return 1;
        }
        break;
      case 'l':
        s.long_level = 2;
        break;
      case 'a':
        list = ReportList(argc, argv, &i);
        CheckDestList(s, list);
        status |= ShowAccepting(s, list);
        any_report = true;
        break;
      case 'c':
        list = ReportList(argc, argv, &i);
        CheckDestList(s, list);
        status |= ShowClasses(s, list);
        any_report = true;
        break;
      case 'd':
        status |= ShowDefault(s);
        any_report = true;
        break;
      case 'o':
        list = ReportList(argc, argv, &i);
        CheckDestList(s, list);
        status |= ShowJobs(s, list ? list : "all", nullptr);
        any_report = true;
        break;
      case 'p':
        list = ReportList(argc, argv, &i);
        CheckDestList(s, list);
        status |= ShowPrinters(s, list);
        any_report = true;
        break;
      case 'r':
        status |= ShowScheduler(s);
        any_report = true;
        break;
      case 's':
        status |= ShowDefault(s);
        status |= ShowClasses(s, nullptr);
        status |= ShowDevices(s, nullptr);
        any_report = true;
        break;
      case 't':
        status |= ShowScheduler(s);
        status |= ShowDefault(s);
        status |= ShowClasses(s, nullptr);
        status |= ShowDevices(s, nullptr);
        status |= ShowAccepting(s, nullptr);
        status |= ShowPrinters(s, nullptr);
        status |= ShowJobs(s, nullptr, nullptr);
        any_report = true;
        break;
      case 'u':
        list = ReportList(argc, argv, &i);
        status |= ShowJobs(s, nullptr, list);
        any_report = true;
        break;
      case 'v':
        list = ReportList(argc, argv, &i);
        CheckDestList(s, list);
        status |= ShowDevices(s, list);
        any_report = true;
        break;
      default:
        std::fprintf(stderr, "qstatus: Unknown option '%c'!\n", arg[1]);
        return 1;
    }
  }
  // No arguments at all: the user's own unfinished jobs.
  if (argc == 1 && !any_report) status |= ShowJobs(s, nullptr, vornUser());
  return status;
}
