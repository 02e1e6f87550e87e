#include "tallowick/zones/civil.h"

namespace tallowick::zones {

int monthLength(int64_t year, int month) {
  static constexpr int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : lengths[month - 1];
}

// Howard Hinnant's days_from_civil and civil_from_days: exact for every
// year that 64 bits of days can hold.
int64_t daysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

CivilDate civilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (m <= 2), m, d};
}

int weekdayOf(int64_t days) { return static_cast<int>(floorMod(days + 3, 7)); }  // 1970-01-01 was a Thursday

int64_t wallSeconds(int64_t year, int month, int day, int hour, int minute, int second) {
  return daysFromCivil(year, month, day) * daySeconds + hour * 3600 + minute * 60 + second;
}

CivilTime civilFromWall(int64_t wall) {
  int64_t day = floorDiv(wall, daySeconds);
  int64_t second = wall - day * daySeconds;
  CivilDate date = civilFromDays(day);
  return {date.year, date.month, date.day, static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60),
          static_cast<int>(second % 60)};
}

}  // namespace tallowick::zones
