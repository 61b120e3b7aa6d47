// A CGI program's output on its way to the client: its header lines, ended
// with "\r\n" whatever the program used, then the body, in chunks on a
// connection that uses chunked encoding.
#include <cstdio>
#include <string_view>

#include "scheduler/http/cgi.h"
#include "scheduler/http/client.h"
#include "scheduler/log.h"

namespace {

void append_body(client_t* con, std::string_view data) {
  if (data.empty()) return;
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

// One complete header line, its carriage return already removed.
void header_line(client_t* con) {
  LogDiagnostic(L_DEBUG2, "WriteClient() %d %s", con->http.fd, con->cgi_line.c_str());
  con->output += con->cgi_line;
  con->output += "\r\n";
  if (con->cgi_line.empty()) con->cgi_headers_done = true;
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
