// dequeue: removes jobs in the BSD style. Each job id or destination
// argument sends one request at once; "-" makes the following destinations
// purge all their jobs.
#include <cstdio>
#include <string>

#include "command-common.h"
#include "vorn/client.h"
#include "vorn/dests.h"
#include "vorn/request.h"
#include "vorn/strings.h"

namespace {

using namespace vorn::cmd;

// One Cancel-Job or Purge-Jobs; 0 when done, 1 after writing why not.
int Dequeue(http_t* http, ipp_op_t op, const std::string& dest, int job_id) {
  ipp_t* request = vornNewRequest(op);
  if (dest.empty()) {
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", "", JobURI(job_id));
  } else {
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", PrinterURI(dest));
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
  }
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", "", vornUser());
  ipp_ptr response(vornDoFileRequest(http, request, op == IPP_PURGE_JOBS ? "/admin/" : "/jobs/", nullptr));
  if (!response) {
    std::fprintf(stderr, "dequeue: Unable to cancel job(s)!\n");
    return 1;
  }
  switch (response->op_status) {
    case IPP_OK:
    case IPP_OK_SUBST:
    case IPP_OK_CONFLICT:
      return 0;
    case IPP_FORBIDDEN:
      std::fprintf(stderr, "dequeue: You don't own job ID %d!\n", job_id);
      break;
    case IPP_NOT_AUTHORIZED:
      std::fprintf(stderr, "dequeue: Not authorized to dequeue job(s)!\n");
      break;
    case IPP_NOT_FOUND:
      std::fprintf(stderr, "dequeue: Job or printer not found!\n");
      break;
    default:
      std::fprintf(stderr, "dequeue: Unable to dequeue job(s)!\n");
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  vorn_dests_t dests;
  vornGetDests(dests);
  std::string dest;
  for (const vorn_dest_t& d : dests)
    if (d.is_default) dest = d.name;

  vorn::http_ptr http = ConnectScheduler();
  if (!http) {
    std::fprintf(stderr, "dequeue: Unable to contact server!\n");
    return 1;
  }

  ipp_op_t op = IPP_CANCEL_JOB;
  bool sent = false;
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (arg[0] == '-' && arg[1]) {
      if (arg[1] == 'E') {
        httpEncryption(http.get(), HTTP_ENCRYPT_REQUIRED);
      } else if (arg[1] == 'P') {
        const char* value = FlagValue(argc, argv, &i);
        if (!value) {
          std::fprintf(stderr, "dequeue: Expected destination after -P!\n");
          return 1;
        }
        std::string name(value);
        if (size_t slash = name.find('/'); slash != std::string::npos) name.resize(slash);
        if (!vornGetDest(name.c_str(), nullptr, dests)) {
          std::fprintf(stderr, "dequeue: Unknown destination \"%s\"!\n", name.c_str());
          return 1;
        }
        dest = name;
      } else {
        std::fprintf(stderr, "dequeue: Unknown option '%c'!\n", arg[1]);
        return 1;
      }
      continue;
    }
    int job_id = 0;
    std::string target = dest;
    if (arg[0] == '-') {
      op = IPP_PURGE_JOBS;
    } else if (vorn::isdigit(arg[0]) && !vornGetDest(arg, nullptr, dests)) {
      op = IPP_CANCEL_JOB;
      job_id = AtoiClamped(arg);
      target.clear();
    } else {
      dest = arg;
      target = dest;
    }
    if (Dequeue(http.get(), op, target, job_id) != 0) return 1;
    sent = true;
  }

  // Nothing named: the current job of the destination.
  if (!sent && !vornCancelJob(dest.c_str(), 0)) {
    std::fprintf(stderr, "dequeue: Unable to cancel job(s)!\n");
    return 1;
  }
  return 0;
}
