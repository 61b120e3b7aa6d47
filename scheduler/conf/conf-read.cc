// Reading vornd.conf: the line parser, Include, and ReadConfiguration with
// the reload of the scheduler's state.
#include "scheduler/conf/conf.h"

#include <cerrno>
#include <cstring>
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
#include "scheduler/server.h"
#include "scheduler/types/types.h"
#include "vorn/strings.h"

namespace {

constexpr size_t kLineSize = 2048;
constexpr size_t kMaxDirective = 255;
// Include files may include others; a file that includes itself stops here.
constexpr int kMaxIncludeDepth = 16;

bool Loaded = false;  // a first read is always a full one

bool parse_file(BufFile* file, int depth);

// False when the included file has a fatal error: that ends the whole read
// as it would in the main file. A file that cannot be opened is skipped.
bool include_file(const std::string& value, int depth) {
  std::string path = value[0] == '/' ? value : ServerRoot + "/" + value;
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
  if (!parse_file(file.get(), depth + 1)) return false;
  if (int e = BufFileError(file.get()))
    LogDiagnostic(L_ERROR, "Unable to include config file \"%s\" - %s", path.c_str(), std::strerror(e));
  return true;
}

// Returns false for the fatal errors of Location blocks.
bool parse_file(BufFile* file, int depth) {
  char line[kLineSize];
  std::string name, value;
  int linenum = 0;
  while (BufFileGets(file, line, sizeof(line))) {
    linenum++;
    if (!split_config_line(line, name, value)) continue;

    if (vorn::iequals(name, "Include")) {
      if (!value.empty() && !include_file(value, depth)) return false;
    } else if (vorn::iequals(name, "<Location")) {
      std::string_view path = vorn::trim(value);
      if (path.empty() || path.back() != '>') {
        LogDiagnostic(L_ERROR, "ReadConfiguration() Syntax error on line %d.", linenum);
        return false;
      }
      path = vorn::trim(path.substr(0, path.size() - 1));
      linenum = read_location_block(file, path, linenum);
      if (linenum == 0) return false;
    } else if (parse_special_directive(name, value, linenum)) {
      // handled
    } else if (const conf_var_t* var = FindConfigurationVariable(name)) {
      SetConfigurationValue(*var, value, linenum);
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
// Failures are ignored: a directory may not exist yet, or the scheduler may
// not run as root.
void set_ownership() {
  uid_t owner = RunAsUser ? User : ::getuid();
  auto fix = [](const std::string& path, uid_t uid, gid_t gid, mode_t mode) {
    if (::chown(path.c_str(), uid, gid) != 0) {
      // ignored, see above
    }
    ::chmod(path.c_str(), mode);
  };
  mode_t conf_mode = mode_t(ConfigFilePerm) & 07777;
  fix(ServerCertificate, owner, Group, conf_mode);
  fix(ServerKey, owner, Group, conf_mode);
  fix(ServerRoot, owner, Group, 0775);
  fix(ServerRoot + "/certs", owner, Group, 0711);
  fix(ServerRoot + "/ppd", owner, Group, 0755);
  fix(ServerRoot + "/ssl", owner, Group, 0700);
  for (const char* name : {"/vornd.conf", "/classes.conf", "/printers.conf"})
    fix(ServerRoot + name, owner, Group, conf_mode);
  fix(ServerRoot + "/passwd.md5", User, Group, 0600);
  fix(RequestRoot, owner, Group, 0710);
  // Only a TempDir inside RequestRoot is the scheduler's to open up.
  if (TempDir.size() > RequestRoot.size() && TempDir.compare(0, RequestRoot.size(), RequestRoot) == 0 &&
      TempDir[RequestRoot.size()] == '/')
    fix(TempDir, owner, Group, 01770);
}

// Everything a full reload throws away, in this order, as the subsystems
// holding it arrive.
void UnloadSchedulerState() {
  DiscardAllJobs();                      // job queue
  // RemoveAllClasses();                    classes
  RemoveAllPrinters();                   // printer registry
  DefaultPrinter = nullptr;
  // the device list                        device discovery
  // the driver catalogue                   driver catalogue
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
  // LoadBanners(DataDir + "/banners");    banners
  LoadAllPrinters();                     // printer registry
  // LoadAllClasses();                      classes
  // LoadDevices(ServerBin + "/backend");   device discovery
  // LoadPPDs(DataDir + "/model");          driver catalogue
  InstallJobRunner();                    // running jobs
  LoadAllJobs();                         // job queue
}

}  // namespace

bool split_config_line(std::string_view line, std::string& name, std::string& value) {
  std::string_view s = vorn::trim(line);
  if (s.empty() || s.front() == '#') return false;
  size_t end = 0;
  while (end < s.size() && !vorn::isspace(s[end])) end++;
  name = vorn::cut(s.substr(0, end), kMaxDirective);
  value = vorn::trim(s.substr(end));
  return true;
}

bool read_config_file(BufFile* file) {
  if (!parse_file(file, 0)) return false;
  // A file that cannot be read must not pass for an empty one.
  if (int e = BufFileError(file)) {
    LogDiagnostic(L_ERROR, "Unable to read configuration file \"%s\" - %s", ConfigPath.c_str(),
                  std::strerror(e));
    return false;
  }
  return true;
}

bool ReadConfiguration() {
  StopServer();
  std::string old_server_root = ServerRoot, old_request_root = RequestRoot;

  ClearLocations();
  ClearBrowseLists();
  Listeners.clear();

  // Messages of the file reach the error log the file configures.
  HoldLogs();
  SetDefaultConfiguration();

  auto file = BufFileOpen(ConfigPath.c_str(), "r");
  if (!file) {
    LogDiagnostic(L_ERROR, "Unable to open configuration file \"%s\" - %s", ConfigPath.c_str(),
                  std::strerror(errno));
    ReleaseLogs();
    return false;
  }
  bool parsed = read_config_file(file.get());
  BufFileClose(std::move(file));
  if (!parsed) {
    ReleaseLogs();
    return false;
  }

  if (NumSystemGroups == 0) NumSystemGroups = 1;
  BrowseACL = LocationByPath(kBrowseACL);

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
