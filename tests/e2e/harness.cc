#include "harness.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <strings.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "vorn/fd.h"

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

// Children of a daemon's parent become ours once that parent exits, so the
// tests can reap the daemon and see how it ended.
void become_subreaper() {
  static bool done = false;
  if (!done) ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  done = true;
}

std::string user_name() {
  const passwd* pw = ::getpwuid(::getuid());
  return pw ? pw->pw_name : std::to_string(::getuid());
}

std::string group_name() {
  const group* gr = ::getgrgid(::getgid());
  return gr ? gr->gr_name : std::to_string(::getgid());
}

// Waits for `pid` (our child) to end within `timeout`; its status, or -1.
int wait_child(pid_t pid, milliseconds timeout) {
  int status = -1;
  bool done = WaitUntil(
      [&] {
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD);
      },
      timeout);
  return done ? status : -1;
}

// The process whose parent is us and whose command line names `conf`.
pid_t find_daemon(const std::string& conf, pid_t not_this) {
  for (pid_t pid : ChildrenOf(::getpid())) {
    if (pid == not_this) continue;
    std::string cmdline = ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
    if (cmdline.find(conf) != std::string::npos) return pid;
  }
  return -1;
}

}  // namespace

std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  vorn::unique_dir proc(::opendir("/proc"));
  if (!proc) return children;
  while (dirent* e = ::readdir(proc.get())) {
    pid_t pid = std::atoi(e->d_name);
    if (pid <= 0) continue;
    std::string status = ReadFile("/proc/" + std::string(e->d_name) + "/status");
    size_t p = status.find("PPid:");
    if (p != std::string::npos && std::atoi(status.c_str() + p + 5) == parent) children.push_back(pid);
  }
  return children;
}

const char* VorndPath() { return VORND_PATH; }

std::string SourceDir() {
  // This file is compiled by its absolute path: tests/e2e/harness.cc.
  std::filesystem::path p(__FILE__);
  return p.parent_path().parent_path().parent_path().string();
}

std::string FindProgram(std::string_view name) {
  const char* path = std::getenv("PATH");
  std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  while (!dirs.empty()) {
    size_t colon = dirs.find(':');
    std::string candidate = std::string(dirs.substr(0, colon)) + "/" + std::string(name);
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) break;
    dirs.remove_prefix(colon + 1);
  }
  return "";
}

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(size_t(n));
  }
  return true;
}

std::string RawHttp::Response::Header(std::string_view name) const {
  size_t pos = head.find("\r\n");
  while (pos != std::string::npos && pos + 2 < head.size()) {
    size_t start = pos + 2, end = head.find("\r\n", start);
    std::string_view line(head.data() + start, (end == std::string::npos ? head.size() : end) - start);
    size_t colon = line.find(':');
    if (colon == name.size() && strncasecmp(line.data(), name.data(), name.size()) == 0) {
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      return std::string(value);
    }
    pos = end;
  }
  return "";
}

RawHttp::RawHttp(int port) : fd_(ConnectTo(port)) {}

RawHttp::~RawHttp() {
  if (fd_ >= 0) ::close(fd_);
}

bool RawHttp::Fill(Clock::time_point deadline) {
  if (eof_ || fd_ < 0) return false;
  auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return false;
  pollfd p{fd_, POLLIN, 0};
  int r = ::poll(&p, 1, int(left));
  if (r <= 0) return r < 0 && errno == EINTR ? Fill(deadline) : false;
  char buf[16384];
  ssize_t n = ::recv(fd_, buf, sizeof(buf), 0);
  if (n <= 0) {
    if (n < 0 && errno == EINTR) return Fill(deadline);
    eof_ = true;
    return false;
  }
  buffer_.append(buf, size_t(n));
  return true;
}

