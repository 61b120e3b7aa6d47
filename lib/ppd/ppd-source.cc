// Byte sources for the PPD reader: a stdio stream (inflated here when it
// holds gzip data, since zlib's gz* functions want a descriptor) and a
// descriptor read through gzread, which passes plain files through.
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "ppd-private.h"

namespace vorn::ppd_detail {
namespace {

class stream_source final : public source {
 public:
  explicit stream_source(FILE* fp) : fp_(fp) {}
  ~stream_source() override {
    if (inflating_) inflateEnd(&zs_);
  }

  ppd_status_t start() {
    have_ = std::fread(in_, 1, sizeof in_, fp_);
    if (have_ == 0 && std::ferror(fp_)) return PPD_FILE_OPEN_ERROR;
    if (have_ >= 2 && (unsigned char)in_[0] == 0x1f && (unsigned char)in_[1] == 0x8b) {
      std::memset(&zs_, 0, sizeof zs_);
      if (inflateInit2(&zs_, 16 + MAX_WBITS) != Z_OK) return PPD_ALLOC_ERROR;
      inflating_ = true;
      zs_.next_in = reinterpret_cast<Bytef*>(in_);
      zs_.avail_in = uInt(have_);
    }
    return PPD_OK;
  }

  ssize_t read(char* buf, size_t len) override {
    if (!inflating_) {
      if (have_ > used_) {  // the bytes read to look for the magic
        size_t n = std::min(len, have_ - used_);
        std::memcpy(buf, in_ + used_, n);
        used_ += n;
        return ssize_t(n);
      }
      size_t n = std::fread(buf, 1, len, fp_);
      if (n == 0 && std::ferror(fp_)) return -1;
      return ssize_t(n);
    }
    zs_.next_out = reinterpret_cast<Bytef*>(buf);
    zs_.avail_out = uInt(std::min(len, size_t(1) << 30));
    const uInt want = zs_.avail_out;
    while (zs_.avail_out == want) {
      if (zs_.avail_in == 0) {
        if (eof_) break;
        size_t n = std::fread(in_, 1, sizeof in_, fp_);
        if (n == 0) {
          if (std::ferror(fp_)) return -1;
          eof_ = true;
          if (!ended_) {  // cut off in the middle of the compressed data
            errno = EIO;
            return -1;
          }
          break;
        }
        zs_.next_in = reinterpret_cast<Bytef*>(in_);
        zs_.avail_in = uInt(n);
      }
      if (ended_) {  // another gzip member follows
        inflateReset(&zs_);
        ended_ = false;
      }
      int r = inflate(&zs_, Z_NO_FLUSH);
      if (r == Z_STREAM_END) {
        ended_ = true;
      } else if (r != Z_OK && r != Z_BUF_ERROR) {
        errno = r == Z_MEM_ERROR ? ENOMEM : EIO;
        return -1;
      }
    }
    return ssize_t(want - zs_.avail_out);
  }

 private:
  FILE* fp_;
  char in_[16384];
  size_t have_ = 0, used_ = 0;
  bool inflating_ = false, ended_ = false, eof_ = false;
  z_stream zs_;
};

class gz_source final : public source {
 public:
  explicit gz_source(gzFile gz) : gz_(gz) {}
  ~gz_source() override { gzclose(gz_); }

  ssize_t read(char* buf, size_t len) override {
    int n = gzread(gz_, buf, unsigned(std::min(len, size_t(1) << 30)));
    int err = Z_OK;
    if (n == 0) gzerror(gz_, &err);  // gzread reports data cut short as an end
    if (n < 0 || err == Z_BUF_ERROR) {
      gzerror(gz_, &err);
      if (err != Z_ERRNO) errno = err == Z_MEM_ERROR ? ENOMEM : EIO;
      return -1;
    }
    return n;
  }

 private:
  gzFile gz_;
};

}  // namespace

std::unique_ptr<source> open_stream_source(FILE* fp, ppd_status_t* status) {
  auto src = std::make_unique<stream_source>(fp);
  *status = src->start();
  if (*status != PPD_OK) return nullptr;
  return src;
}

std::unique_ptr<source> open_fd_source(int fd, ppd_status_t* status) {
  gzFile gz = gzdopen(fd, "rb");
  if (!gz) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    *status = PPD_ALLOC_ERROR;
    return nullptr;
  }
  gzbuffer(gz, 65536);
  *status = PPD_OK;
  return std::make_unique<gz_source>(gz);
}

}  // namespace vorn::ppd_detail
