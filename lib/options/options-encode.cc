// Options into IPP attributes. Known attributes get their group and value type
// from one table; other IPP-style (lower-case) names get a type guessed from
// their values; names with capitals are PPD options and pass their choice
// through untouched, as a keyword, so the PPD sees exactly what was asked.
#include <climits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vorn/ipp.h"
#include "vorn/options.h"
#include "vorn/strings.h"

namespace {

// RFC 2911 limits of the value types.
constexpr size_t kMaxName = 255;      // attribute names, keyword, name, mimeMediaType
constexpr size_t kMaxText = 1023;     // text, uri

enum kind_t {
  K_INTEGER,
  K_ENUM,
  K_BOOLEAN,
  K_RANGE,
  K_RESOLUTION,
  K_KEYWORD,
  K_KEYWORD_OR_NAME,  // a keyword when it is spelled as one, else a name
  K_NAME,
  K_TEXT,
  K_URI,
  K_MIMETYPE,
};

struct known_t {
  const char* name;
  ipp_tag_t group;
  kind_t kind;
  bool multi;  // 1setOf: a comma separates values
};

const known_t kKnown[] = {
    // operation attributes
    {"compression", IPP_TAG_OPERATION, K_KEYWORD, false},
    {"document-format", IPP_TAG_OPERATION, K_MIMETYPE, false},
    {"document-name", IPP_TAG_OPERATION, K_NAME, false},
    {"ipp-attribute-fidelity", IPP_TAG_OPERATION, K_BOOLEAN, false},
    {"last-document", IPP_TAG_OPERATION, K_BOOLEAN, false},
    {"my-jobs", IPP_TAG_OPERATION, K_BOOLEAN, false},
    {"ppd-name", IPP_TAG_OPERATION, K_NAME, false},
    {"purge-jobs", IPP_TAG_OPERATION, K_BOOLEAN, false},
    {"requested-attributes", IPP_TAG_OPERATION, K_KEYWORD, true},
    {"requesting-user-name", IPP_TAG_OPERATION, K_NAME, false},
    {"which-jobs", IPP_TAG_OPERATION, K_KEYWORD, false},
    // job template and job description attributes
    {"collate", IPP_TAG_JOB, K_BOOLEAN, false},
    {"copies", IPP_TAG_JOB, K_INTEGER, false},
    {"finishings", IPP_TAG_JOB, K_ENUM, true},
    {"fitplot", IPP_TAG_JOB, K_BOOLEAN, false},
    {"job-billing", IPP_TAG_JOB, K_TEXT, false},
    {"job-hold-until", IPP_TAG_JOB, K_KEYWORD_OR_NAME, false},
    {"job-name", IPP_TAG_JOB, K_NAME, false},
    {"job-originating-host-name", IPP_TAG_JOB, K_NAME, false},
    {"job-priority", IPP_TAG_JOB, K_INTEGER, false},
    {"job-sheets", IPP_TAG_JOB, K_NAME, true},
    {"landscape", IPP_TAG_JOB, K_BOOLEAN, false},
    {"media", IPP_TAG_JOB, K_KEYWORD, true},
    {"mirror", IPP_TAG_JOB, K_BOOLEAN, false},
    {"multiple-document-handling", IPP_TAG_JOB, K_KEYWORD, false},
    {"number-up", IPP_TAG_JOB, K_INTEGER, false},
    {"orientation-requested", IPP_TAG_JOB, K_ENUM, false},
    {"page-label", IPP_TAG_JOB, K_TEXT, false},
    {"page-ranges", IPP_TAG_JOB, K_RANGE, true},
    {"prettyprint", IPP_TAG_JOB, K_BOOLEAN, false},
    {"print-quality", IPP_TAG_JOB, K_ENUM, false},
    {"printer-resolution", IPP_TAG_JOB, K_RESOLUTION, false},
    {"sides", IPP_TAG_JOB, K_KEYWORD, false},
    // printer attributes, set by the administration operations
    {"device-uri", IPP_TAG_PRINTER, K_URI, false},
    {"job-k-limit", IPP_TAG_PRINTER, K_INTEGER, false},
    {"job-page-limit", IPP_TAG_PRINTER, K_INTEGER, false},
    {"job-quota-period", IPP_TAG_PRINTER, K_INTEGER, false},
    {"job-sheets-default", IPP_TAG_PRINTER, K_NAME, true},
    {"member-uris", IPP_TAG_PRINTER, K_URI, true},
    {"printer-info", IPP_TAG_PRINTER, K_TEXT, false},
    {"printer-is-accepting-jobs", IPP_TAG_PRINTER, K_BOOLEAN, false},
    {"printer-location", IPP_TAG_PRINTER, K_TEXT, false},
    {"printer-state", IPP_TAG_PRINTER, K_ENUM, false},
    {"printer-state-message", IPP_TAG_PRINTER, K_TEXT, false},
    {"requesting-user-name-allowed", IPP_TAG_PRINTER, K_NAME, true},
    {"requesting-user-name-denied", IPP_TAG_PRINTER, K_NAME, true},
};

// Enum values that may also be given by their keyword.
const struct {
  const char* attr;
  const char* keyword;
  int value;
} kEnumNames[] = {
    {"orientation-requested", "portrait", 3},
    {"orientation-requested", "landscape", 4},
    {"orientation-requested", "reverse-landscape", 5},
    {"orientation-requested", "reverse-portrait", 6},
    {"print-quality", "draft", 3},
    {"print-quality", "normal", 4},
    {"print-quality", "high", 5},
    {"finishings", "none", 3},
    {"finishings", "staple", 4},
    {"finishings", "punch", 5},
    {"finishings", "cover", 6},
    {"finishings", "bind", 7},
    {"printer-state", "idle", 3},
    {"printer-state", "processing", 4},
    {"printer-state", "stopped", 5},
};

const known_t* find_known(std::string_view name) {
  for (const auto& k : kKnown)
    if (vorn::iequals(name, k.name)) return &k;
  return nullptr;
}

// The first `max` bytes at most, never ending inside a UTF-8 sequence.
std::string_view cut_utf8(std::string_view s, size_t max) {
  if (s.size() <= max) return s;
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) n--;
  return s.substr(0, n);
}

