// Writing responses: header lines, status and error responses, files and
// IPP responses sent piecewise as the socket drains.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

#include "scheduler/http/cgi.h"
#include "scheduler/http/client-private.h"
#include "scheduler/conf/conf.h"
#include "scheduler/fdset.h"
#include "scheduler/auth/location.h"
#include "scheduler/log.h"
#include "scheduler/sync-queue.h"
#include "vorn/ipp-http.h"
#include "vorn/strings.h"

namespace {

constexpr size_t kFileBlock = 16384;   // file bytes read by one call
constexpr size_t kMaxErrorBody = 1023;  // characters of an error page

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(text, sizeof(text), fmt, ap);
  va_end(ap);
  return text;
}

// Reply bytes handed to the socket by one call at most: a fast client
// cannot keep the loop from the others.
constexpr size_t kMaxSendPerCall = 65536;

// The output buffer is filled up to this before it is sent: a large reply
// goes out in few passes of the loop, and is never buffered whole.
constexpr size_t kOutputFill = kMaxSendPerCall;

// The IPP codec's sink: the response is encoded into the output buffer
// while it holds less than kOutputFill, so a large response is encoded as
// it is sent rather than all at once.
ssize_t queue_ipp_bytes(void* ctx, uint8_t* buf, size_t len) {
  auto* con = static_cast<client_t*>(ctx);
  if (con->output.size() >= kOutputFill) return 0;
  size_t n = std::min(len, kOutputFill - con->output.size());
  con->output.append(reinterpret_cast<const char*>(buf), n);
  return ssize_t(n);
}

// Sends what the socket takes now. False when the connection failed.
bool flush_output(client_t* con) {
  size_t sent = 0;
  while (sent < con->output.size() && sent < kMaxSendPerCall) {
    size_t piece = std::min(con->output.size() - sent, kMaxSendPerCall - sent);
    int n = httpWriteSome(&con->http, con->output.data() + sent, int(piece));
    if (n < 0) {
      LogDiagnostic(L_DEBUG, "WriteClient: %d write failed - %s", con->http.fd, std::strerror(con->http.error));
      return false;
    }
    if (n == 0) break;
    sent += size_t(n);
  }
  con->output.erase(0, sent);
  return true;
}

// Result of produce_response while a CGI program has nothing new yet.
constexpr int kWaitForCGI = 2;

// What the CGI program's pipe has now, relayed into the output.
int relay_cgi(client_t* con) {
  int fd = con->http.fd;
  static char block[kFileBlock];  // one thread; too large for the stack of every call
  ssize_t n = ::read(con->file.get(), block, sizeof(block));
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return kWaitForCGI;
  if (n < 0) {
    LogDiagnostic(L_ERROR, "WriteClient: %d unable to read the output of CGI program %d - %s", fd,
                  int(con->cgi_pid), std::strerror(errno));
    return -1;
  }
  if (n == 0) {
    EndCGIOutput(con);
    return 0;
  }
  if (n >= 1024) LogDiagnostic(L_DEBUG2, "WriteClient() %d %d bytes", fd, int(n));
  // The program's progress counts as activity of the connection.
  con->http.activity = ::time(nullptr);
  RelayCGIOutput(con, std::string_view(block, size_t(n)));
  con->byte_count += n;
  return 1;
}

// The next piece of the response being sent, appended to the output: a
// block of the file or of the encoded IPP response. 1 while more follows,
// 0 when the response is complete, -1 when it cannot be completed,
// kWaitForCGI when a CGI program has nothing to add yet.
int produce_response(client_t* con) {
  int fd = con->http.fd;
  if (con->ipp_response) {
    ipp_state_t state = ippWriteIO(con, queue_ipp_bytes, 0, nullptr, con->ipp_response.get());
    if (state == IPP_ERROR) return -1;
    if (state != IPP_DATA) return 1;
    con->byte_count += int64_t(ippLength(con->ipp_response.get()));
    return 0;
  }
  if (!con->file) return 0;
  if (con->cgi_output) return relay_cgi(con);
  // Files are sent up to the Content-Length announced.
  size_t want = size_t(std::min<int64_t>(int64_t(kFileBlock), con->file_remaining));
  if (want == 0) return 0;
  std::string& out = con->output;
  size_t start = out.size();
  out.resize(start + want);
  ssize_t n = vorn::read_retry(con->file.get(), out.data() + start, want);
  out.resize(start + size_t(n > 0 ? n : 0));
  if (n <= 0) {
    // Unreadable, or shorter than announced: the client would wait for
    // bytes that never come.
    LogDiagnostic(L_ERROR, "WriteClient: %d file ended %lld bytes early - %s", fd,
                  static_cast<long long>(con->file_remaining), n < 0 ? std::strerror(errno) : "truncated");
    return -1;
  }
  if (n >= 1024) LogDiagnostic(L_DEBUG2, "WriteClient() %d %d bytes", fd, int(n));
  con->byte_count += n;
  con->file_remaining -= n;
  return con->file_remaining > 0 ? 1 : 0;
}

