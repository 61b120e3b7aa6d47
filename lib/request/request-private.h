// Shared between the request and destination files of lib/util; not a
// public header.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "vorn/http.h"
#include "vorn/ipp.h"
#include "vorn/options.h"

namespace vorn::request {


// Sets this thread's vornLastError.
void set_last_error(ipp_status_t status);

// What follows the headers of a request: an IPP message and a document.
struct body_t {
  ipp_t* ipp = nullptr;  // written first when not null (not owned)
  int fd = -1;           // document, read from its start; -1: none
  int64_t size = 0;      // bytes of the document; -1: unknown, sent chunked
};

// Sends one request with `method` ("POST" or "GET") to `resource` and reads
// the status and headers of the final response, dealing with a closed
// connection, 401 and 426 as vornDoFileRequest describes (the body, when
// given, is sent again on every attempt). `http` must be blocking with a
// timeout set (request_mode).
struct exchange_t {
  // The final status; on HTTP_OK the response body is ready for httpRead.
  // HTTP_ERROR when no response could be had (the connection is closed).
  http_status_t status = HTTP_ERROR;
  bool document_error = false;  // the document could not be read
  bool cut_short = false;       // answered before the whole body went out:
                                // close the connection after the response
};
exchange_t exchange(http_t* http, const char* method, const char* resource, const body_t* body);

// Credentials of one request while it is repeated after 401 answers.
struct auth_attempt_t {
  int prompts = 0;
  bool tried_remembered = false;  // the remembered password was offered
  bool sent_remembered = false;   // ... and is in the request just sent
  bool tried_local = false;       // this host's local certificate was offered
  std::string realm;
  std::string password;  // sent in the last attempt, remembered on success
  auth_attempt_t() = default;
  auth_attempt_t(const auth_attempt_t&) = delete;
  auth_attempt_t& operator=(const auth_attempt_t&) = delete;
  ~auth_attempt_t();
};

// Answers the 401 just read on `http`: takes the remembered password for
// this host and vornUser() once, else asks vornGetPassword (at most three
// times per request), and sets the connection's auth string for Basic or
// Digest as the challenge asks. false when no password can be had.
bool answer_challenge(http_t* http, const char* method, const char* resource, auth_attempt_t& auth);

// Before a request on a connection that already carries Digest credentials:
// recomputes them for this method and resource, since a Digest answer is
// only good for the resource it was made for.
void refresh_digest(http_t* http, const char* method, const char* resource);

// The request got past authentication: remembers the password it used.
void auth_succeeded(const http_t* http, auth_attempt_t& auth);

// The IPP status that stands for an HTTP status other than 200.
ipp_status_t status_of_http(http_status_t status);

// Sets `http` blocking with a timeout for the duration of one call, and
// restores both afterwards.
class request_mode {
 public:
  explicit request_mode(http_t* http);
  ~request_mode();
  request_mode(const request_mode&) = delete;
  request_mode& operator=(const request_mode&) = delete;

 private:
  http_t* http_;
  int blocking_;
  int timeout_;
};

// "ipp://localhost/printers/NAME".
std::string printer_uri(const char* name);

// Whether `name` can name a destination or an instance: 1 to 127 bytes, no
// white space, control characters, DEL or "/" (bytes above 0x7F are fine).
// Such a name goes into URIs, resources and file lines unchanged.
bool valid_dest_name(std::string_view name);

// The process-wide connection, locked for the lifetime of this object and
// (re)opened for the current server, port and encryption. get() is nullptr
// when it cannot be opened (vornLastError is then IPP_INTERNAL_ERROR).
class shared_connection {
 public:
  shared_connection();
  shared_connection(const shared_connection&) = delete;
  shared_connection& operator=(const shared_connection&) = delete;
  http_t* get() const { return http_; }

 private:
  std::unique_lock<std::mutex> lock_;
  http_t* http_ = nullptr;
};

}  // namespace vorn::request
