// Reading vornd.conf: the line parser, Include, and ReadConfiguration with
// the reload of the scheduler's state.
#include "scheduler/conf/conf.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include "scheduler/browse/browse.h"
#include "scheduler/buffile.h"
#include "scheduler/http/client.h"
#include "scheduler/conf/conf-private.h"
#include "scheduler/fdset.h"
#include "scheduler/jobs/job.h"
#include "scheduler/run/run.h"
#include "scheduler/http/listeners.h"
#include "scheduler/auth/location.h"
#include "scheduler/log.h"
#include "scheduler/loop.h"
#include "scheduler/printers/printers.h"
#include "scheduler/printers/catalogue.h"
#include "scheduler/server.h"
#include "scheduler/types/types.h"
#include "vorn/strings.h"

namespace {

constexpr size_t kLineSize = 2048;
constexpr size_t kMaxDirective = 255;
// Include files may include others; a file that includes itself stops here.
constexpr int kMaxIncludeDepth = 16;

bool Loaded = false;  // a first read is always a full one

bool parse_file(BufFile* file, conf_t& conf, int depth);

// False when the included file has a fatal error: that ends the whole read
// as it would in the main file. A file that cannot be opened is skipped.
bool include_file(const std::string& value, conf_t& conf, int depth) {
  std::string path = value[0] == '/' ? value : conf.settings.ServerRoot + "/" + value;
  if (depth >= kMaxIncludeDepth) {
    LogDiagnostic(L_ERROR, "Unable to include config file \"%s\" - %s", path.c_str(),
                  "too many nested Include lines");
    return true;
  }
  auto file = BufFileOpen(path.c_str(), "r");
  if (!file) {
    LogDiagnostic(L_ERROR, "Unable to include config file \"%s\" - %s", path.c_str(), std::strerror(errno));
    return true;
  }
  if (!parse_file(file.get(), conf, depth + 1)) return false;
  if (int e = BufFileError(file.get()))
    LogDiagnostic(L_ERROR, "Unable to include config file \"%s\" - %s", path.c_str(), std::strerror(e));
  return true;
}

// Returns false for the fatal errors of Location blocks.
bool parse_file(BufFile* file, conf_t& conf, int depth) {
  char line[kLineSize];
  std::string name, value;
  int linenum = 0;
  while (BufFileGets(file, line, sizeof(line))) {
    linenum++;
    if (!split_config_line(line, name, value)) continue;

    if (vorn::iequals(name, "Include")) {
      if (!value.empty() && !include_file(value, conf, depth)) return false;
    } else if (vorn::iequals(name, "<Location")) {
      std::string_view path = vorn::trim(value);
      if (path.empty() || path.back() != '>') {
        LogDiagnostic(L_ERROR, "ReadConfiguration() Syntax error on line %d.", linenum);
        return false;
      }
      path = vorn::trim(path.substr(0, path.size() - 1));
      linenum = read_location_block(file, path, linenum, conf);
      if (linenum == 0) return false;
    } else if (parse_special_directive(conf, name, value, linenum)) {
      // handled
    } else if (const conf_var_t* var = FindConfigurationVariable(name)) {
      SetConfigurationValue(conf.settings, *var, value, linenum);
    } else {
      LogDiagnostic(L_ERROR, "Unknown directive %s on line %d.", name.c_str(), linenum);
    }
  }
  return true;
}

void make_absolute(std::string& path) {
  if (!path.empty() && path[0] != '/') path = ServerRoot + "/" + path;
}

// Owner and mode of the files and directories the scheduler relies on.
// Nothing here may be changed by the filters (they run as User and Group
// and handle outside data), and no secret (the TLS key, passwd.md5) may be
// read by them. Failures are ignored: a directory may not exist yet, or the
// scheduler may not run as root.
void set_ownership() {
  uid_t owner = ServerFileOwner();
  auto fix = [](const std::string& path, uid_t uid, gid_t gid, mode_t mode) {
    if (::chown(path.c_str(), uid, gid) != 0) {
      // ignored, see above
    }
    ::chmod(path.c_str(), mode);
  };
  mode_t conf_mode = ConfigFileMode();
  fix(ServerCertificate, owner, Group, conf_mode & 0600);
  fix(ServerKey, owner, Group, conf_mode & 0600);
  fix(ServerRoot, owner, Group, 0755);
  fix(ServerRoot + "/certs", owner, Group, 0711);
  fix(ServerRoot + "/ppd", owner, Group, 0755);
  fix(ServerRoot + "/ssl", owner, Group, 0700);
  for (const char* name : {"/vornd.conf", "/classes.conf", "/printers.conf"})
    fix(ServerRoot + name, owner, Group, conf_mode);
  fix(ServerRoot + "/passwd.md5", owner, Group, 0600);
  fix(RequestRoot, owner, Group, 0710);
  // Only a TempDir inside RequestRoot is the scheduler's to open up.
  if (TempDir.size() > RequestRoot.size() && TempDir.compare(0, RequestRoot.size(), RequestRoot) == 0 &&
      TempDir[RequestRoot.size()] == '/')
    fix(TempDir, owner, Group, 01770);
}

// The filters run as Group: a group that is also a system group gives them
// the administrators' rights.
void warn_group_is_system_group() {
  for (size_t i = 0; i < SystemGroups.size() && i < size_t(std::max(NumSystemGroups, 1)); i++) {
    const group* g = ::getgrnam(SystemGroups[i].c_str());
    if (g && g->gr_gid == Group)
      LogDiagnostic(L_WARN,
                    "Group %s is also a SystemGroup - filters and CGI programs run with the rights of "
                    "administrators!",
                    SystemGroups[i].c_str());
  }
}

// Everything a full reload throws away, in this order.
void UnloadSchedulerState() {
  DiscardAllJobs();
  RemoveAllClasses();
  RemoveAllPrinters();
  DefaultPrinter = nullptr;
  Banners.clear();  // their types go with the type database
  FreeTypeDatabase(std::move(TypeDB));
  SupportedFormats.clear();
}

// Everything a full reload loads again, in this order.
void LoadSchedulerState() {
  TypeDB = LoadTypeDatabase(ServerRoot.c_str(), (ServerBin + "/filter").c_str());
  if (!TypeDB) {
    LogDiagnostic(L_ERROR, "Unable to load the type database from %s - %s", ServerRoot.c_str(),
                  std::strerror(errno));
    TypeDB = std::make_unique<TypeDatabase>();  // an empty one: nothing is typed
  }
  bool have_octet = false;
  for (const auto& t : TypeDB->types) {
    SupportedFormats.push_back(t->super + "/" + t->type);
    if (t->super == "application" && t->type == "octet-stream") have_octet = true;
  }
  if (!have_octet) SupportedFormats.push_back("application/octet-stream");
  LoadBanners((DataDir + "/banners").c_str());
  LoadAllPrinters();
  LoadAllClasses();
  InstallJobRunner();
  LoadAllJobs();
}

// Puts a read configuration in force, with the server stopped. The location
// records move with their list, so BrowseACL points into it.
void put_in_force(conf_t& conf) {
  Settings = std::move(conf.settings);
  Listeners = std::move(conf.listeners);
  Locations = std::move(conf.locations);
  Browsers = std::move(conf.browsers);
  Relays = std::move(conf.relays);
  Polled = std::move(conf.polled);
  BrowseACL = LocationByPath(kBrowseACL);
}

// A reload that cannot be done leaves everything as it was: the settings,
// locations and listeners in force, the printers and the jobs.
// At start-up there is nothing to keep and the scheduler ends: what was read
// of the file decides where its messages go, as it would have had it been
// good.
bool keep_configuration(conf_t& conf) {
  if (!Loaded) {
    Settings = std::move(conf.settings);
    ReleaseLogs();
    return false;
  }
  ReleaseLogs();
  LogDiagnostic(L_ERROR, "Unable to reload configuration file \"%s\" - keeping the configuration in force.",
                ConfigPath.c_str());
  ReloadPending = 0;
  ResumeListening();
  return false;
}

}  // namespace

