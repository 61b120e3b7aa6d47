// Splits PPD input into main keyword entries: physical lines (LF, CR or
// CR LF), comments, keyword/option/translation and the three value kinds,
// with the format's limits checked before anything is kept.
#include <cerrno>
#include <cstring>

#include "ppd-private.h"
#include "vorn/strings.h"

namespace vorn::ppd_detail {
namespace {

bool is_ws(char c) { return c == ' ' || c == '\t'; }

bool is_blank(std::string_view l) {
  for (char c : l)
    if (!is_ws(c)) return false;
  return true;
}

// Control characters other than tab are not allowed outside quoted values.
bool has_control(std::string_view s) {
  for (unsigned char c : s)
    if ((c < 0x20 && c != '\t') || c == 0x7f) return true;
  return false;
}

// Position of the opening quote of a quoted value on this line, or npos.
// The first ':' always ends keyword, option and translation.
size_t quote_position(std::string_view l) {
  size_t i = l.find(':');
  if (i == std::string_view::npos) return i;
  for (i++; i < l.size() && is_ws(l[i]); i++) {}
  return i < l.size() && l[i] == '"' ? i : std::string_view::npos;
}

}  // namespace

bool decode_hex(std::string_view in, std::string& out) {
  out.clear();
  for (size_t i = 0; i < in.size(); i++) {
    if (in[i] != '<') {
      out += in[i];
      continue;
    }
    size_t end = in.find('>', i + 1);
    if (end == std::string_view::npos) return false;
    int high = -1;
    for (size_t j = i + 1; j < end; j++) {
      if (vorn::isspace(in[j])) continue;
      int v = hex_value(in[j]);
      if (v < 0) return false;
      if (high < 0) {
        high = v;
      } else {
        out += char(high * 16 + v);
        high = -1;
      }
    }
    if (high >= 0) return false;  // odd number of digits
    i = end;
  }
  return true;
}

void cut_text(std::string& s, size_t max) {
  if (s.size() <= max) return;
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) n--;
  s.resize(n);
}

// One physical line without its terminator: 1, 0 at the end, -1 on a read
// error, -2 when longer than max (the rest is not read).
int lexer::read_line(std::string& out, size_t max) {
  out.clear();
  bool any = false;
  for (;;) {
    if (pos_ == len_) {
      if (eof_) break;
      ssize_t n = src_.read(buf_, sizeof buf_);
      if (n < 0) return -1;
      if (n == 0) {
        eof_ = true;
        break;
      }
      total_ += size_t(n);
      if (total_ > PPD_MAX_FILE) {
        errno = EFBIG;
        return -1;
      }
      pos_ = 0;
      len_ = size_t(n);
    }
    if (skip_lf_) {
      skip_lf_ = false;
      if (buf_[pos_] == '\n') {
        pos_++;
        continue;
      }
    }
    any = true;
    const char* start = buf_ + pos_;
    size_t avail = len_ - pos_;
    const char* nl = static_cast<const char*>(std::memchr(start, '\n', avail));
    size_t before_nl = nl ? size_t(nl - start) : avail;
    const char* cr = static_cast<const char*>(std::memchr(start, '\r', before_nl));
    const char* end = cr ? cr : nl;
    size_t take = end ? size_t(end - start) : avail;
    if (out.size() + take > max) return -2;
    out.append(start, take);
    pos_ += take;
    if (end) {
      pos_++;
      if (end == cr) skip_lf_ = true;
      line_++;
      return 1;
    }
  }
  if (!any) return 0;
  line_++;  // last line without a terminator
  return 1;
}

int lexer::next(entry& e) {
  for (;;) {
    int r = read_line(phys_, PPD_MAX_VALUE + PPD_MAX_LINE);
    if (r == 0) return 0;
    if (r == -1) return fail(PPD_FILE_OPEN_ERROR);
    if (r == -2) {
      line_++;
      return fail(PPD_LINE_TOO_LONG);
    }
    std::string_view l = phys_;
    if (is_blank(l)) continue;
    if (l[0] != '*') return fail(PPD_MISSING_ASTERISK);
    const bool comment = l.size() >= 2 && l[1] == '%';
    size_t quote = comment ? std::string_view::npos : quote_position(l);
    std::string_view main = quote == std::string_view::npos ? l : l.substr(0, quote);
    if (main.size() > PPD_MAX_LINE) return fail(PPD_LINE_TOO_LONG);
    if (has_control(main)) return fail(PPD_ILLEGAL_CHARACTER);
    if (comment) continue;
    r = parse(l, e);
    if (r != 0) return r;  // an entry, or an error
  }
}

