// ProcessIPPRequest and validate_user on client records built here: the
// RemoteRoot replacement (which needs peers other than 127.0.0.1) and the
// ownership rules with the system's user and group databases. Then libvorn's
// request call against the built vornd, run as a real process: kept-alive
// and encrypted connections. (That part belongs with the end-to-end tests,
// which do not link libvorn.)
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "scheduler/auth/auth.h"
#include "scheduler/http/client.h"
#include "scheduler/conf/conf.h"
#include "scheduler/fdset.h"
#include "scheduler/ipp/ipp.h"
#include "scheduler/log.h"
#include "vorn/request.h"

namespace {

class IppProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ErrorLog.clear();  // diagnostics go nowhere
    AccessLog.clear();
    LogLevel = L_NONE;
    DefaultCharset = "utf-8";
    DefaultLanguage = "en";
    RemoteRoot = "remroot";
    KeepAlive = 1;
    SystemGroups = {"sys"};
    InputSet.resize(1024);
    OutputSet.resize(1024);
  }
  void TearDown() override {
    if (peer_ >= 0) ::close(peer_);
  }

  // A client whose peer is `address` (IPv4 or IPv6 text), over one end of a
  // socket pair, with an IPP request (charset, language, printer-uri).
  std::unique_ptr<client_t> Client(const char* address) {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    peer_ = fds[1];
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
    con->http.state = HTTP_POST_SEND;
    con->http.version = HTTP_1_1;
    con->ipp_request.reset(ippNew());
    ipp_t* request = con->ipp_request.get();
    request->op_status = IPP_SET_PRINTER_ATTRIBUTES;  // never served: refused after every check
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", "", "en");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", "ipp://localhost/printers/lab");
    return con;
  }

  static std::string requesting_user(client_t* con) {
    ipp_attribute_t* a = ippFindAttribute(con->ipp_request.get(), "requesting-user-name", IPP_TAG_ZERO);
    return a && !a->values.empty() ? a->values[0].string.text : "(none)";
  }

  int peer_ = -1;
};

TEST_F(IppProcessTest, RootFromAnotherHostBecomesRemoteRoot) {
  const struct {
    const char* address;
    const char* requested;
    ipp_tag_t tag;
    const char* authenticated;
    const char* expected;
  } cases[] = {
      {"127.0.0.1", "root", IPP_TAG_NAME, "", "root"},
      {"10.1.2.3", "root", IPP_TAG_NAME, "", "remroot"},
      {"10.1.2.3", "Root", IPP_TAG_NAME, "", "remroot"},     // every spelling of root
      {"10.1.2.3", "ROOT", IPP_TAG_NAME, "ROOT", "remroot"}, // a user ROOT is not root
      {"10.1.2.3", "rooted", IPP_TAG_NAME, "", "rooted"},
      {"10.1.2.3", "root", IPP_TAG_NAME, "root", "root"},    // authenticated as root
      {"10.1.2.3", "root", IPP_TAG_NAME, "alice", "remroot"},
      {"10.1.2.3", "root", IPP_TAG_KEYWORD, "", "root"},     // not a name: not the requester
      {"127.0.0.2", "root", IPP_TAG_NAME, "", "root"},       // the loopback network is this host
      {"::1", "root", IPP_TAG_NAME, "", "root"},
      {"::ffff:127.0.0.1", "root", IPP_TAG_NAME, "", "root"},
      {"::ffff:10.1.2.3", "root", IPP_TAG_NAME, "", "remroot"},
      {"2001:db8::1", "root", IPP_TAG_NAME, "", "remroot"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.address) + " " + c.requested + " as '" + c.authenticated + "'");
    auto con = Client(c.address);
    ippAddString(con->ipp_request.get(), IPP_TAG_OPERATION, c.tag, "requesting-user-name", "", c.requested);
    con->username = c.authenticated;
    ASSERT_TRUE(ProcessIPPRequest(con.get()));
    EXPECT_EQ(requesting_user(con.get()), c.expected);
    EXPECT_TRUE(OutputSet.isset(con->http.fd));
    OutputSet.clear(con->http.fd);
    httpCloseSocket(&con->http);
    ::close(peer_);
    peer_ = -1;
  }
}

