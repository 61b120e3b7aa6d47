// Character sets: the 8-bit sets built from the C library's tables, UTF-8
// with several fonts and right-to-left runs, the charset files' errors, and
// values of CHARSET or numeric options that must not hurt.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "textconv_fixture.h"

namespace {

using namespace textconv_test;

// The encoding vector of font f as written, one name per position.
std::vector<std::string> Encoding(const std::string& out, int f) {
  char head[32];
  std::snprintf(head, sizeof(head), "/vornEncoding%02x [\n", f);
  std::vector<std::string> names;
  size_t at = out.find(head);
  if (at == std::string::npos) return names;
  at += std::strlen(head);
  size_t end = out.find("] def", at);
  std::string body = out.substr(at, end - at);
  size_t i = 0;
  while ((i = body.find('/', i)) != std::string::npos) {
    size_t j = body.find_first_of(" \n", i);
    names.push_back(body.substr(i + 1, j - i - 1));
    i = j;
  }
  return names;
}

TEST(TextconvCharset, EightBitSets) {
  const struct {
    const char* charset;
    std::string text;
    std::string shown;
    int position;
    const char* glyph;  // at that position of the encoding
  } cases[] = {
      {"iso-8859-1", "caf\xe9 \xa9", "18 745.884 N(caf\\351 \\251)S", 0xe9, "eacute"},
      {"iso-8859-15", "\xa4", "18 745.884 N(\\244)S", 0xa4, "Euro"},
      {"iso-8859-7", "\xe1\xe2", "18 745.884 N(\\341\\342)S", 0xe1, "alpha"},
      {"iso-8859-5", "\xb0", "18 745.884 N(\\260)S", 0xb0, "afii10017"},
      {"koi8-r", "\xe1", "18 745.884 N(\\341)S", 0xe1, "afii10017"},
      {"windows-1252", "\x80", "18 745.884 N(\\200)S", 0x80, "Euro"},
      {"iso-8859-2", "\xa3", "18 745.884 N(\\243)S", 0xa3, "Lslash"},
      {"us-ascii", "a\xe9", "18 745.884 N(a\\000)S", 0xe9, ".notdef"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.charset);
    Call call;
    call.text = c.text;
    call.charset = c.charset;
    Result r = RunText(call);
    ASSERT_EQ(r.rc, 0) << r.status;
    EXPECT_EQ(Shown(r.out), c.shown);
    std::vector<std::string> enc = Encoding(r.out, 0);
    ASSERT_EQ(enc.size(), 256u);
    EXPECT_EQ(enc[size_t(c.position)], c.glyph);
    EXPECT_EQ(enc['A'], "A");
    EXPECT_EQ(r.out.find("/vornEncoding01"), std::string::npos);
  }
}

TEST(TextconvCharset, Utf8WithSeveralFonts) {
  const struct {
    const char* what;
    std::string text;
    std::string shown;
  } cases[] = {
      {"Latin in font 0, a Courier run", "caf\xc3\xa9", "18 745.884 N<00630061006600e9>S"},
      {"Greek in font 2", "\xce\xb1\xce\xb2", "18 745.884 N<02b102b2>S"},
      {"Cyrillic in font 3", "\xd0\x96!", "18 745.884 N<0316>S\n25.200 745.884 N<0021>S"},
      {"Hebrew right to left: the first letter in the last cell", "\xd7\x90\xd7\x91 \xd7\x92",
       "39.600 745.884 N<0440>S\n32.400 745.884 N<0441>S\n18 745.884 N<0442>S"},
      {"spaces and punctuation inside a right-to-left run are mirrored with it", "\xd7\x90 \xd7\x91",
       "32.400 745.884 N<0440>S\n18 745.884 N<0441>S"},
      {"but not those after its last letter", "\xd7\x90\xd7\x91. x",
       "25.200 745.884 N<0440>S\n18 745.884 N<0441>S\n32.400 745.884 N<002e00200078>S"},
      {"a three-byte code: the euro sign", "\xe2\x82\xac", "18 745.884 N<05ac>S"},
      {"a four-byte sequence ends the text", "a\xf0\x9f\x98\x80" "b", "18 745.884 N<0061>S"},
      {"a cut sequence ends the text", "a\xc3", "18 745.884 N<0061>S"},
      {"a stray continuation byte is a code of its own", "\x80" "a", "18 745.884 N<00800061>S"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Call call;
    call.text = c.text;
    call.charset = "utf-8";
    Result r = RunText(call);
    ASSERT_EQ(r.rc, 0) << r.status;
    EXPECT_EQ(Shown(r.out), c.shown);
  }
  Call call;
  call.text = "x";
  call.charset = "utf-8";
  Result r = RunText(call);
  // Composite fonts over the reencoded base fonts.
  EXPECT_NE(r.out.find("/FontType 0 def/FontMatrix[1.0 0 0 1.0 0 0]def/FMapType 2 def/Encoding[\n0 1 2 3 4 5 6 7 8 ]def"),
            std::string::npos);
  EXPECT_EQ(Encoding(r.out, 2)[0xb1], "alpha");
  EXPECT_EQ(Encoding(r.out, 3)[0x10], "afii10017");  // А
  EXPECT_EQ(Encoding(r.out, 3)[0x16], "afii10024");  // Ж: the names skip Ё's number
  EXPECT_EQ(Encoding(r.out, 3)[0x4f], "afii10097");  // я
  EXPECT_EQ(Encoding(r.out, 3)[0x51], "afii10071");  // ё
  EXPECT_EQ(Encoding(r.out, 4)[0x40], "afii57664");
  EXPECT_EQ(Encoding(r.out, 6)[0x00], "uni2100");  // no name: uniXXXX
  // Page numbers in the header become (font 0, digit) pairs.
  EXPECT_NE(r.out.find("dup 2 mul string /P exch def"), std::string::npos);
}

class CharsetFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/vorn-textconv-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
    std::filesystem::create_directories(dir_ + "/data");
    std::filesystem::create_directories(dir_ + "/charsets");
    std::filesystem::copy_file(std::string(TEXTCONV_DATA) + "/data/psglyphs", dir_ + "/data/psglyphs");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void Write(const std::string& name, const std::string& body) {
    std::ofstream(dir_ + "/charsets/" + name, std::ios::binary) << body;
  }
  std::string dir_;
};

TEST_F(CharsetFiles, ErrorsEndTheJobBeforeAnyOutput) {
  const struct {
    const char* name;
    std::string body;
    std::string error;
  } cases[] = {
      {"missing", "", "ERROR: Unable to open " + dir_ + "/charsets/nosuch: No such file or directory\n"},
      {"empty", "", "ERROR: Bad/empty charset file " + dir_ + "/charsets/empty\n"},
      {"notcharset", "font 8bit\n", "ERROR: Bad charset file " + dir_ + "/charsets/notcharset\n"},
      {"badtype", "charset 7bit\n", "ERROR: Bad charset type 7bit\n"},
      {"shortline", "charset utf8\n0000 00ff ltor single\n", "ERROR: bad font description line: 0000 00ff ltor single\n"},
      {"direction", "charset utf8\n0000 00ff up single Courier\n", "ERROR: Bad text direction up\n"},
      {"width", "charset utf8\n0000 00ff ltor triple Courier\n", "ERROR: Bad text width triple\n"},
      {"nofonts", "charset utf8\n# nothing\n", "ERROR: Bad/empty charset file " + dir_ + "/charsets/nofonts\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (std::string(c.name) != "missing") Write(c.name, c.body);
    Call call;
    call.text = "x";
    call.charset = std::string(c.name) == "missing" ? "nosuch" : c.name;
    call.datadir = dir_;
    Result r = RunText(call);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.status.substr(r.status.find("ERROR:")), c.error);
    EXPECT_EQ(r.out, "");
  }
  // Without the glyph names nothing can be encoded.
  std::filesystem::remove(dir_ + "/data/psglyphs");
  Call call;
  call.text = "x";
  call.datadir = dir_;
  Result r = RunText(call);
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.status.find("ERROR: Unable to open \"" + dir_ + "/data/psglyphs\" - No such file or directory\n"),
            std::string::npos);
}

