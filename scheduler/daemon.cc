#include "scheduler/daemon.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "scheduler/conf/conf.h"
#include "scheduler/log.h"

namespace {

pid_t WaitingParent = 0;  // in the child: the parent waiting for SIGUSR1
bool Detached = false;

// In the waiting parent.
volatile pid_t DaemonChild = 0;
volatile sig_atomic_t ParentSignal = 0;

void parent_handler(int sig, siginfo_t* info, void*) {
  if (info && info->si_pid == DaemonChild) ParentSignal = sig;
}

void null_descriptor(int target) {
  int fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    ::close(target);
    return;
  }
  if (fd != target) {
    ::dup2(fd, target);  // dup2 clears close-on-exec on the target
    ::close(fd);
  } else {
    ::fcntl(fd, F_SETFD, 0);
  }
}

[[noreturn]] void wait_for_child(pid_t child, const sigset_t& old_mask) {
  sigset_t wait_mask = old_mask;
  sigdelset(&wait_mask, SIGUSR1);
  sigdelset(&wait_mask, SIGCHLD);
  while (!ParentSignal) ::sigsuspend(&wait_mask);
  if (ParentSignal == SIGUSR1) std::exit(0);

  int status;
  pid_t pid;
  do pid = ::waitpid(child, &status, 0); while (pid < 0 && errno == EINTR);
  if (pid < 0) {
    std::perror("vornd");
    std::exit(1);
  }
  if (WIFEXITED(status))
    std::fprintf(stderr, "vornd: Child exited with status %d!\n", WEXITSTATUS(status));
  else
    std::fprintf(stderr, "vornd: Child exited on signal %d!\n", WTERMSIG(status));
  // The raw wait status would be cut to its low byte by exit() and could
  // read as success; a failed start is always 1.
  std::exit(1);
}

}  // namespace

void StartDaemon() {
  sigset_t block, old_mask;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR1);
  sigaddset(&block, SIGCHLD);
  // Held until the parent waits, so the child's signal cannot come too early.
  ::sigprocmask(SIG_BLOCK, &block, &old_mask);

  struct sigaction action {}, old_usr1{}, old_chld{};
  sigemptyset(&action.sa_mask);
  action.sa_sigaction = parent_handler;
  action.sa_flags = SA_SIGINFO | SA_NOCLDSTOP;
  ::sigaction(SIGUSR1, &action, &old_usr1);
  ::sigaction(SIGCHLD, &action, &old_chld);
  ::signal(SIGHUP, SIG_IGN);

  pid_t parent = ::getpid();
  pid_t child = ::fork();
  if (child != 0) {
    if (child > 0) {
      DaemonChild = child;
      wait_for_child(child, old_mask);
    }
    // fork() failed: this process becomes the daemon.
  } else {
    WaitingParent = parent;
  }
  ::sigaction(SIGUSR1, &old_usr1, nullptr);
  ::sigaction(SIGCHLD, &old_chld, nullptr);
  ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
}

void DetachDaemon() {
  if (::chdir("/") != 0) {
    // "/" always exists; nothing to do if it cannot be entered
  }
  rlimit core{0, 0};
  ::setrlimit(RLIMIT_CORE, &core);
  // Descriptors 0 and 1 point at /dev/null rather than staying closed, so no
  // file opened later can become standard output by accident.
  null_descriptor(0);
  null_descriptor(1);
  ::setsid();
  Detached = true;
}

void DaemonReady() {
  if (WaitingParent > 0) ::kill(WaitingParent, SIGUSR1);
  WaitingParent = 0;
  if (Detached) null_descriptor(2);
}

bool DropPrivileges() {
  if (::setgid(Group) != 0 || ::setgroups(0, nullptr) != 0 || ::setuid(User) != 0) {
    LogDiagnostic(L_EMERG, "Unable to run as user %d, group %d - %s; exiting!", int(User), int(Group),
                  std::strerror(errno));
    return false;
  }
  return true;
}
