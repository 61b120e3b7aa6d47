#include "filter/common/filter-io.h"

#include <cerrno>
#include <cstring>

#include "filter/common/status-stream.h"

bool open_filter_io(int argc, char* argv[], const char* name, bool quote_file, filter_io_t* io) {
  std::setbuf(stderr, nullptr);
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "ERROR: %s job-id user title copies options [file]\n",
                 name ? name : (argv[0] ? argv[0] : "filter"));
    return false;
  }
  io->in = stdin;
  if (argc == 7) {
    io->in = std::fopen(argv[6], "rb");
    if (!io->in) {
      if (quote_file)
        std::fprintf(stderr, "ERROR: unable to open print file \"%s\" - %s\n", argv[6], std::strerror(errno));
      else
        std::fprintf(stderr, "ERROR: unable to open print file - %s\n", std::strerror(errno));
      return false;
    }
  }
  // Whole status lines in batches; the document still streams to the
  // printer a buffer at a time.
  io->own_status = open_status_stream(2);
  io->status = io->own_status ? io->own_status : stderr;
  static char out_buffer[65536];
  std::setvbuf(stdout, out_buffer, _IOFBF, sizeof(out_buffer));
  return true;
}

int close_filter_io(filter_io_t* io, int rc) {
  if (io->in && io->in != stdin) std::fclose(io->in);
  io->in = nullptr;
  if (std::fflush(stdout) != 0 && rc == 0) {
    std::fprintf(io->status, "ERROR: Unable to write print data - %s\n", std::strerror(errno));
    rc = 1;
  }
  if (io->own_status) std::fclose(io->own_status);
  io->own_status = nullptr;
  io->status = stderr;
  return rc;
}
