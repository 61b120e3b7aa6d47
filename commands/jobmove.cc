// jobmove: moves a queued job to another destination.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "command-common.h"
#include "vorn/client.h"
#include "vorn/dests.h"
#include "vorn/request.h"

namespace {

using namespace vorn::cmd;

// The job number of "42" or "laser-42"; a destination whose own name holds
// a "-" is taken whole.
int JobNumber(const char* arg) {
  const char* dash = std::strrchr(arg, '-');
  if (dash) {
    vorn_dests_t dests;
    vornGetDests(dests);
    if (!vornGetDest(arg, nullptr, dests)) return AtoiClamped(dash + 1);
  }
  return AtoiClamped(arg);
}

}  // namespace

int main(int argc, char** argv) {
  const char* job = nullptr;
  const char* dest = nullptr;
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (arg[0] == '-') {
      switch (arg[1]) {
        case 'E':
          RequireEncryption(nullptr);
          break;
        case 'h': {
          vorn::http_ptr none;
          if (!SelectServer(argc, argv, &i, none)) {
            std::fprintf(stderr, "Error: need hostname after '-h' option!\n");
            return 1;
          }
          break;
        }
        default:
          std::fprintf(stderr, "jobmove: Unknown option '%c'!\n", arg[1]);
          return 1;
      }
    } else if (!job) {
      job = arg;
    } else if (!dest) {
      dest = arg;
    } else {
      std::fprintf(stderr, "jobmove: Unknown argument '%s'!\n", arg);
      return 1;
    }
  }
  if (!job || !dest) {
    std::fprintf(stderr, "Usage: jobmove job dest\n");
    return 1;
  }

  int job_id = JobNumber(job);
  vorn::http_ptr http = ConnectScheduler();
  if (!http) {
    std::fprintf(stderr, "jobmove: Unable to connect to server: %s\n", std::strerror(errno));
    return 1;
  }
  ipp_t* request = vornNewRequest(VORN_MOVE_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", "", JobURI(job_id));
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", "", vornUser());
  ippAddString(request, IPP_TAG_JOB, IPP_TAG_URI, "job-printer-uri", "", PrinterURI(dest));
  ipp_status_t status;
  if (!Send(http.get(), request, "/jobs", &status)) {
    // A move that did not happen is a failure, for scripts as for people.
    std::fprintf(stderr, "jobmove: move-job failed: %s\n", ippErrorString(status));
    return 1;
  }
  return 0;
}
