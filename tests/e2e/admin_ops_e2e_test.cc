// Printer and class administration on a running scheduler: adding and
// changing printers and classes with their PPD files, deleting them, the
// default destination, accepting, stopping, and moving jobs. Requests come
// from an IPP client written elsewhere.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "query_reply.h"
#include "submit_server.h"
#include "vorn/ipp.h"

namespace {

using namespace e2e;

bool HasLine(const std::string& log, const std::string& message) { return log.find(message) != std::string::npos; }

std::string ClassUri(const std::string& name) { return "printer-uri=45:ipp://localhost/classes/" + name; }

// A model of our own: a small PPD whose defaults the installation keeps or
// sets.
const char* const kModel =
    "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*ModelName: \"Test Model\"\n"
    "*NickName: \"Test Model\"\n*Manufacturer: \"Vorn\"\n*LanguageLevel: \"2\"\n"
    "*OpenUI *PageSize: PickOne\n*DefaultPageSize: Letter\n"
    "*PageSize Letter: \"<</PageSize[612 792]>>setpagedevice\"\n"
    "*PageSize A4: \"<</PageSize[595 842]>>setpagedevice\"\n*CloseUI: *PageSize\n"
    "*DefaultResolution: 300dpi\n";

class Admin : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::create_directories(server_.root_.file("bin/backend")));
    std::filesystem::create_symlink(SOCKET_BACKEND_PATH, server_.root_.file("bin/backend/socket"));
    std::filesystem::create_directories(server_.root_.file("data/model"));
    ASSERT_TRUE(WriteFile(server_.root_.file("data/model/test.ppd"), kModel));
    server_.Start("PreserveJobHistory Yes\nDefaultLanguage de\n",
                  "<Printer held>\nState Stopped\nAccepting Yes\n</Printer>\n");
  }
  void TearDown() override {
    EXPECT_EQ(server_.vornd_.Stderr().find("Sanitizer"), std::string::npos) << server_.vornd_.Stderr();
  }

  Reply Admin_(int op, std::vector<std::string> args) {
    args.insert(args.begin(), "/admin/");
    return server_.Send(op, args);
  }
  Reply Printer(const std::string& name) {
    return RunQuery(server_.node_, server_.root_.port(), IPP_GET_PRINTER_ATTRIBUTES, {PrinterUri(name)});
  }
  std::string Conf(const char* file) { return ReadFile(server_.root_.file(file)); }
  std::string Log() { return server_.root_.ErrorLog(); }

  SubmitServer server_;
};

