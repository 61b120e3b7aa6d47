// qstatus, showq and qctl against a real vornd holding three queues and
// a few jobs: each report in its fixed text, the options in command-line
// order, and the list checks that stop the command before any request.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "commands_fixture.h"

namespace {

using namespace commands;

std::string Program(const char* name) { return std::string(COMMANDS_DIR) + "/" + name; }

std::string LoginName() {
  const passwd* pw = ::getpwuid(::getuid());
  return pw ? pw->pw_name : std::to_string(::getuid());
}

// laser and inkjet hold their jobs (stopped); plotter is idle and empty.
constexpr const char* kPrinters =
    "<DefaultPrinter laser>\nInfo Office laser\nLocation Room 1\nDeviceURI file:/dev/null\n"
    "State Stopped\nAccepting Yes\n</Printer>\n"
    "<Printer inkjet>\nInfo Colour inkjet\nLocation Room 2\nDeviceURI socket://127.0.0.1:9\n"
    "State Stopped\nStateMessage Paper jam\nAccepting No\n</Printer>\n"
    "<Printer plotter>\nDeviceURI file:/dev/null\nState Idle\nAccepting Yes\n</Printer>\n";

class QueueReports : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.InstallDataFile("vorn.types"));
    ASSERT_TRUE(root_.InstallDataFile("vorn.convs"));
    root_.WriteConfig();
    ASSERT_TRUE(WriteFile(root_.file("printers.conf"), kPrinters));
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
    env_.set_port(root_.port());
    std::string file = env_.MakeFile("memo.txt", "memo\n");
    // Jobs 1 and 3 are the test user's, job 2 is bob's; all on laser.
    ASSERT_EQ(env_.Submit({"-d", "laser", file}).exit_status, 0);
    ASSERT_EQ(env_.Enqueue({"-P", "laser", "-U", "bob", "-T", "bobs", file}).exit_status, 0);
    ASSERT_EQ(env_.Submit({"-d", "laser", "-t", "third", file}).exit_status, 0);
  }

  RunResult Run(const char* program, const std::vector<std::string>& args, const std::string& input = "") {
    return env_.Run(Program(program), args, input);
  }

  // The job lines of a qstatus job report with the date cut off; each date
  // must be a full date of today's year.
  static std::vector<std::string> JobLines(const std::string& out) {
    std::vector<std::string> lines;
    static const std::regex date(" +[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}$");
    size_t start = 0;
    while (start < out.size()) {
      size_t end = out.find('\n', start);
      std::string line = out.substr(start, end - start);
      start = end == std::string::npos ? out.size() : end + 1;
      std::smatch m;
      if (std::regex_search(line, m, date))
        lines.push_back(line.substr(0, size_t(m.position(0))));
      else
        lines.push_back(line);
    }
    return lines;
  }

  ServerRoot root_;
  Vornd vornd_{root_};
  CommandEnv env_;
  const std::string me_ = LoginName();
};

std::string Pad(std::string s, size_t width) {
  if (s.size() < width) s.resize(width, ' ');
  return s;
}

TEST_F(QueueReports, QstatusJobReports) {
  const std::string bob = "laser-2                 bob               1024";
  const std::string one = "laser-1                 " + Pad(me_, 13) + "     1024";
  const std::string three = "laser-3                 " + Pad(me_, 13) + "     1024";
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> lines;
  } cases[] = {
      {{}, {one, three}},  // the user's own jobs
      {{"-u", "bob"}, {bob}},
      {{"-u", "BOB"}, {}},  // user names keep their case
      {{"-o", "laser"}, {one, bob, three}},
      {{"-oLASER"}, {one, bob, three}},  // destination names do not
      {{"-o", "inkjet"}, {}},
      {{"all"}, {one, bob, three}},
      {{"-W", "completed", "-o", "laser"}, {}},
      {{"-R", "-u", "bob"}, {"  1 laser-2               bob               1024"}},
      {{"-l", "-u", "bob"}, {bob, "\tqueued for laser"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    RunResult r = Run("qstatus", c.args);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(JobLines(r.out), c.lines) << r.out;
  }
}

TEST_F(QueueReports, QstatusPrinterReports) {
  const std::string root = env_.file("conf");
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"-a"},
       "inkjet not accepting requests since Jan 01 00:00 -\n\tPaper jam\n"
       "laser accepting requests since Jan 01 00:00\n"
       "plotter accepting requests since Jan 01 00:00\n"},
      {{"-p", "plotter,Inkjet"},
       "printer inkjet disabled since Jan 01 00:00 -\n\tPaper jam\n"
       "printer plotter is idle.  enabled since Jan 01 00:00\n"},
      {{"-D", "-pinkjet"}, "printer inkjet disabled since Jan 01 00:00 -\n\tPaper jam\n\tDescription: Colour inkjet\n"},
      // -l after -p is not its list, and changes only later reports
      {{"-p", "-l", "-p", "laser"},
       "printer inkjet disabled since Jan 01 00:00 -\n\tPaper jam\n"
       "printer laser disabled since Jan 01 00:00 -\n\treason unknown\n"
       "printer plotter is idle.  enabled since Jan 01 00:00\n"
       "printer laser disabled since Jan 01 00:00 -\n\treason unknown\n"
       "\tForm mounted:\n\tContent types: any\n\tPrinter types: unknown\n\tDescription: Office laser\n"
       "\tLocation: Room 1\n\tConnection: direct\n\tInterface: " +
           root +
           "/ppd/laser.ppd\n"
           "\tOn fault: no alert\n\tAfter fault: continue\n\tUsers allowed:\n\t\t(all)\n\tForms allowed:\n"
           "\t\t(none)\n\tBanner required\n\tCharset sets:\n\t\t(none)\n\tDefault pitch:\n"
           "\tDefault page size:\n\tDefault port settings:\n"},
      {{"-v", "laser,inkjet"}, "device for inkjet: socket://127.0.0.1:9\ndevice for laser: /dev/null\n"},
      {{"-d"}, "system default destination: laser\n"},
      {{"-r"}, "scheduler is running\n"},
      {{"-c"}, ""},
      // reports in command-line order
      {{"-r", "-d", "-a", "plotter"},
       "scheduler is running\nsystem default destination: laser\nplotter accepting requests since Jan 01 00:00\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    RunResult r = Run("qstatus", c.args);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, c.out);
  }
}

