// Marking PPD choices: defaults, the kinds of options, PageSize and
// PageRegion together, conflicts, page sizes (named, marked, custom) and job
// options marked with vornMarkOptions.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "vorn/options.h"
#include "vorn/ppd.h"

namespace {

vorn::ppd_file_ptr open_fixture(const std::string& name) {
  std::string path = std::string(VORN_SOURCE_DIR) + "/tests/fixtures/ppd/" + name;
  return vorn::ppd_file_ptr(ppdOpenFile(path.c_str()));
}

// "Keyword=Choice" for every marked choice, in file order, separated by spaces.
std::string marked(ppd_file_t* ppd) {
  std::string out;
  for (const auto& g : ppd->groups) {
    auto add = [&](const ppd_option_t& o) {
      for (const auto& c : o.choices)
        if (c.marked) out += (out.empty() ? "" : " ") + o.keyword + "=" + c.choice;
    };
    for (const auto& o : g.options) add(o);
    for (const auto& s : g.subgroups)
      for (const auto& o : s.options) add(o);
  }
  return out;
}

std::string conflicted(ppd_file_t* ppd) {
  std::string out;
  for (const auto& g : ppd->groups) {
    for (const auto& o : g.options)
      if (o.conflicted) out += (out.empty() ? "" : " ") + o.keyword;
    for (const auto& s : g.subgroups)
      for (const auto& o : s.options)
        if (o.conflicted) out += (out.empty() ? "" : " ") + o.keyword;
  }
  return out;
}

const char* const kDefaults =
    "PageSize=A4 PageRegion=A4 InputSlot=Tray1 Duplex=None OutputBin=Upper Collate=False "
    "StapleLocation=None";

TEST(PpdMark, DefaultsAreMarked) {
  auto ppd = open_fixture("basic.ppd");
  ASSERT_TRUE(ppd);
  EXPECT_EQ(marked(ppd.get()), "");
  EXPECT_EQ(ppdMarkDefaults(ppd.get()), 0);
  EXPECT_EQ(marked(ppd.get()), kDefaults);
  EXPECT_TRUE(ppdIsMarked(ppd.get(), "PageSize", "A4"));
  EXPECT_TRUE(ppdIsMarked(ppd.get(), "pagesize", "a4"));
  EXPECT_FALSE(ppdIsMarked(ppd.get(), "PageSize", "Letter"));
  EXPECT_FALSE(ppdIsMarked(ppd.get(), "NoOption", "A4"));
  EXPECT_EQ(ppdFindMarkedChoice(ppd.get(), "InputSlot")->choice, "Tray1");
  EXPECT_EQ(ppdFindMarkedChoice(ppd.get(), "NoOption"), nullptr);

  // Marking the defaults again starts over.
  ppdMarkOption(ppd.get(), "Duplex", "DuplexTumble");
  ppdMarkOption(ppd.get(), "StapleLocation", "TopLeft");
  ppdMarkDefaults(ppd.get());
  EXPECT_EQ(marked(ppd.get()), kDefaults);
}

TEST(PpdMark, MarkingByKindOfOption) {
  // Marked choices after the defaults and these marks; "..." stands for the
  // defaults of the options in between.
  const struct {
    std::vector<std::pair<const char*, const char*>> marks;
    const char* want;
  } cases[] = {
      {{{"Duplex", "DuplexTumble"}},  // PickOne: one only
       "PageSize=A4 PageRegion=A4 InputSlot=Tray1 Duplex=DuplexTumble OutputBin=Upper "
       "Collate=False StapleLocation=None"},
      {{{"duplex", "duplexnotumble"}},  // any case
       "PageSize=A4 PageRegion=A4 InputSlot=Tray1 Duplex=DuplexNoTumble OutputBin=Upper "
       "Collate=False StapleLocation=None"},
      {{{"Collate", "True"}},  // Boolean
       "PageSize=A4 PageRegion=A4 InputSlot=Tray1 Duplex=None OutputBin=Upper "
       "Collate=True StapleLocation=None"},
      {{{"StapleLocation", "TopLeft"}},  // PickMany: None goes
       "PageSize=A4 PageRegion=A4 InputSlot=Tray1 Duplex=None OutputBin=Upper "
       "Collate=False StapleLocation=TopLeft"},
      {{{"StapleLocation", "TopLeft"}, {"StapleLocation", "TopRight"}},
       "PageSize=A4 PageRegion=A4 InputSlot=Tray1 Duplex=None OutputBin=Upper "
       "Collate=False StapleLocation=TopLeft StapleLocation=TopRight"},
      {{{"StapleLocation", "TopLeft"}, {"StapleLocation", "None"}}, kDefaults},
      {{{"Duplex", "Sideways"}}, kDefaults},     // unknown choice
      {{{"Stapler", "TopLeft"}}, kDefaults},     // unknown option
      {{{"PageRegion", "Letter"}},               // the two sizes move together
       "PageSize=Letter PageRegion=Letter InputSlot=Tray1 Duplex=None OutputBin=Upper "
       "Collate=False StapleLocation=None"},
      {{{"PageSize", "Tabloid"}},
       "PageSize=Tabloid PageRegion=Tabloid InputSlot=Tray1 Duplex=None OutputBin=Upper "
       "Collate=False StapleLocation=None"},
  };
  for (const auto& c : cases) {
    auto ppd = open_fixture("basic.ppd");
    ASSERT_TRUE(ppd);
    ppdMarkDefaults(ppd.get());
    std::string label;
    for (const auto& [o, ch] : c.marks) {
      ppdMarkOption(ppd.get(), o, ch);
      label += std::string(o) + "=" + ch + " ";
    }
    EXPECT_EQ(marked(ppd.get()), c.want) << label;
  }
}

TEST(PpdMark, MarkedSizeFollowsPageSize) {
  auto ppd = open_fixture("basic.ppd");
  ASSERT_TRUE(ppd);
  EXPECT_EQ(ppdPageSize(ppd.get(), nullptr), nullptr);  // nothing marked yet
  ppdMarkDefaults(ppd.get());
  ppd_size_t* s = ppdPageSize(ppd.get(), nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->name, "A4");
  ppdMarkOption(ppd.get(), "PageRegion", "Letter");
  s = ppdPageSize(ppd.get(), "");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->name, "Letter");
  EXPECT_FLOAT_EQ(s->right, 594);
  int marked_sizes = 0;
  for (const auto& size : ppd->sizes) marked_sizes += size.marked;
  EXPECT_EQ(marked_sizes, 1);
  EXPECT_FLOAT_EQ(ppdPageWidth(ppd.get(), nullptr), 612);
  EXPECT_FLOAT_EQ(ppdPageLength(ppd.get(), "Tabloid"), 1224);
  EXPECT_FLOAT_EQ(ppdPageLength(ppd.get(), "NoSize"), 0);
}

