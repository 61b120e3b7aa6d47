// Location blocks, their Limit sub-blocks and host rules, and the browse
// directives, as ReadConfiguration stores them.
#include "scheduler/browse/browse.h"
#include "scheduler/log.h"
#include "tests/fixtures/scheduler/conf_fixture.h"

// Comparison and printing of host rules for the expectations; in the global
// namespace, where lookup finds them for authmask_t.
static bool operator==(const authmask_t& a, const authmask_t& b) {
  return a.type == b.type && a.name == b.name && a.address == b.address && a.netmask == b.netmask;
}

static std::ostream& operator<<(std::ostream& os, const authmask_t& m) {
  return os << "{" << m.type << " " << m.name << " " << std::hex << m.address << "/" << m.netmask << std::dec << "}";
}

namespace {

authmask_t ip(uint32_t address, uint32_t mask) {
  authmask_t m;
  m.type = AUTH_IP;
  m.address = address;
  m.netmask = mask;
  return m;
}

authmask_t named(int type, const char* name) {
  authmask_t m;
  m.type = type;
  m.name = name;
  return m;
}

TEST_F(ConfTest, ALocationBlockIsStoredWithEveryField) {
  ASSERT_TRUE(Read("<Location /admin>\n"
                   "  Encryption Required\n"
                   "  Order Allow,Deny\n"
                   "  Allow from 127.0.0.1\n"
                   "  Allow 10.1\n"
                   "  Deny from all\n"
                   "  AuthType Digest\n"
                   "  Require group printadm staff\n"
                   "  AuthGroupName sys\n"
                   "  Satisfy any\n"
                   "</Location>\n"
                   "MaxCopies 3\n"));
  location_t* loc = LocationByPath("/ADMIN");
  ASSERT_NE(loc, nullptr);
  EXPECT_EQ(loc->path, "/admin");
  EXPECT_EQ(loc->limit, LIMIT_ALL);
  EXPECT_EQ(loc->encryption, HTTP_ENCRYPT_REQUIRED);
  EXPECT_EQ(loc->order, ORDER_ALLOW_DENY);
  EXPECT_EQ(loc->allow, (std::vector<authmask_t>{ip(0x7f000001, 0xffffffff), ip(0x0a010000, 0xffff0000)}));
  EXPECT_EQ(loc->deny, (std::vector<authmask_t>{ip(0, 0)}));
  EXPECT_EQ(loc->auth_type, AUTH_DIGEST);
  EXPECT_EQ(loc->level, AUTH_GROUP);
  EXPECT_EQ(loc->names, (std::vector<std::string>{"printadm", "staff", "sys"}));
  EXPECT_EQ(loc->satisfy, SATISFY_ANY);
  EXPECT_EQ(MaxCopies, 3) << "parsing goes on after the block";
}

TEST_F(ConfTest, LimitBlocksTakeTheirMethodsFromTheLocation) {
  ASSERT_TRUE(Read("<Location />\n"
                   "Order deny,allow\n"
                   "<Limit GET POST>\n"
                   "Deny from all\n"
                   "</Limit>\n"
                   "Allow from 10.0.0.0/8\n"
                   "<LimitExcept HEAD PUT>\n"
                   "AuthType Basic\n"
                   "</Limit>\n"
                   "</Location>\n"));
  ASSERT_EQ(Locations.size(), 3u);
  const location_t& base = *Locations[0];
  const location_t& limit = *Locations[1];
  const location_t& except = *Locations[2];
  EXPECT_EQ(limit.path, "/");
  EXPECT_EQ(limit.limit, LIMIT_GET | LIMIT_POST);
  EXPECT_EQ(except.limit, LIMIT_ALL & ~(LIMIT_HEAD | LIMIT_PUT));
  EXPECT_EQ(base.limit, LIMIT_ALL & ~limit.limit & ~except.limit);
  // Rules inside a Limit apply to the copy only; rules after it to the
  // location, and a copy starts with what the location had then.
  EXPECT_EQ(limit.deny, (std::vector<authmask_t>{ip(0, 0)}));
  EXPECT_TRUE(limit.allow.empty());
  EXPECT_EQ(base.allow, (std::vector<authmask_t>{ip(0x0a000000, 0xff000000)}));
  EXPECT_TRUE(base.deny.empty());
  EXPECT_EQ(except.allow, base.allow);
  EXPECT_EQ(except.auth_type, AUTH_BASIC);
  EXPECT_EQ(except.level, AUTH_USER);
  EXPECT_EQ(base.auth_type, AUTH_NONE);
}

TEST_F(ConfTest, HostRulesOfAllowAndDeny) {
  struct Case {
    const char* value;
    authmask_t rule;
  };
  const Case cases[] = {
      {"from all", ip(0, 0)},
      {"none", ip(0xffffffff, 0)},
      {"from 10.1", ip(0x0a010000, 0xffff0000)},
      {"192.168.1.77/24", ip(0xc0a80100, 0xffffff00)},
      {"172.16.0.0/255.240.0.0", ip(0xac100000, 0xfff00000)},
      {"from .example.com", named(AUTH_NAME, ".example.com")},
      {"*.example.com", named(AUTH_NAME, ".example.com")},
      {"printhost", named(AUTH_NAME, "printhost")},
      {"from @LOCAL", named(AUTH_INTERFACE, "*")},
      {"@if(eth0)", named(AUTH_INTERFACE, "eth0")},
      {"@IF(averyveryverylonginterfacename0123)", named(AUTH_INTERFACE, "averyveryverylonginterfacename0")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    ASSERT_TRUE(Read(std::string("<Location /x>\nAllow ") + c.value + "\nDeny " + c.value + "\n</Location>\n"));
    location_t* loc = LocationByPath("/x");
    ASSERT_NE(loc, nullptr);
    EXPECT_EQ(loc->allow, std::vector<authmask_t>{c.rule});
    EXPECT_EQ(loc->deny, std::vector<authmask_t>{c.rule});
  }
}

TEST_F(ConfTest, AuthTypeAndAuthClass) {
  struct Case {
    const char* lines;
    int auth_type, level;
  };
  const Case cases[] = {
      {"AuthType Basic\n", AUTH_BASIC, AUTH_USER},
      {"AuthType digest\n", AUTH_DIGEST, AUTH_USER},
      {"AuthType BasicDigest\n", AUTH_BASICDIGEST, AUTH_USER},
      {"AuthClass group\nAuthType Basic\n", AUTH_BASIC, AUTH_GROUP},
      {"AuthType Basic\nAuthType None\n", AUTH_NONE, AUTH_ANON},
      {"AuthType Basic\nAuthClass Anonymous\n", AUTH_NONE, AUTH_ANON},
      {"AuthClass User\n", AUTH_NONE, AUTH_USER},
      {"Require valid-user\n", AUTH_NONE, AUTH_USER},
      {"Require user alice bob\n", AUTH_NONE, AUTH_USER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    ASSERT_TRUE(Read(std::string("<Location /x>\n") + c.lines + "</Location>\n"));
    location_t* loc = LocationByPath("/x");
    ASSERT_NE(loc, nullptr);
    EXPECT_EQ(loc->auth_type, c.auth_type);
    EXPECT_EQ(loc->level, c.level);
  }
  ASSERT_TRUE(Read("<Location /x>\nRequire user alice bob\n</Location>\n"));
  EXPECT_EQ(LocationByPath("/x")->names, (std::vector<std::string>{"alice", "bob"}));
}

TEST_F(ConfTest, AuthClassSystemNamesTheSystemGroups) {
  ASSERT_TRUE(Read("SystemGroup printadm wheel\n<Location /admin>\nAuthClass System\n</Location>\n"));
  location_t* loc = LocationByPath("/admin");
  ASSERT_NE(loc, nullptr);
  EXPECT_EQ(loc->level, AUTH_GROUP);
  EXPECT_EQ(loc->names, (std::vector<std::string>{"printadm", "wheel"}));
  // Without a SystemGroup line so far the default group stands for the list.
  ASSERT_TRUE(Read("<Location /admin>\nAuthClass System\n</Location>\n"));
  EXPECT_EQ(LocationByPath("/admin")->names, SystemGroups);
  EXPECT_FALSE(LocationByPath("/admin")->names.empty());
}

TEST_F(ConfTest, BadLocationLinesAreReported) {
  const std::pair<const char*, std::pair<char, std::string>> cases[] = {
      {"Encryption always", {'E', "Encryption value \"always\" on line 11 is invalid in this context. "
                                  "Using \"required\" instead."}},
      {"Encryption sometimes", {'E', "Unknown Encryption value sometimes on line 11."}},
      {"Order random", {'E', "Unknown Order value random on line 11."}},
      {"Allow 10.0.0.0/255.0", {'E', "Bad netmask value 10.0.0.0/255.0 on line 11."}},
      {"Deny 300.1.1.1", {'E', "Bad netmask value 300.1.1.1 on line 11."}},
      {"AuthType kerberos", {'W', "Unknown authorization type kerberos on line 11."}},
      {"AuthClass admins", {'W', "Unknown authorization class admins on line 11."}},
      {"Require someone alice", {'W', "Unknown Require type someone on line 11."}},
      {"Satisfy some", {'W', "Unknown Satisfy value some on line 11."}},
      {"<Limit GET get BREW>", {'W', "Unknown request type get on line 11!"}},
      {"MaxCopies 4", {'E', "Unknown Location directive MaxCopies on line 11."}},
  };
  ASSERT_EQ(Line(2), 11);
  for (const auto& [line, expected] : cases) {
    SCOPED_TRACE(line);
    ASSERT_TRUE(Read(std::string("<Location /x>\n") + line + "\n</Limit>\n</Location>\n"));
    EXPECT_TRUE(HasLine(expected.first, expected.second)) << Log();
  }
  ASSERT_TRUE(Read("<Location /x>\nEncryption always\nRequire someone alice\n</Location>\n"));
  EXPECT_EQ(LocationByPath("/x")->encryption, HTTP_ENCRYPT_REQUIRED);
  EXPECT_EQ(LocationByPath("/x")->level, AUTH_ANON) << "an unknown Require type leaves the level";
  EXPECT_TRUE(LocationByPath("/x")->names.empty());
  // A mask that cannot be read still gives a rule for the single address.
  ASSERT_TRUE(Read("<Location /x>\nAllow 10.0.0.1/255.0\n</Location>\n"));
  EXPECT_EQ(LocationByPath("/x")->allow, std::vector<authmask_t>{ip(0x0a000001, 0xffffffff)});
}

TEST_F(ConfTest, BrowseAddressesTakeTheirPortWhenRead) {
  ASSERT_TRUE(Read("BrowseAddress 10.0.0.255\nBrowsePort 7000\nBrowseAddress 10.0.1.255\n"
                   "BrowseAddress 10.0.2.255:9999\nBrowseAddress @LOCAL\nBrowseAddress @IF(eth1)\n"));
  ASSERT_EQ(Browsers.size(), 5u);
  EXPECT_EQ(sock_addr_message(Browsers[0].to), "a0000ff:631");
  EXPECT_EQ(sock_addr_message(Browsers[1].to), "a0001ff:7000");
  EXPECT_EQ(sock_addr_message(Browsers[2].to), "a0002ff:9999");
  EXPECT_EQ(Browsers[3].iface, "*");
  EXPECT_EQ(Browsers[4].iface, "eth1");
  EXPECT_TRUE(HasLine('I', "Sending browsing info to a0001ff:7000")) << Log();
}

TEST_F(ConfTest, BrowseRelaysPollsAndTheBrowseAccessList) {
  ASSERT_TRUE(Read("BrowsePort 7000\n"
                   "BrowseRelay from 10.1.0.0/16 to 10.2.255.255\n"
                   "BrowseRelay *.example.com 10.3.255.255:8000\n"
                   "BrowsePoll 127.0.0.1:8631\n"
                   "BrowsePoll localhost\n"
                   "BrowseAllow from 10.1\n"
                   "BrowseDeny all\n"
                   "BrowseOrder allow,deny\n"));
  ASSERT_EQ(Relays.size(), 2u);
  EXPECT_EQ(Relays[0].from, ip(0x0a010000, 0xffff0000));
  EXPECT_EQ(sock_addr_message(Relays[0].to), "a02ffff:7000");
  EXPECT_EQ(Relays[1].from, named(AUTH_NAME, ".example.com"));
  EXPECT_EQ(sock_addr_message(Relays[1].to), "a03ffff:8000");
  EXPECT_TRUE(HasLine('I', "Relaying from a010000/ffff0000 to a02ffff:7000")) << Log();
  EXPECT_TRUE(HasLine('I', "Relaying from .example.com to a03ffff:8000")) << Log();

  ASSERT_EQ(Polled.size(), 2u);
  EXPECT_EQ(Polled[0].hostname, "127.0.0.1");
  EXPECT_EQ(Polled[0].port, 8631);
  EXPECT_EQ(Polled[1].port, 631) << "a poll address without port takes the IPP port";
  EXPECT_TRUE(HasLine('I', "Polling 7f000001:8631"));

  ASSERT_NE(BrowseACL, nullptr);
  EXPECT_EQ(BrowseACL, LocationByPath(kBrowseACL));
  EXPECT_EQ(BrowseACL->allow, std::vector<authmask_t>{ip(0x0a010000, 0xffff0000)});
  EXPECT_EQ(BrowseACL->deny, std::vector<authmask_t>{ip(0, 0)});
  EXPECT_EQ(BrowseACL->order, ORDER_ALLOW_DENY);

  // A reload starts from empty lists.
  ASSERT_TRUE(Read(""));
  EXPECT_TRUE(Relays.empty());
  EXPECT_TRUE(Polled.empty());
  EXPECT_TRUE(Browsers.empty());
  EXPECT_EQ(BrowseACL, nullptr);
}

}  // namespace
