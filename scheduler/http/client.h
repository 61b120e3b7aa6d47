// Client connections: the client table, acceptance and closing of
// connections, and the HTTP service that reads requests and writes responses
// piecewise from the main loop.
//
// Files: client.cc (table, accept, close, TLS), client-read.cc (request line,
// headers, methods), client-body.cc (request bodies and request files),
// client-write.cc (responses), client-file.cc (files, request fields, CGI
// programs), client-conf.cc (configuration upload).
//
// Every call works on one client record and none blocks: replies are queued
// in the client's output buffer and sent as the socket drains (OutputSet), so
// a client that stops reading holds up only its own connection.
//
// A connection whose answer says it closes (keep-alive off) ends in two
// steps: once the output is sent, the sending side is shut (the client sees
// the end of the answer) and what the client still sends is read and
// dropped until it closes or kDrainSeconds pass; then the socket is closed.
// Closing at once could reset the connection before the client has read the
// answer.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
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
  // Group of the passwd.md5 entry that verified `username` (Digest and
  // BasicDigest); empty otherwise.
  std::string md5_group;
  std::string password;                    // at most 32 characters
  std::string resource;                    // at most 1023 characters

  std::string filename;      // temporary file holding the request body, if any
  std::string command;       // CGI program and its option string, if any
  std::string options;
  vorn::unique_fd file;      // request file being written, file being sent or CGI pipe
  int64_t file_remaining = 0;  // bytes of `file` still to send (Content-Length)
  // Reply bytes the socket has not taken yet (QueueOutput). While any are
  // left no further request is read from the client.
  std::string output;
  int64_t spooled = 0;         // bytes of the body written to the request file
  // Running CGI program, 0 when none and once it has been reaped (its
  // number may then belong to another process: never signal it).
  pid_t cgi_pid = 0;
  bool cgi_output = false;        // `file` is a CGI program's output pipe
  bool cgi_headers_done = false;  // its header lines are complete
  std::string cgi_line;           // the header line being received
  // The program's header lines held until the block ends (each ended by
  // "\r\n"), since a "Status:" line among them changes the status line
  // that goes first. The status it gave (0 while none), its reason text,
  // whether it gave a Location; once the block has ended, the status sent.
  std::string cgi_fields;
  http_status_t cgi_status = http_status_t(0);
  std::string cgi_reason;
  bool cgi_location = false;

  lang_ptr language;  // catalogue chosen from Accept-Language

  // A TLS handshake that is still going on (SSL listeners and the HTTP
  // upgrade). It runs step by step from the main loop so that a slow or
  // silent peer cannot hold up the scheduler; once complete the session is
  // handed to `http`.
  vorn::tls_ptr handshake;
  // The handshake is an upgrade asked for by the current request, which is
  // answered once the connection is encrypted.
  bool upgrading = false;
  // The handshake of an upgrade starts once the 101 answer is sent.
  bool tls_after_output = false;

  // No more requests: the connection closes once the output is sent.
  bool closing = false;
  // Draining since the output was sent: the time by which the client must
  // have closed its end; 0 while not draining.
  time_t drain_until = 0;

  // The last read found only part of a line or message buffered and nothing
  // more on the socket: buffered bytes need not be served again before the
  // socket becomes readable (see ClientHasBufferedInput).
  bool input_stalled = false;

  // The reply waits for the sync thread (sync-queue.h): the units numbered
  // (sync_from, sync_hold] were queued while its request was served.
  // sync_hold is 0 while nothing waits.
  uint64_t sync_from = 0;
  uint64_t sync_hold = 0;
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

// Whether the client's reply still waits for the sync thread; a client that
// need not wait any more is let go, with "500 Internal Server Error" in place
// of its reply when what its request changed could not be written to disk.
bool ClientHeld(client_t* con);

// Starts the TLS handshake with ServerContext; 1 while it goes on or when it
// completed, 0 when it failed (the errors are logged, the caller closes).
int EncryptClient(client_t* con);

// True when the client has input that select() will not report and that
// ReadClient can act on now: bytes in the connection's buffer or decrypted
// bytes in the TLS session, unless the last read found them incomplete, a
// response is being sent or queued (input waits until it is out) or the
// connection is closing.
bool ClientHasBufferedInput(const client_t* con);

// True when the client is between requests with nothing left to send and
// is not closing: closing it loses nothing.
bool ClientIsIdle(const client_t* con);

// Seconds a closing connection waits for the client to close its end
// (never longer than Timeout).
constexpr int kDrainSeconds = 3;

// True when the client is draining and its drain time has passed at `now`:
// the main loop closes it.
bool ClientDrainExpired(const client_t* con, time_t now);

// ---- Responses (client-write.cc) ----

// Appends reply bytes to the client's output and watches the socket for
// writing; WriteClient sends them. Never writes to the socket itself.
void QueueOutput(client_t* con, std::string_view bytes);

// The status line and common header lines of SendHeader, without the blank
// line, for callers that add lines and send the header in one write.
std::string FormatHeader(const client_t* con, http_status_t code, const char* type);

// Queues FormatHeader's text. 1 (queuing cannot fail; a write failure
// closes the client in WriteClient).
int SendHeader(client_t* con, http_status_t code, const char* type);

// Queues a complete status or error response (an HTML body for codes of 400
// and above, which also turn keep-alive off); logs the request; state
// waiting. 1, as SendHeader.
int SendError(client_t* con, http_status_t code);

// Opens `filename` and queues the header with Content-Length; WriteClient
// sends the file behind it, so that a small file goes out in one write (a
// file FileBytes keeps is queued whole, without opening it). 1, or 0 when
// the file cannot be opened.
int SendFile(client_t* con, http_status_t code, const char* filename, const char* type,
             const struct stat& filestats);

// Stops taking requests from a client after a protocol error: buffered
// input is dropped, the answer already queued goes out, then the connection
// drains and closes (see the top of this file).
void ShutdownClient(client_t* con);

// ---- Request helpers (client-file.cc) ----

// 0 when the client's copy (If-Modified-Since, with its optional
// "length=N") is current for a file of `filestats`, 1 otherwise.
int check_if_modified(const client_t* con, const struct stat& filestats);

// Fills username and password (each cut at 32 characters) from the
// Authorization field: Basic and Digest, or the user of a local certificate
// ("Local <text>") from a peer on this host. Nothing here is verified yet:
// IsAuthorized keeps the name only once it has checked it.
void decode_auth(client_t* con);

// The file that serves the client's resource (see the body for the mapping),
// with `filestats` filled; an empty string when there is no such file.
std::string get_file(client_t* con, struct stat& filestats);

// The detected type of a file, as DetectFileType finds it with TypeDB.
// Results are remembered for files whose identity, size and times have not
// changed since, until the database is reloaded (ForgetFileCache). nullptr
// when no type matches.
const TypeRecord* FileType(const std::string& filename, const struct stat& filestats);
// The bytes of a file of at most 64 KB whose type FileType gave, kept in
// memory (4 MB at most in all) while the file is as `filestats` describes
// it; null when it is larger, not kept, or changed while it was read.
std::shared_ptr<const std::string> FileBytes(const std::string& filename, const struct stat& filestats);
// Forgets the types and the kept bytes.
void ForgetFileCache();

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
