// scsi: the frame of a SCSI printer backend. This system has no SCSI
// printer interface, so the transfer step fails and nothing is printed.
#include "backend/backend-common.h"

using namespace vorn::backend;

namespace {

// The platform's transfer of `copies` copies of `input` to the device;
// returns the exit status. None is provided here.
int print_device(const std::string& path, int input, int copies) {
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  BackendJob job;
  int status = 0;
  if (!start_backend(argc, argv, "Usage: scsi:/dev/file job-id user title copies options [file]\n",
                     nullptr, &job, &status)) {
    return status;
  }
  std::string path = device_path(job.uri);
  status = print_device(path, job.input, job.copies);
  job.file.reset();
  if (status == 0) status_line("INFO: Ready to print.\n");
  return status;
}
