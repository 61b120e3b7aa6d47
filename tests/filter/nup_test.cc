// Placing pages on the sheet: the PostScript before and after each page for
// every pages-per-sheet count, slot order, orientation, mirror and border.
#include <gtest/gtest.h>

#include <string>

#include "filter/psconv/psconv.h"
#include "filter_test_env.h"

namespace {

using filter_test::MemOut;

// Letter with the area 18,36 to 594,756, portrait.
psconv_t LetterJob(int per) {
  psconv_t job;
  job.PagesPerSheet = per;
  return job;
}

// Letter turned to landscape: the frame the page set-up leaves.
psconv_t LandscapeJob(int per) {
  psconv_t job;
  job.PagesPerSheet = per;
  job.page.Orientation = 1;
  rotate_page_frame(job.page);
  return job;
}

std::string Begin(psconv_t job, int n, bool border = true) {
  MemOut out, status;
  job.out = out.fp();
  job.status = status.fp();
  begin_nup_page(job, n, border);
  return out.str();
}

std::string End(psconv_t job, int n) {
  MemOut out, status;
  job.out = out.fp();
  job.status = status.fp();
  end_nup_page(job, n);
  return out.str();
}

const char kSave[] = "userdict/VRNsave save put\n";
const char kClip[] = "0 0 612.0 792.0 VRNrc\n";

TEST(Nup, OnePageInEachLayout) {
  const std::string save = kSave, letter_origin = "18.0 36.0 translate\n", clip = kClip;
  psconv_t mirrored = LetterJob(1);
  mirrored.Flip = true;
  psconv_t four_landscape_ppd = LetterJob(4);
  four_landscape_ppd.Landscape = true;  // only 2-up and 6-up turn by it
  psconv_t two_landscape_ppd = LetterJob(2);
  two_landscape_ppd.Landscape = true;
  psconv_t two_landscape = LandscapeJob(2);
  psconv_t six_landscape = LandscapeJob(6);
  const struct {
    const char* what;
    psconv_t job;
    int n;
    std::string text;
  } cases[] = {
      {"1-up portrait writes nothing", LetterJob(1), 0, ""},
      {"1-up mirrored", mirrored, 0, save + "612.0 0.0 translate -1 1 scale\n"},
      {"1-up landscape", LandscapeJob(1), 0, save + "612.0 0.0 translate 90 rotate\n"},
      {"2-up slot 0", LetterJob(2), 0,
       save + letter_origin + "0.0 720.0 translate -90 rotate\n0.0 55.1 translate 0.588 0.588 scale\n" + clip},
      {"2-up slot 1", LetterJob(2), 1,
       save + letter_origin + "0.0 720.0 translate -90 rotate\n360.0 55.1 translate 0.588 0.588 scale\n" + clip},
      {"2-up, the PPD turns landscape +90", two_landscape_ppd, 0,
       save + letter_origin + "576.0 0.0 translate 90 rotate\n0.0 55.1 translate 0.588 0.588 scale\n" + clip},
      {"2-up on a landscape page", two_landscape, 0,
       save + "612.0 0.0 translate 90 rotate\n36.0 18.0 translate\n720.0 0.0 translate 90 rotate\n"
              "55.1 360.0 translate 0.588 0.588 scale\n0 0 792.0 612.0 VRNrc\n"},
      {"4-up slot 0", LetterJob(4), 0, save + letter_origin + "4.9 360.0 translate 0.455 0.455 scale\n" + clip},
      {"4-up ignores the PPD's landscape", four_landscape_ppd, 3,
       save + letter_origin + "283.1 0.0 translate 0.455 0.455 scale\n" + clip},
      {"6-up slot 0", LetterJob(6), 0,
       save + letter_origin + "0.0 720.0 translate -90 rotate\n26.2 288.0 translate 0.364 0.364 scale\n" + clip},
      {"6-up on a landscape page", six_landscape, 0,
       save + "612.0 0.0 translate 90 rotate\n36.0 18.0 translate\n720.0 0.0 translate 90 rotate\n"
              "0.0 471.3 translate 0.364 0.364 scale\n0 0 792.0 612.0 VRNrc\n"},
      {"9-up slot 0", LetterJob(9), 0, save + letter_origin + "3.3 479.5 translate 0.303 0.303 scale\n" + clip},
      {"16-up slot 0", LetterJob(16), 0, save + letter_origin + "2.5 540.0 translate 0.227 0.227 scale\n" + clip},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Begin(c.job, c.n), c.text);
  }
}

// Where each slot of a 4-up sheet lands, for every slot order: L/R the left
// or right column (x 4.9 or 283.1), B/T the bottom or top row (y 0 or 360).
TEST(Nup, EverySlotOrderOfFourUp) {
  const struct {
    const char* layout;
    const char* slots[4];
  } cases[] = {
      {"lrbt", {"LB", "RB", "LT", "RT"}}, {"lrtb", {"LT", "RT", "LB", "RB"}},
      {"rlbt", {"RB", "LB", "RT", "LT"}}, {"rltb", {"RT", "LT", "RB", "LB"}},
      {"btlr", {"LB", "LT", "RB", "RT"}}, {"tblr", {"LT", "LB", "RT", "RB"}},
      {"btrl", {"RB", "RT", "LB", "LT"}}, {"tbrl", {"RT", "RB", "LT", "LB"}},
  };
  for (const auto& c : cases) {
    psconv_t job = LetterJob(4);
    vorn_options_t options;
    vornParseOptions(std::string("number-up-layout=") + c.layout, options);
    MemOut status;
    job.status = status.fp();
    psconv_read_options(job, options);
    for (int n = 0; n < 8; n++) {  // two sheets: the order repeats
      SCOPED_TRACE(testing::Message() << c.layout << " slot " << n);
      const char* where = c.slots[n % 4];
      std::string slot = std::string(where[0] == 'L' ? "4.9" : "283.1") + " " + (where[1] == 'B' ? "0.0" : "360.0") +
                         " translate 0.455 0.455 scale\n";
      EXPECT_NE(Begin(job, n).find(slot), std::string::npos) << Begin(job, n);
    }
  }
}

