// Marking choices and finding the options whose marked choices conflict.
#include "ppd-private.h"
#include "vorn/strings.h"

using namespace vorn::ppd_detail;

namespace {

bool is_size_option(const ppd_option_t* o) {
  return o->keyword == "PageSize" || o->keyword == "PageRegion";
}

void mark_choice(ppd_option_t* o, ppd_choice_t* c) {
  if (o->ui == PPD_UI_PICKMANY) {
    const bool off = is_off_choice(c->choice);
    for (auto& other : o->choices)
      if (off || is_off_choice(other.choice)) other.marked = false;
  } else {
    for (auto& other : o->choices) other.marked = false;
  }
  c->marked = true;
}

// The sizes follow the marked PageSize (or, without one, PageRegion) choice.
void sync_sizes(ppd_file_t* ppd) {
  ppd_choice_t* c = ppdFindMarkedChoice(ppd, "PageSize");
  if (!c && !ppdFindOption(ppd, "PageSize")) c = ppdFindMarkedChoice(ppd, "PageRegion");
  for (auto& s : ppd->sizes) s.marked = c && vorn::iequals(s.name, c->choice);
}

// PageSize and PageRegion always name the same size: both get `name` marked
// (or nothing, where one lacks that choice).
void mark_size(ppd_file_t* ppd, std::string_view name) {
  for (const char* keyword : {"PageSize", "PageRegion"}) {
    ppd_option_t* o = ppdFindOption(ppd, keyword);
    if (!o) continue;
    for (auto& c : o->choices) c.marked = false;
    if (ppd_choice_t* c = ppdFindChoice(o, name)) c->marked = true;
  }
  sync_sizes(ppd);
}

// Whether a constraint's side holds: its choice is marked, or with no choice
// any marked choice but None, False or Off.
bool side_holds(const ppd_option_t* o, const std::string& choice, const ppd_choice_t* c) {
  if (!o) return false;
  if (!choice.empty()) return c && c->marked;
  for (const auto& other : o->choices)
    if (other.marked && !is_off_choice(other.choice)) return true;
  return false;
}

}  // namespace

namespace vorn::ppd_detail {

void mark_option(ppd_file_t* ppd, std::string_view option, std::string_view choice) {
  ppd_option_t* o = ppdFindOption(ppd, option);
  if (!o) return;
  if (is_size_option(o) && vorn::istarts_with(choice, "Custom.")) {
    float w, l;
    const bool has_custom = ppdFindChoice(ppdFindOption(ppd, "PageSize"), "Custom");
    if (has_custom && parse_custom_size(choice, &w, &l) && set_custom_size(ppd, w, l))
      mark_size(ppd, "Custom");
    return;
  }
  ppd_choice_t* c = ppdFindChoice(o, choice);
  if (!c) return;
  if (is_size_option(o)) mark_size(ppd, c->choice);
  else mark_choice(o, c);
}

}  // namespace vorn::ppd_detail

int ppdMarkDefaults(ppd_file_t* ppd) {
  if (!ppd) return 0;
  for_each_option(ppd, [](ppd_option_t& o) {
    for (auto& c : o.choices) c.marked = false;
  });
  for (auto& s : ppd->sizes) s.marked = false;
  for_each_option(ppd, [](ppd_option_t& o) {
    if (is_size_option(&o)) return;
    if (ppd_choice_t* c = ppdFindChoice(&o, o.defchoice)) mark_choice(&o, c);
  });
  // The PageSize default decides; PageRegion's counts only without it.
  ppd_option_t* page = ppdFindOption(ppd, "PageSize");
  ppd_option_t* region = ppdFindOption(ppd, "PageRegion");
  if (page &&
      (ppdFindChoice(page, page->defchoice) || vorn::istarts_with(page->defchoice, "Custom.")))
    mark_option(ppd, "PageSize", page->defchoice);
  else if (region)
    mark_option(ppd, "PageRegion", region->defchoice);
  return ppdConflicts(ppd);
}

int ppdMarkOption(ppd_file_t* ppd, std::string_view option, std::string_view choice) {
  if (!ppd) return 0;
  mark_option(ppd, option, choice);
  return ppdConflicts(ppd);
}

bool ppdIsMarked(const ppd_file_t* ppd, std::string_view option, std::string_view choice) {
  ppd_choice_t* c = ppdFindChoice(ppdFindOption(ppd, option), choice);
  return c && c->marked;
}

int ppdConflicts(ppd_file_t* ppd) {
  if (!ppd) return 0;
  for_each_option(ppd, [](ppd_option_t& o) { o.conflicted = false; });
  for (const auto& c : ppd->consts)
    if (side_holds(c.opt1, c.choice1, c.ch1) && side_holds(c.opt2, c.choice2, c.ch2)) {
      c.opt1->conflicted = true;
      c.opt2->conflicted = true;
    }
  int count = 0;
  for_each_option(ppd, [&](ppd_option_t& o) { count += o.conflicted; });
  return count;
}
