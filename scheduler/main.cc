// vornd: the scheduler daemon.
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <syslog.h>

#include "scheduler/auth/certs.h"
#include "scheduler/http/client.h"
#include "scheduler/cmdline.h"
#include "scheduler/conf/conf.h"
#include "scheduler/daemon.h"
#include "scheduler/fdset.h"
#include "scheduler/heap.h"
#include "scheduler/jobs/job.h"
#include "scheduler/loop.h"
#include "scheduler/signals.h"
#include "scheduler/sync-queue.h"

int main(int argc, char* argv[]) {
  vornd_options_t options;
  if (ParseCommandLine(argc, argv, options) != 0) return 1;
  if (!options.config_path.empty()) ConfigPath = options.config_path;

  if (!options.foreground && !options.no_fork) StartDaemon();
  if (!options.foreground) DetachDaemon();

  PrepareHeap();

  const char* tz = std::getenv("TZ");
  TZ = tz ? std::string("TZ=") + tz : std::string();
  ::tzset();
  std::setlocale(LC_TIME, "");

  if (!InitDescriptorSets()) {
    ::syslog(LOG_LPR | LOG_EMERG, "Unable to allocate memory for select() sets - exiting!");
    return 1;
  }
  // The handlers only record signals, so they can be in place before the
  // listeners open: a SIGTERM that comes as soon as the port accepts is
  // then a clean stop rather than the default, abrupt end.
  InstallSignalHandlers();
  if (!ReadConfiguration()) {
    ReportConfigurationFailure();
    return 1;
  }
  // Uploads cut short by the end of the previous run.
  RemoveStaleRequestFiles();

  InitCertificates();
  DaemonReady();
  if (RunAsUser && !DropPrivileges()) return 1;

  RunPendingJobs();
  JobCheckTime = time(nullptr);

  // After the last fork of the start and the change of user: a thread
  // would not survive the one and should not straddle the other.
  StartSyncThread();
  int status = RunMainLoop();
  StopSyncThread();
  DeleteAllCerts();
  return status;
}
