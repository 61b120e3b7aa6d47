#include "backend/backend-common.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "vorn/http.h"

namespace vorn::backend {
namespace {

// printf into a string; lines longer than the status pipe takes are the
// reader's business, so nothing is cut here.
std::string vformat(const char* format, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  char small[512];
  int n = std::vsnprintf(small, sizeof(small), format, copy);
  va_end(copy);
  if (n < 0) return {};
  if (size_t(n) < sizeof(small)) return std::string(small, size_t(n));
  std::string out(size_t(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, ap);
  out.resize(size_t(n));
  return out;
}

// The copy count of argv[4]: its leading decimal digits as atoi reads them,
// saturated instead of overflowing.
int parse_copies(const char* text) {
  const char* p = text;
  while (*p == ' ' || *p == '\t') p++;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') p++;
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; p++) {
    value = value * 10 + (*p - '0');
    if (value > INT_MAX) value = INT_MAX;
  }
  return negative ? -int(value) : int(value);
}

}  // namespace

void status_line(const char* format, ...) {
  int saved = errno;
  va_list ap;
  va_start(ap, format);
  std::string line = vformat(format, ap);
  va_end(ap);
  write_all(2, line.data(), line.size());
  errno = saved;
}

void status_error(const char* text) {
  int saved = errno;
  status_line("%s: %s\n", text, std::strerror(saved));
  errno = saved;
}

void device_line(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string line = vformat(format, ap);
  va_end(ap);
  write_all(1, line.data(), line.size());
}

std::string quote_safe(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\' || u < 0x20 || u == 0x7f) c = ' ';
  }
  return out;
}

std::string device_directory() {
  const char* dir = std::getenv("VORN_BACKEND_DEVDIR");
  if (dir && dir[0] == '/') return dir;
  return "/dev";
}

std::string device_path(const std::string& uri, std::string* options) {
  char scheme[HTTP_MAX_SCHEME], user[HTTP_MAX_USER], host[HTTP_MAX_HOST], resource[HTTP_MAX_URI];
  int port = 0;
  httpSeparate(uri.c_str(), scheme, user, host, &port, resource);
  std::string path(resource);
  size_t q = path.find('?');
  if (options) *options = q == std::string::npos ? std::string() : path.substr(q + 1);
  if (q != std::string::npos) path.resize(q);
  return path;
}

bool local_device_path(std::string_view path) {
  if (!path.starts_with("/dev/") || path.size() == 5) return false;
  // Any ".." component could climb out of /dev.
  for (size_t at = 0; at < path.size();) {
    size_t end = path.find('/', at);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(at, end - at) == "..") return false;
    at = end + 1;
  }
  return true;
}

unique_fd open_local_device(const std::string& path, int flags, const OpenRetry* retries, size_t n_retries) {
  if (!local_device_path(path)) {
    errno = ENODEV;
    return unique_fd();
  }
  unique_fd fd = open_device(path.c_str(), flags, retries, n_retries);
  if (!fd) return fd;
  // The name may be a link planted below /dev (in /dev/shm, say): what was
  // opened decides, and the backend runs as root.
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return unique_fd();
  if (!S_ISCHR(st.st_mode)) {
    errno = ENODEV;
    return unique_fd();
  }
  return fd;
}

unique_fd open_device(const char* path, int flags, const OpenRetry* retries, size_t n_retries) {
  for (;;) {
    unique_fd fd(::open(path, flags | O_CLOEXEC));
    if (fd) return fd;
    int error = errno;
    const char* message = nullptr;
    for (size_t i = 0; i < n_retries && !message; i++) {
      if (retries[i].error == error) message = retries[i].message;
    }
    if (!message) {
      errno = error;
      return unique_fd();
    }
    status_line("%s", message);
    sleep(kRetrySeconds);
  }
}

void raw_local_modes(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;
  t.c_lflag &= ~tcflag_t(ICANON | ECHO | ISIG);
  tcsetattr(fd, TCSANOW, &t);
}

void protect_stdin_job(const BackendJob& job) {
  if (!job.from_file) signal(SIGTERM, SIG_IGN);
}

void begin_copy(const BackendJob& job) {
  if (!job.from_file) return;
  status_line("PAGE: 1 1\n");
  lseek(job.input, 0, SEEK_SET);  // fails harmlessly on a pipe
}

int write_block(int device, const char* data, size_t len) {
  bool retried = false;
  while (len > 0) {
    ssize_t n = write_retry(device, data, len);
    if (n < 0 && errno == ENOTTY && !retried) {
      retried = true;
      continue;
    }
    if (n < 0) {
      int error = errno;
      status_error("ERROR: Unable to send print file to printer");
      return error;
    }
    data += n;
    len -= size_t(n);
  }
  return 0;
}

size_t send_copy(const BackendJob& job, int device, size_t block) {
  if (block < 1) block = 1;
  if (block > kBlockSize) block = kBlockSize;
  char buffer[kBlockSize];
  unsigned long sent = 0;
  size_t failed = 0;
  for (;;) {
    ssize_t n = read_retry(job.input, buffer, block);
    if (n < 0) {
      // Data that cannot be read is not printed: the job must not pass.
      status_error("ERROR: Unable to read print data");
      return failed + 1;
    }
    if (n == 0) break;
    sent += (unsigned long)n;
    if (write_block(device, buffer, size_t(n)) != 0) failed++;
    if (job.from_file) status_line("INFO: Sending print file, %lu bytes...\n", sent);
  }
  return failed;
}

size_t copy_loop(const BackendJob& job, int device) {
  protect_stdin_job(job);
  size_t failed = 0;
  for (int copy = 0; copy < job.copies; copy++) {
    begin_copy(job);
    failed += send_copy(job, device, kBlockSize);
  }
  return failed;
}

int finish_job(size_t failed_blocks) {
  if (failed_blocks > 0) {
    status_line("ERROR: Print file was not sent completely!\n");
    return 1;
  }
  status_line("INFO: Ready to print.\n");
  return 0;
}

bool start_backend(int argc, char* argv[], std::string_view usage, ListDevices list,
                   BackendJob* job, int* status) {
  setvbuf(stderr, nullptr, _IONBF, 0);
  signal(SIGPIPE, SIG_IGN);

  if (argc == 1) {
    if (list) list();
    *status = 0;
    return false;
  }
  if (argc < 6 || argc > 7) {
    write_all(2, usage.data(), usage.size());
    *status = 1;
    return false;
  }

  // argv[0] is what ps shows: the scheduler puts the URI there without its
  // user and password, which only the environment carries.
  const char* device_uri = std::getenv("DEVICE_URI");
  job->uri = device_uri && *device_uri ? device_uri : argv[0];
  if (argc == 6) {
    job->input = 0;
    job->from_file = false;
    job->copies = 1;
  } else {
    job->file = unique_fd(::open(argv[6], O_RDONLY | O_CLOEXEC));
    if (!job->file) {
      status_error("ERROR: unable to open print file");
      *status = 1;
      return false;
    }
    job->input = job->file.get();
    job->from_file = true;
    job->copies = parse_copies(argv[4]);
  }
  return true;
}

}  // namespace vorn::backend
