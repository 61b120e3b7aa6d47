// Reading PPD files: the record's values, value kinds, line endings, *Include,
// gzip, and every error kind with the line where reading stopped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include "vorn/ppd.h"

namespace fs = std::filesystem;

namespace {

std::string fixture(const std::string& name) {
  return std::string(VORN_SOURCE_DIR) + "/tests/fixtures/ppd/" + name;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_file(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out << data;
}

vorn::ppd_file_ptr open_fixture(const std::string& name) {
  return vorn::ppd_file_ptr(ppdOpenFile(fixture(name).c_str()));
}

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "ppd-test-XXXXXX").string();
    path_ = mkdtemp(tmpl.data()) ? tmpl : "";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Opens PPD text written to a temporary file.
vorn::ppd_file_ptr open_text(const std::string& text) {
  TempDir dir;
  write_file(dir.file("t.ppd"), text);
  return vorn::ppd_file_ptr(ppdOpenFile(dir.file("t.ppd").c_str()));
}

void write_gzip(const std::string& path, const std::string& data) {
  gzFile gz = gzopen(path.c_str(), "wb");
  ASSERT_NE(gz, nullptr);
  ASSERT_EQ(gzwrite(gz, data.data(), unsigned(data.size())), int(data.size()));
  ASSERT_EQ(gzclose(gz), Z_OK);
}

std::string choice_names(const ppd_option_t& o) {
  std::string out;
  for (const auto& c : o.choices) out += (out.empty() ? "" : ",") + c.choice;
  return out;
}

TEST(PpdRead, RecordFields) {
  auto ppd = open_fixture("basic.ppd");
  ASSERT_TRUE(ppd) << ppdErrorString(ppdLastError(nullptr));
  const struct {
    const char* what;
    const std::string& got;
    const char* want;
  } texts[] = {
      {"format_version", ppd->format_version, "4.3"},
      {"file_version", ppd->file_version, "1.2"},
      {"lang_version", ppd->lang_version, "English"},
      {"lang_encoding", ppd->lang_encoding, "ISOLatin1"},
      {"pcfilename", ppd->pcfilename, "VLASER.PPD"},
      {"product", ppd->product, "(Vorn Laser)"},
      {"psversion", ppd->psversion, "(3010.107) 2"},
      {"manufacturer", ppd->manufacturer, "Vorn"},
      {"modelname", ppd->modelname, "Vorn Laser 1200"},
      {"shortnickname", ppd->shortnickname, "Vorn Laser 1200"},
      {"nickname", ppd->nickname, "Vorn Laser 1200 (test)"},
      {"ttrasterizer", ppd->ttrasterizer, "Type42"},
      {"protocols", ppd->protocols, "BCP TBCP"},
      {"file_system", ppd->file_system, "False"},
      {"patches", ppd->patches, ""},
      {"jcl_begin", ppd->jcl_begin, ""},
  };
  for (const auto& t : texts) EXPECT_EQ(t.got, t.want) << t.what;
  EXPECT_EQ(ppd->language_level, 3);
  EXPECT_EQ(ppd->throughput, 24);
  EXPECT_EQ(ppd->model_number, 7);
  EXPECT_EQ(ppd->landscape, -90);
  EXPECT_EQ(ppd->colorspace, PPD_CS_CMYK);
  EXPECT_TRUE(ppd->color_device);
  EXPECT_TRUE(ppd->manual_copies);
  EXPECT_FALSE(ppd->variable_sizes);
  EXPECT_EQ(ppd->filters, (std::vector<std::string>{"application/vnd.vorn-raster 50 rastertovl",
                                                    "application/pdf 10 pdftovl"}));
  EXPECT_EQ(ppd->fonts, (std::vector<std::string>{"Courier", "Helvetica"}));

  ASSERT_EQ(ppd->emulations.size(), 2u);
  EXPECT_EQ(ppd->emulations[0].name, "hpgl");
  EXPECT_EQ(ppd->emulations[0].start, "currentfile /hpgl statusdict /emulate get exec ");
  EXPECT_EQ(ppd->emulations[0].stop, "<1B>%-12345X");  // PostScript text: no hex decoding
  EXPECT_EQ(ppd->emulations[1].name, "pcl");
  EXPECT_EQ(ppd->emulations[1].stop, "");

  ASSERT_EQ(ppd->profiles.size(), 1u);
  const ppd_profile_t& p = ppd->profiles[0];
  EXPECT_EQ(p.resolution, "600dpi");
  EXPECT_EQ(p.media_type, "Plain");
  EXPECT_FLOAT_EQ(p.density, 0.9f);
  EXPECT_FLOAT_EQ(p.gamma, 1.8f);
  EXPECT_FLOAT_EQ(p.matrix[0][0], 1);
  EXPECT_FLOAT_EQ(p.matrix[2][1], -0.25f);
  EXPECT_FLOAT_EQ(p.matrix[2][2], 1);

  const struct { const char *o1, *c1, *o2, *c2; } consts[] = {
      {"PageSize", "Tabloid", "Duplex", ""},
      {"Duplex", "", "PageSize", "Tabloid"},
      {"InputSlot", "Manual", "StapleLocation", ""},
      {"StapleLocation", "", "InputSlot", "Manual"},
      {"Duplex", "DuplexTumble", "Collate", "True"},
  };
  ASSERT_EQ(ppd->consts.size(), std::size(consts));
  for (size_t i = 0; i < std::size(consts); i++) {
    const ppd_const_t& c = ppd->consts[i];
    EXPECT_EQ(c.option1, consts[i].o1) << i;
    EXPECT_EQ(c.choice1, consts[i].c1) << i;
    EXPECT_EQ(c.option2, consts[i].o2) << i;
    EXPECT_EQ(c.choice2, consts[i].c2) << i;
    EXPECT_EQ(c.opt1, ppdFindOption(ppd.get(), consts[i].o1)) << i;
    EXPECT_EQ(c.opt2, ppdFindOption(ppd.get(), consts[i].o2)) << i;
  }
  EXPECT_EQ(ppd->consts[0].ch1, ppdFindChoice(ppd->consts[0].opt1, "Tabloid"));
  EXPECT_EQ(ppd->consts[0].ch2, nullptr);
}

TEST(PpdRead, GroupsOptionsAndChoices) {
  auto ppd = open_fixture("basic.ppd");
  ASSERT_TRUE(ppd);
  ASSERT_EQ(ppd->groups.size(), 2u);
  const ppd_group_t& general = ppd->groups[0];
  EXPECT_EQ(general.name, "General");
  EXPECT_EQ(general.text, "Common Options");
  EXPECT_TRUE(general.subgroups.empty());
  const ppd_group_t& finishing = ppd->groups[1];
  EXPECT_EQ(finishing.text, "Finishing Options");
  ASSERT_EQ(finishing.subgroups.size(), 1u);
  EXPECT_EQ(finishing.subgroups[0].name, "Stapling");
  EXPECT_EQ(finishing.subgroups[0].text, "Stapler");
  ASSERT_EQ(finishing.subgroups[0].options.size(), 1u);
  EXPECT_EQ(finishing.subgroups[0].options[0].keyword, "StapleLocation");

  const struct {
    const char* keyword;
    const ppd_group_t* group;
    const char* text;
    ppd_ui_t ui;
    ppd_section_t section;
    float order;
    const char* defchoice;
    const char* choices;
  } options[] = {
      {"PageSize", &general, "Media Size", PPD_UI_PICKONE, PPD_ORDER_ANY, 10, "A4", "Letter,A4,Tabloid"},
      {"PageRegion", &general, "PageRegion", PPD_UI_PICKONE, PPD_ORDER_ANY, 10, "A4", "Letter,A4,Tabloid"},
      {"InputSlot", &general, "Paper Source", PPD_UI_PICKONE, PPD_ORDER_ANY, 20, "Tray1", "Tray1,Manual"},
      {"Duplex", &general, "Two-Sided", PPD_UI_PICKONE, PPD_ORDER_DOCUMENT, 30, "None",
       "None,DuplexNoTumble,DuplexTumble"},
      {"OutputBin", &general, "Output Tray", PPD_UI_PICKONE, PPD_ORDER_DOCUMENT, 35, "Upper", "Upper,Rear"},
      {"Collate", &finishing, "Collate Copies", PPD_UI_BOOLEAN, PPD_ORDER_DOCUMENT, 25, "False", "True,False"},
      {"StapleLocation", nullptr, "Staple", PPD_UI_PICKMANY, PPD_ORDER_PAGE, 50, "None",
       "None,TopLeft,TopRight"},
  };
  for (const auto& want : options) {
    const ppd_option_t* o = ppdFindOption(ppd.get(), want.keyword);
    ASSERT_NE(o, nullptr) << want.keyword;
    if (want.group) {
      bool in_group = false;
      for (const auto& g : want.group->options) in_group |= &g == o;
      EXPECT_TRUE(in_group) << want.keyword;
    }
    EXPECT_EQ(o->text, want.text) << want.keyword;
    EXPECT_EQ(o->ui, want.ui) << want.keyword;
    EXPECT_EQ(o->section, want.section) << want.keyword;
    EXPECT_FLOAT_EQ(o->order, want.order) << want.keyword;
    EXPECT_EQ(o->defchoice, want.defchoice) << want.keyword;
    EXPECT_EQ(choice_names(*o), want.choices) << want.keyword;
    for (const auto& c : o->choices) EXPECT_EQ(c.option, o) << want.keyword;
  }
  EXPECT_EQ(general.options.size(), 5u);

  const ppd_choice_t* c = ppdFindChoice(ppdFindOption(ppd.get(), "duplex"), "duplexnotumble");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->text, "Long Edge");
  EXPECT_EQ(c->code, "<</Duplex true/Tumble false>>setpagedevice");
  EXPECT_EQ(ppdFindChoice(ppdFindOption(ppd.get(), "PageRegion"), "A4")->text, "A4");
  EXPECT_EQ(ppdFindOption(ppd.get(), "NoSuchOption"), nullptr);
  EXPECT_EQ(ppdFindChoice(ppdFindOption(ppd.get(), "Duplex"), "Sideways"), nullptr);
}

