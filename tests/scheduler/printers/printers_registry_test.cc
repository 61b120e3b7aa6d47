// The destination registry: order and lookups, LookupDest, removal and the
// default destination, states with their history, state reasons, quotas and
// printer-specific filters.
#include <algorithm>
#include <set>

#include "tests/fixtures/printers/printers_fixture.h"
#include "scheduler/auth/address.h"

namespace {

// "src>dst cost program" of every filter leading to `p`, in table order.
std::vector<std::string> FiltersTo(const printer_t* p) {
  std::vector<std::string> out;
  for (const FilterRecord& f : TypeDB->filters)
    if (f.dst == p->filetype)
      out.push_back(f.src->super + "/" + f.src->type + " " + std::to_string(f.cost) + " " + f.program);
  return out;
}

printer_t* Remote(const char* name, const char* host) {
  printer_t* p = AddPrinter(name);
  p->type = PRINTER_REMOTE;
  p->hostname = host;
  return p;
}

using RegistryTest = PrintersTest;

TEST_F(RegistryTest, KeepsNameOrderAndFindsNamesInAnyCase) {
  ASSERT_NE(AddPrinter("beta"), nullptr);
  printer_t* alpha = AddPrinter("Alpha");
  ASSERT_NE(AddPrinter("gamma"), nullptr);
  EXPECT_EQ(Names(), "Alpha,beta,gamma");
  EXPECT_EQ(LookupPrinter("ALPHA"), alpha);
  EXPECT_EQ(LookupDestByName("alpha"), alpha);
  EXPECT_EQ(LookupPrinter("delta"), nullptr);

  // Names stay unique without regard to case.
  EXPECT_EQ(AddPrinter("BETA"), nullptr);
  EXPECT_EQ(AddPrinter(nullptr), nullptr);
  EXPECT_EQ(AddPrinter(""), nullptr);
  EXPECT_EQ(Names(), "Alpha,beta,gamma");
  EXPECT_TRUE(HasLine(TakeLog(), 'd', "AddPrinter(\"(null)\")"));
}

TEST_F(RegistryTest, NewPrinterHasTheDefaults) {
  sock_addr_t addr{};
  ASSERT_TRUE(parse_listen_address("127.0.0.1:8631", kAnyAddress, 631, addr));
  Listeners.emplace_back();
  Listeners.back().address = addr;

  printer_t* p = AddPrinter("lab");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->uri, "ipp://srv.example.org:8631/printers/lab");
  EXPECT_EQ(p->hostname, "srv.example.org");
  EXPECT_EQ(p->info, "lab");
  EXPECT_EQ(p->device_uri, "file:/dev/null");
  EXPECT_EQ(p->state, IPP_PRINTER_STOPPED);
  EXPECT_EQ(p->accepting, 0);
  EXPECT_EQ(p->job_sheets[0], "none");
  EXPECT_EQ(p->job_sheets[1], "none");
  EXPECT_EQ(p->type, 0u);
  ASSERT_NE(p->filetype, nullptr);
  EXPECT_EQ(p->filetype, FindType(TypeDB.get(), "printer", "lab"));

  // A name past the limit is cut, not refused.
  std::string long_name(400, 'n');
  printer_t* q = AddPrinter(long_name.c_str());
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->name.size(), kMaxPrinterName);
  Listeners.clear();
}

TEST_F(RegistryTest, LookupsByKind) {
  printer_t* printer = AddPrinter("p1");
  printer_t* cls = AddPrinter("c1");
  cls->type = PRINTER_CLASS;
  printer_t* implicit = AddPrinter("imp");
  implicit->type = PRINTER_IMPLICIT;
  printer_t* remote = Remote("r1@pc1", "pc1");

  const struct {
    const char* name;
    printer_t* printer;
    printer_t* cls;
  } cases[] = {
      {"p1", printer, nullptr},
      {"C1", nullptr, cls},
      {"imp", implicit, implicit},  // implicit classes are both
      {"r1@PC1", remote, nullptr},
      {"none", nullptr, nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LookupPrinter(c.name), c.printer) << c.name;
    EXPECT_EQ(LookupClass(c.name), c.cls) << c.name;
    EXPECT_NE(LookupDestByName(c.name) != nullptr, c.printer == nullptr && c.cls == nullptr) << c.name;
  }
}