TEST(Nup, SlotOrdersOfTheOtherCounts) {
  // The first and last slot of a sheet, from the corner the order starts in.
  const struct {
    int per;
    const char* layout;
    int n;
    const char* slot;
  } cases[] = {
      {2, "lrtb", 1, "360.0 55.1 translate"},
      {2, "rltb", 0, "360.0 55.1 translate"},
      {2, "rltb", 1, "0.0 55.1 translate"},
      {6, "lrtb", 5, "471.3 0.0 translate"},
      {6, "lrbt", 0, "26.2 0.0 translate"},
      {6, "tblr", 1, "26.2 0.0 translate"},
      {6, "rltb", 0, "471.3 288.0 translate"},
      {9, "lrtb", 8, "373.8 0.0 translate"},
      {9, "btlr", 1, "3.3 239.8 translate"},
      {16, "lrtb", 15, "419.7 0.0 translate"},
      {16, "tbrl", 0, "419.7 540.0 translate"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.per << "-up " << c.layout << " slot " << c.n);
    psconv_t job = LetterJob(c.per);
    vorn_options_t options;
    vornParseOptions(std::string("number-up-layout=") + c.layout, options);
    MemOut status;
    job.status = status.fp();
    psconv_read_options(job, options);
    EXPECT_NE(Begin(job, c.n).find(c.slot), std::string::npos) << Begin(job, c.n);
  }
}

TEST(Nup, BackSidesStartFromTheRightMargin) {
  psconv_t job = LetterJob(2);
  job.page.PageLeft = 30;  // unequal margins tell the sides apart
  job.page.Duplex = true;
  EXPECT_NE(Begin(job, 0).find("\n30.0 36.0 translate\n"), std::string::npos);
  EXPECT_NE(Begin(job, 2).find("\n18.0 36.0 translate\n"), std::string::npos);
  EXPECT_NE(Begin(job, 4).find("\n30.0 36.0 translate\n"), std::string::npos);
  job.page.Duplex = false;
  EXPECT_NE(Begin(job, 2).find("\n30.0 36.0 translate\n"), std::string::npos);
}

TEST(Nup, Borders) {
  psconv_t double_thick = LetterJob(1);
  double_thick.border = 5;
  psconv_t single_nine = LetterJob(9);
  single_nine.border = 2;
  psconv_t thick_nine = LetterJob(9);
  thick_nine.border = 3;
  const std::string nine = std::string(kSave) + "18.0 36.0 translate\n3.3 479.5 translate 0.303 0.303 scale\n";
  EXPECT_EQ(Begin(double_thick, 0),
            "gsave\n0.500 setlinewidth 0 setgray newpath\n20.2 38.2 571.5 715.5 VRNrs\n"
            "22.2 40.2 567.5 711.5 VRNrs\ngrestore\n");
  EXPECT_EQ(Begin(double_thick, 0, false), "");
  EXPECT_EQ(Begin(single_nine, 0),
            nine + "gsave\n0.793 setlinewidth 0 setgray newpath\n7.4 7.4 597.1 777.1 VRNrs\ngrestore\n" + kClip);
  EXPECT_EQ(Begin(thick_nine, 0),
            nine + "gsave\n1.652 setlinewidth 0 setgray newpath\n7.4 7.4 597.1 777.1 VRNrs\ngrestore\n" + kClip);
}

TEST(Nup, EndOfPageAndSheet) {
  const std::string restore = "\nuserdict /VRNsave get restore\n";
  const std::string showpage = "VRNwl\ngrestore\nVRNshowpage\n";
  psconv_t one = LetterJob(1);
  psconv_t one_wrapped = LetterJob(1);
  one_wrapped.wrap_showpage = true;
  psconv_t four = LetterJob(4);
  four.wrap_showpage = true;
  psconv_t two = LetterJob(2);
  two.wrap_showpage = true;
  psconv_t two_landscape_ppd = two;
  two_landscape_ppd.Landscape = true;
  psconv_t two_landscape = LandscapeJob(2);
  two_landscape.wrap_showpage = true;
  const struct {
    const char* what;
    psconv_t job;
    int n;
    std::string text;
  } cases[] = {
      {"1-up, the document's showpage ends the page", one, 0, "\n"},
      {"1-up wrapped", one_wrapped, 0, "\ngsave\n" + showpage},
      {"4-up, not the last slot", four, 2, restore},
      {"4-up, the last slot", four, 3, restore + "gsave\n" + showpage},
      {"2-up portrait: labels along the long side", two, 1,
       restore + "gsave\n0.0 792.0 translate -90 rotate\n" + showpage},
      {"2-up portrait, landscape +90", two_landscape_ppd, 1,
       restore + "gsave\n612.0 0.0 translate 90 rotate\n" + showpage},
      {"2-up on a landscape page: labels upright", two_landscape, 1, restore + "gsave\n" + showpage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(End(c.job, c.n), c.text);
  }
}

}  // namespace
