// showq: a queue listing in the BSD style, once or every N seconds while
// the queue holds jobs.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "command-common.h"
#include "vorn/client.h"
#include "vorn/dests.h"
#include "vorn/request.h"
#include "vorn/strings.h"

namespace {

using namespace vorn::cmd;

int Usage() {
  std::fprintf(stderr, "Usage: showq [-P dest] [-l] [+interval]\n");
  return 1;
}

// "1st", "2nd", "3rd", "4th", ...: the suffix follows the last digit only.
std::string RankText(int rank) {
  static const char* const kSuffix[10] = {"th", "st", "nd", "rd", "th", "th", "th", "th", "th", "th"};
  return std::to_string(rank) + kSuffix[rank % 10];
}

// The state line of destination `dest`.
void ShowState(http_t* http, const std::string& dest) {
  ipp_t* request = vornNewRequest(IPP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", PrinterURI(dest));
  ipp_status_t status;
  ipp_ptr response = Send(http, request, "/", &status);
  if (!response) {
    std::fprintf(stderr, "showq: get-printer-attributes failed: %s\n", ippErrorString(status));
    return;
  }
  ipp_attribute_t* a = ippFindAttribute(response.get(), "printer-state", IPP_TAG_ENUM);
  int state = a && !a->values.empty() ? a->values[0].integer : IPP_PRINTER_STOPPED;
  if (state == IPP_PRINTER_IDLE)
    std::printf("%s is ready\n", dest.c_str());
  else if (state == IPP_PRINTER_PROCESSING)
    std::printf("%s is ready and printing\n", dest.c_str());
  else if (state == IPP_PRINTER_STOPPED)
    std::printf("%s is not ready\n", dest.c_str());
}

// The job lines; returns how many jobs were shown.
int ShowJobs(http_t* http, const std::string& dest, int job_id, const char* user, bool long_format) {
  ipp_t* request = vornNewRequest(job_id ? IPP_GET_JOB_ATTRIBUTES : IPP_GET_JOBS);
  if (!dest.empty()) {
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", PrinterURI(dest));
    // A job id is not lost beside a destination: the scheduler finds the
    // job by the two together.
    if (job_id) ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job_id);
  } else {
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", "",
                 job_id ? JobURI(job_id) : std::string("ipp://localhost/jobs"));
  }
  if (user) {
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", "", user);
    ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", true);
  }
  ipp_status_t status;
  ipp_ptr response = Send(http, request, "/", &status);
  if (!response) {
    std::fprintf(stderr, "showq: get-jobs failed: %s\n", ippErrorString(status));
    return 0;
  }
  int shown = 0;
  int rank = 1;
  for (const attr_group& j : Groups(response.get(), IPP_TAG_JOB)) {
    int id = j.integer("job-id", IPP_TAG_INTEGER, 0);
    std::string job_dest = LastPathPart(j.text("job-printer-uri", IPP_TAG_URI));
    if (id == 0 || job_dest.empty()) continue;
    long long size = 1024LL * j.integer("job-k-octets", IPP_TAG_INTEGER, 0);
    int state = j.integer("job-state", IPP_TAG_ENUM, IPP_JOB_PENDING);
    std::string owner = j.text("job-originating-user-name", IPP_TAG_NAME);
    std::string title = j.text("job-name", IPP_TAG_NAME, "untitled");
    int copies = j.integer("copies", IPP_TAG_INTEGER, 1);
    std::string rank_text = state == IPP_JOB_PROCESSING ? std::string("active") : RankText(rank++);
    if (long_format) {
      std::string what = copies > 1 ? std::to_string(copies) + " copies of " + title : title;
      std::printf("\n%s: %-33.33s [job %d localhost]\n", owner.c_str(), rank_text.c_str(), id);
      std::printf("        %-39.39s %lld bytes\n", what.c_str(), size);
    } else {
      if (shown == 0) std::printf("Rank    Owner   Job     File(s)                         Total Size\n");
      std::printf("%-7s %-7.7s %-7d %-31.31s %lld bytes\n", rank_text.c_str(), owner.c_str(), id, title.c_str(),
                  size);
    }
    shown++;
  }
  if (shown == 0) std::printf("no entries\n");
  return shown;
}

}  // namespace

int main(int argc, char** argv) {
  vorn::http_ptr http = ConnectScheduler();
  if (!http) {
    std::fprintf(stderr, "showq: Unable to contact server!\n");
    return 1;
  }
  vorn_dests_t dests;
  vornGetDests(dests);
  std::string dest;
  // The default destination: the last one the list marks.
  for (const vorn_dest_t& d : dests)
    if (d.is_default) dest = d.name;

  bool long_format = false;
  int interval = 0;
  int job_id = 0;
  const char* user = nullptr;
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (arg[0] == '+') {
      interval = AtoiClamped(arg + 1);
    } else if (arg[0] == '-') {
      switch (arg[1]) {
        case 'E':
          httpEncryption(http.get(), HTTP_ENCRYPT_REQUIRED);
          break;
        case 'P': {
          const char* value = FlagValue(argc, argv, &i);
          if (!value) return Usage();
          std::string name(value);
          std::string instance;
          if (size_t slash = name.find('/'); slash != std::string::npos) {
            instance = name.substr(slash + 1);
            name.resize(slash);
          }
          if (!vornGetDest(name.c_str(), instance.c_str(), dests)) {
            if (!instance.empty())
              std::fprintf(stderr, "showq: Unknown destination \"%s/%s\"!\n", name.c_str(), instance.c_str());
            else
              std::fprintf(stderr, "showq: Unknown destination \"%s\"!\n", name.c_str());
            return 1;
          }
          dest = name;
          break;
        }
        case 'a':
          dest.clear();
          break;
        case 'l':
          long_format = true;
          break;
        default:
          return Usage();
      }
    } else if (vorn::isdigit(arg[0])) {
      job_id = AtoiClamped(arg);
    } else {
      user = arg;
    }
  }

  for (;;) {
    if (!dest.empty()) ShowState(http.get(), dest);
    int shown = ShowJobs(http.get(), dest, job_id, user, long_format);
    if (shown == 0 || interval <= 0) break;
    std::fflush(stdout);
    ::sleep(unsigned(interval));
  }
  return 0;
}