// The output is sent and no response is in progress: the TLS handshake of
// an upgrade starts, a closing connection drains, a kept-alive one waits for
// its next request. Same result as WriteClient.
int output_sent(client_t* con) {
  http_t& http = con->http;
  int fd = http.fd;
  OutputSet.clear(fd);
  if (con->tls_after_output) {
    con->tls_after_output = false;
    InputSet.set(fd);
    if (!EncryptClient(con)) {
      CloseClient(con);
      return 0;
    }
    if (con->handshake) return 1;
    con->upgrading = false;
    return answer_request(con);
  }
  if (http.state != HTTP_WAITING) return 1;  // a request body is still arriving
  if (con->closing || http.keep_alive == HTTP_KEEPALIVE_OFF) {
    begin_drain(con);
    return 1;
  }
  // The next request may already be waiting.
  InputSet.set(fd);
  return 1;
}

}  // namespace

std::string FormatHeader(const client_t* con, http_status_t code, const char* type) {
  const http_t& http = con->http;
  std::string out = format("HTTP/%d.%d %d %s\r\n", http.version / 100, http.version % 100, int(code),
                           httpStatus(code));
  out += "Date: ";
  out += httpGetDateString(::time(nullptr));
  out += "\r\nServer: VORN/1.1\r\n";
  if (http.keep_alive == HTTP_KEEPALIVE_ON && http.version >= HTTP_1_0)
    out += format("Connection: Keep-Alive\r\nKeep-Alive: timeout=%d\r\n", KeepAliveTimeout);
  if (code == HTTP_METHOD_NOT_ALLOWED) out += "Allow: GET, HEAD, OPTIONS, POST\r\n";
  if (code == HTTP_UNAUTHORIZED) {
    // The location that refused the request says which scheme it expects.
    if (con->auth_location && con->auth_location->auth_type == AUTH_DIGEST)
      out += format("WWW-Authenticate: Digest realm=\"VORN\", nonce=\"%s\"\r\n", http.hostname);
    else
      out += "WWW-Authenticate: Basic realm=\"VORN\"\r\n";
  }
  if (con->language) {
    out += format("Content-Language: %s\r\n", con->language->language.c_str());
    if (type) out += format("Content-Type: %s; charset=%s\r\n", type, vornLangEncoding(con->language.get()));
  } else if (type) {
    out += format("Content-Type: %s\r\n", type);
  }
  return out;
}

void QueueOutput(client_t* con, std::string_view bytes) {
  con->output.append(bytes);
  OutputSet.set(con->http.fd);
}

int SendHeader(client_t* con, http_status_t code, const char* type) {
  QueueOutput(con, FormatHeader(con, code, type));
  return 1;
}