TEST(PpdMark, Conflicts) {
  const struct {
    std::vector<std::pair<const char*, const char*>> marks;
    int count;
    const char* options;
  } cases[] = {
      {{}, 0, ""},
      {{{"PageSize", "Tabloid"}}, 0, ""},  // Duplex None counts as no choice
      {{{"PageSize", "Tabloid"}, {"Duplex", "DuplexNoTumble"}}, 2, "PageSize Duplex"},
      {{{"Duplex", "DuplexNoTumble"}, {"PageSize", "Letter"}}, 0, ""},
      {{{"InputSlot", "Manual"}}, 0, ""},  // StapleLocation None
      {{{"InputSlot", "Manual"}, {"StapleLocation", "TopRight"}}, 2, "InputSlot StapleLocation"},
      {{{"Duplex", "DuplexTumble"}}, 0, ""},
      {{{"Duplex", "DuplexTumble"}, {"Collate", "True"}}, 2, "Duplex Collate"},
      {{{"Duplex", "DuplexTumble"}, {"Collate", "True"}, {"PageSize", "Tabloid"}}, 3,
       "PageSize Duplex Collate"},
  };
  for (const auto& c : cases) {
    auto ppd = open_fixture("basic.ppd");
    ASSERT_TRUE(ppd);
    int last = ppdMarkDefaults(ppd.get());
    for (const auto& [o, ch] : c.marks) last = ppdMarkOption(ppd.get(), o, ch);
    EXPECT_EQ(last, c.count) << c.options;
    EXPECT_EQ(ppdConflicts(ppd.get()), c.count) << c.options;
    EXPECT_EQ(conflicted(ppd.get()), c.options);
  }
}

