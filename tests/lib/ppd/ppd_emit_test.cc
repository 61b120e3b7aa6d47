// What ppdEmit, ppdEmitFd and ppdEmitJCL write for each section, byte for
// byte, and the order ppdCollect gives.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "vorn/ppd.h"

namespace {

vorn::ppd_file_ptr open_fixture(const std::string& name) {
  std::string path = std::string(VORN_SOURCE_DIR) + "/tests/fixtures/ppd/" + name;
  vorn::ppd_file_ptr ppd(ppdOpenFile(path.c_str()));
  if (ppd) ppdMarkDefaults(ppd.get());
  return ppd;
}

std::string feature(const std::string& name, const std::string& code) {
  return "[{\n%%BeginFeature: *" + name + "\n" + code + "%%EndFeature\n} stopped cleartomark\n";
}

// Everything a FILE* received.
template <typename F>
std::string captured(F&& write) {
  FILE* fp = tmpfile();
  if (!fp) return "<no tmpfile>";
  write(fp);
  std::string out;
  rewind(fp);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, fp)) > 0) out.append(buf, n);
  fclose(fp);
  return out;
}

const char* section_name(ppd_section_t s) {
  static const char* const names[] = {"AnySetup", "DocumentSetup", "ExitServer",
                                      "JCLSetup", "PageSetup", "Prolog"};
  return names[s];
}

TEST(PpdEmit, EachSectionOfTheDefaults) {
  auto ppd = open_fixture("order.ppd");
  ASSERT_TRUE(ppd) << ppdErrorString(ppdLastError(nullptr));
  const struct { ppd_section_t section; std::string want; } cases[] = {
      {PPD_ORDER_EXIT, "serverdict begin 0 exitserver\n"},
      // Prolog code as written, lowest order first; a code ending in a line
      // end gets no second one.
      {PPD_ORDER_PROLOG, "/vornScreen 106 def\n/vornSmooth true def\n"},
      // 15.5 before 40; the two at 40 in file order; empty code, no blank line.
      {PPD_ORDER_DOCUMENT, feature("Toner Save", "") +
                               feature("MediaType Plain", "<</MediaType(Plain)>>setpagedevice\n") +
                               feature("Darkness Normal", "2 vornDarkness\n")},
      {PPD_ORDER_PAGE, feature("Watermark Draft", "(DRAFT) vornMark\n")},
      {PPD_ORDER_ANY, feature("Economode False", "false vornEco\n")},  // no *OrderDependency
      {PPD_ORDER_JCL, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ppdEmitString(ppd.get(), c.section), c.want) << section_name(c.section);
    EXPECT_EQ(captured([&](FILE* fp) { EXPECT_EQ(ppdEmit(ppd.get(), fp, c.section), 0); }), c.want)
        << section_name(c.section);
  }

  ppdMarkOption(ppd.get(), "MediaType", "Glossy");
  ppdMarkOption(ppd.get(), "Smooth", "False");
  EXPECT_EQ(ppdEmitString(ppd.get(), PPD_ORDER_DOCUMENT),
            feature("Toner Save", "") +
                feature("MediaType Glossy", "<</MediaType(Glossy)>>setpagedevice\n") +
                feature("Darkness Normal", "2 vornDarkness\n"));
  EXPECT_EQ(ppdEmitString(ppd.get(), PPD_ORDER_PROLOG),
            "/vornScreen 106 def\n/vornSmooth false def\n");
}