TEST(PpdRead, PageSizes) {
  auto ppd = open_fixture("basic.ppd");
  ASSERT_TRUE(ppd);
  const struct { const char* name; float w, l, left, bottom, right, top; } sizes[] = {
      {"Letter", 612, 792, 18, 36, 594, 756},
      {"A4", 595, 842, 18.5, 36, 576.5, 806},
      {"Tabloid", 792, 1224, 0, 0, 792, 1224},  // no *ImageableArea: the whole sheet
  };
  ASSERT_EQ(ppd->sizes.size(), std::size(sizes));
  for (size_t i = 0; i < std::size(sizes); i++) {
    const ppd_size_t& s = ppd->sizes[i];
    EXPECT_EQ(s.name, sizes[i].name);
    EXPECT_FLOAT_EQ(s.width, sizes[i].w) << s.name;
    EXPECT_FLOAT_EQ(s.length, sizes[i].l) << s.name;
    EXPECT_FLOAT_EQ(s.left, sizes[i].left) << s.name;
    EXPECT_FLOAT_EQ(s.bottom, sizes[i].bottom) << s.name;
    EXPECT_FLOAT_EQ(s.right, sizes[i].right) << s.name;
    EXPECT_FLOAT_EQ(s.top, sizes[i].top) << s.name;
  }
}

