// Our side of the IPP interop test, driven by ipp_interop.js:
//   ipp_interop_tool encode FILE   writes a fixed request that uses every value tag
//   ipp_interop_tool decode FILE   reads a message and prints a canonical dump
//   ipp_interop_tool seeds DIR     writes the seed inputs of fuzz/ipp_read_fuzz
//
// Dump lines: "version M.m", "op-status 0xXXXX", "request-id N", then one line
// per attribute: "GROUP NAME TAG VALUE[,VALUE...]" ("separator" for a group
// split), then "rest N" for the bytes left after the end tag. Values:
// integers in decimal, booleans true/false, dateTime as
// YYYY-MM-DDTHH:MM:SS.d+HH:MM, resolution XxYdpi or XxYdpcm, ranges L-U,
// strings escaped (\\ and \xHH outside printable ASCII), LANG:TEXT for the
// *WithLanguage tags, collections as {NAME TAG VALUE;...}, out-of-band
// values as "-".
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "vorn/fd.h"
#include "vorn/ipp.h"

namespace {


std::string escape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7F && c != ',' && c != ';' && c != '{' && c != '}') {
      out += char(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  return out;
}

std::string dump_members(const ipp_t* col);

std::string value_text(int tag, const ipp_value_t& v) {
  char buf[64];
  switch (tag) {
    case IPP_TAG_INTEGER:
    case IPP_TAG_ENUM: return std::to_string(v.integer);
    case IPP_TAG_BOOLEAN: return v.boolean ? "true" : "false";
    case IPP_TAG_DATE: {
      const uint8_t* d = v.date;
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%d%c%02d:%02d", (d[0] << 8) | d[1],
                    d[2], d[3], d[4], d[5], d[6], d[7], d[8], d[9], d[10]);
      return buf;
    }
    case IPP_TAG_RESOLUTION:
      std::snprintf(buf, sizeof buf, "%dx%d%s", v.resolution.xres, v.resolution.yres,
                    v.resolution.units == IPP_RES_PER_INCH ? "dpi" : "dpcm");
      return buf;
    case IPP_TAG_RANGE:
      std::snprintf(buf, sizeof buf, "%d-%d", v.range.lower, v.range.upper);
      return buf;
    case IPP_TAG_TEXTLANG:
    case IPP_TAG_NAMELANG: return escape(v.string.language) + ":" + escape(v.string.text);
    case IPP_TAG_BEGIN_COLLECTION: return "{" + dump_members(v.collection.get()) + "}";
    default: break;
  }
  if (tag >= 0x10 && tag <= 0x1F) return v.unknown.empty() ? "-" : escape(v.unknown);
  if (!v.unknown.empty()) return escape(v.unknown);
  return escape(v.string.text);
}

std::string values_text(const ipp_attribute_t* a) {
  std::string out;
  for (size_t i = 0; i < a->values.size(); i++) {
    if (i) out += ",";
    out += value_text(a->value_tag, a->values[i]);
  }
  return out;
}

std::string dump_members(const ipp_t* col) {
  std::string out;
  for (const ipp_attribute_t* a = col ? col->attrs : nullptr; a; a = a->next) {
    if (!out.empty()) out += ";";
    out += a->name + " " + ippTagString(a->value_tag) + " " + values_text(a);
  }
  return out;
}

int decode(const char* path) {
  vorn::unique_fd fd(open(path, O_RDONLY | O_CLOEXEC));
  if (!fd) {
    std::perror(path);
    return 1;
  }
  ipp_ptr ipp(ippNew());
  if (ippReadFile(fd.get(), ipp.get()) != IPP_DATA) {
    std::fprintf(stderr, "%s: not a valid IPP message\n", path);
    return 1;
  }
  std::printf("version %d.%d\nop-status 0x%04x\nrequest-id %d\n", ipp->version[0],
              ipp->version[1], ipp->op_status, ipp->request_id);
  for (const ipp_attribute_t* a = ipp->attrs; a; a = a->next) {
    if (a->value_tag == IPP_TAG_ZERO) {
      std::printf("separator\n");
      continue;
    }
    std::printf("%s %s %s %s\n", ippTagString(a->group_tag), a->name.c_str(),
                ippTagString(a->value_tag), values_text(a).c_str());
  }
  size_t rest = 0;
  char buf[4096];
  for (ssize_t n; (n = vorn::read_retry(fd.get(), buf, sizeof buf)) > 0;) rest += size_t(n);
  std::printf("rest %zu\n", rest);
  return 0;
}

