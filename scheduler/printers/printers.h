// The destination registry: every printer and class the scheduler knows
// (local ones, those learned from other servers and implicit classes), the
// default destination, printer states with their history, user lists and
// quota records, printers.conf, the printcap file, and each destination's
// IPP attribute set built from its PPD file (SetPrinterAttrs).
//
// Ownership: the registry owns its records. They are created by AddPrinter
// and freed only by RemovePrinter and RemoveAllPrinters; a printer_t*
// stays valid until then. Everything runs in the scheduler's one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vorn/ipp.h"

struct TypeRecord;
struct job_t;

// printer-type bits. Only PRINTER_STORED_MASK is ever stored or sent.
enum : uint32_t {
  PRINTER_CLASS = 0x1,
  PRINTER_REMOTE = 0x2,
  PRINTER_BW = 0x4,
  PRINTER_COLOR = 0x8,
  PRINTER_DUPLEX = 0x10,
  PRINTER_STAPLE = 0x20,
  PRINTER_COPIES = 0x40,
  PRINTER_COLLATE = 0x80,
  PRINTER_PUNCH = 0x100,  // only from other servers
  PRINTER_COVER = 0x200,  // only from other servers
  PRINTER_BIND = 0x400,
  PRINTER_SORT = 0x800,  // only from other servers
  PRINTER_SMALL = 0x1000,
  PRINTER_MEDIUM = 0x2000,
  PRINTER_LARGE = 0x4000,
  PRINTER_VARIABLE = 0x8000,
  PRINTER_IMPLICIT = 0x10000,
  PRINTER_FAX = 0x40000,
  PRINTER_OPTIONS = 0xfffc,  // the capability bits 0x4 .. 0x8000
  PRINTER_STORED_MASK = 0x5ffff,
};

// Field limits; longer values are cut to them.
constexpr size_t kMaxPrinterName = 255;     // name, hostname
constexpr size_t kMaxPrinterText = 255;     // location, info, make_model, banner names
constexpr size_t kMaxPrinterURI = 1023;     // uri, device_uri
constexpr size_t kMaxScheme = 254;          // scheme of device_uri, the backend's name
constexpr size_t kMaxStateMessage = 1023;   // state_message
constexpr int kMaxStateReasons = 16;        // entries of reasons
constexpr size_t kMaxStateReason = 254;     // one reason keyword
constexpr size_t kMaxUserRule = 255;        // one entry of the user list
constexpr size_t kMaxQuotaUser = 32;        // quota_t::username

// Pages and kilobytes one user printed on one destination in the current
// quota period.
struct quota_t {
  std::string username;  // at most kMaxQuotaUser
  time_t next_update = 0;  // end of the current period, 0 = not yet known
  int page_count = 0;
  int k_count = 0;
};

struct printer_t {
  printer_t() = default;
  printer_t(const printer_t&) = delete;
  printer_t& operator=(const printer_t&) = delete;

  printer_t* next = nullptr;  // registry link, in name order
  std::string uri;            // printer-uri-supported
  std::string hostname;       // ServerName for local destinations
  std::string name;           // unique in the registry without regard to case
  std::string location;
  std::string make_model;
  std::string info;
  int accepting = 0;
  int state = IPP_PRINTER_STOPPED;
  std::string state_message;         // at most kMaxStateMessage
  std::vector<std::string> reasons;  // printer-state-reasons, at most kMaxStateReasons
  time_t state_time = 0;
  std::string job_sheets[2];  // start and end banner
  uint32_t type = 0;          // PRINTER_* bits
  time_t browse_time = 0;     // 0 forces the next announcement
  std::string device_uri;
  int raw = 0;                        // jobs go to the device unfiltered
  TypeRecord* filetype = nullptr;     // "printer/<name>" in TypeDB; null without TypeDB
  job_t* job = nullptr;               // the job being printed, not owned
  ipp_ptr attrs;                      // built by SetPrinterAttrs
  std::shared_ptr<const ipp_encoded_t> encoded;  // listing cache of attrs (query-printers.cc)
  std::vector<printer_t*> printers;   // class members, not owned, in the order added
  int last = 0;                       // index of the member chosen last
  int quota_period = 0;               // seconds; 0 = no period
  int page_limit = 0;                 // 0 = no limit
  int k_limit = 0;                    // 0 = no limit
  std::vector<quota_t> quotas;        // sorted by user name
  int deny_users = 0;                 // 1: `users` lists who may not print
  std::vector<std::string> users;     // allow or deny list
  std::vector<ipp_ptr> history;       // at most MaxPrinterHistory, oldest first
  int sequence_number = 0;            // printer-state-sequence-number
};