// A custom size may be listed as a choice; it is not added a second time and
// the other sizes keep their own areas.
TEST(PpdRead, CustomSizeListedAsAChoice) {
  auto ppd = open_fixture("custom_listed.ppd");
  ASSERT_TRUE(ppd) << ppdErrorString(ppdLastError(nullptr));
  EXPECT_TRUE(ppd->variable_sizes);
  const ppd_option_t* page = ppdFindOption(ppd.get(), "PageSize");
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(choice_names(*page), "Custom,Letter");
  EXPECT_EQ(page->choices[0].code, "vornCustomSize");
  EXPECT_EQ(page->choices[0].text, "Your Size");
  ASSERT_EQ(ppd->sizes.size(), 2u);
  EXPECT_EQ(ppd->sizes[0].name, "Custom");
  const ppd_size_t& letter = ppd->sizes[1];
  EXPECT_FLOAT_EQ(letter.right, 612);
  EXPECT_FLOAT_EQ(letter.top, 792);
}

TEST(PpdRead, Attributes) {
  auto ppd = open_fixture("basic.ppd");
  ASSERT_TRUE(ppd);
  ASSERT_FALSE(ppd->attrs.empty());
  EXPECT_EQ(ppd->attrs[0].name, "PPD-Adobe");
  EXPECT_EQ(ppd->attrs[0].value, "4.3");

  const struct { const char* name; const char* option; const char* value; } found[] = {
      {"vornFax", nullptr, "False"},
      {"vornProtocol", nullptr, "TBCP"},
      {"DefaultImageableArea", nullptr, "A4"},
      {"DefaultPaperDimension", nullptr, "A4"},
      {"PaperDimension", "A4", "595 842"},
      {"paperdimension", "letter", "612 792"},  // any case
      {"NickName", nullptr, "Vorn Laser 1200 <28>test<29>"},  // as written
      {"OrderDependency", nullptr, "10 AnySetup *PageSize"},
      {"?Duplex", nullptr, "save (None) = restore"},
      {"Font", "Helvetica", "Standard \"(001.006S)\" Standard ROM"},
      {"LanguageVersion", nullptr, "English"},
  };
  for (const auto& f : found) {
    const ppd_attr_t* a = ppdFindAttr(ppd.get(), f.name, f.option);
    ASSERT_NE(a, nullptr) << f.name;
    EXPECT_EQ(a->value, f.value) << f.name;
  }
  const struct { const char* name; const char* option; } missing[] = {
      {"PageSize", nullptr},     // choices of an open option are not attributes
      {"OpenUI", nullptr},       // nor is the structure
      {"CloseGroup", nullptr},
      {"PaperDimension", "Tabloid2"},
      {"vornMissing", nullptr},
  };
  for (const auto& m : missing) EXPECT_EQ(ppdFindAttr(ppd.get(), m.name, m.option), nullptr) << m.name;

  const ppd_attr_t* f1 = ppdFindAttr(ppd.get(), "vornFilter", nullptr);
  ASSERT_NE(f1, nullptr);
  EXPECT_EQ(f1->value, "application/vnd.vorn-raster 50 rastertovl");
  const ppd_attr_t* f2 = ppdFindNextAttr(ppd.get(), "vornFilter", nullptr, f1);
  ASSERT_NE(f2, nullptr);
  EXPECT_EQ(f2->value, "application/pdf 10 pdftovl");
  EXPECT_EQ(ppdFindNextAttr(ppd.get(), "vornFilter", nullptr, f2), nullptr);

  // Next with an option keyword skips the other ones, in file order.
  const ppd_attr_t* d1 = ppdFindAttr(ppd.get(), "PaperDimension", nullptr);
  ASSERT_NE(d1, nullptr);
  EXPECT_EQ(d1->option, "Letter");
  const ppd_attr_t* d3 = ppdFindNextAttr(ppd.get(), "PaperDimension", "Tabloid", d1);
  ASSERT_NE(d3, nullptr);
  EXPECT_EQ(d3->value, "792 1224");
  EXPECT_EQ(ppdFindNextAttr(ppd.get(), "PaperDimension", "Letter", d1), nullptr);
}

