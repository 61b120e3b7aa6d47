// The message model (adders, finding, removing, copying) and the names and
// dates that go with it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "vorn/ipp.h"

namespace {


std::string names(const ipp_t* ipp) {
  std::string s;
  for (const ipp_attribute_t* a = ipp->attrs; a; a = a->next) s += (a->name.empty() ? "|" : a->name) + " ";
  return s;
}

// a(keyword) b(integer) a(integer) c(name) a(keyword)
ipp_ptr sample() {
  ipp_ptr ipp(ippNew());
  ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "a", {}, "1");
  ippAddInteger(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "b", 2);
  ippAddInteger(ipp.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "a", 3);
  ippAddString(ipp.get(), IPP_TAG_JOB, IPP_TAG_NAME, "c", {}, "4");
  ippAddString(ipp.get(), IPP_TAG_JOB, IPP_TAG_KEYWORD, "a", {}, "5");
  return ipp;
}

TEST(IppModel, NewMessageDefaults) {
  ipp_ptr ipp(ippNew());
  EXPECT_EQ(IPP_IDLE, ipp->state);
  EXPECT_EQ(1, ipp->version[0]);
  EXPECT_EQ(1, ipp->version[1]);
  EXPECT_EQ(1, ipp->request_id);
  EXPECT_EQ(nullptr, ipp->attrs);
  EXPECT_EQ(9u, ippLength(ipp.get()));  // header and end tag
  ippDelete(nullptr);
}

TEST(IppModel, FindAndFindNext) {
  ipp_ptr ipp = sample();
  struct {
    ipp_tag_t type;
    const char* values;  // what successive finds of "a" give
  } cases[] = {
      {IPP_TAG_ZERO, "1 3 5 "},
      {IPP_TAG_KEYWORD, "1 5 "},
      {IPP_TAG_INTEGER, "3 "},
      {IPP_TAG_NAME, ""},
  };
  for (const auto& c : cases) {
    std::string got;
    int guard = 0;
    for (ipp_attribute_t* a = ippFindAttribute(ipp.get(), "a", c.type); a && guard < 10;
         a = ippFindNextAttribute(ipp.get(), "a", c.type), guard++) {
      got += (a->value_tag == IPP_TAG_INTEGER ? std::to_string(a->values[0].integer)
                                              : a->values[0].string.text) + " ";
      EXPECT_EQ(a, ipp->current);
    }
    EXPECT_EQ(c.values, got) << ippTagString(c.type);
  }
  EXPECT_EQ(nullptr, ippFindAttribute(ipp.get(), "A", IPP_TAG_ZERO)) << "names match exactly";
  EXPECT_EQ(nullptr, ippFindAttribute(ipp.get(), "", IPP_TAG_ZERO));
  EXPECT_EQ(nullptr, ippFindAttribute(nullptr, "a", IPP_TAG_ZERO));
}

TEST(IppModel, FreeAttribute) {
  struct {
    const char* remove;  // the n-th attribute named so, 0-based: "a0", "c0"...
    const char* left;
  } cases[] = {
      {"a0", "b a c a "},
      {"a2", "a b a c "},
      {"c0", "a b a a "},
      {"b0", "a a c a "},
  };
  for (const auto& c : cases) {
    ipp_ptr ipp = sample();
    std::string name(1, c.remove[0]);
    ipp_attribute_t* victim = ippFindAttribute(ipp.get(), name, IPP_TAG_ZERO);
    for (int i = 0; i < c.remove[1] - '0'; i++) victim = ippFindNextAttribute(ipp.get(), name, IPP_TAG_ZERO);
    ASSERT_NE(nullptr, victim) << c.remove;
    _ipp_free_attr(ipp.get(), victim);
    EXPECT_EQ(c.left, names(ipp.get())) << c.remove;
    // Appending still goes to the end, and a find-next walk goes on.
    ippAddInteger(ipp.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "z", 9);
    EXPECT_EQ(std::string(c.left) + "z ", names(ipp.get())) << c.remove;
    EXPECT_EQ("z", ipp->last->name);
  }
}

TEST(IppModel, FreeWhileWalking) {
  ipp_ptr ipp = sample();
  // Remove every "a" while walking with find/next.
  int guard = 0;
  for (ipp_attribute_t* a = ippFindAttribute(ipp.get(), "a", IPP_TAG_ZERO); a && guard < 10; guard++) {
    _ipp_free_attr(ipp.get(), a);
    a = ippFindNextAttribute(ipp.get(), "a", IPP_TAG_ZERO);
  }
  EXPECT_EQ("b c ", names(ipp.get()));
  // An attribute of another message is left alone.
  ipp_ptr other = sample();
  _ipp_free_attr(ipp.get(), other->attrs);
  EXPECT_EQ("a b a c a ", names(other.get()));
  EXPECT_EQ("b c ", names(ipp.get()));
}

