// Child processes of print jobs and CGI programs: started with vfork() and
// execve(), so that a start costs the same whatever the scheduler's size
// (fork() would copy its page tables, and every page it then writes would
// fault and be copied while the child lives). The child wires the standard
// descriptors, drops privileges and runs the filter, backend or CGI
// program, or vorn-copy for the copy process.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <climits>
#include <cstring>
#include <string>

#include "scheduler/conf/conf.h"
#include "scheduler/fdset.h"
#include "scheduler/run/copy-loop.h"
#include "scheduler/run/run.h"
#include "scheduler/log.h"
#include "scheduler/signals.h"

namespace {

// argv[0] of the copy process: the scheduler's own program started so is a
// copy process (see copy_process_entry).
constexpr const char* kCopyProgram = "vorn-copy-process";

// Only async-signal-safe calls from here on, and nothing that writes the
// parent's memory: a vfork() child shares it until execve().
using vorn::copy::write_error;

// Moves `fd` above 2, so that wiring 0, 1 and 2 never overwrites a
// descriptor still to be wired.
int lift(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int moved = ::fcntl(fd, F_DUPFD, 3);
  return moved < 0 ? fd : moved;
}

void close_others() {
  if (::close_range(3, ~0U, 0) == 0) return;
  int limit = DescriptorLimit > 3 ? DescriptorLimit : int(::sysconf(_SC_OPEN_MAX));
  if (limit <= 3 || limit > 65536) limit = 65536;
  for (int fd = 3; fd < limit; fd++) ::close(fd);
}

// The identity calls go straight to the kernel: the C library's wrappers
// would try to change every thread of the process, and in a vfork() child
// those threads are the parent's.
int set_ids(bool root) {
  if (::syscall(SYS_setgroups, 0, nullptr) != 0 && !root) return -1;
  if (root) return 0;
  if (::syscall(SYS_setgid, Group) != 0) return -1;
  if (::syscall(SYS_setuid, User) != 0) return -1;
  return 0;
}

// The signals a child resets: those with a handler or ignored. Ignored
// signals survive execve(): an ignored SIGPIPE (the scheduler's) would keep
// a filter whose reader died writing into the void, and those the scheduler
// itself inherited ignored are no business of a filter. Asking for each of
// the 64 signals in every child cost ~60 us with the loop stopped by
// vfork(); the list is made once, and again when the handlers change.
std::array<int, NSIG> ResetSignals{};
int ResetCount = -1;  // -1: not made yet

void list_reset_signals() {
  ResetCount = 0;
  for (int sig = 1; sig < NSIG; sig++) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_DFL) ResetSignals[size_t(ResetCount++)] = sig;
  }
}

// The child's side, up to execve(). Every signal arrives blocked (the
// parent blocks them all around vfork()); a handler of the scheduler must
// never run here, so each signal with a handler or ignored gets its
// default action before the mask is cleared. Returns an errno value when
// set-up failed.
int setup_child(int infd, int outfd, int errfd, int root, bool lower_priority, int uid) {
  infd = lift(infd);
  outfd = lift(outfd);
  bool own_stderr = errfd > 2;
  if (::dup2(infd, 0) < 0 || ::dup2(outfd, 1) < 0) return errno ? errno : EBADF;
  if (own_stderr && ::dup2(errfd, 2) < 0) return errno ? errno : EBADF;
  close_others();

  if (lower_priority) {
    // Only a priority: not worth failing the job for.
    (void)::nice(FilterNice);
  }
  // Supplementary groups go before the user id: afterwards they could no
  // longer be dropped.
  if (uid == 0 && set_ids(root) != 0) return errno ? errno : EPERM;
  ::umask(077);

  struct sigaction dfl {};
  sigemptyset(&dfl.sa_mask);
  dfl.sa_handler = SIG_DFL;
  for (int i = 0; i < ResetCount; i++) ::sigaction(ResetSignals[size_t(i)], &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  return 0;
}

pid_t spawn(const char* what, const char* path, char* const argv[], char* const envp[], int infd, int outfd,
            int errfd, int root, bool lower_priority, pid_t* pid) {
  if (ResetCount < 0) list_reset_signals();
  BlockChildSignals();
  // Nothing may interrupt the child while it runs on the parent's memory.
  sigset_t all, old;
  sigfillset(&all);
  ::sigprocmask(SIG_SETMASK, &all, &old);
  const int uid = int(::getuid());
  const int saved_errno = errno;
  pid_t child = ::vfork();
  if (child == 0) {
    int err = setup_child(infd, outfd, errfd, root, lower_priority, uid);
    if (err == 0) {
      ::execve(path, argv, envp);
      err = errno;
      write_error(2, path, err);
    }
    ::_exit(err ? err : 1);
  }
  int err = child < 0 ? errno : 0;
  errno = saved_errno;
  ::sigprocmask(SIG_SETMASK, &old, nullptr);
  if (child < 0) {
    LogDiagnostic(L_ERROR, "Unable to fork %s - %s.", what, std::strerror(err));
    child = 0;
    errno = err;
  }
  if (pid) *pid = child;
  UnblockChildSignals();
  return child;
}

// The scheduler's own program started as kCopyProgram is a copy process:
// this runs before any other initialization and never returns. Used where
// vorn-copy is not beside the program (the test programs).
__attribute__((constructor(101))) void copy_process_entry(int argc, char** argv, char**) {
  if (argc == 1 && argv && argv[0] && std::strcmp(argv[0], kCopyProgram) == 0) vorn::copy::run();
}

}  // namespace

void ChildSignalsChanged() { ResetCount = -1; }

pid_t start_process(const char* path, char* const argv[], char* const envp[], int infd, int outfd,
                    int errfd, int root, pid_t* pid) {
  LogDiagnostic(L_DEBUG, "start_process(\"%s\", %p, %p, %d, %d, %d)", path, static_cast<const void*>(argv),
                static_cast<const void*>(envp), infd, outfd, errfd);
  return spawn(path, path, argv, envp, infd, outfd, errfd, root, !root, pid);
}

pid_t start_cgi_process(const char* path, char* const argv[], char* const envp[], int infd, int outfd,
                        int errfd, pid_t* pid) {
  LogDiagnostic(L_DEBUG, "start_cgi_process(\"%s\", %d, %d, %d)", path, infd, outfd, errfd);
  // A web page is waited for by someone: no FilterNice.
  const std::string what = std::string("for CGI ") + path;
  return spawn(what.c_str(), path, argv, envp, infd, outfd, errfd, 0, false, pid);
}

// The program of copy processes: vorn-copy beside the scheduler's own
// program, else that program in its copy mode. Looked up once.
static const std::string& copy_program() {
  static const std::string path = [] {
    char self[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n > 0) {
      std::string dir(self, size_t(n));
      dir.erase(dir.rfind('/') + 1);
      std::string helper = dir + "vorn-copy";
      if (::access(helper.c_str(), X_OK) == 0) return helper;
    }
    return std::string("/proc/self/exe");
  }();
  return path;
}

pid_t start_copy_process(int infd, int outfd, int errfd, pid_t* pid) {
  LogDiagnostic(L_DEBUG, "start_copy_process(%d, %d, %d)", infd, outfd, errfd);
  char* argv[] = {const_cast<char*>(kCopyProgram), nullptr};
  char* envp[] = {nullptr};
  return spawn("copy", copy_program().c_str(), argv, envp, infd, outfd, errfd, 0, true, pid);
}

std::vector<char*> ArgPointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  out.reserve(strings.size() + 1);
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}
