// Child processes: start_process's descriptor wiring and child set-up, the
// copy process, and the reaper's bookkeeping in the job's process list.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/fixtures/jobrun/jobrun_fixture.h"
#include "vorn/fd.h"

namespace {

struct Pipe {
  vorn::unique_fd rd, wr;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe";
    rd.reset(fds[0]);
    wr.reset(fds[1]);
  }
};

std::string ReadAll(int fd) {
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = vorn::read_retry(fd, buf, sizeof(buf))) > 0) out.append(buf, size_t(n));
  return out;
}

int WaitFor(pid_t pid) {
  int status = -1;
  ::waitpid(pid, &status, 0);
  return status;
}

// Runs /bin/sh -c `script` with `input` on standard input; returns its exit
// status with standard output and error.
struct ShellRun {
  int status;
  std::string out, err;
};
ShellRun Shell(const std::string& script, const std::string& input = "", std::vector<std::string> env = {}) {
  Pipe in, out, err;
  std::vector<std::string> args = {"sh", "-c", script, "zero", "one"};
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  pid_t r = start_process("/bin/sh", argv.data(), envp.data(), in.rd.get(), out.wr.get(), err.wr.get(), 0, &pid);
  EXPECT_EQ(r, pid);
  EXPECT_GT(pid, 0);
  in.rd.reset();
  out.wr.reset();
  err.wr.reset();
  vorn::write_all(in.wr.get(), input.data(), input.size());
  in.wr.reset();
  ShellRun result;
  result.out = ReadAll(out.rd.get());
  result.err = ReadAll(err.rd.get());
  result.status = WaitFor(pid);
  return result;
}

class ProcessTest : public RunnerTest {};

TEST_F(ProcessTest, ChildGetsItsDescriptorsArgumentsAndEnvironmentOnly) {
  // A descriptor the scheduler holds without close-on-exec must not leak.
  int leaked = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(leaked, 0);
  ASSERT_EQ(::dup2(leaked, 60), 60);
  ::close(leaked);

  ShellRun r = Shell(
      "read line; echo \"in:$line args:$0,$1 env:$FOO\"; echo oops >&2;"
      " if [ -e /proc/self/fd/60 ]; then echo leaked; fi; umask",
      "hello\n", {"FOO=bar"});
  ::close(60);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "in:hello args:zero,one env:bar\n0077\n");
  EXPECT_EQ(r.err, "oops\n");
}

TEST_F(ProcessTest, ChildHasDefaultSignalsAndNoneBlocked) {
  // The scheduler ignores SIGPIPE and holds signals around starts; none of
  // that may reach a filter.
  ShellRun r = Shell("grep -E '^Sig(Blk|Ign)' /proc/self/status");
  unsigned long long blocked = ~0ULL, ignored = ~0ULL;
  ASSERT_EQ(std::sscanf(r.out.c_str(), "SigBlk:\t%llx\nSigIgn:\t%llx", &blocked, &ignored), 2) << r.out;
  EXPECT_EQ(blocked, 0u) << r.out;
  // Signals 32 and 33 belong to the C library, which lets nobody change
  // them; an ignored one inherited from the test's own parent stays so.
  EXPECT_EQ(ignored & ~0x180000000ULL, 0u) << r.out;

  // The list of signals to reset is kept between starts: one ignored later
  // is reset too once the scheduler says its signals changed.
  struct sigaction ignore {}, old {};
  sigemptyset(&ignore.sa_mask);
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGUSR2, &ignore, &old), 0);
  ChildSignalsChanged();
  r = Shell("grep -E '^SigIgn' /proc/self/status");
  ::sigaction(SIGUSR2, &old, nullptr);
  ChildSignalsChanged();
  ASSERT_EQ(std::sscanf(r.out.c_str(), "SigIgn:\t%llx", &ignored), 1) << r.out;
  EXPECT_EQ(ignored & (1ULL << (SIGUSR2 - 1)), 0u) << r.out;
}

TEST_F(ProcessTest, AMissingProgramEndsWithENOENTAndAMessage) {
  Pipe err;
  vorn::unique_fd null(::open("/dev/null", O_RDWR | O_CLOEXEC));
  char prog[] = "/nonexistent/filter";
  char* argv[] = {prog, nullptr};
  char* envp[] = {nullptr};
  pid_t pid = 0;
  ASSERT_GT(start_process(prog, argv, envp, null.get(), null.get(), err.wr.get(), 0, &pid), 0);
  err.wr.reset();
  EXPECT_EQ(ReadAll(err.rd.get()), "/nonexistent/filter: No such file or directory\n");
  int status = WaitFor(pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), ENOENT);
}

