// Answers to authentication challenges: Basic and Digest (RFC 2617, without
// qop) credentials, and the password remembered for the process so a
// command asks for it once.

#include <fcntl.h>
#include <netinet/in.h>
#include <string.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>

#include "../http/tls-loader.h"
#include "request-private.h"
#include "vorn/client.h"
#include "vorn/fd.h"
#include "vorn/paths.h"
#include "vorn/strings.h"

namespace vorn::request {
namespace {

constexpr int kMaxPrompts = 3;

// The last password that got a request through, with where it worked.
struct remembered_t {
  std::string host;
  std::string user;
  std::string realm;
  std::string password;
};

std::mutex remembered_mutex;
remembered_t& remembered() {
  static auto* r = new remembered_t;  // never destroyed: usable from exit handlers
  return *r;
}

void wipe(std::string& s) {
  explicit_bzero(s.data(), s.size());
  s.clear();
}

// A quoted-string value: backslash before '"' and '\'.
std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

void set_digest(http_t* http, const std::string& user, const std::string& realm, const std::string& password,
                const char* method, const char* resource) {
  char md5[33];
  httpMD5(user.c_str(), realm.c_str(), password.c_str(), md5);
  if (!md5[0]) return;  // no digest library: an empty response would only be refused
  httpMD5Final(http->nonce, method, resource, md5);
  std::string data = "username=" + quoted(user) + ", realm=" + quoted(realm) + ", nonce=" + quoted(http->nonce) +
                     ", uri=" + quoted(resource) + ", response=" + quoted(md5);
  httpSetAuthString(http, "Digest", data.c_str());
  explicit_bzero(md5, sizeof(md5));
}

void set_basic(http_t* http, const std::string& user, const std::string& password) {
  std::string pair = user + ":" + password;
  char encoded[HTTP_MAX_AUTH];
  httpEncode64(encoded, sizeof(encoded), pair.data(), int(pair.size()));
  httpSetAuthString(http, "Basic", encoded);
  wipe(pair);
  explicit_bzero(encoded, sizeof(encoded));
}

// Whether the connection's peer is this host's loopback address: local
// certificates are only ever shown to the scheduler on this machine.
bool peer_is_loopback(const http_t* http) {
  const http_addr_t& a = http->hostaddr;
  if (a.addr.sa_family == AF_INET) return (ntohl(a.ipv4.sin_addr.s_addr) >> 24) == 127;
  if (a.addr.sa_family == AF_INET6) {
    const in6_addr& v6 = a.ipv6.sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
  }
  return false;
}

// The local certificate this process may present: its own (a program the
// scheduler started gets one under its pid), else the root certificate,
// which only administrators can read. Empty when neither can be read.
std::string local_certificate() {
  const char* root = std::getenv("VORN_SERVERROOT");
  const std::string dir = std::string(root && *root ? root : VORN_DEFAULT_SERVERROOT) + "/certs/";
  for (const std::string& name : {std::to_string(::getpid()), std::string("0")}) {
    vorn::unique_fd fd(::open((dir + name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd) continue;
    char text[65] = "";
    ssize_t n = ::read(fd.get(), text, sizeof(text) - 1);
    if (n <= 0) continue;
    std::string cert(text, size_t(n));
    while (!cert.empty() && (cert.back() == '\n' || cert.back() == '\r')) cert.pop_back();
    bool plain = !cert.empty();
    for (char c : cert) plain = plain && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
    if (plain) return cert;
  }
  return "";
}

}  // namespace

auth_attempt_t::~auth_attempt_t() { wipe(password); }

bool answer_challenge(http_t* http, const char* method, const char* resource, auth_attempt_t& auth) {
  const std::string user = vornUser();
  const std::string host = http->hostname;
  std::string_view challenge = vorn::trim(httpGetField(http, HTTP_FIELD_WWW_AUTHENTICATE));
  const bool digest = vorn::istarts_with(challenge, "Digest");
  char realm[HTTP_MAX_VALUE] = "", nonce[HTTP_MAX_VALUE] = "";
  if (digest) {
    httpGetSubField(http, HTTP_FIELD_WWW_AUTHENTICATE, "realm", realm, sizeof(realm));
    httpGetSubField(http, HTTP_FIELD_WWW_AUTHENTICATE, "nonce", nonce, sizeof(nonce));
  }

  // On this host a readable certificate answers first, so administrators
  // are not asked for a password.
  if (!auth.tried_local && peer_is_loopback(http)) {
    auth.tried_local = true;
    std::string cert = local_certificate();
    if (!cert.empty()) {
      httpSetAuthString(http, "Local", cert.c_str());
      wipe(cert);
      return true;
    }
  }

  // Digests need OpenSSL; without it there is no answer, so no one is asked
  // for a password that cannot be used.
  if (digest && !vorn::http::tls_library()) return false;

  std::string password;
  {
    std::lock_guard<std::mutex> lock(remembered_mutex);
    remembered_t& r = remembered();
    if (auth.sent_remembered) wipe(r.password);  // it was refused: ask instead
    if (!auth.tried_remembered && !r.password.empty() && r.host == host && r.user == user) password = r.password;
  }
  auth.tried_remembered = true;
  auth.sent_remembered = !password.empty();
  if (password.empty()) {
    if (auth.prompts >= kMaxPrompts) return false;
    auth.prompts++;
    std::string prompt = "Password for " + user + " on " + host + "? ";
    const char* answer = vornGetPassword(prompt.c_str());
    if (!answer || !*answer) return false;
    password = answer;
  }

  if (digest) {
    vorn::strlcpy(http->nonce, nonce, sizeof(http->nonce));
    set_digest(http, user, realm, password, method, resource);
  } else {
    set_basic(http, user, password);
  }
  auth.realm = realm;
  wipe(auth.password);
  auth.password = std::move(password);
  return true;
}

void refresh_digest(http_t* http, const char* method, const char* resource) {
  if (!vorn::istarts_with(http->authstring, "Digest ") || !http->nonce[0]) return;
  const std::string user = vornUser();
  std::lock_guard<std::mutex> lock(remembered_mutex);
  const remembered_t& r = remembered();
  if (r.password.empty() || r.host != http->hostname || r.user != user) return;
  set_digest(http, user, r.realm, r.password, method, resource);
}

void auth_succeeded(const http_t* http, auth_attempt_t& auth) {
  if (auth.password.empty()) return;
  std::lock_guard<std::mutex> lock(remembered_mutex);
  remembered_t& r = remembered();
  r.host = http->hostname;
  r.user = vornUser();
  r.realm = auth.realm;
  wipe(r.password);
  r.password = auth.password;
}

}  // namespace vorn::request
