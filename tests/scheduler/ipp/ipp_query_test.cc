// copy_attrs, the requested-attributes filter every query reply goes
// through.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scheduler/ipp/ipp.h"
#include "vorn/ipp.h"

namespace {

// A set like a destination's: two printer attributes, a separator, a job
// attribute and a collection.
ipp_ptr Source() {
  ipp_ptr ipp(ippNew());
  ipp_t* a = ipp.get();
  ippAddString(a, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", "", "lab");
  const char* const sides[] = {"one-sided", "two-sided-long-edge"};
  ippAddStrings(a, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "sides-supported", "", sides);
  ippAddSeparator(a);
  ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-priority", 50);
  ipp_t* member = ippNew();
  ippAddInteger(member, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", 21000);
  ippAddCollection(a, IPP_TAG_PRINTER, "media-size", member);
  return ipp;
}

// "name" per attribute, "-" per separator.
std::vector<std::string> Names(const ipp_t* ipp) {
  std::vector<std::string> out;
  for (const ipp_attribute_t* a = ipp->attrs; a; a = a->next) out.push_back(a->name.empty() ? "-" : a->name);
  return out;
}

TEST(CopyAttrs, RequestedAttributesSelectByExactName) {
  const struct {
    const char* what;
    std::vector<const char*> requested;  // empty: no requested-attributes
    ipp_tag_t group;
    std::vector<std::string> copied;
  } cases[] = {
      {"no filter", {}, IPP_TAG_ZERO, {"printer-name", "sides-supported", "-", "job-priority", "media-size"}},
      {"all first", {"all", "printer-name"}, IPP_TAG_ZERO,
       {"printer-name", "sides-supported", "-", "job-priority", "media-size"}},
      {"all not first is only a name", {"printer-name", "all"}, IPP_TAG_ZERO, {"printer-name", "-"}},
      {"names", {"media-size", "printer-name"}, IPP_TAG_ZERO, {"printer-name", "-", "media-size"}},
      {"group names are not expanded", {"printer-description", "job-template"}, IPP_TAG_ZERO, {"-"}},
      {"no prefix match", {"printer"}, IPP_TAG_ZERO, {"-"}},
      {"case matters", {"Printer-Name"}, IPP_TAG_ZERO, {"-"}},
      {"job group only", {}, IPP_TAG_JOB, {"-", "job-priority"}},
      {"job group and names", {"printer-name", "job-priority"}, IPP_TAG_JOB, {"-", "job-priority"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ipp_ptr src = Source();
    ipp_ptr request(ippNew());
    const ipp_attribute_t* requested =
        c.requested.empty() ? nullptr
                            : ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD,
                                            "requested-attributes", "", c.requested);
    ipp_ptr to(ippNew());
    copy_attrs(to.get(), src.get(), requested, c.group);
    EXPECT_EQ(Names(to.get()), c.copied);
  }
}

TEST(CopyAttrs, CopiesKeepGroupTypeValuesAndCollections) {
  ipp_ptr src = Source();
  ipp_ptr to(ippNew());
  copy_attrs(to.get(), src.get(), nullptr, IPP_TAG_ZERO);
  // The copies are independent of the source.
  src.reset();

  const ipp_attribute_t* sides = ippFindAttribute(to.get(), "sides-supported", IPP_TAG_KEYWORD);
  ASSERT_NE(sides, nullptr);
  EXPECT_EQ(sides->group_tag, IPP_TAG_PRINTER);
  ASSERT_EQ(sides->values.size(), 2u);
  EXPECT_EQ(sides->values[1].string.text, "two-sided-long-edge");
  const ipp_attribute_t* priority = ippFindAttribute(to.get(), "job-priority", IPP_TAG_INTEGER);
  ASSERT_NE(priority, nullptr);
  EXPECT_EQ(priority->group_tag, IPP_TAG_JOB);
  EXPECT_EQ(priority->values[0].integer, 50);
  const ipp_attribute_t* media = ippFindAttribute(to.get(), "media-size", IPP_TAG_BEGIN_COLLECTION);
  ASSERT_NE(media, nullptr);
  ASSERT_EQ(media->values.size(), 1u);
  ASSERT_TRUE(media->values[0].collection);
  const ipp_attribute_t* x = ippFindAttribute(media->values[0].collection.get(), "x-dimension", IPP_TAG_INTEGER);
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->values[0].integer, 21000);
  EXPECT_GT(ippLength(to.get()), 0u);

  // A missing source copies nothing.
  ipp_ptr empty(ippNew());
  copy_attrs(empty.get(), nullptr, nullptr, IPP_TAG_ZERO);
  EXPECT_EQ(empty->attrs, nullptr);
}

}  // namespace
