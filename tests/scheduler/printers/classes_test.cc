// Classes: member rotation, membership changes, and classes.conf across a
// save and a load.
#include <string>
#include <vector>

#include "tests/fixtures/printers/printers_fixture.h"

namespace {

class ClassesTest : public PrintersTest {
 protected:
  printer_t* Idle(const char* name) {
    printer_t* p = AddPrinter(name);
    p->state = IPP_PRINTER_IDLE;
    p->accepting = 1;
    return p;
  }

  static std::string Members(const printer_t* c) {
    std::string s;
    for (const printer_t* m : c->printers) s += (s.empty() ? "" : ",") + m->name;
    return s;
  }
};

TEST_F(ClassesTest, JobsGoRoundTheFreeMembers) {
  printer_t* a = Idle("a");
  printer_t* b = Idle("b");
  printer_t* c = Idle("c");
  printer_t* cls = NewClass("office");
  ASSERT_NE(cls, nullptr);
  EXPECT_EQ(cls->type, PRINTER_CLASS);
  EXPECT_EQ(cls->uri.substr(cls->uri.find("/classes/")), "/classes/office");
  for (printer_t* m : {a, b, c}) AddClassMember(cls, m);
  AddClassMember(cls, b);  // already a member
  EXPECT_EQ(Members(cls), "a,b,c");

  // "a" was chosen last: the next go to b, c, a.
  cls->last = 0;
  EXPECT_EQ(NextFreeMember("OFFICE"), b);
  EXPECT_EQ(NextFreeMember("office"), c);
  EXPECT_EQ(NextFreeMember("office"), a);
  // A stopped member is passed over, and so is one that is busy.
  b->state = IPP_PRINTER_STOPPED;
  EXPECT_EQ(NextFreeMember("office"), c);
  c->state = IPP_PRINTER_PROCESSING;
  EXPECT_EQ(NextFreeMember("office"), a);
  a->state = IPP_PRINTER_STOPPED;
  EXPECT_EQ(NextFreeMember("office"), nullptr);

  // A remote member takes jobs whatever state it announces, unless it is
  // sending one or has no host yet.
  printer_t* r = AddPrinter("remote");
  r->type |= PRINTER_REMOTE;
  r->hostname = "other.example.org";
  r->state = IPP_PRINTER_STOPPED;
  AddClassMember(cls, r);
  EXPECT_EQ(NextFreeMember("office"), r);
  r->hostname.clear();
  EXPECT_EQ(NextFreeMember("office"), nullptr);

  EXPECT_EQ(NextFreeMember("nosuch"), nullptr);
  EXPECT_TRUE(HasLine(TakeLog(), 'E', "Unable to find class \"nosuch\"!"));
}

TEST_F(ClassesTest, ALastMemberGoneTakesItsClassAlong) {
  printer_t* a = Idle("a");
  printer_t* b = Idle("b");
  printer_t* solo = NewClass("solo");
  printer_t* pair = NewClass("pair");
  AddClassMember(solo, a);
  AddClassMember(pair, a);
  AddClassMember(pair, b);
  // A class of classes loses its member class when that one goes.
  printer_t* outer = NewClass("outer");
  AddClassMember(outer, solo);
  ASSERT_EQ(WriteClassesConf(), 1);

  RemovePrinter(a, 0);
  EXPECT_EQ(LookupClass("solo"), nullptr);
  EXPECT_EQ(LookupClass("outer"), nullptr);
  ASSERT_EQ(LookupClass("pair"), pair);
  EXPECT_EQ(Members(pair), "b");
  // The file follows at once.
  std::string conf = Read("classes.conf");
  EXPECT_EQ(conf.find("solo"), std::string::npos) << conf;
  EXPECT_NE(conf.find("<Class pair>\n"), std::string::npos) << conf;

  // RemoveClassMember keeps `last` pointing before the next member.
  printer_t* c = Idle("c");
  printer_t* d = Idle("d");
  AddClassMember(pair, c);
  AddClassMember(pair, d);
  pair->last = 1;  // c
  RemoveClassMember(pair, c);
  EXPECT_EQ(NextFreeMember("pair"), d);
}

TEST_F(ClassesTest, ClassesConfRoundTrip) {
  Idle("laser");
  Idle("inkjet");
  printer_t* cls = NewClass("office");
  AddClassMember(cls, LookupPrinter("laser"));
  AddClassMember(cls, LookupPrinter("inkjet"));
  cls->info = "All office printers";
  cls->location = "Floor 2";
  cls->state = IPP_PRINTER_STOPPED;
  cls->state_message = "Moving house";
  cls->accepting = 0;
  cls->job_sheets[0] = "standard";
  cls->quota_period = 3600;
  cls->k_limit = 20;
  AddUserRule(cls, "ann");
  AddUserRule(cls, "@staff");
  cls->deny_users = 1;
  DefaultPrinter = cls;
  // Implicit and remote classes are never written.
  printer_t* implicit = AddPrinter("Anywhere");
  implicit->type = PRINTER_IMPLICIT;
  printer_t* remote = NewClass("far");
  remote->type |= PRINTER_REMOTE;

  ASSERT_EQ(WriteClassesConf(), 1);
  std::string conf = Read("classes.conf");
  EXPECT_EQ(conf.rfind("# Class configuration file for VORN v1.1\n# Written by vornd on ", 0), 0u) << conf;
  EXPECT_NE(conf.find("<DefaultClass office>\nInfo All office printers\nLocation Floor 2\nState Stopped\n"
                      "StateMessage Moving house\nAccepting No\nJobSheets standard none\nPrinter laser\n"
                      "Printer inkjet\nQuotaPeriod 3600\nPageLimit 0\nKLimit 20\nDenyUser ann\n"
                      "DenyUser @staff\n</Class>\n"),
            std::string::npos)
      << conf;
  EXPECT_EQ(conf.find("Anywhere"), std::string::npos);
  EXPECT_EQ(conf.find("far"), std::string::npos);
  EXPECT_EQ(conf.find("DeviceURI"), std::string::npos);

  // A reload: the classes go first, so none is seen losing members, and
  // the file is not rewritten.
  RemoveAllClasses();
  EXPECT_EQ(LookupClass("office"), nullptr);
  EXPECT_EQ(Read("classes.conf"), conf);
  DefaultPrinter = nullptr;
  LoadAllClasses();
  printer_t* back = LookupClass("office");
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(DefaultPrinter, back);
  EXPECT_EQ(Members(back), "laser,inkjet");
  EXPECT_EQ(back->info, "All office printers");
  EXPECT_EQ(back->state, IPP_PRINTER_STOPPED);
  EXPECT_EQ(back->state_message, "Moving house");
  EXPECT_EQ(back->accepting, 0);
  EXPECT_EQ(back->job_sheets[0], "standard");
  EXPECT_EQ(back->k_limit, 20);
  EXPECT_EQ(back->users, (std::vector<std::string>{"ann", "@staff"}));
  EXPECT_EQ(back->deny_users, 1);
  EXPECT_EQ(AttrText(back->attrs.get(), "member-names"), "laser,inkjet");
}

TEST_F(ClassesTest, UnknownMembersStandInAsStoppedRemotePrinters) {
  Idle("laser");
  Write("classes.conf",
        "<Class office>\nPrinter laser\nPrinter ghost\nBogus value\n</Class>\n"
        "Printer stray\n");
  LoadAllClasses();
  std::string log = TakeLog();
  printer_t* cls = LookupClass("office");
  ASSERT_NE(cls, nullptr);
  EXPECT_EQ(Members(cls), "laser,ghost");
  printer_t* ghost = LookupPrinter("ghost");
  ASSERT_NE(ghost, nullptr);
  EXPECT_TRUE(ghost->type & PRINTER_REMOTE);
  EXPECT_EQ(ghost->state, IPP_PRINTER_STOPPED);
  EXPECT_EQ(ghost->make_model, "Remote Printer on unknown");
  EXPECT_EQ(ghost->browse_time, 2147483647);
  // It takes no job until browsing tells where it is.
  ghost->state = IPP_PRINTER_IDLE;
  LookupPrinter("laser")->state = IPP_PRINTER_STOPPED;
  EXPECT_EQ(NextFreeMember("office"), nullptr);
  EXPECT_TRUE(HasLine(log, 'W', "Unknown printer ghost on line 3 of classes.conf."));
  EXPECT_TRUE(HasLine(log, 'E', "Unknown configuration directive Bogus on line 4 of classes.conf."));
  EXPECT_TRUE(HasLine(log, 'E', "Syntax error on line 6 of classes.conf."));
}

}  // namespace
