// Builds textconv's data at build time:
//   gen-data charset NAME OUT [FROM FONT...]
//                                  an 8-bit character set from the C
//                                  library's iconv table for NAME; with
//                                  FROM (hex), the bytes from FROM up are
//                                  right-to-left text in the FONTs
//   gen-data font SRC NAME OUT     a Type 1 font file renamed NAME
//   gen-data type42 SRC NAME GLYPHS FIRST LAST OUT
//                                  the glyphs of Unicode values FIRST to
//                                  LAST (hex) of the TrueType font SRC as a
//                                  Type 42 font NAME, glyph names from the
//                                  psglyphs file GLYPHS
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

int charset(const char* name, const char* out_path, int argc, char** rtl) {
  iconv_t cd = iconv_open("UCS-4BE", name);
  if (cd == iconv_t(-1)) {
    std::fprintf(stderr, "gen-data: no iconv table for %s: %s\n", name, std::strerror(errno));
    return 1;
  }
  FILE* out = std::fopen(out_path, "w");
  if (!out) {
    std::fprintf(stderr, "gen-data: %s: %s\n", out_path, std::strerror(errno));
    iconv_close(cd);
    return 1;
  }
  std::fprintf(out, "charset 8bit\n");
  std::fprintf(out, "# %s, generated from the C library's iconv table.\n", name);
  if (argc >= 2) {
    const unsigned from = unsigned(std::strtoul(rtl[0], nullptr, 16));
    std::fprintf(out, "00 %02x ltor single Courier Courier-Bold Courier-Oblique Courier-BoldOblique\n", from - 1);
    std::fprintf(out, "%02x ff rtol single", from);
    for (int i = 1; i < argc; i++) std::fprintf(out, " %s", rtl[i]);
    std::fprintf(out, "\n");
  } else {
    std::fprintf(out, "00 ff ltor single Courier Courier-Bold Courier-Oblique Courier-BoldOblique\n");
  }
  for (unsigned b = 0x20; b < 0x100; b++) {
    char in = char(b);
    unsigned char ucs[4];
    char* ip = &in;
    char* op = reinterpret_cast<char*>(ucs);
    size_t il = 1, ol = 4;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    // Some converters hold a letter back for a combining mark that may
    // follow: flush it out.
    if (iconv(cd, &ip, &il, &op, &ol) == size_t(-1) || iconv(cd, nullptr, nullptr, &op, &ol) == size_t(-1) ||
        ol != 0)
      continue;
    unsigned u = (unsigned(ucs[0]) << 24) | (unsigned(ucs[1]) << 16) | (unsigned(ucs[2]) << 8) | ucs[3];
    // Control codes have no glyph; beyond 16 bits cannot be a slot value.
    if (u < 0x20 || (u >= 0x7f && u < 0xa0) || u > 0xffff) continue;
    std::fprintf(out, "%02x %04x\n", b, u);
  }
  iconv_close(cd);
  return std::fclose(out) == 0 ? 0 : 1;
}

int font(const char* src, const char* name, const char* out_path) {
  std::ifstream in(src, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "gen-data: %s: %s\n", src, std::strerror(errno));
    return 1;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  std::string data = ss.str();
  // The name the font defines itself under is the value of /FontName in
  // the clear-text part.
  const std::string key = "/FontName /";
  size_t at = data.find(key);
  size_t end = at == std::string::npos ? at : data.find(" def", at + key.size());
  if (end == std::string::npos || end - at > 100) {
    std::fprintf(stderr, "gen-data: %s: no /FontName\n", src);
    return 1;
  }
  data.replace(at + key.size(), end - at - key.size(), name);
  std::ofstream out(out_path, std::ios::binary);
  out << data;
  return out.good() ? 0 : 1;
}

// --- TrueType to Type 42 ---------------------------------------------------

struct sfnt {
  std::string data;
  std::map<std::string, std::pair<uint32_t, uint32_t>> tables;  // tag -> offset, length
  mutable bool ok = true;

  uint32_t u8(size_t at) const { return at < data.size() ? uint8_t(data[at]) : (ok = false, 0u); }
  uint32_t u16(size_t at) const { return (u8(at) << 8) | u8(at + 1); }
  int32_t s16(size_t at) const { return int16_t(uint16_t(u16(at))); }
  uint32_t u32(size_t at) const { return (u16(at) << 16) | u16(at + 2); }
  std::string table(const std::string& tag) const {
    auto t = tables.find(tag);
    if (t == tables.end() || size_t(t->second.first) + t->second.second > data.size()) return {};
    return data.substr(t->second.first, t->second.second);
  }
  size_t offset(const std::string& tag) const {
    auto t = tables.find(tag);
    return t == tables.end() ? 0 : t->second.first;
  }
};

bool read_sfnt(const char* path, sfnt& f) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream ss;
  ss << in.rdbuf();
  f.data = ss.str();
  const uint32_t n = f.u16(4);
  for (uint32_t i = 0; i < n; i++) {
    const size_t rec = 12 + 16 * size_t(i);
    f.tables[f.data.substr(rec, 4)] = {f.u32(rec + 8), f.u32(rec + 12)};
  }
  return f.ok && f.tables.count("head") && f.tables.count("glyf") && f.tables.count("loca") &&
         f.tables.count("cmap") && f.tables.count("maxp") && f.tables.count("hhea") && f.tables.count("hmtx");
}

