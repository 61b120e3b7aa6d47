// Client connections: the client table and the acceptance and closing of
// connections.
//
// Reading requests and writing responses is the HTTP service's work and is
// not written yet: ReadClient and WriteClient below only complete a TLS
// handshake and notice a peer that closed; whatever else a peer sends is read
// and dropped. The record is built on libvorn's http_t so that the service
// extends it.
#pragma once

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "vorn/http.h"

struct listener_t;

struct client_t {
  http_t http;  // socket, peer address and host name, TLS session, HTTP state

  // The request being served, for the access log.
  time_t request_time = 0;                 // when the request line was read
  http_state_t request_method = HTTP_WAITING;
  long long byte_count = 0;                // body bytes received + sent
  std::string username;                    // authenticated user, at most 32 characters
  std::string resource;                    // at most 1023 characters

  // A TLS handshake that is still going on (SSL listeners, and later the
  // HTTP upgrade). It runs step by step from the main loop so that a slow or
  // silent peer cannot hold up the scheduler; once complete the session is
  // handed to `http`.
  ssl_st* handshake = nullptr;
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

// Shuts TLS down, closes the socket, takes it out of the descriptor sets and
// removes the client from the table (resuming listening when the table was
// full and no reload is waiting). `con` is invalid afterwards.
void CloseClient(client_t* con);
void CloseAllClients();

// Called when the socket is readable or input is buffered; 1 while the client
// is open, 0 when it has been closed and removed.
int ReadClient(client_t* con);

// Called when the socket is writable; same result as ReadClient.
int WriteClient(client_t* con);

// Starts the TLS handshake with ServerContext; 1 while it goes on or when it
// completed, 0 when it failed (the errors are logged, the caller closes).
int EncryptClient(client_t* con);

// True when the client has input that select() will not report: bytes in the
// connection's buffer or decrypted bytes waiting in the TLS session.
bool ClientHasBufferedInput(const client_t* con);
