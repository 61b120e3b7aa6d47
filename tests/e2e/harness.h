// Shared harness of the end-to-end tests: a temporary server root with its
// vornd.conf, a free port on 127.0.0.1, and the built vornd run as a real
// process (in the foreground or as a daemon), signalled, stopped and read
// back through its logs. Every wait is bounded by a deadline.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// How long a wait for something that should happen may take. Generous, so a
// loaded machine running the sanitizer build does not fail a test that is
// merely slow; a wait that succeeds returns as soon as the condition holds.
inline constexpr milliseconds kWait = 30s;

// The vornd under test (the build passes its path in).
const char* VorndPath();

// Polls `condition` every 20 ms until it holds or `timeout` has passed.
bool WaitUntil(const std::function<bool()>& condition, milliseconds timeout = kWait);

std::string ReadFile(const std::string& path);

// How many times `what` occurs in `text` (a log, say), overlaps counted.
inline size_t count_of(std::string_view text, std::string_view what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) n++;
  return n;
}
bool WriteFile(const std::string& path, std::string_view content, mode_t mode = 0644);
bool FileExists(const std::string& path);

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreePort();

// Whether a TCP connection to 127.0.0.1:port (or [::1]:port) is accepted.
bool CanConnect(int port, bool ipv6 = false);

// A connected socket to 127.0.0.1:port, or -1. The caller closes it.
int ConnectTo(int port);

// Whether the peer of `fd` closed the connection within `timeout`.
bool PeerClosed(int fd, milliseconds timeout = kWait);

// The top of the source tree (where data/ and tests/ are).
std::string SourceDir();

// The path of a program found in PATH, or "" when there is none.
std::string FindProgram(std::string_view name);

// Writes all of `data` to the socket; false on failure.
bool SendAll(int fd, std::string_view data);

// A plain HTTP/1.x client over one socket, for tests that send exact bytes.
// Responses are read with their Content-Length (none for HEAD, 1xx, 204 and
// 304; until the close when there is no length).
class RawHttp {
 public:
  struct Response {
    int status = 0;        // 0 when no complete status line arrived
    std::string head;      // status line and header lines, as received
    std::string body;
    bool closed = false;   // the server closed the connection after it
    // A chunked body ("Transfer-Encoding: chunked") is decoded into `body`;
    // `complete` once its last chunk arrived, `chunks` counts them.
    bool chunked = false;
    bool complete = false;
    int chunks = 0;
    // The value of header `name` (case-insensitive), "" when absent.
    std::string Header(std::string_view name) const;
  };

  explicit RawHttp(int port);  // connects to 127.0.0.1:port
  ~RawHttp();
  RawHttp(const RawHttp&) = delete;
  RawHttp& operator=(const RawHttp&) = delete;

  bool connected() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  bool Send(std::string_view bytes) { return SendAll(fd_, bytes); }
  // Reads the next response; `head_request` when it answers a HEAD.
  Response Read(milliseconds timeout = kWait, bool head_request = false);
  // Send then Read.
  Response Exchange(std::string_view request, milliseconds timeout = kWait, bool head_request = false);

 private:
  // Reads more into buffer_; false on close, error or timeout.
  bool Fill(std::chrono::steady_clock::time_point deadline);
  int fd_ = -1;
  std::string buffer_;
  bool eof_ = false;
};

// The processes whose parent is `parent`.
std::vector<pid_t> ChildrenOf(pid_t parent);

// A program run to its end: exit status (or -1 when killed at the
// timeout), standard output and standard error.
struct RunResult {
  int exit_status = -1;
  int term_signal = 0;
  std::string out, err;
};
RunResult RunProgram(const std::vector<std::string>& argv, milliseconds timeout,
                     const std::string& input = "");

// A temporary server root: ServerRoot with logs/, spool/, spool/tmp/, doc/
// (with an index.html), ssl/ and a free port. Removed with its content.
class ServerRoot {
 public:
  ServerRoot();
  ~ServerRoot();
  ServerRoot(const ServerRoot&) = delete;
  ServerRoot& operator=(const ServerRoot&) = delete;

  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }
  std::string conf_path() const { return file("vornd.conf"); }
  int port() const { return port_; }

  // The lines every test configuration starts with: the paths of this root,
  // the logs under logs/, ServerName localhost, the current user and group,
  // LogLevel info, with `listen`, "Listen 127.0.0.1:<port>", and a Location
  // "/" open to everyone.
  std::string BaseConfig(bool listen = true) const;

  // Writes vornd.conf: BaseConfig then `extra` (later lines override).
  void WriteConfig(std::string_view extra = "", bool listen = true) const;

  std::string ErrorLog() const { return ReadFile(file("logs/error_log")); }
  std::string AccessLog() const { return ReadFile(file("logs/access_log")); }

  // Copies a file shipped in the source tree's data/ folder (vorn.types,
  // vorn.convs) into the server root, where a full reload reads it.
  bool InstallDataFile(std::string_view name) const;

  // A self-signed certificate for "localhost" in ssl/server.crt and
  // ssl/server.key (the openssl command); "" on success, else why not.
  std::string MakeCertificate() const;
  // The header line "Authorization: Local <root certificate>\r\n" of a
  // running vornd: how local administrators authenticate. "" when there is
  // no certificate.
  std::string RootAuthorization() const;

  // Waits until the error log contains `text`.
  bool WaitForLog(std::string_view text, milliseconds timeout = kWait) const;

 private:
  std::string path_;
  int port_ = 0;
};

// One vornd process. The destructor kills (SIGKILL) and reaps whatever is
// still running, also a daemon started without -f and the children of a
// parent that is still waiting for its daemon.
class Vornd {
 public:
  explicit Vornd(const ServerRoot& root) : root_(root) {}
  ~Vornd();
  Vornd(const Vornd&) = delete;
  Vornd& operator=(const Vornd&) = delete;

  // Starts vornd with `args` (e.g. {"-f", "-c", conf}); its standard output
  // and error go to files in the server root. False when it cannot start.
  bool Start(const std::vector<std::string>& args);

  // Foreground start: "-f -c <conf>" and wait until the port accepts.
  bool StartForeground(milliseconds timeout = kWait);

  // Daemon start: "-c <conf>"; waits for the parent to exit and returns its
  // exit status (-1 on timeout). When it is 0, daemon_pid() is the daemon.
  int StartDaemon(milliseconds timeout = kWait);

  // The process to signal: the daemon once one was found, else the started one.
  pid_t pid() const { return daemon_pid_ > 0 ? daemon_pid_ : pid_; }
  pid_t started_pid() const { return pid_; }
  pid_t daemon_pid() const { return daemon_pid_; }

  bool WaitListening(int port, milliseconds timeout = kWait, bool ipv6 = false);
  int Signal(int sig);

  // Waits for pid() to end; returns its wait status, or -1 on timeout.
  int Wait(milliseconds timeout = kWait);

  // SIGTERM and Wait.
  int Stop(milliseconds timeout = kWait);

  std::string Stdout() const;
  std::string Stderr() const;

 private:
  const ServerRoot& root_;
  pid_t pid_ = -1;
  pid_t daemon_pid_ = -1;
};

}  // namespace e2e
