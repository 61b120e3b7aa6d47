#include "backend/backchannel.h"

#include <cstdio>

#include "backend/backend-common.h"

namespace vorn::backend {
namespace {

constexpr size_t kLineWidth = 72;

}  // namespace

std::vector<std::string> backchannel_lines(std::string_view data) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : data) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u <= 0x7e) {
      line += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "<%02X>", u);
      line += hex;
    }
    if (line.size() > kLineWidth) {
      lines.push_back("DEBUG: DATA: " + line + "\n");
      line.clear();
    }
  }
  if (!line.empty()) lines.push_back("DEBUG: DATA: " + line + "\n");
  return lines;
}

void report_backchannel(std::string_view data) {
  status_line("INFO: Received %d bytes of back-channel data!\n", int(data.size()));
  for (const std::string& line : backchannel_lines(data)) status_line("%s", line.c_str());
}

}  // namespace vorn::backend
