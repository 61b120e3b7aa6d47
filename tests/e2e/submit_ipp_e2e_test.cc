// Job submission on a running scheduler: Print-Job, Create-Job,
// Send-Document and Validate-Job sent by an IPP client written elsewhere
// (the npm package ipp-encoder, driven by tests/fixtures/submit/
// submit_client.js), the queued jobs read back with Get-Job-Attributes and
// from the spool directory.
//
// Printers whose jobs are looked at are stopped, so the jobs stay pending or
// held whether or not a job runner starts them.
#include <grp.h>
#include <sys/wait.h>
#include <pwd.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "harness.h"
#include "vorn/ipp.h"
#include "query_reply.h"
#include "submit_server.h"

namespace {

using namespace e2e;


bool HasLine(const std::string& log, const std::string& message) { return log.find(message) != std::string::npos; }

const char* const kPrinters =
    "<Printer stopped>\nState Stopped\nAccepting Yes\n</Printer>\n"
    "<Printer closed>\nState Stopped\nAccepting No\n</Printer>\n"
    "<Printer denied>\nState Stopped\nAccepting Yes\nDenyUser ann\n</Printer>\n"
    "<Printer quota>\nState Stopped\nAccepting Yes\nQuotaPeriod 86400\nKLimit 2\n</Printer>\n";

class Submit : public ::testing::Test {
 protected:
  void SetUp() override {
    // Allowed: bob by name, the current user through the primary group.
    server_.Start("MaxCopies 10\n", std::string(kPrinters) + "<Printer allowed>\nState Stopped\nAccepting Yes\n" +
                                        "AllowUser bob\nAllowUser @" + CurrentGroup() + "\n</Printer>\n");
  }
  void TearDown() override {
    EXPECT_EQ(server_.vornd_.Stderr().find("Sanitizer"), std::string::npos) << server_.vornd_.Stderr();
  }
  SubmitServer server_;
};

TEST_F(Submit, PrintJobQueuesTheDocumentWithTheJobAttributes) {
  const std::string doc = Fixture("hello.txt");
  Reply r = server_.Send(IPP_PRINT_JOB, {PrinterUri("stopped"), User("ann"), "job-name=42:report",
                                     "document-format=49:text/plain", "job:job-state=23:9",
                                     "job:job-printer-uri=45:ipp://localhost/printers/closed", doc});
  ASSERT_EQ(r.status, "0x0000") << r.raw;
  ASSERT_EQ(r.tags, (std::vector<int>{1, 2})) << r.raw;
  EXPECT_EQ(r.names(1), (std::vector<std::string>{"job-uri", "job-id", "job-state", "job-state-reasons"}));
  EXPECT_EQ(r.value(1, "job-uri"), "http://localhost:" + std::to_string(server_.root_.port()) + "/jobs/1");
  EXPECT_EQ(r.value(1, "job-id"), "1");
  EXPECT_EQ(r.value(1, "job-state"), "3");
  EXPECT_EQ(r.value(1, "job-state-reasons"), "printer-stopped");

  EXPECT_EQ(server_.SettledSpool(), (std::vector<std::string>{"c00001", "d00001-001", "tmp"}));
  EXPECT_EQ(ReadFile(server_.root_.file("spool/d00001-001")), "Hello from the submission tests.\n");

  Reply a = server_.JobAttributes(1);
  ASSERT_EQ(a.status, "0x0000") << a.raw;
  const struct {
    const char* name;
    std::string value;
  } expected[] = {
      {"job-priority", "50"},
      {"job-originating-user-name", "ann"},
      {"job-originating-host-name", "localhost"},
      {"job-id", "1"},
      // The client's job-state and job-printer-uri are not the job's.
      {"job-state", "3"},
      {"job-media-sheets-completed", "0"},
      {"job-printer-uri", "http://localhost:" + std::to_string(server_.root_.port()) + "/printers/stopped"},
      {"job-name", "report"},
      {"job-k-octets", "1"},
      {"job-hold-until", "no-hold"},
      {"job-sheets", "none,none"},
  };
  for (const auto& e : expected) EXPECT_EQ(a.value(1, e.name), e.value) << e.name << "\n" << a.raw;
  EXPECT_NE(a.value(1, "time-at-creation"), "(none)") << a.raw;
  const std::vector<std::string> names = a.names(1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "job-state"), 1) << a.raw;

