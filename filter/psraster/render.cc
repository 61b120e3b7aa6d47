#include "render.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "vorn/paths.h"

extern char** environ;

namespace vorn::raster {

namespace {
std::string datadir() {
  const char* d = std::getenv("VORN_DATADIR");
  return d && *d ? d : VORN_DEFAULT_DATADIR;
}
}  // namespace

std::vector<std::string> interpreter_command() {
  std::vector<std::string> words;
  const char* cmd = std::getenv("VORN_PSRASTER_COMMAND");
  if (cmd && *cmd) {
    std::istringstream in(cmd);
    std::string w;
    while (in >> w) words.push_back(w);
  }
  if (words.empty()) words = {"node", datadir() + "/psraster/gs-run.mjs"};
  return words;
}

int render_pages(const render_request& req) {
  std::vector<std::string> args = interpreter_command();
  char buf[64];
  args.push_back("-q");
  args.push_back("-dNOPAUSE");
  args.push_back("-dBATCH");
  args.push_back("-dSAFER");
  args.push_back(req.grey ? "-sDEVICE=pnggray" : "-sDEVICE=png16m");
  std::snprintf(buf, sizeof(buf), "-r%ux%u", req.xres, req.yres);
  args.push_back(buf);
  std::snprintf(buf, sizeof(buf), "-dDEVICEWIDTHPOINTS=%.2f", req.width_pt);
  args.push_back(buf);
  std::snprintf(buf, sizeof(buf), "-dDEVICEHEIGHTPOINTS=%.2f", req.length_pt);
  args.push_back(buf);
  args.push_back("-dFIXEDMEDIA");
  args.push_back("-sOutputFile=" + req.output_dir + "/p-%d.png");
  args.push_back(req.input);

  std::string line = "DEBUG: psraster running";
  for (const std::string& a : args) line += " " + a;
  std::fprintf(stderr, "%s\n", line.c_str());

  // With the default command, the package folder of an installed system,
  // unless one is named; a configured command finds its own.
  std::string wasm_env;
  const char* configured = std::getenv("VORN_PSRASTER_COMMAND");
  if (!std::getenv("GS_WASM_DIR") && !(configured && *configured)) wasm_env = "GS_WASM_DIR=" + datadir() + "/psraster/ghostpdl-wasm";
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    dup2(2, 1);  // standard output carries the raster stream: keep it clean
    if (!wasm_env.empty()) putenv(wasm_env.data());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "ERROR: Unable to run the PostScript interpreter %s - %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace vorn::raster
