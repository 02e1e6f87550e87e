#include "tallowick/store/ical/zone_rules.h"

#include <gtest/gtest.h>

#include <ctime>
#include <random>

#include "tallowick/store/ical/recurrence.h"
#include "tallowick/store/ical/test_support.h"

namespace tallowick::ical {
namespace {

// The C library reads the same files: its offsets are the reference, from
// the recorded changes to the rule of the last year carried on to 9999.
TEST(ZoneRules, OffsetsAndWallClockTimesMatchTheCLibraryInAnyYear) {
  std::mt19937_64 random(42);
  std::uniform_int_distribution<int64_t> instant(wallSeconds(1850, 1, 1, 0, 0, 0), latestWall - 86400);
  for (const char* zone : {"Europe/Berlin", "America/New_York", "Australia/Sydney", "Asia/Kolkata",
                           "America/Santiago", "Africa/Casablanca", "Pacific/Chatham"}) {
    testing::ScopedTimeZone local(zone);
    const ZoneRules* rules = ZoneRules::system(zone);
    ASSERT_NE(rules, nullptr) << zone;
    EXPECT_EQ(ZoneRules::local(), rules);
    for (int i = 0; i < 3000; ++i) {
      int64_t utc = instant(random);
      time_t t = static_cast<time_t>(utc);
      std::tm fields{};
      ASSERT_NE(localtime_r(&t, &fields), nullptr);
      ASSERT_EQ(rules->offsetAt(utc), fields.tm_gmtoff) << zone << " at " << utc;
      // The wall-clock time comes back to the same instant, or to the first
      // of two when the clock went back over it.
      int64_t wall = utc + fields.tm_gmtoff;
      int64_t back = rules->utcOf(wall);
      EXPECT_TRUE(back == utc || (back < utc && back + rules->offsetAt(back) == wall)) << zone << " at " << utc;
    }
  }
  EXPECT_EQ(ZoneRules::system("../etc/passwd"), nullptr);
  EXPECT_EQ(ZoneRules::system("No/Such_Zone"), nullptr);
  EXPECT_FALSE(ZoneRules::parse("TZif2 cut short").has_value());
}

TEST(ZoneRules, SkippedTimesTakeTheOffsetFromBeforeTheChange) {
  const ZoneRules* newYork = ZoneRules::system("America/New_York");
  ASSERT_NE(newYork, nullptr);
  // 2024-03-10 02:30 does not exist: it is 03:30 EDT, 07:30 UTC.
  EXPECT_EQ(newYork->utcOf(wallSeconds(2024, 3, 10, 2, 30, 0)), wallSeconds(2024, 3, 10, 7, 30, 0));
  // 2024-11-03 01:30 happens twice: the first, in EDT, is 05:30 UTC.
  EXPECT_EQ(newYork->utcOf(wallSeconds(2024, 11, 3, 1, 30, 0)), wallSeconds(2024, 11, 3, 5, 30, 0));
  // The same in 9000, from the rule of the last year.
  EXPECT_EQ(newYork->utcOf(wallSeconds(9000, 7, 1, 12, 0, 0)), wallSeconds(9000, 7, 1, 16, 0, 0));
}

}  // namespace
}  // namespace tallowick::ical
