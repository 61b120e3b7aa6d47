// printers.conf and the printcap file: the round trip with every field,
// damaged files, field limits, failed saves, and both printcap formats.
#include <sys/stat.h>

#include "tests/fixtures/printers/printers_fixture.h"

namespace {

using PrintersConfTest = PrintersTest;

// Every field printers.conf keeps.
struct Saved {
  std::string name, info, location, device_uri, state_message, sheets0, sheets1;
  int state, accepting, quota_period, page_limit, k_limit, deny_users;
  std::vector<std::string> users;
  bool is_default;

  static Saved Of(const printer_t* p) {
    return {p->name,       p->info,        p->location,   p->device_uri,
            p->state_message, p->job_sheets[0], p->job_sheets[1], p->state,
            p->accepting,  p->quota_period, p->page_limit, p->k_limit,
            p->deny_users, p->users,       p == DefaultPrinter};
  }
  bool operator==(const Saved&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Saved& s) {
  os << s.name << "|" << s.info << "|" << s.location << "|" << s.device_uri << "|" << s.state << "|"
     << s.state_message << "|" << s.accepting << "|" << s.sheets0 << " " << s.sheets1 << "|" << s.quota_period
     << "/" << s.page_limit << "/" << s.k_limit << "|" << s.deny_users << ":";
  for (const auto& u : s.users) os << u << ",";
  return os << "|" << s.is_default;
}

std::vector<Saved> Snapshot() {
  std::vector<Saved> out;
  for (const printer_t* p = Printers; p; p = p->next) out.push_back(Saved::Of(p));
  return out;
}

// The file without its "# Written by vornd on <date>" line.
std::string WithoutDate(const std::string& text) {
  size_t at = text.find("# Written by vornd on ");
  if (at == std::string::npos) return text;
  return text.substr(0, at) + text.substr(text.find('\n', at) + 1);
}

TEST_F(PrintersConfTest, RoundTripKeepsEveryField) {
  printer_t* office = AddPrinter("office");
  office->info = "Second floor, colour";
  office->location = "Room 2.14 (north)";
  office->device_uri = "socket://10.0.0.7:9100?waitof=false";
  office->state = IPP_PRINTER_STOPPED;
  office->state_message = "Paused by admin: toner";
  office->accepting = 0;
  office->job_sheets[0] = "standard";
  office->job_sheets[1] = "classified";
  office->quota_period = 604800;
  office->page_limit = 100;
  office->k_limit = 2048;
  office->deny_users = 1;
  office->users = {"mallory", "@guests"};

  printer_t* lab = AddPrinter("Lab");
  lab->info = "Lab printer";
  lab->location = "";
  lab->device_uri = "parallel:/dev/lp0";
  lab->state = IPP_PRINTER_IDLE;
  lab->accepting = 1;
  lab->users = {"alice", "bob"};
  lab->deny_users = 0;
  DefaultPrinter = lab;

  printer_t* busy = AddPrinter("busy");
  busy->state = IPP_PRINTER_PROCESSING;
  busy->accepting = 1;

  // Neither classes nor remote destinations belong in the file.
  printer_t* cls = AddPrinter("team");
  cls->type = PRINTER_CLASS;
  printer_t* remote = AddPrinter("far@pc2");
  remote->type = PRINTER_REMOTE;

  ConfigFilePerm = 0600;
  ASSERT_EQ(WritePrintersConf(), 1);
  std::string first = Read("printers.conf");
  struct stat st;
  ASSERT_EQ(::stat(Path("printers.conf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  EXPECT_EQ(first.rfind("# Printer configuration file for VORN v1.1\n# Written by vornd on ", 0), 0u) << first;
  EXPECT_EQ(WithoutDate(first),
            "# Printer configuration file for VORN v1.1\n"
            "<Printer busy>\n"
            "Info busy\n"
            "DeviceURI file:/dev/null\n"
            "State Idle\n"
            "Accepting Yes\n"
            "JobSheets none none\n"
            "QuotaPeriod 0\n"
            "PageLimit 0\n"
            "KLimit 0\n"
            "</Printer>\n"
            "<DefaultPrinter Lab>\n"
            "Info Lab printer\n"
            "DeviceURI parallel:/dev/lp0\n"
            "State Idle\n"
            "Accepting Yes\n"
            "JobSheets none none\n"
            "QuotaPeriod 0\n"
            "PageLimit 0\n"
            "KLimit 0\n"
            "AllowUser alice\n"
            "AllowUser bob\n"
            "</Printer>\n"
            "<Printer office>\n"
            "Info Second floor, colour\n"
            "Location Room 2.14 (north)\n"
            "DeviceURI socket://10.0.0.7:9100?waitof=false\n"
            "State Stopped\n"
            "StateMessage Paused by admin: toner\n"
            "Accepting No\n"
            "JobSheets standard classified\n"
            "QuotaPeriod 604800\n"
            "PageLimit 100\n"
            "KLimit 2048\n"
            "DenyUser mallory\n"
            "DenyUser @guests\n"
            "</Printer>\n");

  // A processing printer comes back idle; everything else as it was.
  busy->state = IPP_PRINTER_IDLE;
  RemovePrinter(cls, 0);
  RemovePrinter(remote, 0);
  std::vector<Saved> before = Snapshot();
  RemoveAllPrinters();
  DefaultPrinter = nullptr;
  ASSERT_EQ(Printers, nullptr);

  LoadAllPrinters();
  std::vector<Saved> after = Snapshot();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); i++) EXPECT_EQ(after[i], before[i]);
  for (const printer_t* p = Printers; p; p = p->next) {
    EXPECT_TRUE(p->attrs) << p->name << " has its attributes";
    EXPECT_EQ(p->history.size(), 1u) << p->name;
  }
  EXPECT_EQ(TakeLog().find("E ["), std::string::npos);

  ASSERT_EQ(WritePrintersConf(), 1);
  EXPECT_EQ(WithoutDate(Read("printers.conf")), WithoutDate(first));
  // The file before this save is kept beside it.
  EXPECT_EQ(Read("printers.conf.O"), first);
}

TEST_F(PrintersConfTest, ValuesStayOnTheirLine) {
  printer_t* p = AddPrinter("p");
  p->info = "two\nlines";
  p->location = "tab\there\rand";
  p->users = {"eve\n</Printer>\n<Printer injected>"};
  ASSERT_EQ(WritePrintersConf(), 1);
  RemoveAllPrinters();
  LoadAllPrinters();
  EXPECT_EQ(Names(), "p");
  p = LookupPrinter("p");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->info, "two lines");
  EXPECT_EQ(p->location, "tab here and");
  EXPECT_EQ(p->users, std::vector<std::string>{"eve </Printer> <Printer injected>"});
}

TEST_F(PrintersConfTest, DamagedFilesLoadWhatTheyCan) {
  const std::string long_info(5000, 'i');
  const struct {
    const char* title;
    std::string file;
    std::string names;                  // loaded, in order
    std::vector<std::string> errors;    // error lines expected
  } cases[] = {
      {"unknown directive",
       "<Printer a>\nBogus 1\ninfo lower case\n</Printer>\n<Printer b>\n</Printer>\n", "a,b",
       {"Unknown configuration directive Bogus on line 2 of printers.conf.",
        "Unknown configuration directive info on line 3 of printers.conf."}},
      // A damaged block is left out; the blocks after it still load.
      {"directive outside a block",
       "# comment\n\nInfo stray\n<Printer a>\n</Printer>\n", "a",
       {"Syntax error on line 3 of printers.conf."}},
      {"missing >", "<Printer a>\n</Printer>\n<Printer b\n</Printer>\n<Printer c>\n</Printer>\n", "a,c",
       {"Syntax error on line 3 of printers.conf."}},
      {"empty name", "<Printer >\n</Printer>\n<Printer b>\n</Printer>\n", "b",
       {"Syntax error on line 1 of printers.conf."}},
      {"nested block", "<Printer a>\nInfo lost\n<Printer b>\n</Printer>\n", "b",
       {"Syntax error on line 3 of printers.conf.", "Skipping printer a of printers.conf: its block is damaged."}},
      {"close without open", "</Printer>\n<Printer a>\n</Printer>\n", "a",
       {"Syntax error on line 1 of printers.conf."}},
      {"unclosed at the end", "<Printer a>\nInfo A\n<Printer", "",
       {"Syntax error on line 3 of printers.conf.", "Skipping printer a of printers.conf: its block is damaged."}},
      {"file ends inside a block", "<Printer a>\nInfo A\n", "a",
       {"Syntax error on line 2 of printers.conf."}},
      {"duplicate block", "<Printer a>\nInfo first\n</Printer>\n<Printer A>\nInfo second\n</Printer>\n"
       "<Printer b>\n</Printer>\n", "a,b",
       {"Duplicate printer A on line 4 of printers.conf."}},
      {"binary garbage",
       std::string("<Printer a>\n\x01\x02\xff\xfe garbage\n") + std::string("\0\0\0\n", 4) +
           "</Printer>\n<Printer b>\n</Printer>\n",
       "a,b",
       // Control characters are written out in the log.
       {"Unknown configuration directive \\x01\\x02\xff\xfe on line 2 of printers.conf.",
        "Unknown configuration directive  on line 3 of printers.conf."}},
      {"carriage returns", "<Printer a>\r\nInfo A\r\n</Printer>\r<Printer b>\r</Printer>\r\n", "a,b", {}},
      {"long line", "<Printer a>\nInfo " + long_info + "\nBogus\n</Printer>\n", "a",
       {"Unknown configuration directive Bogus on line 3 of printers.conf."}},
  };
  for (const auto& c : cases) {
    Write("printers.conf", c.file);
    TakeLog();
    LoadAllPrinters();
    std::string log = TakeLog();
    EXPECT_EQ(Names(), c.names) << c.title;
    for (const std::string& e : c.errors) EXPECT_TRUE(HasLine(log, 'E', e)) << c.title << "\n" << log;
    size_t count = 0;
    for (size_t at = log.find("E ["); at != std::string::npos; at = log.find("E [", at + 1)) count++;
    EXPECT_EQ(count, c.errors.size()) << c.title << "\n" << log;
    // Whatever was loaded is complete.
    for (const printer_t* p = Printers; p; p = p->next) EXPECT_TRUE(p->attrs) << c.title;
    while (Printers) RemovePrinter(Printers, 0);
  }
}

TEST_F(PrintersConfTest, ValuesAreReadAndCut) {
  Write("printers.conf",
        "<DefaultPrinter a>\n"
        "  Info   spaced out   \n"
        "Location " + std::string(400, 'l') + "\n"
        "DeviceURI u:" + std::string(1100, 'u') + "\n"
        "State processing\n"
        "StateMessage " + std::string(1020, 'm') + "\n"
        "Accepting maybe\n"
        "JobSheets standard\n"
        "QuotaPeriod 99999999999\n"
        "PageLimit -5\n"
        "KLimit twelve\n"
        "AllowUser alice\n"
        "DenyUser bob\n"
        "</Printer>\n"
        "<Printer b>\n"
        "State STOPPED\n"
        "Accepting YES\n"
        "JobSheets  one   two  three\n"
        "</Printer>\n");
  LoadAllPrinters();
  printer_t* a = LookupPrinter("a");
  printer_t* b = LookupPrinter("b");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(DefaultPrinter, a);
  EXPECT_EQ(a->info, "spaced out");
  EXPECT_EQ(a->location.size(), kMaxPrinterText);
  // The line limit (1023 characters) cuts first.
  EXPECT_EQ(a->device_uri, "u:" + std::string(1023 - 12, 'u'));
  EXPECT_EQ(a->state, IPP_PRINTER_IDLE) << "unknown states are ignored";
  EXPECT_EQ(a->state_message.size(), 1023u - 13u);
  EXPECT_EQ(a->accepting, 0);
  EXPECT_EQ(a->job_sheets[0], "standard");
  EXPECT_EQ(a->job_sheets[1], "none");
  EXPECT_EQ(a->quota_period, 2147483647);
  EXPECT_EQ(a->page_limit, 0);
  EXPECT_EQ(a->k_limit, 0);
  EXPECT_EQ(a->users, (std::vector<std::string>{"alice", "bob"}));
  EXPECT_EQ(a->deny_users, 1) << "the last user line decides";

  EXPECT_EQ(b->state, IPP_PRINTER_STOPPED);
  EXPECT_EQ(b->accepting, 1);
  EXPECT_EQ(b->job_sheets[0], "one");
  EXPECT_EQ(b->job_sheets[1], "two");
}

// A new system has no printers.conf (nor classes.conf) yet: that is told,
// but it is no error.
TEST_F(PrintersConfTest, MissingFilesAreNoError) {
  LoadAllPrinters();
  LoadAllClasses();
  EXPECT_EQ(Printers, nullptr);
  std::string log = TakeLog();
  EXPECT_TRUE(HasLine(log, 'I', "LoadAllPrinters: Unable to open " + Path("printers.conf") + " - No such file or directory"));
  EXPECT_TRUE(HasLine(log, 'I', "LoadAllClasses: Unable to open " + Path("classes.conf") + " - No such file or directory"));
}

TEST_F(PrintersConfTest, FailedSaveIsReportedAndKeepsTheOldFile) {
  AddPrinter("p");
  // printers.conf is a directory: the new file cannot take its place.
  std::filesystem::create_directory(Path("printers.conf"));
  Write("printers.conf/keep", "x");
  EXPECT_EQ(WritePrintersConf(), 0);
  EXPECT_EQ(Read("printers.conf/keep"), "x");
  std::string log = TakeLog();
  EXPECT_NE(log.find("] Unable to save printers.conf - "), std::string::npos) << log;

  ServerRoot = Path("missing");
  EXPECT_EQ(WritePrintersConf(), 0);
  EXPECT_TRUE(HasLine(TakeLog(), 'E', "Unable to save printers.conf - No such file or directory"));
  ServerRoot = root_;
}

// A registry of every kind for the printcap cases.
void FillRegistry() {
  printer_t* a = AddPrinter("alpha");
  a->info = "Alpha: the first";
  AddPrinter("beta")->info = "Beta";
  printer_t* team = AddPrinter("team");
  team->type = PRINTER_CLASS;
  team->info = "";
  printer_t* far = AddPrinter("far@pc2");
  far->type = PRINTER_REMOTE;
  far->info = "Far away";
  DefaultPrinter = LookupPrinter("beta");
}

TEST_F(PrintersConfTest, PrintcapBsd) {
  PrintcapFormat = PRINTCAP_BSD;
  FillRegistry();
  SavePrintcap();
  EXPECT_EQ(Read("printcap"),
            "# This file was automatically generated by vornd(8) from the\n"
            "# " + root_ + "/printers.conf file.  All changes to this file\n"
            "# will be lost.\n"
            "beta|Beta:rm=srv.example.org:rp=beta:\n"
            "alpha|Alpha  the first:rm=srv.example.org:rp=alpha:\n"
            "far@pc2|Far away:rm=srv.example.org:rp=far@pc2:\n"
            "team|team:rm=srv.example.org:rp=team:\n");
}

TEST_F(PrintersConfTest, PrintcapSolaris) {
  PrintcapFormat = PRINTCAP_SOLARIS;
  FillRegistry();
  SavePrintcap();
  EXPECT_EQ(Read("printcap"),
            "# This file was automatically generated by vornd(8) from the\n"
            "# " + root_ + "/printers.conf file.  All changes to this file\n"
            "# will be lost.\n"
            "_all:all=alpha,beta,far@pc2,team\n"
            "_default:use=beta\n"
            "alpha:\\\n\t:bsdaddr=srv.example.org,alpha:\\\n\t:description=Alpha  the first:\n"
            "beta:\\\n\t:bsdaddr=srv.example.org,beta:\\\n\t:description=Beta:\n"
            "far@pc2:\\\n\t:bsdaddr=srv.example.org,far@pc2:\\\n\t:description=Far away:\n"
            "team:\\\n\t:bsdaddr=srv.example.org,team:\\\n\t:description=:\n");

  while (Printers) RemovePrinter(Printers, 0);
  SavePrintcap();
  EXPECT_EQ(Read("printcap").substr(Read("printcap").find("will be lost.\n") + 14), "_all:all=\n");
}

TEST_F(PrintersConfTest, PrintcapFollowsTheRegistry) {
  AddPrinter("one");
  EXPECT_NE(Read("printcap").find("one|one:"), std::string::npos);
  Write("printers.conf", "<Printer two>\n</Printer>\n<Printer three>\n</Printer>\n");
  LoadAllPrinters();
  std::string printcap = Read("printcap");
  EXPECT_NE(printcap.find("one|one:"), std::string::npos);
  EXPECT_NE(printcap.find("three|three:"), std::string::npos);
  EXPECT_NE(printcap.find("two|two:"), std::string::npos);

  Printcap.clear();
  std::filesystem::remove(Path("printcap"));
  AddPrinter("four");
  EXPECT_FALSE(std::filesystem::exists(Path("printcap")));
}

}  // namespace
