// IsAuthorized on client records built here, with locations read from
// vornd.conf text by the configuration reader, a real passwd.md5 and real
// local certificates in a temporary server root. Basic passwords through
// PAM, with real accounts, are exercised end to end (tests/e2e).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "scheduler/auth/auth.h"
#include "scheduler/auth/certs.h"
#include "scheduler/auth/location.h"
#include "scheduler/conf/conf-private.h"
#include "scheduler/conf/conf.h"
#include "scheduler/http/client.h"
#include "scheduler/log.h"
#include "vorn/http.h"

namespace {

const char* kLocations = R"(
<Location />
Order deny,allow
</Location>
<Location /admin>
AuthType BasicDigest
AuthClass System
Order deny,allow
Deny from all
Allow from 10.1.0.0/16
</Location>
<Location /admin/conf>
AuthType Digest
<Limit GET>
Require user alice
</Limit>
<Limit PUT>
Require user bob
</Limit>
</Location>
<Location /printers/lab>
Order allow,deny
Allow from .example.com
</Location>
<Location /printers/any>
AuthType BasicDigest
Require user alice
Satisfy any
Order allow,deny
Allow from 10.2.0.0/16
</Location>
<Location /secure>
Encryption Required
</Location>
<Location /anyopen>
Satisfy any
Order allow,deny
Allow from 10.2.0.0/16
</Location>
<Location /grp>
AuthType Basic
Require group no-such-group-for-vorn-tests
</Location>
<Location /noscheme>
Require user alice
</Location>
)";

std::string basic(const std::string& user, const std::string& password) {
  std::string plain = user + ":" + password;
  char out[512];
  httpEncode64(out, sizeof(out), plain.c_str(), int(plain.size()));
  return std::string("Basic ") + out;
}

class AuthorizeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ErrorLog.clear();
    AccessLog.clear();
    LogLevel = L_NONE;
    char tmpl[] = "/tmp/vorn-authz-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    ServerRoot = root_;
    std::filesystem::create_directory(root_ + "/certs");
    SystemGroups = {"sys"};
    NumSystemGroups = 1;
    PAMService = "vorn-test-service-that-does-not-exist";
    char a[33], b[33];
    httpMD5("alice", "VORN", "alice-pw1", a);
    httpMD5("bob", "VORN", "bob-pw1", b);
    std::ofstream(root_ + "/passwd.md5") << "alice:sys:" << a << "\nbob:staff:" << b << "\n";
    ReadLocations(kLocations);
  }
  void TearDown() override {
    DeleteAllCerts();
    Locations.clear();
    std::filesystem::remove_all(root_);
  }

  void ReadLocations(const std::string& text) {
    std::string path = root_ + "/vornd.conf";
    std::ofstream(path) << "ServerRoot " << root_ << "\n" << text;
    conf_t conf;
    ASSERT_TRUE(parse_configuration(path.c_str(), conf));
    Locations = std::move(conf.locations);
  }

  // A client whose peer is `address` with host name `hostname`, asking for
  // `resource` in `state` with the Authorization field `authorization`.
  std::unique_ptr<client_t> Client(const char* address, const char* hostname, http_state_t state,
                                   const std::string& resource, const std::string& authorization) {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    ::close(fds[1]);
    http_addr_t addr{};
    socklen_t len;
    if (::inet_pton(AF_INET, address, &addr.ipv4.sin_addr) == 1) {
      addr.ipv4.sin_family = AF_INET;
      len = sizeof(addr.ipv4);
    } else {
      EXPECT_EQ(::inet_pton(AF_INET6, address, &addr.ipv6.sin6_addr), 1) << address;
      addr.ipv6.sin6_family = AF_INET6;
      len = sizeof(addr.ipv6);
    }
    auto con = std::make_unique<client_t>();
    httpInitServer(&con->http, fds[0], &addr.addr, len);
    std::snprintf(con->http.hostname, sizeof(con->http.hostname), "%s", hostname);
    con->http.state = state;
    con->resource = resource;
    if (!authorization.empty()) httpSetField(&con->http, HTTP_FIELD_AUTHORIZATION, authorization.c_str());
    decode_auth(con.get());
    return con;
  }

  std::string Digest(const std::string& user, const std::string& password, const char* nonce, const char* method,
                     const std::string& resource) {
    char md5[33];
    httpMD5(user.c_str(), "VORN", password.c_str(), md5);
    httpMD5Final(nonce, method, resource.c_str(), md5);
    return "Digest username=\"" + user + "\", realm=\"VORN\", nonce=\"" + nonce + "\", uri=\"" + resource +
           "\", response=\"" + md5 + "\"";
  }

  std::string root_;
};