TEST_F(RegistryTest, LookupDestTable) {
  printer_t* laser = AddPrinter("laser");
  printer_t* team = AddPrinter("team");
  team->type = PRINTER_CLASS;
  printer_t* any = AddPrinter("AnyLaser");
  any->type = PRINTER_IMPLICIT;
  printer_t* remote = Remote("ink@pc2", "pc2");

  const struct {
    const char* host;
    const char* resource;
    printer_t* want;
    uint32_t dtype;
  } cases[] = {
      {"srv.example.org", "/printers/laser", laser, 0},
      {"localhost", "/printers/LASER", laser, 0},
      // The prefix only marks where the name starts; printers come first.
      {"srv.example.org", "/classes/laser", laser, 0},
      {"srv.example.org", "/printers/team", team, PRINTER_CLASS},
      {"srv.example.org", "/classes/anylaser", any, PRINTER_IMPLICIT},
      {"pc2.example.org", "/printers/ink@pc2", remote, PRINTER_REMOTE},
      {"srv.example.org", "/printers/ink@pc9", nullptr, 0},
      {"srv.example.org", "/printers/", nullptr, 0},
      {"srv.example.org", "/printers/nobody", nullptr, 0},
      {"srv.example.org", "/jobs/laser", nullptr, 0},
      {"srv.example.org", "/Printers/laser", nullptr, 0},
      {"srv.example.org", "printers/laser", nullptr, 0},
      {"srv.example.org", "", nullptr, 0},
  };
  for (const auto& c : cases) {
    uint32_t dtype = 0xdead;
    printer_t* got = LookupDest(c.host, c.resource, &dtype);
    EXPECT_EQ(got, c.want) << c.host << " " << c.resource;
    if (c.want) {
      EXPECT_EQ(dtype, c.dtype) << c.resource;
    }
  }
  EXPECT_EQ(LookupDest("h", "/printers/laser", nullptr), laser);
}

TEST_F(RegistryTest, RemovingTheDefaultPicksTheFirstLeft) {
  AddPrinter("b");
  AddPrinter("c");
  printer_t* a = AddPrinter("a");
  DefaultPrinter = LookupPrinter("c");
  RemovePrinter(DefaultPrinter, 0);
  EXPECT_EQ(DefaultPrinter, a);
  EXPECT_EQ(Names(), "a,b");

  // The printcap lists what is left, the default first.
  std::string printcap = Read("printcap");
  EXPECT_NE(printcap.find("a|a:rm=srv.example.org:rp=a:\nb|b:"), std::string::npos) << printcap;
  EXPECT_EQ(printcap.find("c|c"), std::string::npos);

  RemovePrinter(LookupPrinter("a"), 0);
  RemovePrinter(LookupPrinter("b"), 0);
  EXPECT_EQ(DefaultPrinter, nullptr);
  EXPECT_EQ(Printers, nullptr);
}

TEST_F(RegistryTest, RemovingAnUnknownRecordOnlyLogs) {
  AddPrinter("kept");
  printer_t stranger;
  stranger.name = "stranger";
  RemovePrinter(&stranger, 0);
  EXPECT_EQ(Names(), "kept");
  EXPECT_TRUE(HasLine(TakeLog(), 'E', "Tried to delete a non-existent printer stranger!"));
}

TEST_F(RegistryTest, RemovedPrinterLeavesEveryMemberList) {
  printer_t* a = AddPrinter("a");
  printer_t* b = AddPrinter("b");
  printer_t* c = AddPrinter("c");
  printer_t* cls = AddPrinter("team");
  cls->type = PRINTER_CLASS;
  cls->printers = {a, b, c};
  cls->last = 1;  // b was chosen last: c is next
  RemovePrinter(b, 0);
  ASSERT_EQ(cls->printers.size(), 2u);
  EXPECT_EQ(cls->printers[0], a);
  EXPECT_EQ(cls->printers[1], c);
  // The rotation goes on with c.
  EXPECT_EQ(cls->printers[(cls->last + 1) % 2], c);

  // A class in a class leaves it too.
  printer_t* inner = AddPrinter("inner");
  inner->type = PRINTER_CLASS;
  cls->printers.push_back(inner);
  RemovePrinter(inner, 0);
  EXPECT_EQ(cls->printers, (std::vector<printer_t*>{a, c}));
}

TEST_F(RegistryTest, RemoveAllPrintersKeepsClasses) {
  AddPrinter("p1");
  Remote("p2@h", "h");
  printer_t* cls = AddPrinter("team");
  cls->type = PRINTER_CLASS;
  DefaultPrinter = LookupPrinter("p1");
  SetPrinterAttrs(LookupPrinter("p1"));
  ASSERT_TRUE(CommonData);
  RemoveAllPrinters();
  EXPECT_EQ(Names(), "team");
  EXPECT_EQ(DefaultPrinter, cls);
  EXPECT_FALSE(CommonData);
}

TEST_F(RegistryTest, ReorderAfterRenames) {
  AddPrinter("a");
  AddPrinter("m");
  printer_t* z = AddPrinter("z");
  z->name = "B";
  LookupDestByName("a")->name = "y";
  ReorderPrinters();
  EXPECT_EQ(Names(), "B,m,y");
  EXPECT_EQ(LookupPrinter("b"), z);
}