// The registry, in ascending name order (ASCII case-insensitive), and the
// default destination (or null).
extern printer_t* Printers;
extern printer_t* DefaultPrinter;

// The attribute set shared by every destination; built by the first
// SetPrinterAttrs after start-up or a reload, freed by RemoveAllPrinters.
extern ipp_ptr CommonData;

// The banner names offered as job-sheets values, in name order. The banner
// list sets this; while it is null (or returns none) there are no banners and
// the job-sheets attributes are left out.
extern std::vector<std::string> (*BannerNames)();

// ---- Registry (printers.cc) ----

// A new local printer: stopped, not accepting, job sheets "none" "none",
// info = name, device URI "file:/dev/null", uri "ipp://ServerName:port/
// printers/name" (the first listener's port, else ippPort()), pseudo type
// printer/<name> in TypeDB. Inserted in name order; the printcap file is
// rewritten. Null for a null or empty name and for a name already in the
// registry (names stay unique). The name is cut at kMaxPrinterName.
printer_t* AddPrinter(const char* name);

// Unlinks and frees `p` (see HaltPrinter for `update`): a new default when it
// was the default, dropped from every class, its filters removed, the
// printcap rewritten. `p` is invalid afterwards. Logs an error and does
// nothing when `p` is not in the registry.
void RemovePrinter(printer_t* p, int update);

// Removes every destination that is not a class, without saving, and frees
// CommonData (the full reload).
void RemoveAllPrinters();

// By name without regard to case: LookupPrinter finds destinations without
// the class bit (printers, remote printers, implicit classes), LookupClass
// those with the class or implicit bit, LookupDestByName any.
printer_t* LookupPrinter(std::string_view name);
printer_t* LookupClass(std::string_view name);
printer_t* LookupDestByName(std::string_view name);

// The destination a printer URI names: `resource` "/printers/NAME" or
// "/classes/NAME" (printers are looked up first whatever the prefix), or for
// NAME@HOST a remote destination of that host. `*dtype` (may be null) gets
// its type masked with PRINTER_CLASS | PRINTER_REMOTE | PRINTER_IMPLICIT.
// Null when there is none.
printer_t* LookupDest(std::string_view host, std::string_view resource, uint32_t* dtype);

// Puts the registry back into name order (after names changed).
void ReorderPrinters();

// The user list: AddUserRule appends a name (cut at kMaxUserRule).
void AddUserRule(printer_t* p, std::string_view name);
void ClearUserRules(printer_t* p);

// The quota record of `username`, created zeroed when missing. The pointer
// stays valid until the next NewQuotaRecord or ClearQuotas on `p`.
quota_t* QuotaForUser(printer_t* p, std::string_view username);
quota_t* NewQuotaRecord(printer_t* p, std::string_view username);
void ClearQuotas(printer_t* p);

// One "super/type cost program" line (a PPD's vornFilter value): adds a
// filter from every matching type of TypeDB to the printer's pseudo type.
// "*" as super type matches every super type but "printer"; "*" as type
// every type. Logs "AddPrinterFilter: Invalid filter string ..." for a line
// that is not of that form.
void AddPrinterFilter(printer_t* p, const char* filter);
// Removes every filter leading to the printer's pseudo type.
void RemovePrinterFilters(printer_t* p);

// ---- Classes (classes.cc) ----

