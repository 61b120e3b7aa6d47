// Access control of the running vornd against real clients: curl with Basic
// passwords checked by real PAM (a service file and accounts the test makes,
// root only), Digest and BasicDigest against passwd.md5, local
// certificates, peers in a network namespace the test creates, and the
// owners and modes of the scheduler's files as the filters' user sees them.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "harness.h"
#include "vorn/http.h"

namespace {

using namespace e2e;

// Accounts and a PAM service of the test's own, removed at the end. Only
// root can make them.
struct Accounts {
  std::string suffix = std::to_string(::getpid() % 100000);
  std::string admin = "vornta" + suffix;    // in the admin group
  std::string plain = "vorntb" + suffix;    // in no group of ours
  std::string group = "vorntg" + suffix;    // the test's system group
  std::string service = "vorn-test-" + suffix;
  std::string admin_pw = "Adm1n-pass";
  std::string plain_pw = "Pl4in-pass";
  std::string why_not;  // empty when everything was made

  Accounts() {
    if (::getuid() != 0) {
      why_not = "accounts and PAM services can only be made by root";
      return;
    }
    for (const char* tool : {"useradd", "groupadd", "chpasswd", "userdel", "groupdel"})
      if (FindProgram(tool).empty()) {
        why_not = std::string("no ") + tool;
        return;
      }
    auto run = [&](const std::vector<std::string>& argv, const std::string& input = "") {
      RunResult r = RunProgram(argv, 30s, input);
      if (r.exit_status != 0 && why_not.empty()) why_not = argv[0] + " failed: " + r.err;
    };
    run({FindProgram("groupadd"), group});
    run({FindProgram("useradd"), "-M", "-N", "-g", "nogroup", "-G", group, "-s", "/usr/sbin/nologin", admin});
    run({FindProgram("useradd"), "-M", "-N", "-g", "nogroup", "-s", "/usr/sbin/nologin", plain});
    run({FindProgram("chpasswd")}, admin + ":" + admin_pw + "\n" + plain + ":" + plain_pw + "\n");
    if (!WriteFile("/etc/pam.d/" + service, "auth required pam_unix.so\naccount required pam_unix.so\n"))
      why_not = "cannot write the PAM service file";
  }
  ~Accounts() {
    if (::getuid() != 0) return;
    ::unlink(("/etc/pam.d/" + service).c_str());
    for (const std::string& user : {admin, plain}) RunProgram({FindProgram("userdel"), user}, 30s);
    RunProgram({FindProgram("groupdel"), group}, 30s);
  }
};

// A network namespace with a veth pair: this host is 10.231.N.1, the
// namespace 10.231.N.2. Only root can make it.
struct Namespace {
  std::string name, host_if, ns_if, host_addr, peer_addr;
  std::string why_not;
  explicit Namespace(int n) {
    std::string id = std::to_string(::getpid() % 100000);
    name = "vornt" + id;
    host_if = "vth" + id;
    ns_if = "vtn" + id;
    host_addr = "10.231." + std::to_string(n) + ".1";
    peer_addr = "10.231." + std::to_string(n) + ".2";
    std::string ip = FindProgram("ip");
    if (::getuid() != 0 || ip.empty()) {
      why_not = "network namespaces need root and the ip command";
      return;
    }
    const std::vector<std::vector<std::string>> steps = {
        {ip, "netns", "add", name},
        {ip, "link", "add", host_if, "type", "veth", "peer", "name", ns_if},
        {ip, "link", "set", ns_if, "netns", name},
        {ip, "addr", "add", host_addr + "/24", "dev", host_if},
        {ip, "link", "set", host_if, "up"},
        {ip, "netns", "exec", name, ip, "addr", "add", peer_addr + "/24", "dev", ns_if},
        {ip, "netns", "exec", name, ip, "link", "set", ns_if, "up"},
        {ip, "netns", "exec", name, ip, "link", "set", "lo", "up"},
    };
    for (const auto& step : steps) {
      RunResult r = RunProgram(step, 30s);
      if (r.exit_status != 0) {
        why_not = "cannot set up the namespace: " + r.err;
        return;
      }
    }
  }
  ~Namespace() {
    std::string ip = FindProgram("ip");
    if (ip.empty() || ::getuid() != 0) return;
    RunProgram({ip, "link", "del", host_if}, 30s);
    RunProgram({ip, "netns", "del", name}, 30s);
  }
};

// A line appended to /etc/hosts for the life of the object.
struct HostsLine {
  std::string line;
  bool added = false;
  explicit HostsLine(std::string text) : line(std::move(text)) {
    std::ofstream hosts("/etc/hosts", std::ios::app);
    added = static_cast<bool>(hosts << line);
  }
  ~HostsLine() {
    if (!added) return;
    std::string hosts = ReadFile("/etc/hosts");
    size_t at = hosts.rfind(line);
    if (at == std::string::npos) return;
    hosts.erase(at, line.size());
    WriteFile("/etc/hosts", hosts);
  }
};

std::string ipp_attr(uint8_t tag, std::string_view name, std::string_view value) {
  std::string a(1, char(tag));
  a += char(name.size() >> 8);
  a += char(name.size() & 0xff);
  a += name;
  a += char(value.size() >> 8);
  a += char(value.size() & 0xff);
  a += value;
  return a;
}

// An administrative request (VORN-Add-Printer) for printer "lab".
std::string add_printer_request() {
  std::string m = {1, 1, char(0x40), char(0x03), 0, 0, 0, 1};
  return m + "\x01" + ipp_attr(0x47, "attributes-charset", "utf-8") +
         ipp_attr(0x48, "attributes-natural-language", "en") +
         ipp_attr(0x45, "printer-uri", "ipp://localhost/printers/lab") + "\x03";
}

class Access : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { accounts_ = new Accounts; }
  static void TearDownTestSuite() {
    delete accounts_;
    accounts_ = nullptr;
  }

