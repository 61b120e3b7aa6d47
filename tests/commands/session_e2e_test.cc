// One session at a terminal, command after command against a running
// vornd, as a new user and the administrator would go through it: every
// line each command prints is checked.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "commands_fixture.h"

namespace {

using namespace commands;

std::string LoginName() {
  const passwd* pw = ::getpwuid(::getuid());
  return pw ? pw->pw_name : std::to_string(::getuid());
}

std::string Pad(std::string s, size_t width) {
  if (s.size() < width) s.resize(width, ' ');
  return s;
}

// Dates of job lines ("Fri Dec 11 02:29:12 2026") become "DATE".
std::string WithoutDates(const std::string& text) {
  static const std::regex date("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}");
  return std::regex_replace(text, date, "DATE");
}

TEST(Session, FromSubmissionToAnEmptyQueue) {
  ServerRoot root;
  ASSERT_TRUE(root.InstallDataFile("vorn.types"));
  ASSERT_TRUE(root.InstallDataFile("vorn.convs"));
  root.WriteConfig();
  ASSERT_TRUE(WriteFile(root.file("printers.conf"),
                        "<DefaultPrinter laser>\nInfo Office laser\nDeviceURI file:/dev/null\nState Idle\n"
                        "Accepting Yes\n</Printer>\n"
                        "<Printer inkjet>\nDeviceURI file:/dev/null\nState Stopped\nAccepting Yes\n</Printer>\n"));
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground()) << vornd.Stderr();
  CommandEnv env;
  env.set_port(root.port());
  const std::string memo = env.MakeFile("memo.txt", "memo\n");
  const std::string me = LoginName();
  const std::string dir = std::string(COMMANDS_DIR) + "/";
  const std::string header = "Rank    Owner   Job     File(s)                         Total Size\n";
  auto row = [&](const char* rank, int id) {
    char line[160];
    std::snprintf(line, sizeof(line), "%-7s %-7.7s %-7d %-31.31s %d bytes\n", rank, me.c_str(), id, "memo.txt", 1024);
    return std::string(line);
  };
  const std::string links = env.file("bin");
  std::filesystem::create_directories(links);
  for (const char* name : {"reject", "enable", "disable"})
    std::filesystem::create_symlink(dir + "accept", links + "/" + name);