  const std::string log = server_.root_.ErrorLog();
  EXPECT_TRUE(HasLine(log, "Job 1 queued on 'stopped' by 'ann'.")) << log;
  EXPECT_TRUE(HasLine(log, "print_job: request file type is text/plain.")) << log;

  // Defaults: no job-name, no user name.
  r = server_.Send(IPP_PRINT_JOB, {PrinterUri("stopped"), doc});
  ASSERT_EQ(r.status, "0x0000") << r.raw;
  a = server_.JobAttributes(2);
  EXPECT_EQ(a.value(1, "job-name"), "Untitled") << a.raw;
  EXPECT_EQ(a.value(1, "job-originating-user-name"), "anonymous") << a.raw;
  EXPECT_EQ(a.value(1, "job-priority"), "50") << a.raw;
}

TEST_F(Submit, OctetStreamDocumentsAreTyped) {
  std::string gzipped;
  {
    // A gzip stream of a PDF, made with zlib.
    const std::string path = server_.root_.file("tiny.pdf.gz");
    gzFile gz = gzopen(path.c_str(), "wb");
    ASSERT_NE(gz, nullptr);
    const char pdf[] = "%PDF-1.4\n%%EOF\n";
    ASSERT_GT(gzwrite(gz, pdf, sizeof(pdf) - 1), 0);
    ASSERT_EQ(gzclose(gz), Z_OK);
    gzipped = "@" + path;
  }
  const struct {
    const char* what;
    std::string document;
    std::vector<std::string> format;  // document-format argument, if any
    const char* job_format;           // the job group's document-format ("(none)": not added)
    const char* type;                 // the document's type
    int compression;
  } cases[] = {
      {"no format: added to the job", Fixture("tiny.pdf"), {}, "application/pdf", "application/pdf", 0},
      {"octet-stream: the request's value replaced", Fixture("hello.txt"),
       {"document-format=49:application/octet-stream"}, "(none)", "text/plain", 0},
      {"gzip detected", gzipped, {}, "application/pdf", "application/pdf", 1},
      {"nothing detected: octet-stream itself", server_.Document("bytes.bin", std::string("\x01\x02\xff\xfe", 4)),
       {}, "(none)", "application/octet-stream", 0},
  };
  int id = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {PrinterUri("stopped"), c.document};
    args.insert(args.end(), c.format.begin(), c.format.end());
    Reply r = server_.Send(IPP_PRINT_JOB, args);
    ASSERT_EQ(r.status, "0x0000") << r.raw;
    id++;
    Reply a = server_.JobAttributes(id);
    EXPECT_EQ(a.value(1, "document-format"), c.job_format) << a.raw;
    const std::string entry = "job=" + std::to_string(id) + ", filetype=" + c.type +
                              ", compression=" + std::to_string(c.compression) + ")";
    EXPECT_TRUE(HasLine(server_.root_.ErrorLog(), entry)) << entry;
  }
  const std::string log = server_.root_.ErrorLog();
  EXPECT_TRUE(HasLine(log, "print_job: auto-typing file...")) << log;
  EXPECT_TRUE(HasLine(log, "print_job: request file type is application/octet-stream.")) << log;
  EXPECT_TRUE(HasLine(log, "print_job: request file type is text/plain.")) << log;
}

