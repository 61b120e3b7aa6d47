// Banner templates filled from a job: the input up to its first NUL is the
// template, the rest the job's name (a value a client chose). In the
// PostScript form no byte of the name may end up outside its escapes.
// fuzz-links: vornd_core

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "scheduler/jobs/banners.h"
#include "scheduler/jobs/job.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const size_t nul = in.find('\0');
  const std::string_view text = in.substr(0, nul);
  const std::string name(nul == std::string_view::npos ? "" : in.substr(nul + 1));

  job_t job;
  job.id = 7;
  job.dest = "lab";
  job.attrs.reset(ippNew());
  ippAddInteger(job.attrs.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", 7);
  ippAddInteger(job.attrs.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "time-at-creation", int(size));
  ippAddString(job.attrs.get(), IPP_TAG_JOB, IPP_TAG_NAME, "job-name", "", name);
  FillBannerTemplate(text, &job, false);

  // The name alone in a PostScript string: after escaping, every "(" , ")"
  // and backslash is preceded by a backslash and nothing is outside ASCII.
  const std::string ps = FillBannerTemplate("{job-name}", &job, true);
  for (size_t i = 0; i < ps.size(); i++) {
    const unsigned char c = static_cast<unsigned char>(ps[i]);
    if (c < 0x20 || c > 0x7E) std::abort();
    if (c == '\\') {
      if (i + 1 >= ps.size()) std::abort();
      i++;  // the escaped character or the first octal digit
    } else if (c == '(' || c == ')') {
      std::abort();
    }
  }
  FillBannerTemplate(text, &job, true);
  return 0;
}