// A new local class: AddPrinter, then type PRINTER_CLASS and the uri
// "ipp://ServerName:port/classes/NAME". Null as AddPrinter.
printer_t* NewClass(const char* name);
// Appends `p` to the class's members (nothing when it is one already) and
// rebuilds the class's attributes.
void AddClassMember(printer_t* c, printer_t* p);
// Removes `p` from the class's members; when members remain, the class's
// type becomes its own class and implicit bits plus the capability bits all
// of them share, and its attributes are rebuilt.
void RemoveClassMember(printer_t* c, printer_t* p);
// Removes `p` from every class and implicit class; those left without
// members are deleted, and classes.conf saved when a local one went.
void RemoveFromAllClasses(printer_t* p);
// Deletes every destination with the class bit, without saving (reload).
// Call it before RemoveAllPrinters, so no class is seen losing members.
void RemoveAllClasses();
// Whether a destination can take a job now. It takes one at a time: a local
// one when idle, a remote one (which keeps the state its server announces)
// when not sending a job; a remote stand-in without a host, made at load time
// for one not seen yet, never, since a job sent there would go nowhere.
bool CanTakeJob(const printer_t* p);
// The member the next job of class `name` goes to: round robin from the
// member after the one chosen last, the first that is idle (or remote, known
// and not sending a job); null when none can take it now or there is no
// such class (logged).
printer_t* NextFreeMember(std::string_view name);
printer_t* NextFreeMemberOf(printer_t* c);

// ---- States (printers-state.cc) ----

// Sets the state (remote destinations are left alone), records a history
// entry and, with `update`, saves printers.conf when the printer went from
// stopped to running or back.
void ChangePrinterState(printer_t* p, int state, int update);
// ChangePrinterState to stopped.
void HaltPrinter(printer_t* p, int update);
// A "STATE:" text: "+a,b" adds keywords, "-a b" removes them, anything else
// replaces the list. Keywords are separated by runs of spaces, tabs and
// commas, cut at kMaxStateReason; past kMaxStateReasons they are dropped.
void ApplyStateReasons(printer_t* p, std::string_view text);
// Appends a history entry (when MaxPrinterHistory > 0), dropping the oldest
// when the table is full, and raises sequence_number.
void RecordPrinterHistory(printer_t* p);

// ---- printers.conf, classes.conf and printcap (printers-conf.cc, printcap.cc) ----

// Reads ServerRoot/printers.conf into the registry. Bad lines are logged
// with their line numbers. A damaged block (a header without name or ">",
// a block that never ends before the next begins, a duplicate name) is
// left out and loading goes on with the next block; stray lines outside
// blocks are skipped. Every printer read gets its attributes, its device URI
// checked (CheckPrinterDeviceURI) and one history entry.
void LoadAllPrinters();

// Writes every local printer to ServerRoot/printers.conf through the safe
// writer (the previous file stays as printers.conf.O) with ConfigFilePerm.
// When the last load found the file damaged, that file is first kept as
// printers.conf.damaged-YYYYMMDD-HHMMSS (logged), and nothing is saved when
// it cannot be kept. 1 on success; 0 (logged) when nothing could be
// written, the old file is then untouched.
int WritePrintersConf();

// The same for the local classes and ServerRoot/classes.conf, read after the
// printers: a member that is not known is logged and stands in as a stopped
// remote printer of that name until browsing finds it.
void LoadAllClasses();
int WriteClassesConf();
// WriteClassesConf for a class, WritePrintersConf for anything else.
void SaveDestinationFile(const printer_t* p);

// Rewrites the file named by Printcap in PrintcapFormat (every registry
// entry, the default first in the bsd format). Nothing when Printcap is
// empty; failures are silent.
void SavePrintcap();

// ---- Device URIs (printers-conf.cc, printers-attrs.cc) ----

// "" when `uri` may be a printer's device URI, else why not (a sentence
// without final stop, for logs and state messages): the scheme (up to the
// first ":") must name a program of the backend directory (letters, digits,
// "+", "-", "." and not starting with "."), and "file:" needs an absolute
// path and FileDevice on, but for "file:/dev/null".
std::string DeviceURIProblem(std::string_view uri);

// Checks the printer's device URI with DeviceURIProblem; a refused one is
// logged and the printer stopped with the reason as its state message. The
// URI itself stays, so saving loses nothing and the job runner refuses it
// again. 1 when accepted, 0 when refused.
int CheckPrinterDeviceURI(printer_t* p);

// ---- Attributes (printers-attrs.cc) ----

// Rebuilds the destination's attribute set, capability bits, raw flag and
// filters from its PPD file (ServerRoot/ppd/NAME.ppd), interface script
// (ServerRoot/interfaces/NAME) or device URI; builds CommonData first when
// it is not there.
void SetPrinterAttrs(printer_t* p);