TEST(PpdMark, NamedSizes) {
  auto ppd = open_fixture("basic.ppd");
  ASSERT_TRUE(ppd);
  const struct { const char* name; float w, l; } sizes[] = {
      {"Letter", 612, 792}, {"a4", 595, 842}, {"TABLOID", 792, 1224}};
  for (const auto& s : sizes) {
    ppd_size_t* got = ppdPageSize(ppd.get(), s.name);
    ASSERT_NE(got, nullptr) << s.name;
    EXPECT_FLOAT_EQ(got->width, s.w) << s.name;
    EXPECT_FLOAT_EQ(got->length, s.l) << s.name;
  }
  for (const char* name : {"Legal", "Custom", "Custom.612x792"})
    EXPECT_EQ(ppdPageSize(ppd.get(), name), nullptr) << name;  // no variable sizes here
}

TEST(PpdMark, CustomSizesInEachUnit) {
  auto ppd = open_fixture("custom.ppd");
  ASSERT_TRUE(ppd) << ppdErrorString(ppdLastError(nullptr));
  EXPECT_TRUE(ppd->variable_sizes);
  EXPECT_FLOAT_EQ(ppd->custom_min[0], 72);    // 1 inch
  EXPECT_FLOAT_EQ(ppd->custom_max[0], 864);   // 12 inches
  EXPECT_FLOAT_EQ(ppd->custom_min[1], 72);
  EXPECT_FLOAT_EQ(ppd->custom_max[1], 1224);  // *MaxMediaHeight wins over the parameter
  const struct { const char* name; float w, l; } good[] = {
      {"Custom.612x792", 612, 792},
      {"Custom.300x400pt", 300, 400},
      {"Custom.8.5x11in", 612, 792},
      {"custom.4X6IN", 288, 432},
      {"Custom.21x29.7cm", 595.27559f, 841.88977f},
      {"Custom.210x297mm", 595.27559f, 841.88977f},
      {"Custom.72x1224", 72, 1224},  // both limits are inside
      {"Custom.864x72", 864, 72},
  };
  for (const auto& g : good) {
    ppd_size_t* s = ppdPageSize(ppd.get(), g.name);
    ASSERT_NE(s, nullptr) << g.name;
    EXPECT_EQ(s->name, "Custom");
    EXPECT_NEAR(s->width, g.w, 0.001) << g.name;
    EXPECT_NEAR(s->length, g.l, 0.001) << g.name;
    // *HWMargins 12 24 18 30 give the imageable area.
    EXPECT_FLOAT_EQ(s->left, 12) << g.name;
    EXPECT_FLOAT_EQ(s->bottom, 24) << g.name;
    EXPECT_NEAR(s->right, g.w - 18, 0.001) << g.name;
    EXPECT_NEAR(s->top, g.l - 30, 0.001) << g.name;
  }
  const char* const bad[] = {
      "Custom.71x400",   "Custom.865x400",  "Custom.400x71",  "Custom.400x1225",
      "Custom.",         "Custom.x400",     "Custom.400",     "Custom.400x",
      "Custom.400x500yd", "Custom.-5x400",  "Custom.0x400",   "Custom.400x500 in",
      "Custom.400by500", "Custom.nanx400",  "Custom.1e40x400",
  };
  for (const char* b : bad) EXPECT_EQ(ppdPageSize(ppd.get(), b), nullptr) << b;

  // Without parameters there is no range to keep to.
  auto free_size = open_fixture("custom_nocode.ppd");
  ASSERT_TRUE(free_size);
  ASSERT_NE(ppdPageSize(free_size.get(), "Custom.1x1"), nullptr);
  EXPECT_FLOAT_EQ(ppdPageSize(free_size.get(), "Custom.5000x5000")->length, 5000);
}

