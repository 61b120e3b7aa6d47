// submit: puts files, or standard input, into a print queue (System V style
// flags), or changes or restarts a queued job (-i).
//
//   submit [-E] [-c] [-d dest[/instance]] [-h host] [-H hold] [-i job-id]
//          [-m] [-n copies] [-o options] [-P pages] [-q priority] [-s]
//          [-t title] [-w] [file ...] [-]

#include <cstdio>
#include <cstring>
#include <memory>

#include "command-common.h"
#include "submit-common.h"
#include "vorn/client.h"
#include "vorn/http.h"
#include "vorn/ipp.h"
#include "vorn/options.h"
#include "vorn/request.h"

namespace {

using vorn::submit::job_args_t;

using vorn::http_ptr;

// Set-Job-Attributes (with `options`) or Restart-Job for `job_id`, over a
// connection of its own. 0 on success, else 1 after writing why.
int JobRequest(ipp_op_t op, int job_id, const vorn_options_t* options) {
  const char* what = op == IPP_RESTART_JOB ? "restart-job" : "set-job-attributes";
  http_ptr http(httpConnectEncrypt(vornServer(), ippPort(), vornEncryption()));

  ipp_t* request = vornNewRequest(op);
  char uri[64];
  std::snprintf(uri, sizeof(uri), "ipp://localhost/jobs/%d", job_id);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", "", uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", "", vornUser());
  if (options) vornEncodeOptions(request, *options);

  // Without a connection the call fails at once and says so in vornLastError.
  ipp_ptr response(vornDoFileRequest(http.get(), request, "/jobs", nullptr));
  if (!response) {
    std::fprintf(stderr, "submit: %s failed: %s\n", what, ippErrorString(vornLastError()));
    return 1;
  }
  if (response->op_status > IPP_OK_CONFLICT) {
    std::fprintf(stderr, "submit: %s failed: %s\n", what, ippErrorString(ipp_status_t(response->op_status)));
    return 1;
  }
  return 0;
}

// The job id of -i: the number after the last "-" (laser-42 gives 42), or the
// whole value. -1 for anything that names no job, so a mistyped id can never
// fall back to printing standard input.
int ParseJobId(const char* value) {
  const char* dash = std::strrchr(value, '-');
  int id = vorn::cmd::AtoiClamped(dash ? dash + 1 : value);
  return id > 0 ? id : -1;
}

// Applies one -H value; 0 to go on, 1 to end with status 1.
int HoldOption(const char* value, int job_id, vorn_options_t& options) {
  if (std::strcmp(value, "hold") == 0) {
    vornAddOption("job-hold-until", "indefinite", options);
  } else if (std::strcmp(value, "resume") == 0 || std::strcmp(value, "release") == 0) {
    vornAddOption("job-hold-until", "no-hold", options);
  } else if (std::strcmp(value, "immediate") == 0) {
    vornAddOption("job-priority", "100", options);
  } else if (std::strcmp(value, "restart") == 0) {
    if (job_id == 0) {
      std::fprintf(stderr, "submit: Need job ID (-i) before \"-H restart\"!\n");
      return 1;
    }
    if (job_id < 0) return 1;  // the bad job ID is already reported
    return JobRequest(IPP_RESTART_JOB, job_id, nullptr);
  } else {
    vornAddOption("job-hold-until", value, options);
  }
  return 0;
}

// Flags that only warn, with the text naming what their value was.
struct ignored_flag_t {
  char flag;
  const char* value_name;  // in "Expected ... after -X option!"
  const char* ignored;     // in "Warning - ... option ignored!"
};
constexpr ignored_flag_t kIgnored[] = {
    {'f', "form", "form"},
    {'y', "mode list", "mode"},
    {'S', "character set", "character set"},
    {'T', "content type", "content type"},
};

// The value of the flag in argv[*i], or null after writing "Expected ...".
const char* Value(int argc, char** argv, int* i, const char* what) {
  const char* value = vorn::cmd::FlagValue(argc, argv, i);
  if (!value) std::fprintf(stderr, "submit: Expected %s after -%c option!\n", what, argv[*i][1]);
  return value;
}

