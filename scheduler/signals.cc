#include "scheduler/signals.h"

#include <csignal>
#include <sys/wait.h>

#include "scheduler/auth/certs.h"
#include "scheduler/conf/conf.h"
#include "scheduler/http/cgi.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"
#include "scheduler/run/run.h"

namespace {

volatile sig_atomic_t Hangup = 0;
volatile sig_atomic_t Terminate = 0;
volatile sig_atomic_t ChildExit = 0;

void record_signal(int sig) {
  switch (sig) {
    case SIGHUP: Hangup = 1; break;
    case SIGTERM: Terminate = 1; break;
    case SIGCHLD: ChildExit = 1; break;
    default: break;
  }
}

bool take(volatile sig_atomic_t& flag) {
  if (!flag) return false;
  flag = 0;
  return true;
}

int ChildSignalHolds = 0;

sigset_t child_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGCHLD);
  return set;
}

// Marks `pid` finished in the first processing job that started it.
void record_job_exit(pid_t pid, bool failed, int status) {
  int slot = -1, last = -1;
  job_t* job = FindProcessingJob([&](const job_t* j) {
    slot = last = -1;
    for (int i = 0; i < kMaxJobProcs && j->procs[size_t(i)] != 0; i++) {
      last = i;
      if (j->procs[size_t(i)] == pid) slot = i;
    }
    return slot >= 0;
  });
  if (!job) return;
  job->procs[size_t(slot)] = -pid;
  if (failed && job->status >= 0) job->status = slot == last ? -status : status;
}

}  // namespace

void InstallSignalHandlers() {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = record_signal;
  // Restarted calls never hide a signal from the loop: select() is not
  // restarted and returns EINTR, and the flags are looked at every pass.
  action.sa_flags = SA_RESTART;
  sigaction(SIGHUP, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
  sigaction(SIGCHLD, &action, nullptr);

  struct sigaction ignore {};
  sigemptyset(&ignore.sa_mask);
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, nullptr);
  ChildSignalsChanged();

  sigset_t ours;
  sigemptyset(&ours);
  sigaddset(&ours, SIGHUP);
  sigaddset(&ours, SIGTERM);
  sigaddset(&ours, SIGCHLD);
  sigprocmask(SIG_UNBLOCK, &ours, nullptr);
}

bool TakeHangup() { return take(Hangup); }
bool TakeTerminate() { return take(Terminate); }
bool TakeChildExit() { return take(ChildExit); }

void BlockChildSignals() {
  if (ChildSignalHolds++ == 0) {
    sigset_t set = child_signals();
    sigprocmask(SIG_BLOCK, &set, nullptr);
  }
}

void UnblockChildSignals() {
  if (ChildSignalHolds > 0 && --ChildSignalHolds == 0) {
    sigset_t set = child_signals();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
  }
}

int ReapChildren() {
  int reaped = 0;
  int status;
  pid_t pid;
  while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
    reaped++;
    // Any signal is a failure. The processes the scheduler stops itself
    // (StopJob) have left their job's slots before the signal is sent, so
    // their end never reaches a job; a SIGTERM from anyone else means the
    // document was not printed.
    bool failed = status != 0;
    if (!failed) {
      LogDiagnostic(L_DEBUG2, "PID %d exited with no errors.", int(pid));
    } else {
      if (WIFSIGNALED(status))
        LogDiagnostic(L_ERROR, "PID %d crashed on signal %d!", int(pid), WTERMSIG(status));
      else
        LogDiagnostic(L_ERROR, "PID %d stopped with status %d!", int(pid), WEXITSTATUS(status));
      if (LogLevel < L_DEBUG)
        LogDiagnostic(L_INFO, "Hint: Try setting the LogLevel to \"debug\" to find out more.");
    }
    record_job_exit(pid, failed, status);
    CGIExited(pid);   // never signalled again: the number may be reused
    DeleteCert(pid);  // a CGI program's certificate ends with it
  }
  return reaped;
}
