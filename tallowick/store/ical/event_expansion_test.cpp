#include <gtest/gtest.h>

#include "tallowick/store/ical/calendar_file.h"
#include "tallowick/store/ical/test_support.h"

namespace tallowick::ical {
namespace {

using testing::calendar;
using testing::ScopedTimeZone;
using testing::utc;

std::vector<EventOccurrence> occurrencesOf(const std::string& text, Instant start, Instant end) {
  std::optional<CalendarFile> file = CalendarFile::parse(text);
  EXPECT_TRUE(file.has_value());
  return file ? file->occurrences(start, end) : std::vector<EventOccurrence>{};
}

std::vector<Instant> startsOf(const std::vector<EventOccurrence>& occurrences) {
  std::vector<Instant> starts;
  for (const auto& o : occurrences) starts.push_back(o.start);
  std::sort(starts.begin(), starts.end());
  return starts;
}

// khal writes VTIMEZONE blocks that cover a few years only; this one has no
// daylight-saving rule at all, so using it would get the March change wrong.
const std::string truncatedNewYork =
    "BEGIN:VTIMEZONE\nTZID:America/New_York\nBEGIN:STANDARD\nDTSTART:19700101T000000\n"
    "TZOFFSETFROM:-0500\nTZOFFSETTO:-0500\nTZNAME:EST\nEND:STANDARD\nEND:VTIMEZONE\n";

TEST(EventExpansion, WeeklyRuleKeepsWallClockAcrossDaylightSavingChangeOfItsZone) {
  ScopedTimeZone local("Asia/Tokyo");
  std::string text = calendar(truncatedNewYork +
                              "BEGIN:VEVENT\nUID:w\nSUMMARY:Standup\nDTSTART;TZID=America/New_York:20240303T090000\n"
                              "DTEND;TZID=America/New_York:20240303T093000\nRRULE:FREQ=WEEKLY\nEND:VEVENT\n");
  auto occurrences = occurrencesOf(text, utc(2024, 3, 1), utc(2024, 3, 18));
  ASSERT_EQ(occurrences.size(), 3u);
  EXPECT_EQ(startsOf(occurrences), (std::vector<Instant>{utc(2024, 3, 3, 14), utc(2024, 3, 10, 13), utc(2024, 3, 17, 13)}));
  for (const auto& o : occurrences) EXPECT_EQ(o.end - o.start, std::chrono::minutes(30));
  EXPECT_EQ(occurrences[0].title, "Standup");
}

TEST(EventExpansion, ExdateRemovesThatOccurrence) {
  ScopedTimeZone local("UTC");
  std::string text = calendar(
      "BEGIN:VEVENT\nUID:e\nDTSTART:20240506T100000Z\nDTEND:20240506T110000Z\nRRULE:FREQ=DAILY;COUNT=3\n"
      "EXDATE:20240507T100000Z\nEND:VEVENT\n");
  EXPECT_EQ(startsOf(occurrencesOf(text, utc(2024, 5, 1), utc(2024, 5, 31))),
            (std::vector<Instant>{utc(2024, 5, 6, 10), utc(2024, 5, 8, 10)}));
}

TEST(EventExpansion, MovedInstanceAppearsAtItsNewTimeAndNotAtTheOriginal) {
  ScopedTimeZone local("Europe/Berlin");
  std::string text = calendar(
      "BEGIN:VEVENT\nUID:m\nSUMMARY:Weekly\nDTSTART;TZID=Europe/Berlin:20240506T100000\n"
      "DTEND;TZID=Europe/Berlin:20240506T110000\nRRULE:FREQ=WEEKLY;COUNT=3\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:m\nSUMMARY:Weekly (moved)\nRECURRENCE-ID;TZID=Europe/Berlin:20240513T100000\n"
      "DTSTART;TZID=Europe/Berlin:20240514T150000\nDTEND;TZID=Europe/Berlin:20240514T160000\nEND:VEVENT\n");
  auto occurrences = occurrencesOf(text, utc(2024, 5, 1), utc(2024, 5, 31));
  EXPECT_EQ(startsOf(occurrences), (std::vector<Instant>{utc(2024, 5, 6, 8), utc(2024, 5, 14, 13), utc(2024, 5, 20, 8)}));
  for (const auto& o : occurrences) {
    if (o.start == utc(2024, 5, 14, 13)) {
      EXPECT_EQ(o.title, "Weekly (moved)");
    }
  }
}

TEST(EventExpansion, MovedInstanceOutsideTheWindowStillHidesTheOriginal) {
  ScopedTimeZone local("UTC");
  std::string text = calendar(
      "BEGIN:VEVENT\nUID:m\nDTSTART:20240506T100000Z\nDURATION:PT1H\nRRULE:FREQ=WEEKLY;COUNT=3\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:m\nRECURRENCE-ID:20240513T100000Z\nDTSTART:20240601T100000Z\nDURATION:PT1H\nEND:VEVENT\n");
  EXPECT_EQ(startsOf(occurrencesOf(text, utc(2024, 5, 12), utc(2024, 5, 14))), std::vector<Instant>{});
}

TEST(EventExpansion, AllDayEventRunsFromLocalMidnightToTheLastSecondOfItsLastDay) {
  ScopedTimeZone local("Europe/Berlin");
  std::string text = calendar(
      "BEGIN:VEVENT\nUID:a\nDTSTART;VALUE=DATE:20240501\nDTEND;VALUE=DATE:20240503\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:b\nDTSTART;VALUE=DATE:20240510\nEND:VEVENT\n");
  auto occurrences = occurrencesOf(text, utc(2024, 4, 1), utc(2024, 6, 1));
  ASSERT_EQ(occurrences.size(), 2u);
  EXPECT_TRUE(occurrences[0].isAllDay);
  EXPECT_EQ(occurrences[0].start, utc(2024, 4, 30, 22));
  EXPECT_EQ(occurrences[0].end, utc(2024, 5, 2, 21, 59, 59));
  EXPECT_EQ(occurrences[1].start, utc(2024, 5, 9, 22));
  EXPECT_EQ(occurrences[1].end, utc(2024, 5, 10, 21, 59, 59));
}

TEST(EventExpansion, DurationStandsInForDtendAndNoEndMeansNoLength) {
  ScopedTimeZone local("UTC");
  std::string text = calendar(
      "BEGIN:VEVENT\nUID:d\nDTSTART:20240501T090000Z\nDURATION:PT1H30M\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:n\nDTSTART:20240502T090000Z\nEND:VEVENT\n");
  auto occurrences = occurrencesOf(text, utc(2024, 5, 1), utc(2024, 5, 3));
  ASSERT_EQ(occurrences.size(), 2u);
  EXPECT_EQ(occurrences[0].end, utc(2024, 5, 1, 10, 30));
  EXPECT_EQ(occurrences[1].end, occurrences[1].start);
}

TEST(EventExpansion, DayDurationKeepsTheWallClockOverADaylightSavingChange) {
  ScopedTimeZone local("Europe/Berlin");
  std::string text = calendar("BEGIN:VEVENT\nUID:d\nDTSTART:20240330T120000\nDURATION:P1D\nEND:VEVENT\n");
  auto occurrences = occurrencesOf(text, utc(2024, 3, 29), utc(2024, 4, 2));
  ASSERT_EQ(occurrences.size(), 1u);
  EXPECT_EQ(occurrences[0].start, utc(2024, 3, 30, 11));
  EXPECT_EQ(occurrences[0].end, utc(2024, 3, 31, 10));
}

TEST(EventExpansion, UnknownZoneUsesTheFilesOwnBlock) {
  ScopedTimeZone local("UTC");
  std::string text = calendar(
      "BEGIN:VTIMEZONE\nTZID:Office Time\nBEGIN:STANDARD\nDTSTART:19700101T000000\nTZOFFSETFROM:+0530\n"
      "TZOFFSETTO:+0530\nEND:STANDARD\nEND:VTIMEZONE\n"
      "BEGIN:VEVENT\nUID:u\nDTSTART;TZID=Office Time:20240501T093000\nEND:VEVENT\n");
  EXPECT_EQ(startsOf(occurrencesOf(text, utc(2024, 5, 1), utc(2024, 5, 2))), std::vector<Instant>{utc(2024, 5, 1, 4)});
}

TEST(EventExpansion, UnknownZoneWithoutBlockAndFloatingTimesAreLocal) {
  ScopedTimeZone local("America/New_York");
  std::string text = calendar(
      "BEGIN:VEVENT\nUID:u\nDTSTART;TZID=Nowhere/Special:20240501T090000\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:f\nDTSTART:20240502T090000\nEND:VEVENT\n");
  EXPECT_EQ(startsOf(occurrencesOf(text, utc(2024, 5, 1), utc(2024, 5, 3))),
            (std::vector<Instant>{utc(2024, 5, 1, 13), utc(2024, 5, 2, 13)}));
}

TEST(EventExpansion, RdateAddsAnOccurrenceOnce) {
  ScopedTimeZone local("UTC");
  std::string text = calendar(
      "BEGIN:VEVENT\nUID:r\nDTSTART:20240501T080000Z\nRRULE:FREQ=DAILY;COUNT=2\n"
      "RDATE:20240510T080000Z,20240502T080000Z\nEND:VEVENT\n");
  EXPECT_EQ(startsOf(occurrencesOf(text, utc(2024, 5, 1), utc(2024, 5, 31))),
            (std::vector<Instant>{utc(2024, 5, 1, 8), utc(2024, 5, 2, 8), utc(2024, 5, 10, 8)}));
}

TEST(EventExpansion, WindowTakesEventsThatOverlapIt) {
  ScopedTimeZone local("UTC");
  std::string text = calendar(
      "BEGIN:VEVENT\nUID:before\nDTSTART:20240430T230000Z\nDTEND:20240501T000000Z\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:across\nDTSTART:20240430T230000Z\nDTEND:20240501T003000Z\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:instant\nDTSTART:20240501T000000Z\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:last\nDTSTART:20240501T235959Z\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:after\nDTSTART:20240502T000000Z\nEND:VEVENT\n");
  EXPECT_EQ(startsOf(occurrencesOf(text, utc(2024, 5, 1), utc(2024, 5, 1, 23, 59, 59))),
            (std::vector<Instant>{utc(2024, 4, 30, 23), utc(2024, 5, 1), utc(2024, 5, 1, 23, 59, 59)}));
}

TEST(EventExpansion, EndlessRuleStopsAtTheWindow) {
  ScopedTimeZone local("UTC");
  std::string text = calendar("BEGIN:VEVENT\nUID:x\nDTSTART:20000101T080000Z\nRRULE:FREQ=DAILY\nEND:VEVENT\n");
  EXPECT_EQ(startsOf(occurrencesOf(text, utc(2024, 5, 1), utc(2024, 5, 2, 23, 59, 59))),
            (std::vector<Instant>{utc(2024, 5, 1, 8), utc(2024, 5, 2, 8)}));
}

TEST(EventExpansion, RulesBegunLongAgoGiveTheSameOccurrencesAsAWalkFromTheStart) {
  ScopedTimeZone local("Europe/Berlin");
  // A COUNT makes the expansion walk from DTSTART; without it the walk is
  // started near the window.
  for (std::string rule : {"FREQ=DAILY;INTERVAL=3", "FREQ=DAILY;INTERVAL=5", "FREQ=WEEKLY;BYDAY=MO,WE",
                           "FREQ=WEEKLY;INTERVAL=2;BYDAY=FR", "FREQ=WEEKLY;INTERVAL=3", "FREQ=MONTHLY;BYDAY=2TU",
                           "FREQ=MONTHLY;BYMONTHDAY=31", "FREQ=MONTHLY;INTERVAL=5;BYMONTHDAY=15",
                           "FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU", "FREQ=YEARLY;INTERVAL=3;BYMONTH=4",
                           "FREQ=HOURLY;INTERVAL=7"}) {
    auto expand = [&](const std::string& r, const std::string& start) {
      return startsOf(occurrencesOf(calendar("BEGIN:VEVENT\nUID:x\nDTSTART" + start + "\nDURATION:PT1H\nRRULE:" + r +
                                             "\nEND:VEVENT\n"),
                                    utc(2024, 3, 1), utc(2024, 5, 31)));
    };
    for (std::string start : {";TZID=America/New_York:20150101T233000", ":20150101T080000", ";VALUE=DATE:20150101"}) {
      if (start.find("DATE:") != std::string::npos && rule.find("HOURLY") != std::string::npos) continue;
      auto walked = expand(rule + ";COUNT=200000", start);
      EXPECT_FALSE(walked.empty()) << rule;
      EXPECT_EQ(expand(rule, start), walked) << rule << " " << start;
    }
  }
}

TEST(EventExpansion, RecurringAllDayEventAndDateExdate) {
  ScopedTimeZone local("UTC");
  std::string text = calendar(
      "BEGIN:VEVENT\nUID:y\nDTSTART;VALUE=DATE:20240501\nRRULE:FREQ=WEEKLY;COUNT=3\n"
      "EXDATE;VALUE=DATE:20240508\nEND:VEVENT\n");
  auto occurrences = occurrencesOf(text, utc(2024, 5, 1), utc(2024, 5, 31));
  EXPECT_EQ(startsOf(occurrences), (std::vector<Instant>{utc(2024, 5, 1), utc(2024, 5, 15)}));
}

TEST(CalendarFileParse, RefusesWhatIsNotACalendar) {
  EXPECT_FALSE(CalendarFile::parse("").has_value());
  EXPECT_FALSE(CalendarFile::parse("this is not a calendar\n").has_value());
  EXPECT_FALSE(CalendarFile::parse("BEGIN:VEVENT\nUID:x\nEND:VEVENT\n").has_value());
  EXPECT_FALSE(CalendarFile::parse(std::string("BEGIN:VCALENDAR\n\0\nEND:VCALENDAR\n", 30)).has_value());
}

}  // namespace
}  // namespace tallowick::ical
