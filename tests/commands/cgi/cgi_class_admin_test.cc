// Class administration in admin.cgi against a real vornd: a class made from
// two printers, its members changed, its state controlled, deleted; the
// scheduler's refusals shown with every value escaped; and the links to it
// from classes.cgi.
#include <gtest/gtest.h>

#include <string>

#include "cgi-common.h"
#include "cgi_server.h"

namespace {

using namespace cgitest;
using vorn::cgi::kStaleForm;

class ClassAdmin : public ::testing::Test {
 protected:
  void SetUp() override { server_.Start(); }
  void TearDown() override {
    EXPECT_EQ(server_.s_.vornd_.Stderr().find("Sanitizer"), std::string::npos) << server_.s_.vornd_.Stderr();
  }
  std::string ClassesConf() { return ReadFile(server_.s_.root_.file("classes.conf")); }
  // The block of class `name` in classes.conf, "" when there is none.
  std::string ClassBlock(const std::string& name) {
    const std::string conf = ClassesConf();
    size_t at = conf.find("Class " + name + ">\n");
    if (at == std::string::npos) return "";
    size_t end = conf.find("</Class>", at);
    return conf.substr(at, end == std::string::npos ? std::string::npos : end - at);
  }
  // Whether the page has a member checkbox for `name`, checked or not.
  static bool HasCheckbox(const std::string& page, const std::string& name, bool checked) {
    return page.find("<input type=\"checkbox\" name=\"member\" value=\"" + name + (checked ? "\" checked>" : "\">")) !=
           std::string::npos;
  }