  void SetUp() override {
    curl_ = FindProgram("curl");
    if (curl_.empty()) GTEST_SKIP() << "curl is needed";
    if (!accounts_->why_not.empty()) GTEST_SKIP() << accounts_->why_not;
    for (const char* dir : {"open", "login", "staff", "lan", "other", "iface", "onlan", "tls", "digest"}) {
      std::filesystem::create_directories(root_.file(std::string("doc/") + dir));
      ASSERT_TRUE(WriteFile(root_.file(std::string("doc/") + dir + "/index.html"), std::string(dir) + "\n"));
    }
    ASSERT_TRUE(WriteFile(root_.file("ipp.bin"), add_printer_request()));
  }

  // The locations of the test; `extra` comes first (listeners, settings).
  std::string Config(const std::string& extra, const std::string& iface = "lo") const {
    const Accounts& a = *accounts_;
    return extra + "PAMService " + a.service + "\nSystemGroup " + a.group +
           "\n"
           "<Location /admin>\nAuthType Basic\nAuthClass System\nOrder deny,allow\n</Location>\n"
           "<Location /login>\nAuthType Basic\nRequire user " + a.admin + " " + a.plain + "\n</Location>\n"
           "<Location /staff>\nAuthType Basic\nRequire group " + a.group + "\n</Location>\n"
           "<Location /lan>\nOrder allow,deny\nAllow from 10.231.0.0/16\n</Location>\n"
           "<Location /other>\nOrder allow,deny\nAllow from 192.0.2.0/24\n</Location>\n"
           "<Location /iface>\nOrder deny,allow\nDeny from all\nAllow from @IF(" + iface + ")\n</Location>\n"
           "<Location /onlan>\nOrder deny,allow\nDeny from all\nAllow from @LOCAL\n</Location>\n"
           "<Location /tls>\nEncryption Required\n</Location>\n"
           "<Location /digest>\nAuthType Digest\nAuthClass User\n</Location>\n";
  }

  void Start(const std::string& config) {
    root_.WriteConfig(config);
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
  }

  // curl's HTTP status for `url`; `args` go before the URL. In `netns` when
  // given.
  int Curl(const std::string& url, const std::vector<std::string>& args, const std::string& netns = "") {
    std::vector<std::string> argv;
    if (!netns.empty()) argv = {FindProgram("ip"), "netns", "exec", netns};
    argv.push_back(curl_);
    for (const char* a : {"-s", "-o", "/dev/null", "-w", "%{http_code}", "--max-time", "20"}) argv.push_back(a);
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(url);
    RunResult r = RunProgram(argv, 40s);
    return std::atoi(r.out.c_str());
  }

  std::vector<std::string> Post(const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"-H", "Content-Type: application/ipp", "--data-binary", "@" + root_.file("ipp.bin")};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  std::string Url(const std::string& path, const std::string& host = "127.0.0.1") const {
    return "http://" + host + ":" + std::to_string(root_.port()) + path;
  }

  static Accounts* accounts_;
  std::string curl_;
  ServerRoot root_;
  Vornd vornd_{root_};
};

Accounts* Access::accounts_ = nullptr;

