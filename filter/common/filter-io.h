// The streams of a filter that reads one document (the file named by its
// seventh argument, else standard input) and writes PostScript to standard
// output: the usage check, the document, the status stream and a large
// output buffer, and at the end the flush whose failure fails the job.
#pragma once

#include <cstdio>

struct filter_io_t {
  FILE* in = nullptr;
  FILE* status = nullptr;      // the batched status stream, or stderr when it could not be made
  FILE* own_status = nullptr;  // closed by close_filter_io
};

// Checks for 6 or 7 arguments ("ERROR: <name> job-id user title copies
// options [file]" otherwise; `name` null means argument 0) and opens the
// document; a failure writes "ERROR: unable to open print file - " and the
// system error (with `quote_file`, the quoted file name before the dash)
// and returns false: the filter exits 1.
bool open_filter_io(int argc, char* argv[], const char* name, bool quote_file, filter_io_t* io);

// Closes the document, flushes standard output (a failure makes a job that
// succeeded fail, with "ERROR: Unable to write print data") and closes the
// status stream. Returns the exit status.
int close_filter_io(filter_io_t* io, int rc);
