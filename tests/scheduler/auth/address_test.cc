// Addresses of configuration lines: listener and browse addresses, and
// addresses with masks for host rules.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "scheduler/auth/address.h"

namespace {

struct ListenCase {
  const char* text;
  uint32_t default_address;
  int default_port;
  bool ok;
  const char* address;  // numeric text expected
  int port;
};

TEST(ParseListenAddress, HostsPortsAndDefaults) {
  const ListenCase cases[] = {
      // A lone number is a port on every address...
      {"8631", kAnyAddress, 631, true, "0.0.0.0", 8631},
      // ...unless it has a dot, or the default address is not "any".
      {"127.0.0.1", kAnyAddress, 631, true, "127.0.0.1", 631},
      {"10.0.0.255", kBroadcastAddress, 9999, true, "10.0.0.255", 9999},
      {"localhost", kBroadcastAddress, 631, true, "127.0.0.1", 631},
      {"127.0.0.1:8631", kAnyAddress, 631, true, "127.0.0.1", 8631},
      {"localhost:8000", kAnyAddress, 631, true, "127.0.0.1", 8000},
      {"*:8631", kAnyAddress, 631, true, "0.0.0.0", 8631},
      {":8631", kBroadcastAddress, 631, true, "255.255.255.255", 8631},
      {"127.0.0.1:ipp", kAnyAddress, 1, true, "127.0.0.1", 631},
      {"[::1]:8631", kAnyAddress, 631, true, "::1", 8631},
      {"[::]", kAnyAddress, 631, true, "::", 631},
      {"127.0.0.1:70000", kAnyAddress, 631, false, "", 0},
      {"127.0.0.1:", kAnyAddress, 631, false, "", 0},
      {"127.0.0.1:1:2", kAnyAddress, 631, false, "", 0},
      {"127.0.0.1:no-such-service", kAnyAddress, 631, false, "", 0},
      {"[::1", kAnyAddress, 631, false, "", 0},
      {"[::1]x", kAnyAddress, 631, false, "", 0},
      {"[not-v6]:1", kAnyAddress, 631, false, "", 0},
      {"", kAnyAddress, 631, false, "", 0},
  };
  for (const ListenCase& c : cases) {
    SCOPED_TRACE(c.text);
    sock_addr_t a;
    ASSERT_EQ(parse_listen_address(c.text, c.default_address, c.default_port, a, true), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(sock_addr_text(a), c.address);
    EXPECT_EQ(sock_addr_port(a), c.port);
  }
}

TEST(ParseListenAddress, IPv6OnlyWhereAllowed) {
  sock_addr_t a;
  EXPECT_FALSE(parse_listen_address("[::1]:631", kBroadcastAddress, 631, a, false));
  EXPECT_TRUE(parse_listen_address("[::1]:631", kBroadcastAddress, 631, a, true));
  EXPECT_EQ(a.addr.sa_family, AF_INET6);
}

TEST(SockAddr, MessageFormIsHexAddressAndPort) {
  sock_addr_t a;
  ASSERT_TRUE(parse_listen_address("10.1.2.3:631", kAnyAddress, 631, a));
  EXPECT_EQ(sock_addr_message(a), "a010203:631");
  EXPECT_EQ(sock_addr_ipv4(a), 0x0a010203u);
  ASSERT_TRUE(parse_listen_address("[::1]:631", kAnyAddress, 631, a, true));
  EXPECT_EQ(sock_addr_message(a), "[::1]:631");
}

struct MaskCase {
  const char* text;
  mask_kind kind;
  const char* name;
  uint32_t address;
  uint32_t mask;
  bool bad_mask;
};

TEST(ParseAddressMask, NamesAddressesAndMasks) {
  const MaskCase cases[] = {
      {"printhost", mask_kind::name, "printhost", 0, 0, false},
      {".example.com", mask_kind::name, ".example.com", 0, 0, false},
      {"*.example.com", mask_kind::name, ".example.com", 0, 0, false},
      {"@LOCAL", mask_kind::name, "@LOCAL", 0, 0, false},
      // The count of numbers gives the mask.
      {"10", mask_kind::address, "", 0x0a000000, 0xff000000, false},
      {"10.1", mask_kind::address, "", 0x0a010000, 0xffff0000, false},
      {"192.168.7", mask_kind::address, "", 0xc0a80700, 0xffffff00, false},
      {"192.168.7.9", mask_kind::address, "", 0xc0a80709, 0xffffffff, false},
      {"10.0.0.0/8", mask_kind::address, "", 0x0a000000, 0xff000000, false},
      {"172.16.0.0/12", mask_kind::address, "", 0xac100000, 0xfff00000, false},
      {"192.168.1.0/255.255.255.0", mask_kind::address, "", 0xc0a80100, 0xffffff00, false},
      // Host bits outside the mask would keep the rule from ever matching.
      {"192.168.1.77/24", mask_kind::address, "", 0xc0a80100, 0xffffff00, false},
      {"1.2.3.4/32", mask_kind::address, "", 0x01020304, 0xffffffff, false},
      // /0 is every address.
      {"0.0.0.0/0", mask_kind::address, "", 0, 0, false},
      {"10.0.0.0/33", mask_kind::address, "", 0x0a000000, 0xffffffff, true},
      {"10.0.0.0/255.0", mask_kind::address, "", 0x0a000000, 0xffffffff, true},
      {"10.0.0.0/x", mask_kind::address, "", 0x0a000000, 0xffffffff, true},
      {"10.0.0.256", mask_kind::bad_address, "", 0, 0, false},
      {"10..1", mask_kind::bad_address, "", 0, 0, false},
      {"1.2.3.4.5", mask_kind::bad_address, "", 0, 0, false},
      {"10.x", mask_kind::bad_address, "", 0, 0, false},
  };
  for (const MaskCase& c : cases) {
    SCOPED_TRACE(c.text);
    std::string name;
    uint32_t address = 0, mask = 0;
    bool bad_mask = false;
    ASSERT_EQ(parse_address_mask(c.text, name, address, mask, bad_mask), c.kind);
    if (c.kind == mask_kind::name) {
      EXPECT_EQ(name, c.name);
    } else if (c.kind == mask_kind::address) {
      EXPECT_EQ(address, c.address);
      EXPECT_EQ(mask, c.mask);
      EXPECT_EQ(bad_mask, c.bad_mask);
    }
  }
}

}  // namespace