// The fixed request. ipp_interop.js checks every value of it; keep the two
// in step.
ipp_ptr fixed_request() {
  ipp_ptr ipp(ippNew());
  ipp->version[0] = 1;
  ipp->version[1] = 1;
  ipp->op_status = IPP_PRINT_JOB;
  ipp->request_id = 314159;
  ipp_t* r = ipp.get();
  ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", {}, "utf-8");
  ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", {}, "en-us");
  ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", {}, "ipp://localhost:631/printers/lab");
  ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", {}, "anna");
  ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_NAMELANG, "job-name", "fr", "r\xc3\xa9sum\xc3\xa9");
  ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", {}, "text/plain");
  ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URISCHEME, "uri-scheme", {}, "ipp");
  ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_TEXT, "job-message", {}, "hello, world");
  ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_TEXTLANG, "job-info", "de", "Gr\xc3\xbc\xc3\x9f" "e");
  ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", 3);
  const int ups[] = {1, -2, 2147483647};
  ippAddIntegers(r, IPP_TAG_JOB, IPP_TAG_INTEGER, "number-up", ups);
  ippAddInteger(r, IPP_TAG_JOB, IPP_TAG_ENUM, "orientation-requested", 4);
  const bool flags[] = {true, false};
  ippAddBooleans(r, IPP_TAG_JOB, "flags", flags);
  ippAddString(r, IPP_TAG_JOB, IPP_TAG_STRING, "job-password", {}, "s3cret");
  // 2025-01-15 08:30:00.5 at -03:30, which is 12:00:00.5 UTC.
  const uint8_t date[11] = {0x07, 0xE9, 1, 15, 8, 30, 0, 5, '-', 3, 30};
  ippAddDate(r, IPP_TAG_JOB, "job-hold-until-time", date);
  const ipp_resolution_t res[] = {{600, 300, IPP_RES_PER_INCH}, {240, 240, IPP_RES_PER_CM}};
  ippAddResolutions(r, IPP_TAG_JOB, "printer-resolution", res);
  const ipp_range_t ranges[] = {{1, 5}, {9, 12}};
  ippAddRanges(r, IPP_TAG_JOB, "page-ranges", ranges);
  const char* sheets[] = {"none", "standard"};
  ippAddStrings(r, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-sheets", {}, sheets);
  ipp_t* size = ippNew();
  ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", 21000);
  ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", 29700);
  ipp_t* media = ippNew();
  ippAddCollection(media, IPP_TAG_ZERO, "media-size", size);
  ippAddString(media, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-type", {}, "stationery");
  const int margins[] = {300, 600};
  ippAddIntegers(media, IPP_TAG_ZERO, IPP_TAG_INTEGER, "media-margins", margins);
  ippAddCollection(r, IPP_TAG_JOB, "media-col", media);
  ippAddOutOfBand(r, IPP_TAG_JOB, IPP_TAG_NOVALUE, "job-priority");
  ippAddOutOfBand(r, IPP_TAG_JOB, IPP_TAG_UNKNOWN, "job-k-limit");
  ippAddOutOfBand(r, IPP_TAG_JOB, IPP_TAG_UNSUPPORTED_VALUE, "job-quota");
  ippAddString(r, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", {}, "Lab printer");
  return ipp;
}

ssize_t append_out(void* ctx, uint8_t* buf, size_t len) {
  static_cast<std::string*>(ctx)->append(reinterpret_cast<const char*>(buf), len);
  return ssize_t(len);
}

// The bytes of `ipp` (with `parent`, of its members as a collection body).
std::string encoded(ipp_t* ipp, ipp_t* parent = nullptr) {
  std::string out;
  if (ippWriteIO(&out, append_out, 1, parent, ipp) != IPP_DATA) out.clear();
  return out;
}

int write_file(const std::string& path, const std::string& bytes) {
  vorn::unique_fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd || bytes.empty() || vorn::write_all(fd.get(), bytes.data(), bytes.size()) != 0) {
    std::fprintf(stderr, "%s: cannot write\n", path.c_str());
    return 1;
  }
  return 0;
}

// Seed inputs of fuzz/ipp_read_fuzz.cc, which begin with two bytes (mode,
// piece-size seed): the fixed request with document data after it, a
// Get-Jobs style response with one group per job, a small Get-Printers
// request, and a collection body read with a parent.
int seeds(const std::string& dir) {
  ipp_ptr request = fixed_request();
  ipp_ptr jobs(ippNew());
  jobs->op_status = IPP_OK;
  ippAddString(jobs.get(), IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", {}, "utf-8");
  ippAddString(jobs.get(), IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", {}, "en");
  for (int id = 1; id <= 3; id++) {
    ippAddInteger(jobs.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", id);
    ippAddInteger(jobs.get(), IPP_TAG_JOB, IPP_TAG_ENUM, "job-state", 3 + id);
    ippAddSeparator(jobs.get());
  }
  ipp_ptr printers(ippNew());
  printers->op_status = VORN_GET_PRINTERS;
  ippAddString(printers.get(), IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", {}, "utf-8");
  ippAddString(printers.get(), IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", {}, "en");
  ipp_attribute_t* media = ippFindAttribute(request.get(), "media-col", IPP_TAG_BEGIN_COLLECTION);
  std::string body = media ? encoded(media->values[0].collection.get(), request.get()) : "";
  return write_file(dir + "/print-job-every-tag", std::string("\x00\x07", 2) + encoded(request.get()) + "%!PS\n") |
         write_file(dir + "/get-jobs-response", std::string("\x00\x2a", 2) + encoded(jobs.get())) |
         write_file(dir + "/get-printers", std::string("\x00\x01", 2) + encoded(printers.get())) |
         write_file(dir + "/media-col-body", std::string("\x01\x05", 2) + body);
}

int encode(const char* path) {
  ipp_ptr ipp = fixed_request();
  return write_file(path, encoded(ipp.get()));
}

}  // namespace

int main(int argc, char** argv) {
  std::string cmd = argc == 3 ? argv[1] : "";
  if (cmd == "encode") return encode(argv[2]);
  if (cmd == "decode") return decode(argv[2]);
  if (cmd == "seeds") return seeds(argv[2]);
  std::fprintf(stderr, "Usage: ipp_interop_tool encode|decode FILE, ipp_interop_tool seeds DIR\n");
  return 1;
}