  const struct {
    std::string program;
    std::vector<std::string> args;
    int exit_status;
    std::string out;
    std::string err;
  } steps[] = {
      {links + "/disable", {"laser"}, 0, "", ""},
      {dir + "qstatus", {"-p", "laser"}, 0, "printer laser disabled since Jan 01 00:00 -\n\tPaused\n", ""},
      {SubmitPath(), {memo}, 0, "request id is laser-1 (1 file(s))\n", ""},
      {SubmitPath(), {"-H", "hold", memo}, 0, "request id is laser-2 (1 file(s))\n", ""},
      {dir + "qstatus",
       {"-t"},
       0,
       "scheduler is running\nsystem default destination: laser\n"
       "device for inkjet: /dev/null\ndevice for laser: /dev/null\n"
       "inkjet accepting requests since Jan 01 00:00\nlaser accepting requests since Jan 01 00:00\n"
       "printer inkjet disabled since Jan 01 00:00 -\n\treason unknown\n"
       "printer laser disabled since Jan 01 00:00 -\n\tPaused\n"
       "laser-1                 " + Pad(me, 13) + "     1024   DATE\n"
       "laser-2                 " + Pad(me, 13) + "     1024   DATE\n",
       ""},
      {dir + "showq", {}, 0, "laser is not ready\n" + header + row("1st", 1) + row("2nd", 2), ""},
      // hold the first, release the second: the order of the queue stays
      {SubmitPath(), {"-i", "1", "-H", "hold"}, 0, "", ""},
      {SubmitPath(), {"-i", "laser-2", "-H", "resume"}, 0, "", ""},
      {dir + "jobmove", {"laser-1", "inkjet"}, 0, "", ""},
      {dir + "qstatus", {"-o", "inkjet"}, 0, "inkjet-1                " + Pad(me, 13) + "     1024   DATE\n", ""},
      {dir + "cancel", {"inkjet-1"}, 0, "", ""},
      {dir + "showq", {"-P", "inkjet"}, 0, "inkjet is not ready\nno entries\n", ""},
      {links + "/reject", {"-r", "Out of paper", "laser"}, 0, "", ""},
      {dir + "qstatus", {"-a", "laser"}, 0, "laser not accepting requests since Jan 01 00:00 -\n\tOut of paper\n", ""},
      {SubmitPath(), {memo}, 1, "", "submit: unable to print file: server-error-not-accepting-jobs\n"},
      {dir + "accept", {"laser"}, 0, "", ""},
      {dir + "dequeue", {"-"}, 0, "", ""},
      {dir + "showq", {}, 0, "laser is not ready\nno entries\n", ""},
      {links + "/enable", {"laser"}, 0, "", ""},
      {dir + "qstatus", {"-p", "laser", "-a", "laser"}, 0,
       "printer laser is idle.  enabled since Jan 01 00:00\nlaser accepting requests since Jan 01 00:00\n", ""},
      {dir + "qctl", {"status", "laser"}, 0,
       "laser:\n\tprinter is on device '/dev/null' speed -1\n\tqueuing is enabled\n\tprinting is enabled\n"
       "\tno entries\n\tdaemon present\n",
       ""},
  };
  for (const auto& s : steps) {
    std::string line = s.program.substr(s.program.rfind('/') + 1);
    for (const std::string& a : s.args) line += " " + a;
    SCOPED_TRACE(line);
    RunResult r = env.Run(s.program, s.args);
    EXPECT_EQ(r.exit_status, s.exit_status) << r.err;
    EXPECT_EQ(WithoutDates(r.out), s.out);
    EXPECT_EQ(r.err, s.err);
  }
}

}  // namespace

namespace {

// Where job operations ask who is asking, a user may cancel only their own
// jobs, and the administrator at this machine anyone's: the commands answer
// the challenge with the root certificate, which only administrators can
// read, before any password is asked.
TEST(Session, TheAdministratorCancelsAnyonesJobWithTheLocalCertificate) {
  ServerRoot root;
  ASSERT_TRUE(root.InstallDataFile("vorn.types"));
  ASSERT_TRUE(root.InstallDataFile("vorn.convs"));
  root.WriteConfig("<Location /jobs>\nAuthType Basic\nRequire valid-user\nOrder deny,allow\n</Location>\n");
  ASSERT_TRUE(WriteFile(root.file("printers.conf"),
                        "<DefaultPrinter laser>\nDeviceURI file:/dev/null\nState Stopped\nAccepting Yes\n</Printer>\n"));
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground()) << vornd.Stderr();
  ASSERT_TRUE(WaitUntil([&] { return !root.RootAuthorization().empty(); }));
  CommandEnv env;
  env.set_port(root.port());
  const std::string memo = env.MakeFile("memo.txt", "memo\n");
  ASSERT_EQ(env.Enqueue({"-U", "bob", memo}).exit_status, 0);
  const std::string cancel = std::string(COMMANDS_DIR) + "/cancel";

  // Without the certificate (another server root) the password is asked,
  // and there is none on standard input: bob's job stays.
  RunResult r = env.Run(cancel, {"1"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_NE(r.err.find("cancel: cancel-job failed:"), std::string::npos) << r.err;

  // With it, the request is root's, verified.
  std::vector<std::string> argv = env.Argv(cancel, {"1"});
  for (std::string& a : argv)
    if (a.rfind("VORN_SERVERROOT=", 0) == 0) a = "VORN_SERVERROOT=" + root.path();
  r = RunProgram(argv, 30s);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(root.WaitForLog("Job 1 was cancelled by 'root'.")) << root.ErrorLog();
}

}  // namespace
