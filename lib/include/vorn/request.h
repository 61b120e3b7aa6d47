// IPP requests over HTTP: one request (and a document) to a server with
// authentication, the TLS upgrade and reconnection handled; and the job and
// printer calls of the commands, built on it.
//
// The calls without a connection argument (vornPrintFile, vornPrintFiles,
// vornCancelJob, vornGetPrinters, vornGetPPD, and vornGetDests in
// vorn/dests.h) share one process-wide connection to vornServer() on
// ippPort() with vornEncryption(). It is opened on first use, kept alive
// between calls, reopened when one of those settings has changed, and used
// by one call at a time (the calls lock it).
#pragma once

#include <span>
#include <string>
#include <vector>

#include "vorn/http.h"
#include "vorn/ipp.h"
#include "vorn/options.h"

// A new request for `op`, owned by the caller: request id 1, then the
// operation attributes "attributes-charset" and "attributes-natural-language"
// of the environment's language (vornLangGet with no name).
ipp_t* vornNewRequest(ipp_op_t op);

// Sends `request` as a POST to `resource` (content type "application/ipp"),
// followed by the bytes of the file `filename` when it is not null, over the
// client connection `http`, and reads the response.
//
// Always consumes `request`: it is deleted whatever happens. Returns the
// response, owned by the caller (ippDelete), or nullptr; vornLastError then
// says why. The body is sent with Content-Length (the encoded request plus
// the file's size), or chunked when the file is not a regular file (a pipe).
// A pipe's bytes can be sent once only: a request that has to be repeated
// after them fails with IPP_DOCUMENT_ACCESS_ERROR.
//
// Along the way, bounded in number:
//  - a connection the server has closed (announced, or found dead when the
//    request gets no response at all) is reopened and the request sent again
//    once;
//  - 401: the password for vornUser() is asked with vornGetPassword (prompt
//    "Password for USER on HOST? ") and the request repeated with Basic or
//    Digest credentials, as the WWW-Authenticate challenge asks, at most three
//    prompts. A password that worked is remembered for the process, so later
//    challenges from the same host for the same user are answered without
//    asking again; no password (or an empty one) gives up;
//  - 426: the connection switches to TLS (httpEncryption, "required") and
//    the request is repeated, once.
// A server that answers before it has read the whole body (a refusal) is
// heard at once, not after the rest of the document has been pushed at it.
// A server that stays silent is waited for `http->timeout` ms per wait, or
// 300 seconds when the connection sets no limit; a timeout is never a
// reason to send again. `blocking` and `timeout` are restored on return;
// the connection stays open for the next request when the server allows.
ipp_t* vornDoFileRequest(http_t* http, ipp_t* request, const char* resource, const char* filename);

// The status of this thread's last request: the response's status code, or
// when there was no IPP response:
//   IPP_INTERNAL_ERROR                no response (no connection, the server
//                                     closed or timed out, a malformed answer);
//   IPP_DOCUMENT_ACCESS_ERROR         the document file could not be read;
//   IPP_BAD_REQUEST, IPP_NOT_AUTHENTICATED (401 without usable credentials),
//   IPP_FORBIDDEN, IPP_NOT_FOUND, IPP_REQUEST_ENTITY_TOO_LARGE,
//   IPP_NOT_AUTHORIZED (426 that TLS could not satisfy),
//   IPP_SERVICE_UNAVAILABLE           for those HTTP refusals;
//   IPP_OK                            before any request.
ipp_status_t vornLastError();

// Submits one file to `printer` (a printer or class of the server) with
// Print-Job: "attributes-charset", "attributes-natural-language",
// "printer-uri" (ipp://localhost/printers/NAME), "requesting-user-name"
// (vornUser), "job-name" (`title`, when not null or empty), then `options`
// through vornEncodeOptions (operation attributes first, so the groups stay
// in order). Returns the new job id, or 0 (vornLastError says why).
int vornPrintFile(const char* printer, const char* filename, const char* title,
                  const vorn_options_t& options);

// Several files as one job: Create-Job as above, then one Send-Document per
// file ("job-id", "last-document" true on the last one; the options'
// "document-format" and "compression" repeated for each document). One file
// goes through Print-Job. When a document is refused the job is cancelled so
// no half job stays queued. Returns the job id, or 0.
int vornPrintFiles(const char* printer, int num_files, const char* const* files, const char* title,
                   const vorn_options_t& options);
int vornPrintFiles(const char* printer, std::span<const std::string> files, const char* title,
                   const vorn_options_t& options);

// Cancel-Job for job `job_id` of `printer` (0: the printer's current job).
// 1 on success, else 0.
int vornCancelJob(const char* printer, int job_id);

// Replaces `printers` with the names of the server's printers
// (VORN-Get-Printers) in the server's order and returns their count; 0 when
// there are none or the request failed (vornLastError).
int vornGetPrinters(std::vector<std::string>& printers);

// Fetches "/printers/NAME.ppd" from the server into a new temporary file
// (vornTempFd) and returns its name; the caller removes the file. An empty
// string when there is none: no such printer or no PPD (IPP_NOT_FOUND), a
// name that cannot name a printer ("/", control characters), a failed
// request, or a file larger than 64 MiB.
std::string vornGetPPD(const char* printer);
