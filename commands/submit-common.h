// What the two submit commands (submit and enqueue) share: the state they
// collect from their arguments, destinations with their saved options, file
// arguments, and the submission itself, from the named files or from
// standard input through a temporary file.
//
// Every message goes to standard error and starts with the command's name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "vorn/dests.h"
#include "vorn/options.h"

namespace vorn::submit {

// Files one job may carry; further names are refused with a warning.
constexpr size_t kMaxFiles = 1000;

struct job_args_t {
  explicit job_args_t(const char* prog_name) : prog(prog_name) {}

  const char* prog;          // "submit" or "enqueue": the message prefix (static)
  std::string dest;          // printer or class; empty: the default destination
  std::string instance;      // empty: the destination itself
  vorn_options_t options;    // collected job options
  std::vector<std::string> files;
  std::string title;         // empty: none given (and no file named the job)
  // `dests` is fetched once, on first need: the saved files alone while
  // only named destinations need their saved options, the whole list
  // (with the server's) once the default destination is wanted.
  bool saved_loaded = false;
  bool dests_loaded = false;
  vorn_dests_t dests;
};

// Sets the destination from "name" or "name/instance" (cut at the last "/"),
// loads the saved destinations when nothing is loaded yet and merges the
// saved options of that destination, when it has any, into the collected
// ones. The server is not asked: it keeps no options of a destination.
void SetDestination(job_args_t& args, std::string_view value);

// Adds each saved option of `dest` whose name is not collected yet: a saved
// option never replaces one given on the command line.
void MergeSavedOptions(const vorn_dest_t& dest, vorn_options_t& options);

// A file argument: checks it can be read and appends it; the first file names
// the job when no title is set. 1 when added, 0 when refused for the file
// limit (warning written), -1 when it cannot be read (error written: the
// command ends with status 1).
int AddFile(job_args_t& args, const char* name);

// Submits the job: takes the default destination when none was named, then
// prints the listed files, or standard input when there are none. Returns
// the new job id and stores the number of files in *num_files; 0 after
// writing why not (the command then ends with status 1).
int PrintJob(job_args_t& args, int* num_files);

}  // namespace vorn::submit
