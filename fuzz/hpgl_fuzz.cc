// hpglconv's reader and interpreter: any plot, under one of a few option
// sets chosen by its first byte, must convert without a crash and end with
// the document's trailer, with no number PostScript cannot read.
// fuzz-links: vorn_hpglconv vorn_filter

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "filter/hpglconv/hpglconv.h"
#include "ps_filter_fuzz.h"

namespace {

constexpr size_t kMaxInput = 256 * 1024;

const char* const kOptionSets[] = {
    "", "fitplot", "blackplot penwidth=500", "landscape fitplot", "orientation-requested=5 page-left=100",
    "penwidth=99999999", "fitplot orientation-requested=6", "page-bottom=700 page-top=700",
};

std::string datadir;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/vorn-hpgl-fuzz-XXXXXX";
  if (!::mkdtemp(dir)) std::abort();
  datadir = dir;
  ::mkdir((datadir + "/data").c_str(), 0755);
  if (FILE* f = std::fopen((datadir + "/data/HPGLprolog").c_str(), "w")) {
    std::fputs("/MP { newpath } bind def\n", f);
    std::fclose(f);
  }
  ::setenv("VORN_DATADIR", datadir.c_str(), 1);
  ::unsetenv("PPD");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  FuzzPsFilter(
      data, size,
      [&](FILE* in, FILE* out, FILE* status) {
        hpgl_state_t st;
        FillFuzzJob(st, out, status, "plot");
        vorn::ppd_file_ptr ppd = hpglconv_prepare(st, kOptionSets[data[0] & 7]);
        return hpglconv_run(st, in);
      },
      [](std::string_view doc) {
        // Every number of a path, pen or placement line is a plain decimal one.
        size_t at = 0;
        while (at < doc.size()) {
          size_t eol = doc.find('\n', at);
          if (eol == std::string_view::npos) eol = doc.size();
          const std::string_view line = doc.substr(at, eol - at);
          at = eol + 1;
          for (std::string_view op : {" MO", " LI", " SP", " setlinewidth", " translate"}) {
            if (!line.ends_with(op)) continue;
            for (char c : line.substr(0, line.size() - op.size()))
              if (!(c == ' ' || c == '.' || c == '-' || (c >= '0' && c <= '9'))) std::abort();
          }
        }
      });
  return 0;
}
