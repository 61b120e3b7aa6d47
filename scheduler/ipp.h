// IPP requests: the checks every request goes through, the one table of
// operations, and the routines every operation handler uses.
//
// A request arrives as the body of a POST of type "application/ipp"; the
// HTTP service has decoded it into con->ipp_request and spooled the document
// data that followed it into con->filename (possibly empty). The answer is
// always HTTP 200 with an IPP response; IPP errors are IPP status codes.
#pragma once

#include <span>

#include "vorn/ipp.h"

struct client_t;

// An operation handler fills con->ipp_response from con->ipp_request and
// sets its status: on failure through send_ipp_error, on success by setting
// op_status itself (successful-ok is preset). `uri` is the request's target
// (printer-uri, else job-uri), nullptr for the operations that need none.
// Handlers never write to the socket.
using ipp_handler_t = void (*)(client_t* con, ipp_attribute_t* uri);

struct ipp_operation_t {
  ipp_op_t id;
  const char* name;       // for the log
  ipp_handler_t handler;  // nullptr: not served yet, answered 0x0501
};

// Every operation the scheduler knows, in id order. Operations whose
// handlers are not written yet have a null handler. Valid for the life of
// the process.
std::span<const ipp_operation_t> IPPOperations();

// Checks the request (version, attributes, group order, charset, language,
// target), applies RemoteRoot, dispatches it and starts the response: the
// HTTP header is written, the encoded response is left in con->ipp_response
// for WriteClient and the socket put in OutputSet. Returns false when the
// HTTP header could not be written (the caller closes the client).
bool ProcessIPPRequest(client_t* con);

// Sets the response's status to `status` and makes sure it carries
// "attributes-charset" and "attributes-natural-language".
void send_ipp_error(client_t* con, ipp_status_t status);

// Whether the requester of the client's request may act on something owned
// by `owner`: the same user (any case), "root", or a user who is a member
// of one of the SystemGroup groups or has one as primary group. The
// requester's name (authenticated user, else requesting-user-name, else
// "anonymous") is copied to `username` (at most `userlen` bytes, always
// terminated).
bool validate_user(client_t* con, const char* owner, char* username, int userlen);

// ---- Query operations (ipp-query.cc) ----

// Appends to `to` a copy of every attribute of `from` that `requested` (the
// request's "requested-attributes", or null) asks for: all of them when
// `requested` is null or its first value is "all", else those whose name
// equals one of its values exactly (group names such as
// "printer-description" are not expanded). Separators are always copied.
// With `group` other than IPP_TAG_ZERO only attributes of that group are
// copied. Copies keep group, type and every value (collections deeply). A
// null `from` copies nothing. The one filter every query uses.
void copy_attrs(ipp_t* to, ipp_t* from, const ipp_attribute_t* requested, ipp_tag_t group);

// Get-Printer-Attributes: the destination's computed state values, its
// attribute set and the shared one through the filter; 0x0406 for an unknown
// destination.
void get_printer_attrs(client_t* con, ipp_attribute_t* uri);
// VORN-Get-Printers (`type` 0) and VORN-Get-Classes (`type` PRINTER_CLASS):
// the listed destinations in name order, one group each.
void get_printers(client_t* con, int type);
// The table's handlers for the two listings.
void get_printers_op(client_t* con, ipp_attribute_t* uri);
void get_classes_op(client_t* con, ipp_attribute_t* uri);
// VORN-Get-Default: the default destination's attribute set, or 0x0406.
void get_default(client_t* con, ipp_attribute_t* uri);

// ---- Job queries (ipp-query-jobs.cc) ----

// Get-Jobs: the jobs the target path selects ("/" or "/jobs": all,
// "/printers" or "/classes": by kind, else one destination), filtered by
// which-jobs, my-jobs and limit, one group each; 0x0406 for an unknown
// destination.
void get_jobs(client_t* con, ipp_attribute_t* uri);
// Get-Job-Attributes: a job named by job-uri "/jobs/ID" or printer-uri and
// job-id; 0x0400 for a malformed target, 0x0406 for an unknown job.
void get_job_attrs(client_t* con, ipp_attribute_t* uri);
