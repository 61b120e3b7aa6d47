#include "scheduler/server.h"

#include <fcntl.h>
#include <unistd.h>

#include "scheduler/http/client.h"
#include "scheduler/fdset.h"
#include "scheduler/http/listeners.h"
#include "scheduler/log.h"
#include "scheduler/http/tls.h"

vorn::unique_fd CGIPipeRead, CGIPipeWrite;

namespace {

bool any_ssl_listener() {
  for (const listener_t& lis : Listeners)
    if (lis.encryption == HTTP_ENCRYPT_ALWAYS) return true;
  return false;
}

}  // namespace

void StartServer() {
  // OpenSSL seeds its generator from the operating system; the context is
  // needed at once by SSL listeners and later by HTTP upgrades, so a missing
  // certificate is an error only when an SSL listener depends on it.
  LoadServerContext(any_ssl_listener() ? L_ERROR : L_DEBUG);

  StartListening();

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) == 0) {
    CGIPipeRead.reset(fds[0]);
    CGIPipeWrite.reset(fds[1]);
    // Only the scheduler's end: a program writing its errors may wait for
    // room, the scheduler never waits for lines.
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    LogDiagnostic(L_DEBUG2, "StartServer: Adding fd %d to InputSet...", CGIPipeRead.get());
    InputSet.set(CGIPipeRead.get());
  }
}

void StopServer() {
  CloseAllClients();
  StopListening();
  FreeClients();
  FreeServerContext();
  if (CGIPipeRead) {
    LogDiagnostic(L_DEBUG2, "StopServer: Removing fd %d from InputSet...", CGIPipeRead.get());
    InputSet.clear(CGIPipeRead.get());
    CGIPipeRead.reset();
    CGIPipeWrite.reset();
  }
  CloseLogs();
}
