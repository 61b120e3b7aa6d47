// Shared by the files of the HTTP service (client*.cc); not used elsewhere.
#pragma once

#include "scheduler/http/client.h"

// The end of a ReadClient call: the client stays open (1) while keep-alive
// is on or a request is in progress, else it is closed (0).
int end_of_call(client_t* con);

// A protocol error, or an error while a body may still be arriving: the
// answer, then no more reading (ShutdownClient), so that the client gets the
// answer instead of a reset connection. Returns 1.
int refuse(client_t* con, http_status_t code);

// One step of a pending TLS handshake: 1 while it goes on or once it
// completed (con->handshake is then null), 0 when it failed.
int continue_handshake(client_t* con);

// ReadClient and WriteClient while a handshake is pending: one step of it,
// then, once an upgrade completes, the answer to the request that asked for
// it. Same result as ReadClient.
int step_handshake(client_t* con);

// Answers the request whose headers asked for the TLS upgrade, now that the
// connection is encrypted. Same result as ReadClient.
int answer_request(client_t* con);

// Receives the body of a POST or PUT: the IPP message, then up to 32768
// bytes into the request file; at its end hands an IPP request to
// ProcessIPPRequest or installs an uploaded file. Same result as ReadClient.
int receive_body(client_t* con);

// The last steps of a response: access-log line, the end of a chunked body,
// state waiting, the file and request file closed and removed, the IPP
// messages and CGI command dropped, input watched again. Closes the client
// when keep-alive is off. Same result as WriteClient.
int finish_response(client_t* con);

// The CGI program for a resource under /admin (not /admin/conf/), /printers,
// /classes or /jobs: sets command and options and returns true; false for
// any other resource.
bool cgi_for_resource(client_t* con);
