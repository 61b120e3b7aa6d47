// qadmin against a real vornd: printers made and changed option by option,
// PPD uploads (gzip'd too), options merged into the PPD, class membership,
// the default, deletion, and the refusals that stop the command.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "commands_fixture.h"

namespace {

using namespace commands;

std::string Qadmin() { return std::string(COMMANDS_DIR) + "/qadmin"; }

const char* const kPPD =
    "*PPD-Adobe: \"4.3\"\r\n*ModelName: \"Upload Model\"\r\n*NickName: \"Upload Model\"\r\n"
    "*OpenUI *PageSize: PickOne\r\n*DefaultPageSize: Letter\r\n*PageSize Letter: \"\"\r\n*PageSize A4: \"\"\r\n"
    "*CloseUI: *PageSize\r\n*DefaultPageRegion: Letter\r\n*vornProtocol: \"BCP\"\r\n*DefaultResolution: 300dpi\r\n";

class QadminE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.InstallDataFile("vorn.types"));
    ASSERT_TRUE(root_.InstallDataFile("vorn.convs"));
    std::filesystem::create_directories(root_.file("bin/backend"));
    std::filesystem::create_symlink(SOCKET_BACKEND_PATH, root_.file("bin/backend/socket"));
    root_.WriteConfig();
    ASSERT_TRUE(WriteFile(root_.file("printers.conf"), "<Printer held>\nState Stopped\nAccepting Yes\n</Printer>\n"));
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
    env_.set_port(root_.port());
  }

  RunResult Run(const std::vector<std::string>& args) { return env_.Run(Qadmin(), args); }
  std::string Conf(const char* name) { return ReadFile(root_.file(name)); }

  ServerRoot root_;
  Vornd vornd_{root_};
  CommandEnv env_;
};

TEST_F(QadminE2E, PrintersAreMadeOptionByOption) {
  RunResult r = Run({"-p", "laser", "-v", "/dev/null", "-D", "Office laser", "-L", "Room 1", "-E",
                     "-u", "allow:ann,bob"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  std::string conf = Conf("printers.conf");
  EXPECT_NE(conf.find("Printer laser>\nInfo Office laser\nLocation Room 1\nDeviceURI file:/dev/null\nState Idle\n"
                      "Accepting Yes\n"),
            std::string::npos)
      << conf;
  EXPECT_NE(conf.find("AllowUser ann\nAllowUser bob\n</Printer>"), std::string::npos) << conf;

  // A URI goes as it is.
  r = Run({"-p", "laser", "-v", "socket://127.0.0.1:9100"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(Conf("printers.conf").find("DeviceURI socket://127.0.0.1:9100\n"), std::string::npos);

  // A gzip'd PPD is sent unpacked; options go into it: PageSize sets both
  // page defaults, protocol replaces the protocol line at the end.
  const std::string gz = env_.file("files/model.ppd.gz");
  {
    gzFile out = gzopen(gz.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    gzwrite(out, kPPD, unsigned(std::strlen(kPPD)));
    gzclose(out);
  }
  r = Run({"-p", "laser", "-P", gz});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(Conf("ppd/laser.ppd"), kPPD);
  r = Run({"-p", "laser", "-o", "PageSize=A4", "-o", "protocol=TBCP"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(Conf("ppd/laser.ppd"),
            "*PPD-Adobe: \"4.3\"\n*ModelName: \"Upload Model\"\n*NickName: \"Upload Model\"\n"
            "*OpenUI *PageSize: PickOne\n*DefaultPageSize: A4\n*PageSize Letter: \"\"\n*PageSize A4: \"\"\n"
            "*CloseUI: *PageSize\n*DefaultPageRegion: A4\n*DefaultResolution: 300dpi\n*vornProtocol: \"TBCP\"\n");

  // -d sets the default and reads no further.
  r = Run({"-d", "laser", "-p", "bad name"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(Conf("printers.conf").find("<DefaultPrinter laser>"), std::string::npos);

  r = Run({"-x", "laser"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(Conf("printers.conf").find("laser"), std::string::npos);
  EXPECT_FALSE(FileExists(root_.file("ppd/laser.ppd")));
}

TEST_F(QadminE2E, ClassMembership) {
  ASSERT_EQ(Run({"-p", "a", "-v", "/dev/null"}).exit_status, 0);
  ASSERT_EQ(Run({"-p", "b", "-v", "/dev/null"}).exit_status, 0);
  RunResult r = Run({"-p", "a", "-c", "staff", "-p", "b", "-c", "staff"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(Conf("classes.conf").find("Printer a\nPrinter b\n"), std::string::npos) << Conf("classes.conf");
  r = Run({"-p", "A", "-c", "staff"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "qadmin: Printer A is already a member of class staff.\n");

  r = Run({"-p", "a", "-r", "staff"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(Conf("classes.conf").find("JobSheets none none\nPrinter b\nQuota"), std::string::npos)
      << Conf("classes.conf");
  r = Run({"-p", "a", "-r", "staff"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "qadmin: Printer a is not a member of class staff.\n");
  // The last member out takes the class along.
  r = Run({"-p", "b", "-r", "staff"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(Conf("classes.conf").find("staff"), std::string::npos);
  r = Run({"-p", "b", "-r", "staff"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "qadmin: Class staff does not exist!\n");
}

TEST_F(QadminE2E, Refusals) {
  const std::string unable = "         You must specify a printer name first!\n";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-c", "staff"}, "qadmin: Unable to add a printer to the class:\n" + unable},
      {{"-v", "/dev/null"}, "qadmin: Unable to set the device URI:\n" + unable},
      {{"-o", "PageSize=A4"}, "qadmin: Unable to set the printer options:\n" + unable},
      {{"-p", "two words"}, "qadmin: Printer name can only contain printable characters!\n"},
      {{"-p", "x", "-c", "bad/class"}, "qadmin: Class name can only contain printable characters!\n"},
      {{"-p"}, "qadmin: Expected printer after '-p' option!\n"},
      {{"-p", "x", "-u", "maybe:ann"}, "qadmin: Unknown allow/deny option \"maybe:ann\"!\n"},
      {{"-p", "x", "-v", "nosuch://host"},
       "qadmin: add-printer (set device) failed: client-error-not-possible\n"},
      // only the part before "@" is qadmin's to check; the scheduler checks
      // the whole name
      {{"-p", "ok@any host", "-D", "x"}, "qadmin: add-printer (set description) failed: client-error-bad-request\n"},
      {{"-q"}, "qadmin: Unknown option 'q'!\n"},
      {{"stray"}, "qadmin: Unknown argument 'stray'!\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    RunResult r = Run(c.args);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, c.err);
  }
  // No printer was made by any refusal above.
  EXPECT_EQ(Conf("printers.conf").find("<Printer x>"), std::string::npos);

  RunResult r = Run({});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out.rfind("Usage:\n\n    qadmin [-h server] -d destination\n", 0), 0u) << r.out;
  r = Run({"-I", "text/plain", "-p", "x"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "qadmin: Warning - content type list ignored!\n");
}

}  // namespace
