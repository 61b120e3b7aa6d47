// Becoming a daemon: the fork with its readiness handshake, detaching from
// the terminal, and giving up root.
#pragma once

// Forks. The parent never returns: it waits until the child reports that it
// is ready (SIGUSR1) and exits 0, or, when the child ends first, prints "vornd:
// Child exited with status %d!" or "vornd: Child exited on signal %d!" and
// exits 1. Only signals from that child count. The child returns; so does the
// process when fork() fails, carrying on as the daemon itself.
void StartDaemon();

// Makes "/" the working directory, forbids core files, puts standard input
// and output on /dev/null and starts a new session. Standard error stays
// until DaemonReady, so that a failing start can still say why.
void DetachDaemon();

// The scheduler is ready: tells a waiting parent (after StartDaemon) and,
// after DetachDaemon, puts standard error on /dev/null too.
void DaemonReady();

// RunAsUser: group Group, no supplementary groups, user User. Returns false
// (after logging) when any step fails, since going on as root is not what
// was asked for.
bool DropPrivileges();