int SendError(client_t* con, http_status_t code) {
  http_t& http = con->http;
  if (con->request_time) WriteAccessLine(con, code);
  LogDiagnostic(L_DEBUG, "SendError() %d code=%d", http.fd, int(code));
  if (code >= HTTP_BAD_REQUEST) http.keep_alive = HTTP_KEEPALIVE_OFF;

  std::string out = FormatHeader(con, code, nullptr);
  if (code == HTTP_UPGRADE_REQUIRED) out += "Connection: Upgrade\r\n";
  out += "Upgrade: TLS/1.0,HTTP/1.1\r\n";
  if ((http.version >= HTTP_1_1 && http.keep_alive == HTTP_KEEPALIVE_OFF) ||
      (code >= HTTP_BAD_REQUEST && code != HTTP_UPGRADE_REQUIRED))
    out += "Connection: close\r\n";
  if (code >= HTTP_BAD_REQUEST) {
    const char* text = httpStatus(code);
    const char* message = con->language ? vornLangString(con->language.get(), int(code)) : nullptr;
    if (!message) message = text;
    std::string body = format("<HTML><HEAD><TITLE>%d %s</TITLE></HEAD><BODY><H1>%s</H1>%s</BODY></HTML>\n",
                              int(code), text, text, message);
    body = vorn::cut(body, kMaxErrorBody);
    out += format("Content-Type: text/html\r\nContent-Length: %d\r\n\r\n", int(body.size()));
    out += body;
  } else {
    // Without a length a kept-alive client could not tell where this
    // response ends; 1xx and 304 have no body by definition.
    if (code >= HTTP_OK && code != HTTP_NO_CONTENT && code != HTTP_NOT_MODIFIED) out += "Content-Length: 0\r\n";
    out += "\r\n";
  }
  http.state = HTTP_WAITING;
  QueueOutput(con, out);
  return 1;
}

int SendFile(client_t* con, http_status_t code, const char* filename, const char* type,
             const struct stat& filestats) {
  int fd = con->http.fd;
  // A small file served before and unchanged since goes out of memory.
  std::shared_ptr<const std::string> kept = FileBytes(filename, filestats);
  if (!kept) {
    con->file.reset(::open(filename, O_RDONLY | O_CLOEXEC));
    LogDiagnostic(L_DEBUG, "SendFile() %d file=%d", fd, con->file.get());
    if (!con->file) return 0;
  }
  con->cgi_pid = 0;
  con->file_remaining = filestats.st_size;
  con->http.data_encoding = HTTP_ENCODE_LENGTH;
  con->http.data_remaining = 0;  // counted in file_remaining
  std::string header = FormatHeader(con, code, type);
  header += "Last-Modified: ";
  header += httpGetDateString(filestats.st_mtime);
  header += format("\r\nContent-Length: %lld\r\n\r\n", static_cast<long long>(filestats.st_size));
  if (kept) {
    header += *kept;
    con->file_remaining = 0;
    con->byte_count += int64_t(kept->size());
  }
  LogDiagnostic(L_DEBUG2, "SendFile: Adding fd %d to OutputSet...", fd);
  QueueOutput(con, header);
  return 1;
}

void ShutdownClient(client_t* con) {
  int fd = con->http.fd;
  con->http.used = 0;
  con->http.keep_alive = HTTP_KEEPALIVE_OFF;
  con->closing = true;
  LogDiagnostic(L_DEBUG2, "ShutdownClient: Removing fd %d from InputSet...", fd);
  InputSet.clear(fd);
  // Even with nothing left to send, WriteClient starts the drain.
  OutputSet.set(fd);
}

void begin_drain(client_t* con) {
  http_t& http = con->http;
  int fd = http.fd;
  // close_notify first: a TLS client then knows the answer was complete.
  shutdown_tls(con);
  ::shutdown(fd, SHUT_WR);
  http.used = 0;
  con->closing = true;
  con->drain_until = ::time(nullptr) + std::min(kDrainSeconds, Timeout > 0 ? Timeout : kDrainSeconds);
  LogDiagnostic(L_DEBUG2, "WriteClient: %d answer sent, waiting for the client to close", fd);
  OutputSet.clear(fd);
  InputSet.set(fd);
}

int drain_input(client_t* con) {
  // One thread; too large for the stack of every call. Large, so that the
  // rest of a big body is dropped in few passes of the loop, well before
  // the drain time runs out.
  static char discard[64 * 1024];
  ssize_t n = ::recv(con->http.fd, discard, sizeof(discard), MSG_DONTWAIT);
  if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))) return 1;
  // The client closed its end (or reset): nothing more to wait for.
  CloseClient(con);
  return 0;
}

bool ClientDrainExpired(const client_t* con, time_t now) {
  return con->drain_until != 0 && now >= con->drain_until;
}

