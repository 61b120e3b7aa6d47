// The last step of reading: nesting left open, what the format lets a file
// write in any order (symbols, order dependencies, defaults, emulator code,
// the custom page size), constraints resolved, and the lookup indexes.
#include <algorithm>

#include "ppd-private.h"
#include "vorn/strings.h"

namespace vorn::ppd_detail {
namespace {

ppd_option_t* find_option(builder& b, std::string_view keyword) {
  auto it = b.options.find(lower(keyword));
  return it == b.options.end() ? nullptr : it->second;
}

ppd_status_t resolve_symbols(builder& b) {
  ppd_file_t* ppd = b.ppd;
  for (const auto& ref : b.symbols) {
    std::string& target = ref.choice ? ref.choice->code : ppd->attrs[ref.attr].value;
    std::string option = "^" + target;
    const ppd_attr_t* def = ppdFindAttr(ppd, "SymbolValue", option.c_str());
    if (!def) {
      b.line = ref.line;
      return PPD_BAD_VALUE;
    }
    target = def->value;
  }
  // Keywords written with a symbol value get their meaning now.
  for (const auto& ref : b.symbols) {
    if (ref.choice) continue;
    if (ppd_status_t st = apply_keyword(b, ref.attr); st != PPD_OK) {
      b.line = ref.line;
      return st;
    }
  }
  return PPD_OK;
}

void apply_orders(builder& b) {
  for (const auto& od : b.orders)
    if (ppd_option_t* o = find_option(b, od.keyword)) {
      o->order = od.order;
      o->section = od.section;
    }
}

void apply_defaults(builder& b) {
  for_each_option(b.ppd, [&](ppd_option_t& o) {
    std::string name = "Default" + o.keyword;
    if (const ppd_attr_t* a = ppdFindAttr(b.ppd, name, nullptr))
      o.defchoice.assign(vorn::cut(vorn::trim(a->value), PPD_MAX_NAME));
  });
}

void apply_emulators(builder& b) {
  for (auto& em : b.ppd->emulations) {
    if (const ppd_attr_t* a = ppdFindAttr(b.ppd, "StartEmulator_" + em.name, nullptr))
      em.start = a->value;
    if (const ppd_attr_t* a = ppdFindAttr(b.ppd, "StopEmulator_" + em.name, nullptr))
      em.stop = a->value;
  }
}

void apply_custom_size(builder& b) {
  ppd_file_t* ppd = b.ppd;
  ppd->variable_sizes = b.variable_paper || b.custom_true;
  for (int i = 0; i < PPD_CUSTOM_PARAMS; i++)
    if (ppd->custom_params[i].order == 0) {
      ppd->custom_params[i].order = i + 1;
      ppd->custom_params[i].type = i == PPD_CUSTOM_ORIENTATION ? "int" : "points";
    }
  if (!ppd->variable_sizes) return;
  b.sizes_with_area.insert(find_or_add_size(b, "Custom"));  // set when marked
  for (int i = 0; i < 2; i++) {
    ppd->custom_min[i] = ppd->custom_params[i].min;
    ppd->custom_max[i] = b.max_media[i] > 0 ? b.max_media[i] : ppd->custom_params[i].max;
  }
  ppd_option_t* page = find_option(b, "PageSize");
  if (!page || ppdFindChoice(page, "Custom")) return;
  const ppd_attr_t* code = ppdFindAttr(ppd, "CustomPageSize", "True");
  ppd_choice_t& c = page->choices.emplace_back();
  c.choice = "Custom";
  c.text = code && !code->text.empty() ? code->text : "Custom";
  c.code = code ? code->value : "";
  c.option = page;
}

void resolve_constraints(builder& b) {
  for (auto& c : b.ppd->consts) {
    c.opt1 = find_option(b, c.option1);
    c.opt2 = find_option(b, c.option2);
    c.ch1 = c.opt1 && !c.choice1.empty() ? ppdFindChoice(c.opt1, c.choice1) : nullptr;
    c.ch2 = c.opt2 && !c.choice2.empty() ? ppdFindChoice(c.opt2, c.choice2) : nullptr;
  }
}

}  // namespace

void build_indexes(ppd_file_t* ppd) {
  ppd->option_index.clear();
  for_each_option(ppd, [&](ppd_option_t& o) { ppd->option_index.push_back(&o); });
  std::sort(ppd->option_index.begin(), ppd->option_index.end(),
            [](const ppd_option_t* a, const ppd_option_t* b) {
              return vorn::strcasecmp(a->keyword, b->keyword) < 0;
            });
  ppd->attr_index.resize(ppd->attrs.size());
  for (size_t i = 0; i < ppd->attrs.size(); i++) ppd->attr_index[i] = i;
  std::stable_sort(ppd->attr_index.begin(), ppd->attr_index.end(), [&](size_t a, size_t b) {
    return vorn::strcasecmp(ppd->attrs[a].name, ppd->attrs[b].name) < 0;
  });
}

ppd_status_t finish(builder& b) {
  ppd_file_t* ppd = b.ppd;
  b.line = b.last_line;
  if (b.ui) return PPD_BAD_OPEN_UI;
  if (b.subgroup || b.group) return PPD_BAD_OPEN_GROUP;
  build_indexes(ppd);  // the steps below look attributes up
  if (ppd_status_t st = resolve_symbols(b); st != PPD_OK) return st;
  apply_orders(b);
  apply_defaults(b);
  apply_emulators(b);
  apply_custom_size(b);
  for (auto& s : ppd->sizes)
    if (!b.sizes_with_area.count(&s)) {
      s.left = s.bottom = 0;
      s.right = s.width;
      s.top = s.length;
    }
  resolve_constraints(b);
  return PPD_OK;
}

}  // namespace vorn::ppd_detail