// 1 with an entry, 0 for a line to skip (a lone *End), -1 on an error.
int lexer::parse(std::string_view l, entry& e) {
  e = entry{};
  e.line = line_;
  size_t n = l.size(), i = 1;
  while (i < n && !is_ws(l[i]) && l[i] != ':') i++;
  e.keyword.assign(l.substr(1, i - 1));
  if (e.keyword.empty() || e.keyword.size() > PPD_MAX_NAME ||
      e.keyword.find('/') != std::string::npos)
    return fail(PPD_ILLEGAL_MAIN_KEYWORD);
  while (i < n && is_ws(l[i])) i++;
  if (i == n) {
    if (e.keyword == "End") return 0;  // ends a quoted value; nothing to keep
    return fail(PPD_BAD_VALUE);
  }
  if (l[i] != ':') {
    size_t j = i;
    while (j < n && l[j] != ':' && l[j] != '/') j++;
    std::string_view opt = l.substr(i, j - i);
    while (!opt.empty() && is_ws(opt.back())) opt.remove_suffix(1);
    size_t limit = PPD_MAX_NAME + (!opt.empty() && opt[0] == '*' ? 1 : 0);
    if (opt.empty() || opt.size() > limit) return fail(PPD_ILLEGAL_OPTION_KEYWORD);
    for (char c : opt)
      if (is_ws(c)) return fail(PPD_ILLEGAL_OPTION_KEYWORD);
    e.option.assign(opt);
    if (j == n) return fail(PPD_BAD_VALUE);
    if (l[j] == '/') {
      size_t colon = l.find(':', j + 1);
      if (colon == std::string_view::npos) return fail(PPD_ILLEGAL_TRANSLATION);
      if (!decode_hex(l.substr(j + 1, colon - j - 1), e.text))
        return fail(PPD_ILLEGAL_TRANSLATION);
      cut_text(e.text, PPD_MAX_TEXT);
      e.has_text = true;
      j = colon;
    }
    i = j;
  }
  for (i++; i < n && is_ws(l[i]); i++) {}
  if (i == n) return fail(PPD_BAD_VALUE);
  if (l[i] == '"') return read_quoted(l.substr(i + 1), e);
  std::string_view v = vorn::trim(l.substr(i));
  if (v[0] == '^') {
    v.remove_prefix(1);
    if (v.empty() || v.size() > PPD_MAX_NAME) return fail(PPD_BAD_VALUE);
    for (char c : v)
      if (is_ws(c)) return fail(PPD_BAD_VALUE);
    e.kind = value_kind::symbol;
  } else {
    e.kind = value_kind::string;
  }
  e.value.assign(v);
  return 1;
}

// The quoted value starting after its opening quote, across lines.
int lexer::read_quoted(std::string_view rest, entry& e) {
  e.kind = value_kind::quoted;
  const int start = line_;
  std::string line;
  for (;;) {
    size_t q = rest.find('"');
    std::string_view part = rest.substr(0, q);
    if (e.value.size() + part.size() > PPD_MAX_VALUE) return fail(PPD_VALUE_TOO_LONG);
    if (part.find('\0') != std::string_view::npos) return fail(PPD_ILLEGAL_CHARACTER);
    e.value.append(part);
    if (q != std::string_view::npos) {
      if (!is_blank(rest.substr(q + 1))) return fail(PPD_BAD_VALUE);
      return 1;
    }
    e.value += '\n';
    int r = read_line(line, PPD_MAX_VALUE + PPD_MAX_LINE);
    if (r == 0) {
      line_ = start;  // the value that never ended
      return fail(PPD_BAD_VALUE);
    }
    if (r == -1) return fail(PPD_FILE_OPEN_ERROR);
    if (r == -2) {
      line_++;
      return fail(PPD_VALUE_TOO_LONG);
    }
    rest = line;
  }
}

}  // namespace vorn::ppd_detail
