// Classes: destinations that stand for a group of printers. A job queued
// on a class goes to whichever member is free first, in turn.
#include <algorithm>
#include <cstdio>

#include "scheduler/conf/conf.h"
#include "scheduler/log.h"
#include "scheduler/printers/printers-private.h"
#include "scheduler/printers/printers.h"

namespace {

// The class's type: its own class and implicit bits plus the capability
// bits every member has (remote excluded).
void RecomputeClassType(printer_t* c) {
  if (c->printers.empty()) return;
  uint32_t common = PRINTER_STORED_MASK & ~(PRINTER_CLASS | PRINTER_REMOTE | PRINTER_IMPLICIT);
  for (const printer_t* m : c->printers) common &= m->type;
  c->type = (c->type & (PRINTER_CLASS | PRINTER_IMPLICIT)) | common;
}

}  // namespace

bool CanTakeJob(const printer_t* p) {
  if (p->job) return false;
  if (p->type & PRINTER_REMOTE) return !p->hostname.empty();
  return p->state == IPP_PRINTER_IDLE;
}

printer_t* NewClass(const char* name) {
  printer_t* c = AddPrinter(name);
  if (!c) return nullptr;
  c->type = PRINTER_CLASS;
  char uri[kMaxPrinterURI + 1];
  std::snprintf(uri, sizeof(uri), "ipp://%s:%d/classes/%s", ServerName.c_str(), PrinterURIPort(), c->name.c_str());
  c->uri = uri;
  return c;
}

void AddClassMember(printer_t* c, printer_t* p) {
  if (!c || !p || c == p) return;
  if (std::find(c->printers.begin(), c->printers.end(), p) != c->printers.end()) return;
  c->printers.push_back(p);
  SetPrinterAttrs(c);
}

void RemoveClassMember(printer_t* c, printer_t* p) {
  if (!c) return;
  auto& m = c->printers;
  auto it = std::find(m.begin(), m.end(), p);
  if (it == m.end()) return;
  int index = int(it - m.begin());
  m.erase(it);
  // `last` stays on the member before the removed one, so the rotation goes
  // on with the member that followed it.
  if (index <= c->last) c->last--;
  if (c->last < 0) c->last = m.empty() ? 0 : int(m.size()) - 1;
  if (c->last >= int(m.size())) c->last = 0;
  if (!m.empty()) {
    RecomputeClassType(c);
    SetPrinterAttrs(c);
  }
}

void RemoveFromAllClasses(printer_t* p) {
  bool local_class_gone = false;
  for (printer_t* c = Printers; c;) {
    printer_t* next = c->next;
    if (c != p && (c->type & (PRINTER_CLASS | PRINTER_IMPLICIT))) {
      size_t before = c->printers.size();
      RemoveClassMember(c, p);
      if (before > 0 && c->printers.empty()) {
        // A class without members stands for nothing: it goes too, and the
        // walk starts again since the removal may take others along.
        LogDiagnostic(L_INFO, "Class '%s' deleted: its last member is gone.", c->name.c_str());
        if (!(c->type & (PRINTER_REMOTE | PRINTER_IMPLICIT))) local_class_gone = true;
        RemovePrinter(c, 0);
        next = Printers;
      }
    }
    c = next;
  }
  if (local_class_gone) WriteClassesConf();
}

void RemoveAllClasses() {
  PrintcapDeferred = true;
  // Member lists go first, so no removal below counts as a class losing
  // its last member (which would delete it and save classes.conf).
  for (printer_t* c = Printers; c; c = c->next)
    if (c->type & PRINTER_CLASS) c->printers.clear();
  for (printer_t* c = Printers; c;) {
    printer_t* next = c->next;
    if (c->type & PRINTER_CLASS) RemovePrinter(c, 0);
    c = next;
  }
  PrintcapDeferred = false;
  SavePrintcap();
}

printer_t* NextFreeMember(std::string_view name) {
  printer_t* c = LookupClass(name);
  if (!c) {
    LogDiagnostic(L_ERROR, "Unable to find class \"%s\"!", std::string(name).c_str());
    return nullptr;
  }
  return NextFreeMemberOf(c);
}

printer_t* NextFreeMemberOf(printer_t* c) {
  int n = int(c->printers.size());
  if (n == 0) return nullptr;
  int last = std::clamp(c->last, 0, n - 1);
  for (int k = 1; k <= n; k++) {
    int i = (last + k) % n;
    printer_t* m = c->printers[size_t(i)];
    if (m && CanTakeJob(m)) {
      c->last = i;
      return m;
    }
  }
  return nullptr;
}
