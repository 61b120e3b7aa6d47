// The frame every backend shares: the command line the scheduler gives it,
// the device-listing lines, status lines on standard error, opening a device
// that may be busy or absent, and the copy loop that sends the print data.
//
// Backends are single-threaded programs; nothing here keeps state between
// calls except what the caller holds in a BackendJob.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "vorn/fd.h"

namespace vorn::backend {

// Seconds between attempts to open a busy or absent device.
inline constexpr unsigned kRetrySeconds = 30;
// Largest block read from the input and written to the device.
inline constexpr size_t kBlockSize = 8192;

// What the common start-up learnt from the command line.
struct BackendJob {
  std::string uri;         // the device URI: DEVICE_URI, else argv[0]
  unique_fd file;          // the named print file; closed when printing stdin
  int input = 0;           // descriptor the data is read from: file, or 0
  bool from_file = false;  // printing a named file (PAGE:/INFO: lines apply)
  int copies = 1;          // copies to send; 0 or less sends nothing
};

// The device listing of one backend; writes device_line()s.
using ListDevices = void (*)();

// Steps 1 to 4 of the start-up: unbuffered standard error and SIGPIPE
// ignored; with argv[0] alone the listing is printed and `*status` is 0;
// with other than 6 or 7 arguments `usage` (one whole line) goes to standard
// error and `*status` is 1; a named print file that cannot be opened gives
// "ERROR: unable to open print file: ..." and status 1. Returns true when
// the backend goes on with `job` filled in, false when it should exit with
// `*status`.
bool start_backend(int argc, char* argv[], std::string_view usage, ListDevices list,
                   BackendJob* job, int* status);

// One status line on standard error, written with a single write() so lines
// of processes sharing the status pipe never interleave. printf-style; the
// caller supplies the newline.
void status_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The system error report: "text: <strerror(errno)>\n". errno is preserved.
void status_error(const char* text);

// One device-listing line on standard output (the caller supplies the
// newline). printf-style.
void device_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Makes a text safe inside a double-quoted field of a device line: double
// quotes, backslashes and control characters become spaces.
std::string quote_safe(std::string_view text);

// The directory whose device files the listings look at: "/dev", or the
// value of the environment variable VORN_BACKEND_DEVDIR when it is an
// absolute path. The variable exists so the listings can be tried against
// stand-in files; it changes only which paths are listed, never the device
// a job is printed to (that always comes from the device URI).
std::string device_directory();

// The device file of a local-device URI ("parallel:/dev/lp0?opts"): the
// resource as httpSeparate gives it, cut at the first "?". The text after
// the "?" goes to `*options` when it is given.
std::string device_path(const std::string& uri, std::string* options = nullptr);

// How open_device reacts to one errno value.
struct OpenRetry {
  int error;            // errno value
  const char* message;  // status line written before sleeping and retrying
};

// Opens `path` with `flags` (O_CLOEXEC is added). When the open fails with
// an errno listed in `retries` its message is written and the open is tried
// again every kRetrySeconds seconds, without limit (SIGTERM ends the wait).
// Returns the open descriptor, or an invalid one with errno set for any other
// failure, which the caller reports.
unique_fd open_device(const char* path, int flags, const OpenRetry* retries, size_t n_retries);

// Whether `path` names a file below /dev without any ".." component.
bool local_device_path(std::string_view path);

// open_device for the device file of a local-device backend (parallel,
// serial, usb), which runs as root: `path` must pass local_device_path and
// what was opened must be a character device. Otherwise an invalid
// descriptor with errno ENODEV (nothing was created or truncated: `flags`
// never hold O_CREAT or O_TRUNC here).
unique_fd open_local_device(const std::string& path, int flags, const OpenRetry* retries, size_t n_retries);

// Switches off canonical input, echo and signal characters of a terminal
// device; does nothing for a descriptor that is no terminal.
void raw_local_modes(int fd);

// Ignores SIGTERM when printing from standard input, so that stopping the
// filter before this backend does not cut the data it still holds.
void protect_stdin_job(const BackendJob& job);

// Start of one copy: for a named file writes "PAGE: 1 1\n" and seeks it
// back to its start.
void begin_copy(const BackendJob& job);

// Writes `len` bytes to `device`, again with the rest after a short write;
// a write failing with ENOTTY is tried once more at once. A failure writes
// "ERROR: Unable to send print file to printer: ..." and drops the rest.
// Returns 0, or the errno of the failed write.
int write_block(int device, const char* data, size_t len);

// Sends one copy: reads blocks of up to `block` bytes (1 to kBlockSize) from
// the job's input until end of input or a read error, writes each to
// `device` and, for a named file, reports "INFO: Sending print file, %lu
// bytes...\n" after each. Returns the number of blocks whose data could not
// be written in whole.
size_t send_copy(const BackendJob& job, int device, size_t block);

// The common copy loop for one device: every copy in turn, 8192-byte
// blocks. Returns the total of send_copy.
size_t copy_loop(const BackendJob& job, int device);

// The end of a backend: "INFO: Ready to print.\n" and 0 when every block
// was delivered; when data was dropped the job did not print as sent, so
// "ERROR: Print file was not sent completely!\n" and 1 (the scheduler then
// keeps the job and stops the printer).
int finish_job(size_t failed_blocks);

}  // namespace vorn::backend
