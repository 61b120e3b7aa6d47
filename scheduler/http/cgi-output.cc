// A CGI program's output on its way to the client: its header lines, ended
// with "\r\n" whatever the program used, behind the status line they decide,
// then the body, in chunks on a connection that uses chunked encoding.
#include <cstdio>
#include <string>
#include <string_view>

#include "scheduler/http/cgi.h"
#include "scheduler/http/client.h"
#include "scheduler/log.h"
#include "vorn/strings.h"

namespace {

// Answers that carry no body: what the program writes after its header
// is dropped, and no chunk framing is sent.
bool without_body(http_status_t code) { return code == HTTP_NO_CONTENT || code == HTTP_NOT_MODIFIED; }

void append_body(client_t* con, std::string_view data) {
  if (data.empty() || without_body(con->cgi_status)) return;
  if (con->http.data_encoding == HTTP_ENCODE_CHUNKED) {
    char size[24];
    std::snprintf(size, sizeof(size), "%zx\r\n", data.size());
    con->output += size;
    con->output.append(data);
    con->output += "\r\n";
  } else {
    con->output.append(data);
  }
}

// The reason text of a "Status:" line is sent as the program gave it only
// when it is plain text.
bool plain_text(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  return true;
}

// A header line that is the scheduler's business rather than a field to
// relay: "Status:" sets the status line and is not relayed. True when the
// line was taken.
bool status_line(client_t* con, std::string_view line) {
  size_t colon = line.find(':');
  if (colon == std::string_view::npos || !vorn::iequals(line.substr(0, colon), "Status")) return false;
  std::string_view value = vorn::trim(line.substr(colon + 1));
  int code = 0;
  bool ok = value.size() >= 3 && (value.size() == 3 || value[3] == ' ' || value[3] == '\t');
  for (size_t i = 0; ok && i < 3; i++) {
    ok = vorn::isdigit(value[i]);
    code = code * 10 + (value[i] - '0');
  }
  // An informational status cannot end the answer: the client would wait
  // for another status line.
  ok = ok && code >= 200 && code <= 599;
  if (!ok) {
    LogDiagnostic(L_DEBUG, "WriteClient() %d ignoring CGI status \"%.*s\"", con->http.fd, int(value.size()),
                  value.data());
  } else if (con->cgi_status) {
    LogDiagnostic(L_DEBUG, "WriteClient() %d ignoring second CGI status \"%.*s\"", con->http.fd,
                  int(value.size()), value.data());
  } else {
    con->cgi_status = http_status_t(code);
    std::string_view reason = value.size() > 3 ? vorn::trim(value.substr(4)) : std::string_view();
    if (plain_text(reason)) con->cgi_reason = reason;
  }
  return true;
}

// The block has ended: the status line and the scheduler's own lines, then
// the program's fields, then the empty line.
void end_header(client_t* con) {
  http_status_t code = con->cgi_status;
  if (!code) code = con->cgi_location ? HTTP_MOVED_TEMPORARILY : HTTP_OK;
  con->cgi_status = code;
  if (without_body(code)) con->http.data_encoding = HTTP_ENCODE_LENGTH;
  std::string head = FormatHeader(con, code, nullptr);
  if (!con->cgi_reason.empty()) {
    // "HTTP/x.y NNN " then the reason text up to the first line end.
    size_t start = head.find(' ') + 5, end = head.find("\r\n");
    head.replace(start, end - start, con->cgi_reason);
  }
  if (con->http.data_encoding == HTTP_ENCODE_CHUNKED) head += "Transfer-Encoding: chunked\r\n";
  head += con->cgi_fields;
  head += "\r\n";
  con->output += head;
  con->cgi_fields.clear();
  con->cgi_headers_done = true;
}

// One complete header line, its carriage return already removed.
void header_line(client_t* con) {
  LogDiagnostic(L_DEBUG2, "WriteClient() %d %s", con->http.fd, con->cgi_line.c_str());
  std::string_view line = con->cgi_line;
  if (line.empty()) {
    end_header(con);
  } else if (status_line(con, line)) {
    // taken
  } else if (con->cgi_fields.size() + line.size() + 2 > kMaxCGIHeaderBlock) {
    LogDiagnostic(L_DEBUG, "WriteClient() %d CGI header block too long, line dropped", con->http.fd);
  } else {
    con->cgi_fields += line;
    con->cgi_fields += "\r\n";
    if (vorn::istarts_with(line, "Location:")) con->cgi_location = true;
  }
  con->cgi_line.clear();
}

}  // namespace

void RelayCGIOutput(client_t* con, std::string_view data) {
  while (!con->cgi_headers_done && !data.empty()) {
    size_t nl = data.find('\n');
    std::string_view piece = data.substr(0, nl);
    // Beyond the limit the rest of the line is dropped.
    if (con->cgi_line.size() < kMaxCGIHeaderLine)
      con->cgi_line.append(piece.substr(0, kMaxCGIHeaderLine - con->cgi_line.size()));
    if (nl == std::string_view::npos) return;  // the line goes on in the next piece
    data.remove_prefix(nl + 1);
    if (!con->cgi_line.empty() && con->cgi_line.back() == '\r') con->cgi_line.pop_back();
    header_line(con);
  }
  append_body(con, data);
}

void EndCGIOutput(client_t* con) {
  if (con->cgi_headers_done) return;
  if (!con->cgi_line.empty()) {
    if (con->cgi_line.back() == '\r') con->cgi_line.pop_back();
    header_line(con);
  }
  if (!con->cgi_headers_done) header_line(con);  // the empty line
}
