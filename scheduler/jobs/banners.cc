// Banner pages: a template from the banner directory with the job's
// attribute values filled in, stored as the job's next document so that it
// goes through the same filters as the job's own documents.
#include "scheduler/jobs/banners.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "scheduler/conf/conf.h"
#include "scheduler/http/client.h"
#include "scheduler/ipp/ipp.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"
#include "scheduler/printers/catalogue.h"
#include "scheduler/types/types.h"
#include "vorn/fd.h"
#include "vorn/file.h"
#include "vorn/strings.h"

namespace {

// A template is a page of text; anything bigger is not one of ours.
constexpr off_t kMaxTemplate = 4 << 20;
// Characters of one reference name, as the template syntax allows.
constexpr size_t kMaxReference = 254;

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// The template for `name` in the client's language, its two-letter
// language, or the default one.
std::string template_path(const client_t* con, std::string_view name) {
  const std::string base = DataDir + "/banners/";
  if (con && con->language && !con->language->language.empty()) {
    const std::string& lang = con->language->language;
    std::string path = base + lang + "/" + std::string(name);
    if (exists(path)) return path;
    if (lang.size() > 2) {
      path = base + lang.substr(0, 2) + "/" + std::string(name);
      if (exists(path)) return path;
    }
  }
  return base + std::string(name);
}

// Reads the whole template; false with errno set when it cannot.
bool read_template(const std::string& path, std::string* text) {
  vorn::unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return false;
  if (!S_ISREG(st.st_mode) || st.st_size > kMaxTemplate) {
    errno = S_ISREG(st.st_mode) ? EFBIG : EINVAL;
    return false;
  }
  text->clear();
  char buf[8192];
  for (;;) {
    const ssize_t n = vorn::read_retry(fd.get(), buf, sizeof(buf));
    if (n < 0) return false;
    if (n == 0) return true;
    text->append(buf, static_cast<size_t>(n));
    if (text->size() > static_cast<size_t>(kMaxTemplate)) {
      errno = EFBIG;
      return false;
    }
  }
}

void append_text(std::string* out, std::string_view text, bool postscript) {
  if (!postscript) {
    out->append(text);
    return;
  }
  // Inside a PostScript string only these need escaping; everything
  // outside printable ASCII goes as an octal escape.
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '(' || c == ')' || c == '\\') {
      out->push_back('\\');
      out->push_back(ch);
    } else if (c < 0x20 || c > 0x7E) {
      char esc[5];
      std::snprintf(esc, sizeof(esc), "\\%03o", c);
      out->append(esc);
    } else {
      out->push_back(ch);
    }
  }
}

void append_value(std::string* out, const ipp_attribute_t& attr, const ipp_value_t& v, bool postscript) {
  char buf[64];
  switch (attr.value_tag) {
    case IPP_TAG_RANGE:
      std::snprintf(buf, sizeof(buf), "%d-%d", v.range.lower, v.range.upper);
      out->append(buf);
      break;
    case IPP_TAG_BOOLEAN:
      out->push_back(v.boolean ? '1' : '0');
      break;
    case IPP_TAG_NOVALUE:
      out->append("novalue");
      break;
    case IPP_TAG_INTEGER:
    case IPP_TAG_ENUM:
      if (attr.name.starts_with("time-at-")) {
        out->append(GetDateString(static_cast<time_t>(v.integer)));
      } else {
        std::snprintf(buf, sizeof(buf), "%d", v.integer);
        out->append(buf);
      }
      break;
    case IPP_TAG_RESOLUTION:
      std::snprintf(buf, sizeof(buf), "%dx%d%s", v.resolution.xres, v.resolution.yres,
                    v.resolution.units == IPP_RES_PER_INCH ? "dpi" : "dpc");
      out->append(buf);
      break;
    case IPP_TAG_STRING:
    case IPP_TAG_TEXT:
    case IPP_TAG_NAME:
    case IPP_TAG_KEYWORD:
    case IPP_TAG_URI:
    case IPP_TAG_CHARSET:
    case IPP_TAG_LANGUAGE:
      append_text(out, v.string.text, postscript);
      break;
    default:
      break;  // no text form for the others
  }
}