void finish_response(client_t* con) {
  http_t& http = con->http;
  int fd = http.fd;
  WriteAccessLine(con, con->cgi_output && con->cgi_status ? con->cgi_status : HTTP_OK);
  if (http.data_encoding == HTTP_ENCODE_CHUNKED) con->output += "0\r\n\r\n";
  http.state = HTTP_WAITING;
  if (con->file) {
    int file = con->file.get();
    LogDiagnostic(L_DEBUG2, "WriteClient: Removing fd %d from InputSet...", file);
    InputSet.clear(file);
    // cgi_pid is cleared when the program is reaped: a number still set
    // is our child (running, or ended and not yet reaped).
    if (con->cgi_pid > 0) {
      LogDiagnostic(L_DEBUG, "WriteClient: %d sending SIGTERM to CGI program %d.", fd, int(con->cgi_pid));
      ::kill(con->cgi_pid, SIGTERM);
    } else if (con->cgi_output) {
      LogDiagnostic(L_DEBUG, "WriteClient: %d CGI program already ended, no signal sent.", fd);
    }
    LogDiagnostic(L_DEBUG2, "WriteClient: %d Closing data file %d.", fd, file);
    con->file.reset();
  }
  // The client has no program running for it any more; the reaper still
  // deletes the program's certificate.
  con->cgi_pid = 0;
  con->cgi_output = false;
  if (!con->filename.empty()) {
    LogDiagnostic(L_DEBUG2, "WriteClient: %d Removing temp file %s", fd, con->filename.c_str());
    remove_request_file(con);
  }
  con->ipp_request.reset();
  con->ipp_response.reset();
  con->command.clear();
  con->options.clear();
}

bool ClientHeld(client_t* con) {
  if (!con->sync_hold) return false;
  if (con->sync_hold > SyncsDone()) return true;
  bool failed = SyncFailedBetween(con->sync_from, con->sync_hold);
  con->sync_hold = 0;
  if (failed) {
    // Nothing of the reply was sent while it was held.
    LogDiagnostic(L_ERROR, "Client %d: its request could not be written to disk; answering 500.", con->http.fd);
    con->output.clear();
    con->ipp_response.reset();
    con->ipp_request.reset();
    con->http.data_encoding = HTTP_ENCODE_LENGTH;
    if (!con->filename.empty()) remove_request_file(con);
    SendError(con, HTTP_SERVER_ERROR);
  }
  return false;
}

int WriteClient(client_t* con) {
  if (con->handshake) return step_handshake(con);

  http_t& http = con->http;
  int fd = http.fd;
  if (con->drain_until) {  // nothing more to send
    OutputSet.clear(fd);
    return 1;
  }
  // The answer of an upgraded request waits for the handshake.
  bool sending = (http.state == HTTP_GET_SEND || http.state == HTTP_POST_SEND) && !con->tls_after_output;
  bool waiting_for_cgi = false;
  while (sending && con->output.size() < kOutputFill) {
    int more = produce_response(con);
    if (more < 0) {  // the response cannot be completed
      CloseClient(con);
      return 0;
    }
    if (!more) {
      finish_response(con);
      break;
    }
    if (more == kWaitForCGI) {
      waiting_for_cgi = true;
      break;
    }
  }
  if (!con->output.empty()) {
    if (!flush_output(con)) {
      CloseClient(con);
      return 0;
    }
  }
  if (con->cgi_output && con->file) {
    // The program's pipe is read while the output has room: a client that
    // does not read holds the program up rather than filling our memory.
    // The socket is watched while there is output to send, the pipe alone
    // while the program has yet to say more.
    if (con->output.size() < kOutputFill)
      InputSet.set(con->file.get());
    else
      InputSet.clear(con->file.get());
    if (con->output.empty() && waiting_for_cgi) {
      OutputSet.clear(fd);
      return 1;
    }
    OutputSet.set(fd);
    return 1;
  }
  if (!con->output.empty()) return 1;
  if (sending && (http.state == HTTP_GET_SEND || http.state == HTTP_POST_SEND)) return 1;
  if (http.state == HTTP_WAITING) LogDiagnostic(L_DEBUG2, "WriteClient: Removing fd %d from OutputSet...", fd);
  return output_sent(con);
}
