// The status stream of a filter: messages for the scheduler, written to
// its status pipe in batches of whole lines. A pipe write of at most
// PIPE_BUF bytes is never interleaved with another process's, so every
// line arrives whole even though the filters and the backend of a job
// share one pipe; batching keeps a filter that reports every page from
// spending its time in write calls.
#pragma once

#include <cstdio>

// A stream on `fd` (not closed with it) that writes only complete lines,
// in writes of at most PIPE_BUF bytes unless a single line is longer.
// Lines wait until the stream's buffer (half of PIPE_BUF) is full, fflush
// or fclose. Null on failure.
FILE* open_status_stream(int fd);
