// psconv job-id user title copies options [file]
#include <cstdlib>

#include "filter/common/filter-io.h"
#include "filter/psconv/psconv.h"

int main(int argc, char* argv[]) {
  filter_io_t io;
  if (!open_filter_io(argc, argv, "psconv", true, &io)) return 1;
  psconv_t job;
  job.out = stdout;
  job.status = io.status;
  job.job_id = int(std::strtol(argv[1], nullptr, 10) & 0x7fffffff);
  job.user = argv[2];
  job.title = argv[3];
  vorn::ppd_file_ptr ppd = psconv_prepare(job, argv[4], argv[5]);
  return close_filter_io(&io, psconv_run(job, io.in));
}
