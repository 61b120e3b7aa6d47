// Banner pages: the banner list read from the data directory at start-up
// and offered as job-sheets values, and start and end banners written into
// a job as documents with the job's values filled in.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "query_reply.h"
#include "submit_server.h"
#include "vorn/ipp.h"

namespace {

using namespace e2e;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const char kStopped[] = "<Printer lab>\nState Stopped\nAccepting Yes\n</Printer>\n";

// A text banner that shows every rule of the template syntax in its output.
const char kRulesTemplate[] =
    "Job {job-id} for {job-originating-user-name} on {printer-name}\n"
    "optional:[{?no-such-attribute}] plain:[{no-such-attribute}]\n"
    "open: {job-name\n"
    "escaped: \\{job-id} other: \\n\n"
    "sheets: {job-sheets} copies: {copies} name: {job-name}\n"
    "digits: {job-id2} empty: {}\n";

class Banners : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string dir = server_.root_.file("data/banners");
    fs::create_directories(dir);
    for (const auto& e : fs::directory_iterator(SourceDir() + "/data/banners"))
      fs::copy_file(e.path(), dir + "/" + e.path().filename().string());
    ASSERT_TRUE(WriteFile(dir + "/rules", kRulesTemplate));
    // Not banners: a backup, an editor's file, a directory, a file of no known type.
    ASSERT_TRUE(WriteFile(dir + "/standard.bak", "%!PS\n"));
    ASSERT_TRUE(WriteFile(dir + "/~standard", "%!PS\n"));
    ASSERT_TRUE(WriteFile(dir + "/rules.sav1", "text\n"));
    fs::create_directories(dir + "/fr");
    ASSERT_TRUE(WriteFile(dir + "/opaque", std::string("\x00\x01\x02\xff\xfe", 5)));
    server_.Start("", kStopped);
  }
  void TearDown() override {
    EXPECT_EQ(server_.vornd_.Stderr().find("Sanitizer"), std::string::npos) << server_.vornd_.Stderr();
  }
  std::string Spooled(const std::string& name) { return ReadFile(server_.root_.file("spool/" + name)); }

  SubmitServer server_;
};

TEST_F(Banners, TheListLeavesOutBackupsDirectoriesAndUnknownTypes) {
  Reply r = RunQuery(server_.node_, server_.root_.port(), IPP_GET_PRINTER_ATTRIBUTES,
                     {PrinterUri("lab"), "requested-attributes=44:job-sheets-supported"});
  EXPECT_EQ(r.value(1, "job-sheets-supported"),
            "none,classified,confidential,rules,secret,standard,topsecret,unclassified")
      << r.raw;
  EXPECT_NE(server_.root_.ErrorLog().find("AddBanner: Banner \"opaque\" is of an unknown file type - skipping!"),
            std::string::npos);
}

TEST_F(Banners, StartAndEndBannersAreDocumentsWithTheJobsValues) {
  const std::string doc = server_.Document("doc.txt", "the job's own text\n");
  Reply r = server_.Send(IPP_PRINT_JOB, {PrinterUri("lab"), User("ann"), "job-name=42:a(b) r\xc3\xa9sum\xc3\xa9",
                                         "job:job-sheets=42:standard,STANDARD", doc});
  ASSERT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(server_.SettledSpool(), (std::vector<std::string>{"c00001", "d00001-001", "d00001-002", "d00001-003",
                                                                "tmp"}));
  EXPECT_EQ(Spooled("d00001-002"), "the job's own text\n");
  const std::string start = Spooled("d00001-001");
  EXPECT_EQ(start, Spooled("d00001-003"));
  // Values go into PostScript strings escaped; nothing is left unfilled.
  for (const char* filled : {"(lab-1)", "(ann)", "(a\\(b\\) r\\303\\251sum\\303\\251)", "(standard,STANDARD)"})
    EXPECT_NE(start.find(filled), std::string::npos) << filled << "\n" << start;
  EXPECT_EQ(start.find("{job-"), std::string::npos) << start;
  EXPECT_EQ(start.find("{printer-name}"), std::string::npos) << start;
  EXPECT_NE(start.find("(Submitted:) ([" ), std::string::npos) << "time-at-creation as a date\n" << start;

  // The banners count in the job's size and are typed PostScript.
  Reply a = server_.JobAttributes(1);
  const int kbytes = std::stoi(a.value(1, "job-k-octets"));
  EXPECT_EQ(kbytes, 1 + 2 * static_cast<int>((start.size() + 1023) / 1024)) << a.raw;
  const std::string log = server_.root_.ErrorLog();
  EXPECT_NE(log.find("Adding start banner page \"standard\" to job 1."), std::string::npos);
  EXPECT_NE(log.find("Adding end banner page \"STANDARD\" to job 1."), std::string::npos);

  // The filled banner is a PostScript page Ghostscript draws without error.
  const std::string node = FindProgram("node");
  RunResult g = RunProgram({node, SourceDir() + "/tests/fixtures/render/gs-run.mjs", "-q", "-dNOPAUSE", "-dBATCH",
                            "-dSAFER", "-sDEVICE=bbox", server_.root_.file("spool/d00001-001")},
                           120s);
  EXPECT_EQ(g.exit_status, 0) << g.err;
  EXPECT_EQ(g.err.find("Error"), std::string::npos) << g.err;
  int pages = 0;
  for (size_t at = 0; (at = g.err.find("%%BoundingBox: ", at)) != std::string::npos; at++) {
    pages++;
    EXPECT_NE(g.err.compare(at, 23, "%%BoundingBox: 0 0 0 0\n"), 0) << "an empty page\n" << g.err;
  }
  EXPECT_EQ(pages, 1) << g.err;
}

