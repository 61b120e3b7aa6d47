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

// Hold SIGTERM and SIGCHLD around a process start (and anything else that
// must not be cut by them). Nested: the first hold blocks, the matching last
// release unblocks.
void BlockChildSignals();
void UnblockChildSignals();

// Reaps every finished child without waiting and reports each: "PID %d
// crashed on signal %d!" / "PID %d stopped with status %d!" (error, with a
// hint at info when LogLevel is below debug) or "PID %d exited with no
// errors." (debug2). An end by SIGTERM, which the scheduler sends itself to
// stop a job, counts as success. A child that belongs to a processing job
// is marked in its process list (the entry negated) and, when it failed,
// its wait status becomes the job's status: negated for the last process
// (the backend), as it is for a filter, unless a backend failure is already
// recorded. Returns the number of children reaped.
int ReapChildren();
