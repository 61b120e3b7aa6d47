// Runs a PostScript filter's core on fuzz input: the bytes after the first
// (which the target uses to pick options) as the document, the output in
// memory, the status lines dropped. `run(in, out, status)` returns the
// filter's exit status; a filter that succeeds must end its document.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

template <class Run, class Check>
void FuzzPsFilter(const uint8_t* data, size_t size, Run run, Check check) {
  FILE* in = fmemopen(const_cast<uint8_t*>(data + 1), size - 1 ? size - 1 : 1, "rb");
  char* out_buf = nullptr;
  size_t out_size = 0;
  FILE* out = open_memstream(&out_buf, &out_size);
  FILE* status = std::fopen("/dev/null", "w");
  if (!in || !out || !status) std::abort();
  const int rc = run(in, out, status);
  std::fflush(out);
  const std::string_view doc(out_buf, out_size);
  if (rc == 0 && !doc.ends_with("%%EOF\n")) std::abort();
  check(doc);
  std::fclose(in);
  std::fclose(out);
  std::fclose(status);
  std::free(out_buf);
}

// The job fields every PostScript filter's state has, set alike for each
// target.
template <class Job>
void FillFuzzJob(Job& job, FILE* out, FILE* status, const char* title) {
  job.out = out;
  job.status = status;
  job.user = "fuzz";
  job.title = title;
  job.date = "today";
}
