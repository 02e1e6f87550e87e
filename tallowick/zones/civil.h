#pragma once
// Calendar arithmetic on the proleptic Gregorian calendar, for any year:
// days and wall-clock seconds counted from 1970-01-01T00:00:00 of a clock
// without zone. Turning wall-clock seconds into instants is a zone's job
// (zone_rules.h).

#include <cstdint>

namespace tallowick::zones {

inline constexpr int64_t daySeconds = 86400;

// Division and remainder rounded towards minus infinity, so that times
// before 1970 fall on the right day.
constexpr int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }
constexpr int64_t floorMod(int64_t a, int64_t b) { return a - floorDiv(a, b) * b; }

constexpr bool isLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int monthLength(int64_t year, int month);

// Days since 1970-01-01 of a date, and back; 0 = Monday ... 6 = Sunday.
int64_t daysFromCivil(int64_t year, int month, int day);
struct CivilDate {
  int64_t year;
  int month;
  int day;
};
CivilDate civilFromDays(int64_t days);
int weekdayOf(int64_t days);

// Wall-clock seconds of a date and time of day, and back.
int64_t wallSeconds(int64_t year, int month, int day, int hour, int minute, int second);
struct CivilTime {
  int64_t year;
  int month, day, hour, minute, second;
};
CivilTime civilFromWall(int64_t wall);

// The first second of 0001-01-01 and the last of 9999-12-31: the years a
// calendar file can name.
inline constexpr int64_t earliestWall = -62135596800;
inline constexpr int64_t latestWall = 253402300799;

}  // namespace tallowick::zones
