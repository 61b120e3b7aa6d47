// Socket addresses from configuration text: listener and browse addresses
// ("host:port", "port", "host", "[ipv6]:port") and addresses with masks for
// host rules ("10.1", "10.0.0.0/8", "192.168.1.0/255.255.255.0").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "vorn/http.h"

// An IPv4 or IPv6 socket address (libvorn's); `addr.sa_family` says which.
using sock_addr_t = http_addr_t;

socklen_t sock_addr_length(const sock_addr_t& a);
int sock_addr_port(const sock_addr_t& a);
// IPv4 address in host byte order (0 for IPv6).
uint32_t sock_addr_ipv4(const sock_addr_t& a);
// The address is this host's loopback (IPv4, IPv6, or IPv4 mapped into IPv6).
bool sock_addr_is_loopback(const sock_addr_t& a);
// Numeric text of the address without the port: "127.0.0.1", "::1".
std::string sock_addr_text(const sock_addr_t& a);
// "%x:%d" for IPv4 (address in host order), "[%s]:%d" for IPv6: the form of
// the "Listening to ..." and similar messages.
std::string sock_addr_message(const sock_addr_t& a);

// Default address arguments of parse_listen_address.
constexpr uint32_t kAnyAddress = 0x00000000;        // INADDR_ANY
constexpr uint32_t kBroadcastAddress = 0xffffffff;  // INADDR_BROADCAST

// Fills `out` from `text`: first the IPv4 family, `default_address` (host
// order) and `default_port`, then "host:port", "host" or "port". A text
// without a colon is a host when it contains "." or the default address is
// not "any", otherwise a port. Host "" or "*" keeps the default address.
// Names are resolved with httpGetHostByName and services looked up. With
// `allow_ipv6`, a bracketed "[v6]" host or a name with only IPv6 addresses
// gives an IPv6 address; otherwise only IPv4 is accepted. Failures are logged
// ("Unable to decode address ...", resolver and service errors) and return
// false.
bool parse_listen_address(std::string_view text, uint32_t default_address, int default_port,
                          sock_addr_t& out, bool allow_ipv6 = false);

// Result of parse_address_mask.
enum class mask_kind { name, address, bad_address };

// Reads an address with mask as host rules give them: "*name" and names
// (text beginning with "." or any non-digit) give mask_kind::name with `name`
// set ("*" removed); one to four dotted numbers give the address, and the
// mask from "/n" (n leading one bits, 0 to 32), "/a.b.c.d", or from the count
// of numbers (1: 255.0.0.0 ... 4: 255.255.255.255). `bad_mask` is set when a
// mask was given but malformed (the mask is then 255.255.255.255). A
// malformed address gives mask_kind::bad_address.
mask_kind parse_address_mask(std::string_view text, std::string& name, uint32_t& address,
                             uint32_t& mask, bool& bad_mask);
