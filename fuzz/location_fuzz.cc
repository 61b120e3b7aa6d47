// Feeds arbitrary text through the configuration reader as the body of a
// Location block (Order, Allow, Deny, Limit, AuthType, Require, ...), then
// decides requests of a few peers with the locations it made.
// fuzz-links: vornd_core

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "scheduler/auth/auth.h"
#include "scheduler/auth/hosts.h"
#include "scheduler/auth/location.h"
#include "scheduler/conf/conf-private.h"
#include "scheduler/conf/conf.h"
#include "scheduler/log.h"

namespace {

std::string Path;

sock_addr_t ipv4(uint32_t a) {
  sock_addr_t s{};
  s.ipv4.sin_family = AF_INET;
  s.ipv4.sin_addr.s_addr = htonl(a);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (Path.empty()) {
    LogLevel = L_NONE;
    ErrorLog.clear();
    char tmpl[] = "/tmp/vorn-location-fuzz-XXXXXX";
    int fd = ::mkstemp(tmpl);
    if (fd < 0) std::abort();
    ::close(fd);
    Path = tmpl;
  }
  FILE* f = std::fopen(Path.c_str(), "w");
  if (!f) return 0;
  std::fputs("<Location /fuzz>\n", f);
  std::fwrite(data, 1, size, f);
  std::fputs("\n</Location>\n", f);
  std::fclose(f);

  conf_t conf;
  if (!parse_configuration(Path.c_str(), conf)) return 0;
  Locations = std::move(conf.locations);
  const sock_addr_t peers[] = {ipv4(0x7f000001), ipv4(0x0a010203), ipv4(0xc0000201)};
  for (const auto& loc : Locations) {
    if (loc->path.size() > kMaxLocationPath || (loc->limit & ~LIMIT_ALL)) __builtin_trap();
    for (const sock_addr_t& peer : peers) HostAllowed(loc.get(), peer, "host.example.com");
  }
  for (const char* resource : {"/fuzz", "/fuzz/x.ppd", "/printers/fuzz.ppd", "/"})
    for (http_state_t state : {HTTP_GET_SEND, HTTP_POST_RECV, HTTP_PUT_RECV, HTTP_OPTIONS})
      FindBest(resource, state);
  Locations.clear();
  return 0;
}
