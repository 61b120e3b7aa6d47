// What psconv writes around the document: the printer's protocol, the PPD's
// prolog and set-up code, and the comments it echoes as status lines.
#include <cstring>

#include "filter/common/ps-procs.h"
#include "filter/psconv/psconv.h"

namespace {

// Bytes a BCP printer takes as controls; TBCP adds ESC.
bool bcp_quoted(unsigned char c, int mode) {
  switch (c) {
    case 0x01: case 0x03: case 0x04: case 0x05: case 0x11: case 0x13: case 0x14: case 0x1C:
      return true;
    case 0x1B:
      return mode == 2;
    default:
      return false;
  }
}

void write_line(FILE* out, const char* s) {
  std::fputs(s, out);
  std::fputc('\n', out);
}

}  // namespace

void write_bcp(const psconv_t& job, const char* data, size_t size) {
  if (job.bcp == 0) {
    std::fwrite(data, 1, size, job.out);
    return;
  }
  size_t start = 0;
  for (size_t i = 0; i < size; i++) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c >= 0x20 || !bcp_quoted(c, job.bcp)) continue;
    std::fwrite(data + start, 1, i - start, job.out);
    std::fputc(0x01, job.out);
    std::fputc(c ^ 0x40, job.out);
    start = i + 1;
  }
  std::fwrite(data + start, 1, size - start, job.out);
}

void write_prolog(const psconv_t& job) {
  if (!job.ppd) return;
  if (!job.ppd->patches.empty()) {
    write_line(job.out, "%%BeginFeature: *JobPatchFile 1");
    std::fputs(job.ppd->patches.c_str(), job.out);
    if (job.ppd->patches.back() != '\n') std::fputc('\n', job.out);
    write_line(job.out, "%%EndFeature");
  }
  ppdEmit(job.ppd, job.out, PPD_ORDER_PROLOG);
}

void write_setup(const psconv_t& job, int copies, bool collate, bool slow_collate) {
  FILE* out = job.out;
  ppdEmit(job.ppd, out, PPD_ORDER_DOCUMENT);
  ppdEmit(job.ppd, out, PPD_ORDER_ANY);
  if (copies != 1 && !(collate && slow_collate)) {
    std::fprintf(out, "%%%%RBIBeginNonPPDFeature: *NumCopies %d\n", copies);
    std::fprintf(out,
                 "%d/languagelevel where{pop languagelevel 2 ge}{false}ifelse{1 dict begin/NumCopies exch def "
                 "currentdict end setpagedevice}{userdict/#copies 3 -1 roll put}ifelse\n",
                 copies);
    std::fprintf(out, "%%%%RBIEndNonPPDFeature\n");
  }
  if (job.gamma != 1.0f || job.brightness != 1.0f)
    std::fprintf(out, "{ neg 1 add dup 0 lt { pop 1 } { %.3f exp neg 1 add } ifelse %.3f mul } bind settransfer\n",
                 job.gamma, job.brightness);
  write_rect_procs(out);
}

void write_bcp_setup_job(const psconv_t& job) {
  FILE* out = job.out;
  const ppd_file_t* ppd = job.ppd;
  if (!ppd) return;
  if (!ppd->jcl_begin.empty()) std::fputs(ppd->jcl_begin.c_str(), out);
  if (!ppd->jcl_ps.empty()) std::fputs(ppd->jcl_ps.c_str(), out);
  static const char* const kLevel1[] = {
      "%!PS-Adobe-3.0 ExitServer", "%%Title: (BCP - Level 1)", "%%EndComments", "%%BeginExitServer: 0",
      "serverdict begin 0 exitserver", "%%EndExitServer", "statusdict begin",
      "/setsoftwareiomode known {100 setsoftwareiomode}", "end", "%EOF"};
  static const char* const kLevel2[] = {
      "%!PS-Adobe-3.0", "%%Title: (BCP - Level 2)", "%%EndComments", "currentsysparams",
      "/CurInputDevice 2 copy known {", "get", "<</Protocol /Binary>> setdevparams", "}{", "pop pop", "} ifelse",
      "%EOF"};
  if (ppd->language_level == 1)
    for (const char* l : kLevel1) write_line(out, l);
  else
    for (const char* l : kLevel2) write_line(out, l);
  if (!ppd->jcl_end.empty())
    std::fputs(ppd->jcl_end.c_str(), out);
  else if (ppd->filters.empty())
    std::fputc(0x04, out);
}

void echo_comment(FILE* status, int depth, std::string_view line) {
  // The scheduler reads status lines of up to 1023 bytes and takes every
  // newline as the start of a new message: keep the echo on one short line.
  constexpr size_t kMax = 200;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  char text[kMax + 4];
  size_t n = 0;
  for (size_t i = 0; i < line.size() && n < kMax; i++) {
    unsigned char c = static_cast<unsigned char>(line[i]);
    text[n++] = (c < 0x20 || c == 0x7f) ? '?' : char(c);
  }
  if (line.size() > kMax) {
    std::memcpy(text + n, "...", 3);
    n += 3;
  }
  text[n] = '\0';
  std::fprintf(status, "DEBUG: %d %s\n", depth, text);
}
