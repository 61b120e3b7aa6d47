// The browse directives of vornd.conf and the lists they fill.
#include "scheduler/browse/browse.h"
#include "scheduler/conf/conf.h"
#include "scheduler/conf/conf-private.h"
#include "scheduler/log.h"
#include "vorn/client.h"
#include "vorn/strings.h"

std::vector<browse_address_t> Browsers;
std::vector<browse_relay_t> Relays;
std::vector<browse_poll_t> Polled;
int BrowseSocket = -1;
location_t* BrowseACL = nullptr;

namespace {

// The browse access list, created on first use.
location_t* browse_acl(conf_t& conf) {
  location_t* loc = LocationByPath(conf.locations, kBrowseACL);
  if (!loc) {
    loc = AddLocation(conf.locations, kBrowseACL);
    loc->limit = LIMIT_ALL;
  }
  return loc;
}

void add_browse_address(conf_t& conf, const std::string& value, int linenum) {
  browse_address_t dest;
  if (vorn::iequals(value, "@LOCAL")) {
    dest.iface = "*";
  } else if (vorn::istarts_with(value, "@IF(")) {
    std::string_view iface = std::string_view(value).substr(4);
    if (!iface.empty() && iface.back() == ')') iface.remove_suffix(1);
    dest.iface = vorn::cut(iface, kMaxInterfaceName);
  } else if (parse_listen_address(value, kBroadcastAddress, conf.settings.BrowsePort, dest.to)) {
    LogDiagnostic(L_INFO, "Sending browsing info to %s", sock_addr_message(dest.to).c_str());
  } else {
    LogDiagnostic(L_ERROR, "Bad BrowseAddress %s at line %d.", value.c_str(), linenum);
    return;
  }
  conf.browsers.push_back(std::move(dest));
}

void set_browse_protocols(int& protocols, const std::string& value, int linenum) {
  protocols = 0;
  std::string_view rest = value;
  while (!rest.empty()) {
    size_t start = rest.find_first_not_of(" \t,");
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    size_t end = rest.find_first_of(" \t,");
    std::string word(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    if (vorn::iequals(word, "vorn")) {
      protocols |= BROWSE_VORN;
    } else if (vorn::iequals(word, "slp")) {
      protocols |= BROWSE_SLP;
    } else if (vorn::iequals(word, "ldap")) {
      protocols |= BROWSE_LDAP;
    } else if (vorn::iequals(word, "all")) {
      protocols |= BROWSE_ALL;
    } else {
      LogDiagnostic(L_ERROR, "Unknown browse protocol \"%s\" on line %d.", word.c_str(), linenum);
      break;
    }
  }
}

// Removes an optional leading `word` followed by white space.
std::string_view skip_word(std::string_view s, std::string_view word) {
  if (vorn::istarts_with(s, word) && s.size() > word.size() && vorn::isspace(s[word.size()]))
    return vorn::trim(s.substr(word.size()));
  return s;
}

void add_browse_relay(conf_t& conf, const std::string& value, int linenum) {
  std::string_view rest = skip_word(vorn::trim(value), "from");
  size_t space = rest.find_first_of(" \t");
  std::string_view source = rest.substr(0, space);
  std::string_view dest = space == std::string_view::npos ? std::string_view() : vorn::trim(rest.substr(space));
  dest = skip_word(dest, "to");

  browse_relay_t relay;
  uint32_t address = 0, mask = 0;
  bool bad_mask = false;
  std::string name;
  mask_kind kind = source.empty() ? mask_kind::bad_address
                                  : parse_address_mask(source, name, address, mask, bad_mask);
  if (kind == mask_kind::bad_address || bad_mask || dest.empty() ||
      !parse_listen_address(dest, kBroadcastAddress, conf.settings.BrowsePort, relay.to)) {
    LogDiagnostic(L_ERROR, "Bad relay address %s at line %d.", value.c_str(), linenum);
    return;
  }
  std::string to = sock_addr_message(relay.to);
  if (kind == mask_kind::name) {
    relay.from.type = AUTH_NAME;
    relay.from.name = name;
    LogDiagnostic(L_INFO, "Relaying from %s to %s", name.c_str(), to.c_str());
  } else {
    relay.from.type = AUTH_IP;
    relay.from.address = address;
    relay.from.netmask = mask;
    LogDiagnostic(L_INFO, "Relaying from %x/%x to %s", unsigned(address), unsigned(mask), to.c_str());
  }
  conf.relays.push_back(std::move(relay));
}

void add_browse_poll(conf_t& conf, const std::string& value, int linenum) {
  sock_addr_t a;
  if (!parse_listen_address(value, kBroadcastAddress, ippPort(), a)) {
    LogDiagnostic(L_ERROR, "Bad poll address %s at line %d.", value.c_str(), linenum);
    return;
  }
  LogDiagnostic(L_INFO, "Polling %s", sock_addr_message(a).c_str());
  conf.polled.push_back({sock_addr_text(a), sock_addr_port(a)});
}

}  // namespace

bool parse_browse_directive(conf_t& conf, std::string_view directive, std::string_view text, int linenum) {
  std::string value(text);
  if (vorn::iequals(directive, "BrowseAddress")) {
    add_browse_address(conf, value, linenum);
  } else if (vorn::iequals(directive, "BrowseAllow") || vorn::iequals(directive, "BrowseDeny")) {
    add_host_rule(browse_acl(conf), vorn::iequals(directive, "BrowseAllow"), value, linenum);
  } else if (vorn::iequals(directive, "BrowseOrder")) {
    if (vorn::istarts_with(value, "deny"))
      browse_acl(conf)->order = ORDER_DENY_ALLOW;
    else if (vorn::istarts_with(value, "allow"))
      browse_acl(conf)->order = ORDER_ALLOW_DENY;
    else
      LogDiagnostic(L_ERROR, "Unknown BrowseOrder value %s on line %d.", value.c_str(), linenum);
  } else if (vorn::iequals(directive, "BrowseProtocols")) {
    set_browse_protocols(conf.settings.BrowseProtocols, value, linenum);
  } else if (vorn::iequals(directive, "BrowseRelay")) {
    add_browse_relay(conf, value, linenum);
  } else if (vorn::iequals(directive, "BrowsePoll")) {
    add_browse_poll(conf, value, linenum);
  } else {
    return false;
  }
  return true;
}
