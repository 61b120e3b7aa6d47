// The pages psconv keeps for reverse order and filter-side collated copies.
// A document read from a regular file is read back from that file; one
// read from a pipe is copied to a temporary file as it goes by. Either way
// the bytes are read back through a mapping when the system allows one.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct page_store_t {
  FILE* fp = nullptr;        // the temporary copy
  std::string name;
  int source_fd = -1;        // or the document's own file
  long source_base = 0;      // file offset of the reader's first byte
  long written = 0;          // bytes in the temporary copy
  std::vector<std::pair<long, long>> spans;  // each page's bytes; -1 while open
  const char* map = nullptr;
  size_t map_size = 0;
  std::vector<char> buffer;

  page_store_t() = default;
  page_store_t(const page_store_t&) = delete;
  page_store_t& operator=(const page_store_t&) = delete;
  ~page_store_t();

  bool active() const { return fp || source_fd >= 0; }
  // Creates the temporary copy; false (errno set) when it cannot.
  bool open_temp();
  // Uses the document's file when it is a regular file.
  bool use_source(FILE* in);
  // Copies document bytes (only into a temporary copy).
  void put(const char* p, size_t n) {
    if (!fp) return;
    std::fwrite(p, 1, n, fp);
    written += long(n);
  }
  // Where the next byte goes (a copy) or comes from (the document), given
  // the bytes the reader has handed out.
  long position(long consumed) const { return fp ? written : source_base + consumed; }
  void open_span(long at) { spans.push_back({at, -1}); }
  void close_span(long at) {
    if (!spans.empty() && spans.back().second < 0) spans.back().second = at;
  }
  // Maps the bytes; false when it cannot (they are then read with pread).
  bool map_all();
  // Hands the bytes of page i to `sink`, in one or more pieces.
  void copy(size_t i, const std::function<void(const char*, size_t)>& sink) const;
};
