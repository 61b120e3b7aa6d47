// Buffered file access for every file the scheduler reads or writes.
//
// Readers see plain content whether or not the file is gzip-compressed
// (detected at the first read after opening, inflated by libvorn's gzip
// reader); damaged or cut-short gzip data is a read error, not an early end.
// Writers never compress; a writer made by BufFileCreateSafe replaces its
// file whole through libvorn's safe writer. One 2048-byte data window and one
// 1024-byte compressed-input buffer per open file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "vorn/fd.h"
#include "vorn/file.h"

struct BufFile {
  static constexpr size_t kBufSize = 2048;     // data window / write queue
  static constexpr size_t kCompSize = 1024;    // compressed input

  vorn::unique_fd fd;
  char mode = 'r';              // 'r' reading, 'w' writing (also append)
  bool compressed = false;      // reading only: a gzip stream is inflated
  bool first_fill = true;       // compression is detected at the first fill
  bool broken = false;          // a read failed or the gzip data is bad: no more data
  int read_error = 0;           // errno of a failed read, 0 when none
  unsigned char* ptr = nullptr; // next byte for the reader
  unsigned char* end = nullptr; // end of the window / of the queued bytes
  // Reading: offset in the uncompressed stream of the window's first byte.
  // Writing: bytes written so far including queued ones (for "a", starting
  // at the size the file had when it was opened).
  int64_t pos = 0;
  std::unique_ptr<vorn::gzip_reader> in;   // reading: plain bytes of `fd`
  std::unique_ptr<vorn_safe_file_t> safe;  // writing a new version: its commit
  unsigned char buf[kBufSize];

  BufFile() = default;
  BufFile(const BufFile&) = delete;
  BufFile& operator=(const BufFile&) = delete;
  // Flushes a writer (errors are lost: call BufFileClose to see them); a new
  // version that was not committed is removed.
  ~BufFile();
};

// Opens `path`: "r" read-only; "w" create or truncate, write-only; "a" create
// if missing, read-write, appending, position = current size. New files get
// mode 0644. Any other mode, or a failed open, gives nullptr with errno set.
std::unique_ptr<BufFile> BufFileOpen(const char* path, const char* mode);

// Starts a new version of `path` written through the buffer: mode `perm`
// (umask not applied), owner `uid` and group `gid` unless -1 (ignored when not
// root), the previous version kept as "NAME.O". Nothing is visible under
// `path` until BufFileCommit; a file that is closed or dropped instead leaves
// the old one as it was. nullptr with errno set on failure. `flags` are
// the safe writer's (VORN_SAFE_*); without VORN_SAFE_BACKUP no "NAME.O" is kept.
std::unique_ptr<BufFile> BufFileCreateSafe(const std::string& path, mode_t perm, uid_t uid = uid_t(-1),
                                           gid_t gid = gid_t(-1), int flags = VORN_SAFE_BACKUP);

// Flushes a writer from BufFileCreateSafe and puts the new version in place
// (vornSafeFileCommit). 0, or -1 with errno set and the old file untouched.
int BufFileCommit(std::unique_ptr<BufFile> file);

// Flushes a writer from BufFileCreateSafe and hands over its new version,
// to be committed later (vornSafeFileCommit); nullptr with errno set when the
// flush failed (the temporary file is then gone).
std::unique_ptr<vorn_safe_file_t> BufFileDetachSafe(std::unique_ptr<BufFile> file);

// Flushes a writer, ends decompression, closes the descriptor and frees the
// object; returns the result of close() (or -1 when the flush failed).
int BufFileClose(std::unique_ptr<BufFile> file);

// Next byte (0-255), or -1 at the end of the data or on error.
int BufFileGetChar(BufFile* file);

// Reads one line of at most size - 1 bytes into `buf` and terminates it. A
// line ends at "\n", "\r" or "\r\n" (one end); the end is not stored; a longer
// line comes back in pieces. Returns `buf`, or nullptr when no byte was left.
char* BufFileGets(BufFile* file, char* buf, size_t size);

// Reads up to `count` bytes; returns the number read (fewer at the end), or
// -1 when nothing could be read.
long BufFileRead(BufFile* file, void* buf, size_t count);

// errno of the first failed read of the descriptor (EIO for damaged or
// cut-short gzip data), or 0: tells a read error apart from the end of the
// data, which look alike to the readers.
int BufFileError(const BufFile* file);

// Moves the reader to `offset` in the uncompressed data (backwards in a
// compressed file re-inflates from the start). Returns the offset, or -1 when
// the data ends first or the file is not a reader.
int64_t BufFileSeek(BufFile* file, int64_t offset);

// Writing: each returns the count of bytes taken (0 for PutChar), or -1 on a
// write error or when the file is not a writer. BufFilePrintf output is
// limited to 2047 characters.
int BufFilePutChar(BufFile* file, int c);
long BufFilePuts(BufFile* file, const char* text);
long BufFileWrite(BufFile* file, const void* data, size_t count);
long BufFilePrintf(BufFile* file, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Writes the queued bytes; 0 or -1.
int BufFileFlush(BufFile* file);
