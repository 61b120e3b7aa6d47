#include "scheduler/auth/hosts.h"

#include <arpa/inet.h>
#include <cstring>
#include <string_view>

#include "scheduler/auth/interfaces.h"
#include "scheduler/auth/location.h"
#include "scheduler/http/client.h"
#include "vorn/strings.h"

namespace {

bool ipv4_of(const sock_addr_t& a, uint32_t& v4) {
  if (a.addr.sa_family == AF_INET) {
    v4 = ntohl(a.ipv4.sin_addr.s_addr);
    return true;
  }
  if (a.addr.sa_family == AF_INET6 && IN6_IS_ADDR_V4MAPPED(&a.ipv6.sin6_addr)) {
    std::memcpy(&v4, a.ipv6.sin6_addr.s6_addr + 12, 4);
    v4 = ntohl(v4);
    return true;
  }
  return false;
}

bool any_matches(const std::vector<authmask_t>& rules, const sock_addr_t& a, const char* hostname) {
  for (const authmask_t& r : rules)
    if (HostRuleMatches(r, a, hostname)) return true;
  return false;
}

}  // namespace

bool HostRuleMatches(const authmask_t& rule, const sock_addr_t& a, const char* hostname) {
  switch (rule.type) {
    case AUTH_NAME: {
      std::string_view host = hostname ? hostname : "";
      const std::string& name = rule.name;
      if (vorn::iequals(host, name)) return true;
      return name.size() > 1 && name[0] == '.' && host.size() >= name.size() &&
             vorn::iequals(host.substr(host.size() - name.size()), name);
    }
    case AUTH_IP: {
      // Mask 0 is "all" (address 0) or "none" (any other address), for
      // every peer; IPv6 peers match no other address rule.
      if (rule.netmask == 0) return rule.address == 0;
      uint32_t v4;
      if (!ipv4_of(a, v4)) return false;
      // "10.1.2.3/8" means the network 10.0.0.0/8.
      return (v4 & rule.netmask) == (rule.address & rule.netmask);
    }
    case AUTH_INTERFACE:
      return InInterfaceNetwork(a, rule.name);
  }
  return false;
}

bool HostAllowed(const location_t* loc, const sock_addr_t& a, const char* hostname) {
  if (IsOwnAddress(a) || (loc->allow.empty() && loc->deny.empty())) return true;
  if (loc->order == ORDER_DENY_ALLOW) {
    bool allowed = true;
    if (any_matches(loc->deny, a, hostname)) allowed = false;
    if (any_matches(loc->allow, a, hostname)) allowed = true;
    return allowed;
  }
  bool allowed = false;
  if (any_matches(loc->allow, a, hostname)) allowed = true;
  if (any_matches(loc->deny, a, hostname)) allowed = false;
  return allowed;
}

bool IsLocalClient(const client_t* con) { return IsOwnAddress(con->http.hostaddr); }