int Run(int argc, char** argv) {
  job_args_t args("submit");
  int job_id = 0;  // 0: none; -1: a bad one was given
  bool silent = false;

  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (arg[0] == '-' && arg[1] == '\0') {
      if (!args.files.empty() || job_id != 0) {
        std::fprintf(stderr, "submit: Error - cannot print from stdin if files or a job ID are provided!\n");
        return 1;
      }
      break;  // standard input; what follows is not read
    }
    if (arg[0] != '-') {
      if (job_id != 0) {
        std::fprintf(stderr, "submit: Too many files - \"%s\"\n", arg);
        continue;
      }
      if (vorn::submit::AddFile(args, arg) < 0) return 1;
      continue;
    }

    const char flag = arg[1];
    const char* value = nullptr;
    switch (flag) {
      case 'E':
        vornSetEncryption(HTTP_ENCRYPT_REQUIRED);
        break;
      case 'c':
      case 'm':
      case 'w':
        break;
      case 'd':
        if (!(value = Value(argc, argv, &i, "destination"))) return 1;
        vorn::submit::SetDestination(args, value);
        break;
      case 'h':
        if (!(value = Value(argc, argv, &i, "hostname"))) return 1;
        vornSetServer(value);
        break;
      case 'i':
        if (!args.files.empty()) {
          std::fprintf(stderr, "submit: Error - cannot print files and alter jobs simultaneously!\n");
          return 1;
        }
        if (!(value = Value(argc, argv, &i, "job ID"))) return 1;
        job_id = ParseJobId(value);
        if (job_id < 0) std::fprintf(stderr, "submit: Error - bad job ID!\n");
        break;
      case 'n': {
        if (!(value = Value(argc, argv, &i, "copies"))) return 1;
        char copies[16];
        std::snprintf(copies, sizeof(copies), "%d", vorn::cmd::AtoiClamped(value));
        vornAddOption("copies", copies, args.options);
        break;
      }
      case 'o':
        if (!(value = Value(argc, argv, &i, "option string"))) return 1;
        vornParseOptions(value, args.options);
        break;
      case 'p':
      case 'q': {
        if (!(value = Value(argc, argv, &i, "priority"))) return 1;
        int priority = vorn::cmd::AtoiClamped(value);
        if (priority < 1 || priority > 100) {
          std::fprintf(stderr, "submit: Priority must be between 1 and 100.\n");
          return 1;
        }
        char text[16];
        std::snprintf(text, sizeof(text), "%d", priority);
        vornAddOption("job-priority", text, args.options);
        break;
      }
      case 's':
        silent = true;
        break;
      case 't':
        if (!(value = Value(argc, argv, &i, "title"))) return 1;
        args.title = value;
        break;
      case 'H':
        if (!(value = Value(argc, argv, &i, "hold name"))) return 1;
        if (HoldOption(value, job_id, args.options) != 0) return 1;
        break;
      case 'P':
        if (!(value = Value(argc, argv, &i, "page list"))) return 1;
        vornAddOption("page-ranges", value, args.options);
        break;
      default: {
        const ignored_flag_t* ignored = nullptr;
        for (const ignored_flag_t& f : kIgnored)
          if (f.flag == flag) ignored = &f;
        if (!ignored) {
          std::fprintf(stderr, "submit: Unknown option '%c'!\n", flag);
          return 1;
        }
        if (!Value(argc, argv, &i, ignored->value_name)) return 1;
        std::fprintf(stderr, "submit: Warning - %s option ignored!\n", ignored->ignored);
        break;
      }
    }
  }

  if (job_id < 0) return 1;  // reported above; nothing is sent for it
  if (job_id > 0) return JobRequest(IPP_SET_JOB_ATTRIBUTES, job_id, &args.options);

  int num_files = 0;
  int new_id = vorn::submit::PrintJob(args, &num_files);
  if (new_id <= 0) return 1;
  if (!silent) std::printf("request id is %s-%d (%d file(s))\n", args.dest.c_str(), new_id, num_files);
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return Run(argc, argv); }
