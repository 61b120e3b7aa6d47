#include "scheduler/buffile.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Replaces the window with the next one; returns its size, 0 at the end, -1
// when the file cannot be read or its gzip data is bad (remembered in
// read_error, and every later fill fails too).
long fill(BufFile* f) {
  if (f->broken) return -1;
  if (f->first_fill) {
    f->first_fill = false;
  } else {
    f->pos += f->end - f->buf;
  }
  f->ptr = f->end = f->buf;
  ssize_t n = f->in->read(f->buf, BufFile::kBufSize);
  f->compressed = f->in->compressed();
  if (n < 0) {
    f->broken = true;
    if (!f->read_error) f->read_error = f->in->error();
    return -1;
  }
  f->end = f->buf + n;
  return long(n);
}

bool reader(const BufFile* f) { return f && f->mode == 'r'; }
bool writer(const BufFile* f) { return f && f->mode == 'w'; }

std::unique_ptr<BufFile> new_writer(vorn::unique_fd fd) {
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return nullptr;
  auto f = std::make_unique<BufFile>();
  f->fd = std::move(fd);
  f->mode = 'w';
  f->first_fill = false;
  f->pos = st.st_size;
  f->ptr = f->end = f->buf;
  return f;
}

}  // namespace

BufFile::~BufFile() {
  if (mode == 'w') BufFileFlush(this);
}

std::unique_ptr<BufFile> BufFileOpen(const char* path, const char* mode) {
  if (!path || !mode || !mode[0] || mode[1]) {
    errno = EINVAL;
    return nullptr;
  }
  int flags;
  switch (mode[0]) {
    case 'r': flags = O_RDONLY; break;
    case 'w': flags = O_WRONLY | O_CREAT | O_TRUNC; break;
    case 'a': flags = O_RDWR | O_CREAT | O_APPEND; break;
    default: errno = EINVAL; return nullptr;
  }
  vorn::unique_fd fd(::open(path, flags | O_CLOEXEC, 0644));
  if (!fd) return nullptr;
  if (mode[0] == 'r') {
    auto f = std::make_unique<BufFile>();
    f->in = std::make_unique<vorn::gzip_reader>(fd.get(), BufFile::kCompSize);
    f->fd = std::move(fd);
    f->ptr = f->end = f->buf;
    return f;
  }
  return new_writer(std::move(fd));
}

std::unique_ptr<BufFile> BufFileCreateSafe(const std::string& path, mode_t perm, uid_t uid, gid_t gid, int flags) {
  std::unique_ptr<vorn_safe_file_t> safe = vornSafeFileCreate(path, perm, uid, gid, flags);
  if (!safe) return nullptr;
  // The buffer writes the descriptor; the commit gets it back.
  std::unique_ptr<BufFile> f = new_writer(std::move(safe->fd));
  if (!f) return nullptr;  // `safe` removes the temporary file
  f->safe = std::move(safe);
  return f;
}

int BufFileCommit(std::unique_ptr<BufFile> file) {
  std::unique_ptr<vorn_safe_file_t> safe = BufFileDetachSafe(std::move(file));
  return safe ? vornSafeFileCommit(std::move(safe)) : -1;
}

std::unique_ptr<vorn_safe_file_t> BufFileDetachSafe(std::unique_ptr<BufFile> file) {
  if (!writer(file.get()) || !file->safe) {
    errno = EINVAL;
    return nullptr;
  }
  if (BufFileFlush(file.get()) != 0) return nullptr;  // `file` takes the temporary file with it
  file->safe->fd = std::move(file->fd);
  return std::move(file->safe);
}

int BufFileClose(std::unique_ptr<BufFile> file) {
  if (!file) return -1;
  int flushed = file->mode == 'w' ? BufFileFlush(file.get()) : 0;
  file->in.reset();
  file->mode = 'r';  // already flushed: the destructor must not write again
  int closed = ::close(file->fd.release());
  return flushed < 0 ? -1 : closed;
}

int BufFileError(const BufFile* file) { return file ? file->read_error : EINVAL; }

