// What every filter and backend of a job receives: its argument vector, the
// options string and the environment. Pure functions of the job, so they can
// be checked without running anything.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "scheduler/conf/conf.h"
#include "scheduler/run/run.h"
#include "scheduler/loop.h"
#include "scheduler/types/types.h"
#include "vorn/strings.h"

namespace {

// The first attribute named `name` whose value tag is one of `tags` (none
// given: any), with at least one value.
const ipp_attribute_t* find(const ipp_t* attrs, std::string_view name,
                            std::initializer_list<ipp_tag_t> tags = {}) {
  if (!attrs) return nullptr;
  for (const ipp_attribute_t* a = attrs->attrs; a; a = a->next) {
    if (a->name != name || a->values.empty()) continue;
    if (tags.size() == 0) return a;
    for (ipp_tag_t t : tags)
      if (a->value_tag == t) return a;
  }
  return nullptr;
}

const std::string* first_text(const ipp_t* attrs, std::string_view name,
                              std::initializer_list<ipp_tag_t> tags) {
  const ipp_attribute_t* a = find(attrs, name, tags);
  return a ? &a->values[0].string.text : nullptr;
}

bool excluded(const ipp_attribute_t* a, bool banner, bool remote) {
  // A name with a blank or "=" in it would split into options of its own.
  if (a->group_tag != IPP_TAG_JOB || !ValidAttributeName(a->name)) return true;
  switch (a->value_tag) {
    case IPP_TAG_MIMETYPE:
    case IPP_TAG_NAMELANG:
    case IPP_TAG_TEXTLANG:
    case IPP_TAG_URI:
    case IPP_TAG_URISCHEME:
    case IPP_TAG_BEGIN_COLLECTION:
      return true;
    default:
      break;
  }
  const std::string& n = a->name;
  // These two fill argv[4] and argv[3].
  if (n == "copies" || n == "job-name") return true;
  if (n.starts_with("time-")) return true;
  if (n.starts_with("job-")) {
    // A remote server needs these to queue the job as the user asked.
    bool passed = remote && (n == "job-billing" || n == "job-sheets" || n == "job-hold-until" || n == "job-priority");
    if (!passed) return true;
  }
  if (banner && (n == "page-label" || n == "page-border" || n.starts_with("number-up"))) return true;
  return false;
}

// A string value as the option parser reads it back: quotes and
// backslashes escaped, the whole in single quotes when it holds any byte the
// parser splits on (a bare carriage return or form feed would otherwise end
// the value and start an option of the sender's choosing). A NUL cannot
// cross execve() and is left out.
void append_text(std::string& out, const std::string& text) {
  bool quote = std::any_of(text.begin(), text.end(), [](char c) { return vorn::isspace(c); });
  if (quote) out += '\'';
  for (char c : text) {
    if (c == '\0') continue;
    if (c == '\'' || c == '"' || c == '\\') out += '\\';
    out += c;
  }
  if (quote) out += '\'';
}

bool is_text(ipp_tag_t tag) {
  switch (tag) {
    case IPP_TAG_STRING:
    case IPP_TAG_TEXT:
    case IPP_TAG_NAME:
    case IPP_TAG_KEYWORD:
    case IPP_TAG_CHARSET:
    case IPP_TAG_LANGUAGE: return true;
    default: return false;
  }
}

}  // namespace

bool ValidAttributeName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name)
    if (!((c >= 'a' && c <= 'z') || vorn::isdigit(c) || c == '-' || c == '_' || c == '.')) return false;
  return true;
}

bool JobOptionWanted(const ipp_attribute_t* a, bool banner, bool remote) { return !excluded(a, banner, remote); }

std::string JobOptionValue(const ipp_attribute_t* a, const ipp_value_t& v) {
  char buf[64];
  switch (a->value_tag) {
    case IPP_TAG_INTEGER:
    case IPP_TAG_ENUM: std::snprintf(buf, sizeof(buf), "%d", v.integer); return buf;
    case IPP_TAG_RANGE:
      if (v.range.lower == v.range.upper)
        std::snprintf(buf, sizeof(buf), "%d", v.range.lower);
      else
        std::snprintf(buf, sizeof(buf), "%d-%d", v.range.lower, v.range.upper);
      return buf;
    case IPP_TAG_RESOLUTION:
      std::snprintf(buf, sizeof(buf), "%dx%d%s", v.resolution.xres, v.resolution.yres,
                    v.resolution.units == IPP_RES_PER_INCH ? "dpi" : "dpc");
      return buf;
    case IPP_TAG_NOVALUE: return a->name;
    default: return is_text(a->value_tag) ? v.string.text : std::string();  // others carry nothing a filter reads
  }
}

std::string JobOptionsString(const ipp_t* attrs, bool banner, bool remote) {
  std::string out;
  if (!attrs) return out;
  for (const ipp_attribute_t* a = attrs->attrs; a; a = a->next) {
    if (excluded(a, banner, remote)) continue;
    if (!out.empty()) out += ' ';
    if (a->value_tag == IPP_TAG_BOOLEAN) {
      bool value = !a->values.empty() && a->values[0].boolean;
      // "nofoo" alone reads back as foo=false: such names are spelt out.
      if (a->name.size() > 2 && vorn::istarts_with(a->name, "no")) {
        out += a->name;
        out += value ? "=true" : "=false";
        continue;
      }
      if (!value) out += "no";
      out += a->name;
      continue;
    }
    out += a->name;
    out += '=';
    for (size_t i = 0; i < a->values.size(); i++) {
      if (i) out += ',';
      if (is_text(a->value_tag))
        append_text(out, a->values[i].string.text);
      else
        out += JobOptionValue(a, a->values[i]);
    }
    // A no-value attribute has no values to walk but still names itself.
    if (a->value_tag == IPP_TAG_NOVALUE && a->values.empty()) out += a->name;
  }
  return out;
}