TEST_F(ProcessTest, AnErrorDescriptorOf2KeepsTheSchedulersStandardError) {
  Pipe mine;
  vorn::unique_fd saved(::fcntl(2, F_DUPFD_CLOEXEC, 3));
  ASSERT_EQ(::dup2(mine.wr.get(), 2), 2);
  mine.wr.reset();
  vorn::unique_fd null(::open("/dev/null", O_RDWR | O_CLOEXEC));
  std::string script = "echo to-stderr >&2";
  char sh[] = "/bin/sh", c[] = "-c";
  char* argv[] = {sh, c, script.data(), nullptr};
  char* envp[] = {nullptr};
  pid_t pid = start_process(sh, argv, envp, null.get(), null.get(), 2, 0, nullptr);
  ::dup2(saved.get(), 2);  // our own standard error back; the child has the pipe
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitFor(pid), 0);
  EXPECT_EQ(ReadAll(mine.rd.get()), "to-stderr\n");
}

// Both copy programs: vorn-copy (beside the test programs as beside vornd)
// and, where it is missing, the scheduler's own program in its copy mode.
TEST_F(ProcessTest, TheCopyProcessCopiesEveryByte) {
  std::string data;
  for (int i = 0; i < 50000; i++) data += char(i * 7);
  Put(root_ + "/data", data);
  for (bool own_program : {false, true}) {
    SCOPED_TRACE(own_program ? "copy mode of the scheduler's program" : "vorn-copy");
    vorn::unique_fd in(::open((root_ + "/data").c_str(), O_RDONLY | O_CLOEXEC));
    vorn::unique_fd out(::open((root_ + "/copy").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    Pipe err;
    pid_t pid;
    if (own_program) {
      char* argv[] = {const_cast<char*>("vorn-copy-process"), nullptr};
      char* envp[] = {nullptr};
      pid = start_process("/proc/self/exe", argv, envp, in.get(), out.get(), err.wr.get(), 0, nullptr);
    } else {
      pid = start_copy_process(in.get(), out.get(), err.wr.get(), nullptr);
    }
    ASSERT_GT(pid, 0);
    err.wr.reset();
    EXPECT_EQ(ReadAll(err.rd.get()), "");
    EXPECT_EQ(WaitFor(pid), 0);
    EXPECT_EQ(Slurp(root_ + "/copy"), data);
  }
}

TEST_F(ProcessTest, TheReaperMarksExitsInTheJobsProcessList) {
  // How each of a filter and a backend ends, and the job status recorded.
  const struct {
    const char* what;
    const char* filter;   // shell script
    const char* backend;
    int status;           // expected: >0 filter's wait status, <0 backend's
  } cases[] = {
      {"both succeed", "exit 0", "exit 0", 0},
      {"the filter fails", "exit 3", "exit 0", 3 << 8},
      {"the backend fails", "exit 0", "exit 2", -(2 << 8)},
      // The scheduler's own SIGTERM clears the slots first (StopJob): one
      // that reaches a process still in its slot came from elsewhere.
      {"a SIGTERM from elsewhere fails the filter", "kill -TERM $$", "exit 0", SIGTERM},
      {"and the backend", "exit 0", "kill -TERM $$", -SIGTERM},
      {"a crash is", "exit 0", "kill -KILL $$", -SIGKILL},
      {"a backend failure is kept over a later filter failure", "sleep 0.3; exit 4", "exit 1", -(1 << 8)},
  };
  printer_t* p = Printer("laser");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    job_t* job = Submit("laser");
    SetJobState(job, IPP_JOB_PROCESSING);
    job->printer = p;
    vorn::unique_fd null(::open("/dev/null", O_RDWR | O_CLOEXEC));
    int slot = 0;
    for (const char* script : {c.filter, c.backend}) {
      std::string s = script;
      char sh[] = "/bin/sh", dash_c[] = "-c";
      char* argv[] = {sh, dash_c, s.data(), nullptr};
      char* envp[] = {nullptr};
      pid_t pid = start_process(sh, argv, envp, null.get(), null.get(), null.get(), 0, nullptr);
      ASSERT_GT(pid, 0);
      job->procs[size_t(slot++)] = pid;
    }
    std::array<int, kMaxJobProcs> started = job->procs;
    int id = job->id;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((LookupJob(id)->procs[0] > 0 || LookupJob(id)->procs[1] > 0) && std::chrono::steady_clock::now() < deadline) {
      ReapChildren();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    job = LookupJob(id);
    EXPECT_EQ(job->procs[0], -started[0]);
    EXPECT_EQ(job->procs[1], -started[1]);
    EXPECT_EQ(job->procs[2], 0);
    EXPECT_EQ(job->status, c.status);
    job->procs.fill(0);
    SetJobState(job, IPP_JOB_PENDING);
    job->printer = nullptr;
  }
}

}  // namespace