TEST(PpdRead, ValueKinds) {
  auto ppd = open_fixture("values.ppd");
  ASSERT_TRUE(ppd) << ppdErrorString(ppdLastError(nullptr));
  EXPECT_EQ(ppd->patches, "\n%% first patch\n/vornPatched true def\n(second) pop");
  const struct { const char* name; std::string value; } attrs[] = {
      {"vornSetupCode", "<</Setup true>>setpagedevice"},  // symbol replaced
      {"vornWords", "several words   here"},               // string value, trimmed
      {"vornNote", "<3C3C>"},                              // PostScript: kept
      {"vornEmpty", ""},
      {"vornMulti", "a\nb\n\nc"},
      {"ShortNickName", "Short<20>Name"},
  };
  for (const auto& a : attrs) {
    const ppd_attr_t* found = ppdFindAttr(ppd.get(), a.name, nullptr);
    ASSERT_NE(found, nullptr) << a.name;
    EXPECT_EQ(found->value, a.value) << a.name;
  }
  EXPECT_EQ(ppd->shortnickname, "Short Name");  // a text field: decoded
  const ppd_attr_t* note = ppdFindAttr(ppd.get(), "vornNote", "Greeting");
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->text, "Caf\xE9 \"Bar\"");

  // Translations are cut to 80 bytes, never inside a UTF-8 character.
  const ppd_attr_t* lng = ppdFindAttr(ppd.get(), "vornLong", nullptr);
  ASSERT_NE(lng, nullptr);
  std::string want = "a";
  for (int i = 0; i < 39; i++) want += "\xC3\xA9";
  EXPECT_EQ(lng->text, want);

  const ppd_option_t* res = ppdFindOption(ppd.get(), "Resolution");
  ASSERT_NE(res, nullptr);
  EXPECT_EQ(res->text, "Output Resolution");
  EXPECT_EQ(choice_names(*res), "300dpi,600dpi");  // the repeated choice is dropped
  EXPECT_EQ(res->choices[0].code, "<</Setup true>>setpagedevice");
  EXPECT_EQ(res->choices[1].code, "\n<</HWResolution[600 600]>>\nsetpagedevice");
  EXPECT_EQ(res->choices[1].text, "600 DPI");
  EXPECT_EQ(ppd->groups.size(), 1u);  // an option outside any group
  EXPECT_EQ(ppd->groups[0].name, "General");
}

