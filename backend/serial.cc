// serial: prints to a serial port, paced in chunks of about a tenth of a
// second of data at the configured rate.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "backend/backend-common.h"
#include "backend/serial-options.h"

using namespace vorn::backend;

namespace {

// Ports that the listing tries, numbered from 1.
constexpr const char* kPorts[] = {"tty00", "tty01"};

void list_serial() {
  std::string dir = device_directory();
  int number = 1;
  for (const char* port : kPorts) {
    std::string path = dir + "/" + port;
    vorn::unique_fd fd(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd) {
      device_line("serial serial:%s?baud=115200 \"Unknown\" \"Serial Port #%d\"\n", path.c_str(),
                  number);
    }
    number++;
  }
}

// With DSR waiting on, holds the copy until the device raises DSR; a port
// whose modem lines cannot be read is not waited for.
void wait_for_dsr(int fd) {
  int lines = 0;
  if (ioctl(fd, TIOCMGET, &lines) != 0 || (lines & TIOCM_DSR)) return;
  status_line("DEBUG: DSR is low; waiting for device...\n");
  for (;;) {
    sleep(1);
    if (ioctl(fd, TIOCMGET, &lines) != 0 || (lines & TIOCM_DSR)) break;
  }
  status_line("DEBUG: DSR is high; writing to device...\n");
}

}  // namespace

int main(int argc, char* argv[]) {
  BackendJob job;
  int status = 0;
  if (!start_backend(argc, argv, "Usage: serial job-id user title copies options [file]\n",
                     list_serial, &job, &status)) {
    return status;
  }

  std::string options;
  std::string path = device_path(job.uri, &options);
  static const OpenRetry kRetries[] = {
      {EBUSY, "INFO: Serial port busy; will retry in 30 seconds...\n"},
  };
  vorn::unique_fd port = open_local_device(path, O_WRONLY | O_NOCTTY | O_EXCL | O_NONBLOCK,
                                          kRetries, 1);
  if (!port) {
    status_line("ERROR: Unable to open serial port device file \"%s\": %s\n", path.c_str(),
                std::strerror(errno));
    return 1;
  }

  termios saved{};
  bool have_saved = tcgetattr(port.get(), &saved) == 0;
  termios work = saved;
  work.c_lflag &= ~tcflag_t(ICANON | ECHO | ISIG);
  work.c_oflag &= ~tcflag_t(OPOST);
  SerialSettings settings;
  for (const std::string& line : apply_serial_options(options, &work, &settings)) {
    status_line("%s", line.c_str());
  }
  if (have_saved) tcsetattr(port.get(), TCSANOW, &work);
  int flags = fcntl(port.get(), F_GETFL);
  if (flags >= 0) fcntl(port.get(), F_SETFL, flags & ~O_NONBLOCK);

  protect_stdin_job(job);
  size_t failed = 0;
  for (int copy = 0; copy < job.copies; copy++) {
    begin_copy(job);
    if (settings.dsr_wait) wait_for_dsr(port.get());
    failed += send_copy(job, port.get(), settings.chunk);
  }

  if (have_saved) tcsetattr(port.get(), TCSADRAIN, &saved);
  port.reset();
  job.file.reset();
  return finish_job(failed);
}