struct CurlCase {
  const char* what;
  std::string path;
  std::vector<std::string> args;
  int status;
};

TEST_F(Access, BasicPasswordsThroughPam) {
  Start(Config(""));
  const Accounts& a = *accounts_;
  const std::string admin = a.admin + ":" + a.admin_pw, plain = a.plain + ":" + a.plain_pw;
  const CurlCase cases[] = {
      {"open", "/open/", {}, 200},
      {"login: none", "/login/", {}, 401},
      {"login: right password", "/login/", {"--basic", "-u", admin}, 200},
      {"login: other listed user", "/login/", {"--basic", "-u", plain}, 200},
      {"login: wrong password", "/login/", {"--basic", "-u", a.admin + ":wrong-1"}, 401},
      {"login: no such account", "/login/", {"--basic", "-u", "vorn-nobody-here:x1x1x1"}, 401},
      {"group: member", "/staff/", {"--basic", "-u", admin}, 200},
      {"group: not a member", "/staff/", {"--basic", "-u", plain}, 401},
      {"admin operation: no user", "/admin/", Post(), 401},
      {"admin operation: not an administrator", "/admin/", Post({"--basic", "-u", plain}), 401},
      {"admin operation: administrator", "/admin/", Post({"--basic", "-u", admin}), 200},
      {"admin operation: root with a wrong password", "/admin/", Post({"--basic", "-u", "root:wrong-1"}), 401},
      {"admin operation: ROOT", "/admin/", Post({"--basic", "-u", "ROOT:" + a.admin_pw}), 401},
      {"configuration: no user", "/admin/conf/vornd.conf", {}, 401},
      {"configuration: not an administrator", "/admin/conf/vornd.conf", {"--basic", "-u", plain}, 401},
      {"configuration: administrator", "/admin/conf/vornd.conf", {"--basic", "-u", admin}, 200},
      {"encryption required", "/tls/", {}, 426},
  };
  for (const CurlCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Curl(Url(c.path), c.args), c.status);
  }
  std::string log = root_.ErrorLog();
  EXPECT_NE(log.find("IsAuthorized: pam_authenticate() returned"), std::string::npos);
  // Verified users are the ones the access log names.
  EXPECT_NE(root_.AccessLog().find("localhost - " + a.admin + " ["), std::string::npos) << root_.AccessLog();
}

TEST_F(Access, ConfigurationNeedsRootOrAnAdministratorWithTheRootCertificate) {
  Start(Config(""));
  ASSERT_TRUE(WaitUntil([&] { return !root_.RootAuthorization().empty(); }));
  std::string cert = root_.RootAuthorization();
  cert = cert.substr(std::string("Authorization: ").size());
  cert.resize(cert.size() - 2);
  EXPECT_EQ(Curl(Url("/admin/conf/vornd.conf"), {"-H", "Authorization: " + cert}), 200);
  EXPECT_EQ(Curl(Url("/admin/conf/vornd.conf"), {"-H", "Authorization: Local 0123456789ABCDEF0123456789ABCDEF"}),
            401);
}

TEST_F(Access, PeersInAnotherNetwork) {
  Namespace ns(1 + ::getpid() % 200);
  if (!ns.why_not.empty()) GTEST_SKIP() << ns.why_not;
  // The peer's reverse name says "localhost": it must grant nothing.
  HostsLine hosts(ns.peer_addr + " localhost\n");
  Start(Config("Listen " + ns.host_addr + ":" + std::to_string(root_.port()) + "\nHostNameLookups On\n",
               ns.host_if));
  const Accounts& a = *accounts_;
  const std::string admin = a.admin + ":" + a.admin_pw, plain = a.plain + ":" + a.plain_pw;
  const struct {
    const char* what;
    std::string path;
    std::vector<std::string> args;
    int local, remote;  // from 127.0.0.1, from the namespace
  } cases[] = {
      {"open", "/open/", {}, 200, 200},
      {"network rule that admits the peer", "/lan/", {}, 200, 200},
      {"network rule of another network", "/other/", {}, 200, 403},
      {"the peer's interface", "/iface/", {}, 200, 200},
      {"the networks of this host's interfaces", "/onlan/", {}, 200, 200},
      {"password still needed", "/login/", {}, 401, 401},
      {"right password", "/login/", {"--basic", "-u", admin}, 200, 200},
      {"encryption required", "/tls/", {}, 426, 426},
      {"admin: no user", "/admin/", Post(), 401, 401},
      {"admin: unverified root", "/admin/", Post({"--basic", "-u", "root:nothing1"}), 401, 401},
      {"admin: ROOT", "/admin/", Post({"--basic", "-u", "ROOT:" + a.admin_pw}), 401, 401},
      {"admin: administrator", "/admin/", Post({"--basic", "-u", admin}), 200, 200},
      {"configuration: not an administrator", "/admin/conf/vornd.conf", {"--basic", "-u", plain}, 401, 401},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Curl(Url(c.path), c.args), c.local);
    EXPECT_EQ(Curl(Url(c.path, ns.host_addr), c.args, ns.name), c.remote);
  }
  if (hosts.added) {
    // The Digest challenge's nonce is the peer's host name: the reverse
    // name "localhost" reached the scheduler, and granted nothing above.
    RunResult r = RunProgram({FindProgram("ip"), "netns", "exec", ns.name, curl_, "-s", "-D", "-", "-o", "/dev/null",
                              "--max-time", "20", Url("/digest/", ns.host_addr)},
                             40s);
    EXPECT_NE(r.out.find("nonce=\"localhost\""), std::string::npos) << r.out;
  }
}

