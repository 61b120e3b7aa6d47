// What the main keywords with a meaning of their own put into the record.
// One row per keyword; every line is also kept as an attribute.
#include <charconv>
#include <cmath>

#include "ppd-private.h"
#include "vorn/strings.h"

namespace vorn::ppd_detail {
namespace {

using handler_fn = ppd_status_t (*)(builder&, ppd_attr_t&);

std::vector<std::string_view> split_ws(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && vorn::isspace(s[i])) i++;
    size_t j = i;
    while (j < s.size() && !vorn::isspace(s[j])) j++;
    if (j > i) out.push_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

ppd_status_t color_space(builder& b, ppd_attr_t& a) {
  static const struct { const char* name; ppd_cs_t cs; } spaces[] = {
      {"Gray", PPD_CS_GRAY}, {"RGB", PPD_CS_RGB}, {"CMYK", PPD_CS_CMYK},
      {"CMY", PPD_CS_CMY},   {"RGBK", PPD_CS_RGBK}, {"N", PPD_CS_N}};
  for (const auto& s : spaces)
    if (vorn::iequals(vorn::trim(a.value), s.name)) {
      b.ppd->colorspace = s.cs;
      return PPD_OK;
    }
  return PPD_BAD_VALUE;
}

ppd_status_t landscape(builder& b, ppd_attr_t& a) {
  std::string_view v = vorn::trim(a.value);
  if (vorn::iequals(v, "Plus90") || vorn::iequals(v, "Any")) b.ppd->landscape = 90;
  else if (vorn::iequals(v, "Minus90")) b.ppd->landscape = -90;
  else return PPD_BAD_VALUE;
  return PPD_OK;
}

ppd_status_t paper_dimension(builder& b, ppd_attr_t& a) {
  if (a.option.empty()) return PPD_ILLEGAL_OPTION_KEYWORD;
  float v[2];
  if (!parse_floats(a.value, v, 2) || v[0] <= 0 || v[1] <= 0) return PPD_BAD_VALUE;
  ppd_size_t* s = find_or_add_size(b, a.option);
  s->width = v[0];
  s->length = v[1];
  return PPD_OK;
}

ppd_status_t imageable_area(builder& b, ppd_attr_t& a) {
  if (a.option.empty()) return PPD_ILLEGAL_OPTION_KEYWORD;
  float v[4];
  if (!parse_floats(a.value, v, 4)) return PPD_BAD_VALUE;
  ppd_size_t* s = find_or_add_size(b, a.option);
  s->left = v[0];
  s->bottom = v[1];
  s->right = v[2];
  s->top = v[3];
  b.sizes_with_area.insert(s);
  return PPD_OK;
}

ppd_status_t font(builder& b, ppd_attr_t& a) {
  if (a.option.empty()) return PPD_ILLEGAL_OPTION_KEYWORD;
  b.ppd->fonts.push_back(a.option);
  return PPD_OK;
}

ppd_status_t emulators(builder& b, ppd_attr_t& a) {
  for (std::string_view n : split_ws(a.value)) {
    ppd_emul_t& em = b.ppd->emulations.emplace_back();
    em.name.assign(vorn::cut(n, PPD_MAX_NAME));
  }
  return PPD_OK;
}

ppd_status_t filter(builder& b, ppd_attr_t& a) {
  std::string_view v = vorn::trim(a.value);
  if (v.empty()) return PPD_BAD_VALUE;
  b.ppd->filters.emplace_back(v);
  return PPD_OK;
}

ppd_status_t color_profile(builder& b, ppd_attr_t& a) {
  if (a.option.empty()) return PPD_ILLEGAL_OPTION_KEYWORD;
  float v[11];
  if (!parse_floats(a.value, v, 11)) return PPD_BAD_VALUE;
  ppd_profile_t& p = b.ppd->profiles.emplace_back();
  p.resolution = a.option;
  p.media_type = a.text;
  p.density = v[0];
  p.gamma = v[1];
  for (int i = 0; i < 9; i++) p.matrix[i / 3][i % 3] = v[2 + i];
  return PPD_OK;
}

ppd_status_t custom_page_size(builder& b, ppd_attr_t& a) {
  if (a.option.empty()) return PPD_ILLEGAL_OPTION_KEYWORD;
  if (a.option == "True") b.custom_true = true;
  return PPD_OK;
}

ppd_status_t param_custom(builder& b, ppd_attr_t& a) {
  static const char* const names[PPD_CUSTOM_PARAMS] = {"Width", "Height", "WidthOffset",
                                                       "HeightOffset", "Orientation"};
  int which = -1;
  for (int i = 0; i < PPD_CUSTOM_PARAMS; i++)
    if (a.option == names[i]) which = i;
  if (which < 0) return PPD_ILLEGAL_OPTION_KEYWORD;
  std::vector<std::string_view> t = split_ws(a.value);
  int order;
  float range[2];
  if (t.size() != 4 || !parse_int(t[0], &order) || order < 1 || order > PPD_CUSTOM_PARAMS)
    return PPD_BAD_VALUE;
  std::string both = std::string(t[2]) + " " + std::string(t[3]);
  if (!parse_floats(both, range, 2) || range[0] > range[1]) return PPD_BAD_VALUE;
  float unit;
  if (t[1] == "points" || t[1] == "int" || t[1] == "real") unit = 1;
  else if (t[1] == "inches") unit = 72;
  else if (t[1] == "millimeters") unit = 72 / 25.4f;
  else if (t[1] == "centimeters") unit = 72 / 2.54f;
  else return PPD_BAD_VALUE;
  if (!std::isfinite(range[0] * unit) || !std::isfinite(range[1] * unit)) return PPD_BAD_VALUE;
  ppd_param_t& p = b.ppd->custom_params[which];
  p.order = order;
  p.type.assign(t[1]);
  p.min = range[0] * unit;
  p.max = range[1] * unit;
  return PPD_OK;
}

ppd_status_t max_media(builder& b, ppd_attr_t& a, int which) {
  float v;
  if (!parse_floats(a.value, &v, 1) || v <= 0) return PPD_BAD_VALUE;
  b.max_media[which] = v;
  return PPD_OK;
}

ppd_status_t hw_margins(builder& b, ppd_attr_t& a) {
  float v[4];
  if (!parse_floats(a.value, v, 4)) return PPD_BAD_VALUE;
  for (int i = 0; i < 4; i++) {
    if (v[i] < 0) return PPD_BAD_VALUE;
    b.ppd->custom_margins[i] = v[i];
  }
  return PPD_OK;
}

bool option_token(std::string_view t) {
  return t.size() >= 2 && t.size() <= PPD_MAX_NAME + 1 && t[0] == '*';
}

// "order section *Keyword [Choice]"
ppd_status_t order_dependency(builder& b, ppd_attr_t& a) {
  static const struct { const char* name; ppd_section_t section; } sections[] = {
      {"ExitServer", PPD_ORDER_EXIT},     {"Prolog", PPD_ORDER_PROLOG},
      {"DocumentSetup", PPD_ORDER_DOCUMENT}, {"PageSetup", PPD_ORDER_PAGE},
      {"JCLSetup", PPD_ORDER_JCL},        {"AnySetup", PPD_ORDER_ANY}};
  std::vector<std::string_view> t = split_ws(a.value);
  float order;
  if (t.size() < 3 || t.size() > 4 || !parse_floats(t[0], &order, 1) || !option_token(t[2]) ||
      (t.size() == 4 && (t[3][0] == '*' || t[3].size() > PPD_MAX_NAME)))
    return PPD_BAD_ORDER_DEPENDENCY;
  for (const auto& s : sections)
    if (t[1] == s.name) {
      b.orders.push_back({order, s.section, std::string(t[2].substr(1))});
      return PPD_OK;
    }
  return PPD_BAD_ORDER_DEPENDENCY;
}

// "*Option1 [Choice1] *Option2 [Choice2]"
ppd_status_t constraint(builder& b, ppd_attr_t& a) {
  std::vector<std::string_view> t = split_ws(a.value);
  ppd_const_t c;
  size_t i = 0;
  auto take = [&](std::string& option, std::string& choice) {
    if (i >= t.size() || !option_token(t[i])) return false;
    option.assign(t[i++].substr(1));
    if (i < t.size() && t[i][0] != '*') {
      if (t[i].size() > PPD_MAX_NAME) return false;
      choice.assign(t[i++]);
    }
    return true;
  };
  if (!take(c.option1, c.choice1) || !take(c.option2, c.choice2) || i != t.size())
    return PPD_BAD_UI_CONSTRAINTS;
  b.ppd->consts.push_back(std::move(c));
  return PPD_OK;
}

ppd_status_t symbol_value(builder&, ppd_attr_t& a) {
  return a.option.size() >= 2 && a.option[0] == '^' ? PPD_OK : PPD_ILLEGAL_OPTION_KEYWORD;
}

// Keywords that fill one field of the record. The first line of a text
// keyword wins, as for ppdFindAttr; hex substrings are decoded where the
// format makes the value a quoted string rather than PostScript.
const struct {
  std::string_view name;
  std::string ppd_file_t::*field;
  bool decode;
} text_fields[] = {
    {"FormatVersion", &ppd_file_t::format_version, false},
    {"FileVersion", &ppd_file_t::file_version, false},
    {"LanguageEncoding", &ppd_file_t::lang_encoding, false},
    {"LanguageVersion", &ppd_file_t::lang_version, false},
    {"PCFileName", &ppd_file_t::pcfilename, false},
    {"PSVersion", &ppd_file_t::psversion, false},
    {"TTRasterizer", &ppd_file_t::ttrasterizer, false},
    {"Protocols", &ppd_file_t::protocols, false},
    {"FileSystem", &ppd_file_t::file_system, false},
    {"Manufacturer", &ppd_file_t::manufacturer, true},
    {"ModelName", &ppd_file_t::modelname, true},
    {"NickName", &ppd_file_t::nickname, true},
    {"ShortNickName", &ppd_file_t::shortnickname, true},
    {"Product", &ppd_file_t::product, true},
    {"JCLBegin", &ppd_file_t::jcl_begin, true},
    {"JCLToPSInterpreter", &ppd_file_t::jcl_ps, true},
    {"JCLEnd", &ppd_file_t::jcl_end, true},
};

const struct {
  std::string_view name;
  int ppd_file_t::*field;
  int min;
} int_fields[] = {
    {"LanguageLevel", &ppd_file_t::language_level, 1},
    {"Throughput", &ppd_file_t::throughput, 0},
    {"vornModelNumber", &ppd_file_t::model_number, INT32_MIN},
};

const struct {
  std::string_view name;
  bool ppd_file_t::*field;
} bool_fields[] = {
    {"ColorDevice", &ppd_file_t::color_device},
    {"vornManualCopies", &ppd_file_t::manual_copies},
    {"AccurateScreensSupport", &ppd_file_t::accurate_screens},
    {"ContoneOnly", &ppd_file_t::contone_only},
};

ppd_status_t variable_paper(builder& b, ppd_attr_t& a) {
  return parse_bool(vorn::trim(a.value), &b.variable_paper) ? PPD_OK : PPD_BAD_VALUE;
}

ppd_status_t patch_file(builder& b, ppd_attr_t& a) {
  b.ppd->patches += a.value;
  return PPD_OK;
}

ppd_status_t max_media_width(builder& b, ppd_attr_t& a) { return max_media(b, a, 0); }
ppd_status_t max_media_height(builder& b, ppd_attr_t& a) { return max_media(b, a, 1); }

// Keywords with a meaning of their own.
const struct {
  std::string_view name;
  handler_fn fn;
} handlers[] = {
    {"VariablePaperSize", variable_paper},
    {"JobPatchFile", patch_file},
    {"DefaultColorSpace", color_space},
    {"LandscapeOrientation", landscape},
    {"PaperDimension", paper_dimension},
    {"ImageableArea", imageable_area},
    {"Font", font},
    {"Emulators", emulators},
    {"vornFilter", filter},
    {"vornColorProfile", color_profile},
    {"CustomPageSize", custom_page_size},
    {"ParamCustomPageSize", param_custom},
    {"MaxMediaWidth", max_media_width},
    {"MaxMediaHeight", max_media_height},
    {"HWMargins", hw_margins},
    {"OrderDependency", order_dependency},
    {"NonUIOrderDependency", order_dependency},
    {"UIConstraints", constraint},
    {"NonUIConstraints", constraint},
    {"SymbolValue", symbol_value},
};

// Applies the keyword of `a`; false when it has no meaning of its own.
bool apply(builder& b, ppd_attr_t& a, ppd_status_t* status) {
  *status = PPD_OK;
  ppd_file_t* ppd = b.ppd;
  for (const auto& t : text_fields)
    if (t.name == a.name) {
      std::string v;
      if (!t.decode) v = a.value;
      else if (!decode_hex(a.value, v)) *status = PPD_BAD_VALUE;
      if (*status == PPD_OK && (ppd->*t.field).empty()) ppd->*t.field = std::move(v);
      return true;
    }
  for (const auto& t : int_fields)
    if (t.name == a.name) {
      int v;
      if (!parse_int(a.value, &v) || v < t.min) *status = PPD_BAD_VALUE;
      else ppd->*t.field = v;
      return true;
    }
  for (const auto& t : bool_fields)
    if (t.name == a.name) {
      if (!parse_bool(vorn::trim(a.value), &(ppd->*t.field))) *status = PPD_BAD_VALUE;
      return true;
    }
  for (const auto& h : handlers)
    if (h.name == a.name) {
      *status = h.fn(b, a);
      return true;
    }
  return false;
}

}  // namespace

ppd_status_t apply_keyword(builder& b, size_t index) {
  ppd_status_t status;
  apply(b, b.ppd->attrs[index], &status);
  return status;
}

bool parse_floats(std::string_view s, float* out, size_t n) {
  size_t i = 0, count = 0;
  while (true) {
    while (i < s.size() && vorn::isspace(s[i])) i++;
    if (i == s.size()) break;
    if (count == n) return false;
    if (s[i] == '+') i++;
    float v;
    auto [p, ec] = std::from_chars(s.data() + i, s.data() + s.size(), v);
    if (ec != std::errc() || !std::isfinite(v)) return false;
    i = size_t(p - s.data());
    if (i < s.size() && !vorn::isspace(s[i])) return false;
    out[count++] = v;
  }
  return count == n;
}

bool parse_int(std::string_view s, int* out) {
  s = vorn::trim(s);
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
  return ec == std::errc() && p == s.data() + s.size();
}

bool parse_bool(std::string_view s, bool* out) {
  if (vorn::iequals(s, "True")) *out = true;
  else if (vorn::iequals(s, "False")) *out = false;
  else return false;
  return true;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = vorn::tolower(c);
  return out;
}

bool is_off_choice(std::string_view choice) {
  return vorn::iequals(choice, "None") || vorn::iequals(choice, "False") ||
         vorn::iequals(choice, "Off");
}

}  // namespace vorn::ppd_detail
