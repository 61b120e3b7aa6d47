// The type database: type table, rule parsing and evaluation, the .types
// reader and detection of real files against the shipped data/*.types.

#include "scheduler/types/types.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::string;

// ---- Small real files of each format ----

void Put16be(Bytes& b, unsigned v) { b += char(v >> 8), b += char(v); }
void Put32be(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b += char(v >> s);
}
void Put16le(Bytes& b, unsigned v) { b += char(v), b += char(v >> 8); }
void Put32le(Bytes& b, uint32_t v) {
  for (int s = 0; s < 32; s += 8) b += char(v >> s);
}

void PngChunk(Bytes& b, const char* type, const Bytes& data) {
  Put32be(b, uint32_t(data.size()));
  Bytes body = type + data;
  b += body;
  Put32be(b, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

// A 1x1 grey PNG.
Bytes Png() {
  Bytes b("\x89PNG\r\n\x1a\n", 8);
  Bytes ihdr;
  Put32be(ihdr, 1), Put32be(ihdr, 1);
  ihdr += Bytes("\x08\x00\x00\x00\x00", 5);
  PngChunk(b, "IHDR", ihdr);
  Bytes raw("\x00\x80", 2), z(64, '\0');
  uLongf zlen = z.size();
  compress(reinterpret_cast<Bytef*>(z.data()), &zlen, reinterpret_cast<const Bytef*>(raw.data()),
           raw.size());
  z.resize(zlen);
  PngChunk(b, "IDAT", z);
  PngChunk(b, "IEND", "");
  return b;
}

// An 8x8 grey baseline JPEG: one DC and one AC code, every block flat.
Bytes Jpeg() {
  Bytes b("\xFF\xD8", 2);
  b += Bytes("\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 18);
  b += Bytes("\xFF\xDB\x00\x43\x00", 5) + Bytes(64, '\x01');
  b += Bytes("\xFF\xC0\x00\x0B\x08\x00\x08\x00\x08\x01\x01\x11\x00", 13);
  Bytes counts(16, '\0');
  counts[0] = 1;
  b += Bytes("\xFF\xC4\x00\x14\x00", 5) + counts + Bytes(1, '\0');  // DC: size 0
  b += Bytes("\xFF\xC4\x00\x14\x10", 5) + counts + Bytes(1, '\0');  // AC: end of block
  b += Bytes("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
  b += Bytes("\x3F", 1);  // DC 0, EOB, padding ones
  b += Bytes("\xFF\xD9", 2);
  return b;
}

// A 1x1 two-colour GIF.
Bytes Gif() {
  return Bytes(
      "GIF89a\x01\x00\x01\x00\x80\x00\x00\xFF\xFF\xFF\x00\x00\x00"
      "\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3B",
      35);
}

// A 1x1 8-bit grey uncompressed TIFF, in either byte order.
Bytes Tiff(bool big_endian) {
  auto p16 = big_endian ? Put16be : Put16le;
  auto p32 = big_endian ? Put32be : Put32le;
  Bytes b = big_endian ? "MM" : "II";
  p16(b, 42);
  p32(b, 8);
  const unsigned tags[][2] = {{256, 1}, {257, 1}, {258, 8}, {259, 1},
                              {262, 1}, {273, 0}, {278, 1}, {279, 1}};
  const size_t n = sizeof(tags) / sizeof(tags[0]);
  uint32_t data_offset = uint32_t(8 + 2 + n * 12 + 4);
  p16(b, unsigned(n));
  for (const auto& t : tags) {
    p16(b, t[0]);
    p16(b, t[0] == 273 ? 4 : 3);  // LONG offset, SHORT otherwise
    p32(b, 1);
    uint32_t v = t[0] == 273 ? data_offset : t[1];
    if (t[0] != 273 && big_endian) v <<= 16;  // a SHORT sits in the first half
    p32(b, v);
  }
  p32(b, 0);
  b += '\x80';
  return b;
}

Bytes SunRaster() {
  Bytes b;
  for (uint32_t v : {0x59A66A95u, 1u, 1u, 8u, 2u, 1u, 0u, 0u}) Put32be(b, v);
  return b + Bytes("\x80\x00", 2);
}

Bytes SgiRgb() {
  Bytes b;
  Put16be(b, 474);
  b += '\x00', b += '\x01';  // verbatim, 1 byte a channel
  Put16be(b, 2), Put16be(b, 1), Put16be(b, 1), Put16be(b, 1);
  Put32be(b, 0), Put32be(b, 255);
  b.resize(512, '\0');
  return b + "\x80";
}

// The image pack signature of a Photo CD file, after its 2048-byte lead-in.
Bytes PhotoCd() { return Bytes(2048, '\xFF') + "PCD_IPI" + Bytes(64, '\0'); }

// A one-page PDF with a correct cross-reference table.
Bytes Pdf() {
  Bytes b = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  const char* objects[] = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 72 72] >>",
  };
  for (size_t i = 0; i < 3; i++) {
    offsets.push_back(b.size());
    b += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  size_t xref = b.size();
  b += "xref\n0 4\n0000000000 65535 f \n";
  for (size_t o : offsets) {
    char line[32];
    snprintf(line, sizeof(line), "%010zu 00000 n \n", o);
    b += line;
  }
  b += "trailer\n<< /Size 4 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return b;
}

const char kPostScript[] =
    "%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\n%%Page: 1 1\n"
    "newpath 72 72 moveto 144 144 lineto stroke\nshowpage\n%%EOF\n";

Bytes Gzip(const Bytes& data) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes out(deflateBound(&z, data.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// ---- Fixture: a temporary directory ----

class TypesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vorn-types-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const Bytes& data) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << data;
    return path;
  }

  // A database with the single type test/x and the given rule.
  struct OneType {
    TypeDatabase db;
    TypeRecord* t;
    int status;
  };
  std::unique_ptr<OneType> WithRule(std::string_view rule) {
    auto o = std::make_unique<OneType>();
    o->t = AddType(&o->db, "test", "x");
    o->status = AddTypeRule(o->t, rule);
    return o;
  }
  bool Matches(const OneType& o, const std::string& name, const Bytes& content) {
    return DetectFileType(&o.db, Write(name, content).c_str(), nullptr) == o.t;
  }

  std::string dir_;
};

std::string Name(const TypeRecord* t) { return t ? t->super + "/" + t->type : "(none)"; }

// ---- Real files against the shipped rules ----

TEST_F(TypesTest, ShippedRulesTypeRealFiles) {
  std::unique_ptr<TypeDatabase> db = LoadTypeDatabase(VORN_SOURCE_DIR "/data", "/nonexistent");
  ASSERT_TRUE(db);
  const Bytes binary("\x00\x01\x02\x03\xFE\xFD\x00\x10junk\x00\x7F\x80\x81", 16);
  const struct {
    const char* name;
    Bytes content;
    const char* type;
    int compressed;
  } cases[] = {
      {"doc1", kPostScript, "application/postscript", 0},
      {"doc2", "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\n0 0 moveto\n%%EOF\n",
       "application/postscript", 0},
      {"doc3", Bytes("\x04", 1) + kPostScript, "application/postscript", 0},
      {"doc4", "\x1b%-12345X@PJL JOB\r\n@PJL ENTER LANGUAGE = POSTSCRIPT\r\n" + Bytes(kPostScript),
       "application/postscript", 0},
      {"doc5", Gzip(kPostScript), "application/postscript", 1},
      {"doc6", Pdf(), "application/pdf", 0},
      {"doc7", Gzip(Pdf()), "application/pdf", 1},
      {"plot1", "IN;SP1;PU0,0;PD1000,1000;SP0;\n", "application/vnd.hp-hpgl", 0},
      {"plot2",
       "\x1b"
       "E\x1b%0BIN;SP1;PD100,100;\x1b%0A\x1b"
       "E",
       "application/vnd.hp-hpgl", 0},
      {"plot3", "BP;IN;SP2;PA0,0;PD10,10;", "application/vnd.hp-hpgl", 0},
      {"print1",
       "\x1b"
       "E\x1b&l0O\x1b*t300R\x1b*r1A\x1b*b1W\xFF\x1b*rB\x0c\x1b"
       "E",
       "application/vnd.hp-pcl", 0},
      {"print2",
       "\x1b%-12345X@PJL ENTER LANGUAGE=PCL\r\n\x1b"
       "E\x1b&l0O\x0c",
       "application/vnd.hp-pcl", 0},
      {"raster1", Bytes("VRST\x00\x00\x00\x01", 8) + binary, "application/vnd.vorn-raster", 0},
      {"script1", "#!/bin/sh\necho hello\n", "application/x-shell", 0},
      {"script2", "#!/usr/bin/env bash\necho hello\n", "application/x-shell", 0},
      {"script3", "#!/bin/csh -f\necho hello\n", "application/x-cshell", 0},
      {"script4", "#!/usr/bin/perl -w\nprint 1;\n", "application/x-perl", 0},
      {"img1", Png(), "image/png", 0},
      {"img2", Jpeg(), "image/jpeg", 0},
      {"img3", Gif(), "image/gif", 0},
      {"img4", Tiff(false), "image/tiff", 0},
      {"img5", Tiff(true), "image/tiff", 0},
      {"img6", "P1\n2 2\n0 1\n1 0\n", "image/x-portable-bitmap", 0},
      {"img7", Bytes("P4\n8 1\n\x55", 8), "image/x-portable-bitmap", 0},
      {"img8", Bytes("P5\n1 1\n255\n\x80", 12), "image/x-portable-graymap", 0},
      {"img9", "P3\n1 1\n255\n128 128 128\n", "image/x-portable-pixmap", 0},
      {"img10", Bytes("P6 1 1 255\n\x80\x80\x80", 14), "image/x-portable-pixmap", 0},
      {"img11", SunRaster(), "image/x-sun-raster", 0},
      {"img12", SgiRgb(), "image/x-sgi-rgb", 0},
      {"img13", PhotoCd(), "image/x-photocd", 0},
      {"img14", Gzip(Png()), "image/png", 1},
      {"page1", "<!DOCTYPE html>\n<html><body>hi</body></html>\n", "text/html", 0},
      {"page2", "\n\n  <html><body>hi</body></html>\n", "text/html", 0},
      {"notes", "Hello, world.\nSecond line.\n", "text/plain", 0},
      {"latin1", "caf\xe9 cr\xe8me\n", "text/plain", 0},
      {"notes.gz", Gzip("Hello, world.\n"), "text/plain", 1},
      // A text that happens to start like an image header stays text.
      {"minutes", "P1: the meeting\n", "text/plain", 0},
      // Names decide for the types that have no content rule.
      {"style.css", "body { color: red }\n", "text/css", 0},
      {"favicon.ico", Bytes("\x00\x00\x01\x00\x01\x00", 6) + binary, "image/x-icon", 0},
      {"index.cgi", "#!/bin/sh\necho\n", "application/x-httpd-cgi", 0},
      {"page.php", "<?php echo 1; ?>\n", "application/x-httpd-php", 0},
      {"tool.py", "print(1)\n", "application/x-httpd-python", 0},
      {"lib.pm", "package X;\n1;\n", "application/x-perl", 0},
      {"image.pnm", "P1\n1 1\n1\n", "image/x-portable-anymap", 0},
      {"picture.jpg", binary, "image/jpeg", 0},
      {"report.pdf", binary, "application/pdf", 0},
      // Nothing known.
      {"blob", binary, "(none)", 0},
      {"blob.gz", Gzip(binary), "(none)", 1},
      {"empty", "", "(none)", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int compressed = -1;
    TypeRecord* t = DetectFileType(db.get(), Write(c.name, c.content).c_str(), &compressed);
    EXPECT_EQ(Name(t), c.type);
    EXPECT_EQ(compressed, c.compressed);
  }
}

// Every line of the shipped rules parses; a typo would silently lose rules.
TEST_F(TypesTest, ShippedRulesParseCleanly) {
  std::ifstream in(VORN_SOURCE_DIR "/data/vorn.types");
  ASSERT_TRUE(in);
  TypeDatabase db;
  std::string physical, line;
  int lines = 0;
  while (std::getline(in, physical)) {
    if (!physical.empty() && physical.back() == '\\') {
      line += physical.substr(0, physical.size() - 1);
      continue;
    }
    line += physical;
    if (!line.empty() && line[0] != '#') {
      size_t slash = line.find('/'), end = line.find_first_of(" \t");
      if (end == std::string::npos) end = line.size();
      ASSERT_NE(slash, std::string::npos) << line;
      TypeRecord* t = AddType(&db, line.substr(0, slash), line.substr(slash + 1, end - slash - 1));
      ASSERT_NE(t, nullptr) << line;
      EXPECT_EQ(AddTypeRule(t, line.substr(end)), 0) << line;
      lines++;
    }
    line.clear();
  }
  EXPECT_GT(lines, 30);
  for (const char* name :
       {"application/octet-stream", "application/vnd.vorn-raw", "application/postscript",
        "application/vnd.vorn-postscript", "application/vnd.vorn-raster", "text/plain"}) {
    std::string n = name;
    EXPECT_NE(FindType(&db, n.substr(0, n.find('/')), n.substr(n.find('/') + 1)), nullptr) << n;
  }
}

// ---- The rule parser: what each function stores ----

const TypeRule* FirstLeaf(const TypeRecord* t) {
  const TypeRule* r = t->rules;
  while (r && (r->op == TYPE_RULE_AND || r->op == TYPE_RULE_OR)) r = r->child;
  return r;
}

TEST_F(TypesTest, RuleFunctionsStoreTheirArguments) {
  const struct {
    std::string rule;
    uint16_t op;
    int32_t offset, region, length;
    Bytes value;
  } cases[] = {
      {"string(0,<1B>E)", TYPE_RULE_STRING, 0, 0, 2,
       "\x1b"
       "E"},
      {"string(0,< 1b 45 >)", TYPE_RULE_STRING, 0, 0, 2,
       "\x1b"
       "E"},
      {"char(3,4)", TYPE_RULE_CHAR, 3, 0, 1, "4"},
      {"char(3,0x04)", TYPE_RULE_CHAR, 3, 0, 1, Bytes("\x04", 1)},
      {"char(3,0)", TYPE_RULE_CHAR, 3, 0, 1, "0"},
      {"char(3,0x00)", TYPE_RULE_CHAR, 3, 0, 1, Bytes(1, '\0')},
      {"char(3,010)", TYPE_RULE_CHAR, 3, 0, 1, Bytes("\x08", 1)},  // strtol base 0: octal
      {"short(0,474)", TYPE_RULE_SHORT, 0, 0, 2, "\x01\xDA"},
      {"short(0,-1)", TYPE_RULE_SHORT, 0, 0, 2, "\xFF\xFF"},
      {"int(4,0x59a66a95)", TYPE_RULE_INT, 4, 0, 4, "\x59\xA6\x6A\x95"},
      {"ascii(10,100000)", TYPE_RULE_ASCII, 10, 0, 8192, ""},
      {"printable(0,1024)", TYPE_RULE_PRINTABLE, 0, 0, 1024, ""},
      {"contains(0,99999,abc)", TYPE_RULE_CONTAINS, 0, 8192, 3, "abc"},
      {"istring(0,\"<HTML\")", TYPE_RULE_ISTRING, 0, 0, 5, "<HTML"},
      {"string(0,'a b')", TYPE_RULE_STRING, 0, 0, 3, "a b"},
      {"string(0, a b )", TYPE_RULE_STRING, 0, 0, 2, "ab"},
      {"string(0,a\"(,)\"b)", TYPE_RULE_STRING, 0, 0, 5, "a(,)b"},
      {"pdf", TYPE_RULE_MATCH, 0, 0, 5, "*.pdf"},
      {"match(\"*.[ch]\")", TYPE_RULE_MATCH, 0, 0, 6, "*.[ch]"},
      {"locale(de_DE)", TYPE_RULE_LOCALE, 0, 0, 5, "de_DE"},
      {"string(0," + Bytes(64, 'x') + ")", TYPE_RULE_STRING, 0, 0, 64, Bytes(64, 'x')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rule);
    auto o = WithRule(c.rule);
    ASSERT_EQ(o->status, 0);
    const TypeRule* r = FirstLeaf(o->t);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->op, c.op);
    EXPECT_EQ(r->offset, c.offset);
    EXPECT_EQ(r->region, c.region);
    EXPECT_EQ(r->length, c.length);
    if (!c.value.empty()) {
      EXPECT_EQ(Bytes(reinterpret_cast<const char*>(r->value), size_t(r->length)), c.value);
    }
  }
}

TEST_F(TypesTest, MalformedRulesAreRefused) {
  const std::string deep = std::string(40, '(') + "pdf" + std::string(40, ')');
  const std::string cases[] = {
      ")",
      "pdf)",
      "bogus(1)",
      "String(0,A)",  // function names are lower case
      "string(0,A",
      "string(0,'A)",
      "string(0,<1G>)",
      "string(0,<1B2>)",
      "string(0,<1B)",
      "string(0)",
      "contains(0,1,a,b)",
      "string(x,A)",
      "string(-1,A)",
      "string(0x80000000,A)",
      "string(0,)",
      "char(0,256)",
      "char(0,)",
      "short(0,70000)",
      "int(0,0x100000000)",
      "string(0," + Bytes(65, 'x') + ")",
      "match(" + Bytes(64, 'x') + ")",
      "match(" + Bytes(255, 'x') + ")",
      Bytes(62, 'x'),  // an extension whose pattern would exceed 63 characters
      Bytes(255, 'x'),
      "pdf+",
      "+pdf",
      "pdf,,ps",
      "pdf+,ps",
      "!",
      "pdf !",
      "!+pdf",
      "()",
      "(pdf",
      "(pdf+)",
      "tar.gz",
      "pdf ; ps",
      deep,
  };
  for (const std::string& rule : cases) {
    SCOPED_TRACE(rule);
    EXPECT_EQ(WithRule(rule)->status, -1);
  }
  // Within the limits these parse.
  for (const std::string& rule :
       {std::string(""), std::string("  \t"), std::string(32, '(') + "pdf" + std::string(32, ')'),
        Bytes(61, 'x'), "match(" + Bytes(63, 'x') + ")", std::string("!!pdf")}) {
    SCOPED_TRACE(rule);
    EXPECT_EQ(WithRule(rule)->status, 0);
  }
}

// ---- Evaluation ----

TEST_F(TypesTest, RulesMatchFiles) {
  Bytes big(9000, '.');
  big.replace(8189, 3, "XYZ");
  Bytes late(9000, '.');
  late.replace(8190, 3, "XYZ");
  const struct {
    const char* rule;
    const char* name;
    Bytes content;
    bool match;
  } cases[] = {
      {"string(0,<1B>E)", "f",
       "\x1b"
       "E&l0O",
       true},
      {"string(0,<1B>E)", "f", "E", false},
      {"string(0,<1B>E)", "f", "\x1b", false},  // too short
      {"char(3,4)", "f", "abc4", true},
      {"char(3,4)", "f", Bytes("abc\x04", 4), false},
      {"char(3,0x04)", "f", Bytes("abc\x04", 4), true},
      {"char(3,0x04)", "f", "abc4", false},
      {"char(3,0x04)", "f", "abc", false},
      {"pdf string(0,%PDF)", "a.pdf", "junk", true},
      {"pdf string(0,%PDF)", "a.txt", "%PDF-1.4\n", true},
      {"pdf string(0,%PDF)", "a.txt", "junk", false},
      {"pdf string(0,%PDF)", "a.PDF", "junk", false},  // names are case-sensitive
      {"pdf string(0,%PDF)", "pdf", "junk", false},
      {"ascii(0,1024)", "f", "", false},
      {"ascii(0,1024)", "f", "0123456789", true},
      {"ascii(0,1024)", "f", "tab\there\r\n\x1b\x1a", true},
      {"ascii(0,1024)", "f", Bytes("abc\0def", 7), false},
      {"ascii(0,1024)", "f", "caf\xe9", false},
      {"ascii(0,4)", "f", Bytes("abcd\0", 5), true},  // only the range counts
      {"ascii(5,10)", "f", "abc", false},             // no data at the offset
      {"printable(0,1024)", "f", "caf\xe9", true},
      {"printable(0,1024)", "f", "", false},
      {"printable(0,1024)", "f", Bytes("a\x01", 2), false},
      {"istring(0,\"%pdf\")", "f", "%PDF-1.4", true},
      {"istring(0,\"%pdf\")", "f", "%PD", false},
      {"short(0,474)", "f", "\x01\xDA\x00\x01", true},
      {"short(0,474)", "f", "\xDA\x01", false},
      {"short(0,474)", "f", "\x01", false},
      {"int(0,0x59a66a95)", "f", "\x59\xA6\x6A\x95", true},
      {"int(0,0x59a66a95)", "f", "\x59\xA6\x6A", false},
      // contains: every start position where the bytes fit in the region.
      {"contains(0,4,abcd)", "f", "abcd", true},
      {"contains(0,3,abcd)", "f", "abcd", false},
      {"contains(0,100,abcd)", "f", "abc", false},
      {"contains(1,10,cd)", "f", "abcd", true},
      {"contains(2,10,ab)", "f", "abcd", false},
      {"contains(0,8192,XYZ)", "f", big, true},
      {"contains(0,8192,XYZ)", "f", late, false},
      {"string(8189,XYZ)", "f", big, true},
      // Operators: "+" binds tighter than ",", side by side takes the last one.
      {"string(0,A)+string(1,B)", "f", "AB", true},
      {"string(0,A)+string(1,C)", "f", "AB", false},
      {"string(0,X),string(0,A)", "f", "AB", true},
      {"string(0,X) string(0,A)", "f", "AB", true},
      {"!string(0,X)", "f", "AB", true},
      {"!string(0,A)", "f", "AB", false},
      {"!string(0,A) string(0,A)", "f", "AB", true},
      {"!(string(0,A) string(0,X))", "f", "AB", false},
      {"!(string(0,A)+string(1,B))", "f", "AB", false},
      {"string(0,A) string(0,X)+string(1,C)", "f", "AB", true},
      {"string(0,X) string(0,A)+string(1,C)", "f", "AB", false},
      {"string(0,X)+string(1,B),string(0,A)", "f", "AB", true},
      {"string(0,A)+string(1,B) string(0,Z)", "f", "AB", false},
      {"string(0,A)+string(1,B),string(0,Z)", "f", "AB", true},
      {"(string(0,X),string(0,A))+string(1,B)", "f", "AB", true},
      {"(string(0,X),string(0,A))+string(1,C)", "f", "AB", false},
      {"string(0,A)+(string(1,X) string(1,B))", "f", "AB", true},
      {"string(0,A)+!(string(1,X) string(1,B))", "f", "AB", false},
      {"((string(0,A)))", "f", "AB", true},
      // Rules before a syntax error stay; the rest of the line is lost.
      {"string(0,A) bogus(1)", "f", "AB", true},
      {"string(0,X) bogus(1) string(0,A)", "f", "AB", false},
      // An empty group left by an error must not match everything.
      {"!()", "f", "AB", false},
      {"!(bogus(1)", "f", "AB", false},
      {"string(0,X)+!(", "f", "AB", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.rule) + " on " + c.name);
    auto o = WithRule(c.rule);
    EXPECT_EQ(Matches(*o, c.name, c.content), c.match);
  }
}

TEST_F(TypesTest, SeveralLinesAreAlternatives) {
  auto o = WithRule("string(0,X)");
  ASSERT_EQ(AddTypeRule(o->t, "string(0,Y)+string(1,Z)"), 0);
  ASSERT_EQ(AddTypeRule(o->t, "!string(0,A)+string(1,B)"), 0);
  EXPECT_TRUE(Matches(*o, "f", "X"));
  EXPECT_TRUE(Matches(*o, "f", "YZ"));
  EXPECT_FALSE(Matches(*o, "f", "Y"));
  EXPECT_TRUE(Matches(*o, "f", "QB"));
  EXPECT_FALSE(Matches(*o, "f", "AB"));
}

TEST_F(TypesTest, PatternMatching) {
  const struct {
    const char* name;
    const char* pattern;
    int match;
  } cases[] = {
      {"a.pdf", "*.pdf", 1}, {".pdf", "*.pdf", 1},  {"a.pdf.gz", "*.pdf", 0},
      {"abc", "abc*", 0},    {"abcd", "abc*", 1},   {"ab", "abc*", 0},
      {"abc", "a?c", 1},     {"ac", "a?c", 0},      {"abc", "[xa]bc", 1},
      {"bbc", "[xa]bc", 0},  {"*x", "\\*x", 1},     {"ax", "\\*x", 0},
      {"a[b", "a[b", 1},     {"", "*", 0},          {"", "", 1},
      {"a", "", 0},          {"aXbXc", "a*b*c", 1}, {"aXbXd", "a*b*c", 0},
      {"x.C", "*.[ch]", 0},  {"x.h", "*.[ch]", 1},  {"a\\", "a\\", 1},
      // A "*" left when the name has ended matches nothing; inside the
      // pattern one still matches an empty run.
      {"a.", "a.*", 0},      {"ab", "a*b", 1},      {"abx", "a*b*", 1},
      {"ab", "a*b*", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " ~ " + c.pattern);
    EXPECT_EQ(MatchTypePattern(c.name, c.pattern), c.match);
  }
  // Many stars against a long name that almost matches stay linear.
  EXPECT_EQ(MatchTypePattern(std::string(255, 'a'), "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b"), 0);
}

TEST_F(TypesTest, LocaleRule) {
  std::optional<std::string> saved;
  if (const char* v = getenv("LC_ALL")) saved = v;
  auto o = WithRule("locale(de_DE)");
  setenv("LC_ALL", "de_DE", 1);
  EXPECT_TRUE(Matches(*o, "f", "x"));
  setenv("LC_ALL", "de_DE.UTF-8", 1);
  EXPECT_FALSE(Matches(*o, "f", "x"));
  if (saved)
    setenv("LC_ALL", saved->c_str(), 1);
  else
    unsetenv("LC_ALL");
}

// Rules far into a file move the window, forwards and back, also in a
// compressed file.
TEST_F(TypesTest, RulesReadAcrossTheWindow) {
  Bytes data(20000, '.');
  data.replace(0, 4, "HEAD");
  data.replace(15000, 4, "MARK");
  auto o = WithRule("string(15000,MARK)+string(0,HEAD)+contains(14000,2000,MARK)");
  ASSERT_EQ(o->status, 0);
  for (bool gz : {false, true}) {
    SCOPED_TRACE(gz ? "gzip" : "plain");
    int compressed = -1;
    std::string path = Write("far", gz ? Gzip(data) : data);
    EXPECT_EQ(DetectFileType(&o->db, path.c_str(), &compressed), o->t);
    EXPECT_EQ(compressed, gz ? 1 : 0);
  }
  auto past = WithRule("string(20000,M)");
  EXPECT_FALSE(Matches(*past, "f", data));
  EXPECT_FALSE(Matches(*past, "f.gz", Gzip(data)));
}

TEST_F(TypesTest, UnreadableFilesHaveNoType) {
  auto o = WithRule("match(*)");
  int compressed = -1;
  EXPECT_EQ(DetectFileType(&o->db, (dir_ + "/missing").c_str(), &compressed), nullptr);
  EXPECT_EQ(compressed, 0);
  EXPECT_EQ(DetectFileType(&o->db, dir_.c_str(), &compressed), nullptr);
  EXPECT_EQ(DetectFileType(nullptr, dir_.c_str(), &compressed), nullptr);
  EXPECT_TRUE(Matches(*o, "f", ""));
}

// ---- The type table ----

TEST_F(TypesTest, AddTypeLimitsAndCase) {
  TypeDatabase db;
  const struct {
    std::string super, type;
    bool ok;
  } cases[] = {
      {Bytes(15, 's'), "t", true},
      {Bytes(16, 's'), "t", false},
      {"s", Bytes(255, 't'), true},
      {"s", Bytes(256, 't'), false},
      {"", "t", false},
      {"s", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.super.size() * 1000 + c.type.size());
    EXPECT_EQ(AddType(&db, c.super, c.type) != nullptr, c.ok);
  }
  TypeRecord* t = AddType(&db, "Text", "Plain");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(Name(t), "text/plain");
  ASSERT_EQ(AddTypeRule(t, "txt"), 0);
  EXPECT_EQ(AddType(&db, "TEXT", "plain"), t);  // the existing type, unchanged
  EXPECT_NE(t->rules, nullptr);
  EXPECT_EQ(FindType(&db, "tExT", "PLAIN"), t);
  EXPECT_EQ(FindType(&db, "text", "plai"), nullptr);
  EXPECT_EQ(FindType(&db, "text", "plainer"), nullptr);
}

// The one reading of "super/type" that document-format, printer filter lines
// and the .types and .convs files share: the database's limits, nothing cut.
TEST_F(TypesTest, TypeNamesParseWithTheDatabaseLimits) {
  const std::string long_type = "vnd.vorn-test.a-type-name-well-past-thirty-one-characters";
  const struct {
    std::string text;
    const char* super;  // nullptr: refused
    std::string type;
  } cases[] = {
      {"text/plain", "text", "plain"},
      {"text/plain;charset=utf-8", "text", "plain"},
      {"  text/plain ; charset=utf-8", "text", "plain"},
      {"application/" + long_type, "application", long_type},
      {Bytes(15, 's') + "/t", "sssssssssssssss", "t"},
      {"s/" + Bytes(255, 't'), "s", Bytes(255, 't')},
      {"*/*", "*", "*"},
      {"a/b/c", "a", "b/c"},
      {Bytes(16, 's') + "/t", nullptr, ""},
      {"s/" + Bytes(256, 't'), nullptr, ""},
      {"textplain", nullptr, ""},
      {"/plain", nullptr, ""},
      {"text/", nullptr, ""},
      {"text/;plain", nullptr, ""},
      {"", nullptr, ""},
      {"text /plain", nullptr, ""},
      {"text/pl ain", nullptr, ""},
      {std::string("text/pl\x01in"), nullptr, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    TypeName name{"unchanged", "unchanged"};
    EXPECT_EQ(ParseTypeName(c.text, &name), c.super ? 1 : 0);
    if (c.super) {
      EXPECT_EQ(name.super, c.super);
      EXPECT_EQ(name.type, c.type);
    } else {
      EXPECT_EQ(name.super, "unchanged");
    }
  }
  EXPECT_EQ(ParseTypeName("text/plain", nullptr), 0);

  // The same long name through a .types file, a .convs line and a lookup.
  TypeDatabase db;
  std::string types = Write("long.types", "application/" + long_type + " string(0,LONG)\ntext/plain txt\n");
  ASSERT_EQ(LoadTypesFile(&db, types.c_str()), 1);
  TypeRecord* t = FindType(&db, "application", long_type);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(Name(DetectFileType(&db, Write("f", "LONG data").c_str(), nullptr)), "application/" + long_type);
  std::string convs = Write("long.convs", "application/" + long_type + " text/plain 10 -\n");
  ASSERT_EQ(LoadConvsFile(&db, convs.c_str(), ""), 1);
  ASSERT_EQ(db.filters.size(), 1u);
  EXPECT_EQ(db.filters[0].src, t);
}

TEST_F(TypesTest, TypesStaySortedAndTheFirstMatchWins) {
  TypeDatabase db;
  for (const char* n :
       {"text/zz", "image/b", "application/zz", "Image/A", "text/a", "application/b"}) {
    std::string s = n;
    TypeRecord* t = AddType(&db, s.substr(0, s.find('/')), s.substr(s.find('/') + 1));
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(AddTypeRule(t, "string(0,A)"), 0);
  }
  std::vector<std::string> order;
  for (const auto& t : db.types) order.push_back(Name(t.get()));
  EXPECT_EQ(order, (std::vector<std::string>{"application/b", "application/zz", "image/a",
                                             "image/b", "text/a", "text/zz"}));
  EXPECT_EQ(Name(DetectFileType(&db, Write("f", "A").c_str(), nullptr)), "application/b");
}

// ---- The .types reader and the directory ----

TEST_F(TypesTest, TypesFileReader) {
  Bytes file =
      "# a comment line\n"
      "\n"
      "test/a string(0,AA)\r\n"
      "test/b string(0,\\\n"
      "BB)\n"
      "test/c string(0,CC)\rtest/d string(0,DD)\n"
      "test/j string(0,\\\r\n"
      "JJ)\r\n"
      "no-slash here\n"
      "test/e bogus(1)\n"
      "test/f string(0,FF)\n"
      "test/f string(0,GG)\n" +
      Bytes(16, 's') + "/g string(0,HH)\n" + "test/" + Bytes(256, 'h') + " string(0,HH)\n" +
      "test/long string(0,LL) " + Bytes(70000, ' ') + "\n" + "test/i string(0,II)";
  std::string path = Write("t.types", file);
  TypeDatabase db;
  ASSERT_EQ(LoadTypesFile(&db, path.c_str()), 1);
  std::vector<std::string> names;
  for (const auto& t : db.types) names.push_back(Name(t.get()));
  EXPECT_EQ(names, (std::vector<std::string>{"test/a", "test/b", "test/c", "test/d", "test/e",
                                             "test/f", "test/i", "test/j"}));
  const struct {
    Bytes content;
    const char* type;
  } cases[] = {
      {"AA", "test/a"}, {"BB", "test/b"}, {"CC", "test/c"}, {"DD", "test/d"}, {"FF", "test/f"},
      {"GG", "test/f"}, {"II", "test/i"}, {"JJ", "test/j"}, {"LL", "(none)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    EXPECT_EQ(Name(DetectFileType(&db, Write("f", c.content).c_str(), nullptr)), c.type);
  }
  EXPECT_EQ(LoadTypesFile(&db, (dir_ + "/missing.types").c_str()), 0);
}

TEST_F(TypesTest, LoadTypeDatabaseReadsQualifyingFiles) {
  fs::create_directory(dir_ + "/root");
  Write("root/a.types", "test/a string(0,A)\n");
  Write("root/b.types", Gzip("test/b string(0,B)\n"));  // read uncompressed
  Write("root/.types", "test/c string(0,C)\n");         // no name before the suffix
  Write("root/d.types.bak", "test/d string(0,D)\n");
  Write("root/e.convs", "test/a test/b 10 -\n");
  Write("root/x.convs", "test/a test/c 10 -\n");  // test/c is unknown
  std::unique_ptr<TypeDatabase> db = LoadTypeDatabase((dir_ + "/root").c_str(), dir_.c_str());
  ASSERT_TRUE(db);
  std::vector<std::string> names;
  for (const auto& t : db->types) names.push_back(Name(t.get()));
  EXPECT_EQ(names, (std::vector<std::string>{"test/a", "test/b"}));
  ASSERT_EQ(db->filters.size(), 1u);
  EXPECT_EQ(Name(db->filters[0].src) + " " + Name(db->filters[0].dst), "test/a test/b");

  EXPECT_EQ(LoadTypeDatabase((dir_ + "/missing").c_str(), dir_.c_str()), nullptr);
  TypeDatabase existing;
  EXPECT_EQ(LoadTypeDatabase(&existing, (dir_ + "/missing").c_str(), dir_.c_str()), 0);
  EXPECT_EQ(LoadTypeDatabase(&existing, (dir_ + "/root").c_str(), dir_.c_str()), 1);
  EXPECT_EQ(existing.types.size(), 2u);
  FreeTypeDatabase(std::move(db));
}

}  // namespace