TEST_F(CharsetFiles, FontLinesAndPairs) {
  // Missing style names repeat the first; a range of more than 256 codes
  // is cut at 256; an 8-bit pair maps a byte to the glyph of a Unicode value.
  Write("mine", "charset 8bit\n# comment\n\n00 ff ltor single Courier Courier-Bold\n41 e9\n");
  Write("wide", "charset utf8\n0000 0fff ltor double Courier\n");
  Call call;
  call.text = "A";
  call.charset = "mine";
  call.datadir = dir_;
  Result r = RunText(call);
  ASSERT_EQ(r.rc, 0) << r.status;
  ASSERT_EQ(r.job.cs.fonts.size(), 1u);
  EXPECT_EQ(r.job.cs.fonts[0].names[1], "Courier-Bold");
  EXPECT_EQ(r.job.cs.fonts[0].names[2], "Courier");
  EXPECT_EQ(r.job.cs.fonts[0].names[3], "Courier");
  EXPECT_EQ(Encoding(r.out, 0)['A'], "eacute");
  EXPECT_EQ(Encoding(r.out, 0)['B'], ".notdef");

  call.charset = "wide";
  call.text = "\xc4\x80";  // U+0100, beyond the cut
  r = RunText(call);
  ASSERT_EQ(r.rc, 0) << r.status;
  EXPECT_EQ(r.job.cs.fonts[0].width, 2);
  EXPECT_EQ(r.job.cs.chars[0xff], 0xff);
  EXPECT_EQ(r.job.cs.chars[0x100], 0);
  EXPECT_NE(r.status.find("cut to 256 codes"), std::string::npos);
}