  CgiServer server_;
};

TEST_F(ClassAdmin, MakesChangesControlsAndDeletesAClass) {
  // The overview lists the class with its members and offers the printers.
  CgiResult r = server_.Run("admin.cgi", "admin.cgi", {});
  std::string page = r.body();
  EXPECT_NE(page.find("<tr id=\"class-team\"><td>team<br><small>Team</small></td><td class=\"members\">lab, office</td>"),
            std::string::npos)
      << page;
  EXPECT_NE(page.find("<a href=\"/admin?op=modify-class&amp;class_name=team\">Change</a>"), std::string::npos);
  const size_t form = page.find("<form id=\"class-form\"");
  ASSERT_NE(form, std::string::npos) << page;
  EXPECT_NE(page.find("name=\"token\" value=\"" + server_.Token(""), form), std::string::npos);
  EXPECT_TRUE(HasCheckbox(page, "lab", false)) << page;
  EXPECT_TRUE(HasCheckbox(page, "office", false));

  r = server_.Post("admin.cgi",
                   "op=add-class&new=1&class_name=duo&class_info=%3Cscript%3Ealert(1)%3C%2Fscript%3E"
                   "&class_location=Hall+2&member=lab&member=office");
  EXPECT_NE(r.body().find("<p class=\"ok\">Class duo saved.</p>"), std::string::npos) << r.out;
  EXPECT_TRUE(WaitUntil([&] { return !ClassBlock("duo").empty(); })) << ClassesConf();
  std::string block = ClassBlock("duo");
  EXPECT_NE(block.find("Info <script>alert(1)</script>\nLocation Hall 2\n"), std::string::npos) << block;
  EXPECT_NE(block.find("Printer lab\nPrinter office\n"), std::string::npos) << block;
  EXPECT_NE(block.find("Accepting Yes\n"), std::string::npos) << block;

  // The change form has the members checked and the values escaped.
  r = server_.Run("admin.cgi", "admin.cgi", {{"QUERY_STRING", "op=modify-class&class_name=duo"}});
  page = r.body();
  EXPECT_TRUE(HasCheckbox(page, "lab", true)) << page;
  EXPECT_TRUE(HasCheckbox(page, "office", true));
  EXPECT_NE(page.find("name=\"class_info\" value=\"&lt;script&gt;alert(1)&lt;/script&gt;\""), std::string::npos);
  EXPECT_EQ(page.find("<script>alert"), std::string::npos);
  EXPECT_NE(page.find("<input type=\"hidden\" name=\"class_name\" value=\"duo\">"), std::string::npos);

  // Fewer members: office alone.
  r = server_.Post("admin.cgi", "op=add-class&class_name=duo&class_info=Two&member=office");
  EXPECT_NE(r.body().find("<p class=\"ok\">Class duo saved.</p>"), std::string::npos) << r.out;
  EXPECT_TRUE(WaitUntil([&] { return ClassBlock("duo").find("Info Two\n") != std::string::npos; })) << ClassesConf();
  block = ClassBlock("duo");
  EXPECT_NE(block.find("Printer office\n"), std::string::npos) << block;
  EXPECT_EQ(block.find("Printer lab\n"), std::string::npos) << block;
  r = server_.Run("admin.cgi", "admin.cgi", {{"QUERY_STRING", "op=modify-class&class_name=duo"}});
  EXPECT_TRUE(HasCheckbox(r.body(), "lab", false)) << r.body();
  EXPECT_TRUE(HasCheckbox(r.body(), "office", true));

  const struct {
    const char* form;
    const char* notice;
    const char* conf;  // in the class's block afterwards
  } steps[] = {
      {"op=stop-class&class_name=duo", "Class duo stopped.", "State Stopped\n"},
      {"op=reject-class&class_name=duo", "Class duo now rejects jobs.", "Accepting No\n"},
      {"op=accept-class&class_name=duo", "Class duo now accepts jobs.", "Accepting Yes\n"},
      {"op=start-class&class_name=duo", "Class duo started.", "State Idle\n"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.form);
    r = server_.Post("admin.cgi", s.form);
    EXPECT_NE(r.body().find(std::string("<p class=\"ok\">") + s.notice + "</p>"), std::string::npos) << r.out;
    EXPECT_TRUE(WaitUntil([&] { return ClassBlock("duo").find(s.conf) != std::string::npos; })) << ClassesConf();
  }

  // Deleting asks first; the confirmed form deletes.
  r = server_.Post("admin.cgi", "op=delete-class&class_name=duo");
  EXPECT_NE(r.body().find("<input type=\"hidden\" name=\"confirm\" value=\"yes\">"), std::string::npos) << r.out;
  EXPECT_NE(r.body().find("<input type=\"hidden\" name=\"op\" value=\"delete-class\">"), std::string::npos);
  EXPECT_FALSE(ClassBlock("duo").empty());
  r = server_.Post("admin.cgi", "op=delete-class&class_name=duo&confirm=yes");
  EXPECT_NE(r.body().find("<p class=\"ok\">Class duo deleted.</p>"), std::string::npos) << r.out;
  EXPECT_TRUE(WaitUntil([&] { return ClassBlock("duo").empty(); })) << ClassesConf();
  EXPECT_FALSE(ClassBlock("team").empty());
}

TEST_F(ClassAdmin, RefusalsChangeNothingAndAreEscaped) {
  const std::string before = ClassesConf();
  const struct {
    const char* form;
    const char* notice;
  } cases[] = {
      // The scheduler does not know the second member: its refusal, with
      // the names asked for.
      {"op=add-class&new=1&class_name=bad&member=lab&member=ghost",
       "Class bad: members lab, ghost: The scheduler refused: client-error-not-found."},
      // A member no destination can be: refused before asking, the name
      // shown as text.
      {"op=add-class&new=1&class_name=bad&member=lab&member=%3Ci%3Eghost",
       "Class bad: No printer or class can be called &quot;&lt;i&gt;ghost&quot;."},
      {"op=add-class&new=1&class_name=bad&member=..%2Flab", "Class bad: No printer or class can be called &quot;../lab"},
      {"op=add-class&new=1&class_name=bad", "Class bad: Choose at least one member."},
      {"op=add-class&new=1&class_name=a%2Fb&member=lab", "A class name has letters"},
      {"op=add-class&new=1&class_name=%3Cb%3E&member=lab", "A class name has letters"},
      // A class cannot take a printer's name.
      {"op=add-class&new=1&class_name=lab&member=office", "Class lab: members office: The scheduler refused: "},
      {"op=stop-class&class_name=nosuch", "Class nosuch: The scheduler refused: client-error-not-found."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.form);
    CgiResult r = server_.Post("admin.cgi", c.form);
    EXPECT_NE(r.body().find(std::string("<p class=\"error\">") + c.notice), std::string::npos) << r.body();
    EXPECT_EQ(r.body().find("<i>ghost"), std::string::npos);
    EXPECT_EQ(ClassesConf(), before);
  }
  // Without the token of our pages nothing happens.
  CgiResult stale = server_.PostRaw("admin.cgi", "op=delete-class&class_name=team&confirm=yes", "",
                                    "application/x-www-form-urlencoded");
  EXPECT_NE(stale.body().find(kStaleForm), std::string::npos) << stale.out;
  stale = server_.PostRaw("admin.cgi", "op=add-class&class_name=team&member=lab&token=" + std::string(64, 'f'), "",
                          "application/x-www-form-urlencoded");
  EXPECT_NE(stale.body().find(kStaleForm), std::string::npos) << stale.out;
  EXPECT_EQ(ClassesConf(), before);
  CgiResult r = server_.Run("admin.cgi", "admin.cgi", {{"QUERY_STRING", "op=modify-class&class_name=nosuch"}});
  EXPECT_NE(r.body().find("<p class=\"error\">No such class.</p>"), std::string::npos) << r.body();
}

TEST_F(ClassAdmin, ClassPagesLinkToTheAdministration) {
  CgiResult r = server_.Run("classes.cgi", "classes.cgi", {});
  EXPECT_NE(r.body().find("<a href=\"/admin#classes\">"), std::string::npos) << r.body();
  r = server_.Run("classes.cgi", "team", {});
  EXPECT_NE(r.body().find("<a href=\"/admin?op=modify-class&amp;class_name=team\">Change this class</a>"),
            std::string::npos)
      << r.body();
  r = server_.Run("printers.cgi", "office", {});
  EXPECT_NE(r.body().find("<a href=\"/admin?op=modify-printer&amp;printer_name=office\">Change this printer</a>"),
            std::string::npos)
      << r.body();
}

}  // namespace
