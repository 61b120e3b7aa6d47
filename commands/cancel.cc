// cancel: removes jobs in the System V style: job ids ("42", "laser-42"),
// the current job of a destination, or with -a / -u all jobs of a
// destination, of a user, or of every destination.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command-common.h"
#include "vorn/client.h"
#include "vorn/dests.h"
#include "vorn/request.h"
#include "vorn/strings.h"

namespace {

using namespace vorn::cmd;

struct cancel_t {
  vorn::http_ptr http;
  ipp_op_t op = IPP_CANCEL_JOB;
  bool purge = false;
  const char* user = nullptr;  // -u: whose jobs
  bool dests_loaded = false;
  vorn_dests_t dests;
};

http_t* Http(cancel_t& c) {
  if (!c.http) {
    c.http = ConnectScheduler();
    if (!c.http) {
      std::fprintf(stderr, "cancel: Unable to contact server!\n");
      std::exit(1);
    }
  }
  return c.http.get();
}

bool KnownDest(cancel_t& c, const char* name) {
  if (!c.dests_loaded) {
    vornGetDests(c.dests);
    c.dests_loaded = true;
  }
  return vornGetDest(name, nullptr, c.dests) != nullptr;
}

void AddUser(const cancel_t& c, ipp_t* request) {
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", "", c.user ? c.user : vornUser());
  if (c.user) ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", true);
}

// Sends the request; on failure writes why and ends the command.
void SendOrExit(cancel_t& c, ipp_t* request, ipp_op_t op) {
  ipp_status_t status;
  ipp_ptr response = Send(Http(c), request, op == IPP_PURGE_JOBS ? "/admin/" : "/jobs/", &status);
  if (!response) {
    std::fprintf(stderr, "cancel: %s failed: %s\n", op == IPP_PURGE_JOBS ? "purge-jobs" : "cancel-job",
                 ippErrorString(status));
    std::exit(1);
  }
}

void CancelOne(cancel_t& c, const std::string& dest, bool has_dest, int job_id) {
  ipp_t* request = vornNewRequest(c.op);
  if (!has_dest) {
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", "", JobURI(job_id));
  } else {
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", PrinterURI(dest));
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
  }
  AddUser(c, request);
  if (c.op == IPP_PURGE_JOBS) ippAddBoolean(request, IPP_TAG_OPERATION, "purge-jobs", c.purge);
  SendOrExit(c, request, c.op);
}

}  // namespace

int main(int argc, char** argv) {
  cancel_t c;
  bool targeted = false;
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (arg[0] == '-' && arg[1]) {
      switch (arg[1]) {
        case 'E':
          RequireEncryption(c.http.get());
          break;
        case 'a':
          c.purge = true;
          c.op = IPP_PURGE_JOBS;
          break;
        case 'h':
          if (!SelectServer(argc, argv, &i, c.http)) {
            std::fprintf(stderr, "cancel: Error - expected hostname after '-h' option!\n");
            return 1;
          }
          break;
        case 'u': {
          const char* user = FlagValue(argc, argv, &i);
          if (!user) {
            std::fprintf(stderr, "cancel: Error - expected username after '-u' option!\n");
            return 1;
          }
          c.user = user;
          c.op = IPP_PURGE_JOBS;
          break;
        }
        default:
          std::fprintf(stderr, "cancel: Unknown option '%c'!\n", arg[1]);
          return 1;
      }
      continue;
    }

    std::string dest;
    bool has_dest = false;
    int job_id = 0;
    if (std::strcmp(arg, "-") == 0) {
      has_dest = true;  // the empty destination
    } else if (KnownDest(c, arg)) {
      dest = arg;
      has_dest = true;
    } else {
      const char* dash = std::strrchr(arg, '-');
      if (dash && vorn::isdigit(dash[1])) {
        job_id = AtoiClamped(dash + 1);
      } else if (vorn::isdigit(arg[0])) {
        job_id = AtoiClamped(arg);
      } else {
        std::fprintf(stderr, "cancel: Unknown destination \"%s\"!\n", arg);
        return 1;
      }
      c.op = IPP_CANCEL_JOB;
    }
    CancelOne(c, dest, has_dest, job_id);
    targeted = true;
    // "cancel 42 laser": the destination after a job id only names where
    // the job is, and is skipped.
    if (job_id != 0 && i + 1 < argc && KnownDest(c, argv[i + 1])) i++;
  }

  if (!targeted && c.op == IPP_PURGE_JOBS) {
    ipp_t* request = vornNewRequest(IPP_PURGE_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", "ipp://localhost/printers/");
    AddUser(c, request);
    ippAddBoolean(request, IPP_TAG_OPERATION, "purge-jobs", c.purge);
    SendOrExit(c, request, IPP_PURGE_JOBS);
  }
  return 0;
}
