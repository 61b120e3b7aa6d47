// HTTP dates in and out.

#include "vorn/http.h"

#include <ctime>
#include <gtest/gtest.h>
#include <string>

namespace {

// 6 Nov 1994 08:49:37 GMT, the example date of the HTTP RFCs.
constexpr time_t kExample = 784111777;

TEST(HttpDate, FormatsRfc1123) {
  static const struct {
    time_t t;
    const char* text;
  } cases[] = {
      {kExample, "Sun, 06 Nov 1994 08:49:37 GMT"},
      {0, "Thu, 01 Jan 1970 00:00:00 GMT"},
      {951782400, "Tue, 29 Feb 2000 00:00:00 GMT"},
      {4102444799, "Thu, 31 Dec 2099 23:59:59 GMT"},
  };
  for (const auto& c : cases) EXPECT_STREQ(httpGetDateString(c.t), c.text) << c.t;
}

TEST(HttpDate, RoundTrips) {
  for (time_t t : {time_t(1), kExample, time_t(951782400), time_t(1700000000), time_t(4102444799)}) {
    EXPECT_EQ(httpGetDateTime(httpGetDateString(t)), t) << t;
  }
}

TEST(HttpDate, SizedFormCutsAndTerminates) {
  char small[10];
  httpGetDateString(kExample, small, sizeof(small));
  EXPECT_STREQ(small, "Sun, 06 N");
}

TEST(HttpDate, ParsesTheThreeForms) {
  static const struct {
    const char* text;
    time_t want;
  } cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", kExample},
      {"Sunday, 06-Nov-94 08:49:37 GMT", kExample},
      {"Sun Nov  6 08:49:37 1994", kExample},
      {"Sun Nov 06 08:49:37 1994", kExample},
      {"  Sun, 06 Nov 1994 08:49:37 GMT  ", kExample},
      {"sun, 06 nov 1994 08:49:37 gmt", kExample},
      {"Sun, 6 Nov 1994 08:49:37 UTC", kExample},
      {"Tuesday, 29-Feb-00 00:00:00 GMT", 951782400},  // two-digit years below 70 are 20xx
  };
  for (const auto& c : cases) EXPECT_EQ(httpGetDateTime(c.text), c.want) << c.text;
}

TEST(HttpDate, RejectsBadInput) {
  static const char* const bad[] = {
      "",
      "yesterday",
      "Sun, 06 Nov 1994",
      "Sun, 06 Nov 1994 08:49:37",          // no zone
      "Sun, 06 Nov 1994 08:49:37 PST",
      "Sun, 06 Foo 1994 08:49:37 GMT",
      "Sun, 32 Nov 1994 08:49:37 GMT",
      "Sun, 31 Feb 1994 08:49:37 GMT",
      "Sun, 29 Feb 1900 08:49:37 GMT",     // 1900 is no leap year (and before 1970)
      "Sun, 29 Feb 1995 08:49:37 GMT",
      "Sun, 00 Nov 1994 08:49:37 GMT",
      "Sun, 06 Nov 1994 24:00:00 GMT",
      "Sun, 06 Nov 1994 08:60:00 GMT",
      "Sun, 06 Nov 1994 8:49:37 GMT",
      "Sun, 06 Nov 94 08:49:37 GMT",
      "Sun, 06 Nov 19944 08:49:37 GMT",
      "Sun, 06 Nov 1994 08:49:37 GMT trailing",
      "Sun, -6 Nov 1994 08:49:37 GMT",
      "Sun, 06 Nov 1969 08:49:37 GMT",
      "Xyz, 06 Nov 1994 08:49:37 GMT",
      "Sun, 06-Nov-94 08:49:37 GMT",       // RFC 850 needs the long day name
      "Sunday, 06-Nov-1994 08:49:37 GMT",
      "Sun Nov  6 08:49:37",
      "Sun Nov  6 08:49:37 1994 GMT",
      "Sun Nov 6 08:49:37 99999999999999999999",
      "99999999999999999999999999999999999999",
  };
  for (const char* text : bad) EXPECT_EQ(httpGetDateTime(text), 0) << text;
  EXPECT_EQ(httpGetDateTime(nullptr), 0);
}

}  // namespace
