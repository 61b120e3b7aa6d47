#include "scheduler/auth/location.h"

#include "scheduler/log.h"
#include "vorn/strings.h"

location_list_t Locations;

namespace {

authmask_t host_rule(std::string_view name) {
  authmask_t rule;
  if (vorn::iequals(name, "@LOCAL")) {
    rule.type = AUTH_INTERFACE;
    rule.name = "*";
  } else if (vorn::istarts_with(name, "@IF(")) {
    std::string_view iface = name.substr(4);
    if (!iface.empty() && iface.back() == ')') iface.remove_suffix(1);
    rule.type = AUTH_INTERFACE;
    rule.name = vorn::cut(iface, kMaxInterfaceName);
  } else {
    rule.type = AUTH_NAME;
    rule.name = name;
  }
  return rule;
}

authmask_t ip_rule(uint32_t address, uint32_t netmask) {
  authmask_t rule;
  rule.type = AUTH_IP;
  rule.address = address;
  rule.netmask = netmask;
  return rule;
}

}  // namespace

location_t* AddLocation(location_list_t& list, std::string_view path) {
  auto loc = std::make_unique<location_t>();
  loc->path = vorn::cut(path, kMaxLocationPath);
  LogDiagnostic(L_DEBUG, "AddLocation: added location '%s'", loc->path.c_str());
  list.push_back(std::move(loc));
  return list.back().get();
}

location_t* AddLocation(std::string_view path) { return AddLocation(Locations, path); }

location_t* LocationByPath(const location_list_t& list, std::string_view path) {
  for (const auto& loc : list)
    if (vorn::iequals(loc->path, path)) return loc.get();
  return nullptr;
}

location_t* LocationByPath(std::string_view path) { return LocationByPath(Locations, path); }

location_t* CopyLocation(location_list_t& list, const location_t* loc) {
  list.push_back(std::make_unique<location_t>(*loc));
  return list.back().get();
}

location_t* CopyLocation(const location_t* loc) { return CopyLocation(Locations, loc); }

void AddLocationName(location_t* loc, std::string_view name) { loc->names.emplace_back(name); }

void AllowHost(location_t* loc, std::string_view name) {
  LogDiagnostic(L_DEBUG, "AllowHost: %s allow %.*s", loc->path.c_str(), int(name.size()), name.data());
  loc->allow.push_back(host_rule(name));
}

void DenyHost(location_t* loc, std::string_view name) {
  LogDiagnostic(L_DEBUG, "DenyHost: %s deny %.*s", loc->path.c_str(), int(name.size()), name.data());
  loc->deny.push_back(host_rule(name));
}

void AllowIP(location_t* loc, uint32_t address, uint32_t netmask) {
  LogDiagnostic(L_DEBUG, "AllowIP: %s allow %08x/%08x", loc->path.c_str(), unsigned(address), unsigned(netmask));
  loc->allow.push_back(ip_rule(address, netmask));
}

void DenyIP(location_t* loc, uint32_t address, uint32_t netmask) {
  LogDiagnostic(L_DEBUG, "DenyIP: %s deny %08x/%08x", loc->path.c_str(), unsigned(address), unsigned(netmask));
  loc->deny.push_back(ip_rule(address, netmask));
}

void ClearLocations() { Locations.clear(); }
