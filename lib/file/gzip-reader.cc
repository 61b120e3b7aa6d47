// Plain bytes from data that may be gzip-compressed.
#include <poll.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "vorn/file.h"

namespace vorn {
namespace {

constexpr size_t kHeaderSize = 10;

bool gzip_header(const unsigned char* p, size_t n) {
  return n >= kHeaderSize && p[0] == 0x1f && p[1] == 0x8b && p[2] == 8 && p[3] < 32;
}

// All the data there is, too short for a header but the start of one: a
// gzip stream cut inside its header, not plain data.
bool cut_gzip_header(const unsigned char* p, size_t n) {
  return n >= 2 && n < kHeaderSize && p[0] == 0x1f && p[1] == 0x8b && (n < 3 || p[2] == 8) && (n < 4 || p[3] < 32);
}

// read() that waits out EINTR and EAGAIN.
ssize_t read_descriptor(void* ctx, void* buf, size_t len) {
  int fd = int(reinterpret_cast<intptr_t>(ctx));
  for (;;) {
    ssize_t n = ::read(fd, buf, len);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd p{fd, POLLIN, 0};
      ::poll(&p, 1, -1);
      continue;
    }
    return -1;
  }
}

}  // namespace

gzip_reader::gzip_reader(int fd, size_t in_size)
    : gzip_reader(read_descriptor, reinterpret_cast<void*>(intptr_t(fd)), in_size) {
  fd_ = fd;
}

gzip_reader::gzip_reader(source_fn source, void* ctx, size_t in_size)
    : source_(source), ctx_(ctx), in_(new unsigned char[std::max(in_size, kHeaderSize)]),
      in_size_(std::max(in_size, kHeaderSize)) {}

gzip_reader::~gzip_reader() {
  if (inflating_) inflateEnd(zs_);
  delete zs_;
}

ssize_t gzip_reader::fail(int err) {
  if (state_ != state::failed) {
    error_ = err;
    state_ = state::failed;
  }
  errno = error_;
  return -1;
}

ssize_t gzip_reader::fill_input() {
  ssize_t n = source_(ctx_, in_.get(), in_size_);
  in_pos_ = 0;
  in_len_ = n > 0 ? size_t(n) : 0;
  return n;
}

ssize_t gzip_reader::read(void* buf, size_t len) {
  auto* out = static_cast<unsigned char*>(buf);
  if (state_ == state::failed) return fail(error_);
  if (state_ == state::detect) {
    // A pipe may hand over a header in pieces: the decision waits for ten
    // bytes or the end of the data.
    in_pos_ = in_len_ = 0;
    while (in_len_ < kHeaderSize) {
      ssize_t n = source_(ctx_, in_.get() + in_len_, in_size_ - in_len_);
      if (n < 0) return fail(errno);
      if (n == 0) break;
      in_len_ += size_t(n);
    }
    if (gzip_header(in_.get(), in_len_)) {
      if (!zs_) zs_ = new z_stream{};
      *zs_ = z_stream{};
      // 16 + window bits: zlib reads the gzip header and checks the trailer.
      if (inflateInit2(zs_, 16 + MAX_WBITS) != Z_OK) return fail(ENOMEM);
      inflating_ = true;
      member_end_ = false;
      zs_->next_in = in_.get();
      zs_->avail_in = unsigned(in_len_);
      state_ = state::gzip;
      gzip_ = true;
    } else if (cut_gzip_header(in_.get(), in_len_)) {
      gzip_ = true;
      return fail(EIO);
    } else {
      state_ = state::plain;
    }
  }
  if (len == 0) return 0;
  if (state_ == state::gzip) return read_gzip(out, len);

  if (in_pos_ < in_len_) {  // the bytes read to decide
    size_t n = std::min(len, in_len_ - in_pos_);
    std::memcpy(out, in_.get() + in_pos_, n);
    in_pos_ += n;
    return ssize_t(n);
  }
  ssize_t n = source_(ctx_, out, len);
  if (n < 0) return fail(errno);
  return n;
}

ssize_t gzip_reader::read_gzip(unsigned char* out, size_t len) {
  if (pending_error_) return fail(pending_error_);
  const uInt want = uInt(std::min(len, size_t(1) << 30));
  zs_->next_out = out;
  zs_->avail_out = want;
  // Bytes inflated before a failure are handed over first, so what the
  // caller sees before the error does not depend on its buffer size.
  auto failed = [&](int err) -> ssize_t {
    if (zs_->avail_out == want) return fail(err);
    pending_error_ = err;
    return ssize_t(want - zs_->avail_out);
  };
  while (zs_->avail_out == want) {
    if (zs_->avail_in == 0) {
      ssize_t n = fill_input();
      if (n < 0) return failed(errno);
      if (n == 0) {
        if (!member_end_) return failed(EIO);  // cut off inside a member
        break;
      }
      zs_->next_in = in_.get();
      zs_->avail_in = unsigned(n);
    }
    if (member_end_) {  // more bytes after a member: the next member
      inflateReset(zs_);
      member_end_ = false;
    }
    int r = inflate(zs_, Z_NO_FLUSH);
    if (r == Z_STREAM_END) {
      member_end_ = true;
    } else if (r == Z_MEM_ERROR) {
      return failed(ENOMEM);
    } else if (r != Z_OK && r != Z_BUF_ERROR) {
      return failed(EIO);  // damaged data, a bad checksum or length
    }
  }
  return ssize_t(want - zs_->avail_out);
}

int gzip_reader::seek(off_t offset) {
  if (fd_ < 0 || offset < 0 || (offset != 0 && state_ == state::gzip)) {
    errno = EINVAL;
    return -1;
  }
  if (::lseek(fd_, offset, SEEK_SET) < 0) return -1;
  in_pos_ = in_len_ = 0;
  if (offset == 0) {
    if (inflating_) inflateEnd(zs_);
    inflating_ = false;
    member_end_ = false;
    error_ = 0;
    pending_error_ = 0;
    gzip_ = false;
    state_ = state::detect;
  } else {
    state_ = state::plain;
  }
  return 0;
}

}  // namespace vorn
