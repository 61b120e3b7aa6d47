// textconv job-id user title copies options [file]
#include "filter/common/filter-io.h"
#include "filter/textconv/textconv.h"

int main(int argc, char* argv[]) {
  filter_io_t io;
  if (!open_filter_io(argc, argv, nullptr, false, &io)) return 1;
  textconv_t job;
  job.out = stdout;
  job.status = io.status;
  job.user = argv[2];
  job.title = argv[3];
  vorn::ppd_file_ptr ppd = textconv_prepare(job, argv[5]);
  return close_filter_io(&io, textconv_run(job, io.in));
}
