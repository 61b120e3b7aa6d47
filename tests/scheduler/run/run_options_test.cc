// What filters and backends receive: the options string, the argument
// vector and the environment built from a job.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "scheduler/conf/conf.h"
#include "scheduler/run/run.h"
#include "scheduler/types/types.h"
#include "vorn/options.h"

namespace {

using builder = std::function<void(ipp_t*)>;

ipp_ptr Attrs(const builder& fill) {
  ipp_ptr a(ippNew());
  fill(a.get());
  return a;
}

constexpr ipp_tag_t kJob = IPP_TAG_JOB;

// The four job- attributes a remote printer needs, and job-id.
void AddJobNames(ipp_t* a) {
  ippAddString(a, kJob, IPP_TAG_KEYWORD, "job-billing", "", "dept");
  ippAddStrings(a, kJob, IPP_TAG_NAME, "job-sheets", "", std::vector<std::string>{"standard", "none"});
  ippAddString(a, kJob, IPP_TAG_KEYWORD, "job-hold-until", "", "no-hold");
  ippAddInteger(a, kJob, IPP_TAG_INTEGER, "job-priority", 50);
  ippAddInteger(a, kJob, IPP_TAG_INTEGER, "job-id", 3);
}

TEST(JobOptionsString, WritesEachValueTypeAndLeavesOutWhatFiltersMustNotSee) {
  const struct {
    const char* what;
    builder fill;
    bool banner, remote;
    const char* options;
  } cases[] = {
      {"copies and job-name only fill argv; booleans as name or noname",
       [](ipp_t* a) {
         ippAddInteger(a, kJob, IPP_TAG_INTEGER, "copies", 2);
         ippAddString(a, kJob, IPP_TAG_NAME, "job-name", "", "report");
         ippAddString(a, kJob, IPP_TAG_KEYWORD, "sides", "", "two-sided-long-edge");
         ippAddBoolean(a, kJob, "collate", false);
         ippAddBoolean(a, kJob, "landscape", true);
       },
       false, false, "sides=two-sided-long-edge nocollate landscape"},
      {"integers, enums, lists",
       [](ipp_t* a) {
         ippAddInteger(a, kJob, IPP_TAG_INTEGER, "number-up", 4);
         ippAddIntegers(a, kJob, IPP_TAG_ENUM, "finishings", std::vector<int>{4, 5});
       },
       false, false, "number-up=4 finishings=4,5"},
      {"ranges: equal bounds as one number",
       [](ipp_t* a) {
         ippAddRanges(a, kJob, "page-ranges", std::vector<ipp_range_t>{{1, 5}, {7, 7}});
       },
       false, false, "page-ranges=1-5,7"},
      {"resolutions per inch and per centimetre",
       [](ipp_t* a) {
         ippAddResolution(a, kJob, "printer-resolution", IPP_RES_PER_INCH, 600, 300);
         ippAddResolution(a, kJob, "x-res", IPP_RES_PER_CM, 118, 118);
       },
       false, false, "printer-resolution=600x300dpi x-res=118x118dpc"},
      {"no-value names itself; a date contributes nothing",
       [](ipp_t* a) {
         ippAddOutOfBand(a, kJob, IPP_TAG_NOVALUE, "raw");
         ipp_date_t date{};
         ippAddDate(a, kJob, "when", date.data());
       },
       false, false, "raw=raw when="},
      {"text with white space is quoted, quotes and backslashes escaped",
       [](ipp_t* a) {
         ippAddString(a, kJob, IPP_TAG_TEXT, "page-label", "", "Top Secret");
         ippAddString(a, kJob, IPP_TAG_NAME, "owner", "", "o'neil");
         ippAddString(a, kJob, IPP_TAG_TEXT, "note", "", "a\tb\\c");
       },
       false, false, "page-label='Top Secret' owner=o\\'neil note='a\tb\\\\c'"},
      {"types that contribute nothing: mime type, with-language, uri, scheme, collection",
       [](ipp_t* a) {
         ippAddString(a, kJob, IPP_TAG_MIMETYPE, "document-format", "", "text/plain");
         ippAddString(a, kJob, IPP_TAG_TEXTLANG, "message", "en", "hi");
         ippAddString(a, kJob, IPP_TAG_NAMELANG, "who", "en", "ann");
         ippAddString(a, kJob, IPP_TAG_URI, "job-more", "", "http://x/");
         ippAddString(a, kJob, IPP_TAG_URI, "more", "", "http://x/");
         ippAddString(a, kJob, IPP_TAG_URISCHEME, "scheme", "", "http");
         ippAddCollection(a, kJob, "media-col", ippNew());
         ippAddString(a, kJob, IPP_TAG_KEYWORD, "media", "", "a4");
       },
       false, false, "media=a4"},
      {"other groups and time- names are left out",
       [](ipp_t* a) {
         ippAddString(a, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
         ippAddInteger(a, kJob, IPP_TAG_INTEGER, "time-at-creation", 5);
         ippAddInteger(a, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "pages", 5);
         ippAddString(a, kJob, IPP_TAG_CHARSET, "cs", "", "utf-8");
       },
       false, false, "cs=utf-8"},
      {"job- names stay out for a local printer",
       [](ipp_t* a) {
         AddJobNames(a);
       },
       false, false, ""},
      {"a remote printer gets the four it needs to queue the job, no other job- name",
       [](ipp_t* a) {
         AddJobNames(a);
         ippAddInteger(a, kJob, IPP_TAG_ENUM, "job-state", 3);
       },
       false, true, "job-billing=dept job-sheets=standard,none job-hold-until=no-hold job-priority=50"},
      {"a banner leaves out page decoration and number-up*",
       [](ipp_t* a) {
         ippAddString(a, kJob, IPP_TAG_TEXT, "page-label", "", "x");
         ippAddBoolean(a, kJob, "page-border", true);
         ippAddInteger(a, kJob, IPP_TAG_INTEGER, "number-up", 2);
         ippAddString(a, kJob, IPP_TAG_KEYWORD, "number-up-layout", "", "lrtb");
         ippAddString(a, kJob, IPP_TAG_KEYWORD, "sides", "", "one-sided");
       },
       true, false, "sides=one-sided"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ipp_ptr attrs = Attrs(c.fill);
    EXPECT_EQ(JobOptionsString(attrs.get(), c.banner, c.remote), c.options);
  }
}

TEST(JobOptionsString, TheOptionParserReadsBackEveryText) {
  const char* texts[] = {"plain", "two words", "it's", "say \"hi\" now", "back\\slash", "tab\there", "'", "a\nb"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    ipp_ptr a(ippNew());
    ippAddString(a.get(), kJob, IPP_TAG_TEXT, "label", "", text);
    ippAddString(a.get(), kJob, IPP_TAG_KEYWORD, "after", "", "kept");
    vorn_options_t parsed;
    vornParseOptions(JobOptionsString(a.get(), false, false), parsed);
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_STREQ(vornGetOption("label", parsed), text);
    EXPECT_STREQ(vornGetOption("after", parsed), "kept");
  }
}

class JobBuilders : public ::testing::Test {
 protected:
  void SetUp() override {
    printer_.name = "laser";
    printer_.device_uri = "socket://10.0.0.9:9100";
    job_.id = 42;
    job_.username = "ann";
    job_.dest = "laser";
    job_.attrs.reset(ippNew());
    type_.super = "text";
    type_.type = "plain";
    env_.server_bin = "/sb";
    env_.server_root = "/sr";
    env_.rip_cache = "8m";
    env_.temp_dir = "/tmp/t";
    env_.data_dir = "/dd";
    env_.font_path = "/fp";
  }
  ipp_t* a() { return job_.attrs.get(); }
  std::vector<std::string> Env(bool banner = false) { return JobEnvironment(&job_, &printer_, &type_, banner, env_); }
  // The value of NAME in `env`, or "(none)".
  static std::string Get(const std::vector<std::string>& env, const std::string& name) {
    for (const std::string& e : env)
      if (e.rfind(name + "=", 0) == 0) return e.substr(name.size() + 1);
    return "(none)";
  }

  printer_t printer_;
  job_t job_;
  TypeRecord type_;
  job_env_t env_;
};

TEST_F(JobBuilders, ArgumentsTakeTitleCopiesAndOptionsFromTheJob) {
  EXPECT_EQ(JobArguments(&job_, "laser", false, false),
            (std::vector<std::string>{"laser", "42", "ann", "laser-42", "1", ""}));

  ippAddInteger(a(), kJob, IPP_TAG_INTEGER, "copies", 2);
  ippAddString(a(), kJob, IPP_TAG_NAMELANG, "job-name", "en", "Quarterly");
  ippAddString(a(), kJob, IPP_TAG_KEYWORD, "sides", "", "two-sided-long-edge");
  ippAddBoolean(a(), kJob, "collate", false);
  EXPECT_EQ(JobArguments(&job_, "laser", false, false),
            (std::vector<std::string>{"laser", "42", "ann", "Quarterly", "2", "sides=two-sided-long-edge nocollate"}));
  // A banner is printed once.
  EXPECT_EQ(JobArguments(&job_, "laser", true, false)[4], "1");
}

TEST_F(JobBuilders, EnvironmentInOrder) {
  ippAddString(a(), IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
  ippAddString(a(), IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", "", "de-ch");
  env_.tz = "TZ=Europe/Zurich";
  env_.inherited = {"LD_LIBRARY_PATH=/l", "NLSPATH=/n"};
  EXPECT_EQ(Env(), (std::vector<std::string>{
                       "PATH=/sb/filter:/bin:/usr/bin", "SOFTWARE=VORN/1.1", "USER=root", "CHARSET=utf-8",
                       "LANG=de_CH", "TZ=Europe/Zurich", "PPD=/sr/ppd/laser.ppd", "VORN_SERVERROOT=/sr",
                       "RIP_MAX_CACHE=8m", "TMPDIR=/tmp/t", "CONTENT_TYPE=text/plain",
                       "DEVICE_URI=socket://10.0.0.9:9100", "PRINTER=laser", "VORN_DATADIR=/dd",
                       "VORN_FONTPATH=/fp", "LD_LIBRARY_PATH=/l", "NLSPATH=/n"}));
  // No TZ at start-up: no entry at all.
  env_.tz.clear();
  EXPECT_EQ(Get(Env(), "TZ"), "(none)");
}

TEST_F(JobBuilders, CharsetComesFromTheDocumentFormatFirst) {
  const struct {
    const char* format;  // nullptr: none
    const char* charset;
  } cases[] = {
      {nullptr, "iso-8859-1"},
      {"text/plain", "iso-8859-1"},
      {"text/plain;charset=utf-8", "utf-8"},
      {"text/plain; CHARSET=windows-1252", "windows-1252"},
      {"text/plain; charset=koi8-r; x=y", "koi8-r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format ? c.format : "(none)");
    job_.attrs.reset(ippNew());
    ippAddString(a(), IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "iso-8859-1");
    if (c.format) ippAddString(a(), IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", "", c.format);
    EXPECT_EQ(Get(Env(), "CHARSET"), c.charset);
  }
}

TEST(JobLanguage, TwoLettersStayLanguageCountryIsJoinedOtherwiseC) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"en", "en"}, {"pt-br", "pt_BR"}, {"de-CH", "de_CH"}, {"", "C"},
               {"english", "C"}, {"zh-hans", "C"}, {"x", "C"}, {"en_us", "C"}};
  for (const auto& c : cases) EXPECT_EQ(JobLanguage(c.in), c.out) << c.in;
}

TEST_F(JobBuilders, ClassificationAndClass) {
  const struct {
    const char* what;
    std::vector<std::string> sheets;  // empty: no job-sheets
    const char* classification;
    bool banner;
    const char* expected;
  } cases[] = {
      {"unset: none", {}, "", false, "(none)"},
      {"no job-sheets: the server's", {}, "secret", false, "secret"},
      {"one value", {"confidential"}, "secret", false, "confidential"},
      {"second is none: the first", {"confidential", "none"}, "secret", false, "confidential"},
      {"two values: the second", {"none", "topsecret"}, "secret", false, "topsecret"},
      {"a banner gets none", {"confidential"}, "secret", true, "(none)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    job_.attrs.reset(ippNew());
    if (!c.sheets.empty()) ippAddStrings(a(), kJob, IPP_TAG_NAME, "job-sheets", "", c.sheets);
    env_.classification = c.classification;
    EXPECT_EQ(Get(Env(c.banner), "CLASSIFICATION"), c.expected);
  }

  EXPECT_EQ(Get(Env(), "CLASS"), "(none)");
  job_.dest = "office";
  for (uint32_t bit : {PRINTER_CLASS, PRINTER_IMPLICIT}) {
    job_.dtype = bit;
    std::vector<std::string> env = Env();
    EXPECT_EQ(env.back(), "CLASS=office");
  }
}

}  // namespace
