// hpglconv job-id user title copies options [file]
#include "filter/common/filter-io.h"
#include "filter/hpglconv/hpglconv.h"

int main(int argc, char* argv[]) {
  filter_io_t io;
  if (!open_filter_io(argc, argv, "hpglconv", false, &io)) return 1;
  hpgl_state_t st;
  st.out = stdout;
  st.status = io.status;
  st.user = argv[2];
  st.title = argv[3];
  vorn::ppd_file_ptr ppd = hpglconv_prepare(st, argv[5]);
  return close_filter_io(&io, hpglconv_run(st, io.in));
}
