// The argument handling of submit and enqueue, run as real processes with no
// scheduler listening at the address they are given: every refusal and
// warning, exactly as written, and the exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "commands_fixture.h"
#include "vorn/fd.h"

namespace {

using namespace commands;

struct ArgCase {
  std::vector<std::string> args;  // "FILE" stands for a readable file
  int status;
  const char* err;  // the whole standard error
};

class SubmitArgs : public ::testing::Test {
 protected:
  void SetUp() override { file_ = env_.MakeFile("report.txt", "hello\n"); }

  std::vector<std::string> Expand(const std::vector<std::string>& args) const {
    std::vector<std::string> out;
    for (const std::string& a : args) {
      std::string s = a;
      for (size_t at; (at = s.find("FILE")) != std::string::npos;) s.replace(at, 4, file_);
      out.push_back(s);
    }
    return out;
  }

  void Check(const std::string& program, const std::vector<ArgCase>& cases) {
    for (const ArgCase& c : cases) {
      std::vector<std::string> args = Expand(c.args);
      std::string trace = program;
      for (const std::string& a : args) trace += " '" + a + "'";
      SCOPED_TRACE(trace);
      RunResult r = env_.Run(program, args);
      EXPECT_EQ(r.exit_status, c.status);
      std::string err = c.err;
      for (size_t at; (at = err.find("FILE")) != std::string::npos;) err.replace(at, 4, file_);
      EXPECT_EQ(r.err, err);
      EXPECT_EQ(r.out, "");
      EXPECT_TRUE(ListDir(env_.tmp()).empty());
    }
  }

