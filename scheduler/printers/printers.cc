// The destination registry: creating, finding, ordering and removing
// destinations, user lists, quota records and printer-specific filters.
#include "scheduler/printers/printers.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>

#include "scheduler/auth/address.h"
#include "scheduler/conf/conf.h"
#include "scheduler/http/listeners.h"
#include "scheduler/log.h"
#include "scheduler/printers/printers-private.h"
#include "scheduler/types/types.h"
#include "vorn/client.h"
#include "vorn/strings.h"

printer_t* Printers = nullptr;
printer_t* DefaultPrinter = nullptr;
ipp_ptr CommonData;
std::vector<std::string> (*BannerNames)() = nullptr;

bool PrintcapDeferred = false;

int PrinterURIPort() {
  if (!Listeners.empty()) {
    int port = sock_addr_port(Listeners.front().address);
    if (port > 0) return port;
  }
  return ippPort();
}

namespace {

// The first destination of each name in the list (names are compared
// ignoring case, so the key is the lower-case name): lookups go straight to
// it instead of walking a list of thousands.
std::unordered_map<std::string, printer_t*> FirstByName;

std::string NameKey(std::string_view name) {
  std::string k(name);
  for (char& c : k) c = vorn::tolower(c);
  return k;
}

void Insert(printer_t* p) {
  printer_t** link = &Printers;
  while (*link && vorn::strcasecmp((*link)->name, p->name) <= 0) link = &(*link)->next;
  p->next = *link;
  *link = p;
  // Equal names go after the ones already there, so an existing entry stays first.
  FirstByName.try_emplace(NameKey(p->name), p);
}

bool Unlink(printer_t* p) {
  for (printer_t** link = &Printers; *link; link = &(*link)->next) {
    if (*link == p) {
      auto first = FirstByName.find(NameKey(p->name));
      if (first != FirstByName.end() && first->second == p) {
        if (p->next && vorn::iequals(p->next->name, p->name))
          first->second = p->next;
        else
          FirstByName.erase(first);
      }
      *link = p->next;
      p->next = nullptr;
      return true;
    }
  }
  return false;
}

// The first destination named `name` whose type passes `accept`.
template <typename Accept>
printer_t* FindByName(std::string_view name, Accept accept) {
  auto first = FirstByName.find(NameKey(name));
  if (first == FirstByName.end()) return nullptr;
  for (printer_t* p = first->second; p && vorn::iequals(p->name, name); p = p->next)
    if (accept(p->type)) return p;
  return nullptr;
}

void WritePrintcapNow() {
  if (!PrintcapDeferred) SavePrintcap();
}

}  // namespace

printer_t* AddPrinter(const char* name) {
  LogDiagnostic(L_DEBUG2, "AddPrinter(\"%s\")", name ? name : "(null)");
  if (!name || !*name) return nullptr;
  std::string_view n = vorn::cut(name, kMaxPrinterName);
  if (LookupDestByName(n)) {
    LogDiagnostic(L_ERROR, "AddPrinter: a destination named \"%s\" already exists!", name);
    return nullptr;
  }

  auto* p = new (std::nothrow) printer_t;
  if (!p) {
    LogDiagnostic(L_ERROR, "Unable to allocate memory for printer - %s", std::strerror(ENOMEM));
    return nullptr;
  }
  p->name = n;
  p->info = n;
  p->hostname = vorn::cut(ServerName, kMaxPrinterName);
  char uri[kMaxPrinterURI + 1];
  std::snprintf(uri, sizeof(uri), "ipp://%s:%d/printers/%s", ServerName.c_str(), PrinterURIPort(),
                p->name.c_str());
  p->uri = uri;
  p->device_uri = "file:/dev/null";
  p->state = IPP_PRINTER_STOPPED;
  p->state_time = time(nullptr);
  p->accepting = 0;
  p->job_sheets[0] = p->job_sheets[1] = "none";
  if (TypeDB) p->filetype = AddType(TypeDB.get(), "printer", p->name);
  if (MaxPrinterHistory > 0) p->history.reserve(size_t(MaxPrinterHistory));

  Insert(p);
  WritePrintcapNow();
  return p;
}

void RemovePrinter(printer_t* p, int update) {
  if (!p || !Unlink(p)) {
    LogDiagnostic(L_ERROR, "Tried to delete a non-existent printer %s!\n", p ? p->name.c_str() : "(null)");
    return;
  }
  HaltPrinter(p, update);

  if (p == DefaultPrinter) {
    DefaultPrinter = Printers;
    WritePrintcapNow();
  }
  // Classes may be members of classes too: every kind leaves the lists,
  // and a class left without members goes as well.
  RemoveFromAllClasses(p);

  RemovePrinterFilters(p);
  delete p;  // members, history, reasons, attributes, users, quotas go with it
  WritePrintcapNow();
}

void RemoveAllPrinters() {
  PrintcapDeferred = true;
  for (printer_t* p = Printers; p;) {
    printer_t* next = p->next;
    if (!(p->type & PRINTER_CLASS)) RemovePrinter(p, 0);
    p = next;
  }
  PrintcapDeferred = false;
  CommonData.reset();
  SavePrintcap();
}

printer_t* LookupPrinter(std::string_view name) {
  return FindByName(name, [](uint32_t type) { return !(type & PRINTER_CLASS); });
}