TEST_F(Submit, CreateJobThenSendDocuments) {
  Reply r = server_.Send(IPP_CREATE_JOB, {PrinterUri("stopped"), User("ann"), "job-name=42:bundle"});
  ASSERT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(r.names(1), (std::vector<std::string>{"job-uri", "job-id", "job-state"}));
  EXPECT_EQ(r.value(1, "job-state"), "4");
  EXPECT_EQ(server_.SettledSpool(), (std::vector<std::string>{"c00001", "tmp"}));
  Reply a = server_.JobAttributes(1);
  EXPECT_EQ(a.value(1, "job-k-octets"), "0") << a.raw;
  EXPECT_EQ(a.value(1, "job-state-reasons"), "job-incoming") << a.raw;

  // The first by printer-uri and job-id: more are expected, so still held.
  const std::string big = server_.Document("big.txt", std::string(1500, 'x') + "\n");
  r = server_.Send(IPP_SEND_DOCUMENT, {PrinterUri("stopped"), "job-id=21:1", User("ann"), big});
  ASSERT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(r.names(1), (std::vector<std::string>{"job-uri", "job-id", "job-state", "job-state-reasons"}));
  EXPECT_EQ(r.value(1, "job-state"), "4");
  EXPECT_EQ(r.value(1, "job-state-reasons"), "job-incoming");

  // The last by job-uri: pending, on a stopped printer.
  r = server_.Send(IPP_SEND_DOCUMENT, {"job-uri=45:ipp://localhost/jobs/1", User("ann"), "last-document=22:true",
                                   Fixture("tiny.pdf")});
  ASSERT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(r.value(1, "job-state"), "3");
  EXPECT_EQ(r.value(1, "job-state-reasons"), "printer-stopped");

  EXPECT_EQ(server_.SettledSpool(), (std::vector<std::string>{"c00001", "d00001-001", "d00001-002", "tmp"}));
  EXPECT_EQ(ReadFile(server_.root_.file("spool/d00001-002")), "%PDF-1.4\n%%EOF\n");
  a = server_.JobAttributes(1);
  EXPECT_EQ(a.value(1, "job-k-octets"), "3") << a.raw;  // 2 + 1
  EXPECT_EQ(a.value(1, "job-state"), "3") << a.raw;
  const std::string log = server_.root_.ErrorLog();
  EXPECT_TRUE(HasLine(log, "Job 1 created on 'stopped' by 'ann'.")) << log;
  EXPECT_TRUE(HasLine(log, "File of type text/plain queued in job #1 by 'ann'.")) << log;
  EXPECT_TRUE(HasLine(log, "File of type application/pdf queued in job #1 by 'ann'.")) << log;
}

TEST_F(Submit, SendDocumentRefusals) {
  ASSERT_EQ(server_.Send(IPP_CREATE_JOB, {PrinterUri("stopped"), User("ann")}).status, "0x0000");
  const std::string doc = Fixture("hello.txt");
  const struct {
    const char* what;
    std::vector<std::string> args;
    const char* status;
    const char* message;
  } cases[] = {
      {"bad resource", {"printer-uri=45:ipp://localhost/admin/x", User("ann"), doc}, "0x0403",
       "send_document: print request on bad resource '/admin/x'!"},
      {"printer-uri without job-id", {PrinterUri("stopped"), User("ann"), doc}, "0x0400",
       "send_document: got a printer-uri attribute but no job-id!"},
      {"job-uri without a number", {"job-uri=45:ipp://localhost/jobs/1x", User("ann"), doc}, "0x0400",
       "send_document: bad job-uri attribute 'ipp://localhost/jobs/1x'!"},
      {"unknown job", {"job-uri=45:ipp://localhost/jobs/42", User("ann"), doc}, "0x0406",
       "send_document: job #42 doesn't exist!"},
      {"another user", {"job-uri=45:ipp://localhost/jobs/1", User("bob"), doc}, "0x0401",
       "send_document: \"bob\" not authorized to send document for job id 1 owned by \"ann\"!"},
      {"compression", {"job-uri=45:ipp://localhost/jobs/1", User("ann"), "compression=44:zip", doc}, "0x040b",
       "send_document: Unsupported compression \"zip\"!"},
      {"no document", {"job-uri=45:ipp://localhost/jobs/1", User("ann")}, "0x0400", "send_document: No file!?!"},
      {"unknown format",
       {"job-uri=45:ipp://localhost/jobs/1", User("ann"), "document-format=49:image/x-none", doc}, "0x040a",
       "send_document: Unsupported format 'image/x-none'!"},
  };
  const std::vector<std::string> before = server_.SettledSpool();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reply r = server_.Send(IPP_SEND_DOCUMENT, c.args);
    EXPECT_EQ(r.status, c.status) << r.raw;
    EXPECT_TRUE(HasLine(server_.root_.ErrorLog(), c.message)) << c.message;
    EXPECT_EQ(server_.SettledSpool(), before);
  }
  Reply a = server_.JobAttributes(1);
  EXPECT_EQ(a.value(1, "job-k-octets"), "0") << a.raw;
}

