// The body of unzipconv: expands a document that may be gzip-compressed
// onto a descriptor, and says on the status stream how it ended.
#pragma once

#include <cstdio>

#include "vorn/file.h"

namespace vorn::unzip {

// Copies every plain byte of `in` to `out_fd` in blocks of up to 8192 bytes.
// Data without a gzip header is passed on unchanged. 0 after a clean end of
// the data; 1 after an ERROR: line on `status` when the output cannot be
// written or the compressed data is cut short or damaged (the bytes
// written before stay written, but the job is not reported as printed).
int unzip_copy(gzip_reader& in, int out_fd, FILE* status);

}  // namespace vorn::unzip
