// Reading requests: the request line, the header lines, and what each method
// does once its headers are complete; request bodies are received in
// client-body.cc.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "scheduler/auth/auth.h"
#include "scheduler/http/client-private.h"
#include "scheduler/conf/conf.h"
#include "scheduler/fdset.h"
#include "scheduler/log.h"
#include "scheduler/printers/printers.h"
#include "scheduler/http/tls.h"
#include "scheduler/types/types.h"
#include "vorn/strings.h"

namespace {

constexpr int kMaxRequestLine = 32767;

constexpr std::string_view kConfPrefix = "/admin/conf/";

bool has_token(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    size_t comma = list.find(',');
    if (vorn::iequals(vorn::trim(list.substr(0, comma)), token)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

// Clears what the previous request left. The language catalogue is kept
// until the new request's one is taken, so that a catalogue in use by
// consecutive requests is not reloaded for each.
void start_request(client_t* con) {
  http_t& http = con->http;
  httpClearFields(&http);
  http.version = HTTP_1_0;
  http.activity = ::time(nullptr);
  http.keep_alive = HTTP_KEEPALIVE_OFF;
  http.data_encoding = HTTP_ENCODE_LENGTH;
  http.data_remaining = 0;
  http.error = 0;
  con->ipp_request.reset();
  con->ipp_response.reset();
  con->auth_location = nullptr;
  con->byte_count = 0;
  con->username.clear();
  con->md5_group.clear();
  con->password.clear();
  con->resource.clear();
  con->file.reset();
  con->file_remaining = 0;
  con->spooled = 0;
  con->cgi_pid = 0;
  con->cgi_output = false;
  con->cgi_headers_done = false;
  con->cgi_line.clear();
  con->command.clear();
  con->options.clear();
  con->request_time = http.activity;
  con->request_method = HTTP_WAITING;
}

// "/admin/conf/" followed by nothing or by a name with a further "/".
bool bad_conf_resource(const std::string& resource) {
  if (!resource.starts_with(kConfPrefix)) return false;
  std::string_view name = std::string_view(resource).substr(kConfPrefix.size());
  return name.empty() || name.find('/') != std::string_view::npos;
}

// "/printers/NAME.ppd" names the PPD file of printer NAME: the resource
// becomes "/ppd/NAME.ppd" with the printer's own spelling of the name.
// Returns false when the resource is such a request for a printer that does
// not exist.
bool rewrite_ppd_resource(client_t* con) {
  const std::string& r = con->resource;
  constexpr std::string_view prefix = "/printers/", suffix = ".ppd";
  if (!(r.starts_with(prefix) && r.ends_with(suffix) && r.size() > prefix.size() + suffix.size()))
    return true;
  std::string_view name = std::string_view(r).substr(prefix.size(), r.size() - prefix.size() - suffix.size());
  printer_t* p = LookupPrinter(name);
  if (!p) return false;
  con->resource = "/ppd/" + p->name + ".ppd";
  return true;
}

// Detected type of a file as "super/type", "text/plain" when unknown.
std::string content_type(const TypeRecord* type) {
  return type ? type->super + "/" + type->type : std::string("text/plain");
}

int run_cgi(client_t* con) {
  if (!SendCommand(con, con->command, con->options)) return SendError(con, HTTP_NOT_FOUND), end_of_call(con);
  // The program's output has no length: older clients learn its end from
  // the close.
  if (con->http.version < HTTP_1_1) con->http.keep_alive = HTTP_KEEPALIVE_OFF;
  return end_of_call(con);
}

int answer_get(client_t* con) {
  if (!rewrite_ppd_resource(con)) return SendError(con, HTTP_NOT_FOUND), end_of_call(con);
  if (cgi_for_resource(con)) return run_cgi(con);
  if (bad_conf_resource(con->resource)) return SendError(con, HTTP_FORBIDDEN), end_of_call(con);

  struct stat filestats {};
  std::string filename = get_file(con, filestats);
  if (filename.empty()) return SendError(con, HTTP_NOT_FOUND), end_of_call(con);
  const TypeRecord* type = FileType(filename, filestats);
  if (type && IsCGI(con, filename.c_str(), filestats, type->super.c_str(), type->type.c_str()))
    return run_cgi(con);
  if (!check_if_modified(con, filestats)) return SendError(con, HTTP_NOT_MODIFIED), end_of_call(con);
  if (!SendFile(con, HTTP_OK, filename.c_str(), content_type(type).c_str(), filestats))
    return SendError(con, HTTP_NOT_FOUND), end_of_call(con);
  return end_of_call(con);
}

// A HEAD answer never has a body, so errors other than 304 and the
// authorization refusals are sent as header only.
int head_only(client_t* con, http_status_t code, const char* type, const std::string& extra = "") {
  std::string text = FormatHeader(con, code, type) + extra + "\r\n";
  WriteAccessLine(con, code);
  con->http.state = HTTP_WAITING;
  QueueOutput(con, text);
  return end_of_call(con);
}

int answer_head(client_t* con) {
  const std::string& r = con->resource;
  if (!rewrite_ppd_resource(con)) return head_only(con, HTTP_NOT_FOUND, "text/html");
  if ((r.starts_with("/admin/") && !r.starts_with(kConfPrefix)) || r.starts_with("/printers/") ||
      r.starts_with("/classes/") || r.starts_with("/jobs/"))
    return head_only(con, HTTP_OK, "text/html");
  if (bad_conf_resource(r)) return SendError(con, HTTP_FORBIDDEN), end_of_call(con);

  struct stat filestats {};
  std::string filename = get_file(con, filestats);
  if (filename.empty()) return head_only(con, HTTP_NOT_FOUND, "text/html");
  if (!check_if_modified(con, filestats)) return SendError(con, HTTP_NOT_MODIFIED), end_of_call(con);
  std::string extra = "Last-Modified: " + std::string(httpGetDateString(filestats.st_mtime)) +
                      "\r\nContent-Length: " + std::to_string(filestats.st_size) + "\r\n";
  return head_only(con, HTTP_OK, content_type(FileType(filename, filestats)).c_str(), extra);
}

int start_post(client_t* con) {
  int fd = con->http.fd;
  const char* type = con->http.fields[HTTP_FIELD_CONTENT_TYPE];
  LogDiagnostic(L_DEBUG2, "POST %s", con->resource.c_str());
  LogDiagnostic(L_DEBUG2, "CONTENT_TYPE = %s", type);
  int64_t length = httpGetLength(&con->http);
  if (MaxRequestSize > 0 && length > MaxRequestSize) return refuse(con, HTTP_REQUEST_TOO_LARGE);
  if (length < 0) return refuse(con, HTTP_BAD_REQUEST);

  if (std::strcmp(type, "application/ipp") == 0) {
    con->ipp_request.reset(ippNew());
  } else if (cgi_for_resource(con)) {
    LogDiagnostic(L_DEBUG2, "ReadClient() %d command=\"%s\", options = \"%s\"", fd, con->command.c_str(),
                  con->options.c_str());
    if (con->http.version < HTTP_1_1) con->http.keep_alive = HTTP_KEEPALIVE_OFF;
  } else {
    struct stat filestats {};
    std::string filename = get_file(con, filestats);
    if (filename.empty()) return refuse(con, HTTP_NOT_FOUND);
    const TypeRecord* t = FileType(filename, filestats);
    if (!t || !IsCGI(con, filename.c_str(), filestats, t->super.c_str(), t->type.c_str()))
      return refuse(con, HTTP_UNAUTHORIZED);
  }
  return receive_body(con);
}

int start_put(client_t* con) {
  int fd = con->http.fd;
  const std::string& r = con->resource;
  if (!r.starts_with(kConfPrefix) || bad_conf_resource(r)) return refuse(con, HTTP_FORBIDDEN);
  LogDiagnostic(L_DEBUG2, "PUT %s", r.c_str());
  LogDiagnostic(L_DEBUG2, "CONTENT_TYPE = %s", con->http.fields[HTTP_FIELD_CONTENT_TYPE]);
  int64_t length = httpGetLength(&con->http);
  if (MaxRequestSize > 0 && length > MaxRequestSize) return refuse(con, HTTP_REQUEST_TOO_LARGE);
  if (length < 0) return refuse(con, HTTP_BAD_REQUEST);
  if (!create_request_file(con)) {
    LogDiagnostic(L_ERROR, "Unable to create request file in %s - %s", RequestRoot.c_str(),
                  std::strerror(errno));
    return refuse(con, HTTP_REQUEST_TOO_LARGE);
  }
  LogDiagnostic(L_DEBUG2, "ReadClient() %d REQUEST %s=%d", fd, con->filename.c_str(), con->file.get());
  return receive_body(con);
}

// Answers "101 Switching Protocols"; the handshake follows and the request
// is answered once it completes.
int start_upgrade(client_t* con) {
  std::string text = FormatHeader(con, HTTP_SWITCHING_PROTOCOLS, nullptr) +
                     "Connection: Upgrade\r\nUpgrade: TLS/1.0,HTTP/1.1\r\nContent-Length: 0\r\n\r\n";
  // The handshake starts once the 101 is out (WriteClient); nothing is
  // read meanwhile.
  QueueOutput(con, text);
  con->upgrading = true;
  con->tls_after_output = true;
  InputSet.clear(con->http.fd);
  return 1;
}

// Without a certificate there is nothing to upgrade to: the request is
// answered as it is, and a client that insists on TLS sees no 101.
bool wants_upgrade(const client_t* con) {
  if (con->http.tls || !vorn::iequals(con->http.fields[HTTP_FIELD_CONNECTION], "Upgrade")) return false;
  if (!ServerContext) {
    LogDiagnostic(L_DEBUG, "ReadClient() %d cannot upgrade to TLS: no server certificate and key are loaded",
                  con->http.fd);
    return false;
  }
  return true;
}

int headers_complete(client_t* con) {
  http_t& http = con->http;
  // The new catalogue first: see start_request.
  lang_ptr language(vornLangGet(http.fields[HTTP_FIELD_ACCEPT_LANGUAGE]));
  con->language = std::move(language);
  decode_auth(con);

  std::string_view connection = http.fields[HTTP_FIELD_CONNECTION];
  if (KeepAlive && connection.starts_with("Keep-Alive")) http.keep_alive = HTTP_KEEPALIVE_ON;
  // A client that says it closes must not be left waiting for us to.
  if (has_token(connection, "close")) http.keep_alive = HTTP_KEEPALIVE_OFF;

  if (!http.fields[HTTP_FIELD_HOST][0]) {
    // HTTP/1.1 requires the field; older clients are taken to mean us.
    if (http.version >= HTTP_1_1) return SendError(con, HTTP_BAD_REQUEST), end_of_call(con);
    httpSetField(&http, HTTP_FIELD_HOST, http.hostname);
  }

  if (http.state != HTTP_OPTIONS && con->resource.find("..") != std::string::npos)
    return SendError(con, HTTP_FORBIDDEN), end_of_call(con);
  if (wants_upgrade(con)) return start_upgrade(con);
  return answer_request(con);
}

int read_header_line(client_t* con) {
  // Every line already at hand is taken in this call: a pass of the loop
  // (and a select()) per header line cost more than the line itself. The
  // count of lines is bounded by httpUpdate.
  http_status_t status;
  do status = httpUpdate(&con->http);
  while (status == HTTP_CONTINUE && con->http.error != EAGAIN);
  if (status == HTTP_CONTINUE) {
    con->input_stalled = true;
    return 1;
  }
  if (status != HTTP_OK) {
    if (con->http.error == EPIPE) {  // the peer went away: nobody to answer
      CloseClient(con);
      return 0;
    }
    return refuse(con, HTTP_BAD_REQUEST);
  }
  return headers_complete(con);
}

int read_request_line(client_t* con) {
  http_t& http = con->http;
  int fd = http.fd;
  static char line[kMaxRequestLine + 1];  // one thread; too large for the stack of every call
  if (!httpGets(line, sizeof(line), &http)) {
    if (http.error == EAGAIN) {  // only part of a line so far
      con->input_stalled = true;
      return 1;
    }
    CloseClient(con);
    return 0;
  }
  if (!line[0]) return end_of_call(con);  // blank lines between requests

  start_request(con);
  http_request_line_t request;
  http_status_t parsed = httpParseRequestLine(line, &request);
  if (parsed == HTTP_BAD_REQUEST) {
    LogDiagnostic(L_ERROR, "Bad request line \"%s\"!", line);
    return refuse(con, HTTP_BAD_REQUEST);
  }
  if (parsed == HTTP_NOT_SUPPORTED) return refuse(con, HTTP_NOT_SUPPORTED);
  http.version = request.version;
  if (http.version == HTTP_1_1 && KeepAlive) http.keep_alive = HTTP_KEEPALIVE_ON;

  std::string resource = request.resource;
  if (resource[0] != '/' && resource != "*") {
    char scheme[HTTP_MAX_SCHEME], user[HTTP_MAX_USER], host[HTTP_MAX_HOST], path[HTTP_MAX_URI];
    int port = 0;
    httpSeparate(resource.c_str(), scheme, user, host, &port, path);
    if (!vorn::iequals(host, ServerName) && !vorn::iequals(host, "localhost") && !vorn::isdigit(host[0])) {
      LogDiagnostic(L_ERROR, "Bad URI \"%s\" in request!", resource.c_str());
      return refuse(con, HTTP_METHOD_NOT_ALLOWED);
    }
    resource = path;
  }
  con->resource = vorn::cut(resource, kMaxResource);

  if (request.state == HTTP_WAITING) {
    LogDiagnostic(L_ERROR, "Bad operation \"%s\"!", request.method);
    return refuse(con, HTTP_BAD_REQUEST);
  }
  http.state = request.state;
  con->request_method = request.state;
  http.status = HTTP_OK;  // what httpUpdate returns at the end of the headers
  LogDiagnostic(L_DEBUG, "ReadClient() %d %s %s HTTP/%d.%d", fd, request.method, con->resource.c_str(),
                http.version / 100, http.version % 100);

  if (http.version == HTTP_0_9) {
    // No header lines follow a simple request, and it has no body.
    if (http.state == HTTP_POST || http.state == HTTP_PUT) return refuse(con, HTTP_BAD_REQUEST);
    if (http.state == HTTP_GET) http.state = HTTP_GET_SEND;
    con->request_method = http.state;
    return headers_complete(con);
  }
  return read_header_line(con);
}

}  // namespace

int end_of_call(client_t* con) {
  if (con->http.keep_alive == HTTP_KEEPALIVE_ON || con->http.state != HTTP_WAITING) return 1;
  con->closing = true;
  InputSet.clear(con->http.fd);
  OutputSet.set(con->http.fd);  // WriteClient sends what is left, then drains
  return 1;
}

int refuse(client_t* con, http_status_t code) {
  SendError(con, code);
  ShutdownClient(con);
  return 1;
}

int answer_request(client_t* con) {
  http_t& http = con->http;
  // OPTIONS is decided like every other method: a location that asks for
  // users answers with its challenge.
  http_status_t status = IsAuthorized(con);
  if (status != HTTP_OK) {
    LogDiagnostic(L_DEBUG2, "ReadClient: Unauthorized request for %s...\n", con->resource.c_str());
    return refuse(con, status);
  }

  if (http.state == HTTP_OPTIONS) {
    std::string text = FormatHeader(con, HTTP_OK, nullptr) +
                       "Allow: GET, HEAD, OPTIONS, POST, PUT\r\nContent-Length: 0\r\n\r\n";
    WriteAccessLine(con, HTTP_OK);
    http.state = HTTP_WAITING;
    QueueOutput(con, text);
    return end_of_call(con);
  }

  switch (http.state) {
    case HTTP_GET_SEND:
      return answer_get(con);
    case HTTP_HEAD:
      return answer_head(con);
    case HTTP_POST_RECV:
      return start_post(con);
    case HTTP_PUT_RECV:
      return start_put(con);
    case HTTP_DELETE:
    case HTTP_TRACE:
      return refuse(con, HTTP_NOT_IMPLEMENTED);
    default:
      return end_of_call(con);
  }
}

int step_handshake(client_t* con) {
  if (!continue_handshake(con)) {
    CloseClient(con);
    return 0;
  }
  if (con->handshake || !con->upgrading) return 1;
  con->upgrading = false;
  return answer_request(con);
}

int ReadClient(client_t* con) {
  con->input_stalled = false;
  if (con->handshake) return step_handshake(con);

  if (con->drain_until) return drain_input(con);

  http_t& http = con->http;
  LogDiagnostic(L_DEBUG2, "ReadClient() %d, used=%d", http.fd, http.used);
  if (http.error != 0 && http.error != EAGAIN) {  // a failure left from the last call
    CloseClient(con);
    return 0;
  }
  if (con->closing || !con->output.empty() || con->tls_after_output) {
    // The next request waits until the answers before it are out; a client
    // that does not read them cannot make us buffer more.
    InputSet.clear(http.fd);
    return 1;
  }

  switch (http.state) {
    case HTTP_WAITING:
      return read_request_line(con);
    case HTTP_OPTIONS:
    case HTTP_GET:
    case HTTP_HEAD:
    case HTTP_POST:
    case HTTP_PUT:
    case HTTP_DELETE:
    case HTTP_TRACE:
      return read_header_line(con);
    case HTTP_POST_RECV:
    case HTTP_PUT_RECV:
      return receive_body(con);
    default:
      // A response is being sent: what the client sends meanwhile waits
      // until it is out (finish_response watches the socket again).
      InputSet.clear(http.fd);
      return 1;
  }
}
