// Helpers shared by the files of the HTTP component; not part of libvorn's
// interface.
#pragma once

#include "vorn/http.h"

#include <cstddef>
#include <sys/types.h>

namespace vorn::http {

// poll() for one descriptor, retrying on EINTR with the time left. msec < 0
// waits without limit, 0 only looks. 1 when ready, 0 on timeout, -1 on error.
int poll_fd(int fd, short events, int msec);

// The wait limit of a connection for poll_fd: its timeout, or -1 (none).
inline int wait_limit(const http_t* http) { return http->timeout > 0 ? http->timeout : -1; }

// One read of at most `len` bytes from the socket or the TLS session. With
// `wait` it waits for data (at most http->timeout ms per wait). Returns the
// count, 0 when the peer closed, -1 with http->error set (EAGAIN: nothing
// available and not waiting; ETIMEDOUT: the wait ran out).
ssize_t recv_some(http_t* http, char* buf, size_t len, bool wait);

// Writes all of `len` bytes, waiting for the socket to drain when it is full.
// 0, or -1 with http->error set.
int send_all(http_t* http, const char* buf, size_t len);

// Reads more input into http->buffer (waiting when http->blocking). Returns
// the count read, 0 when the peer closed or the buffer is full, -1 on error.
ssize_t fill_buffer(http_t* http);

// Removes the first `n` unread bytes of the buffer.
void consume(http_t* http, size_t n);

// Reads one line as httpGets does. 1 with a line, 0 when a non-blocking
// connection has no complete line yet, -1 on end of input or error.
int get_line(http_t* http, char* line, size_t size);

// Starts client-side TLS on the connected socket; 0 or -1.
int start_client_tls(http_t* http);

// Fails a TLS step because the TLS libraries cannot be loaded: http->error
// and errno become kTlsUnavailable (tls-loader.h). Returns -1.
int tls_unavailable(http_t* http);

// Connects http->fd to http->hostname:http->port; 0 or -1 (errno/h_errno).
int open_socket(http_t* http);

// The encryption step of a fresh client connection ("always": TLS at once,
// "required": upgrade). 0 or -1.
int apply_encryption(http_t* http);

// Sends a request line, the fields and the blank line (the request helpers).
int send_request(http_t* http, http_state_t state, const char* method, const char* uri);

// The h_errno code (HOST_NOT_FOUND, TRY_AGAIN, NO_RECOVERY, NO_DATA) of a
// getaddrinfo() failure.
int lookup_error(int rc);

// httpServicePort with the services database lookup given: `lookup` returns
// the port of a name in host byte order, or 0 when it does not know it.
int service_port(const char* name, int (*lookup)(const char* name));

// Parses a Content-Length value: its value, or -1 when malformed.
int64_t parse_length(const char* value);

}  // namespace vorn::http
