// Feeds arbitrary Authorization field values through decode_auth and
// IsAuthorized: Basic (Base64 of "user:password"), Digest sub-fields and
// local certificates, against a Digest location, a BasicDigest one and an
// anonymous one with a passwd.md5 entry. No Basic location: PAM would only
// slow the run down.
//
// The first byte picks the resource and the peer (this host or another).
// fuzz-links: vornd_core

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "scheduler/auth/auth.h"
#include "scheduler/auth/certs.h"
#include "scheduler/auth/location.h"
#include "scheduler/conf/conf.h"
#include "scheduler/http/client.h"
#include "scheduler/log.h"

namespace {

void setup() {
  LogLevel = L_NONE;
  ErrorLog.clear();
  AccessLog.clear();
  char tmpl[] = "/tmp/vorn-auth-fuzz-XXXXXX";
  if (!::mkdtemp(tmpl)) std::abort();
  ServerRoot = tmpl;
  char md5[33];
  httpMD5("alice", "VORN", "alice-pw1", md5);
  std::string path = ServerRoot + "/passwd.md5";
  if (FILE* f = std::fopen(path.c_str(), "w")) {
    std::fprintf(f, "alice:sys:%s\n", md5);
    std::fclose(f);
  }
  location_t* anon = AddLocation("/");
  anon->limit = LIMIT_ALL;
  location_t* digest = AddLocation("/digest");
  digest->limit = LIMIT_ALL;
  digest->auth_type = AUTH_DIGEST;
  digest->level = AUTH_USER;
  location_t* bd = AddLocation("/bd");
  bd->limit = LIMIT_ALL;
  bd->auth_type = AUTH_BASICDIGEST;
  bd->level = AUTH_GROUP;
  AddLocationName(bd, "sys");
}

const char* kResources[] = {"/", "/digest/x", "/bd", "/admin/conf/vornd.conf"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = (setup(), true);
  (void)ready;
  if (size < 1) return 0;
  uint8_t mode = data[0];
  std::string value(reinterpret_cast<const char*>(data + 1), size - 1);

  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  ::close(fds[1]);
  http_addr_t addr{};
  addr.ipv4.sin_family = AF_INET;
  addr.ipv4.sin_addr.s_addr = htonl((mode & 1) ? 0x7f000001 : 0x0a010203);
  client_t con;
  httpInitServer(&con.http, fds[0], &addr.addr, sizeof(addr.ipv4));
  con.http.state = (mode & 2) ? HTTP_GET_SEND : HTTP_POST_RECV;
  con.resource = kResources[(mode >> 2) % 4];
  httpSetField(&con.http, HTTP_FIELD_AUTHORIZATION, value.c_str());
  decode_auth(&con);
  if (con.username.size() > kMaxUsername || con.password.size() > kMaxUsername) __builtin_trap();
  http_status_t status = IsAuthorized(&con);
  if (status != HTTP_OK && status != HTTP_UNAUTHORIZED && status != HTTP_FORBIDDEN &&
      status != HTTP_UPGRADE_REQUIRED)
    __builtin_trap();
  // Only alice has a password here: no one else can come out verified.
  if (status == HTTP_OK && !con.username.empty() && con.username != "alice") __builtin_trap();
  httpCloseSocket(&con.http);
  return 0;
}
