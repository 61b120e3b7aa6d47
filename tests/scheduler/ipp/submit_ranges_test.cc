// check_page_ranges: the order page-ranges must have before a job is made.
#include <gtest/gtest.h>

#include <vector>

#include "scheduler/ipp/ipp.h"

namespace {

TEST(SubmitPageRanges, RangesMustRiseFromOne) {
  const struct {
    std::vector<ipp_range_t> ranges;
    bool ok;
    int lower, upper;  // the offending range
  } cases[] = {
      {{{1, 5}}, true, 0, 0},
      {{{1, 5}, {6, 8}}, true, 0, 0},
      {{{3, 3}, {7, 2147483647}}, true, 0, 0},
      {{{1, 5}, {3, 8}}, false, 3, 8},
      {{{1, 5}, {5, 8}}, false, 5, 8},
      {{{5, 1}}, false, 5, 1},
      {{{0, 2}}, false, 0, 2},
      {{{-4, 2}}, false, -4, 2},
      {{{1, 2}, {4, 6}, {9, 7}}, false, 9, 7},
  };
  for (const auto& c : cases) {
    ipp_ptr ipp(ippNew());
    const ipp_attribute_t* a = ippAddRanges(ipp.get(), IPP_TAG_JOB, "page-ranges", c.ranges);
    ASSERT_NE(a, nullptr);
    int lower = 0, upper = 0;
    EXPECT_EQ(check_page_ranges(a, &lower, &upper), c.ok) << c.ranges.size() << " ranges from " << c.ranges[0].lower;
    EXPECT_EQ(lower, c.lower);
    EXPECT_EQ(upper, c.upper);
  }
  EXPECT_TRUE(check_page_ranges(nullptr, nullptr, nullptr));
}

}  // namespace
