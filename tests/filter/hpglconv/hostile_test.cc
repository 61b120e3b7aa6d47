// Plots made to hurt: pen and table numbers far out of range, chord
// angles of 0, a polygon of a million points, a label without its
// terminator, numbers of hundreds of digits, unterminated escapes and
// random bytes. Each must end (the run has a watchdog, not a timing) with
// a complete document that Ghostscript renders without an error.
#include <gtest/gtest.h>

#include <regex>

#include "hpglconv_fixture.h"

namespace {

using namespace hpglconv_test;

std::string MillionPointPolygon() {
  std::string s = "IN;SP1;PA1016,1016;PM0;PD";
  s.reserve(14'000'000);
  for (int i = 0; i < 1'000'000; i++) {
    s += std::to_string(1016 + (i % 2) * 2032 + (i % 7));
    s += ',';
    s += std::to_string(1016 + (i % 3) * 1016);
    s += ',';
  }
  s += "1016,1016;PM2;FP;";
  return s;
}

std::string RandomBytes(size_t n, unsigned seed) {
  std::string s;
  for (size_t i = 0; i < n; i++) {
    seed = seed * 1103515245u + 12345u;
    s += char(seed >> 16);
  }
  return s;
}

TEST(HpglconvHostile, EveryPlotEndsWithAValidDocument) {
  Renderer r;
  ASSERT_TRUE(r.ready()) << "the node command is needed (.ci/install-deps installs it)";
  const struct {
    const char* name;
    std::string plot;
    const char* status;  // a line the status stream must carry ("" for none)
  } cases[] = {
      {"pen-10000", "IN;SP10000;NP100000;PC10000,255,0,0;PW5,10000;SP-1;PD;PA2000,2000;SP1;PA3000,1000;", "SP"},
      {"chord-angle-0", "IN;SP1;PA2000,2000;PD;CI500,0;AA2000,2000,360000000000,0;AR10,10,-99999999,0.0000001;"
                        "EW500,0,999999999,0;WG300,-5,-720,0.000000001;CI" + std::string(30, '9') + ",0;PU;", ""},
      {"million-point-polygon", MillionPointPolygon(), "WARNING: HP-GL/2 polygon of more than 100000 points cut"},
      {"label-without-terminator", "IN;SP1;PA1016,1016;LBno end " + std::string(300000, 'x'),
       "DEBUG: HP-GL/2 label longer than 262143 bytes cut"},
      {"quoted-string-without-end", "IN;SP1;PD;PA10,10;PA\"" + std::string(100000, 'q'), ""},
      {"garbage", RandomBytes(200000, 7), ""},
      {"garbage-after-plot", "IN;SP1;PD;PA1000,1000;" + RandomBytes(50000, 11), ""},
      {"escapes-without-end", "IN;SP1;PD;PA500,500;\x1b.)" + std::string(10000, '.') + "\x1b%-12345", ""},
      {"too-many-parameters", "IN;SP1;LA" + [] {
         std::string s;
         for (int i = 0; i < 40000; i++) s += "1,4,";
         return s;
       }() + ";PD;PA100,100;", "parameters beyond 16384 ignored"},
      {"window-changes-in-a-polygon", [] {
         std::string s = "IN;SP1;PA1016,1016;PM0;PD";
         for (int i = 0; i < 5000; i++) s += std::to_string(1016 + i % 2032) + "," + std::to_string(1016 + i % 7) + ",";
         s += "1016,1016;";
         for (int i = 0; i < 200000; i++) s += i % 2 ? "IW0,0,4064,4064;" : "IW;";
         return s + "PM2;FP;";
       }(), "DEBUG: HP-GL/2 input window kept back until the polygon ends"},
      {"page-end-inside-a-polygon", "IN;SP1;PA0,0;PM0;PD1016,0,1016,1016;PG;PD0,1016,0,0;PM2;FP;EP;", ""},
      {"degenerate-frames", "IN;IP0,0,0,0;SC5,5,5,5;PA1,1;PD2,2;IP0,0,1,1;SC0,1e,0,1;RO45;PS0,0;PS-5;IW1,1,1,1;"
                            "DI0,0;SD4,0;SS;LBx\x03;CR0,0,0,0,0,0;PC1,5,5,5;CP1,1;PD3,3;", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Converted conv = Convert(c.plot);
    ASSERT_EQ(conv.rc, 0) << conv.err.substr(0, 2000);
    ASSERT_TRUE(conv.out.ends_with("%%EOF\n")) << conv.out.substr(conv.out.size() > 500 ? conv.out.size() - 500 : 0);
    if (*c.status) {
      EXPECT_NE(conv.err.find(c.status), std::string::npos) << conv.err.substr(0, 2000);
    }
    for (const char* bad : {"inf", "nan", "e+"}) {
      EXPECT_EQ(conv.out.find(bad), std::string::npos) << bad;
    }
    std::smatch m;
    ASSERT_TRUE(std::regex_search(conv.out, m, std::regex("%%Pages: (\\d+)\n%%EOF\n$")));
    std::string log;
    EXPECT_EQ(r.Render(conv.out, c.name, 18, &log), std::stoi(m[1])) << log.substr(0, 2000);
  }
}

}  // namespace
