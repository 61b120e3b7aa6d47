// Feeds arbitrary bytes to the web interface's form readers (URL-encoded
// and multipart) and to its escaping, checking what the pages rely on: a
// form that parses keeps every limit and holds no control byte in an
// URL-encoded value; escaped text holds no markup character; URL encoding
// decodes back to the same text.
// fuzz-links: vorn_cgi_common
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cgi-common.h"

using namespace vorn::cgi;

static void check_form(const form_t& form, bool urlencoded) {
  if (form.fields.size() + form.uploads.size() > kMaxFields) std::abort();
  for (const auto& [name, value] : form.fields) {
    if (name.empty() || name.size() > kMaxNameBytes || value.size() > kMaxValueBytes) std::abort();
    if (urlencoded)
      for (unsigned char c : name + value)
        if (c < 0x20 || c == 0x7F) std::abort();
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  form_t form;
  switch (data[0] % 3) {
    case 0:
      if (ParseUrlEncoded(text, form)) check_form(form, true);
      else if (!form.fields.empty()) std::abort();
      break;
    case 1:
      if (ParseMultipart(text, "multipart/form-data; boundary=xyz", form)) check_form(form, false);
      else if (!form.fields.empty() || !form.uploads.empty()) std::abort();
      break;
    default: {
      const std::string escaped = Html(text);
      if (escaped.find_first_of("<>\"'") != std::string::npos) std::abort();
      std::string back;
      const bool has_control = text.find_first_of(std::string_view("\0\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a"
                                                                   "\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15"
                                                                   "\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\x7f",
                                                                   33)) != std::string_view::npos;
      if (UrlDecode(UrlEncode(text), back) == has_control) std::abort();
      if (!has_control && back != text) std::abort();
      break;
    }
  }
  return 0;
}