TEST_F(IppProcessTest, RemoteRootIsTheConfiguredName) {
  RemoteRoot = "visitor";
  auto con = Client("192.0.2.7");
  ippAddString(con->ipp_request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", "", "root");
  ASSERT_TRUE(ProcessIPPRequest(con.get()));
  EXPECT_EQ(requesting_user(con.get()), "visitor");
  // An unknown operation is checked and answered all the same.
  EXPECT_EQ(con->ipp_response->op_status, IPP_OPERATION_NOT_SUPPORTED);
  httpCloseSocket(&con->http);
}

TEST_F(IppProcessTest, TheResponseHeaderAnnouncesTheEncodedLength) {
  auto con = Client("127.0.0.1");
  ASSERT_TRUE(ProcessIPPRequest(con.get()));
  size_t length = ippLength(con->ipp_response.get());
  EXPECT_EQ(con->http.data_remaining, int64_t(length));
  // The header waits in the client's output; WriteClient sends it and the
  // body behind it as the socket drains.
  const std::string& head = con->output;
  EXPECT_EQ(head.substr(0, 17), "HTTP/1.1 200 OK\r\n");
  EXPECT_NE(head.find("\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n"), std::string::npos) << head;
  EXPECT_TRUE(head.ends_with("\r\n\r\n"));
  EXPECT_TRUE(OutputSet.isset(con->http.fd));
  httpCloseSocket(&con->http);
}

TEST_F(IppProcessTest, ARequestThatFailedAStepIsNotDispatched) {
  // The response of a refused request carries the envelope and the status
  // of the first failed check, whatever comes later.
  auto con = Client("127.0.0.1");
  con->ipp_request->version[0] = 2;
  ipp_attribute_t* first = con->ipp_request->attrs;
  first->value_tag = IPP_TAG_KEYWORD;  // also a bad charset: the version decides
  ASSERT_TRUE(ProcessIPPRequest(con.get()));
  ipp_t* response = con->ipp_response.get();
  EXPECT_EQ(response->op_status, IPP_VERSION_NOT_SUPPORTED);
  EXPECT_EQ(response->version[0], 2);
  ASSERT_NE(response->attrs, nullptr);
  EXPECT_EQ(response->attrs->name, "attributes-charset");
  ASSERT_NE(response->attrs->next, nullptr);
  EXPECT_EQ(response->attrs->next->name, "attributes-natural-language");
  EXPECT_EQ(response->attrs->next->next, nullptr);
  httpCloseSocket(&con->http);
}

TEST_F(IppProcessTest, EveryOperationOfTheTableIsKnownOnce) {
  auto ops = IPPOperations();
  EXPECT_EQ(ops.size(), 30u);
  for (size_t i = 1; i < ops.size(); i++) EXPECT_LT(ops[i - 1].id, ops[i].id) << ops[i].name;
  for (const auto& op : ops) EXPECT_STREQ(op.name, ippOpString(op.id));
}

// A user of the system other than root, with a primary group that exists.
struct system_user {
  std::string name;
  std::string primary_group;
};
std::optional<system_user> find_user() {
  ::setpwent();
  std::optional<system_user> found;
  while (passwd* pw = ::getpwent()) {
    if (pw->pw_uid == 0 || pw->pw_gid == 0) continue;
    if (group* gr = ::getgrgid(pw->pw_gid)) {
      found = system_user{pw->pw_name, gr->gr_name};
      break;
    }
  }
  ::endpwent();
  return found;
}

// A group that lists a user of the system who is not its primary member.
std::optional<system_user> find_member() {
  ::setgrent();
  std::optional<system_user> found;
  while (group* gr = ::getgrent()) {
    for (char** m = gr->gr_mem; m && *m && !found; m++) {
      const passwd* pw = ::getpwnam(*m);
      if (pw && pw->pw_uid != 0 && pw->pw_gid != gr->gr_gid) found = system_user{*m, gr->gr_name};
    }
    if (found) break;
  }
  ::endgrent();
  return found;
}

TEST_F(IppProcessTest, ValidateUserNamesTheRequesterAndChecksOwnership) {
  const struct {
    const char* authenticated;
    const char* requested;  // nullptr: no requesting-user-name
    const char* owner;
    bool allowed;
    const char* name;
  } cases[] = {
      {"", "alice", "alice", true, "alice"},
      {"", "Alice", "aLICE", false, "Alice"},  // account names are case-sensitive
      {"", "ROOT", "alice", false, "ROOT"},
      {"", "root", "alice", false, "root"},    // a stated name is no administrator
      {"root", "alice", "bob", true, "root"},  // a verified one is
      {"", "mallory", "alice", false, "mallory"},
      {"", nullptr, "alice", false, "anonymous"},
      {"", nullptr, "anonymous", true, "anonymous"},
      {"alice", "root", "alice", true, "alice"},  // the authenticated name wins
      {"bob", "alice", "alice", false, "bob"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.authenticated) + "/" + (c.requested ? c.requested : "(none)") + " on " + c.owner);
    auto con = Client("127.0.0.1");
    con->username = c.authenticated;
    if (c.requested)
      ippAddString(con->ipp_request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", "", c.requested);
    char name[33];
    EXPECT_EQ(validate_user(con.get(), c.owner, name, sizeof(name)), c.allowed);
    EXPECT_STREQ(name, c.name);
    httpCloseSocket(&con->http);
  }
}

TEST_F(IppProcessTest, ValidateUserRefusesBadArgumentsAndCutsTheName) {
  auto con = Client("127.0.0.1");
  ippAddString(con->ipp_request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", "", "alice");
  char name[8] = "unset";
  EXPECT_FALSE(validate_user(nullptr, "alice", name, sizeof(name)));
  EXPECT_FALSE(validate_user(con.get(), nullptr, name, sizeof(name)));
  EXPECT_FALSE(validate_user(con.get(), "alice", nullptr, sizeof(name)));
  EXPECT_FALSE(validate_user(con.get(), "alice", name, 0));
  EXPECT_STREQ(name, "unset");
  EXPECT_TRUE(validate_user(con.get(), "alice", name, 4));
  EXPECT_STREQ(name, "ali");
  httpCloseSocket(&con->http);
}

TEST_F(IppProcessTest, SystemGroupsAdmitTheirPrimaryUsersAndMembers) {
  std::optional<system_user> user = find_user();
  if (!user) GTEST_SKIP() << "no user other than root with a primary group";
  const struct {
    std::vector<std::string> groups;
    bool allowed;
  } cases[] = {
      {{user->primary_group}, true},
      {{"no-such-group-here", user->primary_group}, true},
      // A later group that does not exist does not take the earlier one back.
      {{user->primary_group, "no-such-group-here"}, true},
      {{"no-such-group-here"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.groups.front() + "," + c.groups.back());
    SystemGroups = c.groups;
    auto con = Client("127.0.0.1");
    con->username = user->name;  // verified: only then do groups count
    char name[33];
    EXPECT_EQ(validate_user(con.get(), "someone-else", name, sizeof(name)), c.allowed);
    // The same name merely stated in the request acts on its own things only.
    auto stated = Client("127.0.0.1");
    ippAddString(stated->ipp_request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", "",
                 user->name);
    EXPECT_FALSE(validate_user(stated.get(), "someone-else", name, sizeof(name)));
    httpCloseSocket(&stated->http);
    httpCloseSocket(&con->http);
  }

  std::optional<system_user> member = find_member();
  if (!member) GTEST_SKIP() << "no group here lists a member";
  for (bool listed : {true, false}) {
    SystemGroups = {listed ? member->primary_group : std::string("no-such-group-here")};
    auto con = Client("127.0.0.1");
    con->username = member->name;
    char name[33];
    EXPECT_EQ(validate_user(con.get(), "someone-else", name, sizeof(name)), listed) << member->name;
    httpCloseSocket(&con->http);
  }
}

// A user verified by a passwd.md5 entry is in that entry's group.
TEST_F(IppProcessTest, TheDigestEntryGroupCountsForVerifiedUsers) {
  SystemGroups = {"no-such-group-here", "vorn-md5-admins"};
  const struct {
    const char* group;
    bool allowed;
  } cases[] = {{"vorn-md5-admins", true}, {"staff", false}, {"", false}};
  for (const auto& c : cases) {
    auto con = Client("127.0.0.1");
    con->username = "no-such-user-here";
    con->md5_group = c.group;
    char name[33];
    EXPECT_EQ(validate_user(con.get(), "someone-else", name, sizeof(name)), c.allowed) << c.group;
    httpCloseSocket(&con->http);
  }
}

TEST_F(IppProcessTest, AnUnknownUserIsNoMemberOfAnything) {
  std::optional<system_user> user = find_user();
  if (!user) GTEST_SKIP() << "no user other than root with a primary group";
  SystemGroups = {user->primary_group};
  auto con = Client("127.0.0.1");
  con->username = "no-such-user-here";
  char name[33];
  EXPECT_FALSE(validate_user(con.get(), "someone-else", name, sizeof(name)));
  httpCloseSocket(&con->http);
}

}  // namespace
