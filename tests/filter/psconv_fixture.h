// Running psconv in-process on a document held in memory, and small DSC
// documents to run it on.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "filter/psconv/psconv.h"
#include "filter_test_env.h"

namespace filter_test {

struct PsconvResult {
  int rc = -1;
  std::string out, status;
};

struct PsconvCall {
  PsconvCall(std::string d, std::string o, std::string p = "")
      : doc(std::move(d)), options(std::move(o)), ppd(std::move(p)) {}
  std::string doc;
  std::string options;
  std::string ppd;                       // "" for none
  const char* classification = nullptr;  // nullptr: not set
  std::string copies = "1";
  // Read from a regular file (pages read back from it) rather than from a
  // stream (pages copied aside).
  bool from_file = false;
};

inline PsconvResult RunPsconv(const PsconvCall& c) {
  ScopedEnv ppd("PPD", c.ppd.empty() ? nullptr : c.ppd.c_str());
  ScopedEnv classification("CLASSIFICATION", c.classification);
  PsconvResult r;
  MemOut out, status;
  FILE* in = nullptr;
  if (c.from_file) {
    in = std::tmpfile();
    if (in) {
      std::fwrite(c.doc.data(), 1, c.doc.size(), in);
      std::rewind(in);
    }
  } else {
    in = c.doc.empty() ? std::fopen("/dev/null", "rb")
                       : fmemopen(const_cast<char*>(c.doc.data()), c.doc.size(), "rb");
  }
  if (!in) return r;
  psconv_t job;
  job.out = out.fp();
  job.status = status.fp();
  job.job_id = 42;
  job.user = "ann";
  job.title = "report";
  vorn::ppd_file_ptr held = psconv_prepare(job, c.copies.c_str(), c.options.c_str());
  r.rc = psconv_run(job, in);
  std::fclose(in);
  r.out = out.str();
  r.status = status.str();
  return r;
}

// A DSC document of `pages` pages; page k shows "(Page k)". `page_extra`
// starts every page, `trailer` after "%%Trailer".
inline std::string DscDoc(int pages, const std::string& page_extra = "", const std::string& trailer = "") {
  std::string d =
      "%!PS-Adobe-3.0\n%%Title: test\n%%Pages: " + std::to_string(pages) +
      "\n%%EndComments\n%%BeginProlog\n/F { /Helvetica findfont 36 scalefont setfont } bind def\n%%EndProlog\n"
      "%%BeginSetup\nF\n%%EndSetup\n";
  for (int k = 1; k <= pages; k++)
    d += "%%Page: " + std::to_string(k) + " " + std::to_string(k) + "\n" + page_extra + "72 500 moveto (Page " +
         std::to_string(k) + ") show showpage\n";
  d += "%%Trailer\n" + trailer + "%%EOF\n";
  return d;
}

// The page numbers shown, in output order.
inline std::vector<int> PagesShown(const std::string& out) {
  std::vector<int> pages;
  size_t at = 0;
  while ((at = out.find("(Page ", at)) != std::string::npos) {
    at += 6;
    pages.push_back(std::atoi(out.c_str() + at));
  }
  return pages;
}

inline int CountOf(const std::string& s, const std::string& what) {
  int n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + what.size())) n++;
  return n;
}

// The "PAGE:" lines of the status stream, joined by "|".
inline std::string PageLines(const std::string& status) {
  std::string lines;
  size_t at = 0;
  while (at < status.size()) {
    size_t end = status.find('\n', at);
    if (end == std::string::npos) end = status.size();
    std::string line = status.substr(at, end - at);
    if (line.rfind("PAGE: ", 0) == 0) lines += (lines.empty() ? "" : "|") + line.substr(6);
    at = end + 1;
  }
  return lines;
}

}  // namespace filter_test
