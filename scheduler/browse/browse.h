// Browse settings read from vornd.conf: where to send announcements, which
// packets to relay, which servers to poll, and the browse socket. Nothing
// sends, receives or polls yet: the lists are read and kept.
#pragma once

#include <string>
#include <vector>

#include "scheduler/auth/address.h"
#include "scheduler/auth/location.h"

// A browse destination: an IPv4 address, or an interface ("*" for every
// local one, else its name).
struct browse_address_t {
  std::string iface;  // empty for an address
  sock_addr_t to{};
};

// Packets from hosts matching `from` are sent on to `to`.
struct browse_relay_t {
  authmask_t from;
  sock_addr_t to{};
};

// A server polled by pollerd: its address as dotted text and its port.
struct browse_poll_t {
  std::string hostname;
  int port = 0;
};

extern std::vector<browse_address_t> Browsers;
extern std::vector<browse_relay_t> Relays;
extern std::vector<browse_poll_t> Polled;

// The UDP browse socket, -1 while browsing is off.
extern int BrowseSocket;

// The name of the location holding BrowseAllow/BrowseDeny/BrowseOrder.
constexpr const char* kBrowseACL = "VORN_INTERNAL_BROWSE_ACL";

// That location after the configuration was read, or nullptr when it has none.
extern location_t* BrowseACL;