TEST(PpdEmit, CollectOrdersBySection) {
  auto ppd = open_fixture("basic.ppd");
  ASSERT_TRUE(ppd);
  ppdMarkOption(ppd.get(), "StapleLocation", "TopLeft");
  ppdMarkOption(ppd.get(), "StapleLocation", "TopRight");
  const struct { ppd_section_t section; const char* want; } cases[] = {
      // PageRegion is left out while PageSize is marked.
      {PPD_ORDER_ANY, "PageSize=A4 InputSlot=Tray1"},
      {PPD_ORDER_DOCUMENT, "Collate=False Duplex=None OutputBin=Upper"},
      {PPD_ORDER_PAGE, "StapleLocation=TopLeft StapleLocation=TopRight"},
      {PPD_ORDER_PROLOG, ""},
      {PPD_ORDER_EXIT, ""},
      {PPD_ORDER_JCL, ""},
  };
  for (const auto& c : cases) {
    std::vector<ppd_choice_t*> choices{nullptr};  // replaced, not appended to
    int n = ppdCollect(ppd.get(), c.section, choices);
    std::string got;
    for (const ppd_choice_t* ch : choices)
      got += (got.empty() ? "" : " ") + ch->option->keyword + "=" + ch->choice;
    EXPECT_EQ(n, int(choices.size()));
    EXPECT_EQ(got, c.want) << section_name(c.section);
  }
  EXPECT_EQ(ppdEmitString(ppd.get(), PPD_ORDER_ANY),
            feature("PageSize A4", "<</PageSize[595 842]>>setpagedevice\n") +
                feature("InputSlot Tray1", "<</MediaPosition 0>>setpagedevice\n"));

  // Without a PageSize choice PageRegion is sent.
  for (auto& c : ppdFindOption(ppd.get(), "PageSize")->choices) c.marked = false;
  std::vector<ppd_choice_t*> choices;
  ASSERT_EQ(ppdCollect(ppd.get(), PPD_ORDER_ANY, choices), 2);
  EXPECT_EQ(choices[0]->option->keyword, "PageRegion");
}

TEST(PpdEmit, CustomPageSize) {
  auto ppd = open_fixture("custom.ppd");
  ASSERT_TRUE(ppd);
  const std::string code =
      "pop pop pop\n<</PageSize[5 -2 roll]/ImagingBBox null>>setpagedevice\n";
  // Height comes first: its *ParamCustomPageSize order is 1.
  const struct { const char* size; std::string params; } cases[] = {
      {"Custom.4x6in", "432 288 0 0 0\n"},
      {"Custom.100.5x200", "200 100.5 0 0 0\n"},
      {"Custom.210x297mm", "841.89 595.28 0 0 0\n"},
      {"Custom.72.004x72.006", "72.01 72 0 0 0\n"},
  };
  for (const auto& c : cases) {
    ppdMarkOption(ppd.get(), "PageSize", c.size);
    EXPECT_EQ(ppdEmitString(ppd.get(), PPD_ORDER_ANY),
              feature("CustomPageSize True", c.params + code))
        << c.size;
  }

  // No code and no parameters: the default order and the generic code.
  auto plain = open_fixture("custom_nocode.ppd");
  ASSERT_TRUE(plain);
  EXPECT_EQ(ppdEmitString(plain.get(), PPD_ORDER_PAGE),
            feature("PageSize A5", "<</PageSize[420 595]>>setpagedevice\n"));
  ppdMarkOption(plain.get(), "PageSize", "Custom.300x400");
  EXPECT_EQ(ppdEmitString(plain.get(), PPD_ORDER_PAGE),
            feature("CustomPageSize True", "300 400 0 0 0\n" + code));

  // A custom choice marked without a size has nothing to send.
  auto unset = open_fixture("custom_nocode.ppd");
  for (auto& c : ppdFindOption(unset.get(), "PageSize")->choices) c.marked = c.choice == "Custom";
  EXPECT_EQ(ppdEmitString(unset.get(), PPD_ORDER_PAGE), "");
}

