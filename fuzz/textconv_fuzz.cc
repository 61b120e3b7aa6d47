// textconv's formatting loop: any text, under one of a few option sets and
// character sets chosen by its first byte, must convert without a crash,
// and the document must end with its trailer.
// fuzz-links: vorn_textconv vorn_filter

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "filter/textconv/textconv.h"
#include "ps_filter_fuzz.h"

namespace {

constexpr size_t kMaxInput = 256 * 1024;

const char* const kOptionSets[] = {
    "",
    "prettyprint",
    "columns=3 wrap=false",
    "cpi=17 lpi=8 landscape page-label=x",
    "prettyprint columns=2 cpi=100 lpi=100",
    "cpi=1 lpi=1 columns=16",
    "orientation-requested=5 page-left=500 page-right=500",
    "wrap=true columns=2 prettyprint landscape",
};
const char* const kTypes[] = {nullptr, "application/x-shell", "application/x-cshell", "application/x-perl"};
const char* const kCharsets[] = {nullptr, "utf8", "latin", "../utf8"};

std::string datadir;

void write_file(const std::string& path, const char* text) {
  if (FILE* f = std::fopen(path.c_str(), "w")) {
    std::fputs(text, f);
    std::fclose(f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char dir[] = "/tmp/vorn-textconv-fuzz-XXXXXX";
  if (!::mkdtemp(dir)) std::abort();
  datadir = dir;
  ::mkdir((datadir + "/data").c_str(), 0755);
  ::mkdir((datadir + "/charsets").c_str(), 0755);
  write_file(datadir + "/data/psglyphs", "0041 A\n0061 a\n00e9 eacute\n05d0 afii57664\n");
  write_file(datadir + "/charsets/utf8",
             "charset utf8\n0000 00ff ltor single Courier Courier-Bold\n0590 05ff rtol single Hebrew\n"
             "0400 04ff ltor double Other A B C\n");
  write_file(datadir + "/charsets/latin", "charset 8bit\n00 ff ltor single Courier\n41 e9\nff 5d0\n");
  ::setenv("VORN_DATADIR", datadir.c_str(), 1);
  ::unsetenv("PPD");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  const uint8_t pick = data[0];
  const char* charset = kCharsets[(pick >> 3) & 3];
  const char* type = kTypes[(pick >> 5) & 3];
  if (charset)
    ::setenv("CHARSET", charset, 1);
  else
    ::unsetenv("CHARSET");
  if (type)
    ::setenv("CONTENT_TYPE", type, 1);
  else
    ::unsetenv("CONTENT_TYPE");

  FuzzPsFilter(
      data, size,
      [&](FILE* in, FILE* out, FILE* status) {
        textconv_t job;
        FillFuzzJob(job, out, status, "t\xc3\xa9(x)");
        vorn::ppd_file_ptr ppd = textconv_prepare(job, kOptionSets[pick & 7]);
        return textconv_run(job, in);
      },
      [](std::string_view) {});
  return 0;
}
