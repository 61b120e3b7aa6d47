#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "filter/driver-common/driver.h"

namespace vorn::drv {

namespace {
volatile sig_atomic_t g_term = 0;
void on_term(int) { g_term = 1; }
}  // namespace

int open_input(int argc, char** argv, const char* name, unique_fd& owner) {
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "ERROR: %s job-id user title copies options [file]\n", name);
    return -1;
  }
  if (argc == 6) return 0;
  owner.reset(::open(argv[6], O_RDONLY | O_CLOEXEC));
  if (!owner) {
    std::fprintf(stderr, "ERROR: Unable to open raster file - %s\n", std::strerror(errno));
    ::sleep(1);
    return -1;
  }
  return owner.get();
}

header_result read_header(vorn_raster_t* r, vorn_page_header_t& h) {
  if (vornRasterReadHeader(r, h)) return header_result::page;
  if (const char* why = vornRasterReadProblem(r)) {
    std::fprintf(stderr, "ERROR: Bad raster page header - %s\n", why);
    return header_result::refused;
  }
  return header_result::end;
}

std::string check_layout(const vorn_page_header_t& h, unsigned planes, unsigned bits,
                         const header_limits& limits) {
  char buf[160];
  if (h.HWResolution[0] == 0 || h.HWResolution[1] == 0 || h.HWResolution[0] > limits.max_resolution ||
      h.HWResolution[1] > limits.max_resolution) {
    std::snprintf(buf, sizeof buf, "resolution %ux%u dpi outside 1 to %u", h.HWResolution[0], h.HWResolution[1],
                  limits.max_resolution);
    return buf;
  }
  if (h.vornWidth == 0 || h.vornWidth > limits.max_width || h.vornHeight == 0 ||
      h.vornHeight > VORN_RASTER_MAX_DIM) {
    std::snprintf(buf, sizeof buf, "page of %ux%u pixels outside 1 to %ux%u", h.vornWidth, h.vornHeight,
                  limits.max_width, VORN_RASTER_MAX_DIM);
    return buf;
  }
  uint64_t want = uint64_t(planes) * ((uint64_t(h.vornWidth) * bits + 7) / 8);
  if (h.vornBytesPerLine != want) {
    std::snprintf(buf, sizeof buf, "%u bytes per line where %u pixels in %u planes of %u bits take %llu",
                  h.vornBytesPerLine, h.vornWidth, planes, bits, static_cast<unsigned long long>(want));
    return buf;
  }
  return {};
}

void catch_term() {
  struct sigaction sa {};
  sa.sa_handler = on_term;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
}

void ignore_term() { std::signal(SIGTERM, SIG_IGN); }

bool term_requested() { return g_term != 0; }

int job_status(bool failed, int pages) {
  if (failed) return 1;
  if (pages == 0) {
    std::fputs("ERROR: No pages found!\n", stderr);
    return 1;
  }
  std::fputs("INFO: VORN v1.1 is ready to print.\n", stderr);
  return 0;
}

}  // namespace vorn::drv