void append_reference(std::string* out, job_t* job, std::string_view ref, bool postscript) {
  const bool optional = ref.starts_with('?');
  const std::string name(optional ? ref.substr(1) : ref);
  if (name == "printer-name") {
    append_text(out, job->dest, postscript);
    return;
  }
  // An empty name would find a group separator.
  const ipp_attribute_t* attr = name.empty() ? nullptr : ippFindAttribute(job->attrs.get(), name, IPP_TAG_ZERO);
  if (!attr) {
    if (!optional) out->append("{" + name + "}");
    return;
  }
  for (size_t i = 0; i < attr->values.size(); i++) {
    if (i) out->push_back(',');
    append_value(out, *attr, attr->values[i], postscript);
  }
}

bool reference_char(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '-' || c == '?';
}

}  // namespace

std::string FillBannerTemplate(std::string_view text, job_t* job, bool postscript) {
  std::string out;
  out.reserve(text.size() + 256);
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i++];
    if (c == '\\') {
      // "\{" is a brace that starts no reference; other escapes stay as written.
      if (i < text.size() && text[i] == '{') {
        out.push_back('{');
        i++;
      } else {
        out.push_back('\\');
        if (i < text.size()) out.push_back(text[i++]);
      }
      continue;
    }
    if (c != '{') {
      out.push_back(c);
      continue;
    }
    const size_t start = i;
    while (i < text.size() && i - start < kMaxReference && reference_char(text[i])) i++;
    const std::string_view ref = text.substr(start, i - start);
    if (i < text.size() && text[i] == '}') {
      i++;
      append_reference(&out, job, ref, postscript);
    } else {
      // Not a reference: the text goes out as it stood.
      out.push_back('{');
      out.append(ref);
      if (i < text.size()) out.push_back(text[i++]);
    }
  }
  return out;
}

int copy_banner(client_t* con, job_t* job, std::string_view name) {
  const std::string text_name(name);
  LogDiagnostic(L_DEBUG2, "copy_banner(%p[%d], %p[%d], %s)", static_cast<void*>(con), con ? con->http.fd : -1,
                static_cast<void*>(job), job ? job->id : -1, text_name.empty() ? "(null)" : text_name.c_str());
  if (!job || name.empty() || name == "none") return 0;
  const banner_t* banner = BannerByName(name);
  if (!banner) return 0;
  // A job at its document limit prints without the banner rather than
  // losing the job.
  if (job->num_files >= kMaxJobFiles) {
    LogDiagnostic(L_ERROR, "copy_banner: job %d already has %d files - banner \"%s\" skipped!", job->id,
                  job->num_files, text_name.c_str());
    return 0;
  }

  const std::string path = template_path(con, banner->name);
  std::string text;
  if (!read_template(path, &text)) {
    LogDiagnostic(L_ERROR, "copy_banner: Unable to open banner template file %s - %s", path.c_str(),
                  std::strerror(errno));
    return 0;
  }
  const bool postscript = vorn::iequals(banner->filetype->type, "postscript");
  const std::string page = FillBannerTemplate(text, job, postscript);

  const std::string file = JobDataFile(job->id, job->num_files + 1);
  if (vornSafeFileWrite(file, page, 0640, User, Group, 0) != 0) {
    LogDiagnostic(L_ERROR, "copy_banner: Unable to create banner job file %s - %s", file.c_str(),
                  std::strerror(errno));
    return 0;
  }
  job->filetypes.push_back(banner->filetype);
  job->compressions.push_back(0);
  job->num_files++;

  const int kbytes = static_cast<int>((page.size() + 1023) / 1024);
  if (ipp_attribute_t* octets = ippFindAttribute(job->attrs.get(), "job-k-octets", IPP_TAG_INTEGER);
      octets && !octets->values.empty()) {
    octets->values[0].integer += kbytes;
    ippTouch(job->attrs.get());
  }
  return kbytes;
}
