// IsAuthorized: host rules, encryption, passwords and levels of the location
// of a request.
#include <grp.h>
#include <pwd.h>
#include <string>
#include <vector>

#include "scheduler/auth/auth.h"
#include "scheduler/auth/hosts.h"
#include "scheduler/auth/location.h"
#include "scheduler/conf/conf.h"
#include "scheduler/http/client.h"
#include "scheduler/log.h"
#include "vorn/strings.h"

namespace {

constexpr std::string_view kConfResource = "/admin/conf";

// What a location asks of a request, after the adjustments below.
struct demand_t {
  int level;
  int auth_type;
  const std::vector<std::string>* names;
};

std::vector<std::string> system_group_names() {
  size_t count = NumSystemGroups > 0 ? size_t(NumSystemGroups) : SystemGroups.size();
  return {SystemGroups.begin(), SystemGroups.begin() + std::min(count, SystemGroups.size())};
}

// The user's stored digest for the location: with group names, the first
// of them that has an entry for the user.
bool find_md5(const std::string& user, const demand_t& d, std::string& hash, std::string& group) {
  if (d.level == AUTH_GROUP && !d.names->empty()) {
    LogDiagnostic(L_DEBUG2, "IsAuthorized: num_names = %d", int(d.names->size()));
    for (const std::string& name : *d.names)
      if (GetMD5Passwd(user.c_str(), name.c_str(), hash, &group)) return true;
    return false;
  }
  return GetMD5Passwd(user.c_str(), nullptr, hash, &group);
}

bool check_digest(client_t* con, const demand_t& d, std::string& md5_group) {
  http_t& http = con->http;
  char nonce[HTTP_MAX_VALUE];
  if (!httpGetSubField(&http, HTTP_FIELD_AUTHORIZATION, "nonce", nonce, sizeof(nonce))) {
    LogDiagnostic(L_ERROR, "IsAuthorized: No nonce value for Digest authentication!");
    return false;
  }
  if (std::string_view(nonce) != http.hostname) {
    LogDiagnostic(L_ERROR, "IsAuthorized: Nonce value error!");
    LogDiagnostic(L_ERROR, "IsAuthorized: Expected \"%s\",", http.hostname);
    LogDiagnostic(L_ERROR, "IsAuthorized: Got \"%s\"!", nonce);
    return false;
  }
  LogDiagnostic(L_DEBUG2, "IsAuthorized: nonce = \"%s\"", nonce);
  std::string hash;
  if (!find_md5(con->username, d, hash, md5_group)) {
    LogDiagnostic(L_ERROR, "IsAuthorized: No matching user:group for \"%s\" in passwd.md5!", con->username.c_str());
    return false;
  }
  char md5[33];
  vorn::strlcpy(md5, hash, sizeof(md5));
  httpMD5Final(nonce, MethodNameOfState(http.state), con->resource.c_str(), md5);
  if (con->password != md5) {
    LogDiagnostic(L_ERROR, "IsAuthorized: MD5s \"%s\" and \"%s\" don't match!", md5, con->password.c_str());
    return false;
  }
  return true;
}

bool check_basic_digest(client_t* con, const demand_t& d, std::string& md5_group) {
  std::string hash;
  if (!find_md5(con->username, d, hash, md5_group)) {
    LogDiagnostic(L_ERROR, "IsAuthorized: No matching user:group for \"%s\" in passwd.md5!", con->username.c_str());
    return false;
  }
  char md5[33];
  httpMD5(con->username.c_str(), "VORN", con->password.c_str(), md5);
  if (hash != md5) {
    LogDiagnostic(L_ERROR, "IsAuthorized: MD5s \"%s\" and \"%s\" don't match!", md5, hash.c_str());
    return false;
  }
  return true;
}

// Drops the credentials of a request that goes on without a verified user,
// or that is refused.
http_status_t without_identity(client_t* con, http_status_t status) {
  con->username.clear();
  con->md5_group.clear();
  con->password.clear();
  return status;
}

}  // namespace

bool UserInGroup(const std::string& user, const std::string& name, bool& exists) {
  const group* g = ::getgrnam(name.c_str());
  exists = g != nullptr;
  if (!g) return false;
  for (char** member = g->gr_mem; member && *member; member++)
    if (user == *member) return true;
  const passwd* pw = ::getpwnam(user.c_str());
  return pw && pw->pw_gid == g->gr_gid;
}

bool IsAdministrator(const std::string& user, const char* md5_group) {
  if (user == "root") return true;
  for (const std::string& name : system_group_names()) {
    bool exists;
    if (UserInGroup(user, name, exists)) return true;
    if (md5_group && name == md5_group) return true;
  }
  return false;
}

