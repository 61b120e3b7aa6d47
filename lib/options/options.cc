// Option strings: "name=value name2='quoted value' flag noflag".
#include "vorn/options.h"

#include "vorn/strings.h"

namespace {

// Reads one value starting at `i` up to the first white space outside quotes.
// Quotes may open and close anywhere inside the value ("a'b c'd" is "ab cd");
// a backslash takes the next byte literally, inside quotes too. A quote left
// open runs to the end of the input, so a broken string still ends.
std::string read_value(std::string_view s, size_t& i) {
  std::string v;
  char quote = 0;
  while (i < s.size()) {
    char c = s[i];
    if (!quote && vorn::isspace(c)) break;
    i++;
    if (c == '\\') {
      if (i < s.size()) v += s[i++];
    } else if (quote && c == quote) {
      quote = 0;
    } else if (!quote && (c == '\'' || c == '"')) {
      quote = c;
    } else {
      v += c;
    }
  }
  return v;
}

vorn_option_t* find_option(std::string_view name, vorn_options_t& options) {
  for (auto& o : options)
    if (vorn::iequals(o.name, name)) return &o;
  return nullptr;
}

}  // namespace

int vornAddOption(std::string_view name, std::string_view value, vorn_options_t& options) {
  if (name.empty()) return int(options.size());
  if (vorn_option_t* o = find_option(name, options))
    o->value.assign(value);
  else
    options.push_back({std::string(name), std::string(value)});
  return int(options.size());
}

int vornParseOptions(std::string_view arg, vorn_options_t& options) {
  size_t i = 0;
  while (i < arg.size()) {
    if (vorn::isspace(arg[i])) {
      i++;
      continue;
    }
    size_t start = i;
    while (i < arg.size() && arg[i] != '=' && !vorn::isspace(arg[i])) i++;
    std::string_view name = arg.substr(start, i - start);

    if (i < arg.size() && arg[i] == '=') {
      i++;
      std::string value = read_value(arg, i);
      vornAddOption(name, value, options);  // an empty name is dropped there
    } else if (name.size() > 2 && vorn::istarts_with(name, "no")) {
      vornAddOption(name.substr(2), "false", options);
    } else {
      vornAddOption(name, "true", options);
    }
  }
  return int(options.size());
}

const char* vornGetOption(std::string_view name, const vorn_options_t& options) {
  for (const auto& o : options)
    if (vorn::iequals(o.name, name)) return o.value.c_str();
  return nullptr;
}

void vornFreeOptions(vorn_options_t& options) {
  options.clear();
  options.shrink_to_fit();
}
