#include "scheduler/sync-queue.h"

#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "scheduler/jobs/job.h"
#include "scheduler/log.h"

namespace {

enum class unit_kind { commit, data_sync, unlink };

struct sync_unit {
  uint64_t number = 0;
  unit_kind kind = unit_kind::commit;
  int job_id = 0;
  std::unique_ptr<vorn_safe_file_t> file;  // commit
  std::string path;                         // commit: the final name; data_sync: the document
  vorn::unique_fd fd;                       // data_sync
  std::vector<std::string> paths;           // unlink
  int error = 0;                            // errno of the failed step, 0 when done
  const char* step = "";                    // what failed
};

// Shared with the thread, under `lock`.
std::mutex lock;
std::condition_variable work_ready;   // the thread waits for units or the end
std::condition_variable work_done;    // WaitForSyncs waits for the thread
std::deque<sync_unit> pending;
std::vector<sync_unit> failed;        // done with an error, not yet collected
uint64_t finished = 0;                // last number done by the thread
uint64_t batches = 0;                 // batches done, for the debug log
int waiters = 0;                      // replies held for units (SetSyncWaiters)
bool stopping = false;

// The loop thread's own (the thread reads only the units' numbers).
uint64_t queued = 0;                  // last number given
bool running = false;
pthread_t thread;
vorn::unique_fd wake;                 // eventfd: units are done
uint64_t collected = 0;               // SyncsDone(): done, and failures recorded
std::deque<uint64_t> failed_numbers;  // the latest failures, for held replies
constexpr size_t kFailuresKept = 4096;

std::string directory_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void run_unit(sync_unit& u, std::vector<std::string>& dirs) {
  auto add_dir = [&dirs](const std::string& path) {
    std::string dir = directory_of(path);
    if (std::find(dirs.begin(), dirs.end(), dir) == dirs.end()) dirs.push_back(dir);
  };
  switch (u.kind) {
    case unit_kind::commit:
      if (vornSafeFileCommit(std::move(u.file)) != 0) {
        u.error = errno;
        u.step = "commit";
      } else {
        add_dir(u.path);
      }
      break;
    case unit_kind::data_sync:
      if (::fdatasync(u.fd.get()) != 0) {
        u.error = errno;
        u.step = "sync";
      }
      // Its rename into the job's name is made durable by the directory
      // sync of the job's save, which always follows.
      u.fd.reset();
      break;
    case unit_kind::unlink:
      for (const std::string& p : u.paths)
        if (::unlink(p.c_str()) != 0 && errno != ENOENT && !u.error) {
          u.error = errno;
          u.step = "remove";
        }
      break;
  }
}

void* sync_thread(void*) {
  std::vector<sync_unit> batch;
  std::vector<std::string> dirs;
  for (;;) {
    {
      std::unique_lock<std::mutex> guard(lock);
      work_ready.wait(guard, [] { return stopping || !pending.empty(); });
      if (pending.empty()) return nullptr;  // stopping, and nothing left
      batch.clear();
      while (!pending.empty()) {
        batch.push_back(std::move(pending.front()));
        pending.pop_front();
      }
    }
    dirs.clear();
    for (sync_unit& u : batch) run_unit(u, dirs);
    // One directory sync makes every rename of the batch durable.
    for (const std::string& dir : dirs) {
      if (vornSyncDirectoryOf(dir + "/.") == 0) continue;
      int e = errno;
      for (sync_unit& u : batch)
        if (!u.error && u.kind != unit_kind::unlink && directory_of(u.path) == dir) {
          u.error = e;
          u.step = "sync the directory of";
        }
    }
    bool wake_loop;
    {
      std::lock_guard<std::mutex> guard(lock);
      finished = batch.back().number;
      batches++;
      for (sync_unit& u : batch)
        if (u.error) failed.push_back(std::move(u));
      // Saves nobody waits for need no extra pass of the loop.
      wake_loop = waiters > 0 || !failed.empty();
    }
    work_done.notify_all();
    uint64_t one = 1;
    while (wake_loop && ::write(wake.get(), &one, sizeof(one)) < 0 && errno == EINTR) {
    }
  }
}

void enqueue(sync_unit u) {
  u.number = ++queued;
  {
    std::lock_guard<std::mutex> guard(lock);
    pending.push_back(std::move(u));
  }
  work_ready.notify_one();
}

void report(const sync_unit& u) {
  switch (u.kind) {
    case unit_kind::commit:
      LogDiagnostic(L_ERROR, "SaveJob: Unable to %s job control file \"%s\" - %s.", u.step, u.path.c_str(),
                    std::strerror(u.error));
      break;
    case unit_kind::data_sync:
      LogDiagnostic(L_ERROR, "ReadClient: Unable to %s %s to disk: %s", u.step, u.path.c_str(),
                    std::strerror(u.error));
      break;
    case unit_kind::unlink:
      LogDiagnostic(L_ERROR, "Unable to remove job files (\"%s\"...): %s", u.paths.front().c_str(),
                    std::strerror(u.error));
      break;
  }
}

}  // namespace

