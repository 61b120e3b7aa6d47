// The scheduler's main loop and the process-wide state of start-up.
#pragma once

#include <ctime>
#include <string>

// Path of vornd.conf (absolute); default VORN_DEFAULT_SERVERROOT "/vornd.conf".
extern std::string ConfigPath;

// 0: nothing pending; 1: full reload requested (SIGHUP, or a configuration
// file other than vornd.conf replaced over HTTP); 2: reload of vornd.conf
// only. Reset to 0 by ReadConfiguration.
extern int ReloadPending;

// When RunPendingJobs last ran from the loop.
extern time_t JobCheckTime;

// "TZ=" and the TZ environment variable, or "" when it is not set; passed on
// to child processes.
extern std::string TZ;

// Reports a configuration that cannot be read at start-up ("Unable to read
// configuration file '%s' - exiting!") to the system log at emerg and on
// standard error (still the terminal while vornd starts in the foreground
// or its parent waits).
void ReportConfigurationFailure();

// Runs the select() loop until the scheduler stops. Returns the exit status:
// 0 after SIGTERM (or SIGHUP with RunAsUser), 1 after a failed select(). A
// failed reload keeps the configuration in force and the loop running.
int RunMainLoop();
