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
// `script` is one of the node clients, relative to the source tree.
inline Reply RunClient(const std::string& node, const std::string& script, int port, int op,
                       const std::vector<std::string>& args) {
  std::vector<std::string> argv = {node, SourceDir() + "/" + script, std::to_string(port), std::to_string(op)};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = RunProgram(argv, 30s);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  return Parse(r.out);
}

inline Reply RunQuery(const std::string& node, int port, int op, const std::vector<std::string>& attrs) {
  return RunClient(node, "tests/e2e/query_client.js", port, op, attrs);
}

// Runs tests/fixtures/submit/submit_client.js (submissions, with documents
// as "@path" arguments) for operation `op`.
inline Reply RunSubmit(const std::string& node, int port, int op, const std::vector<std::string>& args) {
  return RunClient(node, "tests/fixtures/submit/submit_client.js", port, op, args);
}

}  // namespace e2e
