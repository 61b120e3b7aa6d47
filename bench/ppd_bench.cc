// Times the PPD reader on a large generated file: many options, choices,
// sizes and constraints (about 500 KB). Prints figures only.
//   ppd_bench [options [choices [constraints]]]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vorn/ppd.h"

namespace {

std::string generate(int options, int choices, int constraints) {
  std::string s = "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*NickName: \"Bench Printer\"\n";
  s += "*OpenGroup: General/General\n*OpenUI *PageSize/Media Size: PickOne\n";
  s += "*OrderDependency: 10 AnySetup *PageSize\n*DefaultPageSize: S0\n";
  for (int i = 0; i < 100; i++)
    s += "*PageSize S" + std::to_string(i) + "/Size " + std::to_string(i) + ": \"<</PageSize[" +
         std::to_string(200 + i) + " " + std::to_string(300 + i) + "]>>setpagedevice\"\n";
  s += "*CloseUI: *PageSize\n";
  for (int i = 0; i < 100; i++) {
    std::string n = std::to_string(i);
    std::string w = std::to_string(200 + i), l = std::to_string(300 + i);
    s += "*PaperDimension S" + n + ": \"" + w + " " + l + "\"\n";
    s += "*ImageableArea S" + n + ": \"10 10 " + std::to_string(190 + i) + " " +
         std::to_string(290 + i) + "\"\n";
  }
  for (int o = 0; o < options; o++) {
    std::string k = "Opt" + std::to_string(o);
    s += "*OpenUI *" + k + "/Option number " + std::to_string(o) + ": PickOne\n";
    s += "*OrderDependency: " + std::to_string(20 + o % 50) + " DocumentSetup *" + k + "\n";
    s += "*Default" + k + (o % 3 ? ": C0\n" : ": C1\n");  // some defaults conflict
    for (int c = 0; c < choices; c++)
      s += "*" + k + " C" + std::to_string(c) + "/Choice " + std::to_string(c) +
           ": \"<</vornSetting " + std::to_string(o * 1000 + c) + ">>setpagedevice\"\n";
    s += "*CloseUI: *" + k + "\n";
  }
  s += "*CloseGroup: General\n";
  for (int i = 0; i < constraints; i++) {
    int a = i % options, b = (i * 7 + 3) % options;
    s += "*UIConstraints: *Opt" + std::to_string(a) + " C" + std::to_string(1 + i % (choices - 1)) +
         " *Opt" + std::to_string(b) + " C" + std::to_string(1 + (i / 3) % (choices - 1)) + "\n";
  }
  return s;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  int options = argc > 1 ? std::atoi(argv[1]) : 200;
  int choices = argc > 2 ? std::atoi(argv[2]) : 24;
  int constraints = argc > 3 ? std::atoi(argv[3]) : 4000;
  if (options < 1 || choices < 2 || constraints < 0) {
    std::fprintf(stderr, "usage: ppd_bench [options>=1 [choices>=2 [constraints>=0]]]\n");
    return 1;
  }
  const std::string text = generate(options, choices, constraints);
  char path[] = "/tmp/ppd-bench-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0 || write(fd, text.data(), text.size()) != ssize_t(text.size())) {
    std::perror("ppd_bench: temporary file");
    return 1;
  }
  close(fd);

  std::printf("file: %zu KB, %d options of %d choices, %d constraints, 100 sizes\n",
              text.size() / 1024, options + 1, choices, constraints);

  int reads = 0;
  auto t0 = std::chrono::steady_clock::now();
  while (reads < 5 || (seconds_since(t0) < 2.0 && reads < 1000)) {
    ppd_file_t* ppd = ppdOpenFile(path);
    if (!ppd) {
      int line;
      ppd_status_t st = ppdLastError(&line);
      std::fprintf(stderr, "ppd_bench: %s on line %d\n", ppdErrorString(st), line);
      unlink(path);
      return 1;
    }
    ppdClose(ppd);
    reads++;
  }
  double per_read = seconds_since(t0) / reads;
  std::printf("ppdOpenFile+ppdClose: %.2f ms per file (%d reads, %.1f MB/s)\n", per_read * 1e3,
              reads, text.size() / per_read / 1e6);

  vorn::ppd_file_ptr ppd(ppdOpenFile(path));
  unlink(path);
  int marks = 0, conflicts = 0;
  t0 = std::chrono::steady_clock::now();
  while (marks < 5 || (seconds_since(t0) < 2.0 && marks < 100000)) {
    ppdMarkDefaults(ppd.get());
    conflicts = ppdConflicts(ppd.get());
    marks++;
  }
  std::printf("ppdMarkDefaults+ppdConflicts: %.1f us per call (%d calls, %d conflicts)\n",
              seconds_since(t0) / marks * 1e6, marks, conflicts);

  int emits = 0;
  size_t bytes = 0;
  t0 = std::chrono::steady_clock::now();
  while (emits < 5 || (seconds_since(t0) < 1.0 && emits < 100000)) {
    bytes = ppdEmitString(ppd.get(), PPD_ORDER_DOCUMENT).size();
    emits++;
  }
  std::printf("ppdEmitString(DocumentSetup): %.1f us per call (%zu bytes)\n",
              seconds_since(t0) / emits * 1e6, bytes);
  return 0;
}