TEST_F(Banners, TemplateReferencesFollowTheirRules) {
  ASSERT_EQ(server_.Send(IPP_CREATE_JOB, {PrinterUri("lab"), User("bob"), "job-name=42:x(y)",
                                          "job:job-sheets=42:none,rules", "job:copies=21:2"})
                .status,
            "0x0000");
  // No start banner ("none"); the end banner comes with the last document.
  EXPECT_EQ(server_.SettledSpool(), (std::vector<std::string>{"c00001", "tmp"}));
  Reply r = server_.Send(IPP_SEND_DOCUMENT, {PrinterUri("lab"), "job-id=21:1", User("bob"), "last-document=22:true",
                                             server_.Document("doc.txt", "body\n")});
  ASSERT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(server_.SettledSpool(), (std::vector<std::string>{"c00001", "d00001-001", "d00001-002", "tmp"}));
  // A text banner: values as they are, no PostScript escapes.
  EXPECT_EQ(Spooled("d00001-002"),
            "Job 1 for bob on lab\n"
            "optional:[] plain:[{no-such-attribute}]\n"
            "open: {job-name\n"
            "escaped: {job-id} other: \\n\n"
            "sheets: none,rules copies: 2 name: x(y)\n"
            "digits: {job-id2} empty: {}\n");
}

TEST_F(Banners, NoneAndUnknownNamesAddNothing) {
  const std::string doc = server_.Document("doc.txt", "text\n");
  for (const char* sheets : {"none,none", "nosuch,opaque", "standard.bak,~standard"}) {
    SCOPED_TRACE(sheets);
    ASSERT_EQ(server_.Send(IPP_PRINT_JOB, {PrinterUri("lab"), "job:job-sheets=42:" + std::string(sheets), doc})
                  .status,
              "0x0000");
  }
  EXPECT_EQ(server_.SettledSpool(), (std::vector<std::string>{"c00001", "c00002", "c00003", "d00001-001",
                                                                "d00002-001", "d00003-001", "tmp"}));
}

// A template that cannot be read is skipped and the job goes on without it.
TEST_F(Banners, AnUnreadableTemplateIsSkipped) {
  fs::remove(server_.root_.file("data/banners/secret"));
  const std::string doc = server_.Document("doc.txt", "text\n");
  ASSERT_EQ(server_.Send(IPP_PRINT_JOB, {PrinterUri("lab"), "job:job-sheets=42:secret,standard", doc}).status,
            "0x0000");
  EXPECT_EQ(server_.SettledSpool(), (std::vector<std::string>{"c00001", "d00001-001", "d00001-002", "tmp"}));
  EXPECT_EQ(Spooled("d00001-001"), "text\n");
  EXPECT_NE(server_.root_.ErrorLog().find("copy_banner: Unable to open banner template file"), std::string::npos);
}

}  // namespace