TEST_F(Submit, ValidateJobChecksWithoutMakingAJob) {
  const struct {
    const char* what;
    std::vector<std::string> args;
    const char* status;
    const char* message;  // nullptr: none expected
  } cases[] = {
      {"plain", {PrinterUri("stopped")}, "0x0000", nullptr},
      {"not accepting is no reason", {PrinterUri("closed")}, "0x0000", nullptr},
      {"compression none", {PrinterUri("stopped"), "compression=44:none"}, "0x0000", nullptr},
      {"compression gzip", {PrinterUri("stopped"), "compression=44:gzip"}, "0x0000", nullptr},
      {"octet-stream", {PrinterUri("stopped"), "document-format=49:application/octet-stream"}, "0x0000", nullptr},
      {"known format", {PrinterUri("stopped"), "document-format=49:application/pdf"}, "0x0000", nullptr},
      {"bad resource", {"printer-uri=45:ipp://localhost/jobs/1"}, "0x0403",
       "validate_job: request on bad resource '/jobs/1'!"},
      {"compression", {PrinterUri("stopped"), "compression=44:compress"}, "0x040b",
       "validate_job: Unsupported compression attribute compress!"},
      {"unreadable format", {PrinterUri("stopped"), "document-format=49:pdf"}, "0x0400",
       "validate_job: could not scan type 'pdf'!"},
      {"unknown format", {PrinterUri("stopped"), "document-format=49:image/x-none"}, "0x040a",
       "validate_job: Unsupported format 'image/x-none'!"},
      {"unknown destination", {PrinterUri("nosuch")}, "0x0406",
       "validate_job: resource name '/printers/nosuch' no good!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reply r = server_.Send(IPP_VALIDATE_JOB, c.args);
    EXPECT_EQ(r.status, c.status) << r.raw;
    if (c.message) {
      EXPECT_TRUE(HasLine(server_.root_.ErrorLog(), c.message)) << c.message;
    }
  }
  Reply r = server_.Send(IPP_VALIDATE_JOB, {PrinterUri("stopped"), "compression=44:compress"});
  ASSERT_EQ(r.tags, (std::vector<int>{1, 5})) << r.raw;
  EXPECT_EQ(r.value(1, "compression"), "compress");
  EXPECT_EQ(server_.SettledSpool(), (std::vector<std::string>{"tmp"}));
}

TEST_F(Submit, RefusedPrintJobsLeaveTheSpoolAsItWas) {
  const std::string doc = Fixture("hello.txt");
  const struct {
    const char* what;
    std::vector<std::string> args;
    const char* status;
    const char* message;
    std::string unsupported;  // the unsupported group's attribute, "" when none
  } cases[] = {
      {"bad resource", {"printer-uri=45:ipp://localhost/jobs/3", doc}, "0x0403",
       "print_job: print request on bad resource '/jobs/3'!", ""},
      {"copies 0", {PrinterUri("stopped"), "job:copies=21:0", doc}, "0x0400", "print_job: bad copies value 0.", ""},
      {"copies MaxCopies + 1", {PrinterUri("stopped"), "job:copies=21:11", doc}, "0x0400",
       "print_job: bad copies value 11.", ""},
      {"page-ranges overlapping", {PrinterUri("stopped"), "job:page-ranges=33:1-5,3-8", doc}, "0x0400",
       "print_job: bad page-ranges values 3-8.", ""},
      {"page-ranges reversed", {PrinterUri("stopped"), "job:page-ranges=33:5-1", doc}, "0x0400",
       "print_job: bad page-ranges values 5-1.", ""},
      {"page-ranges from 0", {PrinterUri("stopped"), "job:page-ranges=33:0-2", doc}, "0x0400",
       "print_job: bad page-ranges values 0-2.", ""},
      {"compression", {PrinterUri("stopped"), "compression=44:zip", doc}, "0x040b",
       "print_job: Unsupported compression \"zip\"!", "compression=zip"},
      {"no document", {PrinterUri("stopped")}, "0x0400", "print_job: No file!?!", ""},
      {"unreadable format", {PrinterUri("stopped"), "document-format=49:textplain", doc}, "0x0400",
       "print_job: could not scan type 'textplain'!", ""},
      {"unsupported format", {PrinterUri("stopped"), "document-format=49:image/x-none", doc}, "0x040a",
       "print_job: Unsupported format 'image/x-none'!", "document-format=image/x-none"},
      {"ticket copies above MaxCopies", {PrinterUri("stopped"), Fixture("ticket-copies.ps")}, "0x0400",
       "print_job: bad copies value 99.", ""},
      {"unknown destination", {PrinterUri("nosuch"), doc}, "0x0406",
       "print_job: resource name '/printers/nosuch' no good!", ""},
      {"not accepting", {PrinterUri("closed"), doc}, "0x0506",
       "print_job: destination 'closed' is not accepting jobs.", ""},
      {"deny list", {PrinterUri("denied"), User("ann"), doc}, "0x0404",
       "Denying user \"ann\" access to printer \"denied\"...", ""},
      {"deny list, without regard to case", {PrinterUri("denied"), User("ANN"), doc}, "0x0404",
       "Denying user \"ANN\" access to printer \"denied\"...", ""},
      {"allow list", {PrinterUri("allowed"), User("ann"), doc}, "0x0404",
       "Denying user \"ann\" access to printer \"allowed\"...", ""},
  };
  const std::vector<std::string> before = server_.SettledSpool();
  EXPECT_EQ(before, (std::vector<std::string>{"tmp"}));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reply r = server_.Send(IPP_PRINT_JOB, c.args);
    EXPECT_EQ(r.status, c.status) << r.raw;
    EXPECT_TRUE(HasLine(server_.root_.ErrorLog(), c.message)) << c.message;
    if (!c.unsupported.empty()) {
      ASSERT_EQ(r.tags, (std::vector<int>{1, 5})) << r.raw;
      EXPECT_EQ(r.groups[1], (std::vector<std::string>{c.unsupported})) << r.raw;
    } else {
      EXPECT_EQ(r.tags, (std::vector<int>{1})) << r.raw;
    }
    EXPECT_EQ(server_.SettledSpool(), before);
  }
  EXPECT_TRUE(HasLine(server_.root_.ErrorLog(), "Hint: Do you have the raw file printing rules enabled?"));
  // No job id was used up by a refusal.
  Reply r = server_.Send(IPP_PRINT_JOB, {PrinterUri("stopped"), doc});
  EXPECT_EQ(r.value(1, "job-id"), "1") << r.raw;
}