TEST_F(RegistryTest, ChangePrinterStateRecordsAndSaves) {
  printer_t* p = AddPrinter("p");
  time_t before = p->state_time;
  p->browse_time = 99;
  p->state_time = 1;
  ChangePrinterState(p, IPP_PRINTER_IDLE, 0);
  EXPECT_EQ(p->state, IPP_PRINTER_IDLE);
  EXPECT_GE(p->state_time, before);
  EXPECT_EQ(p->browse_time, 0);
  EXPECT_EQ(p->history.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(Path("printers.conf"))) << "no update flag, no save";

  // Idle to processing is no stop/start change: nothing saved.
  ChangePrinterState(p, IPP_PRINTER_PROCESSING, 1);
  EXPECT_FALSE(std::filesystem::exists(Path("printers.conf")));
  // Processing to stopped with the flag: saved.
  ChangePrinterState(p, IPP_PRINTER_STOPPED, 1);
  EXPECT_NE(Read("printers.conf").find("<Printer p>\n"), std::string::npos);

  // The same state again keeps the time but still records history.
  p->state_time = 5;
  ChangePrinterState(p, IPP_PRINTER_STOPPED, 0);
  EXPECT_EQ(p->state_time, 5);
  EXPECT_EQ(p->history.size(), 4u);

  // HaltPrinter stops and saves with the flag.
  std::filesystem::remove(Path("printers.conf"));
  ChangePrinterState(p, IPP_PRINTER_IDLE, 0);
  HaltPrinter(p, 1);
  EXPECT_EQ(p->state, IPP_PRINTER_STOPPED);
  EXPECT_TRUE(std::filesystem::exists(Path("printers.conf")));

  // Remote destinations are left alone.
  printer_t* r = Remote("r@h", "h");
  r->state = IPP_PRINTER_IDLE;
  ChangePrinterState(r, IPP_PRINTER_STOPPED, 1);
  EXPECT_EQ(r->state, IPP_PRINTER_IDLE);
  EXPECT_TRUE(r->history.empty());
}

TEST_F(RegistryTest, HistoryIsBoundedAndCarriesTheState) {
  MaxPrinterHistory = 10;
  printer_t* p = AddPrinter("p");
  p->accepting = 1;
  p->state_message = "Warming up";
  for (int i = 0; i < 11; i++) ChangePrinterState(p, i % 2 ? IPP_PRINTER_STOPPED : IPP_PRINTER_IDLE, 0);
  ASSERT_EQ(p->history.size(), 10u);
  EXPECT_EQ(p->sequence_number, 11);
  EXPECT_EQ(AttrText(p->history.front().get(), "printer-state-sequence-number"), "2");
  ipp_t* last = p->history.back().get();
  EXPECT_EQ(AttrText(last, "printer-state-sequence-number"), "11");
  EXPECT_EQ(AttrText(last, "printer-state"), "3");
  EXPECT_EQ(AttrText(last, "printer-is-accepting-jobs"), "true");
  EXPECT_EQ(AttrText(last, "printer-state-message"), "Warming up");
  EXPECT_EQ(AttrText(last, "printer-state-reasons"), "none");
  EXPECT_EQ(AttrText(last, "printer-state-time"), std::to_string(p->state_time));
  EXPECT_EQ(AttrText(p->history[9 - 1].get(), "printer-state-reasons"), "paused");
  for (const auto& h : p->history)
    for (ipp_attribute_t* a = h->attrs; a; a = a->next) EXPECT_EQ(a->group_tag, IPP_TAG_PRINTER);

  p->reasons = {"toner-low", "media-jam"};
  RecordPrinterHistory(p);
  EXPECT_EQ(AttrText(p->history.back().get(), "printer-state-reasons"), "toner-low,media-jam");

  // A lower limit after a reload trims at the next entry.
  MaxPrinterHistory = 3;
  RecordPrinterHistory(p);
  EXPECT_EQ(p->history.size(), 3u);
  EXPECT_EQ(AttrText(p->history.back().get(), "printer-state-sequence-number"), "13");

  MaxPrinterHistory = 0;
  RecordPrinterHistory(p);
  EXPECT_EQ(p->sequence_number, 13);
  EXPECT_EQ(p->history.size(), 3u);
}

