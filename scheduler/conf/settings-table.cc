// The settings table of vornd.conf: one row per simple directive, read by
// the defaults, the parser and the reload alike.
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include "scheduler/conf/conf.h"
#include "scheduler/log.h"
#include "scheduler/loop.h"
#include "vorn/client.h"
#include "vorn/paths.h"
#include "vorn/strings.h"

std::string AccessLog;
int AutoPurgeJobs;
int BrowseInterval;
int BrowsePort;
int BrowseShortNames;
int BrowseTimeout;
int Browsing;
std::string Classification;
int ClassifyOverride;
int ConfigFilePerm;
std::string DataDir;
std::string DefaultCharset;
std::string DefaultLanguage;
std::string DocumentRoot;
std::string ErrorLog;
int FaxRetryLimit;
int FaxRetryInterval;
int FileDevice;
int FilterLimit;
int FilterNice;
std::string FontPath;
int HideImplicitMembers;
int ImplicitClasses;
int ImplicitAnyClasses;
int KeepAliveTimeout;
int KeepAlive;
int ListenBackLog;
int LogFilePerm;
int MaxClients;
int MaxClientsPerHost;
int MaxCopies;
int MaxJobs;
int MaxJobsPerPrinter;
int MaxJobsPerUser;
int MaxLogSize;
int MaxPrinterHistory;
int MaxRequestSize;
std::string PageLog;
int PreserveJobFiles;
int PreserveJobHistory;
std::string Printcap;
std::string PrintcapGUI;
std::string RemoteRoot;
std::string RequestRoot;
std::string RIPCache;
int RunAsUser;
int RootCertDuration;
std::string ServerAdmin;
std::string ServerBin;
std::string ServerCertificate;
std::string ServerKey;
std::string ServerName;
std::string ServerRoot;
std::string TempDir;
int Timeout;

uid_t User = 1;
gid_t Group = 0;
std::vector<std::string> SystemGroups;
int NumSystemGroups = 0;
int HostNameLookups = HOSTNAME_OFF;
int LogLevel = L_ERROR;
int BrowseProtocols = BROWSE_VORN;
int PrintcapFormat = PRINTCAP_BSD;

namespace {

constexpr size_t kMaxHostName = 255;

std::string host_name() {
  char name[kMaxHostName + 1] = "";
  if (::gethostname(name, sizeof(name)) != 0) return "localhost";
  name[kMaxHostName] = '\0';
  return name;
}

std::string default_server_name() { return host_name(); }
std::string default_server_admin() { return "root@" + host_name(); }

std::string default_server_root() {
  size_t slash = ConfigPath.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return ConfigPath.substr(0, slash);
}

std::string default_temp_dir() {
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir && *tmpdir) return tmpdir;
  return VORN_DEFAULT_REQUESTS "/tmp";
}

std::string default_browse_port() { return std::to_string(ippPort()); }

// The language of the process locale ("de_DE" of "de_DE.UTF-8"); "en" when
// none is set or it is the C locale.
std::string default_language() {
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  for (const char* n : names) {
    const char* v = std::getenv(n);
    if (!v || !*v) continue;
    std::string lang(v);
    lang = lang.substr(0, lang.find_first_of(".@"));
    if (lang.empty() || lang == "C" || lang == "POSIX") return "en";
    return lang;
  }
  return "en";
}

using K = conf_kind;
constexpr conf_var_t Int(const char* n, int* v, const char* d) { return {n, K::integer, v, nullptr, d, nullptr}; }
constexpr conf_var_t Bool(const char* n, int* v, const char* d) { return {n, K::boolean, v, nullptr, d, nullptr}; }
constexpr conf_var_t Str(const char* n, std::string* v, const char* d) { return {n, K::string, nullptr, v, d, nullptr}; }
constexpr conf_var_t IntFn(const char* n, int* v, std::string (*f)()) { return {n, K::integer, v, nullptr, nullptr, f}; }
constexpr conf_var_t StrFn(const char* n, std::string* v, std::string (*f)()) { return {n, K::string, nullptr, v, nullptr, f}; }

