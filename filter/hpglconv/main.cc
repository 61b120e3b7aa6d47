// hpglconv job-id user title copies options [file]
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "filter/common/status-stream.h"
#include "filter/hpglconv/hpglconv.h"

int main(int argc, char* argv[]) {
  std::setbuf(stderr, nullptr);
  if (argc < 6 || argc > 7) {
    std::fputs("ERROR: hpglconv job-id user title copies options [file]\n", stderr);
    return 1;
  }
  FILE* in = stdin;
  if (argc == 7) {
    in = std::fopen(argv[6], "rb");
    if (!in) {
      std::fprintf(stderr, "ERROR: unable to open print file - %s\n", std::strerror(errno));
      return 1;
    }
  }
  FILE* status = open_status_stream(2);
  static char out_buffer[65536];
  std::setvbuf(stdout, out_buffer, _IOFBF, sizeof(out_buffer));

  hpgl_state_t st;
  st.out = stdout;
  st.status = status ? status : stderr;
  st.user = argv[2];
  st.title = argv[3];
  vorn::ppd_file_ptr ppd = hpglconv_prepare(st, argv[5]);

  int rc = hpglconv_run(st, in);
  if (in != stdin) std::fclose(in);
  if (std::fflush(stdout) != 0 && rc == 0) {
    std::fprintf(st.status, "ERROR: Unable to write print data - %s\n", std::strerror(errno));
    rc = 1;
  }
  if (status) std::fclose(status);
  return rc;
}