// CHARSET comes from the document format a client sent; only a plain name
// may reach the file system. Everything else prints with the built-in set.
TEST(TextconvCharset, HostileCharsetValues) {
  const std::string long_name(200, 'a');
  const char* const values[] = {
      "../../../../etc/passwd", "../charsets/utf-8", "/etc/passwd", "utf-8/", "utf-8\n",
      "utf 8",                  "..",                ".",           "iso-8859-1;rm", long_name.c_str(),
      "",
  };
  for (const char* v : values) {
    SCOPED_TRACE(v);
    Call call;
    call.text = "caf\xc3\xa9\n";
    call.charset = v;
    Result r = RunText(call);
    EXPECT_EQ(r.rc, 0) << r.status;
    EXPECT_EQ(r.job.cs.fonts.size(), 1u);
    EXPECT_EQ(r.job.cs.fonts[0].names[0], "Courier");
    EXPECT_EQ(Shown(r.out), "18 745.884 N(caf\\000\\000)S");
    EXPECT_TRUE(r.out.ends_with("%%EOF\n"));
  }
  EXPECT_TRUE(charset_name_is_safe("iso-8859-1"));
  EXPECT_TRUE(charset_name_is_safe("windows_1252"));
  EXPECT_FALSE(charset_name_is_safe("a.b"));
}

// No value of the numeric options or margins divides by zero or sizes a
// buffer beyond reason; each run ends with a whole document.
TEST(TextconvCharset, OutOfRangeOptions) {
  const struct {
    const char* options;
    int chars, lines, columns;
  } cases[] = {
      {"cpi=0", 80, 60, 1},
      {"cpi=-10", 80, 60, 1},
      {"cpi=1e30", 80, 60, 1},
      {"cpi=nan", 80, 60, 1},
      {"cpi=inf", 80, 60, 1},
      {"cpi=abc", 80, 60, 1},
      {"lpi=0", 80, 60, 1},
      {"lpi=0.0001", 80, 60, 1},
      {"lpi=-1", 80, 60, 1},
      {"columns=0", 80, 60, 1},
      {"columns=-3", 80, 60, 1},
      {"columns=100000", 80, 60, 1},
      {"columns=99999999999999999999", 80, 60, 1},
      {"cpi=100 lpi=100", 800, 1000, 1},
      {"cpi=1 lpi=1", 8, 10, 1},
      {"cpi=1 columns=16", 8, 60, 1},
      {"columns=16", 80, 60, 1},  // gutters of 5 leave no room
      {"columns=16 cpi=100", 800, 60, 16},
      {"page-left=10000", 80, 60, 1},
      {"page-left=600 page-right=600", 80, 60, 1},
      {"page-top=-100000", 80, 60, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    Call call;
    call.text = std::string(3000, 'x') + "\n\t\tend\n";
    call.options = c.options;
    Result r = RunText(call);
    EXPECT_EQ(r.rc, 0) << r.status;
    EXPECT_EQ(r.job.CharsPerLine, c.chars);
    EXPECT_EQ(r.job.LinesPerPage, c.lines);
    EXPECT_EQ(r.job.TextColumns, c.columns);
    EXPECT_GE(r.job.ColumnChars, 1);
    EXPECT_LE(r.job.ColumnChars * r.job.TextColumns + r.job.GutterWidth * (r.job.TextColumns - 1), r.job.CharsPerLine);
    EXPECT_GE(r.job.NumPages, 1);
    EXPECT_TRUE(r.out.ends_with("%%Pages: " + std::to_string(r.job.NumPages) + "\n%%EOF\n"));
  }
}

}  // namespace