TEST_F(Submit, LimitValuesThatAreAccepted) {
  const std::string doc = Fixture("hello.txt");
  const struct {
    const char* what;
    std::vector<std::string> args;
  } cases[] = {
      {"copies MaxCopies", {PrinterUri("stopped"), "job:copies=21:10", doc}},
      {"page-ranges in order", {PrinterUri("stopped"), "job:page-ranges=33:1-5,6-8", doc}},
      {"allow list by name", {PrinterUri("allowed"), User("bob"), doc}},
      {"allow list by primary group", {PrinterUri("allowed"), User(CurrentUser()), doc}},
      {"deny list names someone else", {PrinterUri("denied"), User("bob"), doc}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reply r = server_.Send(IPP_PRINT_JOB, c.args);
    EXPECT_EQ(r.status, "0x0000") << r.raw;
  }
}

TEST_F(Submit, KilobyteQuotaRefusesOnceReached) {
  const std::string doc = server_.Document("k.txt", std::string(1500, 'q') + "\n");  // 2 KB
  Reply r = server_.Send(IPP_PRINT_JOB, {PrinterUri("quota"), User("ann"), doc});
  ASSERT_EQ(r.status, "0x0000") << r.raw;
  r = server_.Send(IPP_PRINT_JOB, {PrinterUri("quota"), User("ann"), doc});
  EXPECT_EQ(r.status, "0x0404") << r.raw;
  EXPECT_TRUE(HasLine(server_.root_.ErrorLog(), "User \"ann\" is over the quota limit..."));
  // Quotas are per user.
  r = server_.Send(IPP_PRINT_JOB, {PrinterUri("quota"), User("bob"), Fixture("hello.txt")});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(server_.SettledSpool(), (std::vector<std::string>{"c00001", "c00002", "d00001-001", "d00002-001", "tmp"}));
}

TEST_F(Submit, PostScriptJobTicketsSetJobAttributes) {
  Reply r = server_.Send(IPP_PRINT_JOB, {PrinterUri("stopped"), User("ann"), Fixture("ticket.ps")});
  ASSERT_EQ(r.status, "0x0000") << r.raw;
  Reply a = server_.JobAttributes(1);
  EXPECT_EQ(a.value(1, "job-priority"), "90") << a.raw;
  EXPECT_EQ(a.value(1, "copies"), "3") << a.raw;
  // Not after another kind of line; never the job's own bookkeeping.
  EXPECT_EQ(a.value(1, "job-name"), "Untitled") << a.raw;
  EXPECT_EQ(a.value(1, "job-originating-user-name"), "ann") << a.raw;
  EXPECT_EQ(a.value(1, "job-state"), "3") << a.raw;
}

TEST_F(Submit, HeldJobs) {
  const std::string doc = Fixture("hello.txt");
  Reply r = server_.Send(IPP_PRINT_JOB, {PrinterUri("stopped"), User("ann"), "job:job-hold-until=44:indefinite", doc});
  ASSERT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(r.value(1, "job-state"), "4");
  EXPECT_EQ(r.value(1, "job-state-reasons"), "job-hold-until-specified");
  EXPECT_TRUE(server_.InSpool("c00001"));

  // Send-Document without last-document leaves an indefinitely held job as
  // it was; the last document does not release it either.
  r = server_.Send(IPP_CREATE_JOB, {PrinterUri("stopped"), User("ann"), "job:job-hold-until=44:indefinite"});
  ASSERT_EQ(r.status, "0x0000") << r.raw;
  for (const char* last : {"false", "true"}) {
    SCOPED_TRACE(last);
    r = server_.Send(IPP_SEND_DOCUMENT,
                     {"job-uri=45:ipp://localhost/jobs/2", User("ann"), std::string("last-document=22:") + last, doc});
    ASSERT_EQ(r.status, "0x0000") << r.raw;
    EXPECT_EQ(r.value(1, "job-state"), "4");
    EXPECT_EQ(r.value(1, "job-state-reasons"), "job-hold-until-specified");
  }
  Reply a = server_.JobAttributes(2);
  EXPECT_EQ(a.value(1, "job-hold-until"), "indefinite") << a.raw;
}

TEST_F(Submit, QueuedJobsAreThereAfterARestart) {
  // The client's own job-state and job-id must not be what a reload reads.
  ASSERT_EQ(server_.Send(IPP_PRINT_JOB, {PrinterUri("stopped"), User("ann"), "job-name=42:first", "job-id=21:7",
                                     "job:job-state=23:9", Fixture("hello.txt")})
                .status,
            "0x0000");
  ASSERT_EQ(server_.Send(IPP_CREATE_JOB, {PrinterUri("stopped"), User("ann"), "job-name=42:second"}).status, "0x0000");
  ASSERT_EQ(server_.Send(IPP_SEND_DOCUMENT, {"job-uri=45:ipp://localhost/jobs/2", User("ann"), "last-document=22:true",
                                         Fixture("tiny.pdf")})
                .status,
            "0x0000");
  ASSERT_EQ(WIFEXITED(server_.vornd_.Stop()), true);
  ASSERT_TRUE(server_.vornd_.StartForeground()) << server_.vornd_.Stderr();

  const struct {
    int id;
    const char* name;
    const char* kbytes;
  } jobs[] = {{1, "first", "1"}, {2, "second", "1"}};
  for (const auto& j : jobs) {
    Reply a = server_.JobAttributes(j.id);
    ASSERT_EQ(a.status, "0x0000") << a.raw;
    EXPECT_EQ(a.value(1, "job-name"), j.name) << a.raw;
    EXPECT_EQ(a.value(1, "job-state"), "3") << a.raw;
    EXPECT_EQ(a.value(1, "job-originating-user-name"), "ann") << a.raw;
    EXPECT_EQ(a.value(1, "job-k-octets"), j.kbytes) << a.raw;
  }
  // The next id follows the saved ones.
  Reply r = server_.Send(IPP_PRINT_JOB, {PrinterUri("stopped"), Fixture("hello.txt")});
  EXPECT_EQ(r.value(1, "job-id"), "3") << r.raw;
}

TEST_F(Submit, LongRequesterNamesAreCut) {
  const std::string name(40, 'u');
  Reply r = server_.Send(IPP_PRINT_JOB, {PrinterUri("stopped"), User(name), Fixture("hello.txt")});
  ASSERT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_TRUE(HasLine(server_.root_.ErrorLog(), "Job 1 queued on 'stopped' by '" + name.substr(0, 32) + "'."));
  // The attribute keeps what the client sent.
  EXPECT_EQ(server_.JobAttributes(1).value(1, "job-originating-user-name"), name);
}

// Job limits: each configuration admits two jobs; the third is refused, while
// the same request for another printer or user may still pass.
TEST(SubmitLimits, JobCountsRefuseTheNextJob) {
  const struct {
    const char* conf;
    const char* message;
    std::vector<std::string> other;  // a third request that passes, none when nothing does
  } cases[] = {
      {"MaxJobs 2\n", "print_job: too many jobs - 2 jobs, max jobs is 2.", {}},
      {"MaxJobsPerPrinter 2\n", "Too many jobs for printer \"stopped\"...", {PrinterUri("other"), User("ann")}},
      {"MaxJobsPerUser 2\n", "Too many jobs for user \"ann\"...", {PrinterUri("stopped"), User("bob")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.conf);
    SubmitServer server;
    server.Start(c.conf,
                 "<Printer stopped>\nState Stopped\nAccepting Yes\n</Printer>\n"
                 "<Printer other>\nState Stopped\nAccepting Yes\n</Printer>\n");
    const std::string doc = Fixture("hello.txt");
    for (int i = 0; i < 2; i++)
      EXPECT_EQ(server.Send(IPP_PRINT_JOB, {PrinterUri("stopped"), User("ann"), doc}).status, "0x0000");
    Reply r = server.Send(IPP_PRINT_JOB, {PrinterUri("stopped"), User("ann"), doc});
    EXPECT_EQ(r.status, "0x0404") << r.raw;
    r = server.Send(IPP_CREATE_JOB, {PrinterUri("stopped"), User("ann")});
    EXPECT_EQ(r.status, "0x0404") << r.raw;
    EXPECT_TRUE(HasLine(server.root_.ErrorLog(), c.message)) << c.message;
    if (!c.other.empty()) {
      std::vector<std::string> args = c.other;
      args.push_back(doc);
      EXPECT_EQ(server.Send(IPP_PRINT_JOB, args).status, "0x0000");
    } else {
      EXPECT_TRUE(HasLine(server.root_.ErrorLog(), "create_job: too many jobs."));
    }
  }
}

// job-sheets under a classification: the level must show on a banner.
TEST(SubmitClassification, JobSheetsFollowTheClassification) {
  const struct {
    const char* override_;
    std::vector<std::string> sheets;  // job-sheets argument, none: the printer's
    const char* expected;
  } cases[] = {
      {"Off", {"job:job-sheets=42:none,none"}, "secret,none"},
      {"Off", {}, "secret,none"},
      {"Off", {"job:job-sheets=42:none,secret"}, "none,secret"},
      {"On", {"job:job-sheets=42:alpha,beta"}, "alpha,alpha"},
      {"On", {"job:job-sheets=42:none"}, "secret"},
      {"On", {"job:job-sheets=42:none,beta"}, "none,beta"},
  };
  for (const char* setting : {"Off", "On"}) {
    SCOPED_TRACE(setting);
    SubmitServer server;
    server.Start(std::string("Classification secret\nClassifyOverride ") + setting + "\n",
                 "<Printer stopped>\nState Stopped\nAccepting Yes\n</Printer>\n");
    int id = 0;
    for (const auto& c : cases) {
      if (std::string(c.override_) != setting) continue;
      std::vector<std::string> args = {PrinterUri("stopped"), Fixture("hello.txt")};
      args.insert(args.end(), c.sheets.begin(), c.sheets.end());
      Reply r = server.Send(IPP_PRINT_JOB, args);
      ASSERT_EQ(r.status, "0x0000") << r.raw;
      Reply a = server.JobAttributes(++id);
      EXPECT_EQ(a.value(1, "job-sheets"), c.expected) << a.raw;
      EXPECT_TRUE(HasLine(server.root_.ErrorLog(),
                          "Adding start banner page \"" + std::string(c.expected).substr(0, std::string(c.expected).find(',')) +
                              "\" to job " + std::to_string(id) + "."));
    }
  }
}

// A document format whose type name is longer than 31 characters is looked
// up whole by every submission operation; the name is never cut to fit.
TEST(SubmitFormats, TypeNamesPastThirtyOneCharactersAreKnown) {
  SubmitServer server;
  const std::string format = "application/vnd.vorn-test.a-type-name-well-past-thirty-one-characters";
  ASSERT_TRUE(WriteFile(server.root_.file("long.types"), format + "\n"));
  server.Start("", kPrinters);
  const std::string doc = Fixture("hello.txt");

  Reply r = server.Send(IPP_VALIDATE_JOB, {PrinterUri("stopped"), "document-format=49:" + format});
  EXPECT_EQ(r.status, "0x0000") << r.raw;

  r = server.Send(IPP_PRINT_JOB, {PrinterUri("stopped"), User("ann"), "document-format=49:" + format + ";x=y", doc});
  ASSERT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_TRUE(HasLine(server.root_.ErrorLog(), "print_job: request file type is " + format + "."));

  ASSERT_EQ(server.Send(IPP_CREATE_JOB, {PrinterUri("stopped"), User("ann")}).status, "0x0000");
  r = server.Send(IPP_SEND_DOCUMENT, {"job-uri=45:ipp://localhost/jobs/2", User("ann"), "last-document=22:true",
                                  "document-format=49:" + format, doc});
  ASSERT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_TRUE(HasLine(server.root_.ErrorLog(), "File of type " + format + " queued in job #2 by 'ann'."));

  // The first 31 characters of the type make another name, which is unknown.
  const std::string cut = format.substr(0, format.find('/') + 32);
  r = server.Send(IPP_PRINT_JOB, {PrinterUri("stopped"), "document-format=49:" + cut, doc});
  EXPECT_EQ(r.status, "0x040a") << r.raw;
  EXPECT_TRUE(HasLine(server.root_.ErrorLog(), "print_job: Unsupported format '" + cut + "'!"));
  EXPECT_EQ(server.vornd_.Stderr().find("Sanitizer"), std::string::npos) << server.vornd_.Stderr();
}

}  // namespace
