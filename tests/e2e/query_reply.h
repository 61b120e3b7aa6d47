// The replies of tests/e2e/query_client.js, parsed for the query tests.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

// One decoded reply: status and groups, each a list of "name=values" lines.
struct Reply {
  std::string status;
  std::vector<int> tags;
  std::vector<std::vector<std::string>> groups;
  std::string raw;

  // Names of the attributes of group `g`, in order.
  std::vector<std::string> names(size_t g) const {
    std::vector<std::string> out;
    for (const std::string& line : groups.at(g)) out.push_back(line.substr(0, line.find('=')));
    return out;
  }
  // The value text of `name` in group `g`; "(none)" when missing.
  std::string value(size_t g, const std::string& name) const {
    for (const std::string& line : groups.at(g))
      if (line.compare(0, name.size() + 1, name + "=") == 0) return line.substr(name.size() + 1);
    return "(none)";
  }
  // printer-name of every printer group (tag 04), in order.
  std::vector<std::string> printer_names() const {
    std::vector<std::string> out;
    for (size_t g = 0; g < groups.size(); g++)
      if (tags[g] == 4) out.push_back(value(g, "printer-name"));
    return out;
  }
};

inline Reply Parse(const std::string& text) {
  Reply r;
  r.raw = text;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("status ", 0) == 0) {
      r.status = line.substr(7);
    } else if (line.rfind("group ", 0) == 0) {
      r.tags.push_back(std::stoi(line.substr(6), nullptr, 16));
      r.groups.emplace_back();
    } else if (!r.groups.empty()) {
      r.groups.back().push_back(line);
    }
  }
  return r;
}

// Runs query_client.js for operation `op` with NAME=TAG:VALUES arguments
// against the vornd on `port`.
inline Reply RunQuery(const std::string& node, int port, int op, const std::vector<std::string>& attrs) {
  std::vector<std::string> argv = {node, SourceDir() + "/tests/e2e/query_client.js", std::to_string(port),
                                   std::to_string(op)};
  argv.insert(argv.end(), attrs.begin(), attrs.end());
  RunResult r = RunProgram(argv, 30s);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  return Parse(r.out);
}

}  // namespace e2e
