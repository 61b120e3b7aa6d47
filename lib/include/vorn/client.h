// Client settings shared by every program that talks to the scheduler: which
// server and port, as which user, with what encryption, and how to ask for a
// password.
//
// The settings are process-wide and guarded by a lock. A returned string stays
// valid until the call that changes that setting (vornSetServer, vornSetUser,
// the next vornGetPassword).
#pragma once

#include "vorn/http.h"  // http_encryption_t

// The scheduler's host name: the one set by vornSetServer, else the host part
// of the environment variable VORN_SERVER, else "localhost". An IPv6 address
// is returned without brackets ("::1").
const char* vornServer();

// Selects the server: "host", "host:port", "[ipv6]" or "[ipv6]:port". A port
// part (1 to 65535) also sets the port, as ippSetPort; without one the port
// goes back to the default. Null or empty goes back to the default (VORN_SERVER
// or "localhost"). Host names are cut to 255 bytes.
void vornSetServer(const char* server);

// The scheduler's port: the port last named with the server (by VORN_SERVER,
// vornSetServer or ippSetPort), else the environment variable IPP_PORT when it
// holds a valid port, else 631.
int ippPort();

// Sets the port; 0 or a value outside 1 to 65535 goes back to the default.
void ippSetPort(int port);

// The user name sent as requesting-user-name: the one set by vornSetUser, else
// the login name of the real user id (its decimal number when the user
// database has no entry for it).
const char* vornUser();

// Sets the user name (cut to 255 bytes); null or empty goes back to the default.
void vornSetUser(const char* user);

// The mode set by vornSetEncryption, else the environment variable
// VORN_ENCRYPTION ("IfRequested", "Never", "Required", "Always", any case;
// the scheduler sets it for programs it starts over TLS), else
// HTTP_ENCRYPT_IF_REQUESTED.
http_encryption_t vornEncryption();

// Sets the mode for the rest of the process; VORN_ENCRYPTION is no longer read.
void vornSetEncryption(http_encryption_t mode);

// Answers a password prompt. Returns the password, or null when none can be
// had. Without a callback it writes `prompt` to /dev/tty and reads one line
// from it with echo off (at most 255 bytes are kept); with no terminal it gives
// null. The result stays valid until the next call.
const char* vornGetPassword(const char* prompt);

// A password callback replaces the terminal prompt: it gets the prompt and
// returns the password or null. The returned string must stay valid until the
// next call of the callback. Null restores the terminal prompt.
using vorn_password_cb_t = const char* (*)(const char* prompt);
void vornSetPasswordCB(vorn_password_cb_t cb);
