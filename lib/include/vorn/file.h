// Files: temporary files, whole-file replacement, and reading data that may
// be gzip-compressed.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "vorn/fd.h"

// ---- Temporary files --------------------------------------------------------

// Names nobody can guess or take over.

// Creates a new, empty file in TMPDIR ("/tmp" when unset or empty), open for
// reading and writing, mode 0600 whatever the umask, close-on-exec. The name
// has 64 random bits and the file is created exclusively (never an existing
// file or a symbolic link). On success stores the path in `filename` and
// returns the descriptor, which the caller owns (wrap it in vorn::unique_fd)
// and the caller removes the file when done. On failure returns -1 with errno
// set and clears `filename`.
int vornTempFd(std::string& filename);

// The same as a stdio stream opened "w+": the caller owns the stream (fclose)
// and removes the file. Null with errno set on failure.
FILE* vornTempFile(std::string& filename);

// ---- Replacing a file whole -------------------------------------------------
//
// The new content goes to a temporary file beside the old one ("NAME.N"); on
// commit it is synced, the previous version is kept as "NAME.O" when the
// caller asks for it (a hard link, or a synced copy where links are not
// possible, so NAME itself never disappears), the temporary file is renamed
// over NAME and the directory is synced. A crash at any moment leaves NAME
// either whole and old or whole and new.

enum : int {
  VORN_SAFE_BACKUP = 1,        // keep the previous version as "NAME.O"
  // The temporary name gets a random suffix ("NAME.N.XXXXXX"), for files
  // that two processes may replace at once: each writes its own temporary
  // file and the last rename wins. Without it a ".N" left by a crash is
  // removed by the next writer.
  VORN_SAFE_PRIVATE_TEMP = 2,
  // The commit stops after the rename: the caller syncs the directory
  // (vornSyncDirectoryOf), once for several files renamed there together.
  VORN_SAFE_NO_DIR_SYNC = 4,
};

struct vorn_safe_file_t {
  std::string path;     // the final name
  std::string temp;     // the temporary file; empty once it has been renamed
  int flags = 0;
  vorn::unique_fd fd;   // the new content is written here

  vorn_safe_file_t() = default;
  vorn_safe_file_t(const vorn_safe_file_t&) = delete;
  vorn_safe_file_t& operator=(const vorn_safe_file_t&) = delete;
  // A file that was not committed is removed; the old one stays as it was.
  ~vorn_safe_file_t();
};

// Starts a new version of `path` with mode `perm` (umask not applied) and,
// unless they are -1, owner `uid` and group `gid` (a failure to change the
// owner is ignored, as when not running as root). The temporary file is
// created exclusively and never through a symbolic link. Returns nullptr with
// errno set when it cannot be created.
std::unique_ptr<vorn_safe_file_t> vornSafeFileCreate(const std::string& path, mode_t perm,
                                                     uid_t uid, gid_t gid, int flags);

// Puts the content written to `file->fd` in place as described above (a
// buffered writer flushes first). Returns 0, or -1 with errno set; when a
// step before the rename failed, the old file is untouched and the temporary
// file is gone. (Only a failed sync of the directory comes after the rename:
// the new content is then in place but may not yet be durable.) The object is
// consumed either way.
int vornSafeFileCommit(std::unique_ptr<vorn_safe_file_t> file);

// Syncs the directory holding `path`, so that renames into it are durable.
// 0, or -1 with errno set.
int vornSyncDirectoryOf(const std::string& path);

// Writes `content` as the whole new content of `path`; 0 or -1 as above.
int vornSafeFileWrite(const std::string& path, std::string_view content, mode_t perm, uid_t uid,
                      gid_t gid, int flags);

// The commit's steps, in order. For tests only: when vornSafeFileStepHook is
// set it is called after each step (backed_up also when no backup was asked
// for), so a test can end the process there and look at what a crash at that
// moment leaves behind.
enum class vorn_safe_step_t { synced, backed_up, renamed, dir_synced };
extern void (*vornSafeFileStepHook)(vorn_safe_step_t step);

// ---- Reading data that may be gzip-compressed -------------------------------

namespace vorn {

// Yields the plain bytes of a byte source: data that starts with a gzip
// header (at least 10 bytes: 0x1F 0x8B, method 8, a flag byte below 32) is
// inflated; data of fewer than 10 bytes that begin such a header is gzip
// cut short (EIO); anything else passes through as it is. Members that
// follow one another are read as one stream; each member's checksum and
// length are verified. Data cut short, damaged data or a bad checksum is an error, never
// a quiet end. One input buffer of `in_size` bytes is allocated when the
// reader is made; zlib allocates its state at the first read of gzip data.
class gzip_reader {
 public:
  // A byte source: up to len bytes, 0 at the end, -1 with errno set.
  using source_fn = ssize_t (*)(void* ctx, void* buf, size_t len);

  // Reads the descriptor from its current position; it stays the caller's
  // and must stay open while the reader is used. EINTR is retried and
  // EAGAIN waited out, so a non-blocking descriptor never looks ended.
  explicit gzip_reader(int fd, size_t in_size = 16384);
  // Reads `source(ctx, ...)`; `ctx` must outlive the reader.
  gzip_reader(source_fn source, void* ctx, size_t in_size = 16384);
  ~gzip_reader();
  gzip_reader(const gzip_reader&) = delete;
  gzip_reader& operator=(const gzip_reader&) = delete;

  // Up to `len` plain bytes; 0 at the end of the data. -1 with errno set
  // when the source failed (its errno) or the gzip data is cut short or
  // damaged (EIO) or zlib has no memory (ENOMEM); every later call fails
  // alike. Bytes inflated before a failure are returned first, by the call
  // before the one that fails. Damaged deflate data can inflate to wrong
  // bytes before the damage shows: only a clean end vouches for the data.
  // Gives fewer than `len` bytes whenever that saves a read.
  ssize_t read(void* buf, size_t len);

  // Whether the data is gzip; known after the first read.
  bool compressed() const { return gzip_; }
  // errno of the failure that ended the data, 0 while there is none.
  int error() const { return error_; }

  // Descriptor readers only: moves the descriptor to `offset` of the raw file
  // and forgets buffered input. Offset 0 starts over, deciding again between
  // plain and gzip (this is how a compressed file is read again); any other
  // offset is allowed only in plain data, which stays plain. 0 or -1.
  int seek(off_t offset);

 private:
  enum class state { detect, plain, gzip, failed };
  ssize_t fill_input();
  ssize_t fail(int err);
  ssize_t read_gzip(unsigned char* out, size_t len);

  source_fn source_;
  void* ctx_;
  int fd_ = -1;
  state state_ = state::detect;
  int error_ = 0;
  int pending_error_ = 0;    // a failure after bytes that are still to be handed over
  bool gzip_ = false;        // the data was found to be gzip
  bool inflating_ = false;   // the zlib stream is initialised
  bool member_end_ = false;  // the last member ended at the last byte inflated
  std::unique_ptr<unsigned char[]> in_;
  size_t in_size_, in_pos_ = 0, in_len_ = 0;
  struct z_stream_s* zs_ = nullptr;
};

}  // namespace vorn