namespace {

// The fonts a document names and those it carries: Courier always (our own
// metrics), fonts the PPD does not list, and without a PPD every font
// beyond the base ones.
TEST_F(CharsetFiles, FontsSuppliedWithTheDocument) {
  Write("mixed",
        "charset utf8\n0000 00ff ltor single Courier Courier-Bold\n0100 01ff ltor single Times-Roman Times-Bold\n"
        "0590 05ff rtol single VornHebrew VornHebrew-Bold\n");
  std::filesystem::create_directories(dir_ + "/fonts");
  for (const char* f : {"Courier", "Courier-Bold", "VornHebrew", "VornHebrew-Bold", "Times-Roman"})
    std::ofstream(dir_ + "/fonts/" + f) << "%font " << f << "\n";
  const struct {
    const char* what;
    std::string ppd;
    std::vector<std::string> supplied;
  } cases[] = {
      {"no PPD: all but the base fonts", "", {"Courier-Bold", "Courier", "VornHebrew-Bold", "VornHebrew"}},
      {"the demo PPD lists Times-Roman and Times-Bold",
       filter_test::DemoPpd(),
       {"Courier-Bold", "Courier", "VornHebrew-Bold", "VornHebrew"}},
      {"a PPD without fonts (and a page size of nothing)",
       filter_test::FixturePpd("zero-size.ppd"),
       {"Courier-Bold", "Courier", "Times-Bold", "Times-Roman", "VornHebrew-Bold", "VornHebrew"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Call call;
    call.text = "x";
    call.charset = "mixed";
    call.datadir = dir_;
    call.ppd = c.ppd;
    Result r = RunText(call);
    ASSERT_EQ(r.rc, 0) << r.status;
    std::string expected = "%%DocumentSuppliedResources: procset textconv 1.1 0\n";
    for (const std::string& f : c.supplied) expected += "%%+ font " + f + "\n";
    expected += "%%EndComments\n";
    EXPECT_NE(r.out.find(expected), std::string::npos) << r.out.substr(0, 800);
    for (const std::string& f : c.supplied) {
      // The file's bytes inside the resource; a missing file leaves it empty.
      const std::string body = std::string(f) == "Times-Bold" ? "" : "%font " + f + "\n";
      EXPECT_NE(r.out.find("%%BeginResource: font " + f + "\n" + body + "\n%%EndResource\n"), std::string::npos) << f;
    }
  }
}

}  // namespace

namespace {

// A Hebrew code page: two fonts, the letters right to left in the second.
TEST(TextconvCharset, HebrewCodePage) {
  for (const char* cs : {"iso-8859-8", "windows-1255"}) {
    SCOPED_TRACE(cs);
    Call call;
    call.text = "\xf9\xec\xe5\xed ok";  // shalom
    call.charset = cs;
    Result r = RunText(call);
    ASSERT_EQ(r.rc, 0) << r.status;
    ASSERT_EQ(r.job.cs.fonts.size(), 2u);
    EXPECT_EQ(r.job.cs.fonts[1].direction, -1);
    EXPECT_EQ(Shown(r.out),
              "39.600 745.884 N<0119>S\n32.400 745.884 N<010c>S\n25.200 745.884 N<0105>S\n18 745.884 N<010d>S\n"
              "54 745.884 N<006f006b>S");
    EXPECT_EQ(Encoding(r.out, 1)[0x19], "afii57689");
    EXPECT_EQ(Encoding(r.out, 0)['o'], "o");
    EXPECT_NE(r.out.find("%%BeginResource: font VornHebrew\n%!PS-TrueTypeFont"), std::string::npos);
  }
}

}  // namespace
