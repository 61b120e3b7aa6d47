// psconv job-id user title copies options [file]
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

  psconv_t job;
  job.out = stdout;
  job.status = stderr;
  job.job_id = std::atoi(argv[1]);
  job.user = argv[2];
  job.title = argv[3];
  vorn::ppd_file_ptr ppd = psconv_prepare(job, argv[4], argv[5]);

  int status = psconv_run(job, in);
  if (in != stdin) std::fclose(in);
  if (std::fflush(stdout) != 0 && status == 0) {
    std::fprintf(stderr, "ERROR: Unable to write print data - %s\n", std::strerror(errno));
    status = 1;
  }
  return status;
}
