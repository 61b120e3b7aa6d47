// Printer states: state changes, the state history and printer-state-reasons.
#include <algorithm>

#include "scheduler/conf/conf.h"
#include "scheduler/jobs/job.h"
#include "scheduler/printers/printers.h"
#include "vorn/strings.h"

void ChangePrinterState(printer_t* p, int state, int update) {
  if (!p || (p->type & PRINTER_REMOTE)) return;
  int old = p->state;
  p->state = state;
  if (old != state) {
    p->state_time = time(nullptr);
    p->browse_time = 0;  // announce the change at once
  }
  RecordPrinterHistory(p);

  bool was_stopped = old == IPP_PRINTER_STOPPED, is_stopped = state == IPP_PRINTER_STOPPED;
  if (update && was_stopped != is_stopped) {
    if (p->type & PRINTER_CLASS)
      WriteClassesConf();
    else
      WritePrintersConf();
  }
}

void HaltPrinter(printer_t* p, int update) {
  ChangePrinterState(p, IPP_PRINTER_STOPPED, update);
  // Its job is printed again, from the same document, once it runs again.
  if (!p || !p->job || !StopJobHook) return;
  int id = p->job->id;
  StopJobHook(id, 0);
  if (job_t* job = LookupJob(id)) {
    SetJobState(job, IPP_JOB_PENDING);
    SaveJob(id);
  }
}

void RecordPrinterHistory(printer_t* p) {
  if (!p || MaxPrinterHistory <= 0) return;
  p->sequence_number++;
  // A reload may have lowered MaxPrinterHistory: drop as many as needed.
  size_t keep = size_t(MaxPrinterHistory) - 1;
  if (p->history.size() > keep) p->history.erase(p->history.begin(), p->history.end() - keep);

  ipp_ptr entry(ippNew());
  ipp_t* h = entry.get();
  ippAddInteger(h, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", p->state);
  ippAddBoolean(h, IPP_TAG_PRINTER, "printer-is-accepting-jobs", p->accepting != 0);
  ippAddString(h, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-state-message", "", p->state_message);
  if (p->reasons.empty()) {
    ippAddString(h, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "printer-state-reasons", "",
                 p->state == IPP_PRINTER_STOPPED ? "paused" : "none");
  } else {
    ippAddStrings(h, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "printer-state-reasons", "", p->reasons);
  }
  ippAddInteger(h, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "printer-state-time", int(p->state_time));
  ippAddInteger(h, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "printer-state-sequence-number", p->sequence_number);
  p->history.push_back(std::move(entry));
}

void ApplyStateReasons(printer_t* p, std::string_view text) {
  if (!p) return;
  enum { kReplace, kAdd, kRemove } mode = kReplace;
  if (!text.empty() && text[0] == '-') {
    mode = kRemove;
    text.remove_prefix(1);
  } else if (!text.empty() && text[0] == '+') {
    mode = kAdd;
    text.remove_prefix(1);
  } else {
    p->reasons.clear();
  }

  auto is_sep = [](char c) { return c == ' ' || c == '\t' || c == ','; };
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && is_sep(text[i])) i++;
    size_t start = i;
    while (i < text.size() && !is_sep(text[i])) i++;
    if (i == start) break;  // only separators were left
    std::string_view keyword = vorn::cut(text.substr(start, i - start), kMaxStateReason);

    auto found = std::find_if(p->reasons.begin(), p->reasons.end(),
                              [&](const std::string& r) { return vorn::iequals(r, keyword); });
    if (mode == kRemove) {
      if (found != p->reasons.end()) p->reasons.erase(found);
    } else if (found == p->reasons.end() && int(p->reasons.size()) < kMaxStateReasons) {
      p->reasons.emplace_back(keyword);
    }
  }
}