// A job sent by a verified user is that user's, whatever name the request
// states; the control file on disk says so.
TEST_F(Access, TheJobOwnerIsTheVerifiedUser) {
  const Accounts& a = *accounts_;
  ASSERT_TRUE(root_.InstallDataFile("vorn.types"));
  ASSERT_TRUE(root_.InstallDataFile("vorn.convs"));
  ASSERT_TRUE(WriteFile(root_.file("printers.conf"), "<Printer lab>\nState Stopped\nAccepting Yes\n</Printer>\n"));
  // The filters' user is not root, so the owners below say something.
  if (!::getpwnam("nobody") || !::getgrnam("nogroup")) GTEST_SKIP() << "no account nobody and group nogroup";
  Start(Config("User nobody\nGroup nogroup\n") + "<Location /printers/lab>\nAuthType Basic\nRequire user " +
        a.admin + "\n</Location>\n");
  std::string m = {1, 1, 0, 2, 0, 0, 0, 1};  // Print-Job
  m += "\x01" + ipp_attr(0x47, "attributes-charset", "utf-8") + ipp_attr(0x48, "attributes-natural-language", "en") +
       ipp_attr(0x45, "printer-uri", "ipp://localhost/printers/lab") +
       ipp_attr(0x42, "requesting-user-name", "mallory") +
       ipp_attr(0x49, "document-format", "text/plain") + "\x03" + "hello\n";
  ASSERT_TRUE(WriteFile(root_.file("job.bin"), m));
  std::vector<std::string> args = {"-H", "Content-Type: application/ipp", "--data-binary", "@" + root_.file("job.bin")};
  EXPECT_EQ(Curl(Url("/printers/lab"), args), 401);
  args.insert(args.end(), {"--basic", "-u", a.admin + ":" + a.admin_pw});
  EXPECT_EQ(Curl(Url("/printers/lab"), args), 200);
  std::string control;
  ASSERT_TRUE(WaitUntil([&] {
    for (const auto& e : std::filesystem::directory_iterator(root_.file("spool")))
      if (e.path().filename().string().starts_with("c")) control = ReadFile(e.path());
    return !control.empty();
  }));
  EXPECT_NE(control.find(ipp_attr(0x42, "job-originating-user-name", a.admin)), std::string::npos);
  EXPECT_EQ(control.find(ipp_attr(0x42, "job-originating-user-name", "mallory")), std::string::npos);
  // The job's files are the scheduler's: the filters may read, not change them.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(root_.file("spool"))) {
    if (!e.is_regular_file()) continue;
    struct stat st {};
    ASSERT_EQ(::stat(e.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u) << e.path();
    EXPECT_EQ(st.st_mode & 022, 0u) << e.path();
    files++;
  }
  EXPECT_GE(files, 2);  // the control file and the document
}

