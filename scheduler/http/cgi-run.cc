// Running CGI programs: the start with its output pipe and local
// certificate, the end seen by the reaper, and the lines the programs write
// to the shared error pipe.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "scheduler/auth/certs.h"
#include "scheduler/conf/conf.h"
#include "scheduler/fdset.h"
#include "scheduler/http/cgi.h"
#include "scheduler/http/client.h"
#include "scheduler/log.h"
#include "scheduler/run/run.h"
#include "scheduler/server.h"
#include "scheduler/signals.h"
#include "vorn/strings.h"

namespace {

struct cgi_prefix_t {
  std::string_view prefix;
  int level;
};
constexpr cgi_prefix_t kLevels[] = {
    {"EMERG:", L_EMERG}, {"ALERT:", L_ALERT},     {"CRIT:", L_CRIT},   {"ERROR:", L_ERROR},
    {"WARNING:", L_WARN}, {"NOTICE:", L_NOTICE}, {"INFO:", L_INFO},   {"DEBUG:", L_DEBUG},
    {"DEBUG2:", L_DEBUG2},
};

// The CGI error pipe's line buffer and the bytes in it, kept between calls.
// A line is logged in pieces that fit a log message ("[CGI] " and at most
// 1023 characters in all), so none of it is cut off.
constexpr size_t kErrorLine = 1024;
constexpr size_t kErrorPiece = 1023 - 6;
char ErrorBuffer[kErrorLine];
size_t ErrorUsed = 0;

void log_cgi_line(std::string_view line) {
  int level;
  std::string_view text;
  if (!CGILogLine(line, &level, &text)) return;
  LogDiagnostic(level, "[CGI] %.*s", int(text.size()), text.data());
}

}  // namespace

bool CGILogLine(std::string_view line, int* level, std::string_view* text) {
  if (line.starts_with("PAGE:")) return false;
  for (const cgi_prefix_t& p : kLevels) {
    if (!line.starts_with(p.prefix)) continue;
    line.remove_prefix(p.prefix.size());
    while (!line.empty() && vorn::isspace(line.front())) line.remove_prefix(1);
    *level = p.level;
    *text = line;
    return true;
  }
  *level = L_DEBUG;
  *text = line;
  return true;
}

pid_t pipe_command(client_t* con, int infd, int* outfd, const std::string& command, const std::string& options) {
  *outfd = -1;
  std::vector<std::string> args = CGIArguments(command, options);
  std::vector<std::string> env = CGIEnvironment(con);
  if (LogLevel >= L_DEBUG2) {
    for (size_t i = 0; i < args.size(); i++) LogDiagnostic(L_DEBUG2, "argv[%d] = \"%s\"", int(i), args[i].c_str());
    for (size_t i = 0; i < env.size(); i++) LogDiagnostic(L_DEBUG2, "envp[%d] = \"%s\"", int(i), env[i].c_str());
  }
  // A program that cannot be executed is answered 404 rather than with an
  // empty page from a child that failed.
  if (command.empty() || ::access(command.c_str(), X_OK) != 0) {
    LogDiagnostic(L_ERROR, "Unable to execute CGI %s - %s", command.empty() ? "(no interpreter)" : command.c_str(),
                  std::strerror(command.empty() ? ENOENT : errno));
    return 0;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    LogDiagnostic(L_ERROR, "Unable to create pipes for CGI %s - %s", command.c_str(), std::strerror(errno));
    return 0;
  }
  vorn::unique_fd read_end(fds[0]), write_end(fds[1]);
  std::vector<char*> argv = ArgPointers(args), envp = ArgPointers(env);
  int errfd = CGIPipeWrite ? CGIPipeWrite.get() : -1;

  // Held until the certificate is recorded: the reaper deletes it, and
  // must find it even for a program that ends at once.
  BlockChildSignals();
  pid_t pid = start_cgi_process(command.c_str(), argv.data(), envp.data(), infd, write_end.get(), errfd, nullptr);
  if (pid > 0) {
    AddCert(pid, con->username);
    LogDiagnostic(L_DEBUG, "CGI %s started - PID = %d", command.c_str(), int(pid));
  }
  UnblockChildSignals();
  write_end.reset();  // the end of the output is seen once the program's copy closes
  if (pid <= 0) return 0;
  ::fcntl(read_end.get(), F_SETFL, ::fcntl(read_end.get(), F_GETFL) | O_NONBLOCK);
  *outfd = read_end.release();
  return pid;
}