TEST(PpdMark, MarkingACustomSize) {
  auto ppd = open_fixture("custom.ppd");
  ASSERT_TRUE(ppd);
  ppdMarkDefaults(ppd.get());
  EXPECT_EQ(marked(ppd.get()), "PageSize=Letter PageRegion=Letter");
  const ppd_option_t* page = ppdFindOption(ppd.get(), "PageSize");
  ASSERT_NE(ppdFindChoice(page, "Custom"), nullptr);
  EXPECT_EQ(ppdFindChoice(page, "Custom")->text, "Any Size");

  // PageRegion has no custom choice: nothing of it stays marked, so the
  // constraint against any PageRegion choice does not hold.
  EXPECT_EQ(ppdMarkOption(ppd.get(), "PageSize", "Custom.4x6in"), 0);
  EXPECT_EQ(marked(ppd.get()), "PageSize=Custom");
  ppd_size_t* s = ppdPageSize(ppd.get(), nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->name, "Custom");
  EXPECT_FLOAT_EQ(s->width, 288);
  EXPECT_FLOAT_EQ(s->length, 432);

  // A size out of range changes nothing.
  ppdMarkOption(ppd.get(), "PageSize", "Custom.0.5x1in");
  EXPECT_EQ(marked(ppd.get()), "PageSize=Custom");
  EXPECT_FLOAT_EQ(ppdPageSize(ppd.get(), nullptr)->width, 288);

  ppdMarkOption(ppd.get(), "PageRegion", "Letter");
  EXPECT_EQ(marked(ppd.get()), "PageSize=Letter PageRegion=Letter");
  ppdMarkOption(ppd.get(), "PageRegion", "Custom.5x7in");
  EXPECT_EQ(marked(ppd.get()), "PageSize=Custom");
  EXPECT_FLOAT_EQ(ppdPageSize(ppd.get(), nullptr)->length, 504);
}

TEST(PpdMark, JobOptions) {
  const struct {
    const char* file;
    vorn_options_t options;
    int result;
    const char* want;  // marked choices afterwards
  } cases[] = {
      {"basic.ppd", {{"media", "Letter"}}, 0,
       "PageSize=Letter PageRegion=Letter InputSlot=Tray1 Duplex=None OutputBin=Upper "
       "Collate=False StapleLocation=None"},
      {"basic.ppd", {{"media", "Manual, tabloid"}}, 0,
       "PageSize=Tabloid PageRegion=Tabloid InputSlot=Manual Duplex=None OutputBin=Upper "
       "Collate=False StapleLocation=None"},
      {"basic.ppd", {{"media", "Glossy,,"}}, 0, kDefaults},
      {"basic.ppd", {{"sides", "two-sided-long-edge"}}, 0,
       "PageSize=A4 PageRegion=A4 InputSlot=Tray1 Duplex=DuplexNoTumble OutputBin=Upper "
       "Collate=False StapleLocation=None"},
      {"basic.ppd", {{"sides", "two-sided-short-edge"}, {"Collate", "True"}}, 2,
       "PageSize=A4 PageRegion=A4 InputSlot=Tray1 Duplex=DuplexTumble OutputBin=Upper "
       "Collate=True StapleLocation=None"},
      {"basic.ppd", {{"Duplex", "DuplexTumble"}, {"sides", "one-sided"}}, 0, kDefaults},
      {"basic.ppd", {{"sides", "sideways"}}, 0, kDefaults},
      {"basic.ppd", {{"multiple-document-handling", "separate-documents-collated-copies"}}, 0,
       "PageSize=A4 PageRegion=A4 InputSlot=Tray1 Duplex=None OutputBin=Upper "
       "Collate=True StapleLocation=None"},
      {"basic.ppd", {{"Collate", "True"}, {"multiple-document-handling",
                                            "separate-documents-uncollated-copies"}}, 0, kDefaults},
      {"basic.ppd", {{"output-bin", "Rear"}}, 0,
       "PageSize=A4 PageRegion=A4 InputSlot=Tray1 Duplex=None OutputBin=Rear "
       "Collate=False StapleLocation=None"},
      {"basic.ppd", {{"pagesize", "letter"}, {"staplelocation", "TopLeft"}}, 0,
       "PageSize=Letter PageRegion=Letter InputSlot=Tray1 Duplex=None OutputBin=Upper "
       "Collate=False StapleLocation=TopLeft"},
      {"basic.ppd", {{"copies", "2"}, {"landscape", "true"}, {"job-sheets", "none"}}, 0, kDefaults},
      {"basic.ppd", {{"media", "Tabloid"}, {"sides", "two-sided-long-edge"}}, 2,
       "PageSize=Tabloid PageRegion=Tabloid InputSlot=Tray1 Duplex=DuplexNoTumble "
       "OutputBin=Upper Collate=False StapleLocation=None"},
      {"custom.ppd", {{"media", "Custom.4x6in"}}, 0, "PageSize=Custom"},
      {"jcl.ppd", {{"sides", "two-sided-long-edge"}}, 0, "JCLEconomode=True JCLDensity=3"},
  };
  for (const auto& c : cases) {
    auto ppd = open_fixture(c.file);
    ASSERT_TRUE(ppd) << c.file;
    ppdMarkDefaults(ppd.get());
    std::string label = c.file;
    for (const auto& o : c.options) label += " " + o.name + "=" + o.value;
    EXPECT_EQ(vornMarkOptions(ppd.get(), c.options), c.result) << label;
    EXPECT_EQ(marked(ppd.get()), c.want) << label;
  }
}