// Lines may end with LF, CR LF or CR; values and line numbers are the same.
TEST(PpdRead, LineEndings) {
  const std::string values = read_file(fixture("values.ppd"));
  const std::string bad = read_file(fixture("err_asterisk.ppd"));
  for (const char* eol : {"\n", "\r\n", "\r"}) {
    auto convert = [&](const std::string& s) {
      std::string out;
      for (char c : s) out += c == '\n' ? std::string(eol) : std::string(1, c);
      return out;
    };
    auto ppd = open_text(convert(values));
    ASSERT_TRUE(ppd) << int(eol[0]) << " " << ppdErrorString(ppdLastError(nullptr));
    EXPECT_EQ(ppd->patches, "\n%% first patch\n/vornPatched true def\n(second) pop");
    EXPECT_EQ(ppdFindAttr(ppd.get(), "vornMulti", nullptr)->value, "a\nb\n\nc");
    EXPECT_EQ(ppdFindAttr(ppd.get(), "vornWords", nullptr)->value, "several words   here");
    int line = 0;
    EXPECT_FALSE(open_text(convert(bad)));
    EXPECT_EQ(ppdLastError(&line), PPD_MISSING_ASTERISK);
    EXPECT_EQ(line, 3);
  }
}

TEST(PpdRead, JobControlValuesAreDecoded) {
  auto ppd = open_fixture("jcl.ppd");
  ASSERT_TRUE(ppd) << ppdErrorString(ppdLastError(nullptr));
  EXPECT_EQ(ppd->jcl_begin, "\x1b%-12345X@PJL JOB\n");
  EXPECT_EQ(ppd->jcl_ps, "@PJL ENTER LANGUAGE = POSTSCRIPT\n");
  EXPECT_EQ(ppd->jcl_end, "\x1b%-12345X@PJL EOJ\n\x1b%-12345X");
  const ppd_option_t* o = ppdFindOption(ppd.get(), "JCLEconomode");
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->section, PPD_ORDER_JCL);
  EXPECT_EQ(o->ui, PPD_UI_BOOLEAN);
  EXPECT_EQ(o->choices[0].code, "@PJL SET ECONOMODE = ON\n");
  EXPECT_EQ(ppdFindAttr(ppd.get(), "JCLBegin", nullptr)->value, "<1B>%-12345X@PJL JOB<0A>");
}

