// Child processes of print jobs: fork, wire the standard descriptors, drop
// privileges and run the filter or backend.
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "scheduler/conf/conf.h"
#include "scheduler/fdset.h"
#include "scheduler/run/run.h"
#include "scheduler/log.h"
#include "scheduler/signals.h"

namespace {

// Only async-signal-safe calls from here on: the child of fork().
void write_error(const char* what, int err) {
  const char* text = std::strerror(err);
  (void)!::write(2, what, std::strlen(what));
  (void)!::write(2, ": ", 2);
  (void)!::write(2, text, std::strlen(text));
  (void)!::write(2, "\n", 1);
}

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

// The child's side; returns only when set-up failed, with errno set.
void setup_child(int infd, int outfd, int errfd, int root) {
  infd = lift(infd);
  outfd = lift(outfd);
  bool own_stderr = errfd > 2;
  if (::dup2(infd, 0) < 0 || ::dup2(outfd, 1) < 0) ::_exit(errno ? errno : 1);
  if (own_stderr && ::dup2(errfd, 2) < 0) ::_exit(errno ? errno : 1);
  close_others();

  if (!root) {
    errno = 0;
    if (::nice(FilterNice) == -1 && errno != 0) {
      // Only a priority: not worth failing the job for.
    }
  }
  if (::getuid() == 0) {
    // Supplementary groups go before the user id: afterwards they could no
    // longer be dropped.
    if (::setgroups(0, nullptr) != 0 && !root) ::_exit(errno);
    if (!root) {
      if (::setgid(Group) != 0) ::_exit(errno);
      if (::setuid(User) != 0) ::_exit(errno);
    }
  }
  ::umask(077);

  struct sigaction dfl {};
  sigemptyset(&dfl.sa_mask);
  dfl.sa_handler = SIG_DFL;
  ::sigaction(SIGTERM, &dfl, nullptr);
  ::sigaction(SIGCHLD, &dfl, nullptr);
  // Ignored signals survive execve(): an ignored SIGPIPE (the scheduler's)
  // would keep a filter whose reader died writing into the void, and those
  // the scheduler itself inherited ignored are no business of a filter.
  for (int sig = 1; sig < NSIG; sig++) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) ::sigaction(sig, &dfl, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

pid_t fork_child(const char* what, int infd, int outfd, int errfd, int root, pid_t* pid,
                 void (*run)(const void*), const void* arg) {
  BlockChildSignals();
  pid_t child = ::fork();
  if (child == 0) {
    setup_child(infd, outfd, errfd, root);
    run(arg);
    ::_exit(errno ? errno : 1);
  }
  if (child < 0) {
    LogDiagnostic(L_ERROR, "Unable to fork %s - %s.", what, std::strerror(errno));
    child = 0;
  }
  if (pid) *pid = child;
  UnblockChildSignals();
  return child;
}

struct exec_args {
  const char* path;
  char* const* argv;
  char* const* envp;
};

void run_exec(const void* arg) {
  const auto* a = static_cast<const exec_args*>(arg);
  ::execve(a->path, a->argv, a->envp);
  int err = errno;
  write_error(a->path, err);
  ::_exit(err);
}

void run_copy(const void*) {
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(0, buf, sizeof(buf));
    if (n == 0) ::_exit(0);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      write_error("ERROR: Unable to read print data", err);
      ::_exit(err);
    }
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(1, buf + done, size_t(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        int err = errno;
        write_error("ERROR: Unable to write print data", err);
        ::_exit(err);
      }
      done += w;
    }
  }
}

}  // namespace

pid_t start_process(const char* path, char* const argv[], char* const envp[], int infd, int outfd,
                    int errfd, int root, pid_t* pid) {
  LogDiagnostic(L_DEBUG, "start_process(\"%s\", %p, %p, %d, %d, %d)", path, static_cast<const void*>(argv),
                static_cast<const void*>(envp), infd, outfd, errfd);
  exec_args args{path, argv, envp};
  return fork_child(path, infd, outfd, errfd, root, pid, run_exec, &args);
}

pid_t start_copy_process(int infd, int outfd, int errfd, pid_t* pid) {
  LogDiagnostic(L_DEBUG, "start_copy_process(%d, %d, %d)", infd, outfd, errfd);
  return fork_child("copy", infd, outfd, errfd, 0, pid, run_copy, nullptr);
}