TEST_F(QueueReports, QstatusRefusals) {
  const std::string long_name(128, 'x');
  const struct {
    std::vector<std::string> args;
    std::string out;
    std::string err;
  } cases[] = {
      {{"-p", "nosuch"}, "", "qstatus: Unknown destination \"nosuch\"!\n"},
      // "all" is only a destination list's word when no destination has it
      {{"-p", "all"}, "", "qstatus: Unknown destination \"all\"!\n"},
      {{"-a", "laser," + long_name}, "", "qstatus: Invalid destination name in list \"laser," + long_name + "\"!\n"},
      // the reports before the bad option have run
      {{"-d", "-W", "sometimes"}, "system default destination: laser\n",
       "qstatus: Need \"completed\" or \"not-completed\" after -W!\n"},
      {{"-W"}, "", "qstatus: Need \"completed\" or \"not-completed\" after -W!\n"},
      {{"-h"}, "", "Error: need hostname after '-h' option!\n"},
      {{"-Z"}, "", "qstatus: Unknown option 'Z'!\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    RunResult r = Run("qstatus", c.args);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }

  // No scheduler at all: the connection error, and nothing else.
  vornd_.Stop();
  RunResult r = Run("qstatus", {"-r"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.err.starts_with("qstatus: Unable to connect to server: ")) << r.err;
}

TEST_F(QueueReports, Showq) {
  const std::string header = "Rank    Owner   Job     File(s)                         Total Size\n";
  auto row = [](const std::string& rank, const std::string& owner, int id, const std::string& title) {
    char line[160];
    std::snprintf(line, sizeof(line), "%-7s %-7.7s %-7d %-31.31s %d bytes\n", rank.c_str(), owner.c_str(), id,
                  title.c_str(), 1024);
    return std::string(line);
  };
  const struct {
    std::vector<std::string> args;
    int exit_status;
    std::string out;
    std::string err;
  } cases[] = {
      {{},
       0,
       "laser is not ready\n" + header + row("1st", me_, 1, "memo.txt") + row("2nd", "bob", 2, "bobs") +
           row("3rd", me_, 3, "third"),
       ""},
      {{"bob"}, 0, "laser is not ready\n" + header + row("1st", "bob", 2, "bobs"), ""},
      {{"-P", "plotter"}, 0, "plotter is ready\nno entries\n", ""},
      // an empty queue stops the repetition at once
      {{"-P", "plotter", "+5"}, 0, "plotter is ready\nno entries\n", ""},
      {{"-a", "2"}, 0, header + row("1st", "bob", 2, "bobs"), ""},
      {{"-P", "laser", "3"}, 0, "laser is not ready\n" + header + row("1st", me_, 3, "third"), ""},
      {{"-l", "-P", "laser", "bob"},
       0,
       "laser is not ready\n\nbob: 1st                               [job 2 localhost]\n"
       "        bobs                                    1024 bytes\n",
       ""},
      {{"-P", "nosuch"}, 1, "", "showq: Unknown destination \"nosuch\"!\n"},
      {{"-P", "laser/draft"}, 1, "", "showq: Unknown destination \"laser/draft\"!\n"},
      {{"-x"}, 1, "", "Usage: showq [-P dest] [-l] [+interval]\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
    RunResult r = Run("showq", c.args);
    EXPECT_EQ(r.exit_status, c.exit_status) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}

TEST_F(QueueReports, Qctl) {
  const std::string laser =
      "laser:\n\tprinter is on device '/dev/null' speed -1\n\tqueuing is enabled\n\tprinting is disabled\n"
      "\tno entries\n\tdaemon present\n";
  const std::string inkjet =
      "inkjet:\n\tprinter is on device 'socket' speed -1\n\tqueuing is disabled\n\tprinting is disabled\n"
      "\tno entries\n\tdaemon present\n";
  const std::string plotter =
      "plotter:\n\tprinter is on device '/dev/null' speed -1\n\tqueuing is enabled\n\tprinting is enabled\n"
      "\tno entries\n\tdaemon present\n";
  const struct {
    std::vector<std::string> args;
    std::string input;
    std::string out;
  } cases[] = {
      {{"stat"}, "", inkjet + laser + plotter},
      {{"status", "laser plotter"}, "", laser + plotter},
      {{"status", "LASER"}, "", ""},  // names keep their case here
      {{"st"}, "", "st is not implemented by the VORN version of qctl.\n"},
      {{"help"}, "", "Commands may be abbreviated.  Commands are:\n\nexit    help    quit    status  ?\n"},
      {{"?", "stat"}, "", "status\t\tshow status of daemon and queue\n"},
      {{"h", "bogus"}, "", "?Invalid help command unknown\n"},
      {{}, "  help h\nstatus laser\nrestart\nex\nstatus\n",
       "qctl> help\t\tget help on commands\nqctl> " + laser +
           "qctl> restart is not implemented by the VORN version of qctl.\nqctl> "},
      {{}, "e\n", "qctl> e is not implemented by the VORN version of qctl.\nqctl> "},  // "exit" needs 2
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? c.input : c.args[0]);
    RunResult r = Run("qctl", c.args, c.input);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
}

}  // namespace
