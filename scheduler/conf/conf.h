// Server settings of vornd.conf and the reading of the configuration.
//
// Every simple directive is one row of the settings table (name, kind,
// default, target variable); resetting to defaults, parsing and the reload
// all go through it. Directives with a syntax of their own (listeners,
// browse lists, Location blocks, User/Group, ...) are parsed by their own
// functions. The variables below are process-wide and keep the directive
// names; they hold their values from one ReadConfiguration to the next.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

struct BufFile;

// ---- Settings of the table (directive = variable name) ----
extern std::string AccessLog;
extern int AutoPurgeJobs;
extern int BrowseInterval;
extern int BrowsePort;
extern int BrowseShortNames;
extern int BrowseTimeout;
extern int Browsing;
extern std::string Classification;  // empty when unset
extern int ClassifyOverride;
extern int ConfigFilePerm;
extern std::string DataDir;
extern std::string DefaultCharset;
extern std::string DefaultLanguage;
extern std::string DocumentRoot;
extern std::string ErrorLog;
extern int FaxRetryLimit;
extern int FaxRetryInterval;
extern int FileDevice;
extern int FilterLimit;
extern int FilterNice;
extern std::string FontPath;
extern int HideImplicitMembers;
extern int ImplicitClasses;
extern int ImplicitAnyClasses;
extern int KeepAliveTimeout;
extern int KeepAlive;
extern int ListenBackLog;
extern int LogFilePerm;
extern int MaxClients;
extern int MaxClientsPerHost;
extern int MaxCopies;
extern int MaxJobs;
extern int MaxJobsPerPrinter;
extern int MaxJobsPerUser;
extern int MaxLogSize;
extern int MaxPrinterHistory;
extern int MaxRequestSize;  // also set by LimitRequestBody
extern std::string PageLog;
extern int PreserveJobFiles;
extern int PreserveJobHistory;
extern std::string Printcap;
extern std::string PrintcapGUI;
extern std::string RemoteRoot;
extern std::string RequestRoot;
extern std::string RIPCache;
extern int RunAsUser;
extern int RootCertDuration;
extern std::string ServerAdmin;
extern std::string ServerBin;
extern std::string ServerCertificate;
extern std::string ServerKey;
extern std::string ServerName;
extern std::string ServerRoot;
extern std::string TempDir;
extern int Timeout;

// ---- Settings with their own syntax ----
extern uid_t User;                       // "lp", or 1 when there is none
extern gid_t Group;                      // "sys", or 0 when there is none
constexpr int kMaxSystemGroups = 32;
extern std::vector<std::string> SystemGroups;  // at most kMaxSystemGroups names
extern int NumSystemGroups;              // names configured (1 when none was)

enum { HOSTNAME_OFF = 0, HOSTNAME_ON = 1, HOSTNAME_DOUBLE = 2 };
extern int HostNameLookups;

extern int LogLevel;  // a log_level of scheduler/log.h; default L_ERROR

enum { BROWSE_VORN = 1, BROWSE_SLP = 2, BROWSE_LDAP = 4, BROWSE_ALL = 7 };
extern int BrowseProtocols;

enum { PRINTCAP_BSD = 0, PRINTCAP_SOLARIS = 1 };
extern int PrintcapFormat;  // not reset by a reload

// ---- The settings table ----
enum class conf_kind { integer, boolean, string };

struct conf_var_t {
  const char* name;
  conf_kind kind;
  int* number;                 // integer and boolean settings
  std::string* text;           // string settings
  const char* default_value;   // in vornd.conf syntax; nullptr when computed
  std::string (*compute_default)();  // computed default (ServerName, ...)
};

// The 56 rows, in table order (LimitRequestBody and MaxRequestSize share a
// variable). The view is valid for the life of the process.
std::span<const conf_var_t> ConfigurationTable();

// Row for `name` (case-insensitive), or nullptr.
const conf_var_t* FindConfigurationVariable(std::string_view name);

// Sets every setting to its default, also those outside the table (User,
// Group, the system groups, HostNameLookups, LogLevel, BrowseProtocols);
// PrintcapFormat keeps its value.
void SetDefaultConfiguration();

// Converts `value` for a table row and stores it. Logs "Unknown boolean
// value %s on line %d." and keeps the setting when a boolean is not one.
void SetConfigurationValue(const conf_var_t& var, std::string_view value, int linenum);

// Reads ConfigPath (scheduler/loop.h) and applies it: stops the server,
// resets and parses the settings, derives paths and modes, sizes the client
// table and restarts the server (with a full reload of the scheduler's state
// when requested or when ServerRoot or RequestRoot changed). Returns false
// when the file cannot be opened or is malformed.
bool ReadConfiguration();

// Parses an open configuration file line by line (Include files too).
// Returns false only on fatal syntax errors (a "<Location" line without ">"
// or a Location block without its end) and when the file cannot be read.
bool read_config_file(BufFile* file);

// Parses the body of "<Location path>" up to "</Location>"; `linenum` is the
// number of the "<Location" line. Returns the number of the "</Location>"
// line, or 0 when the file ends first.
int read_location_block(BufFile* file, std::string_view path, int linenum);

// The parsing of the directives with their own syntax, by directive name
// (case-insensitive); false when `name` is not one of them.
bool parse_special_directive(std::string_view name, std::string_view value, int linenum);