// Unicode value -> glyph from the (3,1) or (0,x) format 4 subtable.
std::map<uint32_t, uint32_t> read_cmap(const sfnt& f) {
  std::map<uint32_t, uint32_t> map;
  const size_t cmap = f.offset("cmap");
  const uint32_t n = f.u16(cmap + 2);
  for (uint32_t i = 0; i < n; i++) {
    const uint32_t platform = f.u16(cmap + 4 + 8 * i), encoding = f.u16(cmap + 6 + 8 * i);
    const size_t sub = cmap + f.u32(cmap + 8 + 8 * i);
    if (!((platform == 3 && encoding == 1) || platform == 0) || f.u16(sub) != 4) continue;
    const uint32_t segs = f.u16(sub + 6) / 2;
    const size_t ends = sub + 14, starts = ends + 2 * segs + 2, deltas = starts + 2 * segs, ranges = deltas + 2 * segs;
    for (uint32_t s = 0; s < segs; s++) {
      const uint32_t end = f.u16(ends + 2 * s), start = f.u16(starts + 2 * s);
      const uint32_t delta = f.u16(deltas + 2 * s), range = f.u16(ranges + 2 * s);
      for (uint32_t c = start; c <= end && c != 0xffff; c++) {
        uint32_t g;
        if (range == 0) {
          g = (c + delta) & 0xffff;
        } else {
          g = f.u16(ranges + 2 * s + range + 2 * (c - start));
          if (g) g = (g + delta) & 0xffff;
        }
        if (g) map[c] = g;
      }
    }
    if (!map.empty()) break;
  }
  return map;
}

void put16(std::string& s, uint32_t v) {
  s += char((v >> 8) & 0xff);
  s += char(v & 0xff);
}
void put32(std::string& s, uint32_t v) {
  put16(s, v >> 16);
  put16(s, v & 0xffff);
}
uint32_t checksum(const std::string& t) {
  uint32_t sum = 0;
  for (size_t i = 0; i < t.size(); i += 4) {
    uint32_t v = 0;
    for (size_t k = 0; k < 4; k++) v = (v << 8) | (i + k < t.size() ? uint8_t(t[i + k]) : 0u);
    sum += v;
  }
  return sum;
}

