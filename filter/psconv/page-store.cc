#include "filter/psconv/page-store.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vorn/file.h"

page_store_t::~page_store_t() {
  if (map) ::munmap(const_cast<char*>(map), map_size);
  if (fp) {
    std::fclose(fp);
    ::unlink(name.c_str());
  }
}

bool page_store_t::open_temp() {
  fp = vornTempFile(name);
  if (!fp) return false;
  buffer.resize(65536);
  std::setvbuf(fp, buffer.data(), _IOFBF, buffer.size());
  return true;
}

bool page_store_t::use_source(FILE* in) {
  struct stat st {};
  const int fd = fileno(in);
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const off_t at = ::lseek(fd, 0, SEEK_CUR);
  if (at < 0) return false;
  source_fd = fd;
  source_base = long(at);
  return true;
}

bool page_store_t::map_all() {
  int fd = source_fd;
  size_t size = 0;
  if (fp) {
    std::fflush(fp);
    fd = fileno(fp);
    size = size_t(written);
  } else {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    size = size_t(st.st_size);
  }
  if (size == 0) return false;
  // Populated at once: one call instead of a fault for every page.
  void* m = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  if (m == MAP_FAILED) return false;
  map = static_cast<const char*>(m);
  map_size = size;
  return true;
}

void page_store_t::copy(size_t i, const std::function<void(const char*, size_t)>& sink) const {
  long from = spans[i].first;
  const long to = spans[i].second;
  if (from < 0 || to < from) return;
  if (map) {
    if (size_t(to) <= map_size) sink(map + from, size_t(to - from));
    return;
  }
  const int fd = fp ? fileno(fp) : source_fd;
  char block[8192];
  while (from < to) {
    size_t want = to - from > long(sizeof(block)) ? sizeof(block) : size_t(to - from);
    ssize_t got = ::pread(fd, block, want, from);
    if (got <= 0) return;
    sink(block, size_t(got));
    from += long(got);
  }
}