TEST(PpdRead, IncludeIsRelativeToTheIncludingFile) {
  auto ppd = open_fixture("include_main.ppd");
  ASSERT_TRUE(ppd) << ppdErrorString(ppdLastError(nullptr));
  ASSERT_EQ(ppd->groups.size(), 1u);
  EXPECT_EQ(ppd->groups[0].name, "Paper");
  ASSERT_EQ(ppd->groups[0].options.size(), 1u);  // declared inside the included file
  const ppd_option_t& tray = ppd->groups[0].options[0];
  EXPECT_EQ(tray.keyword, "Tray");
  EXPECT_EQ(tray.defchoice, "Lower");  // the default written after the *Include
  ASSERT_NE(ppdFindAttr(ppd.get(), "vornDeep", nullptr), nullptr);  // two levels down
  EXPECT_EQ(ppdFindAttr(ppd.get(), "Include", nullptr), nullptr);

  // A stream has no folder of its own: names are relative to the current one.
  const fs::path old = fs::current_path();
  for (bool in_fixture_dir : {true, false}) {
    fs::current_path(in_fixture_dir ? fs::path(fixture("")) : old);
    FILE* fp = fopen(fixture("include_main.ppd").c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    vorn::ppd_file_ptr p(ppdOpen(fp));
    fclose(fp);
    int line = 0;
    if (in_fixture_dir) {
      EXPECT_TRUE(p);
    } else {
      EXPECT_FALSE(p);
      EXPECT_EQ(ppdLastError(&line), PPD_BAD_INCLUDE);
      EXPECT_EQ(line, 4);
    }
  }
  fs::current_path(old);
}

TEST(PpdRead, GzipIsReadTransparently) {
  TempDir dir;
  const std::string text = read_file(fixture("basic.ppd"));
  const std::string gz = dir.file("basic.ppd.gz");
  write_gzip(gz, text);

  // Two gzip members one after the other read as one file.
  const size_t half = text.find('\n', text.size() / 2) + 1;
  write_gzip(dir.file("a.gz"), text.substr(0, half));
  write_gzip(dir.file("b.gz"), text.substr(half));
  write_file(dir.file("two.ppd.gz"), read_file(dir.file("a.gz")) + read_file(dir.file("b.gz")));

  // Cut short: the compressed data ends early.
  const std::string whole = read_file(gz);
  write_file(dir.file("cut.ppd.gz"), whole.substr(0, whole.size() / 2));
  // Whole, but the trailer's checksum does not match the data.
  std::string bad_crc = whole;
  bad_crc[whole.size() - 8] = char(~bad_crc[whole.size() - 8]);
  write_file(dir.file("crc.ppd.gz"), bad_crc);

  using opener = std::function<ppd_file_t*(const std::string&)>;
  const struct { const char* how; opener open; } ways[] = {
      {"file", [](const std::string& p) { return ppdOpenFile(p.c_str()); }},
      {"fd", [](const std::string& p) {
         int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
         ppd_file_t* ppd = ppdOpenFd(fd);
         EXPECT_NE(fcntl(fd, F_GETFD), -1) << "the caller's descriptor stays open";
         ::close(fd);
         return ppd;
       }},
      {"stream", [](const std::string& p) {
         FILE* fp = fopen(p.c_str(), "rb");
         ppd_file_t* ppd = ppdOpen(fp);
         fclose(fp);
         return ppd;
       }},
  };
  for (const auto& way : ways) {
    for (const char* name : {"basic.ppd.gz", "two.ppd.gz"}) {
      vorn::ppd_file_ptr ppd(way.open(dir.file(name)));
      ASSERT_TRUE(ppd) << way.how << " " << name;
      EXPECT_EQ(ppd->nickname, "Vorn Laser 1200 (test)") << way.how;
      EXPECT_EQ(ppd->attrs.size(), open_fixture("basic.ppd")->attrs.size()) << way.how;
      EXPECT_NE(ppdFindAttr(ppd.get(), "vornColorProfile", nullptr), nullptr) << way.how << name;
    }
    for (const char* name : {"cut.ppd.gz", "crc.ppd.gz"}) {
      vorn::ppd_file_ptr bad(way.open(dir.file(name)));
      EXPECT_FALSE(bad) << way.how << " " << name;
      EXPECT_EQ(ppdLastError(nullptr), PPD_FILE_OPEN_ERROR) << way.how << " " << name;
    }
  }
}

// A stream or descriptor is read from where it stands.
TEST(PpdRead, ReadsFromTheCurrentPosition) {
  TempDir dir;
  write_file(dir.file("x"), "leading line\n" + read_file(fixture("basic.ppd")));
  FILE* fp = fopen(dir.file("x").c_str(), "rb");
  ASSERT_NE(fp, nullptr);
  char line[64];
  ASSERT_NE(fgets(line, sizeof line, fp), nullptr);
  vorn::ppd_file_ptr ppd(ppdOpen(fp));
  fclose(fp);
  ASSERT_TRUE(ppd) << ppdErrorString(ppdLastError(nullptr));
  EXPECT_EQ(ppd->modelname, "Vorn Laser 1200");

  int fd = ::open(dir.file("x").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(lseek(fd, 13, SEEK_SET), 13);
  vorn::ppd_file_ptr from_fd(ppdOpenFd(fd));
  ::close(fd);
  EXPECT_TRUE(from_fd) << ppdErrorString(ppdLastError(nullptr));
}

TEST(PpdRead, OpenFailures) {
  errno = 0;
  EXPECT_EQ(ppdOpenFile("/nonexistent-dir/x.ppd"), nullptr);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(ppdLastError(nullptr), PPD_FILE_OPEN_ERROR);
  EXPECT_EQ(ppdOpen(nullptr), nullptr);
  EXPECT_EQ(ppdLastError(nullptr), PPD_NULL_FILE);
  EXPECT_EQ(ppdOpenFd(-1), nullptr);
  EXPECT_EQ(ppdLastError(nullptr), PPD_NULL_FILE);
  EXPECT_EQ(ppdOpenFile(nullptr), nullptr);
  EXPECT_EQ(ppdLastError(nullptr), PPD_NULL_FILE);

  int line = -1;
  EXPECT_FALSE(open_text(""));
  EXPECT_EQ(ppdLastError(&line), PPD_MISSING_PPDADOBE);
  EXPECT_EQ(line, 0);
  EXPECT_FALSE(open_text("\n*% only a comment\n"));
  EXPECT_EQ(ppdLastError(&line), PPD_MISSING_PPDADOBE);
  EXPECT_EQ(line, 2);

  EXPECT_TRUE(open_fixture("basic.ppd"));
  EXPECT_EQ(ppdLastError(nullptr), PPD_OK);
}

TEST(PpdRead, ErrorsStopWithTheirLine) {
  const struct { const char* file; ppd_status_t status; int line; } cases[] = {
      {"err_header.ppd", PPD_MISSING_PPDADOBE, 2},
      {"err_value_unterminated.ppd", PPD_BAD_VALUE, 3},
      {"err_value_missing.ppd", PPD_BAD_VALUE, 3},
      {"err_value_number.ppd", PPD_BAD_VALUE, 2},
      {"err_value_bool.ppd", PPD_BAD_VALUE, 2},
      {"err_value_after_quote.ppd", PPD_BAD_VALUE, 2},
      {"err_value_symbol.ppd", PPD_BAD_VALUE, 2},
      {"err_value_hex.ppd", PPD_BAD_VALUE, 2},
      {"err_group_close.ppd", PPD_BAD_OPEN_GROUP, 2},
      {"err_group_unclosed.ppd", PPD_BAD_OPEN_GROUP, 5},
      {"err_group_nested.ppd", PPD_NESTED_OPEN_GROUP, 3},
      {"err_subgroup_outside.ppd", PPD_BAD_OPEN_GROUP, 2},
      {"err_ui_type.ppd", PPD_BAD_OPEN_UI, 2},
      {"err_ui_unclosed.ppd", PPD_BAD_OPEN_UI, 3},
      {"err_ui_mismatch.ppd", PPD_BAD_OPEN_UI, 3},
      {"err_ui_jcl_mismatch.ppd", PPD_BAD_OPEN_UI, 3},
      {"err_ui_twice.ppd", PPD_BAD_OPEN_UI, 4},
      {"err_ui_nested.ppd", PPD_NESTED_OPEN_UI, 3},
      {"err_order.ppd", PPD_BAD_ORDER_DEPENDENCY, 3},
      {"err_constraints.ppd", PPD_BAD_UI_CONSTRAINTS, 2},
      {"err_asterisk.ppd", PPD_MISSING_ASTERISK, 3},
      {"err_line_long.ppd", PPD_LINE_TOO_LONG, 2},
      {"err_control.ppd", PPD_ILLEGAL_CHARACTER, 2},
      {"err_main_keyword.ppd", PPD_ILLEGAL_MAIN_KEYWORD, 2},
      {"err_option_keyword.ppd", PPD_ILLEGAL_OPTION_KEYWORD, 2},
      {"err_option_missing.ppd", PPD_ILLEGAL_OPTION_KEYWORD, 2},
      {"err_translation.ppd", PPD_ILLEGAL_TRANSLATION, 2},
      {"err_include_missing.ppd", PPD_BAD_INCLUDE, 3},
      {"err_include_loop.ppd", PPD_INCLUDE_TOO_DEEP, 2},  // in the deepest file
  };
  for (const auto& c : cases) {
    auto ppd = open_fixture(c.file);
    EXPECT_FALSE(ppd) << c.file;
    int line = -1;
    EXPECT_EQ(ppdLastError(&line), c.status) << c.file;
    EXPECT_EQ(line, c.line) << c.file;
  }
}

// The limits at their edges: the last size that is read and the first that is not.
TEST(PpdRead, Limits) {
  const std::string head = "*PPD-Adobe: \"4.3\"\n";
  auto line_of = [](std::string prefix, size_t length) {
    return prefix + std::string(length - prefix.size(), 'w') + "\n";
  };
  const struct { std::string text; ppd_status_t status; } cases[] = {
      {head + line_of("*vornWords: ", PPD_MAX_LINE), PPD_OK},
      {head + line_of("*vornWords: ", PPD_MAX_LINE + 1), PPD_LINE_TOO_LONG},
      {head + line_of("*% ", PPD_MAX_LINE + 1), PPD_LINE_TOO_LONG},
      {head + "*" + std::string(PPD_MAX_NAME, 'K') + ": x\n", PPD_OK},
      {head + "*" + std::string(PPD_MAX_NAME + 1, 'K') + ": x\n", PPD_ILLEGAL_MAIN_KEYWORD},
      {head + "*vornX " + std::string(PPD_MAX_NAME, 'o') + ": x\n", PPD_OK},
      {head + "*vornX " + std::string(PPD_MAX_NAME + 1, 'o') + ": x\n", PPD_ILLEGAL_OPTION_KEYWORD},
      // A quoted value is not held to the line length, only to its own bound.
      {head + "*vornCode: \"" + std::string(PPD_MAX_VALUE, 'v') + "\"\n", PPD_OK},
      {head + "*vornCode: \"" + std::string(PPD_MAX_VALUE + 1, 'v') + "\"\n", PPD_VALUE_TOO_LONG},
      {head + "*vornCode: \"" + std::string(PPD_MAX_VALUE / 2, 'v') + "\n" +
           std::string(PPD_MAX_VALUE / 2, 'v') + "\"\n", PPD_VALUE_TOO_LONG},  // with the "\n"
      {head + "*vornCode: \"" + std::string(PPD_MAX_VALUE / 2, 'v') + "\n" +
           std::string(PPD_MAX_VALUE / 2 - 1, 'v') + "\"\n", PPD_OK},
  };
  for (size_t i = 0; i < std::size(cases); i++) {
    auto ppd = open_text(cases[i].text);
    int line = 0;
    EXPECT_EQ(ppdLastError(&line), cases[i].status) << i;
    EXPECT_EQ(bool(ppd), cases[i].status == PPD_OK) << i;
    if (cases[i].status != PPD_OK) {
      EXPECT_GE(line, 2) << i;
    }
  }
  // A NUL byte inside a quoted value is refused; PPD values are text.
  std::string nul = head + "*vornCode: \"a";
  nul += '\0';
  nul += "b\"\n";
  EXPECT_FALSE(open_text(nul));
  EXPECT_EQ(ppdLastError(nullptr), PPD_ILLEGAL_CHARACTER);
}

// Decompressed input is bounded too: a small gzip file of 33 MB of comments.
TEST(PpdRead, FileSizeIsBounded) {
  TempDir dir;
  gzFile gz = gzopen(dir.file("big.ppd.gz").c_str(), "wb9");
  ASSERT_NE(gz, nullptr);
  gzputs(gz, "*PPD-Adobe: \"4.3\"\n");
  const std::string comment = "*%" + std::string(200, 'c') + "\n";
  for (size_t written = 0; written <= PPD_MAX_FILE; written += comment.size())
    ASSERT_EQ(gzwrite(gz, comment.data(), unsigned(comment.size())), int(comment.size()));
  gzclose(gz);
  errno = 0;
  EXPECT_EQ(ppdOpenFile(dir.file("big.ppd.gz").c_str()), nullptr);
  EXPECT_EQ(ppdLastError(nullptr), PPD_FILE_OPEN_ERROR);
  EXPECT_EQ(errno, EFBIG);
}

TEST(PpdRead, ErrorStrings) {
  std::set<std::string> seen;
  for (int s = PPD_OK; s <= PPD_VALUE_TOO_LONG; s++) {
    std::string text = ppdErrorString(ppd_status_t(s));
    EXPECT_FALSE(text.empty()) << s;
    EXPECT_NE(text, "Unknown error") << s;
    EXPECT_TRUE(seen.insert(text).second) << "repeated text for " << s;
  }
  EXPECT_STREQ(ppdErrorString(ppd_status_t(PPD_VALUE_TOO_LONG + 1)), "Unknown error");
  EXPECT_STREQ(ppdErrorString(ppd_status_t(-1)), "Unknown error");
}

}  // namespace