std::vector<std::string> JobArguments(const job_t* job, std::string_view printer_name, bool banner, bool remote) {
  const ipp_t* attrs = job->attrs.get();
  std::string title;
  if (const std::string* t = first_text(attrs, "job-name", {IPP_TAG_NAME, IPP_TAG_NAMELANG}))
    title = *t;
  else
    title = std::string(printer_name) + "-" + std::to_string(job->id);
  std::string copies = "1";
  const ipp_attribute_t* c = find(attrs, "copies", {IPP_TAG_INTEGER});
  if (c && !banner) copies = std::to_string(c->values[0].integer);
  return {std::string(printer_name), std::to_string(job->id), job->username, title, copies,
          JobOptionsString(attrs, banner, remote)};
}

std::string JobLanguage(std::string_view lang) {
  if (lang.size() == 2) return std::string(lang);
  if (lang.size() == 5 && lang[2] == '-') {
    std::string out(lang.substr(0, 2));
    out += '_';
    out += vorn::toupper(lang[3]);
    out += vorn::toupper(lang[4]);
    return out;
  }
  return "C";
}

job_env_t DaemonJobEnv() {
  job_env_t env;
  env.server_bin = ServerBin;
  env.server_root = ServerRoot;
  env.rip_cache = RIPCache;
  env.temp_dir = TempDir;
  env.data_dir = DataDir;
  env.font_path = FontPath;
  env.tz = TZ;
  env.classification = Classification;
  for (const char* name : {"LD_LIBRARY_PATH", "LD_PRELOAD", "DYLD_LIBRARY_PATH", "SHLIB_PATH", "NLSPATH"})
    if (const char* v = std::getenv(name)) env.inherited.push_back(std::string(name) + "=" + v);
  return env;
}

namespace {

// The charset of the document: the document-format's "charset=" parameter
// (up to the next parameter), else attributes-charset.
std::string job_charset(const ipp_t* attrs) {
  if (const std::string* format = first_text(attrs, "document-format", {IPP_TAG_MIMETYPE})) {
    std::string lower;
    for (char ch : *format) lower += vorn::tolower(ch);
    size_t at = lower.find("charset=");
    if (at != std::string::npos) {
      std::string_view rest = std::string_view(*format).substr(at + 8);
      rest = rest.substr(0, rest.find(';'));
      rest = vorn::trim(rest);
      if (!rest.empty()) return std::string(rest);
    }
  }
  if (const std::string* cs = first_text(attrs, "attributes-charset", {IPP_TAG_CHARSET})) return *cs;
  return DefaultCharset.empty() ? "utf-8" : DefaultCharset;
}

// CLASSIFICATION for a job: its job-sheets choose the level, the server's
// Classification when it has none.
std::string job_classification(const job_t* job, const std::string& classification) {
  const ipp_attribute_t* sheets = find(job->attrs.get(), "job-sheets", {IPP_TAG_NAME, IPP_TAG_KEYWORD});
  if (!sheets) return classification;
  if (sheets->values.size() == 1 || sheets->values[1].string.text == "none") return sheets->values[0].string.text;
  return sheets->values[1].string.text;
}

}  // namespace

std::vector<std::string> JobEnvironment(const job_t* job, const printer_t* printer, const TypeRecord* type,
                                        bool banner, const job_env_t& env) {
  const ipp_t* attrs = job->attrs.get();
  std::vector<std::string> out;
  out.push_back("PATH=" + env.server_bin + "/filter:/bin:/usr/bin");
  out.push_back("SOFTWARE=VORN/1.1");
  out.push_back("USER=root");
  out.push_back("CHARSET=" + job_charset(attrs));
  const std::string* lang = first_text(attrs, "attributes-natural-language", {IPP_TAG_LANGUAGE});
  out.push_back("LANG=" + JobLanguage(lang ? *lang : std::string_view()));
  // A daemon started without TZ passes none: an empty entry would be no
  // variable at all.
  if (!env.tz.empty()) out.push_back(env.tz);
  out.push_back("PPD=" + env.server_root + "/ppd/" + printer->name + ".ppd");
  out.push_back("VORN_SERVERROOT=" + env.server_root);
  out.push_back("RIP_MAX_CACHE=" + env.rip_cache);
  out.push_back("TMPDIR=" + env.temp_dir);
  out.push_back("CONTENT_TYPE=" + (type ? type->super + "/" + type->type : std::string("application/octet-stream")));
  out.push_back("DEVICE_URI=" + printer->device_uri);
  out.push_back("PRINTER=" + printer->name);
  out.push_back("VORN_DATADIR=" + env.data_dir);
  out.push_back("VORN_FONTPATH=" + env.font_path);
  for (const std::string& e : env.inherited) out.push_back(e);
  if (!env.classification.empty() && !banner)
    out.push_back("CLASSIFICATION=" + job_classification(job, env.classification));
  if (job->dtype & (PRINTER_CLASS | PRINTER_IMPLICIT)) out.push_back("CLASS=" + job->dest);
  return out;
}
