// Temporary files: random names, created exclusively, mode 0600.
#include "vorn/file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "vorn/fd.h"

namespace {

// Bounds the retries when names collide; with 64 random bits a second try is
// already a rarity, so running out means something else is wrong.
constexpr int kAttempts = 100;

bool random_u64(uint64_t& v) {
  size_t got = 0;
  auto* p = reinterpret_cast<unsigned char*>(&v);
  while (got < sizeof(v)) {
    ssize_t n = getrandom(p + got, sizeof(v) - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    got += size_t(n);
  }
  return true;
}

}  // namespace

int vornTempFd(std::string& filename) {
  const char* dir = std::getenv("TMPDIR");
  std::string base = dir && *dir ? dir : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();

  static const char hex[] = "0123456789abcdef";
  for (int attempt = 0; attempt < kAttempts; attempt++) {
    uint64_t r;
    if (!random_u64(r)) break;
    std::string name = base + "/vorn";
    for (int i = 0; i < 16; i++, r >>= 4) name += hex[r & 15];

    int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      break;
    }
    // The umask may have taken bits away; the owner must still be able to reopen it.
    if (::fchmod(fd, 0600) < 0) {
      int saved = errno;
      ::close(fd);
      ::unlink(name.c_str());
      errno = saved;
      break;
    }
    filename = std::move(name);
    return fd;
  }
  filename.clear();
  return -1;
}

FILE* vornTempFile(std::string& filename) {
  vorn::unique_fd fd(vornTempFd(filename));
  if (!fd) return nullptr;
  FILE* fp = ::fdopen(fd.get(), "w+");
  if (!fp) {
    int saved = errno;
    ::unlink(filename.c_str());
    filename.clear();
    errno = saved;
    return nullptr;
  }
  fd.release();
  return fp;
}