  CommandEnv env_;
  std::string file_;
};

TEST_F(SubmitArgs, SubmitRefusesBadArguments) {
  Check(SubmitPath(), {
      {{"-d"}, 1, "submit: Expected destination after -d option!\n"},
      {{"-f"}, 1, "submit: Expected form after -f option!\n"},
      {{"-h"}, 1, "submit: Expected hostname after -h option!\n"},
      {{"-i"}, 1, "submit: Expected job ID after -i option!\n"},
      {{"-n"}, 1, "submit: Expected copies after -n option!\n"},
      {{"-o"}, 1, "submit: Expected option string after -o option!\n"},
      {{"-p"}, 1, "submit: Expected priority after -p option!\n"},
      {{"-q"}, 1, "submit: Expected priority after -q option!\n"},
      {{"-t"}, 1, "submit: Expected title after -t option!\n"},
      {{"-y"}, 1, "submit: Expected mode list after -y option!\n"},
      {{"-H"}, 1, "submit: Expected hold name after -H option!\n"},
      {{"-P"}, 1, "submit: Expected page list after -P option!\n"},
      {{"-S"}, 1, "submit: Expected character set after -S option!\n"},
      {{"-T"}, 1, "submit: Expected content type after -T option!\n"},
      // warnings go on until the error
      {{"-fA4", "-d"}, 1, "submit: Warning - form option ignored!\nsubmit: Expected destination after -d option!\n"},
      {{"-x"}, 1, "submit: Unknown option 'x'!\n"},
      {{"--"}, 1, "submit: Unknown option '-'!\n"},
      {{"-p", "0", "FILE"}, 1, "submit: Priority must be between 1 and 100.\n"},
      {{"-q101", "FILE"}, 1, "submit: Priority must be between 1 and 100.\n"},
      {{"-q", "high", "FILE"}, 1, "submit: Priority must be between 1 and 100.\n"},
      {{"-p", "99999999999999999999", "FILE"}, 1, "submit: Priority must be between 1 and 100.\n"},
      {{"FILE", "-i", "3"}, 1, "submit: Error - cannot print files and alter jobs simultaneously!\n"},
      {{"-H", "restart"}, 1, "submit: Need job ID (-i) before \"-H restart\"!\n"},
      {{"FILE", "-", "FILE"}, 1, "submit: Error - cannot print from stdin if files or a job ID are provided!\n"},
      {{"-i", "3", "-"}, 1, "submit: Error - cannot print from stdin if files or a job ID are provided!\n"},
      {{"/nonexistent/report.ps"}, 1,
       "submit: Unable to access \"/nonexistent/report.ps\" - No such file or directory\n"},
      {{"FILE/x"}, 1, "submit: Unable to access \"FILE/x\" - Not a directory\n"},
      // an id that names no job never falls back to printing standard input
      {{"-i", "laser-x"}, 1, "submit: Error - bad job ID!\n"},
      {{"-i", "0"}, 1, "submit: Error - bad job ID!\n"},
      {{"-i", "laser-0", "-H", "restart"}, 1, "submit: Error - bad job ID!\n"},
  });
}

TEST_F(SubmitArgs, SubmitWithoutScheduler) {
  Check(SubmitPath(), {
      {{"FILE"}, 1, "submit: error - scheduler not responding!\n"},
      {{"-c", "-m", "-w", "-s", "-E", "FILE"}, 1, "submit: error - scheduler not responding!\n"},
      {{"-f", "A4", "-yraw", "-S", "latin1", "-T", "text/plain", "FILE"}, 1,
       "submit: Warning - form option ignored!\n"
       "submit: Warning - mode option ignored!\n"
       "submit: Warning - character set option ignored!\n"
       "submit: Warning - content type option ignored!\n"
       "submit: error - scheduler not responding!\n"},
      {{"-d", "laser", "FILE"}, 1, "submit: unable to print file: server-error-internal-error\n"},
      {{"-i", "42"}, 1, "submit: set-job-attributes failed: server-error-internal-error\n"},
      {{"-i", "laser-42", "-H", "restart"}, 1, "submit: restart-job failed: server-error-internal-error\n"},
      {{"-i", "42", "FILE"}, 1,
       "submit: Too many files - \"FILE\"\nsubmit: set-job-attributes failed: server-error-internal-error\n"},
  });
}

TEST_F(SubmitArgs, EnqueueRefusesBadArguments) {
  Check(EnqueuePath(), {
      {{"-P"}, 1, "enqueue: Expected destination after -P option!\n"},
      {{"-#"}, 1, "enqueue: Expected copy count after -# option!\n"},
      {{"-C"}, 1, "enqueue: Expected name after -C option!\n"},
      {{"-J"}, 1, "enqueue: Expected name after -J option!\n"},
      {{"-T"}, 1, "enqueue: Expected name after -T option!\n"},
      {{"-U"}, 1, "enqueue: Expected username after -U option!\n"},
      {{"-o"}, 1, "enqueue: Expected option=value after -o option!\n"},
      {{"-1"}, 1, "enqueue: Expected value after -1 option!\n"},
      {{"-2"}, 1, "enqueue: Expected value after -2 option!\n"},
      {{"-3"}, 1, "enqueue: Expected value after -3 option!\n"},
      {{"-4"}, 1, "enqueue: Expected value after -4 option!\n"},
      {{"-i"}, 1, "enqueue: Expected value after -i option!\n"},
      {{"-w"}, 1, "enqueue: Expected value after -w option!\n"},
      {{"-x"}, 1, "enqueue: Unknown option 'x'!\n"},
      {{"-"}, 1, "enqueue: Unknown option ''!\n"},
      {{"FILE", "-"}, 1, "enqueue: Unknown option ''!\n"},
      {{"/nonexistent/report.ps"}, 1,
       "enqueue: Unable to access \"/nonexistent/report.ps\" - No such file or directory\n"},
  });
}

TEST_F(SubmitArgs, EnqueueWithoutScheduler) {
  const char* unsupported =
      "Warning: 'c' format modifier not supported - output may not be correct!\n"
      "Warning: 'd' format modifier not supported - output may not be correct!\n"
      "Warning: 'f' format modifier not supported - output may not be correct!\n"
      "Warning: 'g' format modifier not supported - output may not be correct!\n"
      "Warning: 'n' format modifier not supported - output may not be correct!\n"
      "Warning: 't' format modifier not supported - output may not be correct!\n"
      "Warning: 'v' format modifier not supported - output may not be correct!\n"
      "enqueue: error - scheduler not responding!\n";
  Check(EnqueuePath(), {
      {{"FILE"}, 1, "enqueue: error - scheduler not responding!\n"},
      {{"-c", "-d", "-f", "-g", "-n", "-t", "-v", "FILE"}, 1, unsupported},
      {{"-1", "x", "-2y", "-3", "z", "-4", "w", "-i", "4", "-w80", "FILE"}, 1,
       "Warning: '1' format modifier not supported - output may not be correct!\n"
       "Warning: '2' format modifier not supported - output may not be correct!\n"
       "Warning: '3' format modifier not supported - output may not be correct!\n"
       "Warning: '4' format modifier not supported - output may not be correct!\n"
       "Warning: 'i' format modifier not supported - output may not be correct!\n"
       "Warning: 'w' format modifier not supported - output may not be correct!\n"
       "enqueue: error - scheduler not responding!\n"},
      {{"-m", "FILE"}, 1, "Warning: email notification is not supported!\nenqueue: error - scheduler not responding!\n"},
      {{"-E", "-s", "-h", "-l", "-p", "-q", "-U", "ann", "FILE"}, 1, "enqueue: error - scheduler not responding!\n"},
      {{"-P", "laser", "FILE"}, 1, "enqueue: unable to print file: server-error-internal-error\n"},
  });
}

// -r removes the files only once the scheduler holds the job: a failed
// submission leaves the user's files alone.
TEST_F(SubmitArgs, EnqueueKeepsFilesWhenSubmissionFails) {
  std::string other = env_.MakeFile("other.txt", "more\n");
  RunResult r = env_.Enqueue({"-r", "-P", "laser", file_, other});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "enqueue: unable to print file: server-error-internal-error\n");
  EXPECT_TRUE(FileExists(file_));
  EXPECT_TRUE(FileExists(other));
}

