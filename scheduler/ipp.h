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
