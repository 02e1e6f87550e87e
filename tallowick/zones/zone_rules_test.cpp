#include "tallowick/zones/zone_rules.h"

#include <gtest/gtest.h>

#include <ctime>
#include <random>

#include "tallowick/zones/civil.h"
#include "tallowick/zones/scoped_time_zone.h"
#include "tallowick/zones/system_zones.h"

namespace tallowick::zones {
namespace {

// The C library reads the same files: its offsets are the reference, from
// the recorded changes to the rule of the last year carried on to 9999.
TEST(ZoneRules, OffsetsAndWallClockTimesMatchTheCLibraryInAnyYear) {
  std::mt19937_64 random(42);
  std::uniform_int_distribution<int64_t> instant(wallSeconds(1850, 1, 1, 0, 0, 0), latestWall - 86400);
  // With zones whose rules changed after 2020, where any second zone
  // database built earlier would disagree.
  for (const char* zone : {"Europe/Berlin", "America/New_York", "Australia/Sydney", "Asia/Kolkata",
                           "America/Santiago", "Africa/Casablanca", "Pacific/Chatham", "America/Mexico_City",
                           "America/Ciudad_Juarez", "Asia/Tehran", "Europe/Kyiv", "America/Nuuk"}) {
    testing::ScopedTimeZone local(zone);
    const ZoneRules* rules = systemZones().find(zone);
    ASSERT_NE(rules, nullptr) << zone;
    EXPECT_EQ(&systemZones().local(), rules);
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
  EXPECT_EQ(systemZones().find("../etc/passwd"), nullptr);
  EXPECT_EQ(systemZones().find("No/Such_Zone"), nullptr);
  EXPECT_FALSE(ZoneRules::parse("TZif2 cut short").has_value());
}

// TZ as the C library reads it: a zone name, a path, a rule string, or
// nothing it can read (UTC). The local zone must agree with it everywhere.
TEST(ZoneRules, TheLocalZoneIsWhatTzSays) {
  std::mt19937_64 random(3);
  // From 1970: before it, the C library applies a rule string to no year.
  std::uniform_int_distribution<int64_t> instant(0, wallSeconds(2037, 1, 1, 0, 0, 0));
  for (const char* tz : {":Europe/Berlin", "/usr/share/zoneinfo/Asia/Tokyo", "CET-1CEST,M3.5.0,M10.5.0/3",
                         "<+0330>-3:30", "EST5EDT", "", "Nowhere/Zone", "UTC"}) {
    testing::ScopedTimeZone local(tz);
    const ZoneRules& rules = systemZones().local();
    for (int i = 0; i < 500; ++i) {
      time_t t = static_cast<time_t>(instant(random));
      std::tm fields{};
      ASSERT_NE(localtime_r(&t, &fields), nullptr);
      ASSERT_EQ(rules.offsetAt(t), fields.tm_gmtoff) << "TZ=" << tz << " at " << t;
    }
  }
}

// A span must hold its offset over all of it: checked at its ends, at random
// points inside, and by walking forward from span to span, as a listing
// does, against a lookup of every instant.
TEST(ZoneRules, SpansHoldTheirOffsetThroughout) {
  std::mt19937_64 random(7);
  std::uniform_int_distribution<int64_t> instant(wallSeconds(1850, 1, 1, 0, 0, 0), latestWall - 86400);
  for (const char* zone : {"Europe/Berlin", "America/New_York", "Australia/Sydney", "Asia/Kolkata",
                           "America/Santiago", "Africa/Casablanca", "Pacific/Chatham", "UTC"}) {
    const ZoneRules* rules = systemZones().find(zone);
    ASSERT_NE(rules, nullptr) << zone;
    for (int i = 0; i < 2000; ++i) {
      int64_t utc = instant(random);
      ZoneRules::Span span = rules->spanAt(utc);
      ASSERT_TRUE(span.from <= utc && utc < span.until) << zone << " at " << utc;
      ASSERT_EQ(span.offset, rules->offsetAt(utc)) << zone << " at " << utc;
      int64_t low = std::max<int64_t>(span.from, utc - 400 * 86400LL);
      int64_t high = std::min<int64_t>(span.until - 1, utc + 400 * 86400LL);
      std::uniform_int_distribution<int64_t> inside(low, high);
      for (int64_t t : std::initializer_list<int64_t>{low, high, inside(random), inside(random)})
        ASSERT_EQ(rules->offsetAt(t), span.offset) << zone << " at " << t << " in the span of " << utc;
    }
    ZoneRules::Span last{0, 0, 0};
    for (int64_t utc = wallSeconds(2030, 1, 1, 0, 0, 0); utc < wallSeconds(2090, 1, 1, 0, 0, 0); utc += 3 * 3600 + 7) {
      if (utc < last.from || utc >= last.until) last = rules->spanAt(utc);
      ASSERT_EQ(last.offset, rules->offsetAt(utc)) << zone << " at " << utc;
    }
  }
}

TEST(ZoneRules, SkippedTimesTakeTheOffsetFromBeforeTheChange) {
  const ZoneRules* newYork = systemZones().find("America/New_York");
  ASSERT_NE(newYork, nullptr);
  // 2024-03-10 02:30 does not exist: it is 03:30 EDT, 07:30 UTC.
  EXPECT_EQ(newYork->utcOf(wallSeconds(2024, 3, 10, 2, 30, 0)), wallSeconds(2024, 3, 10, 7, 30, 0));
  // 2024-11-03 01:30 happens twice: the first, in EDT, is 05:30 UTC.
  EXPECT_EQ(newYork->utcOf(wallSeconds(2024, 11, 3, 1, 30, 0)), wallSeconds(2024, 11, 3, 5, 30, 0));
  // The same in 9000, from the rule of the last year.
  EXPECT_EQ(newYork->utcOf(wallSeconds(9000, 7, 1, 12, 0, 0)), wallSeconds(9000, 7, 1, 16, 0, 0));
}

}  // namespace
}  // namespace tallowick::zones
