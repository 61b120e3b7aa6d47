#include "filter/psconv/ps-reader.h"

#include <cstring>

bool ps_reader_t::fill() {
  if (pos_ < end_) return true;
  pos_ = 0;
  end_ = std::fread(buffer_, 1, sizeof(buffer_), in);
  return end_ > 0;
}

// The line ends at the first LF or CR in [p, p + n): both are searched for
// with the library's word-at-a-time scan rather than byte by byte.
static size_t line_end(const char* p, size_t n) {
  const void* lf = std::memchr(p, '\n', n);
  size_t i = lf ? size_t(static_cast<const char*>(lf) - p) : n;
  if (const void* cr = std::memchr(p, '\r', i)) i = size_t(static_cast<const char*>(cr) - p);
  return i;
}

long ps_reader_t::read_line() {
  line_offset = consumed;
  const size_t max = kPsLineMax - 1;

  // Most lines lie whole in the buffer: hand them out from there.
  if (fill()) {
    const char* start = buffer_ + pos_;
    size_t avail = end_ - pos_;
    if (avail > max) avail = max;
    size_t i = line_end(start, avail);
    // A CR at the end of the buffer may be followed by an LF not yet read.
    if (i < avail && (start[i] == '\n' || i + 1 < end_ - pos_)) {
      size_t n = i + 1;
      if (start[i] == '\r' && n < max && start[n] == '\n') n++;
      ptr_ = start;
      pos_ += n;
      length = long(n);
      consumed += length;
      return length;
    }
  }

  size_t n = 0;
  while (n < max) {
    if (!fill()) break;
    const char* start = buffer_ + pos_;
    size_t avail = end_ - pos_;
    if (avail > max - n) avail = max - n;
    size_t i = line_end(start, avail);
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
  ptr_ = line;
  length = long(n);
  consumed += length;
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
