// RFC 2579 DateAndTime values, as IPP's dateTime carries them.
#include <cstdint>

#include "vorn/ipp.h"

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back; plain
// arithmetic, so neither the time zone nor the C library takes part.
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int64_t& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = int(doy - (153 * mp + 2) / 5 + 1);
  m = int(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2);
}

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

ipp_date_t ippTimeToDate(time_t t, int utc_offset) {
  constexpr int kMaxOffset = 14 * 60;
  if (utc_offset > kMaxOffset) utc_offset = kMaxOffset;
  if (utc_offset < -kMaxOffset) utc_offset = -kMaxOffset;
  int64_t local = int64_t(t) + int64_t(utc_offset) * 60;
  int64_t days = floor_div(local, 86400);
  int64_t secs = local - days * 86400;
  int64_t year;
  int month, day;
  civil_from_days(days, year, month, day);
  int offset = utc_offset < 0 ? -utc_offset : utc_offset;
  ipp_date_t date = {};
  date[0] = uint8_t(year >> 8);
  date[1] = uint8_t(year);
  date[2] = uint8_t(month);
  date[3] = uint8_t(day);
  date[4] = uint8_t(secs / 3600);
  date[5] = uint8_t(secs / 60 % 60);
  date[6] = uint8_t(secs % 60);
  date[7] = 0;  // deci-seconds
  date[8] = utc_offset < 0 ? '-' : '+';
  date[9] = uint8_t(offset / 60);
  date[10] = uint8_t(offset % 60);
  return date;
}

time_t ippDateToTime(const uint8_t* date) {
  if (!date) return 0;
  int64_t year = (date[0] << 8) | date[1];
  int64_t t = days_from_civil(year, date[2], date[3]) * 86400 + date[4] * 3600 + date[5] * 60 +
              date[6];
  int64_t offset = (date[9] * 60 + date[10]) * 60;
  // Local time east of UTC is ahead of it.
  t += date[8] == '-' ? offset : -offset;
  return time_t(t);
}
