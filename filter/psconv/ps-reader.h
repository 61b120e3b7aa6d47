// Reading a PostScript document line by line, with the counted binary
// sections of DSC read as raw bytes.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

inline constexpr size_t kPsLineMax = 8192;  // a line buffer; longer lines come in pieces

struct ps_reader_t {
  explicit ps_reader_t(FILE* input) : in(input) {}

  // Reads one line of at most kPsLineMax - 1 bytes, ended by LF, CR or
  // CR LF, the terminator kept as it stood; view() shows it until the next
  // read. Returns the length, or -1 at end of file with nothing read.
  long read_line();
  // Reads up to `size` bytes; 0 at end of file.
  size_t read_bytes(char* to, size_t size);

  std::string_view view() const { return {ptr_, size_t(length)}; }

  FILE* in;
  long length = 0;
  long line_offset = 0;  // where the current line starts, from the first byte read
  long consumed = 0;     // bytes handed out so far

 private:
  bool fill();
  char line[kPsLineMax];     // a line that spans two reads of the buffer
  const char* ptr_ = line;   // the current line: in `line` or in the buffer
  char buffer_[65536];
  size_t pos_ = 0, end_ = 0;
};

// The line without its terminator.
std::string_view strip_eol(std::string_view line);
