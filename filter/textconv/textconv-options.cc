// textconv's options and environment.
#include <cmath>
#include <cstdlib>
#include <string>

#include "filter/textconv/textconv.h"
#include "vorn/paths.h"
#include "vorn/strings.h"

namespace {

bool is_off(const char* v) { return vorn::iequals(v, "no") || vorn::iequals(v, "off") || vorn::iequals(v, "false"); }

// A number in [lo, hi] from `text`, or `fallback` (with a DEBUG: line) when
// the text is not a number or lies outside.
float checked_number(FILE* status, const char* name, const char* text, float lo, float hi, float fallback) {
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || !std::isfinite(v) || v < lo || v > hi) {
    std::fprintf(status, "DEBUG: Ignoring %s=%s, not a number from %g to %g\n", name, text, double(lo), double(hi));
    return fallback;
  }
  return float(v);
}

}  // namespace

bool charset_name_is_safe(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && !vorn::isdigit(c) && c != '-' && c != '_') return false;
  }
  return true;
}

vorn::ppd_file_ptr textconv_prepare(textconv_t& job, const char* options_arg) {
  vorn_options_t options;
  vornParseOptions(options_arg ? options_arg : "", options);

  const char* pretty = vornGetOption("prettyprint", options);
  if (pretty && !is_off(pretty)) {
    // Wider left margin for punched paper; a marked page size of the PPD
    // replaces these.
    vorn_page_t& p = job.page;
    p.PageLeft = 72;
    p.PageRight = p.PageWidth - 36;
    if (p.PageBottom < 36) p.PageBottom = 36;
    p.PageTop = p.PageLength - 36;
    job.Cpi = 12;
    job.Lpi = 8;
    const char* type = std::getenv("CONTENT_TYPE");
    std::string_view t = type ? type : "";
    if (t == "application/x-cshell") {
      job.PrettyMode = 2;
      job.csh = true;
    } else if (t == "application/x-perl") {
      job.PrettyMode = 3;
    } else if (t == "application/x-shell") {
      job.PrettyMode = 2;
    } else {
      job.PrettyMode = 1;
    }
  }

  job.ppd = page_setup_from_options(job.page, options, true, job.status);

  if (const char* v = vornGetOption("wrap", options)) job.WrapMode = vorn::iequals(v, "true");
  if (const char* v = vornGetOption("columns", options))
    job.TextColumns = int(checked_number(job.status, "columns", v, 1, kMaxTextColumns, 1));
  if (const char* v = vornGetOption("cpi", options)) job.Cpi = checked_number(job.status, "cpi", v, kMinPitch, kMaxPitch, job.Cpi);
  if (const char* v = vornGetOption("lpi", options)) job.Lpi = checked_number(job.status, "lpi", v, kMinPitch, kMaxPitch, job.Lpi);
  if (const char* v = vornGetOption("page-label", options)) {
    job.label = v;
    job.has_label = true;
  }

  // Three lines for the header bar.
  if (job.PrettyMode) job.page.PageTop -= 216.0f / job.Lpi;

  const char* dd = std::getenv("VORN_DATADIR");
  job.datadir = dd && *dd ? dd : VORN_DEFAULT_DATADIR;

  const char* cs = std::getenv("CHARSET");
  if (cs && *cs && std::string_view(cs) != "us-ascii") {
    // The value reaches us from the document format a client sent: only a
    // plain name may become part of a path.
    if (charset_name_is_safe(cs)) {
      job.charset_name = cs;
    } else {
      std::fprintf(job.status, "DEBUG: Ignoring CHARSET \"%s\", using the default character set\n",
                   std::string(cs).substr(0, 64).c_str());
    }
  }
  return vorn::ppd_file_ptr(job.ppd);
}
