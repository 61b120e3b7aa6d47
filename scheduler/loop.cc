#include "scheduler/loop.h"

#include <cerrno>
#include <poll.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include <sys/select.h>
#include <ctime>
#include <syslog.h>

#include "scheduler/auth/certs.h"
#include "scheduler/browse/browse.h"
#include "scheduler/http/cgi.h"
#include "scheduler/http/client.h"
#include "scheduler/conf/conf.h"
#include "scheduler/fdset.h"
#include "scheduler/jobs/job.h"
#include "scheduler/run/run.h"
#include "scheduler/http/listeners.h"
#include "scheduler/log.h"
#include "scheduler/server.h"
#include "scheduler/signals.h"
#include "scheduler/sync-queue.h"
#include "vorn/paths.h"

std::string ConfigPath = VORN_DEFAULT_SERVERROOT "/vornd.conf";
int ReloadPending = 0;
time_t JobCheckTime = 0;
std::string TZ;

namespace {

fd_bits WorkInput, WorkOutput;

void dump_set(const char* name, const fd_bits& set) {
  std::string line = name;
  for (int fd = 0; fd < set.limit(); fd++)
    if (set.isset(fd)) line += " " + std::to_string(fd);
  LogDiagnostic(L_EMERG, "%s", line.c_str());
}

// What the scheduler was watching when select() failed, for diagnosis.
void dump_state() {
  dump_set("InputSet =", InputSet);
  dump_set("OutputSet =", OutputSet);
  for (size_t i = 0; i < Clients.size(); i++)
    LogDiagnostic(L_EMERG, "Clients[%d] = %d, file = %d, state = %d", int(i), Clients[i]->http.fd,
                  Clients[i]->file ? Clients[i]->file.get() : 0, int(Clients[i]->http.state));
  for (size_t i = 0; i < Listeners.size(); i++)
    LogDiagnostic(L_EMERG, "Listeners[%d] = %d", int(i), Listeners[i].fd.get());
  LogDiagnostic(L_EMERG, "BrowseSocket = %d", BrowseSocket);
  for (const job_t* j = Jobs; j; j = j->next) LogDiagnostic(L_EMERG, "Jobs[%d] = %d", j->id, j->pipe.get());
}

// The end after a failed select() or reload.
int shut_down_on_failure() {
  CloseAllClients();
  StopListening();
  return 1;
}

int stop_on_signal(const char* name) {
  LogDiagnostic(L_ERROR, "Scheduler shutting down due to %s.", name);
  StopServer();
  // Printing jobs go back to pending, to be printed at the next start.
  StopActiveJobs();
  return 0;
}

// Whether a client between requests has already sent (part of) the next
// one: such a client is served before the reload, not dropped with it.
bool has_pending_input(const client_t* con) {
  if (ClientHasBufferedInput(con)) return true;
  pollfd p{con->http.fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

// Takes in the connections already waiting in the listeners' backlogs: the
// reload closes the listeners, which would reset them with their requests.
void accept_backlog() {
  for (listener_t& lis : Listeners) {
    for (int i = 0; lis.fd && i < MaxClients; i++) {
      pollfd p{lis.fd.get(), POLLIN, 0};
      if (::poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) break;
      size_t before = Clients.size();
      AcceptClient(&lis);
      if (Clients.size() == before) break;  // refused, or the table is full
    }
  }
}

// How long a reload waits for the clients busy with a request. A client
// that trickles its request must not hold the reload (and, with listening
// paused, the whole service) off for good.
constexpr int kReloadWaitSeconds = 5;
time_t ReloadWaitStart = 0;  // when the wait for busy clients began, 0 while none

// Drains the clients for a pending reload and reloads once none is left, or
// once the wait is over. A file that does not read, or listeners that cannot
// open, leave the configuration in force (ReadConfiguration logs why).
void handle_reload() {
  time_t now = ::time(nullptr);
  if (!ReloadWaitStart) {
    ReloadWaitStart = now;
    if (!Clients.empty())
      LogDiagnostic(L_INFO, "Reload waits at most %d seconds for %d client(s).", kReloadWaitSeconds,
                    int(Clients.size()));
  }
  if (!Clients.empty() && now - ReloadWaitStart >= kReloadWaitSeconds) {
    LogDiagnostic(L_WARN, "Closing %d client(s) still busy after %d seconds for the reload.", int(Clients.size()),
                  kReloadWaitSeconds);
    CloseAllClients();
  }
  if (!ListeningPaused()) accept_backlog();
  if (!Clients.empty()) {
    for (size_t i = 0; i < Clients.size();) {
      client_t* con = Clients[i].get();
      if (ClientIsIdle(con) && !has_pending_input(con)) {
        CloseClient(con);
        continue;
      }
      // Close after the response in progress.
      con->http.keep_alive = HTTP_KEEPALIVE_OFF;
      i++;
    }
    PauseListening();
  }
  if (!Clients.empty()) return;
  ReloadWaitStart = 0;
  ReadConfiguration();
}

// Jobs whose status pipe is readable. UpdateJob may free any job (the one it
// serves, or others through the queue) and start others, so the ready ones
// are collected first and each is looked up again by id.
void service_jobs() {
  std::vector<status_pipe_t> ready;
  std::erase_if(StatusPipes, [](const status_pipe_t& p) { return !InputSet.isset(p.fd); });
  for (const status_pipe_t& p : StatusPipes)
    if (WorkInput.isset(p.fd)) ready.push_back(p);
  for (const status_pipe_t& p : ready) {
    job_t* job = LookupJob(p.id);
    if (!job || !job->pipe || job->pipe.get() != p.fd || !WorkInput.isset(p.fd)) continue;
    WorkInput.clear(p.fd);
    UpdateJob(job);
  }
}

void service_clients(time_t now) {
  for (size_t i = 0; i < Clients.size();) {
    client_t* con = Clients[i].get();
    int fd = con->http.fd;
    // A reply waiting for the disk is neither sent nor followed by the
    // next request, and the client does not time out meanwhile.
    const bool was_held = con->sync_hold != 0;
    if (ClientHeld(con)) {
      i++;
      continue;
    }
    uint64_t queued = SyncsQueued();
    bool read = false;
    if (WorkInput.isset(fd) || ClientHasBufferedInput(con)) {
      if (!ReadClient(con)) continue;  // closed: the next one moved here
      read = true;
    } else if (WorkOutput.isset(fd) || (con->cgi_output && con->file && WorkInput.isset(con->file.get()))) {
      // The socket takes more, or the CGI program has more to relay.
      if (!WriteClient(con)) continue;
    }
    if (SyncsQueued() != queued) {
      // What the request changed is being written: its reply waits.
      con->sync_from = queued;
      con->sync_hold = SyncsQueued();
    } else if ((read || was_held) && !con->output.empty() && OutputSet.isset(fd)) {
      // A reply made (or released) just now goes out at once: the socket of
      // a client that has sent its request nearly always takes it, and
      // waiting for select() to say so costs a pass of the loop.
      if (!WriteClient(con)) continue;
    }
    if (ClientDrainExpired(con, now)) {
      LogDiagnostic(L_DEBUG, "Closing client %d: it did not close its end after the answer.", fd);
      CloseClient(con);
      continue;
    }
    // A CGI program may think for long before it answers: its client is not
    // closed for inactivity while the program runs and nothing waits to be
    // sent. Once the program has ended, or while its output waits for a
    // client that does not read, the usual Timeout applies.
    const bool cgi_thinking = con->cgi_pid != 0 && con->output.empty();
    if (!cgi_thinking && now - con->http.activity > Timeout) {
      LogDiagnostic(L_DEBUG, "Closing client %d after %d seconds of inactivity...", fd, Timeout);
      CloseClient(con);
      continue;
    }
    i++;
  }
}

}  // namespace

void ReportConfigurationFailure() {
  ::syslog(LOG_LPR | LOG_EMERG, "Unable to read configuration file '%s' - exiting!", ConfigPath.c_str());
  std::fprintf(stderr, "vornd: Unable to read configuration file '%s' - exiting!\n", ConfigPath.c_str());
}

int RunMainLoop() {
  WorkInput.resize(DescriptorLimit);
  WorkOutput.resize(DescriptorLimit);
  if (SyncQueueFd() >= 0) InputSet.set(SyncQueueFd());

  for (;;) {
    if (TakeChildExit()) ReapChildren();
    FinishExitedJobs();
    if (TakeTerminate()) return stop_on_signal("SIGTERM");
    if (TakeHangup()) {
      // A scheduler that gave up root cannot re-read root's files.
      if (RunAsUser) return stop_on_signal("SIGHUP");
      ReloadPending = 1;
    }
    if (ReloadPending) handle_reload();

    WorkInput.copy_from(InputSet);
    WorkOutput.copy_from(OutputSet);

    // Input already buffered is served at once; otherwise one-second passes
    // give every timer below its resolution. Clients whose reply waits for
    // the sync thread are not watched: its descriptor wakes the loop.
    timeval timeout{1, 0};
    int held = 0;
    for (const auto& con : Clients) {
      if (con->sync_hold) {
        WorkInput.clear(con->http.fd);
        WorkOutput.clear(con->http.fd);
        held++;
      } else if (ClientHasBufferedInput(con.get())) {
        timeout.tv_sec = 0;
      }
    }
    if (SetSyncWaiters(held)) {
      CollectSyncs();  // done before anyone waited: the held replies go at once
      timeout.tv_sec = 0;
    }

    if (::select(DescriptorLimit, WorkInput.get(), WorkOutput.get(), nullptr, &timeout) < 0) {
      if (errno == EINTR) continue;
      LogDiagnostic(L_EMERG, "select() failed - %s!", std::strerror(errno));
      dump_state();
      return shut_down_on_failure();
    }
    time_t now = ::time(nullptr);

    for (listener_t& lis : Listeners)
      if (lis.fd && WorkInput.isset(lis.fd.get())) AcceptClient(&lis);

    if (SyncQueueFd() >= 0 && WorkInput.isset(SyncQueueFd())) CollectSyncs();

    service_clients(now);

    if (CGIPipeRead && WorkInput.isset(CGIPipeRead.get())) UpdateCGI();

    service_jobs();

    RenewRootCert(now);

    // Timed holds are released and idle printers given work every 10 seconds.
    if (now - JobCheckTime >= 10) {
      RunPendingJobs();
      JobCheckTime = now;
    }
  }
}