std::vector<std::string_view> split(std::string_view value, bool multi) {
  std::vector<std::string_view> out;
  if (!multi) {
    out.push_back(value);
    return out;
  }
  for (;;) {
    size_t comma = value.find(',');
    out.push_back(vorn::trim(value.substr(0, comma)));
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  return out;
}

// A decimal number that fits an int, optionally negative.
bool parse_int(std::string_view s, int& out) {
  bool neg = !s.empty() && s.front() == '-';
  if (neg) s.remove_prefix(1);
  if (s.empty() || s.size() > 10) return false;
  long long v = 0;
  for (char c : s) {
    if (!vorn::isdigit(c)) return false;
    v = v * 10 + (c - '0');
  }
  if (neg) v = -v;
  if (v < INT_MIN || v > INT_MAX) return false;
  out = int(v);
  return true;
}

bool parse_positive(std::string_view s, int& out) {
  return !s.empty() && s.front() != '-' && parse_int(s, out) && out > 0;
}

bool parse_bool(std::string_view s, bool& out, bool loose) {
  if (vorn::iequals(s, "true") || (loose && (vorn::iequals(s, "yes") || vorn::iequals(s, "on"))))
    out = true;
  else if (vorn::iequals(s, "false") || (loose && (vorn::iequals(s, "no") || vorn::iequals(s, "off"))))
    out = false;
  else
    return false;
  return true;
}

// "N-M", "N-" (to the end), and, when `single` allows it, "N" (N-N) and "-M" (1-M).
bool parse_range(std::string_view s, ipp_range_t& out, bool single) {
  size_t dash = s.find('-');
  if (dash == std::string_view::npos) {
    if (!single || !parse_int(s, out.lower) || out.lower < 0) return false;
    out.upper = out.lower;
    return true;
  }
  std::string_view lo = s.substr(0, dash), hi = s.substr(dash + 1);
  if (lo.empty() && hi.empty()) return false;
  if (lo.empty()) {
    if (!single) return false;
    out.lower = 1;
  } else if (lo.front() == '-' || !parse_int(lo, out.lower)) {
    return false;
  }
  if (hi.empty())
    out.upper = INT_MAX;
  else if (hi.front() == '-' || !parse_int(hi, out.upper))
    return false;
  return true;
}

// "600dpi", "300x600dpi", "118dpc" (units in any case).
bool parse_resolution(std::string_view s, ipp_resolution_t& out) {
  if (s.size() < 4) return false;
  std::string_view units = s.substr(s.size() - 3);
  if (vorn::iequals(units, "dpi"))
    out.units = IPP_RES_PER_INCH;
  else if (vorn::iequals(units, "dpc"))
    out.units = IPP_RES_PER_CM;
  else
    return false;
  s.remove_suffix(3);
  size_t x = s.find_first_of("xX");
  if (x == std::string_view::npos) {
    if (!parse_positive(s, out.xres)) return false;
    out.yres = out.xres;
    return true;
  }
  return parse_positive(s.substr(0, x), out.xres) && parse_positive(s.substr(x + 1), out.yres);
}

// RFC 2911 keyword spelling: a lower-case letter, then letters, digits, '-',
// '_' or '.'.
bool is_ipp_keyword(std::string_view s) {
  if (s.empty() || s.size() > kMaxName || !(s[0] >= 'a' && s[0] <= 'z')) return false;
  for (char c : s)
    if (!((c >= 'a' && c <= 'z') || vorn::isdigit(c) || c == '-' || c == '_' || c == '.'))
      return false;
  return true;
}

// Printable ASCII without blanks, as PPD choices, URIs and media types are.
bool is_token(std::string_view s, size_t max = kMaxName) {
  if (s.empty() || s.size() > max) return false;
  for (char c : s)
    if (c <= ' ' || c >= 0x7F) return false;
  return true;
}

bool has_capital(std::string_view s) {
  for (char c : s)
    if (c >= 'A' && c <= 'Z') return true;
  return false;
}

void add_strings(ipp_t* ipp, ipp_tag_t group, ipp_tag_t type, std::string_view name,
                 const std::vector<std::string_view>& values, size_t max) {
  std::vector<std::string> v;
  v.reserve(values.size());
  for (auto s : values) v.emplace_back(cut_utf8(s, max));
  ippAddStrings(ipp, group, type, name, {}, std::span<const std::string>(v));
}

// The narrowest string type that holds every value: keyword, name or text.
void add_guessed_strings(ipp_t* ipp, ipp_tag_t group, std::string_view name,
                         const std::vector<std::string_view>& values) {
  bool tokens = true, short_enough = true;
  for (auto s : values) {
    tokens = tokens && is_token(s);
    short_enough = short_enough && s.size() <= kMaxName;
  }
  if (tokens)
    add_strings(ipp, group, IPP_TAG_KEYWORD, name, values, kMaxName);
  else if (short_enough)
    add_strings(ipp, group, IPP_TAG_NAME, name, values, kMaxName);
  else
    add_strings(ipp, group, IPP_TAG_TEXT, name, values, kMaxText);
}

// An IPP-style name without a table entry: integers, booleans ("true" and
// "false" only, so that a choice "on" or "yes" stays a word), ranges and
// resolutions are recognised when every value is one.
void add_guessed(ipp_t* ipp, ipp_tag_t group, std::string_view name,
                 const std::vector<std::string_view>& values) {
  std::vector<int> ints(values.size());
  bool ok = true;
  for (size_t i = 0; ok && i < values.size(); i++) ok = parse_int(values[i], ints[i]);
  if (ok) {
    ippAddIntegers(ipp, group, IPP_TAG_INTEGER, name, std::span<const int>(ints));
    return;
  }

  std::unique_ptr<bool[]> bools(new bool[values.size()]);
  ok = true;
  for (size_t i = 0; ok && i < values.size(); i++) ok = parse_bool(values[i], bools[i], false);
  if (ok) {
    ippAddBooleans(ipp, group, name, std::span<const bool>(bools.get(), values.size()));
    return;
  }

  std::vector<ipp_range_t> ranges(values.size());
  ok = true;
  for (size_t i = 0; ok && i < values.size(); i++) ok = parse_range(values[i], ranges[i], false);
  if (ok) {
    ippAddRanges(ipp, group, name, std::span<const ipp_range_t>(ranges));
    return;
  }

  std::vector<ipp_resolution_t> res(values.size());
  ok = true;
  for (size_t i = 0; ok && i < values.size(); i++) ok = parse_resolution(values[i], res[i]);
  if (ok) {
    ippAddResolutions(ipp, group, name, std::span<const ipp_resolution_t>(res));
    return;
  }

  add_guessed_strings(ipp, group, name, values);
}

// A known attribute; false when a value does not fit its type (the caller
// then guesses, so the server still sees what was asked and can refuse it).
bool add_known(ipp_t* ipp, const known_t& k, const std::vector<std::string_view>& values) {
  size_t n = values.size();
  switch (k.kind) {
    case K_INTEGER:
    case K_ENUM: {
      std::vector<int> v(n);
      for (size_t i = 0; i < n; i++) {
        if (parse_int(values[i], v[i])) continue;
        bool named = false;
        if (k.kind == K_ENUM)
          for (const auto& e : kEnumNames)
            if (!named && k.name == std::string_view(e.attr) && vorn::iequals(values[i], e.keyword)) {
              v[i] = e.value;
              named = true;
            }
        if (!named) return false;
      }
      ippAddIntegers(ipp, k.group, k.kind == K_ENUM ? IPP_TAG_ENUM : IPP_TAG_INTEGER, k.name,
                     std::span<const int>(v));
      return true;
    }
    case K_BOOLEAN: {
      std::unique_ptr<bool[]> v(new bool[n]);
      for (size_t i = 0; i < n; i++) {
        bool b = true;  // an empty value means "yes", as a bare name does
        if (!values[i].empty() && !parse_bool(values[i], b, true)) return false;
        v[i] = b;
      }
      ippAddBooleans(ipp, k.group, k.name, std::span<const bool>(v.get(), n));
      return true;
    }
    case K_RANGE: {
      std::vector<ipp_range_t> v(n);
      for (size_t i = 0; i < n; i++)
        if (!parse_range(values[i], v[i], true)) return false;
      ippAddRanges(ipp, k.group, k.name, std::span<const ipp_range_t>(v));
      return true;
    }
    case K_RESOLUTION: {
      std::vector<ipp_resolution_t> v(n);
      for (size_t i = 0; i < n; i++)
        if (!parse_resolution(values[i], v[i])) return false;
      ippAddResolutions(ipp, k.group, k.name, std::span<const ipp_resolution_t>(v));
      return true;
    }
    case K_KEYWORD:
      for (auto s : values)
        if (!is_token(s)) return false;
      add_strings(ipp, k.group, IPP_TAG_KEYWORD, k.name, values, kMaxName);
      return true;
    case K_KEYWORD_OR_NAME: {
      bool keywords = true;
      for (auto s : values) keywords = keywords && is_ipp_keyword(s);
      add_strings(ipp, k.group, keywords ? IPP_TAG_KEYWORD : IPP_TAG_NAME, k.name, values, kMaxName);
      return true;
    }
    case K_NAME:
      add_strings(ipp, k.group, IPP_TAG_NAME, k.name, values, kMaxName);
      return true;
    case K_TEXT:
      add_strings(ipp, k.group, IPP_TAG_TEXT, k.name, values, kMaxText);
      return true;
    case K_URI:
      for (auto s : values)
        if (!is_token(s, kMaxText)) return false;
      add_strings(ipp, k.group, IPP_TAG_URI, k.name, values, kMaxText);
      return true;
    case K_MIMETYPE:
      if (!is_token(values[0]) || values[0].find('/') == std::string_view::npos) return false;
      add_strings(ipp, k.group, IPP_TAG_MIMETYPE, k.name, values, kMaxName);
      return true;
  }
  return false;
}

}  // namespace

