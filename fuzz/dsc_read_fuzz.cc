// The DSC reader of psconv: any document, under one of a few option sets
// chosen by its first byte, must convert without a crash, and every status
// line it writes must stay one short line the scheduler reads as intended.
// fuzz-links: vorn_psconv vorn_filter

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "filter/psconv/psconv.h"

namespace {

constexpr size_t kMaxInput = 256 * 1024;

const char* const kOptionSets[] = {
    "",
    "number-up=2 page-label=x",
    "number-up=4 number-up-layout=tbrl page-border=double-thick OutputOrder=Reverse",
    "page-ranges=2-3,5- page-set=odd landscape",
    "Collate=True number-up=6 mirror orientation-requested=5",
    "OutputOrder=Reverse Collate=True page-ranges=-2",
    "number-up=16 page-set=even gamma=1500 brightness=80",
    "number-up=9 orientation-requested=6 page-left=36 page-top=50",
};

bool status_is_sound(std::string_view status) {
  while (!status.empty()) {
    size_t end = status.find('\n');
    if (end == std::string_view::npos) return false;  // a line left unended
    std::string_view line = status.substr(0, end);
    if (line.size() >= 1023) return false;
    if (!line.starts_with("DEBUG: ") && !line.starts_with("PAGE: ") && !line.starts_with("ERROR: ")) return false;
    status.remove_prefix(end + 1);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  ::unsetenv("PPD");
  ::unsetenv("CLASSIFICATION");
  const char* options = kOptionSets[data[0] % (sizeof(kOptionSets) / sizeof(kOptionSets[0]))];
  const char* copies = (data[0] & 0x80) ? "3" : "1";
  std::string doc(reinterpret_cast<const char*>(data) + 1, size - 1);

  FILE* in = doc.empty() ? std::fopen("/dev/null", "rb") : fmemopen(doc.data(), doc.size(), "rb");
  FILE* out = std::fopen("/dev/null", "wb");
  char* status_buf = nullptr;
  size_t status_size = 0;
  FILE* status = open_memstream(&status_buf, &status_size);
  if (!in || !out || !status) std::abort();

  psconv_t job;
  job.out = out;
  job.status = status;
  job.user = "fuzz";
  job.title = "fuzz";
  {
    vorn::ppd_file_ptr ppd = psconv_prepare(job, copies, options);
    psconv_run(job, in);
  }
  std::fclose(in);
  std::fclose(out);
  std::fclose(status);
  const bool sound = status_is_sound(std::string_view(status_buf, status_size));
  std::free(status_buf);
  if (!sound) std::abort();
  return 0;
}