int SendCommand(client_t* con, const std::string& command, const std::string& options) {
  http_t& http = con->http;
  int fd = http.fd;
  const char* input_name = con->filename.empty() ? "/dev/null" : con->filename.c_str();
  vorn::unique_fd input(::open(input_name, O_RDONLY | O_CLOEXEC));
  if (!input) {
    LogDiagnostic(L_ERROR, "Unable to open \"%s\" for CGI %s - %s", input_name, command.c_str(),
                  std::strerror(errno));
    return 0;
  }
  int pipe = -1;
  pid_t pid = pipe_command(con, input.get(), &pipe, command, options);
  LogDiagnostic(L_INFO, "Started \"%s\" (pid=%d)", command.c_str(), int(pid));
  LogDiagnostic(L_DEBUG, "SendCommand() %d file=%d", fd, pipe);
  if (pid == 0) return 0;

  con->file.reset(pipe);
  con->file_remaining = 0;
  con->cgi_pid = pid;
  con->cgi_output = true;
  con->cgi_headers_done = false;
  con->cgi_line.clear();
  con->cgi_fields.clear();
  con->cgi_status = http_status_t(0);
  con->cgi_reason.clear();
  con->cgi_location = false;
  LogDiagnostic(L_DEBUG2, "SendCommand: Adding fd %d to InputSet...", pipe);
  InputSet.set(pipe);
  LogDiagnostic(L_DEBUG2, "SendCommand: Adding fd %d to OutputSet...", fd);

  // The status line waits for the program's header lines, which may
  // change it (RelayCGIOutput).
  http.data_encoding = http.version == HTTP_1_1 ? HTTP_ENCODE_CHUNKED : HTTP_ENCODE_LENGTH;
  http.data_remaining = 0;
  QueueOutput(con, "");
  return 1;
}

void CGIExited(pid_t pid) {
  if (pid <= 0) return;
  for (const auto& con : Clients) {
    if (con->cgi_pid != pid) continue;
    LogDiagnostic(L_DEBUG, "CGI program %d of client %d has ended.", int(pid), con->http.fd);
    con->cgi_pid = 0;
  }
}

void UpdateCGI() {
  if (!CGIPipeRead) return;
  int fd = CGIPipeRead.get();
  ssize_t n = ::read(fd, ErrorBuffer + ErrorUsed, kErrorPiece - ErrorUsed);
  if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return;
  if (n <= 0) {
    int err = n < 0 ? errno : 0;
    if (ErrorUsed > 0) log_cgi_line(std::string_view(ErrorBuffer, ErrorUsed));
    ErrorUsed = 0;
    LogDiagnostic(L_ERROR, "UpdateCGI: error reading from CGI error pipe - %s",
                  err ? std::strerror(err) : "end of file");
    // Watched any longer, the pipe would be readable (at its end) on every
    // pass of the loop.
    InputSet.clear(fd);
    return;
  }
  ErrorUsed += size_t(n);
  std::string_view data(ErrorBuffer, ErrorUsed);
  size_t start = 0;
  for (size_t nl; (nl = data.find('\n', start)) != std::string_view::npos; start = nl + 1)
    log_cgi_line(data.substr(start, nl - start));
  if (start == 0 && ErrorUsed == kErrorPiece) {
    // A longer line is logged in pieces.
    log_cgi_line(data);
    start = ErrorUsed;
  }
  std::memmove(ErrorBuffer, ErrorBuffer + start, ErrorUsed - start);
  ErrorUsed -= start;
}
