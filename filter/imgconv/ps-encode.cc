#include "filter/imgconv/ps-encode.h"

#include <array>

namespace vorn::imgconv {
namespace {
constexpr size_t kFlushAt = 1 << 16;
}

// Encodes one group into `p`, with a line end once the line passes 74
// characters; returns the characters written (at most 6).
size_t ascii85_writer::group(const uint8_t* g, char* p) {
  uint32_t v = uint32_t(g[0]) << 24 | uint32_t(g[1]) << 16 | uint32_t(g[2]) << 8 | g[3];
  size_t n;
  if (v == 0) {
    p[0] = 'z';
    n = 1;
  } else {
    for (int i = 4; i >= 0; i--) {
      p[i] = char('!' + v % 85);
      v /= 85;
    }
    n = 5;
  }
  column_ += int(n);
  if (column_ > 74) {
    p[n++] = '\n';
    column_ = 0;
  }
  return n;
}

void ascii85_writer::write(const uint8_t* data, size_t len) {
  char block[8192 + 16];
  size_t n = 0;
  size_t i = 0;
  while (nrest_ > 0 && nrest_ < 4 && i < len) rest_[nrest_++] = data[i++];
  if (nrest_ == 4) {
    n += group(rest_, block + n);
    nrest_ = 0;
  }
  for (; i + 4 <= len; i += 4) {
    n += group(data + i, block + n);
    if (n >= 8192) {
      text_.append(block, n);
      n = 0;
      if (text_.size() >= kFlushAt) flush_text();
    }
  }
  text_.append(block, n);
  while (i < len) rest_[nrest_++] = data[i++];
}

void ascii85_writer::finish() {
  if (nrest_ > 0) {
    uint8_t g[4] = {};
    for (int i = 0; i < nrest_; i++) g[i] = rest_[i];
    uint32_t v = uint32_t(g[0]) << 24 | uint32_t(g[1]) << 16 | uint32_t(g[2]) << 8 | g[3];
    char c[5];
    for (int i = 4; i >= 0; i--) {
      c[i] = char('!' + v % 85);
      v /= 85;
    }
    // A short final group is never "z": its first remainder + 1 characters.
    text_.append(c, size_t(nrest_) + 1);
    nrest_ = 0;
  }
  text_ += "~>\n";
  column_ = 0;
  flush_text();
}

void ascii85_writer::flush_text() {
  std::fwrite(text_.data(), 1, text_.size(), out_);
  text_.clear();
}

void hex_writer::write(const uint8_t* data, size_t len) {
  static const auto kPairs = [] {
    static const char kDigits[] = "0123456789ABCDEF";
    std::array<std::array<char, 2>, 256> t{};
    for (int v = 0; v < 256; v++) t[size_t(v)] = {kDigits[v >> 4], kDigits[v & 15]};
    return t;
  }();
  char block[8192 + 128];
  size_t n = 0;
  for (size_t i = 0; i < len; i++) {
    if (column_ == 78) {
      block[n++] = '\n';
      column_ = 0;
    }
    block[n] = kPairs[data[i]][0];
    block[n + 1] = kPairs[data[i]][1];
    n += 2;
    column_ += 2;
    if (n >= 8192) {
      text_.append(block, n);
      n = 0;
      if (text_.size() >= kFlushAt) {
        std::fwrite(text_.data(), 1, text_.size(), out_);
        text_.clear();
      }
    }
  }
  text_.append(block, n);
}

void hex_writer::finish() {
  if (column_ > 0) text_ += '\n';
  column_ = 0;
  std::fwrite(text_.data(), 1, text_.size(), out_);
  text_.clear();
}

}  // namespace vorn::imgconv
