// Listening sockets: the listener table filled by Port, Listen, SSLPort and
// SSLListen, and the opening, pausing, resuming and closing of the sockets.
//
// Listening is "paused" exactly when the first listener's descriptor is not
// in InputSet: while the client table is full or a reload waits for clients.
#pragma once

#include <vector>

#include "scheduler/auth/address.h"
#include "vorn/fd.h"
#include "vorn/http.h"

struct listener_t {
  vorn::unique_fd fd;              // closed while the server is stopped
  sock_addr_t address{};           // address to bind (IPv4 or IPv6)
  http_encryption_t encryption = HTTP_ENCRYPT_IF_REQUESTED;  // ALWAYS for SSL listeners
};

// In configuration order; entries stay in place (and pointers to them valid)
// until the next ReadConfiguration.
extern std::vector<listener_t> Listeners;

// The address of ServerName, set by StartListening; only the family (IPv4)
// when the name cannot be resolved.
extern sock_addr_t OwnAddress;

// Resolves ServerName into OwnAddress, then opens, binds and listens on every
// listener in table order and resumes listening. A listener that cannot be
// opened, bound or put into listening state is fatal: the error is logged
// and the process exits with errno as its status.
void StartListening();

// Pauses listening and closes every listening socket.
void StopListening();

// Takes every listener descriptor out of InputSet / puts them back; nothing
// when there is no listener or when already in that state.
void PauseListening();
void ResumeListening();

// True while the listeners are out of InputSet (or there are none).
bool ListeningPaused();
