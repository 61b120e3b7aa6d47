// ReadConfiguration: every directive of the settings table with its default
// and a non-default value, value conversion, the directives with their own
// syntax, Include, messages, and what is derived after parsing.
#include <climits>
#include <grp.h>
#include <pwd.h>
#include <set>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include "scheduler/browse/browse.h"
#include "scheduler/http/client.h"
#include "scheduler/log.h"
#include "tests/fixtures/scheduler/conf_fixture.h"
#include "vorn/paths.h"

namespace {

std::string host_name() {
  char name[256] = "";
  ::gethostname(name, sizeof(name) - 1);
  return name;
}

struct DefaultCase {
  const char* name;
  std::string value;
};

TEST_F(ConfTest, EveryDirectiveHasItsDefault) {
  ::unsetenv("TMPDIR");
  ::unsetenv("IPP_PORT");
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_MESSAGES");
  ::setenv("LANG", "de_DE.UTF-8", 1);
  ConfigPath = "/etc/vorn-test/vornd.conf";
  const std::string log_dir = VORN_DEFAULT_LOGDIR;
  const DefaultCase cases[] = {
      {"AccessLog", log_dir + "/access_log"},
      {"AutoPurgeJobs", "0"},
      {"BrowseInterval", "30"},
      {"BrowsePort", "631"},
      {"BrowseShortNames", "1"},
      {"BrowseTimeout", "300"},
      {"Browsing", "1"},
      {"Classification", ""},
      {"ClassifyOverride", "0"},
      {"ConfigFilePerm", std::to_string(0640)},
      {"DataDir", VORN_DEFAULT_DATADIR},
      {"DefaultCharset", "utf-8"},
      {"DefaultLanguage", "de_DE"},
      {"DocumentRoot", VORN_DEFAULT_DOCROOT},
      {"ErrorLog", log_dir + "/error_log"},
      {"FaxRetryLimit", "5"},
      {"FaxRetryInterval", "300"},
      {"FileDevice", "0"},
      {"FilterLimit", "0"},
      {"FilterNice", "0"},
      {"FontPath", VORN_DEFAULT_FONTPATH},
      {"HideImplicitMembers", "1"},
      {"ImplicitClasses", "1"},
      {"ImplicitAnyClasses", "0"},
      {"KeepAliveTimeout", "60"},
      {"KeepAlive", "1"},
      {"LimitRequestBody", "0"},
      {"ListenBackLog", std::to_string(SOMAXCONN)},
      {"LogFilePerm", std::to_string(0644)},
      {"MaxClients", "100"},
      {"MaxClientsPerHost", "0"},
      {"MaxCopies", "100"},
      {"MaxJobs", "500"},
      {"MaxJobsPerPrinter", "0"},
      {"MaxJobsPerUser", "0"},
      {"MaxLogSize", "1048576"},
      {"MaxPrinterHistory", "10"},
      {"MaxRequestSize", "0"},
      {"PageLog", log_dir + "/page_log"},
      {"PAMService", "vorn"},
      {"PreserveJobFiles", "0"},
      {"PreserveJobHistory", "1"},
      {"Printcap", "/etc/printcap"},
      {"PrintcapGUI", "/usr/bin/gdestopts"},
      {"RemoteRoot", "remroot"},
      {"RequestRoot", VORN_DEFAULT_REQUESTS},
      {"RIPCache", "8m"},
      {"RunAsUser", "0"},
      {"RootCertDuration", "300"},
      {"ServerAdmin", "root@" + host_name()},
      {"ServerBin", VORN_DEFAULT_SERVERBIN},
      {"ServerCertificate", "ssl/server.crt"},
      {"ServerKey", "ssl/server.key"},
      {"ServerName", host_name()},
      {"ServerRoot", "/etc/vorn-test"},
      {"TempDir", VORN_DEFAULT_REQUESTS "/tmp"},
      {"Timeout", "300"},
  };
  SetDefaultConfiguration();
  std::set<std::string> covered;
  for (const DefaultCase& c : cases) {
    EXPECT_EQ(Value(c.name), c.value) << c.name;
    covered.insert(c.name);
  }
  for (const conf_var_t& var : ConfigurationTable()) EXPECT_TRUE(covered.count(var.name)) << var.name << " untested";
  EXPECT_EQ(ConfigurationTable().size(), 57u);

  const passwd* lp = ::getpwnam("lp");
  const group* sys = ::getgrnam("sys");
  EXPECT_EQ(User, lp ? lp->pw_uid : 1);
  EXPECT_EQ(Group, sys ? sys->gr_gid : 0);
  ASSERT_EQ(SystemGroups.size(), 1u);
  if (sys) {
    EXPECT_EQ(SystemGroups[0], "sys");
  }
  EXPECT_EQ(NumSystemGroups, 0);
  EXPECT_EQ(HostNameLookups, HOSTNAME_OFF);
  EXPECT_EQ(LogLevel, L_ERROR);
  EXPECT_EQ(BrowseProtocols, BROWSE_VORN);
}

TEST_F(ConfTest, DefaultTempDirAndLanguageFollowTheEnvironment) {
  ::setenv("TMPDIR", "/var/tmp/elsewhere", 1);
  SetDefaultConfiguration();
  EXPECT_EQ(TempDir, "/var/tmp/elsewhere");
  ::unsetenv("TMPDIR");

  const std::pair<const char*, const char*> languages[] = {
      {nullptr, "en"}, {"C", "en"}, {"POSIX", "en"}, {"fr_CA.ISO8859-1", "fr_CA"}, {"sv_SE@euro", "sv_SE"}};
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_MESSAGES");
  for (const auto& [lang, expected] : languages) {
    if (lang)
      ::setenv("LANG", lang, 1);
    else
      ::unsetenv("LANG");
    SetDefaultConfiguration();
    EXPECT_EQ(DefaultLanguage, expected) << (lang ? lang : "(unset)");
  }
}

struct SetCase {
  const char* line;
  const char* name;   // setting to look at
  std::string value;  // "$ROOT" stands for the server root
};

TEST_F(ConfTest, EveryDirectiveTakesANonDefaultValue) {
  std::filesystem::create_directories(root_ + "/other");
  const SetCase cases[] = {
      {"AccessLog logs/requests", "AccessLog", "logs/requests"},
      {"AutoPurgeJobs yes", "AutoPurgeJobs", "1"},
      {"BrowseInterval 0x1F", "BrowseInterval", "31"},
      {"BrowsePort 9631", "BrowsePort", "9631"},
      {"BrowseShortNames off", "BrowseShortNames", "0"},
      {"BrowseTimeout 2k", "BrowseTimeout", "2048"},
      {"Browsing Disabled", "Browsing", "0"},
      {"Classification secret", "Classification", "secret"},
      {"ClassifyOverride on", "ClassifyOverride", "1"},
      {"ConfigFilePerm 0600", "ConfigFilePerm", std::to_string(0600)},
      {"DataDir /opt/vorn/data", "DataDir", "/opt/vorn/data"},
      {"DefaultCharset iso-8859-1", "DefaultCharset", "iso-8859-1"},
      {"DefaultLanguage fr", "DefaultLanguage", "fr"},
      {"DocumentRoot docs", "DocumentRoot", "$ROOT/docs"},
      {"ErrorLog logs/errors", "ErrorLog", "logs/errors"},
      {"FaxRetryLimit 7", "FaxRetryLimit", "7"},
      {"FaxRetryInterval 1m", "FaxRetryInterval", "1048576"},
      {"FileDevice true", "FileDevice", "1"},
      {"FilterLimit 200", "FilterLimit", "200"},
      {"FilterNice 10", "FilterNice", "10"},
      {"FontPath /opt/fonts", "FontPath", "/opt/fonts"},
      {"HideImplicitMembers no", "HideImplicitMembers", "0"},
      {"ImplicitClasses 0", "ImplicitClasses", "0"},
      {"ImplicitAnyClasses 5", "ImplicitAnyClasses", "1"},
      {"KeepAliveTimeout 30", "KeepAliveTimeout", "30"},
      {"KeepAlive No", "KeepAlive", "0"},
      {"LimitRequestBody 4k", "MaxRequestSize", "4096"},
      {"ListenBackLog 10", "ListenBackLog", "10"},
      {"LogFilePerm 0600", "LogFilePerm", std::to_string(0600)},
      {"MaxClients 7", "MaxClients", "7"},
      {"MaxClientsPerHost 3", "MaxClientsPerHost", "3"},
      {"MaxCopies 5", "MaxCopies", "5"},
      {"MaxJobs 9", "MaxJobs", "9"},
      {"MaxJobsPerPrinter 2", "MaxJobsPerPrinter", "2"},
      {"MaxJobsPerUser 4", "MaxJobsPerUser", "4"},
      {"MaxLogSize 2m", "MaxLogSize", "2097152"},
      {"MaxPrinterHistory 20", "MaxPrinterHistory", "20"},
      {"MaxRequestSize 1g", "LimitRequestBody", "1073741824"},
      {"PageLog syslog", "PageLog", "syslog"},
      {"PreserveJobFiles Enabled", "PreserveJobFiles", "1"},
      {"PreserveJobHistory off", "PreserveJobHistory", "0"},
      {"Printcap /tmp/printcap", "Printcap", "/tmp/printcap"},
      {"PrintcapGUI /usr/bin/other", "PrintcapGUI", "/usr/bin/other"},
      {"RemoteRoot nobody", "RemoteRoot", "nobody"},
      {"RequestRoot spool2", "RequestRoot", "$ROOT/spool2"},
      {"RIPCache 64m", "RIPCache", "64m"},
      {"RunAsUser yes", "RunAsUser", "1"},
      {"PAMService vorn-test", "PAMService", "vorn-test"},
      {"RootCertDuration 0", "RootCertDuration", "0"},
      {"ServerAdmin Jane Doe <jane@example.com>", "ServerAdmin", "Jane Doe <jane@example.com>"},
      {"ServerBin bin", "ServerBin", "$ROOT/bin"},
      {"ServerCertificate certs/c.pem", "ServerCertificate", "$ROOT/certs/c.pem"},
      {"ServerKey /etc/keys/k.pem", "ServerKey", "/etc/keys/k.pem"},
      {"ServerName 127.0.0.1", "ServerName", "127.0.0.1"},
      {"ServerRoot $ROOT/other", "ServerRoot", "$ROOT/other"},
      {"TempDir /var/tmp/vorn", "TempDir", "/var/tmp/vorn"},
      {"Timeout 0x3c", "Timeout", "60"},
  };
  auto expand = [&](std::string s) {
    for (size_t p; (p = s.find("$ROOT")) != std::string::npos;) s.replace(p, 5, root_);
    return s;
  };
  std::set<std::string> covered;
  for (const SetCase& c : cases) {
    SCOPED_TRACE(c.line);
    covered.insert(std::string(c.line).substr(0, std::string(c.line).find(' ')));
    ASSERT_TRUE(Read(expand(c.line) + "\n"));
    EXPECT_EQ(Value(c.name), expand(c.value));
  }
  for (const conf_var_t& var : ConfigurationTable()) EXPECT_TRUE(covered.count(var.name)) << var.name << " untested";
}

struct ValueCase {
  const char* line;
  const char* name;
  int value;
};

TEST_F(ConfTest, IntegerAndBooleanValues) {
  const ValueCase cases[] = {
      {"ConfigFilePerm 0640", "ConfigFilePerm", 0640},
      {"Timeout 0x3c", "Timeout", 60},
      {"MaxLogSize 1K", "MaxLogSize", 1024},
      {"MaxLogSize 3M", "MaxLogSize", 3 * 1048576},
      {"MaxLogSize 1G", "MaxLogSize", 1073741824},
      {"MaxLogSize 2t", "MaxLogSize", 2 * 262144},
      {"MaxLogSize 8g", "MaxLogSize", INT_MAX},  // held at the limit
      {"FilterNice -5", "FilterNice", -5},
      {"MaxJobs 12x", "MaxJobs", 12},
      {"KeepAlive true", "KeepAlive", 1},
      {"KeepAlive ON", "KeepAlive", 1},
      {"KeepAlive enabled", "KeepAlive", 1},
      {"KeepAlive yes", "KeepAlive", 1},
      {"KeepAlive 2", "KeepAlive", 1},
      {"Browsing FALSE", "Browsing", 0},
      {"Browsing off", "Browsing", 0},
      {"Browsing disabled", "Browsing", 0},
      {"Browsing no", "Browsing", 0},
      {"Browsing 0", "Browsing", 0},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_TRUE(Read(std::string(c.line) + "\n"));
    EXPECT_EQ(Value(c.name), std::to_string(c.value));
  }
}

struct MessageCase {
  std::string lines;
  char letter;
  std::string message;
};

TEST_F(ConfTest, BadValuesAreReportedWithTheirLine) {
  const MessageCase cases[] = {
      {"NoSuchThing 1\n", 'E', "Unknown directive NoSuchThing on line " + std::to_string(Line(1)) + "."},
      {"KeepAlive maybe\n", 'E', "Unknown boolean value maybe on line " + std::to_string(Line(1)) + "."},
      {"User nosuchuser-xyz\n", 'W', "ReadConfiguration() Unknown username \"nosuchuser-xyz\""},
      {"Group nosuchgroup-xyz\n", 'W', "ReadConfiguration() Unknown groupname \"nosuchgroup-xyz\""},
      {"HostNameLookups sometimes\n", 'W',
       "ReadConfiguration() Unknown HostNameLookups sometimes on line " + std::to_string(Line(1)) + "."},
      {"LogLevel loud\n", 'W', "Unknown LogLevel loud on line " + std::to_string(Line(1)) + "."},
      {"\nPrintcapFormat aix\n", 'W', "ReadConfiguration() Unknown PrintcapFormat aix on line " + std::to_string(Line(2)) + "."},
      {"Listen 127.0.0.1:99999\n", 'E', "Bad Listen address 127.0.0.1:99999 at line " + std::to_string(Line(1)) + "."},
      {"Listen 127.0.0.1:99999\n", 'E', "Unable to decode address \"127.0.0.1:99999\"!"},
      {"SSLPort 127.0.0.1:\n", 'E', "Bad SSLPort address 127.0.0.1: at line " + std::to_string(Line(1)) + "."},
      {"BrowseAddress 10.0.0.255:nosuchservice\n", 'E', "getservbyname(\"nosuchservice\") failed - Unknown service!"},
      {"BrowseAddress 10.0.0.255:nosuchservice\n", 'E',
       "Bad BrowseAddress 10.0.0.255:nosuchservice at line " + std::to_string(Line(1)) + "."},
      {"BrowseOrder sideways\n", 'E', "Unknown BrowseOrder value sideways on line " + std::to_string(Line(1)) + "."},
      {"BrowseProtocols vorn bogus slp\n", 'E', "Unknown browse protocol \"bogus\" on line " + std::to_string(Line(1)) + "."},
      {"BrowseRelay 10.0.0.0/8\n", 'E', "Bad relay address 10.0.0.0/8 at line " + std::to_string(Line(1)) + "."},
      {"BrowsePoll 127.0.0.1:99999\n", 'E', "Bad poll address 127.0.0.1:99999 at line " + std::to_string(Line(1)) + "."},
      {"Allow from 10.0.0.0/8\n", 'E', "Unknown directive Allow on line " + std::to_string(Line(1)) + "."},
  };
  for (const MessageCase& c : cases) {
    SCOPED_TRACE(c.lines);
    ASSERT_TRUE(Read(c.lines));
    EXPECT_TRUE(HasLine(c.letter, c.message)) << Log();
  }
}

TEST_F(ConfTest, ABadBooleanKeepsTheEarlierValue) {
  ASSERT_TRUE(Read("KeepAlive off\nKeepAlive maybe\n"));
  EXPECT_EQ(KeepAlive, 0);
}

TEST_F(ConfTest, LinesCommentsWhiteSpaceAndCase) {
  ASSERT_TRUE(Read("# a comment\n"
                   "   # an indented comment\n"
                   "\n"
                   "\t  \n"
                   "  maxclients    9   \t\n"
                   "SERVERADMIN  Jane  Doe  \r\n"
                   "loglevel DEBUG2\n"));
  EXPECT_EQ(MaxClients, 9);
  EXPECT_EQ(ServerAdmin, "Jane  Doe");
  EXPECT_EQ(LogLevel, L_DEBUG2);
  EXPECT_EQ(Log().find("Unknown directive"), std::string::npos) << Log();
}

TEST_F(ConfTest, AGzipCompressedFileReadsLikeAPlainOne) {
  std::string content = Base() + "MaxCopies 42\nLogLevel info\n";
  gzFile gz = gzopen((root_ + "/vornd.conf").c_str(), "wb");
  ASSERT_NE(gz, nullptr);
  gzwrite(gz, content.data(), unsigned(content.size()));
  gzclose(gz);
  ASSERT_TRUE(ReadConfiguration());
  EXPECT_EQ(MaxCopies, 42);
  EXPECT_EQ(LogLevel, L_INFO);
}

TEST_F(ConfTest, IncludeReadsFilesRelativeToServerRootWithTheirOwnLineNumbers) {
  WriteRaw("MaxCopies 11\nNoSuchThing here\nInclude inner.conf\n", "outer.conf");
  WriteRaw("MaxJobs 22\n", "inner.conf");
  ASSERT_TRUE(Read("Include outer.conf\nInclude missing.conf\nMaxJobsPerUser 3\nInclude " + root_ +
                   "/inner.conf\nMaxJobs 33\n"));
  EXPECT_EQ(MaxCopies, 11);
  EXPECT_EQ(MaxJobs, 33) << "lines after an Include still apply";
  EXPECT_EQ(MaxJobsPerUser, 3) << "a missing Include file does not stop the read";
  EXPECT_TRUE(HasLine('E', "Unknown directive NoSuchThing on line 2.")) << Log();
  EXPECT_TRUE(HasLine('E', "Unable to include config file \"" + root_ + "/missing.conf\" - No such file or directory"))
      << Log();
}

TEST_F(ConfTest, AFileThatIncludesItselfIsBounded) {
  WriteRaw("MaxCopies 77\nInclude loop.conf\n", "loop.conf");
  ASSERT_TRUE(Read("Include loop.conf\n"));
  EXPECT_EQ(MaxCopies, 77);
  EXPECT_TRUE(HasLine('E', "Unable to include config file \"" + root_ + "/loop.conf\" - too many nested Include lines"))
      << Log();
}

TEST_F(ConfTest, FatalErrorsFailTheRead) {
  const std::pair<const char*, std::string> cases[] = {
      {"Location line without >", "<Location /admin\n</Location>\n"},
      {"Location block without its end", "<Location /admin>\nOrder allow,deny\n"},
      {"fatal error inside an Include", "Include broken.conf\n"},
  };
  WriteRaw("<Location /x\n", "broken.conf");
  for (const auto& [name, lines] : cases) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(Read(lines));
  }
  ConfigPath = root_ + "/missing.conf";
  EXPECT_FALSE(ReadConfiguration());
  ConfigPath = root_;  // a directory opens, but cannot be read
  EXPECT_FALSE(ReadConfiguration());
}

