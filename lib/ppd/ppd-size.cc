// Page sizes: named, marked and custom ("Custom.WIDTHxHEIGHT[unit]").
#include <charconv>
#include <cmath>

#include "ppd-private.h"
#include "vorn/strings.h"

using namespace vorn::ppd_detail;

namespace vorn::ppd_detail {

bool parse_custom_size(std::string_view name, float* width, float* length) {
  if (!vorn::istarts_with(name, "Custom.")) return false;
  std::string_view s = name.substr(7);
  const char* p = s.data();
  const char* end = s.data() + s.size();
  float w, l;
  auto r1 = std::from_chars(p, end, w);
  if (r1.ec != std::errc() || r1.ptr == end || (*r1.ptr != 'x' && *r1.ptr != 'X')) return false;
  auto r2 = std::from_chars(r1.ptr + 1, end, l);
  if (r2.ec != std::errc()) return false;
  std::string_view unit(r2.ptr, size_t(end - r2.ptr));
  float scale;
  if (unit.empty() || vorn::iequals(unit, "pt")) scale = 1;
  else if (vorn::iequals(unit, "in")) scale = 72;
  else if (vorn::iequals(unit, "cm")) scale = 72 / 2.54f;
  else if (vorn::iequals(unit, "mm")) scale = 72 / 25.4f;
  else return false;
  w *= scale;
  l *= scale;
  if (!std::isfinite(w) || !std::isfinite(l) || w <= 0 || l <= 0) return false;
  *width = w;
  *length = l;
  return true;
}

ppd_size_t* set_custom_size(ppd_file_t* ppd, float width, float length) {
  if (!ppd->variable_sizes) return nullptr;
  const float size[2] = {width, length};
  for (int i = 0; i < 2; i++) {
    if (size[i] < ppd->custom_min[i]) return nullptr;
    if (ppd->custom_max[i] > 0 && size[i] > ppd->custom_max[i]) return nullptr;
  }
  for (auto& s : ppd->sizes)
    if (s.name == "Custom") {
      s.width = width;
      s.length = length;
      s.left = ppd->custom_margins[0];
      s.bottom = ppd->custom_margins[1];
      s.right = width - ppd->custom_margins[2];
      s.top = length - ppd->custom_margins[3];
      return &s;
    }
  return nullptr;
}

}  // namespace vorn::ppd_detail

ppd_size_t* ppdPageSize(ppd_file_t* ppd, const char* name) {
  if (!ppd) return nullptr;
  if (name && *name) {
    float w, l;
    if (parse_custom_size(name, &w, &l)) return set_custom_size(ppd, w, l);
    for (auto& s : ppd->sizes)
      if (vorn::iequals(s.name, name)) return &s;
    return nullptr;
  }
  for (auto& s : ppd->sizes)
    if (s.marked) return s.width > 0 && s.length > 0 ? &s : nullptr;
  return nullptr;
}

float ppdPageWidth(ppd_file_t* ppd, const char* name) {
  ppd_size_t* s = ppdPageSize(ppd, name);
  return s ? s->width : 0;
}

float ppdPageLength(ppd_file_t* ppd, const char* name) {
  ppd_size_t* s = ppdPageSize(ppd, name);
  return s ? s->length : 0;
}
