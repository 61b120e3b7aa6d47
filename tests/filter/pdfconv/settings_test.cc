// What pdfconv hands the PDF engine, read from PPDs written here and the
// job options.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter/pdfconv/pdf-settings.h"
#include "tests/filter/filter_test_env.h"
#include "tests/filter/imgraster/run_filter.h"

namespace {

using vorn::pdfconv::pdf_settings;

std::string Ppd(const std::string& level, const std::string& size_line, const std::string& duplex_default) {
  std::string s =
      "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n*LanguageVersion: English\n"
      "*LanguageEncoding: ISOLatin1\n*PCFileName: \"PDFTEST.PPD\"\n*Manufacturer: \"Vorn\"\n"
      "*ModelName: \"Vorn PDF Test\"\n*NickName: \"Vorn PDF Test\"\n*LanguageLevel: \"" +
      level +
      "\"\n*ColorDevice: False\n"
      "*OpenUI *PageSize: PickOne\n*OrderDependency: 10 AnySetup *PageSize\n*DefaultPageSize: Odd\n"
      "*PageSize Odd/Odd: \"odd\"\n*CloseUI: *PageSize\n" +
      size_line;
  if (!duplex_default.empty())
    s += "*OpenUI *Duplex: PickOne\n*OrderDependency: 20 AnySetup *Duplex\n*DefaultDuplex: " + duplex_default +
         "\n*Duplex None/Off: \"\"\n*Duplex DuplexNoTumble/Long: \"\"\n*Duplex DuplexTumble/Short: \"\"\n"
         "*CloseUI: *Duplex\n";
  return s;
}

const std::string kOddSize = "*ImageableArea Odd: \"10.7 20.2 585.9 771.5\"\n*PaperDimension Odd: \"595.3 791.9\"\n";

struct Case {
  const char* name;
  std::string ppd;  // "" for none
  const char* options;
  pdf_settings want;
};

TEST(PdfconvSettings, FromPpdAndOptions) {
  std::vector<Case> cases = {
      {"no PPD", "", "", {595, 792, 0, 0, 595, 792, 2, false}},
      {"no PPD, two-sided", "", "sides=two-sided-long-edge", {595, 792, 0, 0, 595, 792, 2, true}},
      {"Duplex option", "", "Duplex=DuplexTumble", {595, 792, 0, 0, 595, 792, 2, true}},
      {"JCLDuplex None", "", "JCLDuplex=None", {595, 792, 0, 0, 595, 792, 2, false}},
      {"level 1, sizes truncated", Ppd("1", kOddSize, ""), "", {595, 791, 10, 20, 585, 771, 0, false}},
      {"level 3", Ppd("3", kOddSize, ""), "", {595, 791, 10, 20, 585, 771, 2, false}},
      {"PPD default duplex", Ppd("2", kOddSize, "DuplexNoTumble"), "", {595, 791, 10, 20, 585, 771, 2, true}},
      // The job's one-sided wins over the printer's default, as marked.
      {"one-sided clears the PPD default", Ppd("2", kOddSize, "DuplexNoTumble"), "sides=one-sided",
       {595, 791, 10, 20, 585, 771, 2, false}},
      {"PPD duplex off", Ppd("2", kOddSize, "None"), "", {595, 791, 10, 20, 585, 771, 2, false}},
      // A size without dimensions keeps the start values.
      {"size with no area", Ppd("2", "", ""), "", {595, 792, 0, 0, 595, 792, 2, false}},
  };
  rastertest::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = c.ppd.empty() ? "" : dir.write("p.ppd", c.ppd);
    vorn_options_t options;
    vornParseOptions(c.options, options);
    filter_test::MemOut status;
    pdf_settings s = vorn::pdfconv::read_pdf_settings(path.empty() ? nullptr : path.c_str(), options, status.fp());
    EXPECT_EQ(s.width, c.want.width);
    EXPECT_EQ(s.length, c.want.length);
    EXPECT_EQ(s.left, c.want.left);
    EXPECT_EQ(s.bottom, c.want.bottom);
    EXPECT_EQ(s.right, c.want.right);
    EXPECT_EQ(s.top, c.want.top);
    EXPECT_EQ(s.level, c.want.level);
    EXPECT_EQ(s.duplex, c.want.duplex);
    EXPECT_NE(status.str().find("DEBUG: pdfconv - level = " + std::to_string(c.want.level)), std::string::npos);
  }
}

}  // namespace
