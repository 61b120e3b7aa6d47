// Reads a PPD file from memory (plain or gzip), then exercises what the
// filters and the checker do with a record: defaults, conflicts, sizes,
// marking every choice of the first options, and every section emitted.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "vorn/ppd.h"

namespace {

FILE* null_output() {
  static FILE* out = fopen("/dev/null", "w");
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;  // fmemopen refuses an empty buffer
  std::vector<uint8_t> copy(data, data + size);
  FILE* fp = fmemopen(copy.data(), copy.size(), "rb");
  if (!fp) return 0;
  vorn::ppd_file_ptr ppd(ppdOpen(fp));
  fclose(fp);
  int line;
  ppdErrorString(ppdLastError(&line));
  if (!ppd) return 0;

  ppdMarkDefaults(ppd.get());
  ppdConflicts(ppd.get());
  ppdPageSize(ppd.get(), nullptr);
  for (const auto& s : ppd->sizes) ppdPageSize(ppd.get(), s.name.c_str());
  ppdPageSize(ppd.get(), "Custom.612x792");

  int options = 0;
  for (auto* o : ppd->option_index) {
    if (++options > 16) break;
    for (const auto& c : o->choices) ppdMarkOption(ppd.get(), o->keyword, c.choice);
  }
  vornMarkOptions(ppd.get(),
                  {{"media", "A4,Custom.4x6in,Tray1"}, {"sides", "two-sided-long-edge"}});

  FILE* out = null_output();
  for (ppd_section_t s : {PPD_ORDER_EXIT, PPD_ORDER_PROLOG, PPD_ORDER_DOCUMENT, PPD_ORDER_ANY,
                          PPD_ORDER_PAGE, PPD_ORDER_JCL})
    ppdEmit(ppd.get(), out, s);
  ppdEmitJCL(ppd.get(), out, 1, "user", "title");
  for (const auto& a : ppd->attrs) {
    if (a.name.empty()) continue;
    ppdFindAttr(ppd.get(), a.name, a.option.c_str());
    break;
  }
  return 0;
}