// "Encryption Required": a plain request is told to upgrade (426), the
// same request over a connection upgraded to TLS is served.
TEST(EncryptionRequired, PlainIsRefusedUpgradedIsServed) {
  std::string node = FindProgram("node");
  if (node.empty()) GTEST_SKIP() << "the node command is needed";
  ServerRoot root;
  ASSERT_EQ(root.MakeCertificate(), "");
  std::filesystem::create_directories(root.file("doc/tls"));
  ASSERT_TRUE(WriteFile(root.file("doc/tls/index.html"), "secret\n"));
  root.WriteConfig("ServerCertificate ssl/server.crt\nServerKey ssl/server.key\n"
                   "<Location /onlan>\nOrder deny,allow\nDeny from all\nAllow from @LOCAL\n</Location>\n"
           "<Location /tls>\nEncryption Required\n</Location>\n");
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground()) << vornd.Stderr();
  RawHttp http(root.port());
  auto r = http.Exchange("GET /tls/ HTTP/1.1\r\nHost: localhost\r\n\r\n");
  EXPECT_EQ(r.status, 426) << r.head;
  EXPECT_EQ(r.Header("Upgrade"), "TLS/1.0,HTTP/1.1");
  RunResult u = RunProgram({node, SourceDir() + "/tests/e2e/http_upgrade.js", std::to_string(root.port()), "GET", "/tls/"},
                           30s);
  EXPECT_NE(u.out.find("plain HTTP/1.1 101 Switching Protocols\n"), std::string::npos) << u.out << u.err;
  EXPECT_NE(u.out.find("tls-response HTTP/1.1 200 OK\n"), std::string::npos) << u.out << u.err;
}

// Whether `path` can be opened with `flags` by uid/gid (a child that drops
// to them): 0, or the errno of the failure.
int open_as(uid_t uid, gid_t gid, const std::string& path, int flags) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(100);
    int fd = ::open(path.c_str(), flags | O_NOFOLLOW);
    ::_exit(fd >= 0 ? 0 : errno);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Access, FilesAreOutOfTheFiltersReach) {
  const passwd* nobody = ::getpwnam("nobody");
  const group* nogroup = ::getgrnam("nogroup");
  if (!nobody || !nogroup) GTEST_SKIP() << "no account nobody and group nogroup to run as";
  std::string why = root_.MakeCertificate();
  if (!why.empty()) GTEST_SKIP() << why;
  ASSERT_TRUE(WriteFile(root_.file("passwd.md5"), "u:g:0123\n", 0666));
  ASSERT_TRUE(WriteFile(root_.file("printers.conf"), "", 0666));
  // The filters' user and group, and a group that is also a system group.
  std::string config = Config("") + "User nobody\nGroup nogroup\nSystemGroup nogroup\nConfigFilePerm 0666\n";
  Start(config);
  EXPECT_TRUE(root_.WaitForLog("Group nogroup is also a SystemGroup"));
  EXPECT_EQ(Curl(Url("/open/"), {}), 200);  // the access log exists once a request is logged

  auto check = [&](const char* when) {
    SCOPED_TRACE(when);
    const struct {
      std::string file;
      bool readable;  // by the filters' user
    } files[] = {
        {"vornd.conf", true},     {"printers.conf", true},  {"passwd.md5", false}, {"ssl/server.key", false},
        {"ssl/server.crt", false}, {"certs/0", false},     {"logs/error_log", true}, {"logs/access_log", true},
    };
    struct stat dir {};
    ASSERT_EQ(::stat(root_.path().c_str(), &dir), 0);
    EXPECT_EQ(dir.st_mode & 022, 0u) << "ServerRoot writable by group or others";
    for (const auto& f : files) {
      SCOPED_TRACE(f.file);
      struct stat st {};
      ASSERT_EQ(::stat(root_.file(f.file).c_str(), &st), 0);
      EXPECT_EQ(st.st_uid, 0u);
      EXPECT_EQ(st.st_mode & 022, 0u);
      EXPECT_EQ(open_as(nobody->pw_uid, nogroup->gr_gid, root_.file(f.file), O_WRONLY), EACCES);
      int read = open_as(nobody->pw_uid, nogroup->gr_gid, root_.file(f.file), O_RDONLY);
      if (f.readable)
        EXPECT_NE(read, 100);  // the drop worked; reading may be allowed
      else
        EXPECT_EQ(read, EACCES);
    }
  };
  check("after the start");

  // An administrator's upload replaces printers.conf.
  std::string body = "# uploaded\n";
  RawHttp http(root_.port());
  auto r = http.Exchange("PUT /admin/conf/printers.conf HTTP/1.1\r\nHost: localhost\r\n" + root_.RootAuthorization() +
                         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  EXPECT_EQ(r.status, 201) << r.head;
  EXPECT_TRUE(WaitUntil([&] { return ReadFile(root_.file("printers.conf")) == body; }));
  EXPECT_TRUE(root_.WaitForLog("Full reload complete."));
  check("after an upload");

  ASSERT_EQ(vornd_.Stop(), 0);
  Start(config);
  check("after a restart");
}

}  // namespace
