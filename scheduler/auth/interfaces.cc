#include "scheduler/auth/interfaces.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>

#include "scheduler/log.h"
#include "vorn/strings.h"

std::vector<netif_t> NetIFList;

namespace {

constexpr time_t kNetIFLifetime = 60;
time_t NetIFTime = 0;

bool is_v4_mapped(const in6_addr& a) { return IN6_IS_ADDR_V4MAPPED(&a); }

uint32_t mapped_v4(const in6_addr& a) {
  uint32_t v;
  std::memcpy(&v, a.s6_addr + 12, 4);
  return ntohl(v);
}

bool same_network6(const in6_addr& a, const in6_addr& b, const in6_addr& mask) {
  for (int i = 0; i < 16; i++)
    if ((a.s6_addr[i] & mask.s6_addr[i]) != (b.s6_addr[i] & mask.s6_addr[i])) return false;
  return true;
}

// The peer as IPv4 (host order) when it is IPv4 or mapped into IPv6.
bool as_ipv4(const sock_addr_t& a, uint32_t& v4) {
  if (a.addr.sa_family == AF_INET) {
    v4 = ntohl(a.ipv4.sin_addr.s_addr);
    return true;
  }
  if (a.addr.sa_family == AF_INET6 && is_v4_mapped(a.ipv6.sin6_addr)) {
    v4 = mapped_v4(a.ipv6.sin6_addr);
    return true;
  }
  return false;
}

bool matches(const netif_t& iface, const sock_addr_t& a) {
  uint32_t v4;
  if (as_ipv4(a, v4)) return iface.family == AF_INET && (v4 & iface.mask) == (iface.address & iface.mask);
  return iface.family == AF_INET6 && a.addr.sa_family == AF_INET6 &&
         same_network6(a.ipv6.sin6_addr, iface.address6, iface.mask6);
}

}  // namespace

void NetIFUpdate(bool force) {
  time_t now = ::time(nullptr);
  if (!force && NetIFTime && now - NetIFTime < kNetIFLifetime) return;
  NetIFTime = now;
  NetIFList.clear();
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) {
    LogDiagnostic(L_ERROR, "NetIFUpdate: Unable to read the network interfaces - %s", std::strerror(errno));
    return;
  }
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || !i->ifa_netmask) continue;
    netif_t n;
    n.name = vorn::cut(i->ifa_name ? i->ifa_name : "", kMaxNetIFName);
    n.point_to_point = (i->ifa_flags & IFF_POINTOPOINT) != 0;
    if (i->ifa_addr->sa_family == AF_INET) {
      n.family = AF_INET;
      n.address = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
      n.mask = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr);
      n.is_local = !n.point_to_point && (n.address >> 24) != 127;
    } else if (i->ifa_addr->sa_family == AF_INET6) {
      n.family = AF_INET6;
      n.address6 = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr;
      n.mask6 = reinterpret_cast<const sockaddr_in6*>(i->ifa_netmask)->sin6_addr;
      n.is_local = !n.point_to_point && !IN6_IS_ADDR_LOOPBACK(&n.address6);
    } else {
      continue;
    }
    NetIFList.push_back(std::move(n));
  }
  ::freeifaddrs(list);
}

bool IsOwnAddress(const sock_addr_t& a) {
  uint32_t v4;
  bool ipv4 = as_ipv4(a, v4);
  if (ipv4 && (v4 >> 24) == 127) return true;
  if (!ipv4 && a.addr.sa_family == AF_INET6 && IN6_IS_ADDR_LOOPBACK(&a.ipv6.sin6_addr)) return true;
  if (!ipv4 && a.addr.sa_family != AF_INET6) return false;
  NetIFUpdate();
  for (const netif_t& iface : NetIFList) {
    if (ipv4 && iface.family == AF_INET && iface.address == v4) return true;
    if (!ipv4 && iface.family == AF_INET6 && std::memcmp(&iface.address6, &a.ipv6.sin6_addr, sizeof(in6_addr)) == 0)
      return true;
  }
  return false;
}

bool InInterfaceNetwork(const sock_addr_t& a, const std::string& name) {
  NetIFUpdate();
  bool all = name == "*";
  for (const netif_t& iface : NetIFList) {
    if (all ? !iface.is_local : !vorn::iequals(iface.name, name)) continue;
    if (matches(iface, a)) return true;
  }
  return false;
}