TEST(IppModel, CopyAttributeIsDeep) {
  ipp_ptr src(ippNew());
  ipp_t* col = ippNew();
  ippAddString(col, IPP_TAG_ZERO, IPP_TAG_TEXTLANG, "t", "en", "hello");
  ippAddCollection(src.get(), IPP_TAG_PRINTER, "col", col);
  ipp_ptr dst(ippNew());
  ipp_attribute_t* copy = ippCopyAttribute(dst.get(), src->attrs);
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(IPP_TAG_PRINTER, copy->group_tag);
  EXPECT_EQ(IPP_TAG_BEGIN_COLLECTION, copy->value_tag);
  ASSERT_NE(col, copy->values[0].collection.get());
  src.reset();  // the copy must not depend on the original
  ipp_attribute_t* t = ippFindAttribute(copy->values[0].collection.get(), "t", IPP_TAG_TEXTLANG);
  ASSERT_NE(nullptr, t);
  EXPECT_EQ("en", t->values[0].string.language);
  EXPECT_EQ("hello", t->values[0].string.text);
  // Copying within one message appends.
  ippCopyAttribute(dst.get(), dst->attrs);
  EXPECT_EQ("col col ", names(dst.get()));
}

TEST(IppModel, AddersRefuseWhatTheyCannotHold) {
  ipp_ptr ipp(ippNew());
  EXPECT_EQ(nullptr, ippAddInteger(ipp.get(), IPP_TAG_JOB, IPP_TAG_NAME, "n", 1));
  EXPECT_EQ(nullptr, ippAddString(ipp.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "s", {}, "x"));
  EXPECT_EQ(nullptr, ippAddString(ipp.get(), IPP_TAG_JOB, IPP_TAG_MEMBERNAME, "s", {}, "x"));
  EXPECT_EQ(nullptr, ippAddString(ipp.get(), IPP_TAG_JOB, IPP_TAG_TEXT, "", {}, "x"));
  EXPECT_EQ(nullptr, ippAddOutOfBand(ipp.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "o"));
  EXPECT_EQ(nullptr, ippAddIntegers(ipp.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "none", {}));
  EXPECT_EQ(nullptr, ippAddInteger(nullptr, IPP_TAG_JOB, IPP_TAG_INTEGER, "n", 1));
  EXPECT_EQ(nullptr, ipp->attrs);
  // A refused collection is still freed (the sanitizer checks the leak).
  EXPECT_EQ(nullptr, ippAddCollection(ipp.get(), IPP_TAG_JOB, "", ippNew()));
}

TEST(IppModel, AddersCutToTheWireLimit) {
  ipp_ptr ipp(ippNew());
  std::string huge(40000, 'x');
  ipp_attribute_t* t = ippAddString(ipp.get(), IPP_TAG_JOB, IPP_TAG_TEXT, huge, {}, huge);
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(IPP_MAX_LENGTH, t->name.size());
  EXPECT_EQ(IPP_MAX_LENGTH, t->values[0].string.text.size());
  ipp_attribute_t* l = ippAddString(ipp.get(), IPP_TAG_JOB, IPP_TAG_TEXTLANG, "l", "en", huge);
  ASSERT_NE(nullptr, l);
  EXPECT_EQ(IPP_MAX_LENGTH, 4 + l->values[0].string.language.size() + l->values[0].string.text.size());
  EXPECT_GT(ippLength(ipp.get()), 0u) << "what the adders make can always be sent";
}

TEST(IppModel, StringsFromEveryKindOfArray) {
  ipp_ptr ipp(ippNew());
  const std::string v[] = {"a", "b"};
  ipp_attribute_t* a = ippAddStrings(ipp.get(), IPP_TAG_JOB, IPP_TAG_NAME, "n", "ignored", v);
  ASSERT_NE(nullptr, a);
  ASSERT_EQ(2u, a->values.size());
  EXPECT_EQ("b", a->values[1].string.text);
  EXPECT_EQ("", a->values[1].string.language) << "a language belongs to *WithLanguage only";
}

