// The one way the scheduler writes a file whole (configuration and state
// files, certificates, anything that replaces an earlier version).
//
// The new content goes to a temporary file beside the old one ("NAME.N"); on
// commit it is flushed and synced, the previous version is kept as "NAME.O"
// (a hard link, or a synced copy where links are not possible, so NAME itself
// never disappears), the temporary file is renamed over NAME and the
// directory is synced. A crash at any moment leaves NAME either whole and old
// or whole and new.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <sys/types.h>

#include "scheduler/buffile.h"

struct SafeFile {
  std::string path;              // the final name
  std::string temp;              // the temporary file beside it
  std::unique_ptr<BufFile> file; // the writer; use the BufFile* calls on it

  SafeFile() = default;
  SafeFile(const SafeFile&) = delete;
  SafeFile& operator=(const SafeFile&) = delete;
  // A file that was not committed is removed; the old one stays as it was.
  ~SafeFile();
};

// Starts a new version of `path` with mode `perm` (umask not applied) and,
// unless they are -1, owner `uid` and group `gid` (a failure to change the
// owner is ignored, as when not running as root). Returns nullptr with errno
// set when the temporary file cannot be created.
std::unique_ptr<SafeFile> SafeFileCreate(const std::string& path, mode_t perm,
                                         uid_t uid = uid_t(-1), gid_t gid = gid_t(-1));

// Puts the new content in place as described above. Returns 0, or -1 with
// errno set; when a step before the rename failed, the old file is untouched
// and the temporary file is gone. (Only a failed sync of the directory comes
// after the rename: the new content is then in place but may not yet be
// durable.) The object is consumed either way.
int SafeFileCommit(std::unique_ptr<SafeFile> file);

// Writes `content` as the whole new content of `path`; 0 or -1 as above.
int SafeFileWrite(const std::string& path, std::string_view content, mode_t perm,
                  uid_t uid = uid_t(-1), gid_t gid = gid_t(-1));

// The commit's steps, in order. For tests only: when SafeFileStepHook is set
// it is called after each step, so a test can end the process there and look
// at what a crash at that moment leaves behind.
enum class safe_step { synced, backed_up, renamed, dir_synced };
extern void (*SafeFileStepHook)(safe_step step);
