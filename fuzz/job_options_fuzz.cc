// fuzz-links: vornd_core
// The option string of argv[5]: any set of job attributes, written by
// JobOptionsString and read back by vornParseOptions, must give exactly the
// names and values the attributes hold, nothing more and nothing less. A
// value that smuggles in an option of its own ("x\rcopies=5000") fails here.

#include "scheduler/run/run.h"
#include "vorn/ipp.h"
#include "vorn/options.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

constexpr size_t kMaxAttributes = 16;
constexpr size_t kMaxValues = 3;

// Reads the fuzzer's bytes as a stream of small decisions.
struct Input {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
  bool empty() const { return pos >= size; }
  uint8_t byte() { return pos < size ? data[pos++] : 0; }
  int integer() {
    uint32_t v = 0;
    for (int i = 0; i < 4; i++) v = (v << 8) | byte();
    return int(v);
  }
  std::string bytes(size_t n) {
    std::string s;
    while (n-- > 0 && !empty()) s += char(byte());
    return s;
  }
};

constexpr ipp_tag_t kTags[] = {IPP_TAG_INTEGER, IPP_TAG_BOOLEAN,  IPP_TAG_ENUM,     IPP_TAG_RANGE,
                               IPP_TAG_RESOLUTION, IPP_TAG_NOVALUE, IPP_TAG_TEXT,    IPP_TAG_NAME,
                               IPP_TAG_KEYWORD, IPP_TAG_STRING,   IPP_TAG_CHARSET,  IPP_TAG_LANGUAGE,
                               IPP_TAG_MIMETYPE, IPP_TAG_URI,     IPP_TAG_TEXTLANG};

// Mostly keyword names (with the prefixes the encoder treats apart), now
// and then any bytes at all, which the encoder must leave out.
std::string attribute_name(Input& in) {
  uint8_t how = in.byte();
  size_t len = 1 + in.byte() % 12;
  if (how % 8 == 0) return in.bytes(len);
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789-_.";
  static const char* const kPrefixes[] = {"", "", "", "no", "job-", "time-", "copies", "number-up"};
  std::string name = kPrefixes[(how >> 3) % 8];
  for (size_t i = 0; i < len; i++) name += kAlphabet[in.byte() % (sizeof(kAlphabet) - 1)];
  return name;
}

// What the option parser should read back for `a`. Numbers take the
// encoder's own text (they hold nothing to split on); texts are checked
// byte for byte against the value itself, which is what the quoting must
// carry through.
std::string expected_value(const ipp_attribute_t* a) {
  if (a->value_tag == IPP_TAG_BOOLEAN) return a->values[0].boolean ? "true" : "false";
  if (a->value_tag == IPP_TAG_NOVALUE) return a->name;
  std::string out;
  for (size_t i = 0; i < a->values.size(); i++) {
    if (i) out += ',';
    switch (a->value_tag) {
      case IPP_TAG_INTEGER:
      case IPP_TAG_ENUM:
      case IPP_TAG_RANGE:
      case IPP_TAG_RESOLUTION: out += JobOptionValue(a, a->values[i]); break;
      default:
        // A NUL cannot cross execve(): the encoder leaves it out.
        for (char c : a->values[i].string.text)
          if (c != '\0') out += c;
        break;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  const bool banner = in.byte() & 1;
  const bool remote = in.byte() & 1;
  ipp_ptr attrs(ippNew());
  for (size_t n = 0; n < kMaxAttributes && !in.empty(); n++) {
    ipp_tag_t tag = kTags[in.byte() % (sizeof(kTags) / sizeof(kTags[0]))];
    ipp_tag_t group = in.byte() % 8 == 0 ? IPP_TAG_OPERATION : IPP_TAG_JOB;
    std::string name = attribute_name(in);
    ipp_attribute_t* a = ippAddOutOfBand(attrs.get(), group, IPP_TAG_NOVALUE, name);
    if (!a) continue;
    a->value_tag = tag;
    a->values.clear();
    size_t count = 1 + in.byte() % kMaxValues;
    if (tag == IPP_TAG_BOOLEAN || tag == IPP_TAG_NOVALUE) count = 1;
    for (size_t i = 0; i < count; i++) {
      ipp_value_t& v = a->values.emplace_back();
      switch (tag) {
        case IPP_TAG_BOOLEAN: v.boolean = in.byte() & 1; break;
        case IPP_TAG_RANGE:
          v.range.lower = in.integer();
          v.range.upper = in.byte() & 1 ? v.range.lower : in.integer();
          break;
        case IPP_TAG_RESOLUTION:
          v.resolution.xres = in.integer();
          v.resolution.yres = in.integer();
          v.resolution.units = in.byte() & 1 ? IPP_RES_PER_INCH : IPP_RES_PER_CM;
          break;
        case IPP_TAG_NOVALUE: break;
        case IPP_TAG_INTEGER:
        case IPP_TAG_ENUM: v.integer = in.integer(); break;
        default: v.string.text = in.bytes(in.byte() % 40); break;
      }
    }
    if (tag == IPP_TAG_NOVALUE) a->values.clear();
  }

  const std::string line = JobOptionsString(attrs.get(), banner, remote);
  vorn_options_t got;
  vornParseOptions(line, got);

  vorn_options_t want;
  for (const ipp_attribute_t* a = attrs->attrs; a; a = a->next) {
    if (!JobOptionWanted(a, banner, remote)) continue;
    vornAddOption(a->name, expected_value(a), want);
  }
  if (got.size() != want.size()) __builtin_trap();
  for (size_t i = 0; i < want.size(); i++)
    if (got[i].name != want[i].name || got[i].value != want[i].value) __builtin_trap();
  return 0;
}
