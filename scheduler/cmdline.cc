#include "scheduler/cmdline.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr size_t kMaxDirectory = 1024;

int usage() {
  std::fputs("Usage: vornd [-c config-file] [-f] [-F]\n", stderr);
  return 1;
}

}  // namespace

int ParseCommandLine(int argc, char* argv[], vornd_options_t& options) {
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (arg[0] != '-') {
      std::fprintf(stderr, "vornd: Unknown argument '%s' - aborting!\n", arg);
      return usage();
    }
    for (const char* opt = arg + 1; *opt; opt++) {
      switch (*opt) {
        case 'c': {
          if (++i >= argc) return usage();
          const char* path = argv[i];
          if (path[0] == '/') {
            options.config_path = path;
          } else {
            char cwd[kMaxDirectory];
            if (!::getcwd(cwd, sizeof(cwd))) {
              std::fprintf(stderr, "vornd: Unable to get the current directory - %s\n", std::strerror(errno));
              return 1;
            }
            options.config_path = std::string(cwd) + "/" + path;
          }
          break;
        }
        case 'f':
          options.foreground = true;
          break;
        case 'F':
          options.no_fork = true;
          break;
        default:
          std::fprintf(stderr, "vornd: Unknown option '%c' - aborting!\n", *opt);
          return usage();
      }
    }
  }
  return 0;
}
