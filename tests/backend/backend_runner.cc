#include "backend_runner.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace backend_test {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> CStrings(const std::vector<std::string>& v) {
  std::vector<char*> out;
  for (const std::string& s : v) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : int(left);
}

// Reads what is ready on the child's outputs, waiting at most `wait_ms`.
// Returns false once both have reached their end.
bool Pump(Child* c, int wait_ms) {
  pollfd p[2];
  int n = 0;
  if (c->out) p[n++] = {c->out.get(), POLLIN, 0};
  if (c->err) p[n++] = {c->err.get(), POLLIN, 0};
  if (n == 0) return false;
  if (poll(p, nfds_t(n), wait_ms) <= 0) return true;
  for (int i = 0; i < n; i++) {
    if (!p[i].revents) continue;
    bool is_out = c->out && p[i].fd == c->out.get();
    char buf[65536];
    ssize_t got = vorn::read_retry(p[i].fd, buf, sizeof(buf));
    if (got <= 0) {
      (is_out ? c->out : c->err).reset();
    } else {
      (is_out ? c->out_text : c->err_text).append(buf, size_t(got));
    }
  }
  return true;
}

void Reap(Child* c, bool block) {
  if (c->pid <= 0 || c->done) return;
  int st = 0;
  pid_t r = waitpid(c->pid, &st, block ? 0 : WNOHANG);
  if (r != c->pid) return;
  c->done = true;
  c->status = WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
}

}  // namespace

std::vector<std::string> JobArgs(const std::string& uri, const std::string& copies,
                                 const std::string& file) {
  std::vector<std::string> argv = {uri, "42", "alice", "quarterly report", copies,
                                   "sides=one-sided nocollate"};
  if (!file.empty()) argv.push_back(file);
  return argv;
}

std::vector<std::string> JobEnv(const std::string& uri, const std::vector<std::string>& extra) {
  std::vector<std::string> env = {
      "PATH=/usr/lib/vorn/filter:/bin:/usr/bin",
      "SOFTWARE=VORN/1.1",
      "USER=root",
      "CHARSET=utf-8",
      "LANG=en_US",
      "TZ=",
      "PPD=/etc/vorn/ppd/office.ppd",
      "VORN_SERVERROOT=/etc/vorn",
      "RIP_MAX_CACHE=8m",
      "TMPDIR=/tmp",
      "CONTENT_TYPE=application/octet-stream",
      "DEVICE_URI=" + uri,
      "PRINTER=office",
      "VORN_DATADIR=/usr/share/vorn",
      "VORN_FONTPATH=/usr/share/vorn/fonts",
  };
  // The sanitizers of a test build read their settings from here.
  for (const char* name : {"LD_LIBRARY_PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
    if (const char* v = std::getenv(name)) env.push_back(std::string(name) + "=" + v);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

Child::~Child() {
  if (pid > 0 && !done) {
    kill(pid, SIGKILL);
    Reap(this, true);
  }
}

bool Start(Child* c, const char* program, const std::vector<std::string>& argv,
           const std::vector<std::string>& env, int stdin_fd) {
  int in[2] = {-1, -1}, out[2], err[2];
  if (stdin_fd < 0 && pipe2(in, O_CLOEXEC) != 0) return false;
  if (pipe2(out, O_CLOEXEC) != 0) return false;
  if (pipe2(err, O_CLOEXEC) != 0) return false;
  vorn::unique_fd in_r(in[0]), in_w(in[1]), out_r(out[0]), out_w(out[1]), err_r(err[0]),
      err_w(err[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdin_fd >= 0 ? stdin_fd : in_r.get(), 0);
  posix_spawn_file_actions_adddup2(&actions, out_w.get(), 1);
  posix_spawn_file_actions_adddup2(&actions, err_w.get(), 2);
  // The backend runs with the default SIGTERM and SIGPIPE handling the
  // scheduler gives its children.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<char*> a = CStrings(argv), e = CStrings(env);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, program, &actions, &attr, a.data(), e.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return false;
  c->pid = pid;
  c->in = std::move(in_w);
  c->out = std::move(out_r);
  c->err = std::move(err_r);
  return true;
}

bool WaitForStderr(Child* c, std::string_view text, milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (c->err_text.find(text) == std::string::npos) {
    if (Clock::now() >= deadline) return false;
    if (!Pump(c, std::min(RemainingMs(deadline), 100))) {
      return c->err_text.find(text) != std::string::npos;
    }
  }
  return true;
}

bool Finish(Child* c, milliseconds timeout) {
  c->in.reset();
  auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline && Pump(c, std::min(RemainingMs(deadline), 100))) {
  }
  while (Clock::now() < deadline) {
    Reap(c, false);
    if (c->done) return true;
    usleep(10000);
  }
  kill(c->pid, SIGKILL);
  Reap(c, true);
  return false;
}

Result RunBackend(const char* program, const std::vector<std::string>& argv,
           const std::vector<std::string>& env, const std::string& stdin_path,
           milliseconds timeout) {
  Result r;
  vorn::unique_fd input(open(stdin_path.empty() ? "/dev/null" : stdin_path.c_str(),
                             O_RDONLY | O_CLOEXEC));
  if (!input) return r;
  Child c;
  if (!Start(&c, program, argv, env, input.get())) return r;
  input.reset();
  bool ok = Finish(&c, timeout);
  r.status = ok ? c.status : -1000;
  r.out = c.out_text;
  r.err = c.err_text;
  return r;
}

TempDir::TempDir(const char* parent) {
  std::string tmpl = std::string(parent ? parent : "/tmp") + "/vorn-backend-XXXXXX";
  if (mkdtemp(tmpl.data())) path_ = tmpl;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

bool WriteFile(const std::string& path, std::string_view data) {
  vorn::unique_fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  return fd && vorn::write_all(fd.get(), data.data(), data.size()) == 0;
}

std::string ReadFile(const std::string& path) {
  std::string out;
  vorn::unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return out;
  char buf[65536];
  ssize_t n;
  while ((n = vorn::read_retry(fd.get(), buf, sizeof(buf))) > 0) out.append(buf, size_t(n));
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    out.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

int CountLines(const std::string& text, std::string_view line) {
  int n = 0;
  for (const std::string& l : Lines(text)) n += l == line;
  return n;
}

int CountPrefix(const std::string& text, std::string_view prefix) {
  int n = 0;
  for (const std::string& l : Lines(text)) n += l.compare(0, prefix.size(), prefix) == 0;
  return n;
}

std::string BinaryData(size_t size) {
  std::string out(size, '\0');
  unsigned x = 12345;
  for (size_t i = 0; i < size; i++) {
    // Every byte value in turn for the first 256, then a simple mix.
    x = x * 1103515245u + 12345u;
    out[i] = char(i < 256 ? i : (x >> 16) & 0xff);
  }
  return out;
}

}  // namespace backend_test
