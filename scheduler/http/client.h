// Client connections: the client table, acceptance and closing of
// connections, and the HTTP service that reads requests and writes responses
// piecewise from the main loop.
//
// Files: client.cc (table, accept, close, TLS), client-read.cc (request line,
// headers, methods), client-body.cc (request bodies and request files),
// client-write.cc (responses), client-file.cc (files, request fields, CGI
// programs), client-conf.cc (configuration upload).
//
// Every call works on one client record; none blocks on a silent peer except
// the writes of libvorn, which wait at most the connection's timeout for the
// socket to drain.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

#include "vorn/fd.h"
#include "vorn/http.h"
#include "vorn/ipp.h"
#include "vorn/language.h"

struct listener_t;
struct location_t;
struct TypeRecord;

// Owners of the libvorn objects a client holds.
struct lang_deleter {
  void operator()(vorn_lang_t* lang) const { vornLangFree(lang); }
};
using lang_ptr = std::unique_ptr<vorn_lang_t, lang_deleter>;

// Field limits of a client record.
constexpr size_t kMaxUsername = 32;   // username and password
constexpr size_t kMaxResource = 1023; // request resource
constexpr size_t kMaxMethod = 63;     // request-line words other than the resource

struct client_t {
  http_t http;  // socket, peer address and host name, TLS session, HTTP state

  ipp_ptr ipp_request;   // IPP request being received, none when not in use
  ipp_ptr ipp_response;  // IPP response being sent
  const location_t* auth_location = nullptr;  // location that authorized the request

  // The request being served, for the access log.
  time_t request_time = 0;                 // when the request line was read
  http_state_t request_method = HTTP_WAITING;
  long long byte_count = 0;                // body bytes received + sent
  std::string username;                    // authenticated user, at most 32 characters
  std::string password;                    // at most 32 characters
  std::string resource;                    // at most 1023 characters

  std::string filename;      // temporary file holding the request body, if any
  std::string command;       // CGI program and its option string, if any
  std::string options;
  vorn::unique_fd file;      // request file being written, file being sent or CGI pipe
  int64_t file_remaining = 0;  // bytes of `file` still to send (Content-Length)
  std::string header;          // response header waiting to go out with the first data
  int64_t spooled = 0;         // bytes of the body written to the request file
  pid_t cgi_pid = 0;         // running CGI program, 0 when none
  bool cgi_headers_done = false;
  int cgi_column = 0;

  lang_ptr language;  // catalogue chosen from Accept-Language

  // A TLS handshake that is still going on (SSL listeners and the HTTP
  // upgrade). It runs step by step from the main loop so that a slow or
  // silent peer cannot hold up the scheduler; once complete the session is
  // handed to `http`.
  vorn::tls_ptr handshake;
  // The handshake is an upgrade asked for by the current request, which is
  // answered once the connection is encrypted.
  bool upgrading = false;

  // The last read found only part of a line or message buffered and nothing
  // more on the socket: buffered bytes need not be served again before the
  // socket becomes readable (see ClientHasBufferedInput).
  bool input_stalled = false;
};

// The clients in use, in order of acceptance; closing one moves the later ones
// down. A client_t stays at the same address until it is closed.
extern std::vector<std::unique_ptr<client_t>> Clients;

// Sizes the table for MaxClients; FreeClients closes every client and drops it.
void AllocateClients(int max_clients);
void FreeClients();

// Accepts one connection from `lis`: applies MaxClients (pausing listening
// when the table becomes full) and MaxClientsPerHost, puts the socket in
// InputSet and, on an SSL listener, starts the TLS handshake.
void AcceptClient(listener_t* lis);

// Shuts TLS down, closes the socket, the file being sent and the request
// file (a request file whose request never completed is removed), takes the
// descriptors out of the sets and removes the client from the table
// (resuming listening when the table was full and no reload is waiting).
// `con` is invalid afterwards.
void CloseClient(client_t* con);
void CloseAllClients();

// Called when the socket is readable or input is buffered; reads at most one
// request or header line and one body block of 32768 bytes. 1 while the
// client is open, 0 when it has been closed and removed.
int ReadClient(client_t* con);

// Called when the socket is writable; sends at most 2048 bytes of a file or
// one piece of an IPP response. Same result as ReadClient.
int WriteClient(client_t* con);

// Starts the TLS handshake with ServerContext; 1 while it goes on or when it
// completed, 0 when it failed (the errors are logged, the caller closes).
int EncryptClient(client_t* con);

// True when the client has input that select() will not report and that
// ReadClient can act on now: bytes in the connection's buffer or decrypted
// bytes in the TLS session, unless the last read found them incomplete or a
// response is being sent (input waits until it is out).
bool ClientHasBufferedInput(const client_t* con);

// ---- Responses (client-write.cc) ----

// The status line and common header lines of SendHeader, without the blank
// line, for callers that add lines and send the header in one write.
std::string FormatHeader(const client_t* con, http_status_t code, const char* type);

// Writes FormatHeader's text. 1, or 0 when writing fails.
int SendHeader(client_t* con, http_status_t code, const char* type);

// A complete status or error response (an HTML body for codes of 400 and
// above, which also turn keep-alive off); logs the request; state waiting.
// 1, or 0 when writing fails.
int SendError(client_t* con, http_status_t code);

// Opens `filename` and prepares the header with Content-Length; WriteClient
// sends it together with the first block of the file, so that a small file
// goes out in one write. 1, or 0 when the file cannot be opened (a header
// that cannot be written closes the client in WriteClient).
int SendFile(client_t* con, http_status_t code, const char* filename, const char* type,
             const struct stat& filestats);

// Stops reading from a client after a protocol error: the main loop closes
// it about 30 seconds later unless it goes first.
void ShutdownClient(client_t* con);

// ---- Request helpers (client-file.cc) ----

// 0 when the client's copy (If-Modified-Since, with its optional
// "length=N") is current for a file of `filestats`, 1 otherwise.
int check_if_modified(const client_t* con, const struct stat& filestats);

// Fills username and password (each cut at 32 characters) from the
// Authorization field: Basic and Digest.
void decode_auth(client_t* con);

// The file that serves the client's resource (see the body for the mapping),
// with `filestats` filled; an empty string when there is no such file.
std::string get_file(client_t* con, struct stat& filestats);

// The detected type of a file, as DetectFileType finds it with TypeDB.
// Results are remembered for files whose identity, size and times have not
// changed since, until the database is reloaded (ForgetFileTypes). nullptr
// when no type matches.
const TypeRecord* FileType(const std::string& filename, const struct stat& filestats);
void ForgetFileTypes();

// Whether the file is a CGI program to run; sets command and options when it
// is. 1 or 0.
int IsCGI(client_t* con, const char* filename, const struct stat& filestats, const char* super,
          const char* type);

// Starts the CGI program `command` for the client. 1 when started, 0 when not.
int SendCommand(client_t* con, const std::string& command, const std::string& options);

// Installs the uploaded request file as the configuration file the PUT named
// and requests a reload. HTTP_CREATED, or HTTP_SERVER_ERROR.
http_status_t install_conf_file(client_t* con);

// Creates the next temporary request file "%s/%08x" (RequestRoot, counter)
// into con->file and con->filename. 1, or 0 with errno set.
int create_request_file(client_t* con);

// Closes and removes the request file, if any.
void remove_request_file(client_t* con);

// Removes the request files ("%08x", regular files) a previous run left in
// RequestRoot when it ended while receiving them; each is logged. Only for
// start-up: while clients are served, those names are files in use.
// Returns the number removed.
int RemoveStaleRequestFiles();
