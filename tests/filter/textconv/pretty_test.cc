// Pretty-printing: keywords bold, comments italic green, strings blue,
// preprocessor lines bold red, by the language of the document's type, and
// the header bar on every page.
#include <gtest/gtest.h>

#include <string>

#include "textconv_fixture.h"

namespace {

using namespace textconv_test;

TEST(TextconvPretty, LanguagesAndTheirMarks) {
  const char* const c_source =
      "#include <stdio.h>\n"
      "int main(void) {\n"
      "  /* note */ if (x) return \"s\\\"t\"; // tail if\n"
      "  x = a/b; /*/ still */ y;\n"
      "}\n";
  const struct {
    const char* what;
    const char* type;
    std::string text;
    std::string shown;
  } cases[] = {
      {"C: directive bold red to the first space, keywords, braces, comments, strings", nullptr, c_source,
                "72 721.413 B(#include)r\n126 721.413 N(<stdio.h>)r\n"
                "72 712.413 B(int)S\n96 712.413 N(main\\()S\n126 712.413 B(void)S\n150 712.413 N(\\) )S\n"
                "162 712.413 B({)S\n"
                "84 703.413 I(/* note */)g\n150 703.413 B(if)S\n168 703.413 N(\\(x\\) )S\n192 703.413 B(return)S\n"
                "234 703.413 N(\"s\\\\\"t\")b\n270 703.413 N(; )S\n282 703.413 I(// tail if)g\n"
                "84 694.413 N(x = a/b; )S\n138 694.413 I(/*/ still */)g\n216 694.413 N(y;)S\n"
                "72 685.413 B(})S"},
      {"a keyword inside a word is not one", nullptr, "iffy(); format;\n", "72 721.413 N(iffy\\(\\); format;)S"},
      {"keywords end at tabs and line ends; words inside comments are not looked at", nullptr,
       "int\tx\nreturn\n/* if\tx */\n",
       "72 721.413 B(int)S\n120 721.413 N(x)S\n72 712.413 B(return)S\n72 703.413 I(/* if)g\n120 703.413 I(x */)g"},
      {"a block comment runs over lines", nullptr, "/* a\nb */ c\n",
       "72 721.413 I(/* a)g\n72 712.413 I(b */)g\n102 712.413 N(c)S"},
      {"a line comment ends with its line", nullptr, "a // b\nc\n",
       "72 721.413 N(a )S\n84 721.413 I(// b)g\n72 712.413 N(c)S"},
      {"a # after column 0 is not a directive in C", nullptr, " #x\n", "78 721.413 N(#x)S"},
      {"shell: # starts a comment, sh keywords", "application/x-shell",
       "if [ -x ] then # if comment\n  echo \"hi\"\nfi\n",
       "72 721.413 B(if)S\n90 721.413 N([ -x ] )S\n132 721.413 B(then)S\n162 721.413 I(# if comment)g\n"
       "84 712.413 B(echo)S\n114 712.413 N(\"hi\")b\n72 703.413 B(fi)S"},
      {"shell has no block comments; while is not an sh keyword", "application/x-shell", "/* while\n",
       "72 721.413 N(/* while)S"},
      {"csh keywords", "application/x-cshell", "foreach f (x)\nend\n",
       "72 721.413 B(foreach)S\n120 721.413 N(f \\(x\\))S\n72 712.413 B(end)S"},
      {"perl keywords and comments", "application/x-perl", "my $x = shift; # my\n",
       "72 721.413 B(my)S\n90 721.413 N($x = )S\n120 721.413 B(shift)S\n150 721.413 N(; )S\n162 721.413 I(# my)g"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Call call;
    call.text = c.text;
    call.options = "prettyprint";
    call.content_type = c.type;
    Result r = RunText(call);
    ASSERT_EQ(r.rc, 0) << r.status;
    std::string shown = Shown(r.out);
    ASSERT_TRUE(shown.starts_with("1 H\n")) << shown;
    shown = shown.substr(4);
    EXPECT_EQ(shown, c.shown);
  }
}

TEST(TextconvPretty, HeaderBarOnEveryPage) {
  std::string text;
  for (int i = 0; i < 100; i++) text += "x\n";
  Call call;
  call.text = text;
  call.options = "prettyprint";
  call.title = "main (v2).c";
  Result r = RunText(call);
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.job.NumPages, 2);
  EXPECT_NE(r.out.find("%%Page: 1 1\ngsave\n1 H\n"), std::string::npos);
  EXPECT_NE(r.out.find("%%Page: 2 2\ngsave\n2 H\n"), std::string::npos);
  EXPECT_NE(r.out.find("/T (main \\(v2\\).c) def\n"), std::string::npos);
  EXPECT_NE(r.out.find("/D (Thu 01 Jan 2026 12:00:00) def\n"), std::string::npos);
  // The bar spans the text width, three lines above the text.
  EXPECT_NE(r.out.find("\t72.000 738.000 translate\n\t0 0 504.000 18.000 rectfill\n"), std::string::npos);
  // Without pretty-printing there is no header call.
  call.options = "";
  r = RunText(call);
  EXPECT_EQ(r.out.find(" H\n"), std::string::npos);
  EXPECT_EQ(r.out.find("/FI "), std::string::npos);
}

TEST(TextconvPretty, GreyOnAPrinterWithoutColour) {
  Call call;
  call.text = "\"s\"\n";
  call.options = "prettyprint";
  call.ppd = filter_test::DemoPpd();  // *ColorDevice: False
  Result r = RunText(call);
  ASSERT_EQ(r.rc, 0);
  EXPECT_NE(r.out.find("/b { 0.2 setgray show } bind def\n"), std::string::npos);
  EXPECT_EQ(r.out.find("setrgbcolor"), std::string::npos);
  call.ppd = "";
  r = RunText(call);
  EXPECT_NE(r.out.find("/b { 0.0 0.0 0.5 setrgbcolor show } bind def\n"), std::string::npos);
}

TEST(TextconvPretty, KeywordListsAreSortedAndComplete) {
  const struct {
    int mode;
    bool csh;
    size_t count;
    const char* in;
    const char* out;
  } cases[] = {
      {1, false, 69, "xor_eq", "include"}, {2, false, 52, "whencewhile", "while"},
      {2, true, 65, "breaksw", "fi"},      {3, false, 210, "timestimes", "times"},
  };
  for (const auto& c : cases) {
    keyword_list_t list = keywords_for(c.mode, c.csh);
    EXPECT_EQ(list.count, c.count);
    for (size_t i = 1; i < list.count; i++) EXPECT_LT(std::string(list.words[i - 1]), list.words[i]);
    EXPECT_TRUE(is_keyword(list, c.in));
    EXPECT_FALSE(is_keyword(list, c.out));
  }
  EXPECT_EQ(keywords_for(0, false).count, 0u);
}

}  // namespace
