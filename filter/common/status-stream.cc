#include "filter/common/status-stream.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <string>

namespace {

struct status_sink {
  int fd;
  std::string pending;  // bytes not yet written, the last line maybe partial
};

bool write_all(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= size_t(w);
  }
  return true;
}

// Writes the complete lines of `pending`, at most PIPE_BUF bytes a write.
bool drain(status_sink* s, bool all) {
  size_t start = 0;
  while (start < s->pending.size()) {
    size_t end = s->pending.rfind('\n', std::min(s->pending.size(), start + PIPE_BUF) - 1);
    if (end == std::string::npos || end < start) {
      // One line longer than a batch: it goes out as it is, in one piece.
      end = s->pending.find('\n', start);
      if (end == std::string::npos) {
        if (!all) break;
        end = s->pending.size() - 1;
      }
    }
    if (!write_all(s->fd, s->pending.data() + start, end + 1 - start)) return false;
    start = end + 1;
  }
  s->pending.erase(0, start);
  return true;
}

ssize_t sink_write(void* cookie, const char* buf, size_t size) {
  auto* s = static_cast<status_sink*>(cookie);
  s->pending.append(buf, size);
  if (!drain(s, false)) return -1;
  return ssize_t(size);
}

int sink_close(void* cookie) {
  auto* s = static_cast<status_sink*>(cookie);
  bool ok = drain(s, true);
  delete s;
  return ok ? 0 : -1;
}

}  // namespace

FILE* open_status_stream(int fd) {
  auto* s = new status_sink{fd, {}};
  cookie_io_functions_t io{nullptr, sink_write, nullptr, sink_close};
  FILE* fp = fopencookie(s, "w", io);
  if (!fp) {
    delete s;
    return nullptr;
  }
  // Half a pipe buffer: with the partial line kept from the last batch, the
  // complete lines of one batch fit into one atomic write.
  std::setvbuf(fp, nullptr, _IOFBF, PIPE_BUF / 2);
  return fp;
}
