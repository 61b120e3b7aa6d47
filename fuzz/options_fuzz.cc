// Option strings: parsed, encoded into IPP attributes and measured; the
// encoded message must decode and encode again to the same bytes; and the
// options written as a saved-destination line must read back unchanged.

#include "vorn/ipp.h"
#include "vorn/options.h"

#include "../lib/dests/dests-private.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr size_t kMaxInput = 64 * 1024;

ssize_t to_string(void* ctx, uint8_t* buf, size_t len) {
  static_cast<std::string*>(ctx)->append(reinterpret_cast<char*>(buf), len);
  return ssize_t(len);
}

struct Source {
  const std::string* data;
  size_t pos = 0;
};

ssize_t from_string(void* ctx, uint8_t* buf, size_t len) {
  auto* s = static_cast<Source*>(ctx);
  if (s->pos >= s->data->size()) return -1;
  size_t n = std::min(len, s->data->size() - s->pos);
  std::memcpy(buf, s->data->data() + s->pos, n);
  s->pos += n;
  return ssize_t(n);
}

void check_ipp(const vorn_options_t& options) {
  ipp_t* ipp = ippNew();
  vornEncodeOptions(ipp, options);
  size_t length = ippLength(ipp);
  std::string bytes;
  ipp_state_t st = ippWriteIO(&bytes, to_string, 1, nullptr, ipp);
  if ((st == IPP_DATA) != (length > 0) || (length > 0 && bytes.size() != length)) __builtin_trap();
  if (st == IPP_DATA) {
    ipp_t* back = ippNew();
    Source src{&bytes};
    if (ippReadIO(&src, from_string, 1, nullptr, back) != IPP_DATA) __builtin_trap();
    std::string again;
    if (ippWriteIO(&again, to_string, 1, nullptr, back) != IPP_DATA || again != bytes) __builtin_trap();
    ippDelete(back);
  }
  ippDelete(ipp);
}

// The saved-destination line of the options reads back as the options whose
// names can be written.
void check_dest_line(const vorn_options_t& options) {
  vorn_options_t expected;
  for (const auto& o : options)
    if (!o.name.empty() && o.name.find_first_of(" \t\n\r\f\v=") == std::string::npos) expected.push_back(o);
  std::string text = "Dest fuzz" + vorn::dests::format_options(options) + "\n";
  vorn::dests::file_t file;
  vorn::dests::parse_file(text, file);
  if (file.dests.size() != 1 || !file.other_lines.empty()) __builtin_trap();
  const vorn_options_t& got = file.dests[0].options;
  if (got.size() != expected.size()) __builtin_trap();
  for (size_t i = 0; i < got.size(); i++)
    if (got[i].name != expected[i].name || got[i].value != expected[i].value) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  vorn_options_t options;
  vornParseOptions(text, options);
  check_ipp(options);
  check_dest_line(options);

  // The same bytes as a whole saved-destination file.
  vorn::dests::file_t file;
  vorn::dests::parse_file(text, file);
  return 0;
}