uid_t ServerFileOwner() { return RunAsUser ? User : ::getuid(); }

mode_t ConfigFileMode() { return mode_t(ConfigFilePerm) & 07755; }

bool split_config_line(std::string_view line, std::string& name, std::string& value) {
  std::string_view s = vorn::trim(line);
  if (s.empty() || s.front() == '#') return false;
  size_t end = 0;
  while (end < s.size() && !vorn::isspace(s[end])) end++;
  name = vorn::cut(s.substr(0, end), kMaxDirective);
  value = vorn::trim(s.substr(end));
  return true;
}

bool read_config_file(BufFile* file, conf_t& conf) {
  return parse_file(file, conf, 0);
}

bool parse_configuration(const char* path, conf_t& conf) {
  conf.settings.PrintcapFormat = PrintcapFormat;
  SetDefaultConfiguration(conf.settings);
  auto file = BufFileOpen(path, "r");
  if (!file) {
    LogDiagnostic(L_ERROR, "Unable to open configuration file \"%s\" - %s", path, std::strerror(errno));
    return false;
  }
  if (!read_config_file(file.get(), conf)) return false;
  // A file that cannot be read must not pass for an empty one.
  if (int e = BufFileError(file.get())) {
    LogDiagnostic(L_ERROR, "Unable to read configuration file \"%s\" - %s", path, std::strerror(e));
    return false;
  }
  if (conf.settings.NumSystemGroups == 0) conf.settings.NumSystemGroups = 1;
  return true;
}

