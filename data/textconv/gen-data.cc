// Builds textconv's data at build time:
//   gen-data charset NAME OUT      an 8-bit character set from the C
//                                  library's iconv table for NAME
//   gen-data font SRC NAME OUT     a Type 1 font file renamed NAME
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

int charset(const char* name, const char* out_path) {
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
  std::fprintf(out, "00 ff ltor single Courier Courier-Bold Courier-Oblique Courier-BoldOblique\n");
  for (unsigned b = 0x20; b < 0x100; b++) {
    char in = char(b);
    unsigned char ucs[4];
    char* ip = &in;
    char* op = reinterpret_cast<char*>(ucs);
    size_t il = 1, ol = 4;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &ip, &il, &op, &ol) == size_t(-1) || ol != 0) continue;
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

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 4 && std::strcmp(argv[1], "charset") == 0) return charset(argv[2], argv[3]);
  if (argc == 5 && std::strcmp(argv[1], "font") == 0) return font(argv[2], argv[3], argv[4]);
  std::fprintf(stderr, "usage: gen-data charset NAME OUT | font SRC NAME OUT\n");
  return 2;
}
