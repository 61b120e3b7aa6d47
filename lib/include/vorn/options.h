// Option strings: "name=value name2='quoted value' flag noflag".
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct ipp_s;  // vorn/ipp.h

struct vorn_option_t {
  std::string name;
  std::string value;
};
using vorn_options_t = std::vector<vorn_option_t>;

// Adds the options of `arg` to `options` and returns the new count. Values may
// be quoted with ' or " and use backslash escapes; a bare name is "true", a
// name "noX" with no value sets X to "false"; a repeated name replaces the
// earlier value.
int vornParseOptions(std::string_view arg, vorn_options_t& options);

// Adds or replaces one option; returns the new count.
int vornAddOption(std::string_view name, std::string_view value, vorn_options_t& options);

// The value of `name` (compared without regard to case), or nullptr. The
// pointer stays valid until `options` is changed.
const char* vornGetOption(std::string_view name, const vorn_options_t& options);

// Removes every option.
void vornFreeOptions(vorn_options_t& options);

// Adds the options as job attributes to `ipp` with their IPP value types
// (integers, booleans, ranges, resolutions, keywords, names).
void vornEncodeOptions(ipp_s* ipp, const vorn_options_t& options);
