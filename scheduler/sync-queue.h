// Making job files durable on a thread of their own. Syncing a document and
// a control file takes the disk's time, not ours: done on the loop thread it
// held every other client up. The loop queues the work (a control file to
// put in place, a document to sync, files to remove) and goes on; the
// thread does it in the order it was queued, with one directory sync for
// all the renames of a batch, and wakes the loop through SyncQueueFd(). A
// reply that acknowledges what was queued while its request was served is
// held until that work is done (see the clients' sync_hold).
//
// Until StartSyncThread, and after StopSyncThread, every call does its work
// at once on the caller's thread, as a program without the loop expects.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vorn/fd.h"
#include "vorn/file.h"

// Starts the thread (signals stay with the loop thread); false, with the
// work done at once from then on, when it cannot be started.
bool StartSyncThread();
// Waits for everything queued, then ends the thread.
void StopSyncThread();
bool SyncThreadRunning();

// Queues the commit of a new version of a job's control file, made with
// VORN_SAFE_PRIVATE_TEMP | VORN_SAFE_NO_DIR_SYNC (SyncCommitFlags()); the
// directory is synced by the thread. Without the thread the file is
// committed at once: then 0 or -1 with errno set, as vornSafeFileCommit;
// with it 0 (a failure is reported by CollectSyncs).
int QueueCommit(std::unique_ptr<vorn_safe_file_t> file, int job_id);
// The flags a file handed to QueueCommit is made with.
int SyncCommitFlags();
// Queues fdatasync() of a document written through `fd`, which the queue
// then owns; `path` names it in messages. Without the thread: at once, 0 or
// -1 with errno set.
int QueueDataSync(vorn::unique_fd fd, const std::string& path);
// Queues the removal of files, after every rename queued before.
void QueueUnlink(std::vector<std::string> paths);
// Returns once everything queued so far is done and collected.
void WaitForSyncs();

// Units queued and done so far, counted from 1: a reply waits while the
// last unit queued by its request is above SyncsDone().
uint64_t SyncsQueued();
uint64_t SyncsDone();
// Whether a unit numbered in (after, upto] failed.
bool SyncFailedBetween(uint64_t after, uint64_t upto);

// Tells the thread how many replies are held, before the loop waits: it
// wakes the loop only while some are (or for a failure). True when units
// were done meanwhile without waking it: CollectSyncs now.
bool SetSyncWaiters(int count);

// The descriptor that becomes readable when units are done that held
// replies wait for; -1 without the thread.
int SyncQueueFd();
// Takes in what the thread finished: logs failures and tells the job queue
// of control files that could not be written (JobSaveFailed).
void CollectSyncs();
