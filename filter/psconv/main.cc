// psconv job-id user title copies options [file]
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "filter/common/status-stream.h"
#include "filter/psconv/psconv.h"

int main(int argc, char* argv[]) {
  std::setbuf(stderr, nullptr);
  if (argc < 6 || argc > 7) {
    std::fputs("ERROR: psconv job-id user title copies options [file]\n", stderr);
    return 1;
  }
  FILE* in = stdin;
  if (argc == 7) {
    in = std::fopen(argv[6], "rb");
    if (!in) {
      std::fprintf(stderr, "ERROR: unable to open print file \"%s\" - %s\n", argv[6], std::strerror(errno));
      return 1;
    }
  }

  // Whole status lines in batches; a large output buffer. The document
  // still streams to the printer a buffer at a time.
  FILE* status = open_status_stream(2);
  static char out_buffer[65536];
  std::setvbuf(stdout, out_buffer, _IOFBF, sizeof(out_buffer));

  psconv_t job;
  job.out = stdout;
  job.status = status ? status : stderr;
  job.job_id = int(std::strtol(argv[1], nullptr, 10) & 0x7fffffff);
  job.user = argv[2];
  job.title = argv[3];
  vorn::ppd_file_ptr ppd = psconv_prepare(job, argv[4], argv[5]);

  int rc = psconv_run(job, in);
  if (in != stdin) std::fclose(in);
  if (std::fflush(stdout) != 0 && rc == 0) {
    std::fprintf(job.status, "ERROR: Unable to write print data - %s\n", std::strerror(errno));
    rc = 1;
  }
  if (status) std::fclose(status);
  return rc;
}
