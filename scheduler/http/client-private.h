// Shared by the files of the HTTP service (client*.cc); not used elsewhere.
#pragma once

#include "scheduler/http/client.h"

// The end of a ReadClient call: when keep-alive is off and no request is in
// progress, the connection closes once its output is sent (see client.h).
// Returns 1.
int end_of_call(client_t* con);

// A protocol error, or an error while a body may still be arriving: the
// answer, then no more requests (ShutdownClient); the connection drains and
// closes once the answer is out. Returns 1.
int refuse(client_t* con, http_status_t code);

// The output of a closing connection is sent: shuts TLS and the sending side
// down and reads and drops input until the client closes or the drain time
// passes.
void begin_drain(client_t* con);

// ReadClient while draining: drops what arrived; closes the client at its
// end of input. Same result as ReadClient.
int drain_input(client_t* con);

// Sends close_notify (once the handshake is complete) and frees the TLS
// session, logging the outcome as CloseClient does.
void shutdown_tls(client_t* con);

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

// The last steps of a response once its last bytes are queued: access-log
// line, the end of a chunked body, state waiting, the file and request file
// closed and removed, the IPP messages and CGI command dropped. WriteClient
// then sends what is queued and waits for the next request or closes.
void finish_response(client_t* con);

// The CGI program for a resource under /admin (not /admin/conf/), /printers,
// /classes or /jobs: sets command and options and returns true; false for
// any other resource.
bool cgi_for_resource(client_t* con);
