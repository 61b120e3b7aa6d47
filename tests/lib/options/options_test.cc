#include "vorn/options.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "vorn/ipp.h"

namespace {

// Renders an option list as "name=value|name=value" for compact expectations.
std::string render(const vorn_options_t& options) {
  std::string out;
  for (const auto& o : options) {
    if (!out.empty()) out += '|';
    out += o.name + "=" + o.value;
  }
  return out;
}

TEST(ParseOptions, Forms) {
  static const struct {
    const char* input;
    const char* expected;
  } cases[] = {
      {"", ""},
      {"   \t\n ", ""},
      {"copies=2", "copies=2"},
      {"  copies=2\tsides=two-sided-long-edge\n", "copies=2|sides=two-sided-long-edge"},
      // bare names and the "no" prefix
      {"landscape", "landscape=true"},
      {"nocollate", "collate=false"},
      {"NoCollate", "Collate=false"},
      {"no", "no=true"},
      {"nocollate=yes", "nocollate=yes"},  // with a value the name is taken as it is
      {"notice=1", "notice=1"},
      // quoting and escapes
      {"job-name='My Report'", "job-name=My Report"},
      {"job-name=\"My Report\"", "job-name=My Report"},
      {"a='x'\"y\"z", "a=xyz"},
      {"a=one' two 'three", "a=one two three"},
      {"a='it''s'", "a=its"},
      {"a=\"it's\"", "a=it's"},
      {"a='say \"hi\"'", "a=say \"hi\""},
      {"a=x\\ y b=1", "a=x y|b=1"},
      {"a='x\\'y'", "a=x'y"},
      {"a=\\\\", "a=\\"},
      {"a=x\\", "a=x"},  // a trailing backslash escapes nothing
      {"a=\"\"", "a="},
      // empty values and empty names
      {"raw=", "raw="},
      {"raw= prettyprint=", "raw=|prettyprint="},
      {"=x copies=1", "copies=1"},
      {"=", ""},
      // values that hold '='
      {"page-label=a=b", "page-label=a=b"},
      {"a==", "a=="},
      // unbalanced quotes run to the end of the input
      {"a='open b=2", "a=open b=2"},
      {"a=\"open", "a=open"},
      {"a=x b='", "a=x|b="},
      // a repeated name replaces, whatever its case
      {"copies=1 copies=3", "copies=3"},
      {"Copies=1 copies=3 media=a4", "Copies=3|media=a4"},
      {"collate nocollate", "collate=false"},
  };
  for (const auto& c : cases) {
    vorn_options_t options;
    int n = vornParseOptions(c.input, options);
    EXPECT_EQ(render(options), c.expected) << "input: " << c.input;
    EXPECT_EQ(n, int(options.size())) << "input: " << c.input;
  }
}

TEST(ParseOptions, AddsToAnExistingList) {
  vorn_options_t options;
  vornAddOption("copies", "1", options);
  vornAddOption("media", "a4", options);
  EXPECT_EQ(vornParseOptions("COPIES=5 sides=one-sided", options), 3);
  EXPECT_EQ(render(options), "copies=5|media=a4|sides=one-sided");
}

TEST(ParseOptions, GarbageDoesNotCrash) {
  static const char* inputs[] = {"'''''", "\"\\", "\\", "= = =", "a='\\", "\x01\x02=\xff\xfe",
                                 "a=b=c=d", "''=''"};
  for (const char* in : inputs) {
    vorn_options_t options;
    int n = vornParseOptions(in, options);
    EXPECT_EQ(n, int(options.size())) << in;
    for (const auto& o : options) EXPECT_FALSE(o.name.empty()) << in;
  }
  std::string with_nul("a=x\0y b=2", 9);
  vorn_options_t options;
  vornParseOptions(with_nul, options);
  EXPECT_EQ(options.size(), 2u);
}

TEST(ParseOptions, VeryLongInput) {
  // Many items, one huge value and a long unterminated quote.
  std::string many;
  for (int i = 0; i < 20000; i++) many += "o" + std::to_string(i % 500) + "=" + std::to_string(i) + " ";
  vorn_options_t options;
  EXPECT_EQ(vornParseOptions(many, options), 500);
  EXPECT_STREQ(vornGetOption("o499", options), "19999");

  std::string huge = "a=" + std::string(1 << 20, 'x');
  options.clear();
  vornParseOptions(huge, options);
  ASSERT_EQ(options.size(), 1u);
  EXPECT_EQ(options[0].value.size(), size_t(1) << 20);

  std::string open = "a='" + std::string(1 << 16, ' ');
  options.clear();
  vornParseOptions(open, options);
  ASSERT_EQ(options.size(), 1u);
  EXPECT_EQ(options[0].value.size(), size_t(1) << 16);
}

TEST(Options, AddGetFree) {
  vorn_options_t options;
  EXPECT_EQ(vornAddOption("PageSize", "A4", options), 1);
  EXPECT_EQ(vornAddOption("", "x", options), 1);  // no name, nothing added
  EXPECT_EQ(vornAddOption("pagesize", "Letter", options), 1);
  EXPECT_EQ(vornAddOption("copies", "", options), 2);

  EXPECT_STREQ(vornGetOption("PAGESIZE", options), "Letter");
  EXPECT_STREQ(vornGetOption("copies", options), "");
  EXPECT_EQ(vornGetOption("copie", options), nullptr);
  EXPECT_EQ(vornGetOption("", options), nullptr);

  vornFreeOptions(options);
  EXPECT_TRUE(options.empty());
  EXPECT_EQ(vornGetOption("copies", options), nullptr);
}

const char* tag_name(ipp_tag_t tag) {
  switch (tag) {
    case IPP_TAG_NOVALUE: return "no-value";
    case IPP_TAG_INTEGER: return "integer";
    case IPP_TAG_BOOLEAN: return "boolean";
    case IPP_TAG_ENUM: return "enum";
    case IPP_TAG_RESOLUTION: return "resolution";
    case IPP_TAG_RANGE: return "rangeOfInteger";
    case IPP_TAG_TEXT: return "textWithoutLanguage";
    case IPP_TAG_NAME: return "nameWithoutLanguage";
    case IPP_TAG_KEYWORD: return "keyword";
    case IPP_TAG_URI: return "uri";
    case IPP_TAG_MIMETYPE: return "mimeMediaType";
    default: return "other";
  }
}

// Renders the attributes of `ipp` as "group tag name=v1,v2" lines, with the
// group as op/job/printer and the value tag by its IPP name.
std::string render_ipp(ipp_t* ipp) {
  std::string out;
  for (ipp_attribute_t* a = ipp->attrs; a; a = a->next) {
    if (!out.empty()) out += '\n';
    out += a->group_tag == IPP_TAG_OPERATION ? "op"
           : a->group_tag == IPP_TAG_JOB     ? "job"
           : a->group_tag == IPP_TAG_PRINTER ? "printer"
                                             : "?";
    out += std::string(" ") + tag_name(a->value_tag) + " " + a->name + "=";
    for (size_t i = 0; i < a->values.size(); i++) {
      const ipp_value_t& v = a->values[i];
      if (i) out += ',';
      switch (a->value_tag) {
        case IPP_TAG_INTEGER:
        case IPP_TAG_ENUM: out += std::to_string(v.integer); break;
        case IPP_TAG_BOOLEAN: out += v.boolean ? "true" : "false"; break;
        case IPP_TAG_RANGE:
          out += std::to_string(v.range.lower) + "-" +
                 (v.range.upper == INT_MAX ? "MAX" : std::to_string(v.range.upper));
          break;
        case IPP_TAG_RESOLUTION:
          out += std::to_string(v.resolution.xres) + "x" + std::to_string(v.resolution.yres) +
                 (v.resolution.units == IPP_RES_PER_INCH ? "dpi" : "dpc");
          break;
        case IPP_TAG_NOVALUE: break;
        default: out += v.string.text;
      }
    }
  }
  return out;
}

std::string encode(const char* options) {
  vorn_options_t list;
  vornParseOptions(options, list);
  ipp_t* ipp = ippNew();
  vornEncodeOptions(ipp, list);
  std::string out = render_ipp(ipp);
  EXPECT_GT(ippLength(ipp), 0u) << "cannot be encoded: " << options;
  ippDelete(ipp);
  return out;
}

TEST(EncodeOptions, ValueKinds) {
  static const struct {
    const char* options;
    const char* expected;
  } cases[] = {
      // integers and enums
      {"copies=2", "job integer copies=2"},
      {"Copies=3", "job integer copies=3"},
      {"job-priority=100 number-up=4",
       "job integer job-priority=100\njob integer number-up=4"},
      {"orientation-requested=4", "job enum orientation-requested=4"},
      {"orientation-requested=reverse-landscape", "job enum orientation-requested=5"},
      {"finishings=4,staple,7", "job enum finishings=4,4,7"},
      {"print-quality=high", "job enum print-quality=5"},
      // booleans, in every spelling, and the bare-name forms
      {"collate=true", "job boolean collate=true"},
      {"nocollate", "job boolean collate=false"},
      {"landscape", "job boolean landscape=true"},
      {"landscape=yes mirror=OFF fitplot=on prettyprint=no",
       "job boolean landscape=true\njob boolean mirror=false\njob boolean fitplot=true\n"
       "job boolean prettyprint=false"},
      {"prettyprint=", "job boolean prettyprint=true"},
      // ranges
      {"page-ranges=1-5,7", "job rangeOfInteger page-ranges=1-5,7-7"},
      {"page-ranges=1-5,7,10-", "job rangeOfInteger page-ranges=1-5,7-7,10-MAX"},
      {"page-ranges=-2", "job rangeOfInteger page-ranges=1-2"},
      {"page-ranges='1-3, 6'", "job rangeOfInteger page-ranges=1-3,6-6"},
      {"page-ranges=5-1", "job rangeOfInteger page-ranges=5-1"},  // the server judges order
      // resolutions
      {"printer-resolution=600dpi", "job resolution printer-resolution=600x600dpi"},
      {"printer-resolution=300x600dpi", "job resolution printer-resolution=300x600dpi"},
      {"printer-resolution=118DPC", "job resolution printer-resolution=118x118dpc"},
      // keywords, names, texts
      {"sides=two-sided-long-edge", "job keyword sides=two-sided-long-edge"},
      {"media=na_letter_8.5x11in,Tray1", "job keyword media=na_letter_8.5x11in,Tray1"},
      {"job-name='Q3 report, final'", "job nameWithoutLanguage job-name=Q3 report, final"},
      {"job-sheets=standard,none", "job nameWithoutLanguage job-sheets=standard,none"},
      {"job-hold-until=indefinite", "job keyword job-hold-until=indefinite"},
      {"job-hold-until=23:30", "job nameWithoutLanguage job-hold-until=23:30"},
      {"job-originating-host-name=client.example",
       "job nameWithoutLanguage job-originating-host-name=client.example"},
      {"page-label='Top secret, do not copy'",
       "job textWithoutLanguage page-label=Top secret, do not copy"},
      // operation attributes
      {"document-format=application/postscript",
       "op mimeMediaType document-format=application/postscript"},
      {"compression=gzip", "op keyword compression=gzip"},
      // printer attributes of the administration requests
      {"printer-is-accepting-jobs=true printer-state=idle",
       "printer boolean printer-is-accepting-jobs=true\nprinter enum printer-state=3"},
      {"requesting-user-name-allowed=alice,bob",
       "printer nameWithoutLanguage requesting-user-name-allowed=alice,bob"},
      {"job-k-limit=1024 printer-info='Lab printer'",
       "printer integer job-k-limit=1024\nprinter textWithoutLanguage printer-info=Lab printer"},
      {"device-uri=socket://10.0.0.9:9100", "printer uri device-uri=socket://10.0.0.9:9100"},
      // unknown lower-case names: typed by their values
      {"gamma=1000", "job integer gamma=1000"},
      {"blackplot=false", "job boolean blackplot=false"},
      {"wrap=on", "job keyword wrap=on"},
      {"cpi=12.5", "job keyword cpi=12.5"},
      {"pages=2-4,8-", "job rangeOfInteger pages=2-4,8-MAX"},
      {"dpi=300x300dpi", "job resolution dpi=300x300dpi"},
      {"position=top-left", "job keyword position=top-left"},
      {"columns=1,2,3", "job integer columns=1,2,3"},
      {"mixed=1,x", "job keyword mixed=1,x"},
      {"note='two words'", "job nameWithoutLanguage note=two words"},
      // PPD options: the choice passes through as one keyword, the name as
      // a keyword (lower case; PPD names match without regard to case)
      {"PageSize=A4", "job keyword pagesize=A4"},
      {"Resolution=600dpi", "job keyword resolution=600dpi"},
      {"Collate=True", "job boolean collate=true"},
      {"Smoothing=On InputSlot=1", "job keyword smoothing=On\njob keyword inputslot=1"},
      {"Duplex=", "job no-value duplex="},
      // empty values
      {"raw=", "job no-value raw="},
      {"job-name=", "job nameWithoutLanguage job-name="},
      {"copies=", "job no-value copies="},
      // values that do not fit their type reach the server as words
      {"copies=many", "job keyword copies=many"},
      {"page-ranges=abc", "job keyword page-ranges=abc"},
      {"orientation-requested=sideways", "job keyword orientation-requested=sideways"},
      {"printer-resolution=fine", "job keyword printer-resolution=fine"},
      {"copies=99999999999", "job keyword copies=99999999999"},
  };
  for (const auto& c : cases) EXPECT_EQ(encode(c.options), c.expected) << c.options;
}

// Groups rise through the message whatever the order of the options (the
// scheduler refuses a request whose groups go back), and within a group the
// options keep their order.
TEST(EncodeOptions, GroupsRiseAndOrderIsKeptWithinAGroup) {
  EXPECT_EQ(encode("copies=1 PageSize=A4 document-format=text/plain job-sheets=none "
                   "printer-info=Lab compression=none"),
            "op mimeMediaType document-format=text/plain\nop keyword compression=none\n"
            "job integer copies=1\njob keyword pagesize=A4\njob nameWithoutLanguage job-sheets=none\n"
            "printer textWithoutLanguage printer-info=Lab");
}

TEST(EncodeOptions, Limits) {
  vorn_options_t list;
  std::string long_name(256, 'n');
  vornAddOption(long_name, "1", list);  // not an attribute name: skipped
  vornAddOption("job-name", std::string(300, 'a'), list);
  // 254 ASCII bytes and a two-byte character straddling the 255 limit.
  vornAddOption("job-originating-host-name", std::string(254, 'b') + "\xc3\xa9", list);
  vornAddOption("page-label", std::string(2000, 'c'), list);
  vornAddOption("note", std::string(2000, 'd'), list);
  ipp_t* ipp = ippNew();
  vornEncodeOptions(ipp, list);
  ASSERT_EQ(ippFindAttribute(ipp, long_name, IPP_TAG_ZERO), nullptr);
  ipp_attribute_t* a = ippFindAttribute(ipp, "job-name", IPP_TAG_NAME);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->values[0].string.text, std::string(255, 'a'));
  a = ippFindAttribute(ipp, "job-originating-host-name", IPP_TAG_NAME);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->values[0].string.text, std::string(254, 'b'));
  a = ippFindAttribute(ipp, "page-label", IPP_TAG_TEXT);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->values[0].string.text.size(), 1023u);
  a = ippFindAttribute(ipp, "note", IPP_TAG_TEXT);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->values[0].string.text.size(), 1023u);
  EXPECT_GT(ippLength(ipp), 0u);
  ippDelete(ipp);

  vornEncodeOptions(nullptr, list);  // no message: nothing to do, no crash
}

}  // namespace
