// Data a network printer sends back while it is printed to, turned into
// readable "DEBUG: DATA: " status lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorn::backend {

// The lines of one received piece of data, each "DEBUG: DATA: %s\n": bytes
// 0x20 to 0x7E as they are, any other byte as "<%02X>"; a line is ended as
// soon as it holds more than 72 characters, and a non-empty rest ends the
// last one. Empty input gives no lines.
std::vector<std::string> backchannel_lines(std::string_view data);

// Writes "INFO: Received %d bytes of back-channel data!\n" and the lines of
// backchannel_lines to standard error.
void report_backchannel(std::string_view data);

}  // namespace vorn::backend
