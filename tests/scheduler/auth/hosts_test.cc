// Host rules against peer addresses and names, with the machine's real
// interface list.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "scheduler/auth/hosts.h"
#include "scheduler/auth/interfaces.h"
#include "scheduler/auth/location.h"

namespace {

sock_addr_t peer(const char* text) {
  sock_addr_t a{};
  if (::inet_pton(AF_INET, text, &a.ipv4.sin_addr) == 1) {
    a.ipv4.sin_family = AF_INET;
  } else {
    EXPECT_EQ(::inet_pton(AF_INET6, text, &a.ipv6.sin6_addr), 1) << text;
    a.ipv6.sin6_family = AF_INET6;
  }
  return a;
}

authmask_t rule(int type, const char* name, uint32_t address = 0, uint32_t mask = 0) {
  authmask_t r;
  r.type = type;
  r.name = name;
  r.address = address;
  r.netmask = mask;
  return r;
}

TEST(HostRules, NamesAddressesAndInterfaces) {
  const struct {
    authmask_t rule;
    const char* address;
    const char* hostname;
    bool matches;
  } cases[] = {
      {rule(AUTH_NAME, "print.example.com"), "10.0.0.1", "PRINT.example.COM", true},
      {rule(AUTH_NAME, ".example.com"), "10.0.0.1", "a.b.example.com", true},
      {rule(AUTH_NAME, ".example.com"), "10.0.0.1", "example.com", false},
      {rule(AUTH_NAME, ".example.com"), "10.0.0.1", "badexample.com.evil", false},
      {rule(AUTH_IP, "", 0x0a000000, 0xff000000), "10.9.8.7", "", true},
      {rule(AUTH_IP, "", 0x0a010203, 0xff000000), "10.9.8.7", "", true},  // "10.1.2.3/8" is the network
      {rule(AUTH_IP, "", 0x0a000000, 0xff000000), "11.0.0.1", "", false},
      {rule(AUTH_IP, "", 0x0a000000, 0xff000000), "::ffff:10.1.1.1", "", true},
      {rule(AUTH_IP, "", 0x0a000000, 0xff000000), "2001:db8::1", "", false},
      {rule(AUTH_IP, "", 0, 0), "2001:db8::1", "", true},            // all
      {rule(AUTH_IP, "", 0xffffffff, 0), "10.1.1.1", "", false},     // none
      {rule(AUTH_INTERFACE, "lo"), "127.0.0.1", "", true},
      {rule(AUTH_INTERFACE, "LO"), "127.0.0.9", "", true},
      {rule(AUTH_INTERFACE, "no-such-if"), "127.0.0.1", "", false},
      {rule(AUTH_INTERFACE, "*"), "127.0.0.1", "", false},  // the loopback is no network of this host
      {rule(AUTH_INTERFACE, "*"), "198.51.100.77", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HostRuleMatches(c.rule, peer(c.address), c.hostname), c.matches)
        << c.rule.type << " " << c.rule.name << " " << c.address << " " << c.hostname;
  }
}

TEST(HostRules, ThisHostIsKnownByItsAddressesOnly) {
  NetIFUpdate(true);
  for (const char* own : {"127.0.0.1", "127.3.2.1", "::1", "::ffff:127.0.0.1"}) EXPECT_TRUE(IsOwnAddress(peer(own))) << own;
  for (const char* other : {"198.51.100.77", "2001:db8::1", "::ffff:198.51.100.77"})
    EXPECT_FALSE(IsOwnAddress(peer(other))) << other;
  // Every address of an interface is this host too.
  for (const netif_t& i : NetIFList) {
    if (i.family != AF_INET) continue;
    sock_addr_t a{};
    a.ipv4.sin_family = AF_INET;
    a.ipv4.sin_addr.s_addr = htonl(i.address);
    EXPECT_TRUE(IsOwnAddress(a)) << i.name;
    // "@LOCAL" admits the networks of the interfaces that are not loopback
    // or point-to-point; "@IF(name)" that of the interface named.
    EXPECT_EQ(HostRuleMatches(rule(AUTH_INTERFACE, "*"), a, ""), i.is_local) << i.name;
    EXPECT_TRUE(HostRuleMatches(rule(AUTH_INTERFACE, i.name.c_str()), a, "")) << i.name;
  }
  // A location that denies everyone still lets this host in, and no name
  // makes another host this one.
  location_t loc;
  loc.order = ORDER_ALLOW_DENY;
  loc.deny.push_back(rule(AUTH_IP, "", 0, 0));
  EXPECT_TRUE(HostAllowed(&loc, peer("127.0.0.1"), "localhost"));
  EXPECT_FALSE(HostAllowed(&loc, peer("198.51.100.77"), "localhost"));
}

}  // namespace
