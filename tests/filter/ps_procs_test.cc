// The PostScript text every PostScript filter shares: rectangle procedures,
// the banner procedure and the per-page banner call.
#include <gtest/gtest.h>

#include "filter/common/ps-procs.h"
#include "filter_test_env.h"

namespace {

using filter_test::MemOut;
using filter_test::ScopedEnv;

TEST(PsProcs, RectangleProcedures) {
  MemOut out;
  write_rect_procs(out.fp());
  EXPECT_EQ(out.str(),
            "% x y w h VRNrc - Clip to a rectangle.\n"
            "userdict/VRNrc/rectclip where{pop/rectclip load}\n"
            "{{newpath 4 2 roll moveto 1 index 0 rlineto 0 exch rlineto\n"
            "neg 0 rlineto closepath clip newpath}bind}ifelse put\n"
            "% x y w h VRNrf - Fill a rectangle.\n"
            "userdict/VRNrf/rectfill where{pop/rectfill load}\n"
            "{{gsave newpath 4 2 roll moveto 1 index 0 rlineto 0 exch rlineto\n"
            "neg 0 rlineto closepath fill grestore}bind}ifelse put\n"
            "% x y w h VRNrs - Stroke a rectangle.\n"
            "userdict/VRNrs/rectstroke where{pop/rectstroke load}\n"
            "{{gsave newpath 4 2 roll moveto 1 index 0 rlineto 0 exch rlineto\n"
            "neg 0 rlineto closepath stroke grestore}bind}ifelse put\n");
}

// The procedure that follows the label line, for bottom 36, top 756 and
// width 612 (Letter with its usual margins).
const char kLetterProc[] =
    "userdict/VRNpf /Helvetica-Bold findfont 14 scalefont put\n"
    "userdict/VRNwl{\n"
    "  VRNpf setfont\n"
    "  VRNpl stringwidth pop dup 12 add exch -0.5 mul 306 add\n"
    "  1 setgray\n"
    "  dup 6 sub 34 3 index 20 VRNrf\n"
    "  dup 6 sub 738 3 index 20 VRNrf\n"
    "  0 setgray\n"
    "  dup 6 sub 34 3 index 20 VRNrs\n"
    "  dup 6 sub 738 3 index 20 VRNrs\n"
    "  dup 38 moveto VRNpl show\n"
    "  742 moveto VRNpl show\n"
    "pop\n"
    "}bind put\n";

TEST(PsProcs, LabelLineByClassificationAndLabel) {
  const struct {
    const char* classification;  // nullptr: not set
    const char* label;           // nullptr: none
    const char* line;            // nullptr: the empty procedure only
  } cases[] = {
      {nullptr, nullptr, nullptr},
      {"none", nullptr, nullptr},
      {"none", "", nullptr},
      {nullptr, "Draft", "userdict/VRNpl(Draft)put\n"},
      {"none", "Draft", "userdict/VRNpl(Draft)put\n"},
      {"confidential", nullptr, "userdict/VRNpl(CONFIDENTIAL)put\n"},
      {"classified", nullptr, "userdict/VRNpl(CLASSIFIED)put\n"},
      {"secret", "a (b) c", "userdict/VRNpl(SECRET - a \\(b\\) c)put\n"},
      {"topsecret", "x", "userdict/VRNpl(TOP SECRET - x)put\n"},
      {"unclassified", nullptr, "userdict/VRNpl(UNCLASSIFIED)put\n"},
      {"Secret", nullptr, "userdict/VRNpl(Secret)put\n"},  // the words are exact
      {"for_staff_only", nullptr, "userdict/VRNpl(for_staff_only)put\n"},
      {"a\\b", "caf\xE9\n", "userdict/VRNpl(a\\\\b - caf\\351\\012)put\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.classification ? c.classification : "(unset)") + " / " +
                 (c.label ? c.label : "(none)"));
    ScopedEnv env("CLASSIFICATION", c.classification);
    MemOut out;
    write_label_proc(out.fp(), c.label, 36, 756, 612);
    if (!c.line)
      EXPECT_EQ(out.str(), "userdict/VRNwl{}bind put\n");
    else
      EXPECT_EQ(out.str(), std::string(c.line) + kLetterProc);
  }
}

TEST(PsProcs, PageLabelsTurnedForThePageOrientation) {
  vorn_page_t portrait;  // Letter, Orientation 0
  vorn_page_t landscape;
  landscape.Orientation = 1;
  landscape.PageWidth = 792;
  landscape.PageLength = 612;
  const struct {
    const vorn_page_t* page;
    int o;
    const char* turn;
  } cases[] = {
      {&portrait, 0, ""},
      {&portrait, 1, "612.0 0.0 translate 90 rotate\n"},
      {&portrait, 2, "612.0 792.0 translate 180 rotate\n"},
      {&portrait, 3, "0.0 792.0 translate -90 rotate\n"},
      {&landscape, 1, "612.0 0.0 translate 90 rotate\n"},
      {&landscape, 0, ""},
      {&landscape, 2, "612.0 792.0 translate 180 rotate\n"},
      {&landscape, 3, "0.0 792.0 translate -90 rotate\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "page orientation " << c.page->Orientation << ", labels " << c.o);
    MemOut out;
    write_page_labels(out.fp(), *c.page, c.o);
    EXPECT_EQ(out.str(), std::string("gsave\n") + c.turn + "VRNwl\ngrestore\n");
  }
}

TEST(PsProcs, RotationCommentReadsBack) {
  char line[64];
  std::snprintf(line, sizeof(line), kRotationComment, 270);
  EXPECT_STREQ(line, "%vornRotation: 270\n");
  EXPECT_TRUE(std::string_view(line).starts_with(kRotationPrefix));
}

}  // namespace
