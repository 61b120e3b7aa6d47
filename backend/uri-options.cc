#include "backend/uri-options.h"

#include "vorn/strings.h"

namespace vorn::backend {

std::vector<UriOption> split_uri_options(std::string_view list) {
  std::vector<UriOption> out;
  while (!list.empty()) {
    size_t plus = list.find('+');
    std::string_view item = list.substr(0, plus);
    list = plus == std::string_view::npos ? std::string_view() : list.substr(plus + 1);
    if (item.empty()) continue;
    size_t eq = item.find('=');
    std::string_view name = item.substr(0, eq);
    std::string_view value = eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
    out.push_back({std::string(cut(name, kMaxOptionText)), std::string(cut(value, kMaxOptionText))});
  }
  return out;
}

}  // namespace vorn::backend
