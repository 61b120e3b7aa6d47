// Writing responses: header lines, status and error responses, files and
// IPP responses sent piecewise as the socket drains.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "scheduler/http/client-private.h"
#include "scheduler/conf/conf.h"
#include "scheduler/fdset.h"
#include "scheduler/auth/location.h"
#include "scheduler/log.h"
#include "vorn/ipp-http.h"
#include "vorn/strings.h"

namespace {

constexpr size_t kFileBlock = 2048;    // file bytes sent by one call
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

// Header text goes out in one write, so a response is not split into a
// packet per line.
int send_text(client_t* con, const std::string& text) {
  return httpPrintf(&con->http, "%s", text.c_str()) < 0 ? 0 : 1;
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
      out += format("WWW-Authenticate: Digest realm=\"VORN\" nonce=\"%s\"\r\n", http.hostname);
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

int SendHeader(client_t* con, http_status_t code, const char* type) {
  return send_text(con, FormatHeader(con, code, type));
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
  return send_text(con, out);
}

int SendFile(client_t* con, http_status_t code, const char* filename, const char* type,
             const struct stat& filestats) {
  int fd = con->http.fd;
  con->file.reset(::open(filename, O_RDONLY | O_CLOEXEC));
  LogDiagnostic(L_DEBUG, "SendFile() %d file=%d", fd, con->file.get());
  if (!con->file) return 0;
  con->cgi_pid = 0;
  con->file_remaining = filestats.st_size;
  con->http.data_encoding = HTTP_ENCODE_LENGTH;
  con->http.data_remaining = 0;  // counted in file_remaining
  con->header = FormatHeader(con, code, type);
  con->header += "Last-Modified: ";
  con->header += httpGetDateString(filestats.st_mtime);
  con->header += format("\r\nContent-Length: %lld\r\n\r\n", static_cast<long long>(filestats.st_size));
  LogDiagnostic(L_DEBUG2, "SendFile: Adding fd %d to OutputSet...", fd);
  OutputSet.set(fd);
  return 1;
}

void ShutdownClient(client_t* con) {
  int fd = con->http.fd;
  ::shutdown(fd, SHUT_RD);
  con->http.used = 0;
  // The main loop closes it when this much older than Timeout.
  con->http.activity = ::time(nullptr) - Timeout + 30;
  LogDiagnostic(L_DEBUG2, "ShutdownClient: Removing fd %d from InputSet...", fd);
  InputSet.clear(fd);
}

int finish_response(client_t* con) {
  http_t& http = con->http;
  int fd = http.fd;
  WriteAccessLine(con, HTTP_OK);
  if (http.data_encoding == HTTP_ENCODE_CHUNKED && httpWrite(&http, "", 0) < 0) {
    CloseClient(con);
    return 0;
  }
  http.state = HTTP_WAITING;
  LogDiagnostic(L_DEBUG2, "WriteClient: Removing fd %d from OutputSet...", fd);
  OutputSet.clear(fd);
  if (con->file) {
    int file = con->file.get();
    LogDiagnostic(L_DEBUG2, "WriteClient: Removing fd %d from InputSet...", file);
    InputSet.clear(file);
    if (con->cgi_pid > 0) ::kill(con->cgi_pid, SIGTERM);
    LogDiagnostic(L_DEBUG2, "WriteClient: %d Closing data file %d.", fd, file);
    con->file.reset();
  }
  if (!con->filename.empty()) {
    LogDiagnostic(L_DEBUG2, "WriteClient: %d Removing temp file %s", fd, con->filename.c_str());
    remove_request_file(con);
  }
  con->ipp_request.reset();
  con->ipp_response.reset();
  con->command.clear();
  con->options.clear();
  if (http.keep_alive == HTTP_KEEPALIVE_OFF) {
    CloseClient(con);
    return 0;
  }
  // The next request may already be waiting.
  InputSet.set(fd);
  http.activity = ::time(nullptr);
  return 1;
}

int WriteClient(client_t* con) {
  if (con->handshake) return step_handshake(con);

  http_t& http = con->http;
  int fd = http.fd;
  if (http.state != HTTP_GET_SEND && http.state != HTTP_POST_SEND) {
    OutputSet.clear(fd);  // nothing to send: do not wake the loop for it
    return 1;
  }

  int bytes = 0;
  bool done = false;
  if (con->ipp_response) {
    ipp_state_t state = ippWrite(&http, con->ipp_response.get());
    if (state == IPP_ERROR) {  // the response cannot be completed
      CloseClient(con);
      return 0;
    }
    if (state == IPP_DATA) {
      con->byte_count += int64_t(ippLength(con->ipp_response.get()));
      done = true;
    }
  } else if (con->file) {
    // CGI output (no length, header lines first) arrives with the CGI
    // runner; files are sent up to the Content-Length announced.
    // The header of SendFile goes out with the first block.
    std::string& out = con->header;
    size_t start = out.size();
    size_t want = size_t(std::min<int64_t>(int64_t(kFileBlock), con->file_remaining));
    out.resize(start + want);
    ssize_t n = want ? vorn::read_retry(con->file.get(), out.data() + start, want) : 0;
    out.resize(start + size_t(n > 0 ? n : 0));
    if (n < 0 || (n == 0 && con->file_remaining > 0)) {
      // Unreadable, or shorter than announced: the client would wait for
      // bytes that never come.
      LogDiagnostic(L_ERROR, "WriteClient: %d file ended %lld bytes early - %s", fd,
                    static_cast<long long>(con->file_remaining), n < 0 ? std::strerror(errno) : "truncated");
      CloseClient(con);
      return 0;
    }
    if (!out.empty()) {
      int sent = httpWrite(&http, out.data(), int(out.size()));
      out.clear();
      if (sent < 0) {
        CloseClient(con);
        return 0;
      }
      bytes = int(n);
      con->byte_count += n;
      con->file_remaining -= n;
    }
    done = con->file_remaining == 0;
  } else {
    done = true;
  }

  if (bytes >= 1024) LogDiagnostic(L_DEBUG2, "WriteClient() %d %d bytes", fd, bytes);
  if (done) return finish_response(con);
  http.activity = ::time(nullptr);
  return 1;
}
