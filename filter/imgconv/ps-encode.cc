#include "filter/imgconv/ps-encode.h"

#include <array>
#include <cstring>

namespace vorn::imgconv {
namespace {

// The two ASCII85 digits of every value below 85 × 85: a group's five
// digits are one digit and two of these pairs.
const std::array<std::array<char, 2>, 85 * 85> kPairs85 = [] {
  std::array<std::array<char, 2>, 85 * 85> t{};
  for (int v = 0; v < 85 * 85; v++) t[size_t(v)] = {char('!' + v / 85), char('!' + v % 85)};
  return t;
}();

const std::array<std::array<char, 2>, 256> kPairs16 = [] {
  static const char kDigits[] = "0123456789ABCDEF";
  std::array<std::array<char, 2>, 256> t{};
  for (int v = 0; v < 256; v++) t[size_t(v)] = {kDigits[v >> 4], kDigits[v & 15]};
  return t;
}();

// The five digits of a group, most significant first.
inline void digits85(uint32_t v, char* p) {
  const uint32_t hi = v / (85 * 85);
  const uint32_t top = hi / (85 * 85);
  p[0] = char('!' + top);
  std::memcpy(p + 1, kPairs85[hi - top * (85 * 85)].data(), 2);
  std::memcpy(p + 3, kPairs85[v - hi * (85 * 85)].data(), 2);
}

inline uint32_t be32(const uint8_t* g) {
  return uint32_t(g[0]) << 24 | uint32_t(g[1]) << 16 | uint32_t(g[2]) << 8 | g[3];
}

// Encodes one group into `p`, with a line end once the line passes 74
// characters; returns the characters written (at most 6).
inline size_t group85(uint32_t v, char* p, int& column) {
  size_t n;
  if (v == 0) {
    p[0] = 'z';
    n = 1;
  } else {
    digits85(v, p);
    n = 5;
  }
  column += int(n);
  if (column > 74) {
    p[n++] = '\n';
    column = 0;
  }
  return n;
}

}  // namespace

void text_buffer::flush() {
  if (used_ > 0) std::fwrite(text_.get(), 1, used_, out_);
  used_ = 0;
}

void ascii85_writer::write(const uint8_t* data, size_t len) {
  size_t i = 0;
  while (nrest_ > 0 && nrest_ < 4 && i < len) rest_[nrest_++] = data[i++];
  if (nrest_ == 4) {
    text_.commit(group85(be32(rest_), text_.reserve(6), column_));
    nrest_ = 0;
  }
  // Groups in batches that fit the buffer at six characters each.
  constexpr size_t kBatch = text_buffer::kSize / 6;
  while (len - i >= 4) {
    size_t groups = (len - i) / 4;
    if (groups > kBatch) groups = kBatch;
    char* p = text_.reserve(groups * 6);
    size_t n = 0;
    const uint8_t* g = data + i;
    for (size_t k = 0; k < groups; k++, g += 4) n += group85(be32(g), p + n, column_);
    text_.commit(n);
    i += groups * 4;
  }
  while (i < len) rest_[nrest_++] = data[i++];
}

void ascii85_writer::finish() {
  char* p = text_.reserve(8);
  size_t n = 0;
  if (nrest_ > 0) {
    uint8_t g[4] = {};
    for (int i = 0; i < nrest_; i++) g[i] = rest_[i];
    char c[5];
    digits85(be32(g), c);
    // A short final group is never "z": its first remainder + 1 characters.
    std::memcpy(p, c, size_t(nrest_) + 1);
    n = size_t(nrest_) + 1;
    nrest_ = 0;
  }
  std::memcpy(p + n, "~>\n", 3);
  text_.commit(n + 3);
  column_ = 0;
  text_.flush();
}

void hex_writer::write(const uint8_t* data, size_t len) {
  // Bytes in batches that fit the buffer with their line ends.
  constexpr size_t kBatch = text_buffer::kSize / 3;
  size_t i = 0;
  while (i < len) {
    size_t count = len - i < kBatch ? len - i : kBatch;
    char* p = text_.reserve(count * 3);
    size_t n = 0;
    for (size_t k = 0; k < count; k++) {
      if (column_ == 78) {
        p[n++] = '\n';
        column_ = 0;
      }
      std::memcpy(p + n, kPairs16[data[i + k]].data(), 2);
      n += 2;
      column_ += 2;
    }
    text_.commit(n);
    i += count;
  }
}

void hex_writer::finish() {
  if (column_ > 0) {
    *text_.reserve(1) = '\n';
    text_.commit(1);
  }
  column_ = 0;
  text_.flush();
}

}  // namespace vorn::imgconv
