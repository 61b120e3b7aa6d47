// Feeds arbitrary options texts to the CGI argument split and arbitrary
// program output to the relay of CGI header lines and body, checking the
// limits each keeps: 1 to 98 arguments, no byte beyond the first 10239 of
// the text, no NUL inside an argument, header lines never longer than
// their limit.
//
// The first byte chooses where the output is cut into pieces and whether
// the body is chunked.
// fuzz-links: vornd_core

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "scheduler/conf/conf.h"
#include "scheduler/http/cgi.h"
#include "scheduler/http/client.h"
#include "scheduler/log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    LogLevel = L_NONE;
    return true;
  }();
  (void)ready;
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  const std::string command = "/srv/cgi-bin/prog.cgi";
  std::vector<std::string> args = CGIArguments(command, text);
  if (args.empty() || args.size() > kMaxCGIArgs || args[0].empty()) std::abort();
  size_t total = 0;
  for (const std::string& a : args) {
    if (a.find('\0') != std::string::npos) std::abort();
    total += a.size();
  }
  // Decoding only shortens; argv[0] may be the program's name instead.
  if (total > std::min(text.size(), kMaxCGIOptions) + std::string("prog.cgi").size()) std::abort();

  client_t con;
  con.http.data_encoding = (mode & 1) ? HTTP_ENCODE_CHUNKED : HTTP_ENCODE_LENGTH;
  size_t step = (mode >> 1) + 1;
  for (size_t at = 0; at < text.size(); at += step) RelayCGIOutput(&con, text.substr(at, step));
  EndCGIOutput(&con);
  if (!con.cgi_headers_done) std::abort();
  if (con.cgi_line.size() > kMaxCGIHeaderLine) std::abort();
  return 0;
}