RawHttp::Response RawHttp::Read(milliseconds timeout, bool head_request) {
  Response r;
  auto deadline = Clock::now() + timeout;
  size_t end;
  while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
    if (!Fill(deadline)) {
      r.closed = eof_;
      return r;
    }
  }
  r.head = buffer_.substr(0, end + 2);
  buffer_.erase(0, end + 4);
  if (r.head.size() >= 12 && r.head.compare(0, 5, "HTTP/") == 0) r.status = std::atoi(r.head.c_str() + 9);
  std::string length = r.Header("Content-Length");
  bool no_body = head_request || r.status < 200 || r.status == 204 || r.status == 304;
  if (!no_body && r.Header("Transfer-Encoding") == "chunked") {
    // Each chunk: its size in hexadecimal, CRLF, the bytes, CRLF; a chunk
    // of size 0 and an empty line end the body.
    r.chunked = true;
    for (;;) {
      size_t eol;
      while ((eol = buffer_.find("\r\n")) == std::string::npos)
        if (!Fill(deadline)) return r.closed = eof_, r;
      size_t size = std::strtoul(buffer_.c_str(), nullptr, 16);
      r.chunks++;
      while (buffer_.size() < eol + 2 + size + 2)
        if (!Fill(deadline)) return r.closed = eof_, r;
      r.body.append(buffer_, eol + 2, size);
      buffer_.erase(0, eol + 2 + size + 2);
      if (size == 0) break;
    }
    r.complete = true;
  } else if (!no_body && !length.empty()) {
    size_t want = size_t(std::stoull(length));
    while (buffer_.size() < want && Fill(deadline)) {
    }
    r.body = buffer_.substr(0, want);
    buffer_.erase(0, r.body.size());
  } else if (!no_body) {
    while (Fill(deadline)) {
    }
    r.body.swap(buffer_);
  }
  r.closed = eof_;
  return r;
}

RawHttp::Response RawHttp::Exchange(std::string_view request, milliseconds timeout, bool head_request) {
  if (!Send(request)) return Response{};
  return Read(timeout, head_request);
}

bool WaitUntil(const std::function<bool()>& condition, milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WriteFile(const std::string& path, std::string_view content, mode_t mode) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  bool ok = ::write(fd, content.data(), content.size()) == ssize_t(content.size());
  ::fchmod(fd, mode);
  ::close(fd);
  return ok;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(a);
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

int ConnectTo(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool CanConnect(int port, bool ipv6) {
  int fd;
  int r;
  if (ipv6) {
    fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(uint16_t(port));
    a.sin6_addr = in6addr_loopback;
    r = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  } else {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    r = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  }
  ::close(fd);
  return r == 0;
}

bool PeerClosed(int fd, milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left < 0) return false;
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, int(left));
    if (r == 0) return false;
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    char buf[256];
    ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
    if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
    if (n < 0 && errno != EINTR && errno != EAGAIN) return false;
  }
}

RunResult RunProgram(const std::vector<std::string>& argv, milliseconds timeout,
                     const std::string& input) {
  RunResult result;
  char out_name[] = "/tmp/e2e-outXXXXXX", err_name[] = "/tmp/e2e-errXXXXXX";
  int out = ::mkostemp(out_name, O_CLOEXEC), err = ::mkostemp(err_name, O_CLOEXEC);
  int in_pipe[2];
  if (out < 0 || err < 0 || ::pipe2(in_pipe, O_CLOEXEC) != 0) return result;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in_pipe[0], 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(in_pipe[0]);
  if (!input.empty() && ::write(in_pipe[1], input.data(), input.size()) < 0) {
    // the program may not read its input
  }
  ::close(in_pipe[1]);
  int status = wait_child(pid, timeout);
  if (status == -1) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    status = -1;
  }
  if (status != -1) {
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.term_signal = WTERMSIG(status);
  }
  result.out = ReadFile(out_name);
  result.err = ReadFile(err_name);
  ::close(out);
  ::close(err);
  ::unlink(out_name);
  ::unlink(err_name);
  return result;
}

ServerRoot::ServerRoot() {
  char dir[] = "/tmp/vornd-e2e-XXXXXX";
  if (::mkdtemp(dir)) path_ = dir;
  for (const char* sub : {"logs", "spool", "spool/tmp", "doc", "ssl", "bin"})
    std::filesystem::create_directories(file(sub));
  WriteFile(file("doc/index.html"), "<html><body>vornd</body></html>\n");
  port_ = FreePort();
}

ServerRoot::~ServerRoot() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string ServerRoot::BaseConfig(bool listen) const {
  std::string c;
  c += "ServerRoot " + path_ + "\n";
  c += "RequestRoot " + file("spool") + "\n";
  c += "TempDir " + file("spool/tmp") + "\n";
  c += "DocumentRoot " + file("doc") + "\n";
  c += "ServerBin " + file("bin") + "\n";
  c += "DataDir " + file("data") + "\n";
  c += "ErrorLog logs/error_log\n";
  c += "AccessLog logs/access_log\n";
  c += "PageLog logs/page_log\n";
  c += "ServerName localhost\n";
  c += "User " + user_name() + "\n";
  c += "Group " + group_name() + "\n";
  c += "Printcap " + file("printcap") + "\n";
  c += "LogLevel info\n";
  if (listen) c += "Listen 127.0.0.1:" + std::to_string(port_) + "\n";
  // Every resource open to every host; /admin/conf still needs root.
  c += "<Location />\nOrder deny,allow\n</Location>\n";
  return c;
}