// The way filters call it: the job's option string through the option parser.
TEST(PpdMark, ParsedJobOptions) {
  auto ppd = open_fixture("basic.ppd");
  ASSERT_TRUE(ppd);
  ppdMarkDefaults(ppd.get());
  vorn_options_t options;
  vornParseOptions("media=Manual,Tabloid sides=two-sided-long-edge copies=2 nocollate", options);
  EXPECT_EQ(vornMarkOptions(ppd.get(), options), 2);
  EXPECT_EQ(marked(ppd.get()),
            "PageSize=Tabloid PageRegion=Tabloid InputSlot=Manual Duplex=DuplexNoTumble "
            "OutputBin=Upper Collate=False StapleLocation=None");
  EXPECT_EQ(conflicted(ppd.get()), "PageSize Duplex");
}

// Duplex, JCLDuplex, EFDuplex and KD03Duplex all follow "sides".
TEST(PpdMark, SidesMarksEveryDuplexOption) {
  std::string text = "*PPD-Adobe: \"4.3\"\n";
  for (const char* k : {"JCLDuplex", "EFDuplex", "KD03Duplex"}) {
    text += std::string("*OpenUI *") + k + ": PickOne\n*Default" + k + ": None\n";
    for (const char* c : {"None", "DuplexNoTumble", "DuplexTumble"})
      text += std::string("*") + k + " " + c + ": \"\"\n";
    text += std::string("*CloseUI: *") + k + "\n";
  }
  FILE* fp = fmemopen(text.data(), text.size(), "r");
  ASSERT_NE(fp, nullptr);
  vorn::ppd_file_ptr ppd(ppdOpen(fp));
  fclose(fp);
  ASSERT_TRUE(ppd) << ppdErrorString(ppdLastError(nullptr));
  ppdMarkDefaults(ppd.get());
  vornMarkOptions(ppd.get(), {{"sides", "two-sided-short-edge"}});
  EXPECT_EQ(marked(ppd.get()), "JCLDuplex=DuplexTumble EFDuplex=DuplexTumble KD03Duplex=DuplexTumble");
}

TEST(PpdMark, MissingRecordIsAccepted) {
  EXPECT_EQ(ppdMarkDefaults(nullptr), 0);
  EXPECT_EQ(ppdMarkOption(nullptr, "PageSize", "A4"), 0);
  EXPECT_FALSE(ppdIsMarked(nullptr, "PageSize", "A4"));
  EXPECT_EQ(ppdConflicts(nullptr), 0);
  EXPECT_EQ(ppdFindOption(nullptr, "PageSize"), nullptr);
  EXPECT_EQ(ppdFindChoice(nullptr, "A4"), nullptr);
  EXPECT_EQ(ppdFindMarkedChoice(nullptr, "PageSize"), nullptr);
  EXPECT_EQ(ppdFindAttr(nullptr, "NickName", nullptr), nullptr);
  EXPECT_EQ(ppdFindNextAttr(nullptr, "NickName", nullptr, nullptr), nullptr);
  EXPECT_EQ(ppdPageSize(nullptr, nullptr), nullptr);
  EXPECT_EQ(ppdPageSize(nullptr, "A4"), nullptr);
  EXPECT_FLOAT_EQ(ppdPageWidth(nullptr, nullptr), 0);
  EXPECT_EQ(vornMarkOptions(nullptr, {{"media", "A4"}}), 0);
  ppdClose(nullptr);
}

}  // namespace
