// The saved-destination files (format in vorn/dests.h); shared between the
// destination files of lib/util and the fuzz target, not a public header.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vorn/options.h"

namespace vorn::dests {

// One "Dest" or "Default" line.
struct line_t {
  bool is_default = false;
  std::string name;
  std::string instance;
  vorn_options_t options;
};

// What a file holds: its destination lines in file order, and every other
// line exactly as it was (without its final line break).
struct file_t {
  std::vector<line_t> dests;
  std::vector<std::string> other_lines;
};

constexpr size_t kMaxFileSize = size_t(4) << 20;

// Splits the text of a file. Any input is safe.
void parse_file(std::string_view text, file_t& file);

// The options as the option part of a line: " name=value" for each, values
// quoted and escaped so vornParseOptions gives them back byte for byte (a
// line break inside a value is written as a backslash and the break itself).
// Options whose names cannot be written are left out.
std::string format_options(const vorn_options_t& options);

// Reads the file at `path` into `file`. 1 when read, 0 when there is no
// such file, -1 with errno when it cannot be read (EFBIG: larger than
// kMaxFileSize).
int read_file(const std::string& path, file_t& file);

// SERVERROOT/dests.conf and $HOME/.vorndests (empty when there is no home).
std::string system_file();
std::string user_file();

}  // namespace vorn::dests
