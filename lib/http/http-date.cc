// HTTP dates: RFC 1123 out; RFC 1123, RFC 850 and asctime forms in.

#include "vorn/http.h"
#include "vorn/strings.h"

#include <cstdio>
#include <ctime>
#include <string_view>

namespace {

constexpr const char* kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kLongDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};
constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A small cursor over the text; every read checks the bounds.
struct Scanner {
  std::string_view s;
  size_t i = 0;

  bool at_end() const { return i >= s.size(); }
  void spaces() {
    while (i < s.size() && s[i] == ' ') i++;
  }
  bool expect(char c) {
    if (i < s.size() && s[i] == c) {
      i++;
      return true;
    }
    return false;
  }
  std::string_view word() {
    size_t start = i;
    while (i < s.size() && ((s[i] >= 'a' && s[i] <= 'z') || (s[i] >= 'A' && s[i] <= 'Z'))) i++;
    return s.substr(start, i - start);
  }
  // Between `min` and `max` digits.
  bool number(int min, int max, int* value) {
    int n = 0, v = 0;
    while (i < s.size() && vorn::isdigit(s[i]) && n < max) {
      v = v * 10 + (s[i++] - '0');
      n++;
    }
    if (n < min || (i < s.size() && vorn::isdigit(s[i]))) return false;
    *value = v;
    return true;
  }
  bool clock(tm* t) {
    return number(2, 2, &t->tm_hour) && expect(':') && number(2, 2, &t->tm_min) && expect(':') &&
           number(2, 2, &t->tm_sec);
  }
  bool month(tm* t) {
    std::string_view w = word();
    for (int m = 0; m < 12; m++) {
      if (vorn::iequals(w, kMonths[m])) {
        t->tm_mon = m;
        return true;
      }
    }
    return false;
  }
};

bool is_day(std::string_view w, const char* const* names) {
  for (int d = 0; d < 7; d++) {
    if (vorn::iequals(w, names[d])) return true;
  }
  return false;
}

bool zone(Scanner& sc) {
  sc.spaces();
  std::string_view z = sc.word();
  return vorn::iequals(z, "GMT") || vorn::iequals(z, "UTC");
}

int days_in_month(int mon, int year) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return mon == 1 && leap ? 29 : days[mon];
}

}  // namespace

const char* httpGetDateString(time_t t, char* buffer, size_t size) {
  if (!buffer || size == 0) return buffer;
  tm g{};
  if (!gmtime_r(&t, &g)) {
    buffer[0] = '\0';
    return buffer;
  }
  std::snprintf(buffer, size, "%s, %02d %s %d %02d:%02d:%02d GMT", kDays[g.tm_wday], g.tm_mday,
                kMonths[g.tm_mon], g.tm_year + 1900, g.tm_hour, g.tm_min, g.tm_sec);
  return buffer;
}

const char* httpGetDateString(time_t t) {
  static thread_local char buffer[64];
  return httpGetDateString(t, buffer, sizeof(buffer));
}

time_t httpGetDateTime(const char* s) {
  if (!s) return 0;
  Scanner sc{vorn::trim(s)};
  tm t{};
  int year = 0;
  std::string_view day = sc.word();
  bool ok;
  if (sc.expect(',')) {
    sc.spaces();
    ok = sc.number(1, 2, &t.tm_mday);
    if (ok && sc.expect('-')) {
      // RFC 850: Sunday, 06-Nov-94 08:49:37 GMT
      ok = is_day(day, kLongDays) && sc.month(&t) && sc.expect('-') && sc.number(2, 2, &year);
      year += year < 70 ? 2000 : 1900;
    } else {
      // RFC 1123: Sun, 06 Nov 1994 08:49:37 GMT
      ok = ok && is_day(day, kDays) && sc.expect(' ') && (sc.spaces(), sc.month(&t)) && sc.expect(' ') &&
           (sc.spaces(), sc.number(4, 4, &year));
    }
    ok = ok && sc.expect(' ') && (sc.spaces(), sc.clock(&t)) && zone(sc);
  } else {
    // asctime: Sun Nov  6 08:49:37 1994
    ok = is_day(day, kDays) && sc.expect(' ') && (sc.spaces(), sc.month(&t)) && sc.expect(' ') &&
         (sc.spaces(), sc.number(1, 2, &t.tm_mday)) && sc.expect(' ') && (sc.spaces(), sc.clock(&t)) &&
         sc.expect(' ') && (sc.spaces(), sc.number(4, 4, &year));
  }
  sc.spaces();
  if (!ok || !sc.at_end()) return 0;
  if (year < 1970 || t.tm_mday < 1 || t.tm_mday > days_in_month(t.tm_mon, year) || t.tm_hour > 23 ||
      t.tm_min > 59 || t.tm_sec > 60) {
    return 0;
  }
  t.tm_year = year - 1900;
  return timegm(&t);
}
