// Server settings of vornd.conf and the reading of the configuration.
//
// A configuration is a value: every setting lives in one server_settings_t,
// and the scheduler reads the one in force, Settings, through the names
// below (the directive names). ReadConfiguration parses vornd.conf into a
// fresh value and puts it in force only when the whole file is good and its
// listeners open, so a bad reload leaves the running configuration alone.
//
// Every simple directive is one row of the settings table (name, kind,
// default, member); resetting to defaults, parsing and the reload all go
// through it. Directives with a syntax of their own (listeners, browse lists,
// Location blocks, User/Group, ...) are parsed by their own functions.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "scheduler/log.h"

constexpr int kMaxSystemGroups = 32;

enum { HOSTNAME_OFF = 0, HOSTNAME_ON = 1, HOSTNAME_DOUBLE = 2 };
enum { BROWSE_VORN = 1, BROWSE_SLP = 2, BROWSE_LDAP = 4, BROWSE_ALL = 7 };
enum { PRINTCAP_BSD = 0, PRINTCAP_SOLARIS = 1 };

struct server_settings_t {
  // ---- Settings of the table (directive = member name) ----
  std::string AccessLog;
  int AutoPurgeJobs = 0;
  int BrowseInterval = 0;
  int BrowsePort = 0;
  int BrowseShortNames = 0;
  int BrowseTimeout = 0;
  int Browsing = 0;
  std::string Classification;  // empty when unset
  int ClassifyOverride = 0;
  int ConfigFilePerm = 0;
  std::string DataDir;
  std::string DefaultCharset;
  std::string DefaultLanguage;
  std::string DocumentRoot;
  std::string ErrorLog;
  int FaxRetryLimit = 0;
  int FaxRetryInterval = 0;
  int FileDevice = 0;
  int FilterLimit = 0;
  int FilterNice = 0;
  std::string FontPath;
  int HideImplicitMembers = 0;
  int ImplicitClasses = 0;
  int ImplicitAnyClasses = 0;
  int KeepAliveTimeout = 0;
  int KeepAlive = 0;
  int ListenBackLog = 0;
  int LogFilePerm = 0;
  int MaxClients = 0;
  int MaxClientsPerHost = 0;
  int MaxCopies = 0;
  int MaxJobs = 0;
  int MaxJobsPerPrinter = 0;
  int MaxJobsPerUser = 0;
  int MaxLogSize = 0;
  int MaxPrinterHistory = 0;
  int MaxRequestSize = 0;  // also set by LimitRequestBody
  std::string PageLog;
  std::string PAMService;  // PAM service of Basic passwords
  int PreserveJobFiles = 0;
  int PreserveJobHistory = 0;
  std::string Printcap;
  std::string PrintcapGUI;
  std::string RemoteRoot;
  std::string RequestRoot;
  std::string RIPCache;
  int RunAsUser = 0;
  int RootCertDuration = 0;
  std::string ServerAdmin;
  std::string ServerBin;
  std::string ServerCertificate;
  std::string ServerKey;
  std::string ServerName;
  std::string ServerRoot;
  std::string TempDir;
  int Timeout = 0;

  // ---- Settings with their own syntax ----
  uid_t User = 1;                       // "lp", or 1 when there is none
  gid_t Group = 0;                      // "sys", or 0 when there is none
  std::vector<std::string> SystemGroups;  // at most kMaxSystemGroups names
  int NumSystemGroups = 0;              // names configured (1 when none was)
  int HostNameLookups = HOSTNAME_OFF;
  int LogLevel = L_ERROR;
  int BrowseProtocols = BROWSE_VORN;
  int PrintcapFormat = PRINTCAP_BSD;    // not reset by a reload
};

// The configuration in force. A reload replaces it whole.
extern server_settings_t Settings;

