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
  job.Copies = std::atoi(argv[4]);
  if (job.Copies < 1) {
    std::fprintf(stderr, "DEBUG: copies %.40s is out of range, printing 1 copy\n", argv[4]);
    job.Copies = 1;
  }

  vorn_options_t options;
  vornParseOptions(argv[5], options);
  vorn::ppd_file_ptr ppd(page_setup_from_options(job.page, options, true, stderr));
  job.ppd = ppd.get();
  if (ppd && ppd->landscape > 0) job.Landscape = true;
  psconv_read_options(job, options);

  int status = psconv_run(job, in);
  if (in != stdin) std::fclose(in);
  if (std::fflush(stdout) != 0 && status == 0) {
    std::fprintf(stderr, "ERROR: Unable to write print data - %s\n", std::strerror(errno));
    status = 1;
  }
  return status;
}
