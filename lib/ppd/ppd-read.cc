// Builds the record's structure from the entries: groups, subgroups,
// OpenUI/CloseUI options and their choices, *Include, and an attribute for
// every other keyword line (whose meaning ppd_keywords.cc applies).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "ppd-private.h"
#include "vorn/strings.h"

namespace vorn::ppd_detail {
namespace {

ppd_group_t* find_or_add_group(ppd_file_t* ppd, const std::string& name, const std::string& text) {
  for (auto& g : ppd->groups)
    if (vorn::iequals(g.name, name)) return &g;
  ppd_group_t& g = ppd->groups.emplace_back();
  g.name = name;
  g.text = text.empty() ? name : text;
  return &g;
}

// "Name/Translation" as written after *OpenGroup and *OpenSubGroup.
ppd_status_t split_group_name(const entry& e, std::string& name, std::string& text) {
  if (e.kind != value_kind::string || !e.option.empty()) return PPD_BAD_OPEN_GROUP;
  std::string_view v = e.value;
  size_t slash = v.find('/');
  std::string_view n = vorn::trim(v.substr(0, slash));
  if (n.empty() || n.size() > PPD_MAX_NAME) return PPD_BAD_OPEN_GROUP;
  for (char c : n)
    if (c == ' ' || c == '\t') return PPD_BAD_OPEN_GROUP;
  name.assign(n);
  text.clear();
  if (slash != std::string_view::npos) {
    if (!decode_hex(v.substr(slash + 1), text)) return PPD_ILLEGAL_TRANSLATION;
    cut_text(text, PPD_MAX_TEXT);
  }
  if (text.empty()) text = name;
  return PPD_OK;
}

// The name after *CloseGroup or *CloseSubGroup must match, when given.
bool close_name_matches(const entry& e, const std::string& open) {
  std::string_view v = e.value;
  std::string_view n = vorn::trim(v.substr(0, v.find('/')));
  return n.empty() || vorn::iequals(n, open);
}

ppd_status_t open_group(builder& b, const entry& e) {
  if (b.ui || b.group) return PPD_NESTED_OPEN_GROUP;
  std::string name, text;
  if (ppd_status_t st = split_group_name(e, name, text); st != PPD_OK) return st;
  b.group = find_or_add_group(b.ppd, name, text);
  return PPD_OK;
}

ppd_status_t close_group(builder& b, const entry& e) {
  if (b.ui) return PPD_BAD_OPEN_UI;
  if (!b.group || b.subgroup || !close_name_matches(e, b.group->name)) return PPD_BAD_OPEN_GROUP;
  b.group = nullptr;
  return PPD_OK;
}

ppd_status_t open_subgroup(builder& b, const entry& e) {
  if (b.ui || b.subgroup) return PPD_NESTED_OPEN_GROUP;
  if (!b.group) return PPD_BAD_OPEN_GROUP;
  std::string name, text;
  if (ppd_status_t st = split_group_name(e, name, text); st != PPD_OK) return st;
  for (auto& s : b.group->subgroups)
    if (vorn::iequals(s.name, name)) {
      b.subgroup = &s;
      return PPD_OK;
    }
  ppd_subgroup_t& s = b.group->subgroups.emplace_back();
  s.name = name;
  s.text = text;
  b.subgroup = &s;
  return PPD_OK;
}

ppd_status_t close_subgroup(builder& b, const entry& e) {
  if (b.ui) return PPD_BAD_OPEN_UI;
  if (!b.subgroup || !close_name_matches(e, b.subgroup->name)) return PPD_BAD_OPEN_GROUP;
  b.subgroup = nullptr;
  return PPD_OK;
}

ppd_status_t open_ui(builder& b, const entry& e, bool jcl) {
  if (b.ui) return PPD_NESTED_OPEN_UI;
  if (e.option.size() < 2 || e.option[0] != '*' || e.kind != value_kind::string)
    return PPD_BAD_OPEN_UI;
  std::string keyword = e.option.substr(1);
  if (b.options.count(lower(keyword))) return PPD_BAD_OPEN_UI;  // declared twice
  ppd_ui_t ui;
  if (vorn::iequals(e.value, "PickOne")) ui = PPD_UI_PICKONE;
  else if (vorn::iequals(e.value, "PickMany")) ui = PPD_UI_PICKMANY;
  else if (vorn::iequals(e.value, "Boolean")) ui = PPD_UI_BOOLEAN;
  else return PPD_BAD_OPEN_UI;

  std::deque<ppd_option_t>* list;
  if (b.subgroup) list = &b.subgroup->options;
  else if (b.group) list = &b.group->options;
  else list = &find_or_add_group(b.ppd, "General", "General")->options;
  ppd_option_t& o = list->emplace_back();
  o.keyword = keyword;
  o.text = e.has_text && !e.text.empty() ? e.text : keyword;
  o.ui = ui;
  if (jcl) o.section = PPD_ORDER_JCL;
  b.options[lower(keyword)] = &o;
  b.ui = &o;
  b.ui_jcl = jcl;
  return PPD_OK;
}

ppd_status_t close_ui(builder& b, const entry& e, bool jcl) {
  if (!b.ui || b.ui_jcl != jcl) return PPD_BAD_OPEN_UI;
  std::string_view v = e.value;
  if (v.size() < 2 || v[0] != '*' || !vorn::iequals(v.substr(1), b.ui->keyword))
    return PPD_BAD_OPEN_UI;
  b.ui = nullptr;
  return PPD_OK;
}

ppd_status_t add_choice(builder& b, entry& e) {
  ppd_option_t* o = b.ui;
  if (ppdFindChoice(o, e.option)) return PPD_OK;  // the first definition stays
  ppd_choice_t& c = o->choices.emplace_back();
  c.choice = e.option;
  c.text = e.has_text && !e.text.empty() ? e.text : e.option;
  c.option = o;
  if (e.kind == value_kind::quoted && b.ui_jcl) {
    if (!decode_hex(e.value, c.code)) return PPD_BAD_VALUE;
  } else {
    c.code = std::move(e.value);
    if (e.kind == value_kind::symbol) b.symbols.push_back({SIZE_MAX, &c, e.line});
  }
  if (o->keyword == "PageSize") find_or_add_size(b, c.choice);
  return PPD_OK;
}

ppd_status_t include(builder& b, const entry& e, const std::string& dir, int depth) {
  if (e.kind != value_kind::quoted || e.value.empty()) return PPD_BAD_INCLUDE;
  if (depth + 1 > PPD_MAX_INCLUDE_DEPTH || b.includes >= PPD_MAX_INCLUDES)
    return PPD_INCLUDE_TOO_DEEP;
  std::string path = e.value[0] == '/' ? e.value : dir + "/" + e.value;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return PPD_BAD_INCLUDE;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return PPD_BAD_INCLUDE;
  }
  b.includes++;
  ppd_status_t status;
  std::unique_ptr<source> src = open_fd_source(fd, &status);
  if (!src) return status;
  return read_entries(b, *src, folder_of(path), depth + 1);
}

size_t add_attr(builder& b, entry& e) {
  ppd_attr_t& a = b.ppd->attrs.emplace_back();
  a.name = std::move(e.keyword);
  a.option = std::move(e.option);
  a.text = std::move(e.text);
  a.value = std::move(e.value);
  b.attr_lines.push_back(e.line);
  return b.ppd->attrs.size() - 1;
}

ppd_status_t handle(builder& b, entry& e, const std::string& dir, int depth) {
  const std::string& k = e.keyword;
  if (k == "OpenGroup") return open_group(b, e);
  if (k == "CloseGroup") return close_group(b, e);
  if (k == "OpenSubGroup") return open_subgroup(b, e);
  if (k == "CloseSubGroup") return close_subgroup(b, e);
  if (k == "OpenUI") return open_ui(b, e, false);
  if (k == "CloseUI") return close_ui(b, e, false);
  if (k == "JCLOpenUI") return open_ui(b, e, true);
  if (k == "JCLCloseUI") return close_ui(b, e, true);
  if (k == "Include") return include(b, e, dir, depth);
  if (b.ui && !e.option.empty() && k == b.ui->keyword) return add_choice(b, e);
  if (k == "SymbolValue" && e.kind != value_kind::quoted) return PPD_BAD_VALUE;
  const bool symbol = e.kind == value_kind::symbol;
  const int line = e.line;
  size_t index = add_attr(b, e);
  if (symbol) {  // its meaning is applied once the symbol is known
    b.symbols.push_back({index, nullptr, line});
    return PPD_OK;
  }
  return apply_keyword(b, index);
}

}  // namespace

std::string folder_of(std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

ppd_size_t* find_or_add_size(builder& b, std::string_view name) {
  std::string key = lower(name);
  auto it = b.sizes.find(key);
  if (it != b.sizes.end()) return it->second;
  ppd_size_t& s = b.ppd->sizes.emplace_back();
  s.name.assign(name);
  b.sizes.emplace(std::move(key), &s);
  return &s;
}

ppd_status_t read_entries(builder& b, source& src, const std::string& dir, int depth) {
  lexer lex(src);
  entry e;
  int r;
  while ((r = lex.next(e)) > 0) {
    b.line = e.line;
    if (depth == 0 && !b.seen_header) {
      if (e.keyword != "PPD-Adobe") return PPD_MISSING_PPDADOBE;
      b.seen_header = true;
    }
    if (ppd_status_t st = handle(b, e, dir, depth); st != PPD_OK) return st;
  }
  if (r < 0) {
    b.line = lex.line();
    return lex.status();
  }
  if (depth == 0) {
    b.last_line = lex.line();
    if (!b.seen_header) {
      b.line = lex.line();
      return PPD_MISSING_PPDADOBE;
    }
  }
  return PPD_OK;
}

}  // namespace vorn::ppd_detail
