// The option list of a device URI: the text after "?", items separated by
// "+", each "name=value" (an item without "=" has an empty value).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorn::backend {

// Names and values are each cut to this many characters, so an over-long
// item never spills into the next one.
inline constexpr size_t kMaxOptionText = 255;

struct UriOption {
  std::string name;
  std::string value;
};

// The items of `list` in order; empty items ("a=1++b=2") are skipped.
std::vector<UriOption> split_uri_options(std::string_view list);

}  // namespace vorn::backend
