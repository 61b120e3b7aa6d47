// The pieces submit and enqueue share; see submit-common.h.

#include "submit-common.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vorn/fd.h"
#include "vorn/ipp.h"
#include "vorn/request.h"
#include "vorn/strings.h"
#include "vorn/file.h"

namespace vorn::submit {
namespace {

// The temporary file of standard input, for the signal handler; empty when
// there is none. A fixed buffer: the handler may only make async-signal-safe
// calls on plain memory.
char g_temp_name[PATH_MAX];

extern "C" void RemoveTempAndExit(int sig) {
  if (g_temp_name[0]) ::unlink(g_temp_name);
  ::_exit(sig);
}

// The signals that end the command while standard input is being copied or
// sent. An interrupt that was ignored when the command started (a job run in
// the background by a shell) stays ignored.
void CatchSignals(sigset_t* set) {
  struct sigaction action = {};
  action.sa_handler = RemoveTempAndExit;
  sigemptyset(&action.sa_mask);
  sigemptyset(set);
  for (int sig : {SIGHUP, SIGTERM, SIGINT}) sigaddset(&action.sa_mask, sig);
  for (int sig : {SIGHUP, SIGTERM}) {
    ::sigaction(sig, &action, nullptr);
    sigaddset(set, sig);
  }
  struct sigaction old = {};
  if (::sigaction(SIGINT, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
    ::sigaction(SIGINT, &action, nullptr);
    sigaddset(set, SIGINT);
  }
}

void RemoveTemp() {
  if (!g_temp_name[0]) return;
  ::unlink(g_temp_name);
  g_temp_name[0] = '\0';
}

void LoadDests(job_args_t& args) {
  if (args.dests_loaded) return;
  vornGetDests(args.dests);
  args.dests_loaded = args.saved_loaded = true;
}

void LoadSavedDests(job_args_t& args) {
  if (args.saved_loaded) return;
  vornGetSavedDests(args.dests);
  args.saved_loaded = true;
}

// Copies standard input into a new temporary file whose name is left in
// g_temp_name. Returns the number of bytes copied, or -1 after writing why
// (the file is then removed).
long long CopyStdin(const char* prog) {
  sigset_t caught, old;
  CatchSignals(&caught);
  // No signal between creating the file and recording its name, or the
  // handler could leave it behind.
  ::sigprocmask(SIG_BLOCK, &caught, &old);
  std::string name;
  vorn::unique_fd fd(vornTempFd(name));
  if (fd) vorn::strlcpy(g_temp_name, name, sizeof(g_temp_name));
  ::sigprocmask(SIG_SETMASK, &old, nullptr);
  if (!fd) {
    std::fprintf(stderr, "%s: unable to create temporary file.\n", prog);
    return -1;
  }

  // A read or write error must not send what was copied so far as if it were
  // the whole document.
  char buffer[8192];
  long long size = 0;
  for (;;) {
    ssize_t got = vorn::read_retry(STDIN_FILENO, buffer, sizeof(buffer));
    if (got == 0) break;
    if (got < 0) {
      std::fprintf(stderr, "%s: unable to read stdin - %s\n", prog, std::strerror(errno));
      RemoveTemp();
      return -1;
    }
    if (vorn::write_all(fd.get(), buffer, size_t(got)) != 0) {
      std::fprintf(stderr, "%s: unable to write temporary file - %s\n", prog, std::strerror(errno));
      RemoveTemp();
      return -1;
    }
    size += got;
  }
  if (::close(fd.release()) != 0) {
    std::fprintf(stderr, "%s: unable to write temporary file - %s\n", prog, std::strerror(errno));
    RemoveTemp();
    return -1;
  }
  return size;
}

// Prints standard input: the job id, 0 when the submission failed, -1 when
// nothing was sent (the reason is written).
int PrintStdin(job_args_t& args) {
  long long size = CopyStdin(args.prog);
  if (size < 0) return -1;
  if (size == 0) {
    std::fprintf(stderr, "%s: stdin is empty, so no job has been sent.\n", args.prog);
    RemoveTemp();
    return -1;
  }
  const std::string name = g_temp_name;
  int job_id = vornPrintFile(args.dest.c_str(), name.c_str(),
                             args.title.empty() ? "(stdin)" : args.title.c_str(), args.options);
  RemoveTemp();
  return job_id;
}

}  // namespace

void MergeSavedOptions(const vorn_dest_t& dest, vorn_options_t& options) {
  for (const vorn_option_t& saved : dest.options)
    if (!vornGetOption(saved.name, options)) vornAddOption(saved.name, saved.value, options);
}

void SetDestination(job_args_t& args, std::string_view value) {
  size_t slash = value.rfind('/');
  args.dest = std::string(value.substr(0, slash));
  args.instance = slash == std::string_view::npos ? std::string() : std::string(value.substr(slash + 1));
  // An empty name would find the default destination, which is looked up
  // (and merged) later only when no destination is named at all.
  if (args.dest.empty()) return;
  LoadSavedDests(args);
  if (const vorn_dest_t* dest = vornGetDest(args.dest.c_str(), args.instance.c_str(), args.dests))
    MergeSavedOptions(*dest, args.options);
}

int AddFile(job_args_t& args, const char* name) {
  if (args.files.size() >= kMaxFiles) {
    std::fprintf(stderr, "%s: Too many files - \"%s\"\n", args.prog, name);
    return 0;
  }
  if (::access(name, R_OK) != 0) {
    std::fprintf(stderr, "%s: Unable to access \"%s\" - %s\n", args.prog, name, std::strerror(errno));
    return -1;
  }
  args.files.emplace_back(name);
  if (args.title.empty()) {
    const char* slash = std::strrchr(name, '/');
    args.title = slash ? slash + 1 : name;
  }
  return 1;
}

int PrintJob(job_args_t& args, int* num_files) {
  if (args.dest.empty()) {
    LoadDests(args);
    if (const vorn_dest_t* dest = vornGetDest(nullptr, nullptr, args.dests)) {
      args.dest = dest->name;
      args.instance = dest->instance;
      MergeSavedOptions(*dest, args.options);
    }
  }
  if (args.dest.empty()) {
    if (vornLastError() >= IPP_BAD_REQUEST)
      std::fprintf(stderr, "%s: error - scheduler not responding!\n", args.prog);
    else
      std::fprintf(stderr, "%s: error - no default destination available.\n", args.prog);
    return 0;
  }

  int job_id;
  if (!args.files.empty()) {
    *num_files = int(args.files.size());
    job_id = vornPrintFiles(args.dest.c_str(), args.files, args.title.c_str(), args.options);
  } else {
    *num_files = 1;
    job_id = PrintStdin(args);
    if (job_id < 0) return 0;
  }
  if (job_id <= 0) {
    std::fprintf(stderr, "%s: unable to print file: %s\n", args.prog, ippErrorString(vornLastError()));
    return 0;
  }
  return job_id;
}

}  // namespace vorn::submit
