// Directives of vornd.conf with a syntax of their own: listeners, User,
// Group, SystemGroup, HostNameLookups, LogLevel, PrintcapFormat (and, through
// browse-directives.cc, the browse directives).
#include <cstdlib>
#include <grp.h>
#include <pwd.h>

#include "scheduler/auth/address.h"
#include "scheduler/conf/conf.h"
#include "scheduler/conf/conf-private.h"
#include "scheduler/log.h"
#include "vorn/strings.h"

namespace {

constexpr int kDefaultListenPort = 631;

void add_listener(conf_t& conf, const std::string& name, const std::string& value, bool ssl, int linenum) {
  listener_t lis;
  if (!parse_listen_address(value, kAnyAddress, kDefaultListenPort, lis.address, true)) {
    LogDiagnostic(L_ERROR, "Bad %s address %s at line %d.", name.c_str(), value.c_str(), linenum);
    return;
  }
  lis.encryption = ssl ? HTTP_ENCRYPT_ALWAYS : HTTP_ENCRYPT_IF_REQUESTED;
  LogDiagnostic(L_INFO, "Listening to %s%s", sock_addr_message(lis.address).c_str(), ssl ? " (SSL)" : "");
  conf.listeners.push_back(std::move(lis));
}

void set_user(server_settings_t& s, const std::string& value) {
  if (!value.empty() && vorn::isdigit(value[0])) {
    s.User = uid_t(std::atol(value.c_str()));
  } else if (const passwd* pw = ::getpwnam(value.c_str())) {
    s.User = pw->pw_uid;
  } else {
    LogDiagnostic(L_WARN, "ReadConfiguration() Unknown username \"%s\"", value.c_str());
  }
}

void set_group(server_settings_t& s, const std::string& value) {
  if (!value.empty() && vorn::isdigit(value[0])) {
    s.Group = gid_t(std::atol(value.c_str()));
  } else if (const group* gr = ::getgrnam(value.c_str())) {
    s.Group = gr->gr_gid;
  } else {
    LogDiagnostic(L_WARN, "ReadConfiguration() Unknown groupname \"%s\"", value.c_str());
  }
}

void add_system_groups(server_settings_t& s, std::string_view value) {
  while (!value.empty()) {
    size_t start = value.find_first_not_of(" \t,");
    if (start == std::string_view::npos) break;
    value.remove_prefix(start);
    size_t end = value.find_first_of(" \t,");
    std::string_view name = value.substr(0, end);
    value.remove_prefix(end == std::string_view::npos ? value.size() : end);
    if (s.NumSystemGroups >= kMaxSystemGroups) break;
    // The first configured name replaces the default one.
    s.SystemGroups.resize(size_t(s.NumSystemGroups));
    s.SystemGroups.emplace_back(name);
    s.NumSystemGroups++;
  }
}

// Index of `value` in `names` (case-insensitive), or -1.
template <size_t N>
int keyword_index(const std::string& value, const char* const (&names)[N]) {
  for (size_t i = 0; i < N; i++)
    if (vorn::iequals(value, names[i])) return int(i);
  return -1;
}

}  // namespace

bool parse_special_directive(conf_t& conf, std::string_view directive, std::string_view text, int linenum) {
  std::string name(directive), value(text);
  server_settings_t& s = conf.settings;
  if (vorn::iequals(name, "Port") || vorn::iequals(name, "Listen")) {
    add_listener(conf, name, value, false, linenum);
  } else if (vorn::iequals(name, "SSLPort") || vorn::iequals(name, "SSLListen")) {
    add_listener(conf, name, value, true, linenum);
  } else if (vorn::iequals(name, "User")) {
    set_user(s, value);
  } else if (vorn::iequals(name, "Group")) {
    set_group(s, value);
  } else if (vorn::iequals(name, "SystemGroup")) {
    add_system_groups(s, value);
  } else if (vorn::iequals(name, "HostNameLookups")) {
    static const char* const names[] = {"off", "on", "double"};
    int i = keyword_index(value, names);
    if (i < 0)
      LogDiagnostic(L_WARN, "ReadConfiguration() Unknown HostNameLookups %s on line %d.", value.c_str(), linenum);
    else
      s.HostNameLookups = i;
  } else if (vorn::iequals(name, "LogLevel")) {
    static const char* const names[] = {"none", "emerg", "alert", "crit", "error",
                                        "warn", "notice", "info", "debug", "debug2"};
    int i = keyword_index(value, names);
    if (i < 0)
      LogDiagnostic(L_WARN, "Unknown LogLevel %s on line %d.", value.c_str(), linenum);
    else
      s.LogLevel = i;
  } else if (vorn::iequals(name, "PrintcapFormat")) {
    static const char* const names[] = {"bsd", "solaris"};
    int i = keyword_index(value, names);
    if (i < 0)
      LogDiagnostic(L_WARN, "ReadConfiguration() Unknown PrintcapFormat %s on line %d.", value.c_str(), linenum);
    else
      s.PrintcapFormat = i;
  } else {
    return parse_browse_directive(conf, directive, text, linenum);
  }
  return true;
}