printer_t* LookupClass(std::string_view name) {
  return FindByName(name, [](uint32_t type) { return (type & (PRINTER_CLASS | PRINTER_IMPLICIT)) != 0; });
}

printer_t* LookupDestByName(std::string_view name) {
  return FindByName(name, [](uint32_t) { return true; });
}

printer_t* LookupDest(std::string_view host, std::string_view resource, uint32_t* dtype) {
  std::string_view name;
  if (resource.starts_with("/classes/"))
    name = resource.substr(9);
  else if (resource.starts_with("/printers/"))
    name = resource.substr(10);
  else
    return nullptr;

  const uint32_t mask = PRINTER_CLASS | PRINTER_REMOTE | PRINTER_IMPLICIT;
  printer_t* p = LookupPrinter(name);
  if (!p) p = LookupClass(name);
  if (p) {
    if (dtype) *dtype = p->type & mask;
    return p;
  }
  if (name.find('@') == std::string_view::npos) return nullptr;

  // NAME@HOST: a remote destination, its host named as browsing names it
  // (without the domain this server shares with it).
  std::string local(vorn::cut(host, kMaxPrinterName));
  if (vorn::iequals(local, "localhost")) local = ServerName;
  size_t sdot = ServerName.find('.');
  if (!vorn::iequals(local, ServerName) && sdot != std::string::npos && local.find('.') != std::string::npos) {
    std::string_view domain = std::string_view(ServerName).substr(sdot);
    for (size_t dot = local.find('.'); dot != std::string::npos; dot = local.find('.', dot + 1)) {
      if (vorn::iequals(std::string_view(local).substr(dot), domain)) {
        local.resize(dot);
        break;
      }
    }
  }
  for (p = Printers; p; p = p->next) {
    if (vorn::iequals(p->hostname, local) && vorn::iequals(p->name, name)) {
      if (dtype) *dtype = p->type & mask;
      return p;
    }
  }
  return nullptr;
}

void ReorderPrinters() {
  printer_t* list = Printers;
  Printers = nullptr;
  FirstByName.clear();
  // Insertion keeps equal names in their old order.
  while (list) {
    printer_t* p = list;
    list = p->next;
    Insert(p);
  }
}

void AddUserRule(printer_t* p, std::string_view name) {
  if (p) p->users.emplace_back(vorn::cut(name, kMaxUserRule));
}

void ClearUserRules(printer_t* p) {
  if (p) p->users.clear();
}

quota_t* NewQuotaRecord(printer_t* p, std::string_view username) {
  if (!p) return nullptr;
  std::string_view user = vorn::cut(username, kMaxQuotaUser);
  // User names are case-sensitive: "Bob" and "bob" are two accounts.
  auto it = std::lower_bound(p->quotas.begin(), p->quotas.end(), user,
                             [](const quota_t& q, std::string_view u) { return q.username < u; });
  if (it != p->quotas.end() && it->username == user) return &*it;
  quota_t q;
  q.username = user;
  return &*p->quotas.insert(it, std::move(q));
}

quota_t* QuotaForUser(printer_t* p, std::string_view username) { return NewQuotaRecord(p, username); }

void ClearQuotas(printer_t* p) {
  if (p) p->quotas.clear();
}

void AddPrinterFilter(printer_t* p, const char* filter) {
  if (!p || !p->filetype || !filter || !TypeDB) return;
  // "super/type cost program"; the program is one word.
  std::string_view text = filter;
  auto blank = [](char c) { return vorn::isspace(c); };
  auto field = [&] {
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    size_t n = 0;
    while (n < text.size() && !blank(text[n])) n++;
    std::string_view f = text.substr(0, n);
    text.remove_prefix(n);
    return f;
  };
  TypeName name;
  const bool parsed = ParseTypeName(field(), &name) == 1;
  const std::string cost_text(field());
  std::string_view program_field = field();
  char* cost_end = nullptr;
  long cost = std::strtol(cost_text.c_str(), &cost_end, 10);
  if (!parsed || cost_text.empty() || *cost_end || cost < INT_MIN || cost > INT_MAX || program_field.empty()) {
    LogDiagnostic(L_ERROR, "AddPrinterFilter: Invalid filter string \"%s\"!", filter);
    return;
  }
  const std::string program(program_field);
  std::string_view want_super = name.super, want_type = name.type;
  // Collect first: adding filters must not disturb the walk over the types.
  std::vector<TypeRecord*> sources;
  for (const auto& t : TypeDB->types) {
    bool super_ok = want_super == "*" ? !vorn::iequals(t->super, "printer") : vorn::iequals(t->super, want_super);
    bool type_ok = want_type == "*" || vorn::iequals(t->type, want_type);
    if (super_ok && type_ok) sources.push_back(t.get());
  }
  for (TypeRecord* t : sources) {
    LogDiagnostic(L_DEBUG2, "Adding filter %s/%s %s/%s %d %s", t->super.c_str(), t->type.c_str(),
                  p->filetype->super.c_str(), p->filetype->type.c_str(), int(cost), program.c_str());
    AddFilter(TypeDB.get(), t, p->filetype, int(cost), program);
  }
}

void RemovePrinterFilters(printer_t* p) {
  if (p && p->filetype && TypeDB) RemoveFilters(TypeDB.get(), p->filetype);
}