TEST_F(ConfTest, MaxClientsAndMaxClientsPerHostAreBounded) {
  struct Case {
    const char* lines;
    int max_clients, per_host;
    const char* message;
  };
  const int third = DescriptorLimit / 3;
  const std::string limited = "MaxClients limited to 1/3 of the file descriptor limit (" +
                              std::to_string(DescriptorLimit) + ")...";
  const Case cases[] = {
      {"MaxClients 100000\n", third, third, limited.c_str()},
      {"MaxClients 0\n", third, third, nullptr},
      {"MaxClients -4\n", third, third, nullptr},
      {"MaxClients 20\nMaxClientsPerHost 0\n", 20, 20, "Allowing up to 20 client connections per host."},
      {"MaxClients 20\nMaxClientsPerHost 50\n", 20, 20, nullptr},
      {"MaxClients 20\nMaxClientsPerHost 5\n", 20, 5, "Allowing up to 5 client connections per host."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    ASSERT_TRUE(Read(c.lines));
    EXPECT_EQ(MaxClients, c.max_clients);
    EXPECT_EQ(MaxClientsPerHost, c.per_host);
    EXPECT_TRUE(HasLine('I', "Configured for up to " + std::to_string(c.max_clients) + " clients."));
    if (c.message) {
      EXPECT_TRUE(HasLine('I', c.message)) << Log();
    }
    EXPECT_EQ(Log().find("MaxClients limited") != std::string::npos, c.message == limited.c_str());
  }
  if (DescriptorLimit == 4096) {
    EXPECT_EQ(third, 1365);
  }
}

TEST_F(ConfTest, ClassificationNoneIsCleared) {
  ASSERT_TRUE(Read("Classification NoNe\n"));
  EXPECT_EQ(Classification, "");
  EXPECT_EQ(Log().find("Security set to"), std::string::npos);
  ASSERT_TRUE(Read("Classification secret\n"));
  EXPECT_TRUE(HasLine('I', "Security set to \"secret\""));
}

TEST_F(ConfTest, UserGroupAndSystemGroups) {
  const passwd* lp = ::getpwnam("lp");
  const group* sys = ::getgrnam("sys");
  if (!lp || !sys) GTEST_SKIP() << "needs the user lp and the group sys";
  ASSERT_TRUE(Read("User lp\nGroup sys\n"));
  EXPECT_EQ(User, lp->pw_uid);
  EXPECT_EQ(Group, sys->gr_gid);
  ASSERT_TRUE(Read("User 4321\nGroup 1234\n"));
  EXPECT_EQ(User, 4321u);
  EXPECT_EQ(Group, 1234u);

  ASSERT_TRUE(Read(""));
  EXPECT_EQ(NumSystemGroups, 1) << "the default group counts as one";
  EXPECT_EQ(SystemGroups, std::vector<std::string>{"sys"});
  ASSERT_TRUE(Read("SystemGroup lp, adm\nSystemGroup  staff\n"));
  EXPECT_EQ(SystemGroups, (std::vector<std::string>{"lp", "adm", "staff"}));
  EXPECT_EQ(NumSystemGroups, 3);
  std::string many = "SystemGroup";
  for (int i = 0; i < 40; i++) many += " g" + std::to_string(i);
  ASSERT_TRUE(Read(many + "\n"));
  EXPECT_EQ(NumSystemGroups, kMaxSystemGroups);
  EXPECT_EQ(SystemGroups.size(), size_t(kMaxSystemGroups));
  EXPECT_EQ(SystemGroups.back(), "g31");
}

TEST_F(ConfTest, KeywordDirectives) {
  struct Case {
    const char* line;
    const int* setting;
    int value;
  };
  const Case cases[] = {
      {"HostNameLookups On", &HostNameLookups, HOSTNAME_ON},
      {"HostNameLookups double", &HostNameLookups, HOSTNAME_DOUBLE},
      {"HostNameLookups off", &HostNameLookups, HOSTNAME_OFF},
      {"LogLevel none", &LogLevel, L_NONE},
      {"LogLevel emerg", &LogLevel, L_EMERG},
      {"LogLevel alert", &LogLevel, L_ALERT},
      {"LogLevel crit", &LogLevel, L_CRIT},
      {"LogLevel error", &LogLevel, L_ERROR},
      {"LogLevel warn", &LogLevel, L_WARN},
      {"LogLevel notice", &LogLevel, L_NOTICE},
      {"LogLevel info", &LogLevel, L_INFO},
      {"LogLevel debug", &LogLevel, L_DEBUG},
      {"LogLevel debug2", &LogLevel, L_DEBUG2},
      {"BrowseProtocols vorn, slp", &BrowseProtocols, BROWSE_VORN | BROWSE_SLP},
      {"BrowseProtocols ldap", &BrowseProtocols, BROWSE_LDAP},
      {"BrowseProtocols all", &BrowseProtocols, BROWSE_ALL},
      {"BrowseProtocols slp bogus vorn", &BrowseProtocols, BROWSE_SLP},
      {"PrintcapFormat Solaris", &PrintcapFormat, PRINTCAP_SOLARIS},
      // PrintcapFormat is not reset by a reload: still Solaris.
      {"MaxCopies 1", &PrintcapFormat, PRINTCAP_SOLARIS},
      {"PrintcapFormat bsd", &PrintcapFormat, PRINTCAP_BSD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_TRUE(Read(std::string(c.line) + "\n"));
    EXPECT_EQ(*c.setting, c.value);
  }
}

TEST_F(ConfTest, ListenersAreOpenedInTableOrder) {
  ASSERT_TRUE(Read("Listen 127.0.0.1:0\nSSLListen 127.0.0.1:0\nPort 127.0.0.1:0\nSSLPort [::1]:0\n"));
  ASSERT_TRUE(HasLine('I', "Listening to 7f000001:0")) << Log();
  EXPECT_TRUE(HasLine('I', "Listening to 7f000001:0 (SSL)"));
  EXPECT_TRUE(HasLine('I', "Listening to [::1]:0 (SSL)"));
  // Read() stopped the server; start it again to see the sockets.
  WriteRaw(Base() + "Listen 127.0.0.1:0\nSSLListen 127.0.0.1:0\n");
  ASSERT_TRUE(ReadConfiguration());
  ASSERT_EQ(Listeners.size(), 2u);
  EXPECT_EQ(Listeners[0].encryption, HTTP_ENCRYPT_IF_REQUESTED);
  EXPECT_EQ(Listeners[1].encryption, HTTP_ENCRYPT_ALWAYS);
  for (const listener_t& lis : Listeners) {
    ASSERT_TRUE(lis.fd);
    EXPECT_TRUE(InputSet.isset(lis.fd.get()));
  }
  EXPECT_FALSE(ListeningPaused());
  PauseListening();
  EXPECT_TRUE(ListeningPaused());
  for (const listener_t& lis : Listeners) EXPECT_FALSE(InputSet.isset(lis.fd.get()));
  ResumeListening();
  EXPECT_FALSE(ListeningPaused());
  StopServer();
  for (const listener_t& lis : Listeners) EXPECT_FALSE(lis.fd);
}

TEST_F(ConfTest, PartialReloadOnlyWhenAskedAndTheRootsStay) {
  struct Case {
    int pending;
    const char* extra;
    const char* message;
  };
  const Case cases[] = {
      {1, "", "Full reload is required."},
      {2, "", "Partial reload complete."},
      {0, "", "Partial reload complete."},
      {2, "RequestRoot spool-new\n", "Full reload is required."},
  };
  ASSERT_TRUE(Read(""));  // the first read is always full
  EXPECT_TRUE(HasLine('I', "Full reload complete."));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pending);
    ReloadPending = c.pending;
    ASSERT_TRUE(Read(c.extra));
    EXPECT_TRUE(HasLine('I', c.message)) << Log();
    EXPECT_EQ(ReloadPending, 0);
  }
}

TEST_F(ConfTest, MessagesReachTheErrorLogTheFileNamesAtItsLevel) {
  // The unknown directive comes before ErrorLog and LogLevel name the log
  // and its level; it still lands there, and the debug line does not.
  std::string other = root_ + "/logs/other_log";
  WriteRaw("ServerRoot " + root_ + "\nRequestRoot " + root_ + "/spool\nServerName localhost\n"
           "NoSuchThing 1\nErrorLog " + other + "\nLogLevel warn\nPrintcap " + root_ + "/printcap\n");
  ASSERT_TRUE(ReadConfiguration());
  StopServer();
  std::ifstream in(other);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_NE(s.str().find("] Unknown directive NoSuchThing on line 4.\n"), std::string::npos) << s.str();
  EXPECT_EQ(s.str().find("Loaded configuration file"), std::string::npos) << "info lines are filtered";
}

}  // namespace
