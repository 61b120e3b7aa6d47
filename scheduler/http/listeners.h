// Listening sockets: the listener table filled by Port, Listen, SSLPort and
// SSLListen, and the opening, pausing, resuming and closing of the sockets.
//
// Listening is "paused" exactly when the first open listener's descriptor
// is not in InputSet: while the client table is full or a reload waits for
// clients.
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

// The listeners in force, in configuration order; entries stay in place
// (and pointers to them valid) until the next ReadConfiguration.
extern std::vector<listener_t> Listeners;

// The address of ServerName, set by StartListening; only the family (IPv4)
// when the name cannot be resolved.
extern sock_addr_t OwnAddress;

// Why a listener could not be opened: the step that failed ("Unable to open
// listen socket", "Unable to bind socket", "Unable to listen for clients"),
// the system error and the listener's address.
struct listen_error_t {
  const char* what = nullptr;
  int error = 0;
  sock_addr_t address{};
};

// Opens, in table order, the sockets of `wanted` that are not open yet, each
// listening with `backlog`. A socket of `current` bound to the same address
// is taken over instead (its waiting connections stay). When an address is
// in use and `current` has sockets left that were not taken over (one on
// 0.0.0.0 holds the port that 127.0.0.1 now wants), those are closed and the
// address tried again. Call with listening paused.
//
// Returns 0, or -1 with `error` filled: then every socket opened here is
// closed again, and `current` gets back the ones taken or closed, so the
// listeners in force keep working.
int OpenListeners(std::vector<listener_t>& wanted, std::vector<listener_t>& current, int backlog,
                  listen_error_t& error);

// Resolves ServerName into OwnAddress, opens every listener of Listeners that
// is not open yet (at a reload ReadConfiguration has opened them already)
// and resumes listening. A listener that cannot be opened, bound or put into
// listening state is fatal: the error is logged and the process exits with
// errno as its status.
void StartListening();

// Pauses listening and closes every listening socket.
void StopListening();

// Takes every listener descriptor out of InputSet / puts them back; nothing
// when there is no listener or when already in that state.
void PauseListening();
void ResumeListening();

// True while the listeners are out of InputSet (or there are none).
bool ListeningPaused();
