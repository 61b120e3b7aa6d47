// enqueue: puts files, or standard input, into a print queue (BSD style
// flags). Silent on success.
//
//   enqueue [-E] [-P dest[/instance]] [-# copies] [-C|-J|-T title] [-U user]
//           [-o options] [-h] [-l] [-p] [-q] [-r] [-s] [-m] [file ...]

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "command-common.h"
#include "submit-common.h"
#include "vorn/client.h"
#include "vorn/http.h"
#include "vorn/options.h"

namespace {

using vorn::submit::job_args_t;

// The value of the flag in argv[*i], or null after writing "Expected ...".
const char* Value(int argc, char** argv, int* i, const char* what) {
  const char* value = vorn::cmd::FlagValue(argc, argv, i);
  if (!value) std::fprintf(stderr, "enqueue: Expected %s after -%c option!\n", what, argv[*i][1]);
  return value;
}

void Unsupported(char flag) {
  std::fprintf(stderr, "Warning: '%c' format modifier not supported - output may not be correct!\n", flag);
}

int Run(int argc, char** argv) {
  job_args_t args("enqueue");
  bool remove_files = false;

  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (arg[0] != '-') {
      if (vorn::submit::AddFile(args, arg) < 0) return 1;
      continue;
    }

    const char flag = arg[1];
    const char* value = nullptr;
    switch (flag) {
      case 'E':
        vornSetEncryption(HTTP_ENCRYPT_REQUIRED);
        break;
      case 'P':
        if (!(value = Value(argc, argv, &i, "destination"))) return 1;
        vorn::submit::SetDestination(args, value);
        break;
      case '#': {
        if (!(value = Value(argc, argv, &i, "copy count"))) return 1;
        char copies[16];
        std::snprintf(copies, sizeof(copies), "%d", vorn::cmd::AtoiClamped(value));
        vornAddOption("copies", copies, args.options);
        break;
      }
      case 'C':
      case 'J':
      case 'T':
        if (!(value = Value(argc, argv, &i, "name"))) return 1;
        args.title = value;
        break;
      case 'U':
        if (!(value = Value(argc, argv, &i, "username"))) return 1;
        vornSetUser(value);
        break;
      case 'o':
        if (!(value = Value(argc, argv, &i, "option=value"))) return 1;
        vornParseOptions(value, args.options);
        break;
      case 'h':
        vornAddOption("job-sheets", "none", args.options);
        break;
      case 'l':
        vornAddOption("raw", "", args.options);
        break;
      case 'p':
        vornAddOption("prettyprint", "", args.options);
        break;
      case 'q':
        vornAddOption("job-hold-until", "indefinite", args.options);
        break;
      case 'r':
        remove_files = true;
        break;
      case 's':
        break;
      case 'm':
        std::fprintf(stderr, "Warning: email notification is not supported!\n");
        break;
      case '1':
      case '2':
      case '3':
      case '4':
      case 'i':
      case 'w':
        if (!Value(argc, argv, &i, "value")) return 1;
        Unsupported(flag);
        break;
      case 'c':
      case 'd':
      case 'f':
      case 'g':
      case 'n':
      case 't':
      case 'v':
        Unsupported(flag);
        break;
      default:
        // "-" alone has no letter; a NUL byte would land in the message.
        if (flag == '\0')
          std::fprintf(stderr, "enqueue: Unknown option ''!\n");
        else
          std::fprintf(stderr, "enqueue: Unknown option '%c'!\n", flag);
        return 1;
    }
  }

  int num_files = 0;
  int job_id = vorn::submit::PrintJob(args, &num_files);
  // Files go only once the scheduler holds the job: after a refusal they are
  // all the user still has.
  if (job_id > 0 && remove_files)
    for (const std::string& file : args.files)
      if (::unlink(file.c_str()) != 0)
        std::fprintf(stderr, "enqueue: Unable to remove \"%s\" - %s\n", file.c_str(), std::strerror(errno));
  return job_id > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) { return Run(argc, argv); }