bool CheckConfigurationFile(const char* path) {
  conf_t conf;
  return parse_configuration(path, conf);
}

bool ReadConfiguration() {
  // Messages of the file reach the error log the file configures, once it
  // is in force; those of a file that is refused, the log in force.
  HoldLogs();
  conf_t conf;
  if (!parse_configuration(ConfigPath.c_str(), conf)) return keep_configuration(conf);

  if (Loaded) {
    // The new listeners open before the old ones close: an address that
    // cannot be had leaves the old set serving.
    PauseListening();
    listen_error_t error;
    if (OpenListeners(conf.listeners, Listeners, conf.settings.ListenBackLog, error) != 0) {
      ReleaseLogs();
      LogDiagnostic(L_ERROR, "StartListening: %s for %s - %s.", error.what,
                    sock_addr_message(error.address).c_str(), std::strerror(error.error));
      return keep_configuration(conf);
    }
  }

  StopServer();
  std::string old_server_root = ServerRoot, old_request_root = RequestRoot;
  put_in_force(conf);

  if (AccessLog == "syslog" || ErrorLog == "syslog" || PageLog == "syslog")
    ::openlog("vornd", LOG_PID | LOG_NDELAY | LOG_NOWAIT, LOG_LPR);
  ReleaseLogs();

  LogDiagnostic(L_INFO, "Loaded configuration file \"%s\"", ConfigPath.c_str());

  make_absolute(DocumentRoot);
  make_absolute(RequestRoot);
  make_absolute(ServerBin);
  make_absolute(ServerCertificate);
  make_absolute(ServerKey);

  set_ownership();
  warn_group_is_system_group();

  if (MaxClients > DescriptorLimit / 3 || MaxClients <= 0) {
    if (MaxClients > 0)
      LogDiagnostic(L_INFO, "MaxClients limited to 1/3 of the file descriptor limit (%d)...", DescriptorLimit);
    MaxClients = DescriptorLimit / 3;
  }
  AllocateClients(MaxClients);
  LogDiagnostic(L_INFO, "Configured for up to %d clients.", MaxClients);

  if (vorn::iequals(Classification, "none")) Classification.clear();
  if (!Classification.empty()) LogDiagnostic(L_INFO, "Security set to \"%s\"", Classification.c_str());

  if (MaxClientsPerHost <= 0 || MaxClientsPerHost > MaxClients) MaxClientsPerHost = MaxClients;
  LogDiagnostic(L_INFO, "Allowing up to %d client connections per host.", MaxClientsPerHost);

  if (Loaded && ReloadPending != 1 && old_server_root == ServerRoot && old_request_root == RequestRoot) {
    LogDiagnostic(L_INFO, "Partial reload complete.");
    ReloadPending = 0;
    StartServer();
    return true;
  }

  LogDiagnostic(L_INFO, "Full reload is required.");
  UnloadSchedulerState();
  LoadSchedulerState();
  Loaded = true;

  LogDiagnostic(L_INFO, "Full reload complete.");
  ReloadPending = 0;
  StartServer();
  return true;
}
