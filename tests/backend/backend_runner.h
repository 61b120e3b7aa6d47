// Runs a built backend as a real child process with the command line and
// environment the scheduler gives backends, and collects what it writes.
// Every wait is bounded by a timeout; a child still running at the end of a
// wait is killed.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "vorn/fd.h"

namespace backend_test {

using std::chrono::milliseconds;

// Paths of the built backends, passed in by the build.
inline constexpr const char* kParallel = BACKEND_PARALLEL;
inline constexpr const char* kSerial = BACKEND_SERIAL;
inline constexpr const char* kUsb = BACKEND_USB;
inline constexpr const char* kScsi = BACKEND_SCSI;
inline constexpr const char* kSocket = BACKEND_SOCKET;

// The command line of a job: device URI, job id, user, title, copies,
// options and, when `file` is not empty, the file to print.
std::vector<std::string> JobArgs(const std::string& uri, const std::string& copies,
                                 const std::string& file = "");

// The environment of a backend started for a job on `uri`, plus `extra`
// entries ("NAME=value").
std::vector<std::string> JobEnv(const std::string& uri, const std::vector<std::string>& extra = {});

struct Child {
  pid_t pid = -1;
  vorn::unique_fd in;   // write end of standard input when started with a pipe
  vorn::unique_fd out;  // read ends of standard output and error
  vorn::unique_fd err;
  std::string out_text;
  std::string err_text;
  int status = 0;       // exit status, or minus the signal that ended it
  bool done = false;

  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child();  // kills and reaps a child still running
};

// Starts `program` with `argv` (argv[0] included) and `env`. Standard input
// is `stdin_fd` when it is 0 or more (the child gets a copy), else a pipe
// whose write end is left in `child->in`. False when it cannot be started.
bool Start(Child* child, const char* program, const std::vector<std::string>& argv,
           const std::vector<std::string>& env, int stdin_fd);

// Reads the child's output until its standard error contains `text`; false
// when the child ends or `timeout` passes first.
bool WaitForStderr(Child* child, std::string_view text, milliseconds timeout);

// Closes standard input, reads both outputs to their end and reaps the
// child; kills it when `timeout` passes first and then returns false.
bool Finish(Child* child, milliseconds timeout);

struct Result {
  int status = -1000;
  std::string out;
  std::string err;
};

// Start and Finish in one step, with standard input read from the file
// `stdin_path` (the null device when empty).
Result RunBackend(const char* program, const std::vector<std::string>& argv,
           const std::vector<std::string>& env, const std::string& stdin_path = "",
           milliseconds timeout = milliseconds(20000));

// A directory that is removed with its contents at the end of the test.
class TempDir {
 public:
  explicit TempDir(const char* parent = nullptr);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

bool WriteFile(const std::string& path, std::string_view data);
std::string ReadFile(const std::string& path);

// Text split into lines without their newlines.
std::vector<std::string> Lines(const std::string& text);
// How many lines equal `line`, and how many start with `prefix`.
int CountLines(const std::string& text, std::string_view line);
int CountPrefix(const std::string& text, std::string_view prefix);

// Test data with every byte value, including line ends and flow-control
// characters, that a device must receive unchanged.
std::string BinaryData(size_t size);

}  // namespace backend_test
