#include "tallowick/dates.h"

#include <gtest/gtest.h>

#include <ctime>

#include "tallowick/helper_error.h"
#include "tallowick/test_support.h"

namespace tallowick {
namespace {

using testing::at;
using testing::helperMessage;
using testing::ScopedTimeZone;

constexpr long long kMay1NewYork = 1714536000;  // 2024-05-01T00:00:00-04:00

class DatesInNewYork : public ::testing::Test {
 protected:
  ScopedTimeZone zone_{"America/New_York"};
};

TEST_F(DatesInNewYork, DateOnlyIsLocalMidnightAndTimeIsReadAtNineteenCharacters) {
  EXPECT_EQ(parseYmd("2024-05-01"), at(kMay1NewYork));
  EXPECT_EQ(parseYmd("2024-05-01T14:30:15"), at(1714588215));
  // Fraction, offset and Z are past position 19 and ignored.
  EXPECT_EQ(parseYmd("2024-05-01T14:30:15.250+02:00"), at(1714588215));
  EXPECT_EQ(parseYmd("2024-05-01T14:30:15Z"), at(1714588215));
  // 13 and 16 characters: too short for the time fields.
  EXPECT_EQ(parseYmd("2024-05-01T14"), at(kMay1NewYork));
  EXPECT_EQ(parseYmd("2024-05-01T14:30"), at(kMay1NewYork));
  EXPECT_EQ(parseYmd("2024-05-01 14:30:1"), at(kMay1NewYork));
}

TEST_F(DatesInNewYork, SeparatorsAreNeverExamined) {
  EXPECT_EQ(parseYmd("2024/05/01"), at(kMay1NewYork));
  EXPECT_EQ(parseYmd("2024.05.01"), at(kMay1NewYork));
  EXPECT_EQ(parseYmd("2024x05y01z14a30b15"), at(1714588215));
}

TEST_F(DatesInNewYork, FieldsThatAreNotIntegersTakeTheirDefaults) {
  EXPECT_EQ(parseYmd("abcdefghij"), at(18000));           // 1970-01-01 local
  EXPECT_EQ(parseYmd("2024-xx-01"), at(1704085200));      // 2024-01-01
  EXPECT_EQ(parseYmd("2024-5--01"), at(1704085200));      // "5-" is not an integer
  EXPECT_EQ(parseYmd("2024- 5-01"), at(1704085200));      // nor " 5"
  EXPECT_EQ(parseYmd("2024-+5-01"), at(kMay1NewYork));    // a sign is allowed
  EXPECT_EQ(parseYmd("2024-05-+1"), at(kMay1NewYork));
  EXPECT_EQ(parseYmd("2024-05-01T-1:xx:+5"), at(kMay1NewYork - 3600 + 5));
  EXPECT_EQ(parseYmd("2024-05-0-"), at(kMay1NewYork));  // "0-" falls back to day 1
}

TEST_F(DatesInNewYork, OutOfRangeFieldsCarryOver) {
  EXPECT_EQ(parseYmd("2024-02-30"), parseYmd("2024-03-01"));
  EXPECT_EQ(parseYmd("2024-02-30"), at(1709269200));
  EXPECT_EQ(parseYmd("2024-13-01"), at(1735707600));  // January 2025
  EXPECT_EQ(parseYmd("2024-05-00"), at(1714449600));  // 30 April
  EXPECT_EQ(parseYmd("2024-05-01T24:00:00"), at(1714622400));
  EXPECT_EQ(parseYmd("2024--1-01"), parseYmd("2023-11-01"));
}

TEST_F(DatesInNewYork, BlanksAreTrimmedButLineBreaksAreNot) {
  EXPECT_EQ(parseYmd("  2024-05-01\t"), at(kMay1NewYork));
  EXPECT_EQ(parseYmd("\u00a02024-05-01\u3000"), at(kMay1NewYork));
  // A leading line break stays and shifts every field by one position.
  // Year "\n202" takes its default, month and day "-0" are 0: 1969-11-30.
  EXPECT_EQ(parseYmd("\n2024-05-01"), parseYmd("1969-11-30"));
  EXPECT_EQ(helperMessage([] { parseYmd("  2024-5-1  "); }), "Date must be YYYY-MM-DD:   2024-5-1  ");
}

TEST_F(DatesInNewYork, PositionsCountUserPerceivedCharacters) {
  // "é" (two bytes) and "e" + combining acute (three bytes) are one position.
  EXPECT_EQ(parseYmd("2024\u00e905-01"), at(kMay1NewYork));
  EXPECT_EQ(parseYmd("2024e\u030105-01"), at(kMay1NewYork));
  EXPECT_EQ(helperMessage([] { parseYmd("2024-05-\u00e9"); }), "Date must be YYYY-MM-DD: 2024-05-\u00e9");
  // CR LF is one character, too.
  EXPECT_EQ(parseYmd("2024-05\r\n01"), at(kMay1NewYork));
}

TEST_F(DatesInNewYork, ShortTextsAreRefusedWithTheTextAsGiven) {
  EXPECT_EQ(helperMessage([] { parseYmd("2024-5-1"); }), "Date must be YYYY-MM-DD: 2024-5-1");
  EXPECT_EQ(helperMessage([] { parseYmd(""); }), "Date must be YYYY-MM-DD: ");
  EXPECT_EQ(helperMessage([] { parseYmd("          "); }), "Date must be YYYY-MM-DD:           ");
  try {
    parseYmd("2024");
    FAIL();
  } catch (const HelperError& e) {
    EXPECT_EQ(e.kind(), HelperError::Case::invalidInput);
  }
}

TEST_F(DatesInNewYork, FarPastAndFutureDatesAreInstants) {
  // A host may ask for an open-ended window; it must not fail or wrap around.
  EXPECT_EQ(toLocalISOString(dayBounds("9999-12-31", true)), "9999-12-31T23:59:59");
  EXPECT_EQ(toLocalISOString(parseYmd("0001-01-01")), "0001-01-01T00:00:00");
  EXPECT_EQ(toLocalISOString(parseYmd("-999-01-01")), "-999-01-01T00:00:00");
  // One second before the epoch is a valid instant even though mktime says -1.
  ScopedTimeZone utc("UTC");
  EXPECT_EQ(parseYmd("1969-12-31T23:59:59"), at(-1));
}

TEST_F(DatesInNewYork, EndOfDayIsTheLastSecondOfTheNamedDay) {
  EXPECT_EQ(dayBounds("2024-05-01", true), at(1714622399));
  EXPECT_EQ(dayBounds("2024-05-01T08:00:00", true), at(1714622399));
  EXPECT_EQ(dayBounds("2024-12-31", true), at(1735707599));
  EXPECT_EQ(dayBounds("2024-05-01T14:30:15", false), at(1714588215));
  EXPECT_EQ(helperMessage([] { dayBounds("2024-5", true); }), "Date must be YYYY-MM-DD: 2024-5");
}

TEST_F(DatesInNewYork, LocalTextTruncatesTheFraction) {
  EXPECT_EQ(toLocalISOString(at(kMay1NewYork + 9 * 3600 + 30 * 60) + std::chrono::milliseconds(999)),
            "2024-05-01T09:30:00");
  EXPECT_EQ(toLocalISOString(at(-1) + std::chrono::milliseconds(500)), "1969-12-31T18:59:59");
}

TEST(DatesInBerlin, DaylightSavingDaysKeepWallClockTimes) {
  ScopedTimeZone zone("Europe/Berlin");
  // 31 March 2024 has 23 hours, 27 October 25.
  EXPECT_EQ(parseYmd("2024-03-31"), at(1711839600));
  EXPECT_EQ(dayBounds("2024-03-31", true), at(1711922399));
  EXPECT_EQ(parseYmd("2024-10-27"), at(1729980000));
  EXPECT_EQ(dayBounds("2024-10-27", true), at(1730069999));
  EXPECT_EQ(toLocalISOString(at(1711846799)), "2024-03-31T01:59:59");
  EXPECT_EQ(toLocalISOString(at(1711846800)), "2024-03-31T03:00:00");
  EXPECT_EQ(toLocalISOString(dayBounds("2024-03-31T12:00:00", true)), "2024-03-31T23:59:59");
}

// The zone data is read by the project itself; the C library reading the
// same files is the reference, in any year it can print.
TEST_F(DatesInNewYork, LocalTextsAreWhatTheCLibraryPrints) {
  for (long long utc : {-62135596800LL + 18000, -2208988800LL, -1LL, 0LL, 1710054000LL, 1710053999LL,
                        2147483648LL, 32503680000LL, 253402300799LL}) {
    std::time_t t = static_cast<std::time_t>(utc);
    std::tm f{};
    ASSERT_NE(localtime_r(&t, &f), nullptr);
    char expected[64];
    std::snprintf(expected, sizeof expected, "%04d-%02d-%02dT%02d:%02d:%02d", f.tm_year + 1900, f.tm_mon + 1,
                  f.tm_mday, f.tm_hour, f.tm_min, f.tm_sec);
    EXPECT_EQ(toLocalISOString(at(utc)), expected) << utc;
  }
  EXPECT_EQ(toLocalISOString(parseYmd("-999-01-01")), "-999-01-01T00:00:00");
}

TEST_F(DatesInNewYork, DueComponentsConvertInTheirOwnZoneOrLocally) {
  DateComponents berlin{2024, 5, 1, 9, 0, std::nullopt, "Europe/Berlin"};
  EXPECT_EQ(dateFromComponents(berlin), at(1714546800));
  DateComponents floating{2024, 5, 1, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
  EXPECT_EQ(dateFromComponents(floating), at(kMay1NewYork));
  DateComponents unknownZone = floating;
  unknownZone.timeZone = "Mars/Olympus_Mons";
  EXPECT_EQ(dateFromComponents(unknownZone), at(kMay1NewYork));
  DateComponents carried{2024, 4, 31, std::nullopt, std::nullopt, std::nullopt, "America/New_York"};
  EXPECT_EQ(dateFromComponents(carried), at(kMay1NewYork));

  DateComponents noYear = floating;
  noYear.year.reset();
  EXPECT_EQ(dateFromComponents(noYear), std::nullopt);
  DateComponents noDay = berlin;
  noDay.day.reset();
  EXPECT_EQ(dateFromComponents(noDay), std::nullopt);
  DateComponents tooFar{1000000, 1, 1, std::nullopt, std::nullopt, std::nullopt, "Europe/Berlin"};
  EXPECT_EQ(dateFromComponents(tooFar), std::nullopt);
}

TEST_F(DatesInNewYork, DueComponentsKeepMinutesAndDropSeconds) {
  DateComponents c = localDueComponents(parseYmd("2024-05-01T14:30:45"));
  EXPECT_EQ(c.year, 2024);
  EXPECT_EQ(c.month, 5);
  EXPECT_EQ(c.day, 1);
  EXPECT_EQ(c.hour, 14);
  EXPECT_EQ(c.minute, 30);
  EXPECT_EQ(c.second, std::nullopt);
  EXPECT_EQ(c.timeZone, std::nullopt);
}

}  // namespace
}  // namespace tallowick
