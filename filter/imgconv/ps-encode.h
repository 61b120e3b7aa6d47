// The two ways imgconv carries 8-bit samples in PostScript text: ASCII85
// (Level 2 and later) and hexadecimal (Level 1 readhexstring). Both buffer
// their text and write it in large blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vorn::imgconv {

// ASCII85 of one image: rows go in one after another; bytes that do not
// fill a 4-byte group wait for the next row, and only the end pads them.
class ascii85_writer {
 public:
  explicit ascii85_writer(FILE* out) : out_(out) {}
  void write(const uint8_t* data, size_t len);
  // Writes the padded remainder, "~>" and a line end.
  void finish();

 private:
  size_t group(const uint8_t* g, char* p);
  void flush_text();
  FILE* out_;
  uint8_t rest_[4] = {};
  int nrest_ = 0;
  int column_ = 0;
  std::string text_;
};

// Upper-case hexadecimal, lines of at most 78 characters; the column runs
// on across rows.
class hex_writer {
 public:
  explicit hex_writer(FILE* out) : out_(out) {}
  void write(const uint8_t* data, size_t len);
  // Ends the last line when it holds anything.
  void finish();

 private:
  FILE* out_;
  int column_ = 0;
  std::string text_;
};

}  // namespace vorn::imgconv
