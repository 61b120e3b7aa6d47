// The machine's network interfaces, for interface host rules ("@LOCAL",
// "@IF(name)") and for telling which peers are this host.
#pragma once

#include <cstdint>
#include <ctime>
#include <netinet/in.h>
#include <string>
#include <vector>

#include "scheduler/auth/address.h"

constexpr size_t kMaxNetIFName = 31;

struct netif_t {
  std::string name;        // at most kMaxNetIFName characters
  int family = AF_INET;    // AF_INET or AF_INET6
  uint32_t address = 0;    // AF_INET: host byte order
  uint32_t mask = 0;
  in6_addr address6{};     // AF_INET6
  in6_addr mask6{};
  bool point_to_point = false;
  // Not point-to-point and not a loopback address: what "@LOCAL" admits.
  bool is_local = false;
};

// The interfaces as last read; NetIFUpdate reads them again when they are
// older than 60 seconds (or `force`).
extern std::vector<netif_t> NetIFList;
void NetIFUpdate(bool force = false);

// Whether `a` is one of this machine's own addresses: a loopback address
// (127.0.0.0/8, ::1, and those mapped into IPv6) or the address of one of
// its interfaces. Decided from the address alone, never from a name.
bool IsOwnAddress(const sock_addr_t& a);

// Whether `a` lies in the network of an interface: any "local" interface
// when `name` is "*", else the interface of that name (ignoring case).
bool InInterfaceNetwork(const sock_addr_t& a, const std::string& name);
