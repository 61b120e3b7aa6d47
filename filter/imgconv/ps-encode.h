// The two ways imgconv carries 8-bit samples in PostScript text: ASCII85
// (Level 2 and later) and hexadecimal (Level 1 readhexstring). Both encode
// into one large buffer and write it out in large blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace vorn::imgconv {

// Text waiting to be written to a stream.
class text_buffer {
 public:
  static constexpr size_t kSize = size_t(1) << 18;
  explicit text_buffer(FILE* out) : out_(out), text_(new char[kSize]) {}
  // Room for `n` more characters, writing out what is held when needed
  // (n is at most kSize).
  char* reserve(size_t n) {
    if (kSize - used_ < n) flush();
    return text_.get() + used_;
  }
  void commit(size_t n) { used_ += n; }
  void flush();

 private:
  FILE* out_;
  std::unique_ptr<char[]> text_;
  size_t used_ = 0;
};

// ASCII85 of one image: rows go in one after another; bytes that do not
// fill a 4-byte group wait for the next row, and only the end pads them.
// A line ends after the group that takes it past 74 characters.
class ascii85_writer {
 public:
  explicit ascii85_writer(FILE* out) : text_(out) {}
  void write(const uint8_t* data, size_t len);
  // Writes the padded remainder, "~>" and a line end.
  void finish();

 private:
  text_buffer text_;
  uint8_t rest_[4] = {};
  int nrest_ = 0;
  int column_ = 0;
};

// Upper-case hexadecimal, lines of at most 78 characters; the column runs
// on across rows.
class hex_writer {
 public:
  explicit hex_writer(FILE* out) : text_(out) {}
  void write(const uint8_t* data, size_t len);
  // Ends the last line when it holds anything.
  void finish();

 private:
  text_buffer text_;
  int column_ = 0;
};

}  // namespace vorn::imgconv
