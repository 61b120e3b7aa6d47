// Reading HP-GL/2: separators, PCL and device-control escapes, two-letter
// mnemonics and their parameters (numbers, quoted strings, and the raw
// strings of LB, PE, SM and DT). Every buffer has a limit, and numbers are
// read digit by digit so that no input yields an infinite or undefined
// value.
#include <cmath>
#include <cstring>

#include "filter/hpglconv/hpglconv.h"

namespace {

class byte_reader {
 public:
  explicit byte_reader(FILE* in) : in_(in) {}
  int get() {
    if (pos_ == len_ && !fill()) return -1;
    return buf_[pos_++];
  }
  int peek() {
    if (pos_ == len_ && !fill()) return -1;
    return buf_[pos_];
  }
  void skip() { pos_++; }

 private:
  bool fill() {
    len_ = std::fread(buf_, 1, sizeof(buf_), in_);
    pos_ = 0;
    return len_ > 0;
  }
  FILE* in_;
  unsigned char buf_[65536];
  size_t pos_ = 0, len_ = 0;
};

bool is_separator(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == ';'; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }

// A number whose first character (sign, digit or ".") is next. Digits past
// any useful precision are read and dropped; the value is clamped.
double read_number(byte_reader& in) {
  double sign = 1;
  int c = in.peek();
  if (c == '+' || c == '-') {
    if (c == '-') sign = -1;
    in.skip();
  }
  double v = 0;
  bool huge = false;
  while (is_digit(c = in.peek())) {
    in.skip();
    if (!huge) {
      v = v * 10 + (c - '0');
      if (v > kMaxNumber) huge = true;
    }
  }
  if (c == '.') {
    in.skip();
    double scale = 0.1;
    int digits = 0;
    while (is_digit(c = in.peek())) {
      in.skip();
      if (digits++ < 18) {
        v += (c - '0') * scale;
        scale *= 0.1;
      }
    }
  }
  if (huge || v > kMaxNumber) v = kMaxNumber;
  return sign * v;
}

// Characters up to `end` (consumed) or the end of input; at most kMaxLabel
// are kept. Returns false when the text had to be cut.
bool read_until(byte_reader& in, int end, std::string& text) {
  bool cut = false;
  int c;
  while ((c = in.get()) >= 0 && c != end) {
    if (text.size() < kMaxLabel)
      text += char(c);
    else
      cut = true;
  }
  return !cut;
}

void skip_escape(byte_reader& in) {
  int c = in.get();
  if (c < 0) return;
  if (c == '.') {
    c = in.get();
    if (c == ')' || c == 'Z') {
      // Everything up to ESC "." "(" or ESC "." "Y" is for the device.
      int a = -1, b = -1, d;
      while ((d = in.get()) >= 0) {
        if (a == 0x1b && b == '.' && (d == '(' || d == 'Y')) return;
        a = b;
        b = d;
      }
    } else if (c == '@' || c == 'H' || c == 'I' || c == 'M' || c == 'N' || c == 'T' || c == 3) {
      while ((c = in.get()) >= 0 && c != ':') {
      }
    }
    return;
  }
  // A PCL escape: it ends with the first capital letter after the one
  // that follows ESC.
  while ((c = in.get()) >= 0 && !(c >= 'A' && c <= 'Z')) {
  }
}

bool plotting_command(const char name[2]) {
  const char a = name[0] & ~0x20, b = name[1] & ~0x20;
  return a == 'P' && (b == 'A' || b == 'R' || b == 'D' || b == 'U');
}

}  // namespace

void hpgl_read(hpgl_state_t& st, FILE* in_file, hpgl_dispatch_t dispatch) {
  byte_reader in(in_file);
  std::vector<hpgl_param_t> params;
  params.reserve(64);
  for (;;) {
    int c;
    while ((c = in.get()) >= 0 && is_separator(c)) {
    }
    if (c < 0) break;
    if (c == 0x1b) {
      skip_escape(in);
      continue;
    }
    int c2 = in.get();
    if (c2 < 0) break;
    char name[2] = {char(c), char(c2)};
    const char upper[2] = {char(c & ~0x20), char(c2 & ~0x20)};
    const bool letters = ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') && ((c2 | 0x20) >= 'a' && (c2 | 0x20) <= 'z');

    params.clear();
    if (letters && upper[0] == 'L' && upper[1] == 'B') {
      hpgl_param_t p;
      p.type = 2;
      if (!read_until(in, st.label_terminator, p.text))
        std::fprintf(st.status, "DEBUG: HP-GL/2 label longer than %zu bytes cut\n", kMaxLabel);
      params.push_back(std::move(p));
    } else if (letters && upper[0] == 'S' && upper[1] == 'M') {
      int d = in.get();
      if (d >= 0) {
        hpgl_param_t p;
        p.type = 2;
        p.text.assign(1, char(d));
        params.push_back(std::move(p));
      }
    } else if (letters && upper[0] == 'D' && upper[1] == 'T') {
      int d = in.peek();
      if (d >= 0 && d != ';') {
        in.skip();
        hpgl_param_t p;
        p.type = 2;
        p.text.assign(1, char(d));
        params.push_back(std::move(p));
      }
    } else if (letters && upper[0] == 'P' && upper[1] == 'E') {
      hpgl_param_t p;
      p.type = 2;
      if (!read_until(in, ';', p.text))
        std::fprintf(st.status, "DEBUG: HP-GL/2 PE string longer than %zu bytes cut\n", kMaxLabel);
      params.push_back(std::move(p));
    }

    const bool chunked = plotting_command(name);
    bool dropped = false;
    for (;;) {
      int d;
      while ((d = in.peek()) == ' ' || d == '\t' || d == '\r' || d == '\n' || d == ',') in.skip();
      hpgl_param_t p;
      if (d == '"') {
        in.skip();
        p.type = 2;
        read_until(in, '"', p.text);
      } else if (d == '+' || d == '-') {
        p.type = 1;
        p.value = read_number(in);
      } else if (is_digit(d) || d == '.') {
        p.type = 0;
        p.value = read_number(in);
      } else {
        break;
      }
      if (params.size() >= kMaxParams) {
        if (chunked) {
          // Pairs of a long polyline go to the handler in pieces: the
          // drawing is the same, the memory bounded.
          dispatch(st, name, params);
          params.clear();
        } else {
          dropped = true;
          continue;
        }
      }
      params.push_back(std::move(p));
    }
    if (dropped)
      std::fprintf(st.status, "DEBUG: HP-GL/2 '%c%c' parameters beyond %zu ignored\n", name[0], name[1], kMaxParams);
    if (letters) dispatch(st, name, params);
  }
}