namespace {

void encode_option(ipp_t* ipp, const vorn_option_t& o, const known_t* k) {
  // Attribute names are keywords, which the scheduler insists on; PPD
  // option names are matched without regard to case, so "PageSize" travels
  // as "pagesize" and still selects its option.
  std::string lowered;
  if (!k)
    for (char c : o.name) lowered += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
  std::string_view name = k ? std::string_view(k->name) : std::string_view(lowered);
  std::string_view value = o.value;
  ipp_tag_t group = k ? k->group : IPP_TAG_JOB;

  if (value.empty()) {
    // A bare switch such as "raw": booleans take it as true, names and
    // texts as an empty string, everything else has no value.
    if (k && (k->kind == K_BOOLEAN || k->kind == K_NAME || k->kind == K_TEXT)) {
      add_known(ipp, *k, {value});
    } else {
      ippAddOutOfBand(ipp, group, IPP_TAG_NOVALUE, name);
    }
    return;
  }

  if (k) {
    if (!add_known(ipp, *k, split(value, k->multi))) add_guessed_strings(ipp, group, name, {value});
  } else if (has_capital(o.name)) {
    add_guessed_strings(ipp, group, name, {value});  // a PPD option: the choice as it is
  } else {
    add_guessed(ipp, group, name, split(value, true));
  }
}

}  // namespace

// Groups must rise through a request, so the options go in one pass per
// group (operation, job, printer), each keeping the order of the options.
void vornEncodeOptions(ipp_t* ipp, const vorn_options_t& options) {
  if (!ipp) return;
  for (ipp_tag_t pass : {IPP_TAG_OPERATION, IPP_TAG_JOB, IPP_TAG_PRINTER}) {
    for (const auto& o : options) {
      if (o.name.empty() || o.name.size() > kMaxName) continue;  // not an attribute name
      const known_t* k = find_known(o.name);
      if ((k ? k->group : IPP_TAG_JOB) == pass) encode_option(ipp, o, k);
    }
  }
}
