#include "filter/psconv/ps-reader.h"

#include <cstring>

bool ps_reader_t::fill() {
  if (pos_ < end_) return true;
  pos_ = 0;
  end_ = std::fread(buffer_, 1, sizeof(buffer_), in);
  return end_ > 0;
}

long ps_reader_t::read_line() {
  line_offset = consumed;
  size_t n = 0;
  const size_t max = kPsLineMax - 1;
  while (n < max) {
    if (!fill()) break;
    // Copy up to the next terminator in one go.
    const char* start = buffer_ + pos_;
    size_t avail = end_ - pos_;
    if (avail > max - n) avail = max - n;
    // The line ends at the first LF or CR: search for both with the
    // library's word-at-a-time scan rather than byte by byte.
    const void* lf = std::memchr(start, '\n', avail);
    size_t i = lf ? size_t(static_cast<const char*>(lf) - start) : avail;
    if (const void* cr = std::memchr(start, '\r', i)) i = size_t(static_cast<const char*>(cr) - start);
    std::memcpy(line + n, start, i);
    n += i;
    pos_ += i;
    if (i == avail) continue;  // no terminator yet (or the line is full)
    char c = buffer_[pos_++];
    line[n++] = c;
    if (c == '\r' && n < max && fill() && buffer_[pos_] == '\n') {
      line[n++] = '\n';
      pos_++;
    }
    break;
  }
  length = long(n);
  consumed += long(n);
  line[n] = '\0';
  return n == 0 ? -1 : long(n);
}

size_t ps_reader_t::read_bytes(char* to, size_t size) {
  size_t n = 0;
  while (n < size && fill()) {
    size_t take = end_ - pos_;
    if (take > size - n) take = size - n;
    std::memcpy(to + n, buffer_ + pos_, take);
    pos_ += take;
    n += take;
  }
  consumed += long(n);
  return n;
}

std::string_view strip_eol(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}
