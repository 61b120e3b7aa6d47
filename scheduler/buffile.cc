#include "scheduler/buffile.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr unsigned char kGzipMagic0 = 0x1f, kGzipMagic1 = 0x8b;
constexpr unsigned char kDeflate = 8;
constexpr unsigned char kFlagHcrc = 2, kFlagExtra = 4, kFlagName = 8, kFlagComment = 16;

// read() that also waits out EINTR and EAGAIN, so a reader never sees a
// spurious end of data. A failure is remembered in the file.
long read_fd(BufFile* f, void* buf, size_t len) {
  int fd = f->fd.get();
  for (;;) {
    ssize_t n = ::read(fd, buf, len);
    if (n >= 0) return long(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd p{fd, POLLIN, 0};
      ::poll(&p, 1, -1);
      continue;
    }
    if (!f->read_error) f->read_error = errno;
    return -1;
  }
}

// Length of the gzip header at the start of `p` (n bytes), or 0 when it does
// not fit in them.
size_t gzip_header_length(const unsigned char* p, size_t n) {
  unsigned char flags = p[3];
  size_t i = 10;
  if (flags & kFlagExtra) {
    if (i + 2 > n) return 0;
    size_t len = size_t(p[i]) | size_t(p[i + 1]) << 8;
    i += 2 + len;
    if (i > n) return 0;
  }
  for (unsigned char flag : {kFlagName, kFlagComment}) {
    if (!(flags & flag)) continue;
    while (i < n && p[i] != 0) i++;
    if (i >= n) return 0;
    i++;
  }
  if (flags & kFlagHcrc) {
    i += 2;
    if (i > n) return 0;
  }
  return i;
}

bool is_gzip(const unsigned char* p, size_t n) {
  return n >= 10 && p[0] == kGzipMagic0 && p[1] == kGzipMagic1 && p[2] == kDeflate && p[3] < 32;
}

void end_inflate(BufFile* f) {
  if (f->stream_started) inflateEnd(&f->stream);
  f->stream_started = false;
}

// Starts raw inflation on the `n` bytes in cbuf, which begin with a gzip
// header. False when the header does not fit or zlib fails to start.
bool start_inflate(BufFile* f, size_t n) {
  size_t header = gzip_header_length(f->cbuf, n);
  if (header == 0) return false;
  f->stream = z_stream{};
  f->stream.next_in = f->cbuf + header;
  f->stream.avail_in = unsigned(n - header);
  if (inflateInit2(&f->stream, -15) != Z_OK) return false;
  f->stream_started = true;
  f->stream_end = false;
  f->compressed = true;
  return true;
}

// Inflates the next window; returns its size, 0 at the end of the data. A
// damaged or truncated stream just ends the data.
long inflate_window(BufFile* f) {
  if (f->stream_end) return 0;
  for (;;) {
    if (f->stream.avail_in == 0) {
      long n = read_fd(f, f->cbuf, BufFile::kCompSize);
      if (n <= 0) {
        f->stream_end = true;
        return 0;
      }
      f->stream.next_in = f->cbuf;
      f->stream.avail_in = unsigned(n);
    }
    f->stream.next_out = f->buf;
    f->stream.avail_out = BufFile::kBufSize;
    int r = inflate(&f->stream, Z_NO_FLUSH);
    long produced = long(BufFile::kBufSize - f->stream.avail_out);
    if (r == Z_STREAM_END) {
      f->stream_end = true;
    } else if (r != Z_OK && !(r == Z_BUF_ERROR && f->stream.avail_in == 0)) {
      f->stream_end = true;
    }
    if (produced > 0) {
      f->ptr = f->buf;
      f->end = f->buf + produced;
      return produced;
    }
    if (f->stream_end) return 0;
  }
}

// The first fill decides between plain and gzip data.
long first_fill(BufFile* f) {
  f->first_fill = false;
  long n = read_fd(f, f->cbuf, BufFile::kCompSize);
  if (n < 0) {
    f->broken = true;
    return -1;
  }
  if (is_gzip(f->cbuf, size_t(n))) {
    if (!start_inflate(f, size_t(n))) {
      f->broken = true;
      return -1;
    }
    return inflate_window(f);
  }
  std::memcpy(f->buf, f->cbuf, size_t(n));
  f->ptr = f->buf;
  f->end = f->buf + n;
  return n;
}

// Replaces the window with the next one; returns its size, 0 at the end, -1
// when the file cannot be read.
long fill(BufFile* f) {
  if (f->broken) return -1;
  if (f->first_fill) return first_fill(f);
  f->pos += f->end - f->buf;
  f->ptr = f->end = f->buf;
  if (f->compressed) return inflate_window(f);
  long n = read_fd(f, f->buf, BufFile::kBufSize);
  if (n > 0) f->end = f->buf + n;
  return n;
}

bool reader(const BufFile* f) { return f && f->mode == 'r'; }
bool writer(const BufFile* f) { return f && f->mode == 'w'; }

// Re-reads a compressed file from its first byte.
bool restart_inflate(BufFile* f) {
  end_inflate(f);
  f->pos = 0;
  f->ptr = f->end = f->buf;
  if (::lseek(f->fd.get(), 0, SEEK_SET) < 0) return false;
  long n = read_fd(f, f->cbuf, BufFile::kCompSize);
  if (n < 0 || !is_gzip(f->cbuf, size_t(n))) return false;
  return start_inflate(f, size_t(n));
}

}  // namespace

BufFile::~BufFile() {
  if (mode == 'w') BufFileFlush(this);
  end_inflate(this);
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
    f->fd = std::move(fd);
    f->ptr = f->end = f->buf;
    return f;
  }
  return BufFileAdopt(std::move(fd), 'w');
}

std::unique_ptr<BufFile> BufFileAdopt(vorn::unique_fd fd, char mode) {
  if (!fd || mode != 'w') {
    errno = EINVAL;
    return nullptr;
  }
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

int BufFileClose(std::unique_ptr<BufFile> file) {
  if (!file) return -1;
  int flushed = file->mode == 'w' ? BufFileFlush(file.get()) : 0;
  end_inflate(file.get());
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
    if (::lseek(file->fd.get(), offset, SEEK_SET) < 0) return -1;
    file->pos = offset;
    file->ptr = file->end = file->buf;
    return offset;
  }
  if (offset < file->pos && !restart_inflate(file)) {
    file->broken = true;
    return -1;
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