bool StartSyncThread() {
  if (running) return true;
  wake.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!wake) {
    LogDiagnostic(L_ERROR, "Unable to create the sync thread's event descriptor: %s", std::strerror(errno));
    return false;
  }
  stopping = false;
  // Signals are the loop thread's: blocked here, the thread inherits the mask.
  sigset_t all, old;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &old);
  int e = ::pthread_create(&thread, nullptr, sync_thread, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (e != 0) {
    LogDiagnostic(L_ERROR, "Unable to start the sync thread: %s; files are synced on the main thread.",
                  std::strerror(e));
    wake.reset();
    return false;
  }
  running = true;
  return true;
}

void StopSyncThread() {
  if (!running) return;
  {
    std::lock_guard<std::mutex> guard(lock);
    stopping = true;
  }
  work_ready.notify_one();
  ::pthread_join(thread, nullptr);
  running = false;
  LogDiagnostic(L_DEBUG, "Sync thread: %llu units in %llu batches.", static_cast<unsigned long long>(finished),
                static_cast<unsigned long long>(batches));
  CollectSyncs();
  wake.reset();
}

bool SyncThreadRunning() { return running; }

int SyncCommitFlags() { return running ? (VORN_SAFE_PRIVATE_TEMP | VORN_SAFE_NO_DIR_SYNC) : 0; }

int QueueCommit(std::unique_ptr<vorn_safe_file_t> file, int job_id) {
  if (!file) {
    errno = EINVAL;
    return -1;
  }
  if (!running) {
    std::string path = file->path;
    bool dir_later = file->flags & VORN_SAFE_NO_DIR_SYNC;
    if (vornSafeFileCommit(std::move(file)) != 0) return -1;
    return dir_later ? vornSyncDirectoryOf(path) : 0;
  }
  sync_unit u;
  u.kind = unit_kind::commit;
  u.job_id = job_id;
  u.path = file->path;
  u.file = std::move(file);
  enqueue(std::move(u));
  return 0;
}

int QueueDataSync(vorn::unique_fd fd, const std::string& path) {
  if (!running) {
    int r = ::fdatasync(fd.get());
    int e = errno;
    fd.reset();
    errno = e;
    return r;
  }
  sync_unit u;
  u.kind = unit_kind::data_sync;
  u.fd = std::move(fd);
  u.path = path;
  enqueue(std::move(u));
  return 0;
}

void QueueUnlink(std::vector<std::string> paths) {
  if (paths.empty()) return;
  if (!running) {
    for (const std::string& p : paths) ::unlink(p.c_str());
    return;
  }
  sync_unit u;
  u.kind = unit_kind::unlink;
  u.paths = std::move(paths);
  enqueue(std::move(u));
}

void WaitForSyncs() {
  if (!running) return;
  {
    std::unique_lock<std::mutex> guard(lock);
    work_done.wait(guard, [] { return finished == queued; });
  }
  CollectSyncs();
}

bool SetSyncWaiters(int count) {
  if (!running) return false;
  std::lock_guard<std::mutex> guard(lock);
  waiters = count;
  return count > 0 && finished != collected;
}

uint64_t SyncsQueued() { return queued; }

uint64_t SyncsDone() { return running ? collected : SyncsQueued(); }

bool SyncFailedBetween(uint64_t after, uint64_t upto) {
  return std::any_of(failed_numbers.begin(), failed_numbers.end(),
                     [&](uint64_t n) { return n > after && n <= upto; });
}

int SyncQueueFd() { return running ? wake.get() : -1; }

void CollectSyncs() {
  if (wake) {
    uint64_t count;
    while (::read(wake.get(), &count, sizeof(count)) < 0 && errno == EINTR) {
    }
  }
  std::vector<sync_unit> failures;
  uint64_t done;
  {
    std::lock_guard<std::mutex> guard(lock);
    failures.swap(failed);
    done = finished;
  }
  for (const sync_unit& u : failures) {
    report(u);
    failed_numbers.push_back(u.number);
    if (failed_numbers.size() > kFailuresKept) failed_numbers.pop_front();
  }
  // Recorded before the units count as done, so no held reply is let go
  // as a success in between.
  collected = done;
  for (const sync_unit& u : failures)
    if (u.kind == unit_kind::commit && u.job_id) JobSaveFailed(u.job_id);
}