int type42(const char* src, const char* name, const char* glyphs_path, const char* first_s, const char* last_s,
           const char* out_path) {
  sfnt f;
  if (!read_sfnt(src, f)) {
    std::fprintf(stderr, "gen-data: %s: not a TrueType font with outlines\n", src);
    return 1;
  }
  const uint32_t first = uint32_t(std::strtoul(first_s, nullptr, 16)), last = uint32_t(std::strtoul(last_s, nullptr, 16));
  std::map<uint32_t, std::string> names;
  if (FILE* g = std::fopen(glyphs_path, "r")) {
    char line[256], glyph[64];
    unsigned code;
    while (std::fgets(line, sizeof(line), g))
      if (std::sscanf(line, "%x%63s", &code, glyph) == 2) names[code] = glyph;
    std::fclose(g);
  }

  const size_t head = f.offset("head"), glyf = f.offset("glyf"), loca = f.offset("loca");
  const uint32_t upem = f.u16(head + 18);
  const bool long_loca = f.u16(head + 50) != 0;
  const uint32_t num_glyphs = f.u16(f.offset("maxp") + 4);
  auto glyph_range = [&](uint32_t g) -> std::pair<uint32_t, uint32_t> {
    if (g >= num_glyphs) return {0, 0};
    uint32_t a = long_loca ? f.u32(loca + 4 * g) : 2 * f.u16(loca + 2 * g);
    uint32_t b = long_loca ? f.u32(loca + 4 * g + 4) : 2 * f.u16(loca + 2 * g + 2);
    return {a, b > a ? b - a : 0};
  };

  // The glyphs kept: .notdef, those of the range, and their components.
  std::map<uint32_t, uint32_t> cmap = read_cmap(f);
  std::set<uint32_t> keep{0};
  std::vector<uint32_t> todo;
  std::map<std::string, uint32_t> char_strings;
  for (const auto& [code, g] : cmap) {
    if (code < first || code > last) continue;
    keep.insert(g);
    todo.push_back(g);
    auto n = names.find(code);
    char buf[16];
    std::snprintf(buf, sizeof(buf), "uni%04X", code);
    char_strings[n != names.end() ? n->second : buf] = g;
  }
  while (!todo.empty()) {
    const uint32_t g = todo.back();
    todo.pop_back();
    auto [at, len] = glyph_range(g);
    if (len < 10 || f.s16(glyf + at) >= 0) continue;
    size_t p = glyf + at + 10;
    for (int guard = 0; guard < 64; guard++) {
      const uint32_t flags = f.u16(p), component = f.u16(p + 2);
      if (component < num_glyphs && keep.insert(component).second) todo.push_back(component);
      p += 4 + ((flags & 1) ? 4 : 2) + ((flags & 8) ? 2 : (flags & 0x40) ? 4 : (flags & 0x80) ? 8 : 0);
      if (!(flags & 0x20)) break;
    }
  }

  // glyf with only the kept outlines, loca in the long format.
  std::string new_glyf, new_loca;
  for (uint32_t g = 0; g < num_glyphs; g++) {
    put32(new_loca, uint32_t(new_glyf.size()));
    if (keep.count(g)) {
      auto [at, len] = glyph_range(g);
      new_glyf += f.data.substr(glyf + at, len);
      while (new_glyf.size() % 4) new_glyf += '\0';
    }
  }
  put32(new_loca, uint32_t(new_glyf.size()));
  std::string new_head = f.table("head");
  new_head[50] = 0;
  new_head[51] = 1;
  new_head[8] = new_head[9] = new_head[10] = new_head[11] = 0;  // checkSumAdjustment

  std::map<std::string, std::string> tables;
  for (const char* tag : {"cvt ", "fpgm", "hhea", "hmtx", "maxp", "prep"})
    if (f.tables.count(tag)) tables[tag] = f.table(tag);
  tables["head"] = new_head;
  tables["glyf"] = new_glyf;
  tables["loca"] = new_loca;
  if (!f.ok) {
    std::fprintf(stderr, "gen-data: %s: tables run past the end of the file\n", src);
    return 1;
  }

  // Directory, then each table padded to four bytes; each goes into a
  // string of its own (strings stay below 64 KB).
  std::string dir;
  put32(dir, 0x00010000);
  const uint32_t n = uint32_t(tables.size());
  uint32_t pow2 = 1, log2 = 0;
  while (pow2 * 2 <= n) pow2 *= 2, log2++;
  put16(dir, n);
  put16(dir, pow2 * 16);
  put16(dir, log2);
  put16(dir, n * 16 - pow2 * 16);
  uint32_t offset = 12 + 16 * n;
  std::vector<std::string> strings{""};
  for (auto& [tag, body] : tables) {
    dir += tag;
    put32(dir, checksum(body));
    put32(dir, offset);
    put32(dir, uint32_t(body.size()));
    while (body.size() % 4) body += '\0';
    offset += uint32_t(body.size());
    if (body.size() > 65534) {
      std::fprintf(stderr, "gen-data: %s: table %s of %zu bytes is too large for one string\n", src, tag.c_str(),
                   body.size());
      return 1;
    }
    strings.push_back(body);
  }
  strings[0] = dir;

  FILE* out = std::fopen(out_path, "w");
  if (!out) {
    std::fprintf(stderr, "gen-data: %s: %s\n", out_path, std::strerror(errno));
    return 1;
  }
  std::fprintf(out, "%%!PS-TrueTypeFont-65536-65536-1\n");
  std::fprintf(out, "%% %s: U+%04X to U+%04X of %s as a Type 42 font, made at build time.\n", name, first, last,
               std::strrchr(src, '/') ? std::strrchr(src, '/') + 1 : src);
  std::fprintf(out, "11 dict begin\n/FontName /%s def\n/FontType 42 def\n/FontMatrix [1 0 0 1 0 0] def\n", name);
  std::fprintf(out, "/FontBBox [%.4f %.4f %.4f %.4f] def\n", f.s16(head + 36) / double(upem),
               f.s16(head + 38) / double(upem), f.s16(head + 40) / double(upem), f.s16(head + 42) / double(upem));
  std::fprintf(out, "/PaintType 0 def\n/Encoding 256 array 0 1 255 { 1 index exch /.notdef put } for def\n");
  std::fprintf(out, "/CharStrings %zu dict dup begin\n/.notdef 0 def\n", char_strings.size() + 1);
  for (const auto& [glyph, g] : char_strings) std::fprintf(out, "/%s %u def\n", glyph.c_str(), g);
  std::fprintf(out, "end readonly def\n/sfnts [\n");
  for (const std::string& s : strings) {
    std::fputc('<', out);
    for (size_t i = 0; i < s.size(); i++) {
      std::fprintf(out, "%02x", uint8_t(s[i]));
      if (i % 36 == 35 && i + 1 < s.size()) std::fputc('\n', out);
    }
    std::fputs(">\n", out);
  }
  std::fprintf(out, "] def\nFontName currentdict end definefont pop\n");
  return std::fclose(out) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 8 && std::strcmp(argv[1], "type42") == 0)
    return type42(argv[2], argv[3], argv[4], argv[5], argv[6], argv[7]);
  if (argc >= 4 && std::strcmp(argv[1], "charset") == 0) return charset(argv[2], argv[3], argc - 4, argv + 4);
  if (argc == 5 && std::strcmp(argv[1], "font") == 0) return font(argv[2], argv[3], argv[4]);
  std::fprintf(stderr, "usage: gen-data charset NAME OUT | font SRC NAME OUT | type42 SRC NAME GLYPHS FIRST LAST OUT\n");
  return 2;
}
