// Running textconv in-process on text held in memory, with the data
// directory the build makes, and reading back what it placed.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "filter/textconv/textconv.h"
#include "filter_test_env.h"

namespace textconv_test {

using filter_test::MemOut;
using filter_test::ScopedEnv;

struct Call {
  std::string text;
  std::string options;
  std::string ppd;                       // "" for none
  const char* charset = nullptr;         // CHARSET, nullptr: not set
  const char* content_type = nullptr;    // CONTENT_TYPE
  const char* classification = nullptr;  // CLASSIFICATION
  std::string datadir = TEXTCONV_DATA;
  std::string title = "notes";
};

struct Result {
  int rc = -1;
  std::string out, status;
  textconv_t job;  // the layout as the run left it (buffer, counts)
};

inline Result RunText(const Call& c) {
  ScopedEnv ppd("PPD", c.ppd.empty() ? nullptr : c.ppd.c_str());
  ScopedEnv charset("CHARSET", c.charset);
  ScopedEnv type("CONTENT_TYPE", c.content_type);
  ScopedEnv classification("CLASSIFICATION", c.classification);
  ScopedEnv datadir("VORN_DATADIR", c.datadir.c_str());
  Result r;
  MemOut out, status;
  FILE* in = c.text.empty() ? std::fopen("/dev/null", "rb")
                            : fmemopen(const_cast<char*>(c.text.data()), c.text.size(), "rb");
  if (!in) return r;
  r.job.out = out.fp();
  r.job.status = status.fp();
  r.job.user = "ann";
  r.job.title = c.title;
  r.job.date = "Thu 01 Jan 2026 12:00:00";  // pages compare equal run after run
  vorn::ppd_file_ptr held = textconv_prepare(r.job, c.options.c_str());
  r.rc = textconv_run(r.job, in);
  std::fclose(in);
  r.out = out.str();
  r.status = status.str();
  r.job.ppd = nullptr;
  r.job.out = r.job.status = nullptr;
  return r;
}

// The lines of the pages (between the prolog and the trailer) that place
// text: "x y N(text)S" and the like, pages separated by "|".
inline std::string Shown(const std::string& out) {
  std::string shown;
  size_t at = out.find("%%EndProlog\n");
  if (at == std::string::npos) return "no prolog";
  at += 12;
  size_t end = out.find("%%Trailer\n", at);
  if (end == std::string::npos) return "no trailer";
  bool first_page = true;
  while (at < end) {
    size_t eol = out.find('\n', at);
    std::string line = out.substr(at, eol - at);
    at = eol + 1;
    if (line.starts_with("%%Page:")) {
      if (!first_page) shown += "|";
      first_page = false;
    } else if (line != "gsave" && line != "grestore" && line != "showpage") {
      if (!shown.empty() && shown.back() != '|') shown += "\n";
      shown += line;
    }
  }
  return shown;
}

inline int Count(const std::string& s, const std::string& what) {
  int n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + what.size())) n++;
  return n;
}

}  // namespace textconv_test