TEST_F(RegistryTest, StateReasonsTable) {
  std::string many;
  for (int i = 0; i < 20; i++) many += "r" + std::to_string(i) + " ";
  std::string r15;
  for (int i = 0; i < 16; i++) r15 += (i ? "," : "") + std::string("r") + std::to_string(i);
  std::string long_kw(300, 'k');

  const struct {
    std::vector<std::string> texts;  // applied in order to an empty list
    std::string want;
  } cases[] = {
      {{"+media-empty", "+media-empty"}, "media-empty"},
      {{"+media-empty", "-MEDIA-EMPTY"}, ""},
      {{"+a", "+b", "toner-low,media-jam"}, "toner-low,media-jam"},
      {{"+a b\tc,,d"}, "a,b,c,d"},
      {{"+ a , b "}, "a,b"},
      {{"+a,b,c", "-b"}, "a,c"},
      {{"-nothing"}, ""},
      {{"+a", ""}, ""},
      {{many}, r15},
      {{"+" + many}, r15},
      {{long_kw}, std::string(254, 'k')},
  };
  for (const auto& c : cases) {
    printer_t* p = AddPrinter("p");
    for (const std::string& t : c.texts) ApplyStateReasons(p, t);
    std::string got;
    for (const std::string& r : p->reasons) got += (got.empty() ? "" : ",") + r;
    EXPECT_EQ(got, c.want) << c.texts.front();
    RemovePrinter(p, 0);
  }
}

TEST_F(RegistryTest, QuotasStaySortedAndUsersAreCut) {
  printer_t* p = AddPrinter("p");
  QuotaForUser(p, "mike")->page_count = 3;
  QuotaForUser(p, "alice");
  QuotaForUser(p, "Zed");
  EXPECT_EQ(QuotaForUser(p, "mike")->page_count, 3);
  ASSERT_EQ(p->quotas.size(), 3u);
  EXPECT_EQ(p->quotas[0].username, "Zed");  // user names keep their case
  EXPECT_EQ(p->quotas[1].username, "alice");
  EXPECT_EQ(p->quotas[2].username, "mike");
  EXPECT_EQ(QuotaForUser(p, std::string(40, 'u'))->username, std::string(32, 'u'));
  ClearQuotas(p);
  EXPECT_TRUE(p->quotas.empty());

  AddUserRule(p, "bob");
  AddUserRule(p, std::string(300, 'x'));
  ASSERT_EQ(p->users.size(), 2u);
  EXPECT_EQ(p->users[1].size(), kMaxUserRule);
  ClearUserRules(p);
  EXPECT_TRUE(p->users.empty());
}

TEST_F(RegistryTest, PrinterFilterLines) {
  printer_t* p = AddPrinter("p");
  printer_t* other = AddPrinter("other");
  AddPrinterFilter(other, "application/pdf 5 otherfilter");

  AddPrinterFilter(p, "*/* 10 everything");
  std::vector<std::string> got = FiltersTo(p);
  // Every type but the printers' own pseudo types.
  std::set<std::string> want;
  for (const auto& t : TypeDB->types)
    if (t->super != "printer") want.insert(t->super + "/" + t->type + " 10 everything");
  EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), want);
  EXPECT_EQ(got.size(), want.size());

  RemovePrinterFilters(p);
  EXPECT_TRUE(FiltersTo(p).empty());
  EXPECT_EQ(FiltersTo(other), std::vector<std::string>{"application/pdf 5 otherfilter"});

  AddPrinterFilter(p, "TEXT/* 20 textonly");
  AddPrinterFilter(p, "image/png 30 /usr/lib/png");
  AddPrinterFilter(p, "*/pdf 40 pdfany");
  got = FiltersTo(p);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"application/pdf 40 pdfany", "image/png 30 /usr/lib/png",
                                           "text/html 20 textonly", "text/plain 20 textonly"}));

  const std::string bad[] = {"application/pdf", "application/pdf ten prog", "application/pdf 5x prog",
                             "nosuper 0 -", "", "/x 0 -", "application/" + std::string(256, 't') + " 0 -",
                             std::string(16, 's') + "/pdf 0 -"};
  for (const std::string& b : bad) {
    TakeLog();
    AddPrinterFilter(p, b.c_str());
    EXPECT_TRUE(HasLine(TakeLog(), 'E', "AddPrinterFilter: Invalid filter string \"" + b + "\"!")) << b;
  }
  EXPECT_EQ(FiltersTo(p).size(), 4u);

  // A type name past 31 characters is a name like any other.
  const std::string long_type = "vnd.vorn-test.a-type-name-well-past-thirty-one-characters";
  ASSERT_NE(AddType(TypeDB.get(), "application", long_type), nullptr);
  TakeLog();
  AddPrinterFilter(p, ("application/" + long_type + " 50 longfilter").c_str());
  EXPECT_EQ(TakeLog().find("Invalid filter string"), std::string::npos) << "the long name was refused";
  got = FiltersTo(p);
  EXPECT_NE(std::find(got.begin(), got.end(), "application/" + long_type + " 50 longfilter"), got.end());
  EXPECT_EQ(FiltersTo(p).size(), 5u);
  // Nothing happens without printer or text.
  AddPrinterFilter(nullptr, "*/* 0 -");
  AddPrinterFilter(p, nullptr);
  EXPECT_EQ(FiltersTo(p).size(), 5u);
}

}  // namespace
