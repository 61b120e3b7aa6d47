// Temporary files with names nobody can guess or take over.
#pragma once

#include <cstdio>
#include <string>

// Creates a new, empty file in TMPDIR ("/tmp" when unset or empty), open for
// reading and writing, mode 0600 whatever the umask, close-on-exec. The name
// has 64 random bits and the file is created exclusively (never an existing
// file or a symbolic link). On success stores the path in `filename` and
// returns the descriptor, which the caller owns (wrap it in vorn::unique_fd)
// and the caller removes the file when done. On failure returns -1 with errno
// set and clears `filename`.
int vornTempFd(std::string& filename);

// The same as a stdio stream opened "w+": the caller owns the stream (fclose)
// and removes the file. Null with errno set on failure.
FILE* vornTempFile(std::string& filename);
