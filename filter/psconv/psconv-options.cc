// The job options of psconv and the page selection they make.
#include <climits>
#include <cstdlib>

#include "filter/psconv/psconv.h"
#include "vorn/strings.h"

namespace {

bool is_true(const char* v) { return v && vorn::iequals(v, "true"); }

// A decimal number at `s[i]`, clamped to INT_MAX; -1 when there is none.
long read_number(std::string_view s, size_t& i) {
  if (i >= s.size() || !vorn::isdigit(s[i])) return -1;
  long v = 0;
  while (i < s.size() && vorn::isdigit(s[i])) {
    if (v < INT_MAX) v = v * 10 + (s[i] - '0');
    i++;
  }
  return v > INT_MAX ? INT_MAX : v;
}

// The leading decimal integer of an option value (0 when there is none),
// clamped so that no value can overflow what is computed from it.
int option_int(const char* v) {
  long n = std::strtol(v, nullptr, 10);
  if (n > 1000000) n = 1000000;
  if (n < -1000000) n = -1000000;
  return int(n);
}

}  // namespace

bool parse_page_ranges(std::string_view text, std::vector<psconv_range_t>& ranges) {
  ranges.clear();
  size_t i = 0;
  while (i < text.size()) {
    psconv_range_t r;
    if (text[i] == '-') {
      i++;
      long last = read_number(text, i);
      if (last < 0) break;
      r = {1, int(last)};
    } else {
      long first = read_number(text, i);
      if (first < 0) break;
      r = {int(first), int(first)};
      if (i < text.size() && text[i] == '-') {
        i++;
        long last = read_number(text, i);
        r.last = last < 0 ? 65535 : int(last);
      }
    }
    ranges.push_back(r);
    if (i >= text.size() || text[i] != ',') break;
    i++;
  }
  for (const psconv_range_t& r : ranges)
    if (r.first >= 1 && r.first <= r.last) return true;
  return false;
}

bool page_selected(const psconv_t& job, int p) {
  if (!job.page_set.empty()) {
    const int n = job.PagesPerSheet;
    const bool first_half = (p - 1) % (2 * n) < n;
    if (job.page_set == "even" && first_half) return false;
    if (job.page_set == "odd" && !first_half) return false;
  }
  if (!job.has_ranges) return true;
  for (const psconv_range_t& r : job.ranges)
    if (p >= r.first && p <= r.last) return true;
  return false;
}

vorn::ppd_file_ptr psconv_prepare(psconv_t& job, const char* copies, const char* options) {
  job.Copies = option_int(copies);
  // The scheduler keeps copies within its own limit; anything past this
  // one would keep the filter repeating the document for hours.
  if (job.Copies < 1 || job.Copies > 100000) {
    std::fprintf(job.status, "DEBUG: copies %.40s is out of range, printing 1 copy\n", copies);
    job.Copies = 1;
  }
  vorn_options_t parsed;
  vornParseOptions(options, parsed);
  vorn::ppd_file_ptr ppd(page_setup_from_options(job.page, parsed, true, job.status));
  job.ppd = ppd.get();
  if (ppd && ppd->landscape > 0) job.Landscape = true;
  psconv_read_options(job, parsed);
  return ppd;
}

void psconv_read_options(psconv_t& job, const vorn_options_t& options) {
  FILE* status = job.status;
  if (const char* v = vornGetOption("page-ranges", options)) {
    job.has_ranges = parse_page_ranges(v, job.ranges);
    if (!job.has_ranges) std::fprintf(status, "DEBUG: page-ranges \"%.200s\" selects no page, ignoring it\n", v);
  }
  if (const char* v = vornGetOption("page-set", options)) {
    if (vorn::iequals(v, "even"))
      job.page_set = "even";
    else if (vorn::iequals(v, "odd"))
      job.page_set = "odd";
  }
  if (const char* v = vornGetOption("multiple-document-handling", options))
    job.Collate = !vorn::iequals(v, "separate-documents-uncollated-copies");
  if (is_true(vornGetOption("Collate", options))) job.Collate = true;
  if (const char* v = vornGetOption("OutputOrder", options); v && vorn::iequals(v, "Reverse")) job.reverse = true;
  if (const char* v = vornGetOption("number-up", options)) {
    int n = option_int(v);
    // The sheet layouts exist for these counts only; anything else would
    // draw pages over each other, or divide by zero below 1.
    if (n == 1 || n == 2 || n == 4 || n == 6 || n == 9 || n == 16)
      job.PagesPerSheet = n;
    else
      std::fprintf(status, "DEBUG: number-up %.40s is not supported, printing 1 page per sheet\n", v);
  }
  if (const char* v = vornGetOption("page-border", options)) {
    if (vorn::iequals(v, "none"))
      job.border = 0;
    else if (vorn::iequals(v, "single"))
      job.border = 2;
    else if (vorn::iequals(v, "single-thick"))
      job.border = 3;
    else if (vorn::iequals(v, "double"))
      job.border = 4;
    else if (vorn::iequals(v, "double-thick"))
      job.border = 5;
  }
  if (const char* v = vornGetOption("number-up-layout", options)) {
    static const char* const kLayouts[] = {"lrbt", "lrtb", "rlbt", "rltb", "btlr", "tblr", "btrl", "tbrl"};
    for (int i = 0; i < 8; i++)
      if (vorn::iequals(v, kLayouts[i])) job.SheetOrder = i;
  }
  if (const char* v = vornGetOption("gamma", options)) {
    float g = float(option_int(v)) * 0.001f;
    if (g > 0)
      job.gamma = g;
    else
      std::fprintf(status, "DEBUG: gamma %.40s is out of range, ignoring it\n", v);
  }
  if (const char* v = vornGetOption("brightness", options)) {
    float b = float(option_int(v)) * 0.01f;
    if (b >= 0)
      job.brightness = b;
    else
      std::fprintf(status, "DEBUG: brightness %.40s is out of range, ignoring it\n", v);
  }
  if (is_true(vornGetOption("mirror", options))) job.Flip = true;
  if (const char* v = vornGetOption("page-label", options)) {
    job.label = v;
    job.has_label = true;
  }
}
