// hpglconv as the scheduler runs it: its command line, its data file, and
// what the commands of a plot write into the document and the status
// stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "hpglconv_fixture.h"

namespace {

using namespace hpglconv_test;

TEST(HpglconvProgram, CommandLineAndDataFileFailures) {
  ScopedEnv datadir("VORN_DATADIR", HPGLCONV_DATA);
  e2e::RunResult few = e2e::RunProgram({HPGLCONV_PATH, "1", "ann", "t", "1"}, 60s);
  EXPECT_EQ(few.exit_status, 1);
  EXPECT_EQ(few.err, "ERROR: hpglconv job-id user title copies options [file]\n");
  EXPECT_TRUE(few.out.empty());

  e2e::RunResult missing = e2e::RunProgram({HPGLCONV_PATH, "1", "ann", "t", "1", "", "/nonexistent/plot.hpgl"}, 60s);
  EXPECT_EQ(missing.exit_status, 1);
  EXPECT_NE(missing.err.find("ERROR: unable to open print file - No such file"), std::string::npos) << missing.err;

  ScopedEnv nodata("VORN_DATADIR", "/nonexistent");
  e2e::RunResult noprolog = e2e::RunProgram({HPGLCONV_PATH, "1", "ann", "t", "1", ""}, 60s, "IN;PD;PA10,10;");
  EXPECT_EQ(noprolog.exit_status, 1);
  EXPECT_NE(noprolog.err.find("ERROR: Unable to open HPGL prolog \"/nonexistent/data/HPGLprolog\" for reading - "),
            std::string::npos)
      << noprolog.err;
}

TEST(HpglconvProgram, PlotWithoutDrawingHasNoPages) {
  for (const char* plot : {"", "IN;SP1;PU;PA100,100;SC0,10,0,10;"}) {
    SCOPED_TRACE(plot);
    Converted c = Convert(plot);
    ASSERT_EQ(c.rc, 0) << c.err;
    EXPECT_EQ(c.out.find("%%Page:"), std::string::npos);
    EXPECT_TRUE(c.out.ends_with("%%Trailer\n%%Pages: 0\n%%EOF\n")) << c.out;
    EXPECT_TRUE(c.out.starts_with("%!PS-Adobe-3.0\n%%BoundingBox: 18 36 594 756\n")) << c.out;
  }
}

TEST(HpglconvProgram, CommandsWriteWhatTheyMean) {
  const struct {
    const char* name;
    std::string plot, options, ppd;
    std::vector<std::string> in_out = {}, not_in_out = {}, in_status = {};
  } cases[] = {
      {"inch line from the printable corner", "IN;SP1;PD;PA1016,0;", "", "",
       {"18.0 36.0 translate\nMP\n0.000 0.000 MO\n72.000 0.000 LI\nST\n", "%%Pages: 1\n"}},
      {"lower-case mnemonics", "in;sp1;pd;pa1016,0;", "", "", {"72.000 0.000 LI\nST\n"}},
      {"unknown mnemonics and their parameters skipped", "IN;ZZ1,2,3;QQ\"x\";SP1;PD;PA1016,0;", "", "",
       {"72.000 0.000 LI\nST\n"}},
      {"ESC E swallows the next capital", "\x1b" "EPD;PA1016,0;", "", "", {"%%Pages: 0\n"}, {"LI\n"}},
      {"device-control escapes skipped", "\x1b.(junk\x1b.)IN\x1b.Y;\x1b.I81;;17:SP1;PD;PA1016,0;", "", "",
       {"72.000 0.000 LI\n"}},
      {"pen colours from the colour range", "IN;PC3,255,0,0;CR0,100,0,100,0,100;PC4,50,50,50;", "", "", {}, {},
       {"DEBUG: Pen 3 255 0 0 = 1.000 0.000 0.000\n", "DEBUG: Pen 4 50 50 50 = 0.500 0.500 0.500\n"}},
      {"selected pen's line on the page", "IN;PC2,0,0,255;SP2;PD;PA10,10;", "", "", {"0.000 0.000 1.000 0.99 SP\n"}},
      {"pen beyond the pen count refused", "IN;NP4;SP3;SP5;PD;PA10,10;", "", "", {}, {},
       {"WARNING: HP-GL/2 'SP' command with invalid number or value of parameters (1, 5)!\n"}},
      {"pen numbers beyond the table", "IN;SP10000;PC10000,1,2,3;PW1,10000;CF1,2000;PE:_w\xc3;", "", "",
       {}, {}, {"'SP' command with invalid number", "'PC' pen 10000 ignored", "'PW' pen 10000 ignored",
                "'CF' edge pen 2000 ignored", "DEBUG: HP-GL/2 pen 10000 ignored"}},
      {"line type outside the table", "IN;LT99;LT2,500;LT-3;PD;PA10,10;", "", "", {"] 0 setdash\n"}, {},
       {"line type 99 ignored", "pattern length 500 ignored"}},
      {"circle of chord 90 is four points", "IN;SP1;PA0,0;CI1016,90;", "", "",
       {"MP\n72.000 0.000 MO\n0.000 72.000 LI\n-72.000 0.000 LI\n-0.000 -72.000 LI\nCP\nST\n"}},
      {"polygon mode adds shapes to one path", "IN;SP1;PA0,0;PM0;PD1016,0,1016,1016;PU;PA0,0;RA508,508;PM2;FP;EP;",
       "", "", {"MP\n0.000 0.000 MO\n72.000 0.000 LI\n72.000 72.000 LI\n0.000 0.000 MO\n0.000 36.000 LI\n"
                "36.000 36.000 LI\n36.000 0.000 LI\nCP\ngsave FI grestore\ngsave ST grestore\n"},
       {"FI\nFI", "ST\nST"}},
      {"label filled only", "IN;SP1;PA0,0;LB(a)\\\x03", "", "", {"MO\n(\\(a\\)\\\\) true charpath\nFI\ngrestore\n"},
       {"SP ST"}},
      {"label outlined in the edge pen", "IN;SP1;PC2,255,0,0;PA0,0;CF1,2;LBab\x03", "", "",
       {"(ab) true charpath\n1.000 0.000 0.000 0.99 SP ST\n0.000 0.000 0.000 0.99 SP\ngrestore\n"}, {"charpath\nFI"}},
      // RO 45 is no quarter turn: the plot, and its labels, stay at 270.
      {"labels turn with the plot", "IN;RO180;PA0,0;LBab\x03;RO270;LBcd\x03;RO45;LBef\x03", "", "",
       {"180 rotate\n0.000 0.000 MO\n(ab) true charpath\n", "270 rotate\n0.000 0.000 MO\n(cd) true charpath\n",
        "270 rotate\n0.000 0.000 MO\n(ef) true charpath\n"}},
      {"label with another terminator and bytes outside ASCII", "IN;DT*;LB\xe9t\xe9*;", "", "", {"(\\351t\\351) true"}},
      {"fonts and direction", "IN;SD4,20,6,1,7,5;AD5,1;DI0,1;SA;PA0,0;LBx\x03", "", "",
       {"/Helvetica-Bold findfont\n\t[ 0.000000 20.000000 -20.000000 0.000000", "/Courier-Oblique findfont\n"
        "\t[ 11.500000 0.000000 -0.000000 11.500000", "} bind def\nSA\n"}},
      {"plot size without a PPD", "IN;PS36576,48768;PD;PA10,10;", "", "",
       {"%%BeginFeature: PageSize w2592h3456\n<</PageSize[2592 3456]/ImageBBox null>>setpagedevice\n"}, {},
       {"DEBUG: hpglconv setting page size (2592 x 3456)\nDEBUG: hpglconv does not have a PPD file!\n"}},
      {"plot size larger than every size: custom", "IN;PS36576,48768;PD;PA10,10;", "",
       filter_test::Source("tests/fixtures/ppd/custom.ppd"), {"%%BeginFeature: PageSize Custom\n2592 3456 0 0 0\n"}},
      {"plot size larger than every size, none variable", "IN;PS36576,48768;PD;PA10,10;", "",
       filter_test::Source("tests/fixtures/ppd/basic.ppd"), {"%%Page: 1 1\n/SA"}, {"PageSize"}},
      {"input window clips", "IN;SP1;PD;PA10,10;IW0,0,1016,1016;", "", "",
       {"initclip MP 0.000 0.000 MO 0.000 72.000 LI 72.000 72.000 LI 72.000 0.000 LI CP clip\n"}},
      // The clip takes the current path: the polygon is put back after it,
      // so the fill is the whole polygon, clipped.
      {"input window inside polygon mode keeps the polygon",
       "IN;SP1;PA0,0;PM0;PD1016,0,1016,1016;IW0,0,508,508;PD0,1016;PM2;FP;", "", "",
       {"CP clip\nMP\n0.000 0.000 MO\n72.000 0.000 LI\n72.000 72.000 LI\n0.000 72.000 LI\nCP\n"
        "gsave FI grestore\n"}},
      {"input window removed", "IN;SP1;PD;PA10,10;IW0,0,1016,1016;PA20,20;IW;PA30,30;EP;FP;", "", "",
       {"LI CP clip\nMP\n", "ST\n0.99 setlinewidth\ninitclip\nMP\n"}, {"gsave ST", "gsave FI"}},
      // Each window change would write the polygon again: after a few the
      // change waits for the polygon's end.
      {"input window changes inside one polygon bounded", [] {
         std::string s = "IN;SP1;PA0,0;PM0;PD1016,0,1016,1016;";
         for (int i = 0; i < 40; i++) s += "IW0,0,508,508;";
         return s + "IW0,0,254,254;PM2;FP;PU0,0;PD100,100;";
       }(), "", "",
       {"gsave FI grestore\ninitclip MP 0.000 0.000 MO 0.000 18.000 LI 18.000 18.000 LI 18.000 0.000 LI CP clip\n"
        "MP\n0.000 0.000 MO\n"}, {},
       {"DEBUG: HP-GL/2 input window kept back until the polygon ends\n"}},
      {"blackplot", "IN;PD;PA10,10;", "blackplot", "", {"/setrgbcolor { pop pop pop } bind def\n"}},
      {"huge numbers never reach the page", "IN;SP1;PD;PA" + std::string(400, '9') + ",-" + std::string(400, '9') +
           ".5;PA.00000000000000000000000001,5;SC0,0,0,0;IP5,5,5,5;RO" + std::string(50, '9') + ";CI" +
           std::string(60, '9') + ";", "", "", {"100000.000 -100000.000 LI\n"}, {"inf", "nan", "e+"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Converted r = Convert(c.plot, c.options, c.ppd);
    ASSERT_EQ(r.rc, 0) << r.err;
    EXPECT_TRUE(r.out.ends_with("%%EOF\n"));
    for (const std::string& s : c.in_out) EXPECT_NE(r.out.find(s), std::string::npos) << "missing " << s << "\n" << r.out;
    for (const std::string& s : c.not_in_out) EXPECT_EQ(r.out.find(s), std::string::npos) << "has " << s << "\n" << r.out;
    for (const std::string& s : c.in_status) EXPECT_NE(r.err.find(s), std::string::npos) << "missing " << s << "\n" << r.err;
  }
}

// The last transformation the status stream reports: t00 t10 t01 t11.
std::vector<double> LastScale(const std::string& status) {
  std::regex re("DEBUG: Transform = \\[ (\\S+) (\\S+)\nDEBUG: +(\\S+) (\\S+)\n");
  std::vector<double> v;
  for (auto it = std::sregex_iterator(status.begin(), status.end(), re); it != std::sregex_iterator(); ++it)
    v = {std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]), std::stod((*it)[4])};
  return v;
}

TEST(HpglconvProgram, ScalingModesAndRotation) {
  // A frame twice as wide as high: isotropic scaling keeps user units square.
  Converted iso = Convert("IN;IP0,0,2032,1016;SC0,100,0,100;");
  Converted aniso = Convert("IN;IP0,0,2032,1016;SC0,100,0,100,0;");
  Converted turned = Convert("IN;IP0,0,2032,1016;SC0,100,0,100,0;RO90;");
  std::vector<double> a = LastScale(iso.err), b = LastScale(aniso.err), t = LastScale(turned.err);
  ASSERT_EQ(a.size(), 4u) << iso.err;
  ASSERT_EQ(b.size(), 4u) << aniso.err;
  ASSERT_EQ(t.size(), 4u) << turned.err;
  EXPECT_DOUBLE_EQ(a[0], a[3]);
  EXPECT_NEAR(a[0], 0.72, 0.001);  // 72 points over 100 units
  EXPECT_NEAR(b[0], 1.44, 0.001);
  // Turned: x goes up the page (t10), y to the left (t01), scaled by the
  // other range.
  EXPECT_EQ(t[0], 0);
  EXPECT_GT(t[1], 0);
  EXPECT_LT(t[2], 0);
}

}  // namespace
