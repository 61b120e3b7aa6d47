// The character-cell grid: its size from the page and the options, where
// each character lands, wrapping, tabs, line and form feeds, overstriking
// and half-line movements.
#include <gtest/gtest.h>

#include <string>

#include "textconv_fixture.h"

namespace {

using namespace textconv_test;

TEST(TextconvLayout, GridFromPageAndOptions) {
  const std::string demo = filter_test::DemoPpd();
  const struct {
    const char* what;
    std::string options, ppd;
    const char* classification;
    int chars, lines, columns, column_chars, gutter;
  } cases[] = {
      {"defaults, no PPD: 8 by 10 inches", "", "", nullptr, 80, 60, 1, 80, 0},
      {"two columns: gutter of half the pitch", "columns=2", "", nullptr, 80, 60, 2, 37, 5},
      {"three columns at 12 cpi", "columns=3 cpi=12", "", nullptr, 96, 60, 3, 28, 6},
      {"pitch and line spacing", "cpi=17 lpi=8", "", nullptr, 136, 80, 1, 136, 0},
      {"A4 from the PPD", "media=A4", demo, nullptr, 77, 64, 1, 77, 0},
      {"landscape turns the area", "landscape", "", nullptr, 100, 48, 1, 100, 0},
      {"a classification leaves room for its banners", "", "", "secret", 80, 54, 1, 80, 0},
      {"a page label too", "page-label=Draft", "", nullptr, 80, 54, 1, 80, 0},
      {"page margins as options", "page-left=72 page-right=72 page-top=72 page-bottom=72", "", nullptr, 65,
       54, 1, 65, 0},
      {"pretty-print: wider left margin, 12 cpi, 8 lpi, three lines of header",
       "prettyprint", "", nullptr, 84, 77, 1, 84, 0},
      {"pretty-print with the PPD's margins", "prettyprint", demo, nullptr, 96, 77, 1, 96, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Call call;
    call.text = "x\n";
    call.options = c.options;
    call.ppd = c.ppd;
    call.classification = c.classification;
    Result r = RunText(call);
    ASSERT_EQ(r.rc, 0) << r.status;
    EXPECT_EQ(r.job.CharsPerLine, c.chars);
    EXPECT_EQ(r.job.LinesPerPage, c.lines);
    EXPECT_EQ(r.job.TextColumns, c.columns);
    EXPECT_EQ(r.job.ColumnChars, c.column_chars);
    EXPECT_EQ(r.job.GutterWidth, c.gutter);
    EXPECT_EQ(r.job.buffer.size(), size_t(c.chars) * size_t(c.lines));
  }
}

TEST(TextconvLayout, WhereCharactersLand) {
  const struct {
    const char* what;
    std::string text, options;
    std::string shown;
  } cases[] = {
      {"first cell: left edge, first baseline", "Hello world", "", "18 745.884 N(Hello world)S"},
      {"second line one line lower", "a\nb", "", "18 745.884 N(a)S\n18 733.884 N(b)S"},
      {"leading spaces move the run", "   x", "", "39.600 745.884 N(x)S"},
      {"tab at 5 goes to 8, at 8 to 16", "abcde\tf\tg", "", "18 745.884 N(abcde)S\n75.600 745.884 N(f)S\n133.200 745.884 N(g)S"},
      {"carriage return overprints: same letter bold", "abc\rabc", "", "18 745.884 B(abc)S"},
      {"backspace overprint bold", "b\bbx", "", "18 745.884 B(b)S\n25.200 745.884 N(x)S"},
      {"underscore then letter underlines", "_\bu", "", "18 745.884 N 7.200 U(u)S"},
      {"letter then underscore underlines and keeps the letter", "u\b_", "", "18 745.884 N 7.200 U(u)S"},
      {"a space over a letter leaves it", "a\b ", "", "18 745.884 N(a)S"},
      {"a different letter replaces", "a\bb", "", "18 745.884 N(b)S"},
      {"reverse line feed", "a\n\x0b" " b", "", "18 745.884 N(ab)S"},
      {"ESC 7 goes up a line", "a\n\x1b" "7 b", "", "18 745.884 N(ab)S"},
      {"ESC 8 raises half a line, ESC 9 back down", "a\x1b" "8b\x1b" "9c", "",
       "18 745.884 N(a)S\n25.200 751.884 N(b)S\n32.400 745.884 N(c)S"},
      {"ESC 9 lowers half a line", "a\x1b" "9b", "", "18 745.884 N(a)S\n25.200 739.884 N(b)S"},
      {"ESC 9 twice is a whole line down", "a\x1b" "9\x1b" "9b", "", "18 745.884 N(a)S\n25.200 733.884 N(b)S"},
      {"unknown escape: the next byte is text", "\x1bZ", "", "18 745.884 N(Z)S"},
      {"PostScript specials quoted", "(a\\b)", "", "18 745.884 N(\\(a\\\\b\\))S"},
      {"other controls ignored", "a\x01\x02" "b", "", "18 745.884 N(ab)S"},
      {"second text column starts after the gutter", std::string(60, '\n') + "z", "columns=2",
       "320.400 745.884 N(z)S"},
      {"wrapping at the column width", std::string(80, 'a') + "bc", "",
       "18 745.884 N(" + std::string(80, 'a') + ")S\n18 733.884 N(bc)S"},
      {"no wrapping: the rest of the line is dropped", std::string(80, 'a') + "bc\nd", "wrap=false",
       "18 745.884 N(" + std::string(80, 'a') + ")S\n18 733.884 N(d)S"},
      {"wrap=no is not true either", std::string(81, 'a'), "wrap=no", "18 745.884 N(" + std::string(80, 'a') + ")S"},
      {"wrap=TRUE wraps", std::string(81, 'a'), "wrap=TRUE",
       "18 745.884 N(" + std::string(80, 'a') + ")S\n18 733.884 N(a)S"},
      {"bytes above 126 without a charset print nothing", "a\xe9" "b", "", "18 745.884 N(a\\000b)S"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Call call;
    call.text = c.text;
    call.options = c.options;
    Result r = RunText(call);
    ASSERT_EQ(r.rc, 0) << r.status;
    EXPECT_EQ(Shown(r.out), c.shown);
  }
}

TEST(TextconvLayout, PageCounts) {
  auto lines = [](int n) {
    std::string s;
    for (int i = 0; i < n; i++) s += "line " + std::to_string(i + 1) + "\n";
    return s;
  };
  const struct {
    const char* what;
    std::string text, options;
    int pages;
  } cases[] = {
      {"empty text, no page", "", "", 0},
      {"one line", "x", "", 1},
      {"sixty lines fill one page", lines(60), "", 1},
      {"the sixty-first starts a second", lines(61), "", 2},
      {"form feed ends a page", "a\fb", "", 2},
      {"a final form feed adds nothing", "a\f", "", 1},
      {"two form feeds: a blank page between", "a\f\fb", "", 3},
      {"two columns hold 120 lines", lines(120), "columns=2", 1},
      {"and a form feed moves to the next column", "a\fb", "columns=2", 1},
      {"wrapping makes lines", std::string(80 * 61, 'x'), "", 2},
      {"without wrapping the same text is one line", std::string(80 * 61, 'x'), "wrap=false", 1},
      {"reverse line feeds stay on the page", lines(59) + "\x0b\x0b\x0b" + "x\n", "", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Call call;
    call.text = c.text;
    call.options = c.options;
    Result r = RunText(call);
    ASSERT_EQ(r.rc, 0) << r.status;
    EXPECT_EQ(r.job.NumPages, c.pages);
    EXPECT_EQ(Count(r.out, "\nshowpage\n"), c.pages);
    EXPECT_NE(r.out.find("%%Pages: " + std::to_string(c.pages) + "\n%%EOF\n"), std::string::npos);
  }
}

// The text of sixty lines, each numbered, lands on its own row: nothing lost
// or doubled at the page break.
TEST(TextconvLayout, EveryLineOnceAcrossPages) {
  std::string text;
  for (int i = 1; i <= 130; i++) text += "L" + std::to_string(i) + "\n";
  Call call;
  call.text = text;
  Result r = RunText(call);
  ASSERT_EQ(r.rc, 0);
  for (int i = 1; i <= 130; i++) EXPECT_EQ(Count(r.out, "N(L" + std::to_string(i) + ")S"), 1) << i;
  EXPECT_EQ(r.job.NumPages, 3);
}

}  // namespace

namespace {

// Two-sided printing: even pages start at the mirror of the right margin,
// so a wide binding margin stays on the binding side.
TEST(TextconvLayout, EvenPagesMirrorTheMarginsWhenTwoSided) {
  const struct {
    const char* options;
    const char* first_x;
    const char* second_x;
  } cases[] = {
      {"page-left=72", "72", "72"},
      {"page-left=72 Duplex=DuplexNoTumble", "72", "18"},
      {"page-left=72 sides=two-sided-long-edge", "72", "18"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    Call call;
    call.text = "a\fb";
    call.options = c.options;
    call.ppd = filter_test::DemoPpd();
    Result r = RunText(call);
    ASSERT_EQ(r.rc, 0) << r.status;
    EXPECT_EQ(Shown(r.out), std::string(c.first_x) + " 745.884 N(a)S|" + c.second_x + " 745.884 N(b)S");
  }
}

}  // namespace