struct Case {
  const char* what;
  const char* peer;
  const char* hostname;
  http_state_t state;
  const char* resource;
  std::string authorization;
  http_status_t status;
  const char* user;  // the verified user afterwards ("" for none)
};

TEST_F(AuthorizeTest, LocationsDecideByHostPasswordAndLevel) {
  const Case cases[] = {
      {"anonymous location", "10.9.9.9", "10.9.9.9", HTTP_GET_SEND, "/index.html", "", HTTP_OK, ""},
      {"a Basic header on an anonymous location names nobody", "10.9.9.9", "10.9.9.9", HTTP_GET_SEND, "/index.html",
       basic("alice", "wrong"), HTTP_OK, ""},
      {"admin: denied host", "10.9.9.9", "10.9.9.9", HTTP_POST_RECV, "/admin/", "", HTTP_FORBIDDEN, ""},
      {"admin: allowed host, no user", "10.1.2.3", "10.1.2.3", HTTP_POST_RECV, "/admin/", "", HTTP_UNAUTHORIZED,
       ""},
      {"admin: right password, system group", "10.1.2.3", "10.1.2.3", HTTP_POST_RECV, "/admin/",
       basic("alice", "alice-pw1"), HTTP_OK, "alice"},
      {"admin: wrong password", "10.1.2.3", "10.1.2.3", HTTP_POST_RECV, "/admin/", basic("alice", "alice-pw2"),
       HTTP_UNAUTHORIZED, ""},
      {"admin: right password, not in a system group", "10.1.2.3", "10.1.2.3", HTTP_POST_RECV, "/admin/",
       basic("bob", "bob-pw1"), HTTP_UNAUTHORIZED, ""},
      {"admin: an unverified root", "10.1.2.3", "10.1.2.3", HTTP_POST_RECV, "/admin/", basic("root", "x"),
       HTTP_UNAUTHORIZED, ""},
      {"admin: ROOT is not root", "10.1.2.3", "10.1.2.3", HTTP_POST_RECV, "/admin/", basic("ROOT", "alice-pw1"),
       HTTP_UNAUTHORIZED, ""},
      {"admin: empty password", "10.1.2.3", "10.1.2.3", HTTP_POST_RECV, "/admin/", basic("alice", ""),
       HTTP_UNAUTHORIZED, ""},
      {"admin: this host passes the host rules but must log in", "127.0.0.1", "localhost", HTTP_POST_RECV,
       "/admin/", "", HTTP_UNAUTHORIZED, ""},
      {"admin: ::1 is this host", "::1", "localhost", HTTP_POST_RECV, "/admin/", basic("alice", "alice-pw1"),
       HTTP_OK, "alice"},
      {"admin: a reverse name \"localhost\" is not this host", "10.9.9.9", "localhost", HTTP_POST_RECV, "/admin/",
       basic("alice", "alice-pw1"), HTTP_FORBIDDEN, ""},
      {"admin: IPv6 peer against IPv4 rules", "2001:db8::1", "2001:db8::1", HTTP_POST_RECV, "/admin/", "",
       HTTP_FORBIDDEN, ""},
      {"ppd of a printer: its location", "10.9.9.9", "a.example.com", HTTP_GET_SEND, "/printers/lab.ppd", "",
       HTTP_OK, ""},
      {"domain rule: other domain", "10.9.9.9", "example.com.evil.net", HTTP_GET_SEND, "/printers/lab", "",
       HTTP_FORBIDDEN, ""},
      {"domain rule: the bare domain is not in it", "10.9.9.9", "example.com", HTTP_GET_SEND, "/printers/lab", "",
       HTTP_FORBIDDEN, ""},
      {"satisfy any: allowed host without user", "10.2.0.5", "10.2.0.5", HTTP_POST_RECV, "/printers/any", "",
       HTTP_OK, ""},
      {"satisfy any: denied host must log in", "10.3.0.5", "10.3.0.5", HTTP_POST_RECV, "/printers/any", "",
       HTTP_UNAUTHORIZED, ""},
      {"satisfy any: denied host with a password", "10.3.0.5", "10.3.0.5", HTTP_POST_RECV, "/printers/any",
       basic("alice", "alice-pw1"), HTTP_OK, "alice"},
      {"satisfy any: user not named", "10.3.0.5", "10.3.0.5", HTTP_POST_RECV, "/printers/any",
       basic("bob", "bob-pw1"), HTTP_UNAUTHORIZED, ""},
      {"encryption required", "127.0.0.1", "localhost", HTTP_GET_SEND, "/secure/x", "", HTTP_UPGRADE_REQUIRED, ""},
      {"satisfy any without a login: the host rules stand", "10.3.0.5", "10.3.0.5", HTTP_GET_SEND, "/anyopen", "",
       HTTP_FORBIDDEN, ""},
      {"satisfy any without a login: allowed host", "10.2.0.5", "10.2.0.5", HTTP_GET_SEND, "/anyopen", "", HTTP_OK,
       ""},
      {"OPTIONS of the server: the location of /", "10.9.9.9", "10.9.9.9", HTTP_OPTIONS, "*", "", HTTP_OK, ""},
      {"OPTIONS of an admin resource", "10.1.2.3", "10.1.2.3", HTTP_OPTIONS, "/admin/", "", HTTP_UNAUTHORIZED, ""},
      {"no scheme named: the password is still checked", "10.9.9.9", "10.9.9.9", HTTP_GET_SEND, "/noscheme",
       basic("alice", "anything"), HTTP_UNAUTHORIZED, ""},
      {"no scheme named: a Digest answer is no Basic password", "10.9.9.9", "10.9.9.9", HTTP_GET_SEND, "/noscheme",
       Digest("alice", "alice-pw1", "10.9.9.9", "GET", "/noscheme"), HTTP_UNAUTHORIZED, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto con = Client(c.peer, c.hostname, c.state, c.resource, c.authorization);
    EXPECT_EQ(IsAuthorized(con.get()), c.status);
    EXPECT_EQ(con->username, c.user);
    httpCloseSocket(&con->http);
  }
}

TEST_F(AuthorizeTest, DigestAnswersAndTheConfigurationFiles) {
  const std::string conf = "/admin/conf/vornd.conf";
  const Case cases[] = {
      {"GET by alice (Limit GET, system group)", "10.1.2.3", "10.1.2.3", HTTP_GET_SEND, conf.c_str(),
       Digest("alice", "alice-pw1", "10.1.2.3", "GET", conf), HTTP_OK, "alice"},
      {"GET by bob: not the GET block's user", "10.1.2.3", "10.1.2.3", HTTP_GET_SEND, conf.c_str(),
       Digest("bob", "bob-pw1", "10.1.2.3", "GET", conf), HTTP_UNAUTHORIZED, ""},
      {"PUT by bob: his block, but no administrator", "10.1.2.3", "10.1.2.3", HTTP_PUT_RECV, conf.c_str(),
       Digest("bob", "bob-pw1", "10.1.2.3", "PUT", conf), HTTP_FORBIDDEN, ""},
      {"nonce other than the host name", "10.1.2.3", "10.1.2.3", HTTP_GET_SEND, conf.c_str(),
       Digest("alice", "alice-pw1", "elsewhere", "GET", conf), HTTP_UNAUTHORIZED, ""},
      {"answer computed for another method", "10.1.2.3", "10.1.2.3", HTTP_GET_SEND, conf.c_str(),
       Digest("alice", "alice-pw1", "10.1.2.3", "PUT", conf), HTTP_UNAUTHORIZED, ""},
      {"wrong password", "10.1.2.3", "10.1.2.3", HTTP_GET_SEND, conf.c_str(),
       Digest("alice", "alice-pw2", "10.1.2.3", "GET", conf), HTTP_UNAUTHORIZED, ""},
      {"Basic header on a Digest location", "10.1.2.3", "10.1.2.3", HTTP_GET_SEND, conf.c_str(),
       basic("alice", "alice-pw1"), HTTP_UNAUTHORIZED, ""},
      {"no user from this host", "127.0.0.1", "localhost", HTTP_GET_SEND, conf.c_str(), "", HTTP_UNAUTHORIZED, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto con = Client(c.peer, c.hostname, c.state, c.resource, c.authorization);
    EXPECT_EQ(IsAuthorized(con.get()), c.status);
    EXPECT_EQ(con->username, c.user);
    // The entry's group goes with a verified user, for later ownership checks.
    EXPECT_EQ(con->md5_group, con->username.empty() ? "" : "sys");
    httpCloseSocket(&con->http);
  }
}

// The configuration files need an administrator even under a location that
// asks for nothing.
TEST_F(AuthorizeTest, ConfigurationFilesNeedAnAdministratorEverywhere) {
  ReadLocations("<Location />\nOrder deny,allow\n</Location>\n");
  ASSERT_TRUE(AddCert(0, "root"));
  ASSERT_TRUE(AddCert(4242, "bob"));
  const std::string root_cert = "Local " + Certs.back().certificate;  // pid 0: the oldest
  const std::string bob_cert = "Local " + Certs.front().certificate;
  const Case cases[] = {
      {"anonymous", "127.0.0.1", "localhost", HTTP_GET_SEND, "/admin/conf/passwd.md5", "", HTTP_UNAUTHORIZED, ""},
      // Not in a system group: as any group location, 401.
      {"a user without rights", "127.0.0.1", "localhost", HTTP_PUT_RECV, "/admin/conf/vornd.conf", bob_cert,
       HTTP_UNAUTHORIZED, ""},
      {"root by certificate", "127.0.0.1", "localhost", HTTP_PUT_RECV, "/admin/conf/vornd.conf", root_cert,
       HTTP_OK, "root"},
      {"the root certificate from another host", "10.1.2.3", "10.1.2.3", HTTP_GET_SEND, "/admin/conf/vornd.conf",
       root_cert, HTTP_UNAUTHORIZED, ""},
      {"anything else stays open", "10.1.2.3", "10.1.2.3", HTTP_GET_SEND, "/admin/x", "", HTTP_OK, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto con = Client(c.peer, c.hostname, c.state, c.resource, c.authorization);
    EXPECT_EQ(IsAuthorized(con.get()), c.status);
    EXPECT_EQ(con->username, c.user);
    httpCloseSocket(&con->http);
  }
}

TEST_F(AuthorizeTest, LocalCertificatesProveTheirUserOnThisHostOnly) {
  ASSERT_TRUE(AddCert(0, "root"));
  ASSERT_TRUE(AddCert(77, "no-such-user-for-vorn-tests"));
  std::string root_cert = "Local " + Certs.back().certificate;
  std::string lower = root_cert;
  for (char& ch : lower) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  lower.replace(0, 5, "Local");
  std::string user_cert = "Local " + Certs.front().certificate;
  const Case cases[] = {
      {"root certificate", "127.0.0.1", "localhost", HTTP_POST_RECV, "/admin/", root_cert, HTTP_OK, "root"},
      {"compared ignoring case", "127.0.0.1", "localhost", HTTP_POST_RECV, "/admin/", lower, HTTP_OK, "root"},
      {"from another host", "10.1.2.3", "10.1.2.3", HTTP_POST_RECV, "/admin/", root_cert, HTTP_UNAUTHORIZED, ""},
      {"from a peer named localhost", "10.1.2.3", "localhost", HTTP_POST_RECV, "/admin/", root_cert,
       HTTP_UNAUTHORIZED, ""},
      {"unknown certificate", "127.0.0.1", "localhost", HTTP_POST_RECV, "/admin/",
       "Local 0123456789ABCDEF0123456789ABCDEF", HTTP_UNAUTHORIZED, ""},
      {"a certificate keeps its user on anonymous locations", "127.0.0.1", "localhost", HTTP_GET_SEND, "/jobs",
       user_cert, HTTP_OK, "no-such-user-for-vorn-tests"},
      {"group check of a certificate user: a missing group is forbidden", "127.0.0.1", "localhost", HTTP_GET_SEND,
       "/grp", user_cert, HTTP_FORBIDDEN, ""},
      {"root passes every group", "127.0.0.1", "localhost", HTTP_GET_SEND, "/grp", root_cert, HTTP_OK, "root"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto con = Client(c.peer, c.hostname, c.state, c.resource, c.authorization);
    EXPECT_EQ(IsAuthorized(con.get()), c.status);
    EXPECT_EQ(con->username, c.user);
    httpCloseSocket(&con->http);
  }
}

TEST_F(AuthorizeTest, NoLocationIsForbidden) {
  ReadLocations("<Location /printers>\n</Location>\n");
  auto con = Client("127.0.0.1", "localhost", HTTP_GET_SEND, "/jobs", "");
  EXPECT_EQ(IsAuthorized(con.get()), HTTP_FORBIDDEN);
  EXPECT_EQ(con->auth_location, nullptr);
  httpCloseSocket(&con->http);
}

TEST_F(AuthorizeTest, FindBestTakesTheLongestPathThatAdmitsTheMethod) {
  ReadLocations(R"(
<Location />
</Location>
<Location /admin>
</Location>
<Location /admin/conf>
<Limit PUT>
</Limit>
</Location>
<Location /printers/lab>
</Location>
<Location /Jobs>
</Location>
)");
  const struct {
    const char* resource;
    http_state_t state;
    const char* path;
    int limit;  // of the chosen location
  } cases[] = {
      {"/admin/conf/vornd.conf", HTTP_GET_SEND, "/admin/conf", LIMIT_ALL & ~LIMIT_PUT},
      {"/admin/conf/vornd.conf", HTTP_PUT_RECV, "/admin/conf", LIMIT_PUT},
      {"/admin/x", HTTP_POST_RECV, "/admin", LIMIT_ALL},
      {"/printers/lab.ppd", HTTP_GET_SEND, "/printers/lab", LIMIT_ALL},
      {"/classes/lab.ppd", HTTP_GET_SEND, "/", LIMIT_ALL},
      {"/jobs/3", HTTP_GET_SEND, "/", LIMIT_ALL},  // prefixes compare case-sensitively
  };
  for (const auto& c : cases) {
    const location_t* best = FindBest(c.resource, c.state);
    ASSERT_NE(best, nullptr) << c.resource;
    EXPECT_EQ(best->path, c.path) << c.resource;
    EXPECT_EQ(best->limit, c.limit) << c.resource;
  }
}

TEST_F(AuthorizeTest, DigestPasswordFileLines) {
  std::ofstream(root_ + "/passwd.md5") << "broken line\n"
                                       << "carol:sys:\n"
                                       << "carol:lp:abc\n"
                                       << "carol:sys:def\n"
                                       << std::string(33, 'u') << ":sys:aaa\n"
                                       << "dave:sys:" << std::string(33, 'f') << "\n";
  const struct {
    const char* user;
    const char* group;
    bool found;
    const char* hash;
    const char* found_group;
  } cases[] = {
      {"carol", nullptr, true, "abc", "lp"},  // the first line of the user
      {"carol", "sys", true, "def", "sys"},
      {"carol", "SYS", false, "", ""},  // groups compare case-sensitively
      {"Carol", nullptr, false, "", ""},
      {"dave", nullptr, false, "", ""},  // a digest longer than 32 is no entry
      {"uuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuuu", nullptr, false, "", ""},
  };
  for (const auto& c : cases) {
    std::string hash, group;
    EXPECT_EQ(GetMD5Passwd(c.user, c.group, hash, &group), c.found) << c.user;
    EXPECT_EQ(hash, c.hash) << c.user;
    EXPECT_EQ(group, c.found_group) << c.user;
  }
  std::filesystem::remove(root_ + "/passwd.md5");
  std::string hash;
  EXPECT_FALSE(GetMD5Passwd("carol", nullptr, hash));
}

}  // namespace
