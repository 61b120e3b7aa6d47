// parallel: prints to a parallel port.
#include <cerrno>
#include <cstring>
#include <fcntl.h>

#include "backend/backend-common.h"

using namespace vorn::backend;

namespace {

void list_parallel() {
  std::string dir = device_directory();
  for (int i = 0; i < 3; i++) {
    std::string path = dir + "/lp" + std::to_string(i);
    // Non-blocking, so that a port whose printer is off answers at once
    // instead of holding up the whole device scan.
    vorn::unique_fd fd(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd || errno == EIO) {
      device_line("direct parallel:%s \"Unknown\" \"Parallel Port #%d\"\n", path.c_str(), i + 1);
    }
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  BackendJob job;
  int status = 0;
  if (!start_backend(argc, argv, "Usage: parallel job-id user title copies options [file]\n",
                     list_parallel, &job, &status)) {
    return status;
  }

  std::string path = device_path(job.uri);
  static const OpenRetry kRetries[] = {
      {EBUSY, "INFO: Parallel port busy; will retry in 30 seconds...\n"},
      {ENXIO, "INFO: Printer not connected; will retry in 30 seconds...\n"},
      {EIO, "INFO: Printer not connected; will retry in 30 seconds...\n"},
      {ENOENT, "INFO: Printer not connected; will retry in 30 seconds...\n"},
  };
  vorn::unique_fd device = open_local_device(path, O_WRONLY | O_EXCL, kRetries, 4);
  if (!device) {
    status_line("ERROR: Unable to open parallel port device file \"%s\": %s\n", path.c_str(),
                std::strerror(errno));
    return 1;
  }
  raw_local_modes(device.get());

  size_t failed = copy_loop(job, device.get());
  device.reset();
  job.file.reset();
  return finish_job(failed);
}