TEST(PpdEmit, JobControl) {
  auto ppd = open_fixture("jcl.ppd");
  ASSERT_TRUE(ppd) << ppdErrorString(ppdLastError(nullptr));
  const std::string settings = "@PJL SET DENSITY = 3\n@PJL SET ECONOMODE = ON\n";
  EXPECT_EQ(ppdEmitString(ppd.get(), PPD_ORDER_JCL), settings);  // order 5 before 10
  const std::string long_title(100, 't');
  const struct { int id; const char* user; const char* title; std::string header; } cases[] = {
      {42, "alice", "Report", "@PJL JOB NAME = \"Report\" DISPLAY = \"42 alice Report\"\n"},
      {7, "bob", "Say \"hi\"\tnow", "@PJL JOB NAME = \"Say 'hi'now\" DISPLAY = \"7 bob Say 'hi'now\"\n"},
      {1, nullptr, nullptr, "@PJL JOB NAME = \"\" DISPLAY = \"1  \"\n"},
      {2, "u", long_title.c_str(),
       "@PJL JOB NAME = \"" + std::string(80, 't') + "\" DISPLAY = \"2 u " + std::string(80, 't') +
           "\"\n"},
  };
  for (const auto& c : cases) {
    std::string got = captured(
        [&](FILE* fp) { EXPECT_EQ(ppdEmitJCL(ppd.get(), fp, c.id, c.user, c.title), 0); });
    EXPECT_EQ(got, "\x1b%-12345X" + c.header + settings + "@PJL ENTER LANGUAGE = POSTSCRIPT\n")
        << c.id;
  }

  ppdMarkOption(ppd.get(), "JCLEconomode", "False");
  EXPECT_EQ(ppdEmitString(ppd.get(), PPD_ORDER_JCL),
            "@PJL SET DENSITY = 3\n@PJL SET ECONOMODE = OFF\n");

  // A header without a JOB line of its own is written as it is.
  auto plain = open_fixture("jcl_plain.ppd");
  ASSERT_TRUE(plain);
  EXPECT_EQ(captured([&](FILE* fp) { ppdEmitJCL(plain.get(), fp, 3, "carol", "Memo"); }),
            "\x1b%-12345X@PJL\n@PJL SET JOBATTR=\"vorn\"\n@PJL ENTER LANGUAGE = POSTSCRIPT\n");

  // No *JCLBegin: nothing.
  auto none = open_fixture("basic.ppd");
  EXPECT_EQ(captured([&](FILE* fp) { EXPECT_EQ(ppdEmitJCL(none.get(), fp, 3, "u", "t"), 0); }), "");
}

TEST(PpdEmit, DescriptorsAndWriteErrors) {
  auto ppd = open_fixture("order.ppd");
  ASSERT_TRUE(ppd);
  const std::string want = ppdEmitString(ppd.get(), PPD_ORDER_DOCUMENT);
  ASSERT_FALSE(want.empty());

  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  EXPECT_EQ(ppdEmitFd(ppd.get(), fds[1], PPD_ORDER_DOCUMENT), 0);
  close(fds[1]);
  std::string got;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) got.append(buf, size_t(n));
  close(fds[0]);
  EXPECT_EQ(got, want);

  int ro = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(ro, 0);
  EXPECT_EQ(ppdEmitFd(ppd.get(), ro, PPD_ORDER_DOCUMENT), -1);
  close(ro);

  FILE* full = fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  setvbuf(full, nullptr, _IONBF, 0);
  EXPECT_EQ(ppdEmit(ppd.get(), full, PPD_ORDER_DOCUMENT), -1);
  auto jcl = open_fixture("jcl.ppd");
  EXPECT_EQ(ppdEmitJCL(jcl.get(), full, 1, "u", "t"), -1);
  fclose(full);

  // Nothing to write is never an error, even with no record.
  EXPECT_EQ(ppdEmit(nullptr, stdout, PPD_ORDER_DOCUMENT), 0);
  EXPECT_EQ(ppdEmitFd(nullptr, -1, PPD_ORDER_PAGE), 0);
  EXPECT_EQ(ppdEmitJCL(nullptr, stdout, 1, "u", "t"), 0);
  std::vector<ppd_choice_t*> choices;
  EXPECT_EQ(ppdCollect(nullptr, PPD_ORDER_ANY, choices), 0);
  EXPECT_EQ(ppdEmitString(nullptr, PPD_ORDER_ANY), "");
}

}  // namespace