TEST_F(SubmitArgs, TooManyFilesSkipsTheRest) {
  for (const char* program : {SubmitPath(), EnqueuePath()}) {
    SCOPED_TRACE(program);
    std::vector<std::string> args(1001, file_);
    args.back() = env_.MakeFile("extra.txt", "x");
    RunResult r = env_.Run(program, args);
    const std::string prog = std::string(program).substr(std::string(program).rfind('/') + 1);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, prog + ": Too many files - \"" + args.back() + "\"\n" + prog +
                         ": error - scheduler not responding!\n");
  }
}

// Standard input: empty input sends nothing; unreadable input is an error
// rather than a job cut short. Neither leaves a temporary file.
TEST_F(SubmitArgs, StandardInputThatCannotBePrinted) {
  const struct {
    std::string program;
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {SubmitPath(), {"-d", "laser"}, "submit: stdin is empty, so no job has been sent.\n"},
      {SubmitPath(), {"-d", "laser", "-"}, "submit: stdin is empty, so no job has been sent.\n"},
      {SubmitPath(), {"-t", "T", "-d", "laser", "-", "/nonexistent"}, "submit: stdin is empty, so no job has been sent.\n"},
      {EnqueuePath(), {"-P", "laser"}, "enqueue: stdin is empty, so no job has been sent.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args.back());
    RunResult r = env_.Run(c.program, c.args, "");
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(ListDir(env_.tmp()).empty());
  }

  // A directory as standard input: read() fails.
  for (const std::string program : {SubmitPath(), EnqueuePath()}) {
    SCOPED_TRACE(program);
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" < /"};
    for (const std::string& a : env_.Argv(program, {"-d", "laser"})) argv.push_back(a);
    if (program == EnqueuePath()) argv.back() = "laser", argv[argv.size() - 2] = "-P";
    RunResult r = RunProgram(argv, 60s);
    const std::string prog = program.substr(program.rfind('/') + 1);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, prog + ": unable to read stdin - Is a directory\n");
    EXPECT_TRUE(ListDir(env_.tmp()).empty());
  }
}

// A command reading standard input from a pipe the test holds open, its
// standard error in a file.
class Reader {
 public:
  Reader(const std::vector<std::string>& argv, const std::string& err_path, bool ignore_interrupt) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    vorn::unique_fd read_end(fds[0]);
    input_.reset(fds[1]);
    // The command may end on its signal before the test's last write: that
    // write fails with EPIPE instead of killing the test.
    ::signal(SIGPIPE, SIG_IGN);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::signal(SIGPIPE, SIG_DFL);
      if (ignore_interrupt) ::signal(SIGINT, SIG_IGN);
      int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(read_end.get(), 0);
      ::dup2(err, 2);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
  }
  ~Reader() {
    if (pid_ > 0 && !done_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  bool started() const { return pid_ > 0 && input_; }
  pid_t pid() const { return pid_; }
  bool Write(const std::string& data) { return vorn::write_all(input_.get(), data.data(), data.size()) == 0; }
  void CloseInput() { input_.reset(); }

  // The wait status, or -1 when the command has not ended within 20 seconds.
  int Wait() {
    int status = -1;
    done_ = WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, kWait);
    return done_ ? status : -1;
  }

 private:
  pid_t pid_ = -1;
  vorn::unique_fd input_;
  bool done_ = false;
};

// A signal while standard input is being copied removes the temporary file
// and ends the command with the signal number; an interrupt ignored from the
// start stays ignored.
TEST_F(SubmitArgs, SignalsWhileCopyingStandardInput) {
  const struct {
    const char* program;
    const char* dest_flag;
    int sig;
    bool ignored;
  } cases[] = {
      {SubmitPath(), "-d", SIGTERM, false}, {SubmitPath(), "-d", SIGHUP, false},
      {SubmitPath(), "-d", SIGINT, false},  {EnqueuePath(), "-P", SIGTERM, false},
      {SubmitPath(), "-d", SIGINT, true},   {EnqueuePath(), "-P", SIGINT, true},
  };
  const std::string err_path = env_.file("stderr");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.program) + " signal " + std::to_string(c.sig) + (c.ignored ? " ignored" : ""));
    Reader reader(env_.Argv(c.program, {c.dest_flag, "laser"}), err_path, c.ignored);
    ASSERT_TRUE(reader.started());
    ASSERT_TRUE(reader.Write("some text\n"));
    ASSERT_TRUE(WaitUntil([&] { return !ListDir(env_.tmp()).empty(); }, kWait));
    ASSERT_EQ(::kill(reader.pid(), c.sig), 0);
    // The signal is pending before the command can see the end of its input.
    reader.Write("more text\n");
    reader.CloseInput();
    int status = reader.Wait();
    ASSERT_NE(status, -1);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by " << WTERMSIG(status);
    const std::string prog = std::string(c.program).substr(std::string(c.program).rfind('/') + 1);
    if (c.ignored) {
      EXPECT_EQ(WEXITSTATUS(status), 1);
      EXPECT_EQ(ReadFile(err_path), prog + ": unable to print file: server-error-internal-error\n");
    } else {
      EXPECT_EQ(WEXITSTATUS(status), c.sig);
      EXPECT_EQ(ReadFile(err_path), "");
    }
    EXPECT_TRUE(ListDir(env_.tmp()).empty());
  }
}

}  // namespace
