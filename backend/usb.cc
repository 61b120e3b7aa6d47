// usb: prints to a USB printer through the kernel's printer-class driver.
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/lp.h>
#include <memory>
#include <sys/ioctl.h>

#include "backend/backend-common.h"
#include "vorn/fd.h"
#include "vorn/http.h"
#include "backend/usb-info.h"

using namespace vorn::backend;

namespace {

// The printer-class driver's request for the IEEE 1284 device ID; the
// answer is at most `len` bytes.
constexpr unsigned long device_id_request(unsigned len) {
  return _IOC(_IOC_READ, 'P', 1, len);
}
constexpr unsigned kDeviceIdSize = 1024;

// One "direct usb:" line per printer port of `dir` whose name begins with
// `prefix`, numbered from `*number` + 1 in directory order.
void list_ports(const std::string& dir, const char* prefix, int* number) {
  vorn::unique_dir d(opendir(dir.c_str()));
  if (!d) return;
  const size_t prefix_len = std::strlen(prefix);
  while (dirent* e = readdir(d.get())) {
    if (std::strncmp(e->d_name, prefix, prefix_len) != 0) continue;
    ++*number;
    std::string path = dir + "/" + e->d_name;
    UsbDeviceInfo info;
    vorn::unique_fd fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (fd) {
      char answer[kDeviceIdSize] = {};
      if (ioctl(fd.get(), device_id_request(sizeof(answer)), answer) >= 0) {
        parse_device_id(std::string_view(answer, sizeof(answer)), &info);
      }
    }
    std::string make_model = usb_make_model(info);
    device_line("direct usb:%s \"%s\" \"USB Printer #%d\"\n", path.c_str(), make_model.c_str(),
                *number);
  }
}

// The "usblp" ports of the device directory, then those current kernels
// create as "usb/lp0", "usb/lp1", ...
void list_usb() {
  std::string dir = device_directory();
  int number = 0;
  list_ports(dir, "usblp", &number);
  list_ports(dir + "/usb", "lp", &number);
}

}  // namespace

int main(int argc, char* argv[]) {
  BackendJob job;
  int status = 0;
  if (!start_backend(argc, argv, "Usage: USB job-id user title copies options [file]\n", list_usb,
                     &job, &status)) {
    return status;
  }

  // The device file is the whole rest of "usb:" (a "?" is part of it).
  vorn::unique_fd device;
  if (job.uri.compare(0, 4, "usb:") != 0) {
    errno = ENODEV;
  } else {
    static const OpenRetry kRetries[] = {
        {EBUSY, "INFO: USB port busy; will retry in 30 seconds...\n"},
        {ENOENT, "INFO: Printer not connected; will retry in 30 seconds...\n"},
        {EIO, "INFO: Printer not connected; will retry in 30 seconds...\n"},
        {ENXIO, "INFO: Printer not connected; will retry in 30 seconds...\n"},
    };
    device = open_local_device(job.uri.substr(4), O_RDWR | O_EXCL, kRetries, 4);
  }
  if (!device) {
    status_line("ERROR: Unable to open USB device \"%s\": %s\n", httpPublicURI(job.uri).c_str(),
                std::strerror(errno));
    return 1;
  }
  raw_local_modes(device.get());
  protect_stdin_job(job);

  int port_status = 0;
  if (ioctl(device.get(), LPGETSTATUS, &port_status) == 0) {
    status_line("DEBUG: LPGETSTATUS returned a port status of %02X...\n", port_status & 0xff);
    if (const char* warning = usb_status_warning(port_status)) status_line("%s", warning);
  }

  size_t failed = copy_loop(job, device.get());
  device.reset();
  job.file.reset();
  return finish_job(failed);
}