TEST_F(Admin, AddPrinterWithModelAndChangeIt) {
  Reply r = Admin_(VORN_ADD_PRINTER, {PrinterUri("laser"), "printer-info=41:Office laser",
                                      "printer-location=41:Room 1", "device-uri=45:socket://127.0.0.1:9100",
                                      "printer-is-accepting-jobs=22:true", "printer-state=23:3", "ppd-name=42:test.ppd"});
  EXPECT_EQ(r.status, "0x0000") << r.raw << Log();
  std::string conf = Conf("printers.conf");
  // With no default destination yet, the new printer becomes it.
  EXPECT_NE(conf.find("<DefaultPrinter laser>\nInfo Office laser\nLocation Room 1\nDeviceURI socket://127.0.0.1:9100\n"
                      "State Idle\nAccepting Yes\n"),
            std::string::npos)
      << conf;
  EXPECT_TRUE(HasLine(Log(), "New printer 'laser' added by"));
  // The system's language is German: a first installation takes A4.
  std::string ppd = ReadFile(server_.root_.file("ppd/laser.ppd"));
  EXPECT_NE(ppd.find("*DefaultPageSize: A4\n"), std::string::npos) << ppd;
  struct stat st;
  ASSERT_EQ(::stat(server_.root_.file("ppd/laser.ppd").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  Reply p = Printer("laser");
  EXPECT_EQ(p.value(1, "printer-make-and-model"), "Test Model") << p.raw;
  EXPECT_EQ(p.value(1, "printer-state"), "3");

  // The administrator chose Letter; a new model keeps that choice.
  std::string chosen = ppd;
  chosen.replace(chosen.find("*DefaultPageSize: A4"), 20, "*DefaultPageSize: Letter");
  ASSERT_TRUE(WriteFile(server_.root_.file("ppd/laser.ppd"), chosen));
  r = Admin_(VORN_ADD_PRINTER, {PrinterUri("laser"), "ppd-name=42:test.ppd", "printer-state=23:5",
                                "printer-state-message=41:Toner low"});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_NE(ReadFile(server_.root_.file("ppd/laser.ppd")).find("*DefaultPageSize: Letter\n"), std::string::npos);
  EXPECT_TRUE(HasLine(Log(), "Printer 'laser' modified by"));
  EXPECT_TRUE(HasLine(Log(), "Setting laser printer-state to 5 (was 3.)"));
  EXPECT_NE(Conf("printers.conf").find("State Stopped\nStateMessage Toner low\n"), std::string::npos);

  // "raw" removes the PPD.
  r = Admin_(VORN_ADD_PRINTER, {PrinterUri("laser"), "ppd-name=42:raw"});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_FALSE(FileExists(server_.root_.file("ppd/laser.ppd")));
}

TEST_F(Admin, AddPrinterWithUploadedFiles) {
  // A PPD as the request's document becomes the printer's PPD ...
  std::string ppd = server_.Document("upload.ppd", kModel);
  Reply r = Admin_(VORN_ADD_PRINTER, {PrinterUri("uploaded"), ppd});
  EXPECT_EQ(r.status, "0x0000") << r.raw << Log();
  EXPECT_EQ(ReadFile(server_.root_.file("ppd/uploaded.ppd")), kModel);
  // ... anything else is an interface script, and the PPD goes.
  std::string script = server_.Document("script.sh", "#!/bin/sh\ncat \"$6\"\n");
  r = Admin_(VORN_ADD_PRINTER, {PrinterUri("uploaded"), script});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(ReadFile(server_.root_.file("interfaces/uploaded")), "#!/bin/sh\ncat \"$6\"\n");
  EXPECT_FALSE(FileExists(server_.root_.file("ppd/uploaded.ppd")));
  struct stat st;
  ASSERT_EQ(::stat(server_.root_.file("interfaces/uploaded").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
}

// Names and models that would reach outside their folders, or values that
// are refused, change nothing and leave no printer behind.
TEST_F(Admin, AddPrinterRefusals) {
  const std::string before = Conf("printers.conf");
  const struct {
    std::vector<std::string> args;
    const char* status;
    const char* message;
  } cases[] = {
      {{"printer-uri=45:ipp://localhost/printers/../../../../tmp/x"}, "0x0400", "add_printer: bad printer name"},
      {{"printer-uri=45:ipp://localhost/printers/a\\b"}, "0x0400", "add_printer: bad printer name"},
      {{"printer-uri=45:ipp://localhost/printers/it's"}, "0x0400", "add_printer: bad printer name"},
      {{"printer-uri=45:ipp://localhost/printers/" + std::string(128, 'n')}, "0x0400", "add_printer: bad printer name"},
      {{"printer-uri=45:ipp://localhost/printers/"}, "0x0400", "add_printer: bad printer URI"},
      {{"printer-uri=45:ipp://localhost/classes/x"}, "0x0400", "add_printer: bad printer URI"},
      {{PrinterUri("p"), "ppd-name=42:../../../../etc/passwd"}, "0x0400", "add_printer: bad ppd-name"},
      {{PrinterUri("p"), "ppd-name=42:/etc/passwd"}, "0x0400", "add_printer: bad ppd-name"},
      {{PrinterUri("p"), "ppd-name=42:missing.ppd"}, "0x0500", "add_printer: Unable to copy PPD file from"},
      {{PrinterUri("p"), "printer-state=23:4"}, "0x0400", "Attempt to set p printer-state to bad value 4!"},
      {{PrinterUri("p"), "device-uri=45:file:/tmp/out"}, "0x0404",
       "add_printer: File device URIs have been disabled! To enable, see the FileDevice directive in vornd.conf."},
      {{PrinterUri("p"), "device-uri=45:nosuch://host/q"}, "0x0404",
       "add_printer: bad device-uri attribute 'nosuch://host/q'!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Reply r = Admin_(VORN_ADD_PRINTER, c.args);
    EXPECT_EQ(r.status, c.status) << r.raw;
    EXPECT_TRUE(HasLine(Log(), c.message));
    EXPECT_EQ(Conf("printers.conf"), before);
    EXPECT_EQ(Printer("p").status, "0x0406");
  }
  EXPECT_FALSE(FileExists("/tmp/x.ppd"));
  // /dev/null is always a device.
  EXPECT_EQ(Admin_(VORN_ADD_PRINTER, {PrinterUri("p"), "device-uri=45:file:/dev/null"}).status, "0x0000");
  // Administration is posted to /admin/ only.
  Reply r = server_.Send(VORN_ADD_PRINTER, {PrinterUri("q")});
  EXPECT_EQ(r.status, "0x0403") << r.raw;
  EXPECT_TRUE(HasLine(Log(), "add_printer: admin request on bad resource '/printers/q'!"));
}

TEST_F(Admin, ClassesStatesDefaultsAndDeletion) {
  for (const char* name : {"a", "b"})
    ASSERT_EQ(Admin_(VORN_ADD_PRINTER, {PrinterUri(name), "printer-state=23:5"}).status, "0x0000");
  // An unknown member: nothing is made.
  Reply r = Admin_(VORN_ADD_CLASS, {ClassUri("office"), "member-uris=45:ipp://localhost/printers/a,"
                                                        "ipp://localhost/printers/ghost,ipp://localhost/printers/b"});
  EXPECT_EQ(r.status, "0x0406") << r.raw;
  EXPECT_TRUE(HasLine(Log(), "add_class: resource name '/printers/ghost' no good!"));
  EXPECT_EQ(Printer("office").status, "0x0406");
  // A class may not take a printer's name.
  EXPECT_EQ(Admin_(VORN_ADD_CLASS, {ClassUri("a")}).status, "0x0404");

  r = Admin_(VORN_ADD_CLASS, {ClassUri("office"), "printer-info=41:Both",
                              "member-uris=45:ipp://localhost/printers/a,ipp://localhost/printers/b",
                              "printer-is-accepting-jobs=22:true", "printer-state=23:3"});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_NE(Conf("classes.conf").find("<Class office>\nInfo Both\nState Idle\nAccepting Yes\nJobSheets none none\n"
                                      "Printer a\nPrinter b\n"),
            std::string::npos)
      << Conf("classes.conf");
  EXPECT_EQ(Printer("office").value(1, "member-names"), "a,b");

  // A change naming an unknown member changes nothing, in memory or on disk.
  const std::string classes_conf = Conf("classes.conf");
  r = Admin_(VORN_ADD_CLASS, {ClassUri("office"), "printer-info=41:Changed",
                              "member-uris=45:ipp://localhost/printers/b,ipp://localhost/printers/ghost"});
  EXPECT_EQ(r.status, "0x0406") << r.raw;
  EXPECT_EQ(Printer("office").value(1, "member-names"), "a,b");
  EXPECT_EQ(Printer("office").value(1, "printer-info"), "Both");
  EXPECT_EQ(Conf("classes.conf"), classes_conf);

  // The default: a class makes both files be written.
  r = Admin_(VORN_SET_DEFAULT, {ClassUri("office")});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_NE(Conf("classes.conf").find("<DefaultClass office>"), std::string::npos);
  EXPECT_EQ(Conf("printers.conf").find("<DefaultPrinter"), std::string::npos);
  EXPECT_TRUE(HasLine(Log(), "Default destination set to 'office' by"));

  // Rejecting with a reason, accepting again; stopping and starting.
  r = Admin_(VORN_REJECT_JOBS, {PrinterUri("a"), "printer-state-message=41:Out of paper"});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  Reply a = Printer("a");
  EXPECT_EQ(a.value(1, "printer-is-accepting-jobs"), "false");
  EXPECT_EQ(a.value(1, "printer-state-message"), "Out of paper");
  EXPECT_TRUE(HasLine(Log(), "Printer 'a' rejecting jobs ("));
  EXPECT_EQ(Admin_(VORN_ACCEPT_JOBS, {PrinterUri("a")}).status, "0x0000");
  EXPECT_EQ(Printer("a").value(1, "printer-is-accepting-jobs"), "true");
  EXPECT_EQ(Admin_(IPP_RESUME_PRINTER, {ClassUri("office")}).status, "0x0000");
  EXPECT_TRUE(HasLine(Log(), "Class 'office' started by"));
  EXPECT_EQ(Admin_(IPP_PAUSE_PRINTER, {PrinterUri("b")}).status, "0x0000");
  Reply b = Printer("b");
  EXPECT_EQ(b.value(1, "printer-state"), "5");
  EXPECT_EQ(b.value(1, "printer-state-message"), "Paused");
  EXPECT_EQ(Admin_(IPP_PAUSE_PRINTER, {PrinterUri("ghost")}).status, "0x0406");

  // Deleting a printer takes its jobs and files; the last member of a
  // class takes the class.
  ASSERT_EQ(server_.Send(IPP_PRINT_JOB, {PrinterUri("a"), User("ann"), server_.Document("d.txt", "x\n")}).status,
            "0x0000");
  r = Admin_(VORN_DELETE_PRINTER, {PrinterUri("a")});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_TRUE(HasLine(Log(), "Printer 'a' deleted by"));
  EXPECT_EQ(server_.JobAttributes(1).status, "0x0406");
  EXPECT_EQ(Printer("office").value(1, "member-names"), "b");
  EXPECT_EQ(Admin_(VORN_DELETE_PRINTER, {PrinterUri("b")}).status, "0x0000");
  EXPECT_EQ(Printer("office").status, "0x0406");
  EXPECT_EQ(Conf("classes.conf").find("office"), std::string::npos);

  // Everything stays so across a restart.
  ASSERT_EQ(server_.vornd_.Stop(), 0);
  ASSERT_TRUE(server_.vornd_.StartForeground()) << server_.vornd_.Stderr();
  EXPECT_EQ(Printer("a").status, "0x0406");
  EXPECT_EQ(Printer("held").status, "0x0000");
}

TEST_F(Admin, MoveJob) {
  ASSERT_EQ(Admin_(VORN_ADD_PRINTER, {PrinterUri("other"), "printer-state=23:5"}).status, "0x0000");
  ASSERT_EQ(server_.Send(IPP_PRINT_JOB, {PrinterUri("held"), User("ann"), server_.Document("d.txt", "x\n")}).status,
            "0x0000");
  const struct {
    std::vector<std::string> args;
    const char* status;
    const char* message;
  } refused[] = {
      {{"job-uri=45:ipp://localhost/jobs/1", User("bob"), "job:job-printer-uri=45:ipp://localhost/printers/other"},
       "0x0401", "move_job: \"bob\" not authorized to move job id 1 owned by \"ann\"!"},
      {{"job-uri=45:ipp://localhost/jobs/1", User("ann")}, "0x0400", "move_job: job-printer-uri attribute missing!"},
      {{"job-uri=45:ipp://localhost/jobs/1", User("ann"), "job:job-printer-uri=45:ipp://localhost/printers/nosuch"},
       "0x0406", "move_job: resource name '/printers/nosuch' no good!"},
      {{"job-uri=45:ipp://localhost/jobs/9", User("ann"), "job:job-printer-uri=45:ipp://localhost/printers/other"},
       "0x0406", "move_job: job #9 doesn't exist!"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.message);
    Reply r = server_.Send(VORN_MOVE_JOB, c.args);
    EXPECT_EQ(r.status, c.status) << r.raw;
    EXPECT_TRUE(HasLine(Log(), c.message));
  }
  Reply r = server_.Send(VORN_MOVE_JOB, {"job-uri=45:ipp://localhost/jobs/1", User("ann"),
                                        "job:job-printer-uri=45:ipp://localhost/printers/other"});
  EXPECT_EQ(r.status, "0x0000") << r.raw;
  EXPECT_EQ(server_.JobAttributes(1).value(1, "job-printer-uri").find("/printers/other") != std::string::npos, true);
  // A finished job stays where it finished.
  ASSERT_EQ(server_.Send(IPP_CANCEL_JOB, {"job-uri=45:ipp://localhost/jobs/1", User("ann")}).status, "0x0000");
  r = server_.Send(VORN_MOVE_JOB, {"job-uri=45:ipp://localhost/jobs/1", User("ann"),
                                   "job:job-printer-uri=45:ipp://localhost/printers/held"});
  EXPECT_EQ(r.status, "0x0404") << r.raw;
  EXPECT_TRUE(HasLine(Log(), "move_job: job #1 is finished and cannot be altered!"));
}

}  // namespace
