// accept, reject, enable and disable: one program that decides by the name
// it was started under. Each destination gets the operation, and with -c
// loses its jobs as well.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "command-common.h"
#include "vorn/client.h"
#include "vorn/request.h"

namespace {

using namespace vorn::cmd;

// The operation the program's name stands for; 0 for any other name.
int OperationOf(const char* name) {
  static const struct {
    const char* name;
    ipp_op_t op;
  } kNames[] = {
      {"accept", VORN_ACCEPT_JOBS},
      {"reject", VORN_REJECT_JOBS},
      {"disable", IPP_PAUSE_PRINTER},
      {"enable", IPP_RESUME_PRINTER},
  };
  for (const auto& n : kNames)
    if (std::strcmp(name, n.name) == 0) return n.op;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* command = argv[0] ? argv[0] : "accept";
  if (const char* slash = std::strrchr(command, '/')) command = slash + 1;
  int op = OperationOf(command);
  if (op == 0) {
    std::fprintf(stderr, "%s: Don't know what to do!\n", command);
    return 1;
  }

  vorn::http_ptr http;
  bool purge = false;
  const char* reason = nullptr;
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (arg[0] == '-') {
      switch (arg[1]) {
        case 'E':
          RequireEncryption(http.get());
          break;
        case 'c':
          purge = true;
          break;
        case 'h':
          if (!SelectServer(argc, argv, &i, http)) {
            std::fprintf(stderr, "%s: Expected server name after -h!\n", command);
            return 1;
          }
          break;
        case 'r':
          reason = FlagValue(argc, argv, &i);
          if (!reason) {
            std::fprintf(stderr, "%s: Expected reason text after -r!\n", command);
            return 1;
          }
          break;
        default:
          std::fprintf(stderr, "%s: Unknown option '%c'!\n", command, arg[1]);
          return 1;
      }
      continue;
    }

    if (!http) {
      http = ConnectScheduler();
      if (!http) {
        std::fprintf(stderr, "%s: Unable to connect to server: %s\n", command, std::strerror(errno));
        return 1;
      }
    }
    ipp_t* request = vornNewRequest(ipp_op_t(op));
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", PrinterURI(arg));
    if (reason) ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_TEXT, "printer-state-message", "", reason);
    ipp_status_t status;
    if (!Send(http.get(), request, "/admin/", &status)) {
      std::fprintf(stderr, "%s: Operation failed: %s\n", command, ippErrorString(status));
      return 1;
    }
    if (purge) {
      request = vornNewRequest(IPP_PURGE_JOBS);
      ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", PrinterURI(arg));
      if (!Send(http.get(), request, "/admin/", &status)) {
        std::fprintf(stderr, "%s: Operation failed: %s\n", command, ippErrorString(status));
        return 1;
      }
    }
  }
  return 0;
}