int BufFileGetChar(BufFile* file) {
  if (!reader(file)) return -1;
  if (file->ptr >= file->end && fill(file) <= 0) return -1;
  return *file->ptr++;
}

char* BufFileGets(BufFile* file, char* buf, size_t size) {
  if (!reader(file) || !buf || size < 2) return nullptr;
  size_t n = 0;
  bool got = false;
  while (n < size - 1) {
    if (file->ptr >= file->end && fill(file) <= 0) break;
    got = true;
    unsigned char c = *file->ptr++;
    if (c == '\n') break;
    if (c == '\r') {
      if (file->ptr < file->end || fill(file) > 0) {
        if (*file->ptr == '\n') file->ptr++;
      }
      break;
    }
    buf[n++] = char(c);
  }
  if (!got) return nullptr;
  buf[n] = '\0';
  return buf;
}

long BufFileRead(BufFile* file, void* buf, size_t count) {
  if (!reader(file) || (!buf && count)) return -1;
  auto* out = static_cast<unsigned char*>(buf);
  size_t done = 0;
  while (done < count) {
    if (file->ptr >= file->end && fill(file) <= 0) break;
    size_t n = size_t(file->end - file->ptr);
    if (n > count - done) n = count - done;
    std::memcpy(out + done, file->ptr, n);
    file->ptr += n;
    done += n;
  }
  if (done == 0 && count > 0) return -1;
  return long(done);
}

int64_t BufFileSeek(BufFile* file, int64_t offset) {
  if (!reader(file) || offset < 0) return -1;
  if (file->first_fill && fill(file) < 0) return -1;
  if (file->broken) return -1;
  int64_t window = file->end - file->buf;
  if (offset >= file->pos && offset < file->pos + window) {
    file->ptr = file->buf + (offset - file->pos);
    return offset;
  }
  if (!file->compressed) {
    if (file->in->seek(offset) < 0) return -1;
    file->pos = offset;
    file->ptr = file->end = file->buf;
    return offset;
  }
  if (offset < file->pos) {
    // Inflation starts over from the first byte of the file.
    file->pos = 0;
    file->ptr = file->end = file->buf;
    file->first_fill = true;
    if (file->in->seek(0) < 0 || fill(file) < 0 || !file->compressed) {
      file->broken = true;
      return -1;
    }
  }
  while (offset >= file->pos + (file->end - file->buf)) {
    if (fill(file) <= 0) return -1;
  }
  file->ptr = file->buf + (offset - file->pos);
  return offset;
}

int BufFileFlush(BufFile* file) {
  if (!writer(file)) return -1;
  size_t n = size_t(file->end - file->buf);
  file->end = file->buf;
  if (n > 0 && vorn::write_all(file->fd.get(), file->buf, n) != 0) return -1;
  return 0;
}

long BufFileWrite(BufFile* file, const void* data, size_t count) {
  if (!writer(file) || (!data && count)) return -1;
  size_t room = BufFile::kBufSize - size_t(file->end - file->buf);
  if (count > room) {
    if (BufFileFlush(file) != 0) return -1;
    if (count > BufFile::kBufSize) {
      if (vorn::write_all(file->fd.get(), data, count) != 0) return -1;
      file->pos += int64_t(count);
      return long(count);
    }
  }
  std::memcpy(file->end, data, count);
  file->end += count;
  file->pos += int64_t(count);
  return long(count);
}

int BufFilePutChar(BufFile* file, int c) {
  unsigned char b = static_cast<unsigned char>(c);
  return BufFileWrite(file, &b, 1) == 1 ? 0 : -1;
}

long BufFilePuts(BufFile* file, const char* text) {
  if (!text) return -1;
  return BufFileWrite(file, text, std::strlen(text));
}

long BufFilePrintf(BufFile* file, const char* format, ...) {
  if (!writer(file) || !format) return -1;
  char text[BufFile::kBufSize];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(text, sizeof(text), format, ap);
  va_end(ap);
  if (n < 0) return -1;
  size_t len = size_t(n) < sizeof(text) ? size_t(n) : sizeof(text) - 1;
  return BufFileWrite(file, text, len);
}
