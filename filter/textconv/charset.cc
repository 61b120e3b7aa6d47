// The glyph-name table and the character-set files of the data directory.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <cstdlib>
#include <cstring>
#include <string>

#include "filter/textconv/textconv.h"
#include "vorn/strings.h"

namespace {

struct file_closer {
  void operator()(FILE* f) const {
    if (f) std::fclose(f);
  }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

// Reads one line of at most 1023 bytes (the rest of a longer line is
// dropped) without the line end. False at end of file.
bool read_line(FILE* f, std::string& line) {
  line.clear();
  int c;
  bool any = false;
  while ((c = std::getc(f)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (line.size() < 1023) line += char(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

std::vector<std::string> words(std::string_view s) {
  std::vector<std::string> w;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && vorn::isspace(s[i])) i++;
    size_t start = i;
    while (i < s.size() && !vorn::isspace(s[i])) i++;
    if (i > start) w.emplace_back(s.substr(start, i - start));
  }
  return w;
}

// A whole word of hexadecimal digits, at most 0xFFFF.
bool hex16(const std::string& w, unsigned& v) {
  if (w.empty() || w.size() > 4) return false;
  char* end = nullptr;
  unsigned long n = std::strtoul(w.c_str(), &end, 16);
  if (*end) return false;
  v = unsigned(n);
  return true;
}

void use_builtin(textconv_charset_t& cs) {
  cs.utf8 = false;
  cs.fonts.assign(1, textconv_font_t{1, 1, {"Courier", "Courier-Bold", "Courier-Oblique", "Courier-BoldOblique"}});
  for (unsigned c = 32; c < 127; c++) {
    cs.chars[c] = uint16_t(c);
    cs.codes[c] = uint16_t(c);
  }
}

}  // namespace

bool load_glyph_names(textconv_t& job) {
  const std::string path = job.datadir + "/data/psglyphs";
  file_ptr f(std::fopen(path.c_str(), "r"));
  if (!f) {
    std::fprintf(job.status, "ERROR: Unable to open \"%s\" - %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  std::string line;
  while (read_line(f.get(), line)) {
    unsigned code;
    char name[64];
    if (std::sscanf(line.c_str(), "%x%63s", &code, name) == 2 && code <= 0xffff) job.cs.glyphs[code] = name;
  }
  return true;
}

bool load_charset(textconv_t& job) {
  textconv_charset_t& cs = job.cs;
  cs.chars.assign(65536, 0);
  cs.codes.assign(65536, 0);
  cs.fonts.clear();
  if (job.charset_name.empty()) {
    use_builtin(cs);
    return true;
  }

  const std::string path = job.datadir + "/charsets/" + job.charset_name;
  file_ptr f(std::fopen(path.c_str(), "r"));
  if (!f) {
    std::fprintf(job.status, "ERROR: Unable to open %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  std::string line;
  if (!read_line(f.get(), line)) {
    std::fprintf(job.status, "ERROR: Bad/empty charset file %s\n", path.c_str());
    return false;
  }
  std::vector<std::string> head = words(line);
  if (head.empty() || head[0] != "charset") {
    std::fprintf(job.status, "ERROR: Bad charset file %s\n", path.c_str());
    return false;
  }
  const std::string type = head.size() > 1 ? head[1] : "";
  if (type == "utf8")
    cs.utf8 = true;
  else if (type == "8bit")
    cs.utf8 = false;
  else {
    std::fprintf(job.status, "ERROR: Bad charset type %s\n", type.c_str());
    return false;
  }

  bool pairs = false;
  while (read_line(f.get(), line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> w = words(line);
    if (w.empty()) continue;
    unsigned first, last;
    if (!cs.utf8 && w.size() == 2 && hex16(w[0], first) && hex16(w[1], last)) pairs = true;
    if (pairs) {
      // byte code, Unicode value of its glyph
      if (w.size() >= 2 && hex16(w[0], first) && hex16(w[1], last) && first < 256) cs.codes[cs.chars[first]] = uint16_t(last);
      continue;
    }
    if (w.size() < 5 || !hex16(w[0], first) || !hex16(w[1], last) || last < first) {
      std::fprintf(job.status, "ERROR: bad font description line: %s\n", line.c_str());
      return false;
    }
    textconv_font_t font;
    if (w[2] == "ltor")
      font.direction = 1;
    else if (w[2] == "rtol")
      font.direction = -1;
    else {
      std::fprintf(job.status, "ERROR: Bad text direction %s\n", w[2].c_str());
      return false;
    }
    if (w[3] == "single")
      font.width = 1;
    else if (w[3] == "double")
      font.width = 2;
    else {
      std::fprintf(job.status, "ERROR: Bad text width %s\n", w[3].c_str());
      return false;
    }
    if (cs.fonts.size() >= 256) {
      std::fprintf(job.status, "DEBUG: More than 256 fonts in %s, ignoring: %s\n", path.c_str(), line.c_str());
      continue;
    }
    for (int k = 0; k < 4; k++) font.names[k] = w[4 + (size_t(k) + 4 < w.size() ? size_t(k) : 0)];
    // A font has 256 positions; a longer range is cut there.
    if (last - first > 255) {
      std::fprintf(job.status, "DEBUG: Font range %04x-%04x cut to 256 codes\n", first, last);
      last = first + 255;
    }
    const unsigned base = unsigned(cs.fonts.size()) * 256;
    for (unsigned c = first; c <= last; c++) {
      cs.chars[c] = uint16_t(base + (c - first));
      if (cs.utf8) cs.codes[base + (c - first)] = uint16_t(c);
    }
    cs.fonts.push_back(std::move(font));
  }
  if (cs.fonts.empty()) {
    std::fprintf(job.status, "ERROR: Bad/empty charset file %s\n", path.c_str());
    return false;
  }
  return true;
}
