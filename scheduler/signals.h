// Signals of the running scheduler. The handlers only record what arrived;
// the main loop acts on it between two select() calls, where every call is
// safe: SIGHUP asks for a reload, SIGTERM for a stop, SIGCHLD for reaping.
#pragma once

// Installs the handlers for SIGHUP, SIGTERM and SIGCHLD and ignores SIGPIPE.
void InstallSignalHandlers();

// Each returns whether its signal arrived since the last call, and clears it.
bool TakeHangup();
bool TakeTerminate();
bool TakeChildExit();

// Reaps every finished child without waiting and reports each: "PID %d
// crashed on signal %d!" / "PID %d stopped with status %d!" (error, with a
// hint at info when LogLevel is below debug) or "PID %d exited with no
// errors." (debug2). An end by SIGTERM, which the scheduler sends itself to
// stop a job, counts as success. Returns the number of children reaped.
int ReapChildren();
