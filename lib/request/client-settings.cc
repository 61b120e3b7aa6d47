// Client settings: server, port, user name, encryption.
#include "vorn/client.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "vorn/strings.h"

namespace {

constexpr int kDefaultPort = 631;
constexpr size_t kMaxHost = 255;
constexpr size_t kMaxUser = 255;

struct settings {
  bool loaded = false;  // VORN_SERVER read
  std::string server;
  int port = 0;  // 0: the default
  std::string user;
  bool encryption_set = false;  // by vornSetEncryption; else VORN_ENCRYPTION counts
  http_encryption_t encryption = HTTP_ENCRYPT_IF_REQUESTED;
};

std::mutex settings_mutex;
settings& state() {
  static auto* s = new settings;  // never destroyed: usable from exit handlers
  return *s;
}

// Splits "host", "host:port", "[v6]", "[v6]:port". A bare IPv6 address (more
// than one colon) has no port part.
void split_server(std::string_view s, std::string& host, int& port) {
  port = 0;
  std::string_view h = s;
  if (!s.empty() && s.front() == '[') {
    size_t close = s.find(']');
    if (close != std::string_view::npos) {
      h = s.substr(1, close - 1);
      std::string_view rest = s.substr(close + 1);
      if (rest.size() > 1 && rest.front() == ':') port = vorn::parse_port(rest.substr(1));
    }
  } else if (size_t colon = s.find(':');
             colon != std::string_view::npos && s.find(':', colon + 1) == std::string_view::npos) {
    h = s.substr(0, colon);
    port = vorn::parse_port(s.substr(colon + 1));
  }
  host = h.empty() ? "localhost" : std::string(vorn::cut(h, kMaxHost));
}

void set_server_locked(settings& st, const char* server) {
  if (!server || !*server) server = std::getenv("VORN_SERVER");
  split_server(server ? server : "", st.server, st.port);
}

http_encryption_t environment_encryption() {
  const char* e = std::getenv("VORN_ENCRYPTION");
  if (!e) return HTTP_ENCRYPT_IF_REQUESTED;
  if (vorn::iequals(e, "Never")) return HTTP_ENCRYPT_NEVER;
  if (vorn::iequals(e, "Required")) return HTTP_ENCRYPT_REQUIRED;
  if (vorn::iequals(e, "Always")) return HTTP_ENCRYPT_ALWAYS;
  return HTTP_ENCRYPT_IF_REQUESTED;
}

settings& loaded_state() {
  settings& st = state();
  if (!st.loaded) {
    st.loaded = true;
    set_server_locked(st, nullptr);
  }
  return st;
}

std::string login_name() {
  uid_t uid = getuid();
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? size_t(size) : 16384);
  struct passwd pw, *result = nullptr;
  if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_name &&
      *result->pw_name)
    return std::string(vorn::cut(result->pw_name, kMaxUser));
  return std::to_string(uid);
}

}  // namespace

const char* vornServer() {
  std::lock_guard<std::mutex> lock(settings_mutex);
  return loaded_state().server.c_str();
}

void vornSetServer(const char* server) {
  std::lock_guard<std::mutex> lock(settings_mutex);
  settings& st = loaded_state();
  set_server_locked(st, server);
}

// A port named with the server (by the program or in VORN_SERVER) is the more
// specific choice, so it wins over IPP_PORT; IPP_PORT over the default.
int ippPort() {
  {
    std::lock_guard<std::mutex> lock(settings_mutex);
    if (int port = loaded_state().port) return port;
  }
  if (const char* env = std::getenv("IPP_PORT"))
    if (int port = vorn::parse_port(env)) return port;
  return kDefaultPort;
}

void ippSetPort(int port) {
  std::lock_guard<std::mutex> lock(settings_mutex);
  loaded_state().port = port >= 1 && port <= 65535 ? port : 0;
}

const char* vornUser() {
  std::lock_guard<std::mutex> lock(settings_mutex);
  settings& st = loaded_state();
  if (st.user.empty()) st.user = login_name();
  return st.user.c_str();
}

void vornSetUser(const char* user) {
  std::lock_guard<std::mutex> lock(settings_mutex);
  settings& st = loaded_state();
  if (user && *user)
    st.user.assign(vorn::cut(user, kMaxUser));
  else
    st.user = login_name();
}

http_encryption_t vornEncryption() {
  std::lock_guard<std::mutex> lock(settings_mutex);
  const settings& st = state();
  return st.encryption_set ? st.encryption : environment_encryption();
}

void vornSetEncryption(http_encryption_t mode) {
  std::lock_guard<std::mutex> lock(settings_mutex);
  settings& st = state();
  st.encryption_set = true;
  st.encryption = mode;
}
