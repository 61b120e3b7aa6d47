// What the web interface's CGI programs share: reading the request (query
// string, URL-encoded and multipart form bodies), writing pages with every
// value escaped, and talking IPP back to the scheduler as the web user.
//
// Input is bounded: a query string or form body over kMaxFormBytes, more
// than kMaxFields fields, a field name over kMaxNameBytes or a value over
// kMaxValueBytes makes the whole form bad, never a cut or an overflow.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "vorn/http.h"
#include "vorn/ipp.h"

namespace vorn::cgi {

inline constexpr size_t kMaxFormBytes = 64 * 1024;
inline constexpr size_t kMaxFields = 64;
inline constexpr size_t kMaxNameBytes = 64;
inline constexpr size_t kMaxValueBytes = 4096;
// A multipart body with an uploaded PPD file.
inline constexpr size_t kMaxUploadBytes = 8 * 1024 * 1024;

// One uploaded file of a multipart form.
struct upload_t {
  std::string field;     // the form field's name
  std::string filename;  // as the browser named it (not trusted as a path)
  std::string content;
};

struct form_t {
  std::vector<std::pair<std::string, std::string>> fields;
  std::vector<upload_t> uploads;

  // The first value of `name`, or `fallback`.
  std::string get(std::string_view name, std::string_view fallback = "") const;
  // Every value of `name`, in order (checkboxes of one name).
  std::vector<std::string> all(std::string_view name) const;
  bool has(std::string_view name) const;
  const upload_t* upload(std::string_view name) const;
};

// Decodes one URL-encoded component: "+" is a blank, "%XX" one byte. False
// for a "%" without two hexadecimal digits after it, and for a decoded byte
// that is a control character (NUL included): such text names nothing we
// would act on.
bool UrlDecode(std::string_view text, std::string& out);

// Parses "a=1&b=2" (also ";" between fields; a field without "=" has an
// empty value; empty fields are skipped). False, with `form` left empty,
// when any part is malformed or over the limits above.
bool ParseUrlEncoded(std::string_view text, form_t& form);

// Parses a multipart/form-data body with the boundary of `content_type`.
// File parts (with a filename) go to `uploads`, others to `fields`. False
// when the type has no boundary, the body is not well formed, or it is over
// the limits (kMaxUploadBytes for the whole body).
bool ParseMultipart(std::string_view body, std::string_view content_type, form_t& form);

// The request's form: QUERY_STRING for GET, the body on standard input
// (CONTENT_LENGTH bytes, URL-encoded or multipart by CONTENT_TYPE) for POST.
// False with `error` set when it cannot be read or is malformed.
bool ReadRequestForm(form_t& form, std::string& error);

// Whether this request is a POST: what changes anything must come that way.
bool IsPost();

// Forms that change anything carry a token only this server's pages hand
// out: an HMAC of the web user's name under a key kept in TMPDIR (made on
// first use). Another site can make a browser post to us with the user's
// credentials, but cannot read our pages to learn the token. "" when no
// key can be had.
std::string FormToken();
// What a post without the right token is told.
inline constexpr const char* kStaleForm =
    "This form did not come from the pages of this server, or was shown to another user: open the page again.";
// Whether `form` carries the current user's token.
bool CheckFormToken(const form_t& form);

// Text made safe inside HTML elements and quoted attribute values.
std::string Html(std::string_view text);

// A path segment or query value percent-encoded (everything but letters,
// digits and "-._~"), for links built from names.
std::string UrlEncode(std::string_view text);

// The page under construction; written in one piece by Send.
struct page_t {
  std::string body;

  page_t& raw(std::string_view markup) {
    body += markup;
    return *this;
  }
  page_t& text(std::string_view value) {
    body += Html(value);
    return *this;
  }
};

// The hidden field with FormToken(), for every form posted to us.
void TokenField(page_t& page);

// The name of the destination a form adds or changes, in `field`: shown
// and sent hidden when `name` is an existing one ("Printer: x"), else a
// text input for a new name.
void DestNameField(page_t& page, std::string_view field, std::string_view noun, const std::string& name, bool existing);

// The question before a destination is deleted: a form posting `op` again
// with confirm=yes and `field`=`name`.
void ConfirmDelete(page_t& page, std::string_view noun, std::string_view op, std::string_view field,
                   const std::string& name);

// A one-button form posting `op` with `field`=`value` (and the token) to
// /admin; `label` is markup of our own.
void ActionButton(page_t& page, std::string_view field, std::string_view value, std::string_view op,
                  std::string_view label);

// The CGI header, the document head with the style sheet, the navigation
// and the heading `title`.
void PageHead(page_t& page, std::string_view title);
// Closes the document.
void PageFoot(page_t& page);
// A paragraph with a message; `error` styles it as a failure.
void Notice(page_t& page, std::string_view message, bool error);
// Writes the page to standard output; 0 on success, 1 when it could not be
// written.
int Send(const page_t& page);

// The text of a printer or job state.
const char* PrinterStateText(int state);
const char* JobStateText(int state);

// The user the web server authenticated (REMOTE_USER), else "anonymous".
std::string WebUser();

// A connection to the scheduler as the web user: "localhost" first, so the
// scheduler can be shown this program's local certificate, then SERVER_NAME;
// the port is IPP_PORT; requests name REMOTE_USER (or "anonymous").
struct session_t {
  http_ptr http;
  ipp_status_t status = IPP_OK;  // of the last request
  bool Open();
  // Sends `request` (consumed) to `resource` with the file `filename` as
  // its document when not null. Returns the response whose status is a
  // success, else null with `error` saying why in words.
  ipp_ptr Do(ipp_t* request, const char* resource, std::string& error, const char* filename = nullptr);
};

// A request for `op` with "printer-uri" ipp://localhost/printers/NAME (or
// /classes/NAME) and "requesting-user-name".
ipp_t* NewPrinterRequest(ipp_op_t op, std::string_view name, bool is_class);
// A request for `op` with "job-uri" ipp://localhost/jobs/ID.
ipp_t* NewJobRequest(ipp_op_t op, int job_id);
// Adds "requesting-user-name" and "requested-attributes".
void AddRequested(ipp_t* request, const std::vector<std::string>& names);

// A printer, class or job name fit for a URI path: not empty, at most 127
// bytes, printable ASCII without "/", "#", "?", "%", quotes, "\" or blanks.
bool IsValidName(std::string_view name);
// A decimal number from 1 to 2^31-1 with nothing else; 0 otherwise.
int ParseId(std::string_view text);

// The name this program was asked about: argv[0] when it is not the
// program's own file name (GET /printers/lab runs printers.cgi as "lab").
std::string RequestedName(int argc, char** argv, std::string_view program);

// The whole of a program that shows a page for GET and changes something
// for POST: reads the form (a malformed one is answered with a page titled
// `title` that says so) and hands it to `on_get` or `on_post`.
using form_handler_t = int (*)(session_t& session, const form_t& form);
int ServeForm(const char* title, form_handler_t on_get, form_handler_t on_post);

}  // namespace vorn::cgi