const conf_var_t kTable[] = {
    Str("AccessLog", &AccessLog, VORN_DEFAULT_LOGDIR "/access_log"),
    Bool("AutoPurgeJobs", &AutoPurgeJobs, "false"),
    Int("BrowseInterval", &BrowseInterval, "30"),
    IntFn("BrowsePort", &BrowsePort, default_browse_port),
    Bool("BrowseShortNames", &BrowseShortNames, "true"),
    Int("BrowseTimeout", &BrowseTimeout, "300"),
    Bool("Browsing", &Browsing, "true"),
    Str("Classification", &Classification, ""),
    Bool("ClassifyOverride", &ClassifyOverride, "false"),
    Int("ConfigFilePerm", &ConfigFilePerm, "0640"),
    Str("DataDir", &DataDir, VORN_DEFAULT_DATADIR),
    Str("DefaultCharset", &DefaultCharset, "utf-8"),
    StrFn("DefaultLanguage", &DefaultLanguage, default_language),
    Str("DocumentRoot", &DocumentRoot, VORN_DEFAULT_DOCROOT),
    Str("ErrorLog", &ErrorLog, VORN_DEFAULT_LOGDIR "/error_log"),
    Int("FaxRetryLimit", &FaxRetryLimit, "5"),
    Int("FaxRetryInterval", &FaxRetryInterval, "300"),
    Bool("FileDevice", &FileDevice, "false"),
    Int("FilterLimit", &FilterLimit, "0"),
    Int("FilterNice", &FilterNice, "0"),
    Str("FontPath", &FontPath, VORN_DEFAULT_FONTPATH),
    Bool("HideImplicitMembers", &HideImplicitMembers, "true"),
    Bool("ImplicitClasses", &ImplicitClasses, "true"),
    Bool("ImplicitAnyClasses", &ImplicitAnyClasses, "false"),
    Int("KeepAliveTimeout", &KeepAliveTimeout, "60"),
    Bool("KeepAlive", &KeepAlive, "true"),
    Int("LimitRequestBody", &MaxRequestSize, "0"),
    Int("ListenBackLog", &ListenBackLog, "5"),
    Int("LogFilePerm", &LogFilePerm, "0644"),
    Int("MaxClients", &MaxClients, "100"),
    Int("MaxClientsPerHost", &MaxClientsPerHost, "0"),
    Int("MaxCopies", &MaxCopies, "100"),
    Int("MaxJobs", &MaxJobs, "500"),
    Int("MaxJobsPerPrinter", &MaxJobsPerPrinter, "0"),
    Int("MaxJobsPerUser", &MaxJobsPerUser, "0"),
    Int("MaxLogSize", &MaxLogSize, "1048576"),
    Int("MaxPrinterHistory", &MaxPrinterHistory, "10"),
    Int("MaxRequestSize", &MaxRequestSize, "0"),
    Str("PageLog", &PageLog, VORN_DEFAULT_LOGDIR "/page_log"),
    Bool("PreserveJobFiles", &PreserveJobFiles, "false"),
    Bool("PreserveJobHistory", &PreserveJobHistory, "true"),
    Str("Printcap", &Printcap, "/etc/printcap"),
    Str("PrintcapGUI", &PrintcapGUI, "/usr/bin/gdestopts"),
    Str("RemoteRoot", &RemoteRoot, "remroot"),
    Str("RequestRoot", &RequestRoot, VORN_DEFAULT_REQUESTS),
    Str("RIPCache", &RIPCache, "8m"),
    Bool("RunAsUser", &RunAsUser, "false"),
    Int("RootCertDuration", &RootCertDuration, "300"),
    StrFn("ServerAdmin", &ServerAdmin, default_server_admin),
    Str("ServerBin", &ServerBin, VORN_DEFAULT_SERVERBIN),
    Str("ServerCertificate", &ServerCertificate, "ssl/server.crt"),
    Str("ServerKey", &ServerKey, "ssl/server.key"),
    StrFn("ServerName", &ServerName, default_server_name),
    StrFn("ServerRoot", &ServerRoot, default_server_root),
    StrFn("TempDir", &TempDir, default_temp_dir),
    Int("Timeout", &Timeout, "300"),
};

// strtol() with base 0 (so 0640 is octal and 0x1F hexadecimal) and a
// one-letter multiplier; values beyond an int are held at its limits.
int integer_value(std::string_view value) {
  std::string v(value);
  char* end = nullptr;
  errno = 0;
  long long n = std::strtoll(v.c_str(), &end, 0);
  long long factor = 1;
  switch (vorn::tolower(end ? *end : '\0')) {
    case 'k': factor = 1024; break;
    case 'm': factor = 1048576; break;
    case 'g': factor = 1073741824; break;
    case 't': factor = 262144; break;
    default: break;
  }
  if (n > LLONG_MAX / factor) return INT_MAX;
  if (n < LLONG_MIN / factor) return INT_MIN;
  n *= factor;
  if (n > INT_MAX) return INT_MAX;
  if (n < INT_MIN) return INT_MIN;
  return int(n);
}

// 1 or 0, or -1 when `value` is not a boolean.
int boolean_value(std::string_view value) {
  for (const char* yes : {"true", "on", "enabled", "yes"})
    if (vorn::iequals(value, yes)) return 1;
  for (const char* no : {"false", "off", "disabled", "no", "0"})
    if (vorn::iequals(value, no)) return 0;
  return std::atoi(std::string(value).c_str()) != 0 ? 1 : -1;
}

void set_default(const conf_var_t& var) {
  std::string value = var.compute_default ? var.compute_default() : var.default_value;
  switch (var.kind) {
    case K::integer: *var.number = integer_value(value); break;
    case K::boolean: *var.number = boolean_value(value) == 1; break;
    case K::string: *var.text = value; break;
  }
}

}  // namespace

std::span<const conf_var_t> ConfigurationTable() { return kTable; }

const conf_var_t* FindConfigurationVariable(std::string_view name) {
  for (const conf_var_t& var : kTable)
    if (vorn::iequals(var.name, name)) return &var;
  return nullptr;
}

void SetConfigurationValue(const conf_var_t& var, std::string_view value, int linenum) {
  switch (var.kind) {
    case K::integer:
      *var.number = integer_value(value);
      break;
    case K::boolean: {
      int b = boolean_value(value);
      if (b < 0) {
        std::string v(value);
        LogDiagnostic(L_ERROR, "Unknown boolean value %s on line %d.", v.c_str(), linenum);
      } else {
        *var.number = b;
      }
      break;
    }
    case K::string:
      *var.text = value;
      break;
  }
}

void SetDefaultConfiguration() {
  for (const conf_var_t& var : kTable) set_default(var);

  const passwd* lp = ::getpwnam("lp");
  User = lp ? lp->pw_uid : 1;
  const group* sys = ::getgrnam("sys");
  Group = sys ? sys->gr_gid : 0;
  SystemGroups.clear();
  if (sys) {
    SystemGroups.push_back("sys");
  } else {
    const group* root = ::getgrgid(0);
    SystemGroups.push_back(root ? root->gr_name : "unknown");
  }
  NumSystemGroups = 0;
  HostNameLookups = HOSTNAME_OFF;
  LogLevel = L_ERROR;
  BrowseProtocols = BROWSE_VORN;
  // PrintcapFormat keeps its value across reloads.
}