http_status_t IsAuthorized(client_t* con) {
  http_t& http = con->http;
  LogDiagnostic(L_DEBUG2, "IsAuthorized: con->uri = \"%s\"", con->resource.c_str());
  // "OPTIONS *" asks about the whole server.
  const location_t* best = FindBest(con->resource == "*" ? "/" : con->resource, http.state);
  con->auth_location = best;
  if (!best) return without_identity(con, HTTP_FORBIDDEN);

  demand_t d{best->level, best->auth_type, &best->names};
  // The configuration files hold every secret of the scheduler: whatever
  // their location says, only administrators read or replace them.
  bool conf_resource = con->resource.starts_with(kConfResource);
  std::vector<std::string> admin_groups;
  if (conf_resource && d.level == AUTH_ANON) {
    admin_groups = system_group_names();
    d.level = AUTH_GROUP;
    d.names = &admin_groups;
  }
  // A location that asks for users checks their passwords, also when it
  // names no scheme.
  if (d.level != AUTH_ANON && d.auth_type == AUTH_NONE) d.auth_type = AUTH_BASIC;

  bool local = IsLocalClient(con);
  bool allowed = HostAllowed(best, http.hostaddr, http.hostname);
  LogDiagnostic(L_DEBUG2, "IsAuthorized: auth = %d, satisfy=%d...", allowed ? 0 : 1, best->satisfy);
  // With nothing to log in to, "Satisfy any" cannot let a denied host in.
  if (!allowed && (best->satisfy == SATISFY_ALL || d.level == AUTH_ANON))
    return without_identity(con, HTTP_FORBIDDEN);

  if (best->encryption == HTTP_ENCRYPT_REQUIRED && !http.tls) {
    LogDiagnostic(L_DEBUG2, "IsAuthorized: Need upgrade to TLS...");
    return without_identity(con, HTTP_UPGRADE_REQUIRED);
  }

  // decode_auth takes a certificate's user only from peers on this host.
  std::string_view authorization = http.fields[HTTP_FIELD_AUTHORIZATION];
  bool certified = local && authorization.starts_with("Local") && !con->username.empty();

  if (d.level == AUTH_ANON) return certified ? HTTP_OK : without_identity(con, HTTP_OK);

  LogDiagnostic(L_DEBUG2, "IsAuthorized: username = \"%s\" password = %d chars", con->username.c_str(),
                int(con->password.size()));
  if (con->username.empty())
    return without_identity(con, best->satisfy == SATISFY_ALL || !allowed ? HTTP_UNAUTHORIZED : HTTP_OK);

  LogDiagnostic(L_DEBUG2, "IsAuthorized: Checking \"%s\", address = %08x, hostname = \"%s\"", con->username.c_str(),
                unsigned(sock_addr_ipv4(http.hostaddr)), http.hostname);
  std::string md5_group;
  bool have_md5_group = false;
  if (!certified) {
    if (con->password.empty()) return without_identity(con, HTTP_UNAUTHORIZED);
    bool ok = false;
    switch (d.auth_type) {
      case AUTH_BASIC:
        // Only a Basic header carries a password PAM can check.
        ok = authorization.starts_with("Basic") && CheckPamPassword(con->username, con->password);
        break;
      case AUTH_DIGEST:
        ok = authorization.starts_with("Diges") && check_digest(con, d, md5_group);
        have_md5_group = ok;
        break;
      case AUTH_BASICDIGEST:
        ok = authorization.starts_with("Basic") && check_basic_digest(con, d, md5_group);
        have_md5_group = ok;
        break;
    }
    if (!ok) return without_identity(con, HTTP_UNAUTHORIZED);
  }

  const std::string& user = con->username;
  if (user != "root") {
    if (d.level == AUTH_USER) {
      LogDiagnostic(L_DEBUG2, "IsAuthorized: Checking user membership...");
      bool listed = d.names->empty();
      for (const std::string& name : *d.names)
        if (name == user) listed = true;
      if (!listed) return without_identity(con, HTTP_UNAUTHORIZED);
    } else if (d.level == AUTH_GROUP && !have_md5_group) {
      // Basic passwords and certificates: the system's groups decide.
      LogDiagnostic(L_DEBUG2, "IsAuthorized: Checking group membership...");
      bool member = false;
      for (const std::string& name : *d.names) {
        bool exists;
        if (UserInGroup(user, name, exists)) {
          member = true;
          break;
        }
        if (!exists) {
          LogDiagnostic(L_WARN, "IsAuthorized: group name \"%s\" does not exist!", name.c_str());
          return without_identity(con, HTTP_FORBIDDEN);
        }
      }
      if (!member) {
        LogDiagnostic(L_DEBUG2, "IsAuthorized: user not in group!");
        return without_identity(con, HTTP_UNAUTHORIZED);
      }
    }
  }
  if (conf_resource && !IsAdministrator(user, have_md5_group ? md5_group.c_str() : nullptr))
    return without_identity(con, HTTP_FORBIDDEN);
  if (have_md5_group) con->md5_group = md5_group;
  return HTTP_OK;
}