// The settings in force under their own names, as the rest of the scheduler
// reads and (in tests) sets them. Each is the member of Settings of that
// name, so it follows every reload.
inline std::string& AccessLog = Settings.AccessLog;
inline int& AutoPurgeJobs = Settings.AutoPurgeJobs;
inline int& BrowseInterval = Settings.BrowseInterval;
inline int& BrowsePort = Settings.BrowsePort;
inline int& BrowseShortNames = Settings.BrowseShortNames;
inline int& BrowseTimeout = Settings.BrowseTimeout;
inline int& Browsing = Settings.Browsing;
inline std::string& Classification = Settings.Classification;
inline int& ClassifyOverride = Settings.ClassifyOverride;
inline int& ConfigFilePerm = Settings.ConfigFilePerm;
inline std::string& DataDir = Settings.DataDir;
inline std::string& DefaultCharset = Settings.DefaultCharset;
inline std::string& DefaultLanguage = Settings.DefaultLanguage;
inline std::string& DocumentRoot = Settings.DocumentRoot;
inline std::string& ErrorLog = Settings.ErrorLog;
inline int& FaxRetryLimit = Settings.FaxRetryLimit;
inline int& FaxRetryInterval = Settings.FaxRetryInterval;
inline int& FileDevice = Settings.FileDevice;
inline int& FilterLimit = Settings.FilterLimit;
inline int& FilterNice = Settings.FilterNice;
inline std::string& FontPath = Settings.FontPath;
inline int& HideImplicitMembers = Settings.HideImplicitMembers;
inline int& ImplicitClasses = Settings.ImplicitClasses;
inline int& ImplicitAnyClasses = Settings.ImplicitAnyClasses;
inline int& KeepAliveTimeout = Settings.KeepAliveTimeout;
inline int& KeepAlive = Settings.KeepAlive;
inline int& ListenBackLog = Settings.ListenBackLog;
inline int& LogFilePerm = Settings.LogFilePerm;
inline int& MaxClients = Settings.MaxClients;
inline int& MaxClientsPerHost = Settings.MaxClientsPerHost;
inline int& MaxCopies = Settings.MaxCopies;
inline int& MaxJobs = Settings.MaxJobs;
inline int& MaxJobsPerPrinter = Settings.MaxJobsPerPrinter;
inline int& MaxJobsPerUser = Settings.MaxJobsPerUser;
inline int& MaxLogSize = Settings.MaxLogSize;
inline int& MaxPrinterHistory = Settings.MaxPrinterHistory;
inline int& MaxRequestSize = Settings.MaxRequestSize;
inline std::string& PageLog = Settings.PageLog;
inline std::string& PAMService = Settings.PAMService;
inline int& PreserveJobFiles = Settings.PreserveJobFiles;
inline int& PreserveJobHistory = Settings.PreserveJobHistory;
inline std::string& Printcap = Settings.Printcap;
inline std::string& PrintcapGUI = Settings.PrintcapGUI;
inline std::string& RemoteRoot = Settings.RemoteRoot;
inline std::string& RequestRoot = Settings.RequestRoot;
inline std::string& RIPCache = Settings.RIPCache;
inline int& RunAsUser = Settings.RunAsUser;
inline int& RootCertDuration = Settings.RootCertDuration;
inline std::string& ServerAdmin = Settings.ServerAdmin;
inline std::string& ServerBin = Settings.ServerBin;
inline std::string& ServerCertificate = Settings.ServerCertificate;
inline std::string& ServerKey = Settings.ServerKey;
inline std::string& ServerName = Settings.ServerName;
inline std::string& ServerRoot = Settings.ServerRoot;
inline std::string& TempDir = Settings.TempDir;
inline int& Timeout = Settings.Timeout;
inline uid_t& User = Settings.User;
inline gid_t& Group = Settings.Group;
inline std::vector<std::string>& SystemGroups = Settings.SystemGroups;
inline int& NumSystemGroups = Settings.NumSystemGroups;
inline int& HostNameLookups = Settings.HostNameLookups;
inline int& LogLevel = Settings.LogLevel;
inline int& BrowseProtocols = Settings.BrowseProtocols;
inline int& PrintcapFormat = Settings.PrintcapFormat;

// Owner of the files the scheduler writes and of its directories: its own
// user (root), or User when it runs as that user (RunAsUser).
uid_t ServerFileOwner();
// ConfigFilePerm without write permission for the group and others: the
// filters run as Group and must not change the configuration.
mode_t ConfigFileMode();

// ---- The settings table ----
enum class conf_kind { integer, boolean, string };

struct conf_var_t {
  const char* name;
  conf_kind kind;
  int server_settings_t::*number;          // integer and boolean settings
  std::string server_settings_t::*text;    // string settings
  const char* default_value;   // in vornd.conf syntax; nullptr when computed
  std::string (*compute_default)();  // computed default (ServerName, ...)
};

// The 57 rows, in table order (LimitRequestBody and MaxRequestSize share a
// member). The view is valid for the life of the process.
std::span<const conf_var_t> ConfigurationTable();

// Row for `name` (case-insensitive), or nullptr.
const conf_var_t* FindConfigurationVariable(std::string_view name);

// Sets every setting of `settings` to its default, also those outside the
// table (User, Group, the system groups, HostNameLookups, LogLevel,
// BrowseProtocols); PrintcapFormat keeps its value. Without an argument, the
// settings in force.
void SetDefaultConfiguration(server_settings_t& settings);
void SetDefaultConfiguration();

// Converts `value` for a table row and stores it in `settings`. Logs
// "Unknown boolean value %s on line %d." and keeps the setting when a
// boolean is not one.
void SetConfigurationValue(server_settings_t& settings, const conf_var_t& var, std::string_view value,
                           int linenum);

// Reads ConfigPath (scheduler/loop.h) into a fresh configuration and puts it
// in force: stops the server, swaps in the settings, locations, browse lists
// and listeners, derives paths and modes, sizes the client table and
// restarts the server (with a full reload of the scheduler's state when
// requested or when ServerRoot or RequestRoot changed).
//
// Returns false when the file cannot be read or is malformed, and on a
// reload also when a new listener cannot be opened: the configuration in
// force then stays, with its listeners, locations, printers and jobs; the reload
// request is dropped and listening resumes. At the first read a listener
// that cannot be opened ends the process (StartListening).
bool ReadConfiguration();

// Parses `path` as vornd.conf would be at the next reload (Include files
// and defaults relative to the ServerRoot it names) without putting
// anything in force. False when ReadConfiguration would refuse it: it cannot
// be read, or it has a fatal syntax error (logged with its line).
bool CheckConfigurationFile(const char* path);