void ServerRoot::WriteConfig(std::string_view extra, bool listen) const {
  WriteFile(conf_path(), BaseConfig(listen) + std::string(extra));
}

bool ServerRoot::InstallDataFile(std::string_view name) const {
  std::error_code ec;
  std::filesystem::copy_file(SourceDir() + "/data/" + std::string(name), file(name),
                             std::filesystem::copy_options::overwrite_existing, ec);
  return !ec;
}

std::string ServerRoot::MakeCertificate() const {
  std::string openssl = FindProgram("openssl");
  if (openssl.empty()) return "the openssl command is needed";
  RunResult r = RunProgram({openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                            "-nodes", "-keyout", file("ssl/server.key"), "-out", file("ssl/server.crt"), "-days",
                            "1", "-subj", "/CN=localhost"},
                           60s);
  return r.exit_status == 0 ? "" : "openssl req failed: " + r.err;
}

std::string ServerRoot::RootAuthorization() const {
  std::string cert = ReadFile(file("certs/0"));
  return cert.empty() ? "" : "Authorization: Local " + cert + "\r\n";
}

bool ServerRoot::WaitForLog(std::string_view text, milliseconds timeout) const {
  return WaitUntil([&] { return ErrorLog().find(text) != std::string::npos; }, timeout);
}

Vornd::~Vornd() {
  if (pid_ > 0) {
    for (pid_t child : ChildrenOf(pid_)) ::kill(child, SIGKILL);
  }
  for (pid_t p : {daemon_pid_, pid_}) {
    if (p <= 0) continue;
    if (::kill(p, 0) == 0) ::kill(p, SIGKILL);
    wait_child(p, 5s);
  }
}

bool Vornd::Start(const std::vector<std::string>& args) {
  become_subreaper();
  std::string out = root_.file("vornd.stdout"), err = root_.file("vornd.stderr");
  int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out_fd < 0 || err_fd < 0) return false;
  pid_ = ::fork();
  if (pid_ == 0) {
    int null_fd = ::open("/dev/null", O_RDONLY);
    ::dup2(null_fd, 0);
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    std::vector<char*> argv{const_cast<char*>(VorndPath())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out_fd);
  ::close(err_fd);
  return pid_ > 0;
}

bool Vornd::StartForeground(milliseconds timeout) {
  // Ready once the root certificate is made too: it comes just after the
  // listeners open, and requests signed with it may be the first sent.
  return Start({"-f", "-c", root_.conf_path()}) && WaitListening(root_.port(), timeout) &&
         WaitUntil([&] { return FileExists(root_.file("certs/0")); }, timeout);
}

int Vornd::StartDaemon(milliseconds timeout) {
  if (!Start({"-c", root_.conf_path()})) return -1;
  int status = wait_child(pid_, timeout);
  pid_t parent = pid_;
  pid_ = -1;
  if (status == -1) {
    ::kill(parent, SIGKILL);
    wait_child(parent, 5s);
    return -1;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) daemon_pid_ = find_daemon(root_.conf_path(), parent);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool Vornd::WaitListening(int port, milliseconds timeout, bool ipv6) {
  return WaitUntil(
      [&] {
        if (pid() <= 0) return false;
        return CanConnect(port, ipv6);
      },
      timeout);
}

int Vornd::Signal(int sig) { return pid() > 0 ? ::kill(pid(), sig) : -1; }

int Vornd::Wait(milliseconds timeout) {
  pid_t p = pid();
  if (p <= 0) return -1;
  int status = wait_child(p, timeout);
  if (status != -1) {
    if (p == daemon_pid_)
      daemon_pid_ = -1;
    else
      pid_ = -1;
  }
  return status;
}

int Vornd::Stop(milliseconds timeout) {
  if (Signal(SIGTERM) != 0) return -1;
  return Wait(timeout);
}

std::string Vornd::Stdout() const { return ReadFile(root_.file("vornd.stdout")); }
std::string Vornd::Stderr() const { return ReadFile(root_.file("vornd.stderr")); }

}  // namespace e2e
