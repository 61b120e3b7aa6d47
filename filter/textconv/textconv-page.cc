// Pages: the buffer of character cells turned into runs of text, each run
// placed by its cell position.
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>

#include "filter/textconv/textconv.h"

namespace {

// "%.0f " for whole numbers, "%.3f " otherwise. Positions on a page are
// small, so the common case is formatted here without printf.
void put_number(std::string& s, float v) {
  const double d = double(v);
  if (d >= 0 && d < 1e6) {
    long whole = long(d);
    char buf[24];
    char* e = buf + sizeof(buf);
    char* p = e;
    if (d == double(whole)) {
      *--p = ' ';
    } else {
      long milli = std::lround(d * 1000.0);
      whole = milli / 1000;
      long frac = milli % 1000;
      *--p = ' ';
      for (int i = 0; i < 3; i++, frac /= 10) *--p = char('0' + frac % 10);
      *--p = '.';
    }
    do {
      *--p = char('0' + whole % 10);
      whole /= 10;
    } while (whole);
    s.append(p, size_t(e - p));
    return;
  }
  char buf[48];
  int n = (v == std::floor(v)) ? std::snprintf(buf, sizeof(buf), "%.0f ", d)
                                : std::snprintf(buf, sizeof(buf), "%.3f ", d);
  s.append(buf, size_t(n));
}

bool is_punct(uint16_t c) { return c < 128 && std::ispunct(c); }

}  // namespace

// Writes `n` cells from `cells` at column `col` of row `row`.
static void write_string(textconv_t& job, std::string& s, int col, int row, int n, const lchar_t* cells) {
  const vorn_page_t& p = job.page;
  float left = p.PageLeft;
  if (p.Duplex && (job.NumPages & 1) == 0) left = p.PageWidth - p.PageRight;
  const float x = left + float(col) * 72.0f / job.Cpi;
  float y = p.PageTop - (float(row) + 0.843f) * 72.0f / job.Lpi;
  const uint16_t attr = cells[0].attr;
  if (attr & ATTR_RAISED) y += 36.0f / job.Lpi;
  if (attr & ATTR_LOWERED) y -= 36.0f / job.Lpi;
  put_number(s, x);
  put_number(s, y);
  s += (attr & ATTR_BOLD) ? 'B' : (attr & ATTR_ITALIC) ? 'I' : 'N';
  if (attr & ATTR_UNDERLINE) {
    char buf[48];
    int k = std::snprintf(buf, sizeof(buf), " %.3f U", double(float(n) * 72.0f / job.Cpi));
    s.append(buf, size_t(k));
  }
  const uint16_t* chars = job.cs.chars.data();
  if (job.cs.fonts.size() == 1) {
    s += '(';
    for (int i = 0; i < n; i++) {
      const unsigned v = chars[cells[i].ch];
      if (v < 32 || v > 126) {
        const char oct[4] = {'\\', char('0' + ((v >> 6) & 3)), char('0' + ((v >> 3) & 7)), char('0' + (v & 7))};
        s.append(oct, 4);
      } else {
        if (v == '(' || v == ')' || v == '\\') s += '\\';
        s += char(v);
      }
    }
    s += ')';
  } else {
    static const char hex[] = "0123456789abcdef";
    s += '<';
    for (int i = 0; i < n; i++) {
      const unsigned v = chars[cells[i].ch];
      s += hex[(v >> 12) & 15];
      s += hex[(v >> 8) & 15];
      s += hex[(v >> 4) & 15];
      s += hex[v & 15];
    }
    s += '>';
  }
  if (job.PrettyMode && (attr & ATTR_RED))
    s += 'r';
  else if (job.PrettyMode && (attr & ATTR_GREEN))
    s += 'g';
  else if (job.PrettyMode && (attr & ATTR_BLUE))
    s += 'b';
  else
    s += 'S';
  s += '\n';
}

void write_line(textconv_t& job, int row, const lchar_t* line) {
  std::string& s = job.page_text;
  const int width = job.CharsPerLine;
  const bool one_font = job.cs.fonts.size() == 1;
  const uint16_t* chars = job.cs.chars.data();
  auto font_of = [&](uint16_t ch) -> const textconv_font_t& {
    unsigned f = chars[ch] >> 8;
    if (f >= job.cs.fonts.size()) f = 0;
    return job.cs.fonts[f];
  };
  for (int i = 0; i < width;) {
    if (line[i].ch == 0 || line[i].ch == ' ') {
      i++;
      continue;
    }
    const int start = i;
    const uint16_t attr = line[i].attr;
    if (one_font) {
      while (i < width && line[i].ch && line[i].attr == attr) i++;
      write_string(job, s, start, row, i - start, line + start);
      continue;
    }
    const unsigned font = chars[line[i].ch] >> 8;
    const textconv_font_t& f = font_of(line[i].ch);
    i++;
    if (f.names[0].starts_with("Courier")) {
      while (i < width && line[i].ch && line[i].attr == attr && (chars[line[i].ch] >> 8) == font) i++;
      write_string(job, s, start, row, i - start, line + start);
    } else if (f.direction < 0) {
      while (i < width && line[i].ch && line[i].attr == attr &&
             (font_of(line[i].ch).direction < 0 || line[i].ch == ' ' || is_punct(line[i].ch)))
        i++;
      // Spaces and punctuation after the last right-to-left letter belong
      // to what follows; mirrored with the run they would push it a cell
      // or more into the next word.
      while (i - 1 > start && (line[i - 1].ch == ' ' || is_punct(line[i - 1].ch))) i--;
      // Right-to-left: the run's first character goes in its last cell.
      const int n = i - start;
      for (int k = 0; k < n; k++) {
        if (line[start + k].ch == ' ') continue;
        write_string(job, s, start + n - 1 - k, row, 1, line + start + k);
      }
    } else {
      write_string(job, s, start, row, 1, line + start);
    }
  }
}

void write_page(textconv_t& job) {
  job.NumPages++;
  std::fprintf(job.out, "%%%%Page: %d %d\n", job.NumPages, job.NumPages);
  std::fputs("gsave\n", job.out);
  if (job.PrettyMode) std::fprintf(job.out, "%d H\n", job.NumPages);
  const size_t width = size_t(job.CharsPerLine);
  job.page_text.clear();
  // Only the rows written to are looked at and cleared: a large grid of
  // mostly empty pages (form feeds) costs no more than its text.
  if (job.row_used.size() != size_t(job.LinesPerPage)) job.row_used.assign(size_t(job.LinesPerPage), 1);
  for (int row = 0; row < job.LinesPerPage; row++) {
    if (!job.row_used[size_t(row)]) continue;
    lchar_t* line = job.buffer.data() + size_t(row) * width;
    write_line(job, row, line);
    std::fill(line, line + width, lchar_t{});
    job.row_used[size_t(row)] = 0;
  }
  std::fwrite(job.page_text.data(), 1, job.page_text.size(), job.out);
  std::fputs("grestore\nshowpage\n", job.out);
}

void write_trailer(textconv_t& job) {
  std::fputs("%%Trailer\n", job.out);
  std::fprintf(job.out, "%%%%Pages: %d\n", job.NumPages);
  std::fputs("%%EOF\n", job.out);
}
