// The settings table of vornd.conf: one row per simple directive, read by
// the defaults, the parser and the reload alike.
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "scheduler/conf/conf.h"
#include "scheduler/log.h"
#include "scheduler/loop.h"
#include "vorn/client.h"
#include "vorn/paths.h"
#include "vorn/strings.h"

server_settings_t Settings;

namespace {

constexpr size_t kMaxHostName = 255;

// The listen queue defaults to the system's largest: a burst of connections
// beyond a short queue is dropped by the kernel and retried a second later.
#define VORN_TEXT_OF(x) #x
#define VORN_TEXT(x) VORN_TEXT_OF(x)
constexpr const char* kDefaultBackLog = VORN_TEXT(SOMAXCONN);

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
using S = server_settings_t;
using IntMember = int S::*;
using StrMember = std::string S::*;
constexpr conf_var_t Int(const char* n, IntMember v, const char* d) { return {n, K::integer, v, nullptr, d, nullptr}; }
constexpr conf_var_t Bool(const char* n, IntMember v, const char* d) { return {n, K::boolean, v, nullptr, d, nullptr}; }
constexpr conf_var_t Str(const char* n, StrMember v, const char* d) { return {n, K::string, nullptr, v, d, nullptr}; }
constexpr conf_var_t IntFn(const char* n, IntMember v, std::string (*f)()) { return {n, K::integer, v, nullptr, nullptr, f}; }
constexpr conf_var_t StrFn(const char* n, StrMember v, std::string (*f)()) { return {n, K::string, nullptr, v, nullptr, f}; }

const conf_var_t kTable[] = {
    Str("AccessLog", &S::AccessLog, VORN_DEFAULT_LOGDIR "/access_log"),
    Bool("AutoPurgeJobs", &S::AutoPurgeJobs, "false"),
    Int("BrowseInterval", &S::BrowseInterval, "30"),
    IntFn("BrowsePort", &S::BrowsePort, default_browse_port),
    Bool("BrowseShortNames", &S::BrowseShortNames, "true"),
    Int("BrowseTimeout", &S::BrowseTimeout, "300"),
    Bool("Browsing", &S::Browsing, "true"),
    Str("Classification", &S::Classification, ""),
    Bool("ClassifyOverride", &S::ClassifyOverride, "false"),
    Int("ConfigFilePerm", &S::ConfigFilePerm, "0640"),
    Str("DataDir", &S::DataDir, VORN_DEFAULT_DATADIR),
    Str("DefaultCharset", &S::DefaultCharset, "utf-8"),
    StrFn("DefaultLanguage", &S::DefaultLanguage, default_language),
    Str("DocumentRoot", &S::DocumentRoot, VORN_DEFAULT_DOCROOT),
    Str("ErrorLog", &S::ErrorLog, VORN_DEFAULT_LOGDIR "/error_log"),
    Int("FaxRetryLimit", &S::FaxRetryLimit, "5"),
    Int("FaxRetryInterval", &S::FaxRetryInterval, "300"),
    Bool("FileDevice", &S::FileDevice, "false"),
    Int("FilterLimit", &S::FilterLimit, "0"),
    Int("FilterNice", &S::FilterNice, "0"),
    Str("FontPath", &S::FontPath, VORN_DEFAULT_FONTPATH),
    Bool("HideImplicitMembers", &S::HideImplicitMembers, "true"),
    Bool("ImplicitClasses", &S::ImplicitClasses, "true"),
    Bool("ImplicitAnyClasses", &S::ImplicitAnyClasses, "false"),
    Int("KeepAliveTimeout", &S::KeepAliveTimeout, "60"),
    Bool("KeepAlive", &S::KeepAlive, "true"),
    Int("LimitRequestBody", &S::MaxRequestSize, "0"),
    Int("ListenBackLog", &S::ListenBackLog, kDefaultBackLog),
    Int("LogFilePerm", &S::LogFilePerm, "0644"),
    Int("MaxClients", &S::MaxClients, "100"),
    Int("MaxClientsPerHost", &S::MaxClientsPerHost, "0"),
    Int("MaxCopies", &S::MaxCopies, "100"),
    Int("MaxJobs", &S::MaxJobs, "500"),
    Int("MaxJobsPerPrinter", &S::MaxJobsPerPrinter, "0"),
    Int("MaxJobsPerUser", &S::MaxJobsPerUser, "0"),
    Int("MaxLogSize", &S::MaxLogSize, "1048576"),
    Int("MaxPrinterHistory", &S::MaxPrinterHistory, "10"),
    Int("MaxRequestSize", &S::MaxRequestSize, "0"),
    Str("PageLog", &S::PageLog, VORN_DEFAULT_LOGDIR "/page_log"),
    Str("PAMService", &S::PAMService, "vorn"),
    Bool("PreserveJobFiles", &S::PreserveJobFiles, "false"),
    Bool("PreserveJobHistory", &S::PreserveJobHistory, "true"),
    Str("Printcap", &S::Printcap, "/etc/printcap"),
    Str("PrintcapGUI", &S::PrintcapGUI, "/usr/bin/gdestopts"),
    Str("RemoteRoot", &S::RemoteRoot, "remroot"),
    Str("RequestRoot", &S::RequestRoot, VORN_DEFAULT_REQUESTS),
    Str("RIPCache", &S::RIPCache, "8m"),
    Bool("RunAsUser", &S::RunAsUser, "false"),
    Int("RootCertDuration", &S::RootCertDuration, "300"),
    StrFn("ServerAdmin", &S::ServerAdmin, default_server_admin),
    Str("ServerBin", &S::ServerBin, VORN_DEFAULT_SERVERBIN),
    Str("ServerCertificate", &S::ServerCertificate, "ssl/server.crt"),
    Str("ServerKey", &S::ServerKey, "ssl/server.key"),
    StrFn("ServerName", &S::ServerName, default_server_name),
    StrFn("ServerRoot", &S::ServerRoot, default_server_root),
    StrFn("TempDir", &S::TempDir, default_temp_dir),
    Int("Timeout", &S::Timeout, "300"),
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

void set_default(server_settings_t& settings, const conf_var_t& var) {
  std::string value = var.compute_default ? var.compute_default() : var.default_value;
  switch (var.kind) {
    case K::integer: settings.*var.number = integer_value(value); break;
    case K::boolean: settings.*var.number = boolean_value(value) == 1; break;
    case K::string: settings.*var.text = value; break;
  }
}

}  // namespace

std::span<const conf_var_t> ConfigurationTable() { return kTable; }

const conf_var_t* FindConfigurationVariable(std::string_view name) {
  for (const conf_var_t& var : kTable)
    if (vorn::iequals(var.name, name)) return &var;
  return nullptr;
}

void SetConfigurationValue(server_settings_t& settings, const conf_var_t& var, std::string_view value,
                           int linenum) {
  switch (var.kind) {
    case K::integer:
      settings.*var.number = integer_value(value);
      break;
    case K::boolean: {
      int b = boolean_value(value);
      if (b < 0) {
        std::string v(value);
        LogDiagnostic(L_ERROR, "Unknown boolean value %s on line %d.", v.c_str(), linenum);
      } else {
        settings.*var.number = b;
      }
      break;
    }
    case K::string:
      settings.*var.text = value;
      break;
  }
}

void SetDefaultConfiguration(server_settings_t& settings) {
  for (const conf_var_t& var : kTable) set_default(settings, var);

  const passwd* lp = ::getpwnam("lp");
  settings.User = lp ? lp->pw_uid : 1;
  const group* sys = ::getgrnam("sys");
  settings.Group = sys ? sys->gr_gid : 0;
  settings.SystemGroups.clear();
  if (sys) {
    settings.SystemGroups.push_back("sys");
  } else {
    const group* root = ::getgrgid(0);
    settings.SystemGroups.push_back(root ? root->gr_name : "unknown");
  }
  settings.NumSystemGroups = 0;
  settings.HostNameLookups = HOSTNAME_OFF;
  settings.LogLevel = L_ERROR;
  settings.BrowseProtocols = BROWSE_VORN;
  // PrintcapFormat keeps its value across reloads.
}

void SetDefaultConfiguration() { SetDefaultConfiguration(Settings); }