TEST(IppModel, ErrorStrings) {
  struct {
    int status;
    const char* text;
  } cases[] = {
      {0x0000, "successful-ok"},
      {0x0001, "successful-ok-ignored-or-substituted-attributes"},
      {0x0002, "successful-ok-conflicting-attributes"},
      {0x0400, "client-error-bad-request"},
      {0x0401, "client-error-forbidden"},
      {0x0403, "client-error-not-authorized"},
      {0x0404, "client-error-not-possible"},
      {0x0406, "client-error-not-found"},
      {0x0409, "client-error-request-value-too-long"},
      {0x040A, "client-error-document-format-not-supported"},
      {0x040B, "client-error-attributes-or-values-not-supported"},
      {0x0412, "client-error-document-access-error"},
      {0x0413, "client-error-attributes-not-settable"},
      {0x0500, "server-error-internal-error"},
      {0x0501, "server-error-operation-not-supported"},
      {0x0502, "server-error-service-unavailable"},
      {0x0503, "server-error-version-not-supported"},
      {0x0506, "server-error-not-accepting-jobs"},
      {0x0507, "server-error-busy"},
      {0x0508, "server-error-job-canceled"},
      {0x0509, "server-error-multiple-document-jobs-not-supported"},
      {0x0414, "0x0414"},
      {0x0481, "0x0481"},
      {0x050A, "0x050a"},
      {0x1234, "0x1234"},
  };
  for (const auto& c : cases) EXPECT_STREQ(c.text, ippErrorString(ipp_status_t(c.status))) << c.status;
  // Every code in the RFC ranges up to the last one has a name of its own.
  for (int s = 0x0400; s <= 0x0413; s++)
    EXPECT_NE('0', ippErrorString(ipp_status_t(s))[0]) << std::hex << s;
  for (int s = 0x0500; s <= 0x0509; s++)
    EXPECT_NE('0', ippErrorString(ipp_status_t(s))[0]) << std::hex << s;
}

TEST(IppModel, OperationAndTagNames) {
  struct {
    int op;
    const char* text;
  } ops[] = {
      {0x0002, "Print-Job"},          {0x000A, "Get-Jobs"},          {0x0014, "Set-Job-Attributes"},
      {0x0022, "Enable-Printer"},     {0x4001, "VORN-Get-Default"},  {0x4002, "VORN-Get-Printers"},
      {0x400C, "VORN-Get-PPDs"},      {0x400D, "VORN-Move-Job"},     {0x400E, "0x400e"},
      {0x000F, "0x000f"},
  };
  for (const auto& c : ops) EXPECT_STREQ(c.text, ippOpString(ipp_op_t(c.op)));
  for (int op = 0x4001; op <= 0x400D; op++)
    EXPECT_EQ(0, std::strncmp("VORN-", ippOpString(ipp_op_t(op)), 5)) << std::hex << op;
  struct {
    int tag;
    const char* text;
  } tags[] = {
      {0x01, "operation-attributes-tag"}, {0x05, "unsupported-attributes-tag"},
      {0x13, "no-value"},                 {0x35, "textWithLanguage"},
      {0x4A, "memberAttrName"},           {0x24, "0x24"},
  };
  for (const auto& c : tags) EXPECT_STREQ(c.text, ippTagString(ipp_tag_t(c.tag)));
}

TEST(IppModel, Dates) {
  struct {
    time_t t;
    int offset;  // minutes east of UTC
    ipp_date_t bytes;
  } cases[] = {
      {0, 0, {0x07, 0xB2, 1, 1, 0, 0, 0, 0, '+', 0, 0}},
      // 2001-09-09 01:46:40 UTC is 21:16:40 the day before at -04:30.
      {1000000000, -270, {0x07, 0xD1, 9, 8, 21, 16, 40, 0, '-', 4, 30}},
      // 2024-02-29 23:00:00 UTC is 2024-03-01 08:45 at +09:45.
      {1709247600, 585, {0x07, 0xE8, 3, 1, 8, 45, 0, 0, '+', 9, 45}},
      {-86400, 60, {0x07, 0xB1, 12, 31, 1, 0, 0, 0, '+', 1, 0}},
  };
  for (const auto& c : cases) {
    ipp_date_t d = ippTimeToDate(c.t, c.offset);
    EXPECT_EQ(c.bytes, d) << c.t << " at " << c.offset;
    EXPECT_EQ(c.t, ippDateToTime(d.data())) << c.t << " at " << c.offset;
    EXPECT_EQ(c.t, ippDateToTime(c.bytes.data()));
  }
  // The offset is cut to 14 hours.
  ipp_date_t far = ippTimeToDate(0, 20 * 60);
  EXPECT_EQ(14, far[9]);
  EXPECT_EQ(0, ippDateToTime(far.data()));
}

}  // namespace
