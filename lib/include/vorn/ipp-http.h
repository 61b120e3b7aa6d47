// IPP messages carried in HTTP bodies: the IPP codec (vorn/ipp.h) over an
// HTTP connection (vorn/http.h).
#pragma once

#include "vorn/http.h"
#include "vorn/ipp.h"

// Reads an IPP message from the body of the message `http` is reading (after
// httpUpdate has returned the headers' status) into `ipp`, a new message or
// one an earlier call left unfinished.
//
// Blocking connection: reads the whole message in one call. Non-blocking
// connection: takes what is buffered or readable now and returns IPP_HEADER
// or IPP_ATTRIBUTE when more is needed; call again with the same message
// when the socket is readable (or `used` > 0).
//
// Returns IPP_DATA once the message is complete; the bytes after it (the
// document of a print request) stay unread for httpRead. IPP_ERROR when the
// body ends before the message does, the connection fails or the message is
// malformed.
ipp_state_t ippRead(http_t* http, ipp_t* ipp);

// Writes `ipp` as body bytes with httpWrite (so chunked when the connection's
// `data_encoding` is chunked; the caller ends a chunked body itself).
//
// Blocking connection: writes the whole message in one call. Non-blocking
// connection: each call writes at most one piece of up to HTTP_MAX_BUFFER
// bytes, and only when the socket can take data now, then returns the
// current state (IPP_HEADER or IPP_ATTRIBUTE); call again when the socket is
// writable.
//
// Returns IPP_DATA once every byte is written, IPP_ERROR on a write failure
// or a message that cannot be encoded. The message must not change while a
// write is unfinished.
ipp_state_t ippWrite(http_t* http, ipp_t* ipp);
