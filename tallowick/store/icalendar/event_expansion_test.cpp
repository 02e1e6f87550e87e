#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <tuple>
#include <sstream>

#include "tallowick/store/icalendar/calendar_file.h"
#include "tallowick/store/icalendar/event_expansion.h"
#include "tallowick/store/icalendar/test_support.h"

namespace tallowick::ical {
namespace {

using testing::calendar;
using testing::ScopedTimeZone;
using testing::utc;

std::vector<EventOccurrence> occurrencesOf(const std::string& text, Instant start, Instant end) {
  std::optional<CalendarFile> file = testing::parseFile(text);
  EXPECT_TRUE(file.has_value());
  return file ? testing::occurrencesOf(*file, start, end) : std::vector<EventOccurrence>{};
}

Instant instantOfSeconds(int64_t s) { return Instant(std::chrono::seconds(s)); }

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

std::vector<std::string> titlesOf(std::vector<EventOccurrence> occurrences) {
  std::sort(occurrences.begin(), occurrences.end(), [](const auto& a, const auto& b) { return a.start < b.start; });
  std::vector<std::string> titles;
  for (const auto& o : occurrences) titles.push_back(o.title.value_or("-"));
  return titles;
}

// Weekly on Mondays at 10:00 Berlin, across the change to summer time on
// 2024-03-31.
const std::string weeklyBerlin =
    "BEGIN:VEVENT\nUID:s\nSUMMARY:Weekly\nDTSTART;TZID=Europe/Berlin:20240311T100000\n"
    "DTEND;TZID=Europe/Berlin:20240311T110000\nRRULE:FREQ=WEEKLY;COUNT=6\nEND:VEVENT\n";

TEST(EventExpansion, ThisAndFutureMovesRetitlesAndResizesEveryLaterInstance) {
  ScopedTimeZone local("UTC");
  std::string text = calendar(weeklyBerlin +
                              "BEGIN:VEVENT\nUID:s\nSUMMARY:Later\nRECURRENCE-ID;RANGE=THISANDFUTURE;TZID=Europe/Berlin:"
                              "20240325T100000\nDTSTART;TZID=Europe/Berlin:20240325T113000\n"
                              "DTEND;TZID=Europe/Berlin:20240325T120000\nEND:VEVENT\n");
  auto occurrences = occurrencesOf(text, utc(2024, 3, 1), utc(2024, 5, 1));
  // 11:30 wall-clock time on every later Monday, also after the change.
  EXPECT_EQ(startsOf(occurrences), (std::vector<Instant>{utc(2024, 3, 11, 9), utc(2024, 3, 18, 9), utc(2024, 3, 25, 10, 30),
                                                         utc(2024, 4, 1, 9, 30), utc(2024, 4, 8, 9, 30),
                                                         utc(2024, 4, 15, 9, 30)}));
  EXPECT_EQ(titlesOf(occurrences), (std::vector<std::string>{"Weekly", "Weekly", "Later", "Later", "Later", "Later"}));
  for (const auto& o : occurrences)
    EXPECT_EQ(o.end - o.start, o.start < utc(2024, 3, 20) ? std::chrono::minutes(60) : std::chrono::minutes(30));
  // A window holding only a moved instance finds it at its new time.
  EXPECT_EQ(startsOf(occurrencesOf(text, utc(2024, 4, 8, 9, 15), utc(2024, 4, 8, 9, 45))),
            std::vector<Instant>{utc(2024, 4, 8, 9, 30)});
  EXPECT_EQ(startsOf(occurrencesOf(text, utc(2024, 4, 8, 8), utc(2024, 4, 8, 8, 30))), std::vector<Instant>{});
}

TEST(EventExpansion, LaterThisAndFutureOverrideWinsFromItsOwnInstanceOn) {
  ScopedTimeZone local("UTC");
  std::string text = calendar(
      weeklyBerlin +
      "BEGIN:VEVENT\nUID:s\nSUMMARY:Second\nRECURRENCE-ID;RANGE=THISANDFUTURE;TZID=Europe/Berlin:20240408T100000\n"
      "DTSTART;TZID=Europe/Berlin:20240408T090000\nDTEND;TZID=Europe/Berlin:20240408T100000\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:s\nSUMMARY:First\nRECURRENCE-ID;RANGE=THISANDFUTURE;TZID=Europe/Berlin:20240318T100000\n"
      "DTSTART;TZID=Europe/Berlin:20240318T120000\nDTEND;TZID=Europe/Berlin:20240318T130000\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:s\nSUMMARY:Only this\nRECURRENCE-ID;TZID=Europe/Berlin:20240401T100000\n"
      "DTSTART;TZID=Europe/Berlin:20240401T150000\nDTEND;TZID=Europe/Berlin:20240401T160000\nEND:VEVENT\n");
  auto occurrences = occurrencesOf(text, utc(2024, 3, 1), utc(2024, 5, 1));
  EXPECT_EQ(titlesOf(occurrences), (std::vector<std::string>{"Weekly", "First", "First", "Only this", "Second", "Second"}));
  EXPECT_EQ(startsOf(occurrences), (std::vector<Instant>{utc(2024, 3, 11, 9), utc(2024, 3, 18, 11), utc(2024, 3, 25, 11),
                                                         utc(2024, 4, 1, 13), utc(2024, 4, 8, 7), utc(2024, 4, 15, 7)}));
}

TEST(EventExpansion, ThisAndPriorChangesItsOwnInstanceOnly) {
  ScopedTimeZone local("UTC");
  std::string text = calendar(weeklyBerlin +
                              "BEGIN:VEVENT\nUID:s\nSUMMARY:Moved\nRECURRENCE-ID;RANGE=THISANDPRIOR;TZID=Europe/Berlin:"
                              "20240325T100000\nDTSTART;TZID=Europe/Berlin:20240325T113000\nEND:VEVENT\n");
  EXPECT_EQ(titlesOf(occurrencesOf(text, utc(2024, 3, 1), utc(2024, 5, 1))),
            (std::vector<std::string>{"Weekly", "Weekly", "Moved", "Weekly", "Weekly", "Weekly"}));
}

TEST(EventExpansion, OldDenseRulesCostTheirWindowOnly) {
  ScopedTimeZone local("UTC");
  // Each would take billions of steps from its DTSTART; a budget of 100,000
  // steps proves that the walk starts at the window.
  struct Case {
    std::string start, rule;
    Instant windowEnd;
    size_t count;
  };
  for (const Case& c : std::vector<Case>{
           {"00010101T090000Z", "FREQ=SECONDLY", utc(9000, 1, 1, 0, 0, 29), 30},
           {"89500101T000000Z", "FREQ=SECONDLY;COUNT=2000000000", utc(9000, 1, 1, 0, 0, 29), 30},
           {"00010101T090000Z", "FREQ=MINUTELY;INTERVAL=7;BYHOUR=9,10", utc(9000, 1, 7, 23, 59, 59), 7 * 17},
           {"00010101T090000Z", "FREQ=HOURLY;BYDAY=MO", utc(9000, 1, 7, 23, 59, 59), 24},
           {"00010101T090000Z", "FREQ=DAILY;BYHOUR=1,2,3;BYMINUTE=0,30", utc(9000, 1, 7, 23, 59, 59), 7 * 6}}) {
    auto file = testing::parseFile(calendar("BEGIN:VEVENT\nUID:x\nDTSTART:" + c.start + "\nRRULE:" + c.rule + "\nEND:VEVENT\n"));
    auto occurrences = file->occurrenceList(utc(9000, 1, 1), c.windowEnd, 100'000);
    EXPECT_NEAR(static_cast<double>(occurrences.size()), static_cast<double>(c.count), 1.0) << c.rule;
  }
}

TEST(EventExpansion, FileOverItsBudgetIsSkippedWholeNotCutShort) {
  ScopedTimeZone local("UTC");
  // Counting up to the window takes a walk from DTSTART: months are not all
  // alike, so the count before it cannot be had in closed form.
  std::string text = calendar(
      "BEGIN:VEVENT\nUID:a\nDTSTART:20240101T090000Z\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:x\nDTSTART:20000101T000000Z\nRRULE:FREQ=SECONDLY;BYMONTH=1,3;COUNT=2000000000\nEND:VEVENT\n");
  auto file = testing::parseFile(text);
  EXPECT_EQ(file->occurrenceList(utc(2024, 1, 1), utc(2024, 1, 1, 9), 1'000'000).size(), 0u);
  EXPECT_EQ(file->occurrenceList(utc(2000, 1, 1), utc(2000, 1, 1, 0, 0, 9), 1'000'000).size(), 10u);
  // Its span cannot be found within the budget either: that verdict is on the
  // file alone, so it is kept, and the file is never listed.
  EXPECT_TRUE(file->eventSpan(1'000'000).overBudget);
  EXPECT_FALSE(file->eventSpan(1'000'000).any);
}

TEST(EventExpansion, HugeDurationEndsAtTheLastSecondOf9999) {
  ScopedTimeZone local("UTC");
  std::string text = calendar(
      "BEGIN:VEVENT\nUID:d\nDTSTART:20240501T090000Z\nDURATION:P99999999W\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:e\nDTSTART:20240501T090000Z\nDURATION:PT4294967295H4294967295M\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:f\nDTSTART;VALUE=DATE:20240501\nDURATION:P99999999W\nEND:VEVENT\n");
  auto occurrences = occurrencesOf(text, utc(2024, 5, 1), utc(2024, 5, 2));
  ASSERT_EQ(occurrences.size(), 3u);
  for (const auto& o : occurrences) EXPECT_EQ(o.end, utc(9999, 12, 31, 23, 59, 59));
}

TEST(EventExpansion, FarFutureYearsUpTo9999) {
  ScopedTimeZone local("UTC");
  std::string text = calendar(
      "BEGIN:VEVENT\nUID:one\nDTSTART:30010615T100000Z\nEND:VEVENT\n"
      "BEGIN:VEVENT\nUID:y\nDTSTART:20000101T120000Z\nRRULE:FREQ=YEARLY\nEND:VEVENT\n");
  EXPECT_EQ(occurrencesOf(text, utc(3001, 6, 15), utc(3001, 6, 16)).size(), 1u);
  EXPECT_EQ(occurrencesOf(text, utc(2500, 1, 1), utc(2700, 12, 31, 23, 59, 59)).size(), 201u);
  auto all = startsOf(occurrencesOf(text, utc(2024, 1, 1), utc(9999, 12, 31, 23, 59, 59)));
  ASSERT_EQ(all.size(), 9999u - 2024u + 1u + 1u);
  EXPECT_EQ(all.back(), utc(9999, 1, 1, 12));
}

TEST(EventExpansion, ZoneRulesOfTheLastKnownYearCarryForward) {
  ScopedTimeZone local("UTC");
  // New York's own file and a VTIMEZONE block with the same rules.
  const std::string block =
      "BEGIN:VTIMEZONE\nTZID:Eastern\nBEGIN:DAYLIGHT\nDTSTART:20070311T020000\nTZOFFSETFROM:-0500\n"
      "TZOFFSETTO:-0400\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\nEND:DAYLIGHT\nBEGIN:STANDARD\n"
      "DTSTART:20071104T020000\nTZOFFSETFROM:-0400\nTZOFFSETTO:-0500\nRRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\n"
      "END:STANDARD\nEND:VTIMEZONE\n";
  for (std::string tzid : {"America/New_York", "Eastern"}) {
    std::string text = calendar(block + "BEGIN:VEVENT\nUID:s\nDTSTART;TZID=" + tzid +
                                ":26000704T100000\nEND:VEVENT\nBEGIN:VEVENT\nUID:w\nDTSTART;TZID=" + tzid +
                                ":98000115T100000\nEND:VEVENT\n");
    EXPECT_EQ(startsOf(occurrencesOf(text, utc(2600, 7, 1), utc(2600, 7, 8))), std::vector<Instant>{utc(2600, 7, 4, 14)})
        << tzid;
    EXPECT_EQ(startsOf(occurrencesOf(text, utc(9800, 1, 1), utc(9800, 2, 1))), std::vector<Instant>{utc(9800, 1, 15, 15)})
        << tzid;
  }
}

TEST(EventExpansion, RunawayTimeZoneRuleIsLeftOut) {
  ScopedTimeZone local("UTC");
  // A daylight rule that would change the offset every second: only its
  // first change counts, and the yearly standard one follows it.
  std::string text = calendar(
      "BEGIN:VTIMEZONE\nTZID:Odd\nBEGIN:DAYLIGHT\nDTSTART:19700101T000000\nTZOFFSETFROM:+0100\nTZOFFSETTO:+0200\n"
      "RRULE:FREQ=SECONDLY\nEND:DAYLIGHT\nBEGIN:STANDARD\nDTSTART:19701025T030000\nTZOFFSETFROM:+0200\n"
      "TZOFFSETTO:+0100\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\nEND:STANDARD\nEND:VTIMEZONE\n"
      "BEGIN:VEVENT\nUID:o\nDTSTART;TZID=Odd:20240601T100000\nRRULE:FREQ=DAILY;COUNT=3\nEND:VEVENT\n");
  EXPECT_EQ(startsOf(occurrencesOf(text, utc(2024, 6, 1), utc(2024, 6, 1, 23))), std::vector<Instant>{utc(2024, 6, 1, 9)});
}

// An occurrence as the local zone shows it: "2024-04-15 11:00-12:00 Title",
// all-day ones by their dates: "2024-04-10 Title".
std::string localText(const EventOccurrence& o) {
  const zones::ZoneRules& local = zones::systemZones().local();
  auto wall = [&](Instant t) {
    int64_t s = std::chrono::floor<std::chrono::seconds>(t).time_since_epoch().count();
    return zones::civilFromWall(s + local.offsetAt(s));
  };
  zones::CivilTime a = wall(o.start), b = wall(o.end);
  bool sameDay = a.year == b.year && a.month == b.month && a.day == b.day;
  char text[80];
  int n = std::snprintf(text, sizeof text, "%04d-%02d-%02d", static_cast<int>(a.year), a.month, a.day);
  if (!o.isAllDay) n += std::snprintf(text + n, sizeof text - n, " %02d:%02d-", a.hour, a.minute);
  if (!sameDay)
    n += std::snprintf(text + n, sizeof text - n, "%s%04d-%02d-%02d%s", o.isAllDay ? ".." : "", static_cast<int>(b.year),
                       b.month, b.day, o.isAllDay ? "" : " ");
  if (!o.isAllDay) std::snprintf(text + n, sizeof text - n, "%02d:%02d", b.hour, b.minute);
  return std::string(text) + " " + o.title.value_or("-");
}

// From local midnight of the first day to the last second of the last, as
// `events <from> <to>` lists.
std::vector<std::string> listedLocally(const std::string& text, const char* from, const char* to) {
  auto day = [](const char* date, int64_t second) {
    int y = 0, m = 0, d = 0;
    std::sscanf(date, "%d-%d-%d", &y, &m, &d);
    return instantOfSeconds(zones::systemZones().local().utcOf(zones::wallSeconds(y, m, d, 0, 0, 0) + second));
  };
  std::vector<std::string> listed;
  for (const EventOccurrence& o : occurrencesOf(text, day(from, 0), day(to, 86399))) listed.push_back(localText(o));
  std::sort(listed.begin(), listed.end());
  return listed;
}

std::string event(const std::string& lines) { return "BEGIN:VEVENT\n" + lines + "END:VEVENT\n"; }

// Outlook's block for Central European time, under any name.
std::string europeBlock(const std::string& tzid) {
  return "BEGIN:VTIMEZONE\nTZID:" + tzid +
         "\nBEGIN:STANDARD\nDTSTART:16010101T030000\nTZOFFSETFROM:+0200\nTZOFFSETTO:+0100\n"
         "RRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10\nEND:STANDARD\nBEGIN:DAYLIGHT\nDTSTART:16010101T020000\n"
         "TZOFFSETFROM:+0100\nTZOFFSETTO:+0200\nRRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=3\nEND:DAYLIGHT\nEND:VTIMEZONE\n";
}

TEST(EventExpansion, CalendarsAsOutlookGoogleAndAppleWriteThem) {
  struct Listing {
    const char* what;
    const char* zones;  // each lists the same
    const char* from;
    const char* to;
    std::string body;
    std::vector<std::string> listed;
  };
  const std::string bins = event(
      "UID:b\nSUMMARY:Bins\nDTSTART;VALUE=DATE:20200402\nDTEND;VALUE=DATE:20200403\nRRULE:FREQ=WEEKLY;COUNT=3\n");
  const std::string late = "SUMMARY:Late\nDTSTART;VALUE=DATE:20200410\nDTEND;VALUE=DATE:20200411\n";
  const std::string periods = event(
      "UID:p\nSUMMARY:P\nDTSTART:20240901T120000Z\nDTEND:20240901T130000Z\nRRULE:FREQ=DAILY;COUNT=2\n"
      "RDATE;VALUE=PERIOD:20240910T120000Z/P3D,20240902T120000Z/PT5H\n");
  const std::vector<Listing> listings = {
      {"an override in a zone of the file", "Europe/Berlin", "2024-04-01", "2024-04-30",
       europeBlock("W. Europe Standard Time") + event("UID:p\nSUMMARY:Plain\nDTSTART;VALUE=DATE:20240410\n") +
           event("UID:m\nSUMMARY:Moved\nRECURRENCE-ID;TZID=W. Europe Standard Time:20240415T093000\n"
                 "DTSTART;TZID=W. Europe Standard Time:20240415T110000\n"
                 "DTEND;TZID=W. Europe Standard Time:20240415T120000\n"),
       {"2024-04-10 Plain", "2024-04-15 11:00-12:00 Moved"}},
      {"overrides in two zones of the file", "Europe/Berlin", "2024-04-01", "2024-04-30",
       europeBlock("Zone A") + europeBlock("Zone B") + event("UID:e1\nSUMMARY:E1\nDTSTART;VALUE=DATE:20240410\n") +
           event("UID:o1\nSUMMARY:O1\nRECURRENCE-ID;TZID=Zone A:20240411T090000\nDTSTART;TZID=Zone A:20240411T110000\n") +
           event("UID:e2\nSUMMARY:E2\nDTSTART;VALUE=DATE:20240412\n") +
           event("UID:o2\nSUMMARY:O2\nRECURRENCE-ID;TZID=Zone B:20240413T090000\nDTSTART;TZID=Zone B:20240413T110000\n"),
       {"2024-04-10 E1", "2024-04-11 11:00-11:00 O1", "2024-04-12 E2", "2024-04-13 11:00-11:00 O2"}},
      {"overrides before and after their master, in zones of the file", "Europe/Berlin", "2024-04-01", "2024-04-30",
       europeBlock("Zone A") + europeBlock("Zone B") +
           event("UID:s\nSUMMARY:Early\nRECURRENCE-ID;TZID=Zone B:20240408T100000\n"
                 "DTSTART;TZID=Zone B:20240408T150000\nDURATION:PT1H\n") +
           event("UID:s\nSUMMARY:S\nDTSTART;TZID=Zone A:20240401T100000\nDTEND;TZID=Zone A:20240401T110000\n"
                 "RRULE:FREQ=WEEKLY;COUNT=3\n") +
           event("UID:s\nSUMMARY:Late\nRECURRENCE-ID;TZID=Zone A:20240415T100000\n"
                 "DTSTART;TZID=Zone A:20240416T090000\nDURATION:PT1H\n"),
       {"2024-04-01 10:00-11:00 S", "2024-04-08 15:00-16:00 Early", "2024-04-16 09:00-10:00 Late"}},
      {"an older copy of a series", "Europe/Berlin", "2024-07-01", "2024-07-31",
       event("UID:w\nDTSTAMP:20240601T000000Z\nSEQUENCE:1\nDTSTART;VALUE=DATE:20240701\nRRULE:FREQ=WEEKLY;COUNT=3\n"
             "SUMMARY:Old\n") +
           event("UID:w\nDTSTAMP:20240602T000000Z\nSEQUENCE:2\nDTSTART;VALUE=DATE:20240701\n"
                 "RRULE:FREQ=WEEKLY;COUNT=3\nEXDATE;VALUE=DATE:20240708\nSUMMARY:New\n"),
       {"2024-07-01 New", "2024-07-15 New"}},
      {"copies with one SEQUENCE: the later DTSTAMP, then the last one", "UTC", "2024-07-01", "2024-07-31",
       event("UID:a\nSEQUENCE:2\nRECURRENCE-ID:20240708T090000Z\nDTSTART:20240708T110000Z\nSUMMARY:Moved 2\n") +
           event("UID:a\nSEQUENCE:3\nDTSTAMP:20240602T000000Z\nDTSTART:20240701T090000Z\n"
                 "RRULE:FREQ=WEEKLY;COUNT=3\nSUMMARY:A new\n") +
           event("UID:a\nSEQUENCE:3\nDTSTAMP:20240601T000000Z\nDTSTART:20240701T080000Z\n"
                 "RRULE:FREQ=WEEKLY;COUNT=3\nSUMMARY:A old\n") +
           event("UID:a\nSEQUENCE:1\nRECURRENCE-ID:20240708T090000Z\nDTSTART:20240708T100000Z\nSUMMARY:Moved 1\n") +
           event("UID:b\nDTSTART:20240702T080000Z\nSUMMARY:B first\n") +
           event("UID:b\nDTSTART:20240702T090000Z\nSUMMARY:B last\n"),
       {"2024-07-01 09:00-09:00 A new", "2024-07-02 09:00-09:00 B last", "2024-07-08 11:00-11:00 Moved 2",
        "2024-07-15 09:00-09:00 A new"}},
      {"RDATE periods, by end and by duration", "UTC", "2024-09-12", "2024-09-14",
       event("UID:r\nSUMMARY:R\nDTSTART:20240912T120000Z\nDTEND:20240912T130000Z\n"
             "RDATE;VALUE=PERIOD:20240913T120000Z/PT2H,20240914T120000Z/20240914T150000Z\n"),
       {"2024-09-12 12:00-13:00 R", "2024-09-13 12:00-14:00 R", "2024-09-14 12:00-15:00 R"}},
      {"a period that outlasts the series' length, on a rule's instance", "UTC", "2024-09-01", "2024-09-30", periods,
       {"2024-09-01 12:00-13:00 P", "2024-09-02 12:00-17:00 P", "2024-09-10 12:00-2024-09-13 12:00 P"}},
      {"a period reaching into the window from before it", "UTC", "2024-09-12", "2024-09-12", periods,
       {"2024-09-10 12:00-2024-09-13 12:00 P"}},
      {"an all-day series' instance named by a date-time", "Europe/London Europe/Berlin America/Los_Angeles",
       "2020-04-01", "2020-04-30", bins + event("UID:b\nRECURRENCE-ID;TZID=Europe/London:20200409T000000\n" + late),
       {"2020-04-02 Bins", "2020-04-10 Late", "2020-04-16 Bins"}},
      {"... by a UTC midnight, and excluded by one", "Asia/Tokyo America/Los_Angeles", "2020-04-01", "2020-04-30",
       bins + event("UID:b\nRECURRENCE-ID:20200409T000000Z\n" + late) +
           event("UID:c\nSUMMARY:C\nDTSTART;VALUE=DATE:20200401\nRRULE:FREQ=DAILY;COUNT=2\n"
                 "EXDATE;TZID=Europe/London:20200402T000000\n"),
       {"2020-04-01 C", "2020-04-02 Bins", "2020-04-10 Late", "2020-04-16 Bins"}},
      {"Windows zone names and stray characters around known ones", "America/New_York", "2023-01-04", "2023-01-05",
       event("UID:w\nSUMMARY:W\nDTSTART;TZID=Pacific Standard Time:20230105T100000\n"
             "DTEND;TZID=Pacific Standard Time:20230105T110000\n") +
           event("UID:q\nSUMMARY:Q\nDTSTART;TZID=\" Europe/Berlin\":20230105T100000\n") +
           event("UID:s\nSUMMARY:S\nDTSTART;TZID=/Asia/Tokyo:20230105T100000\n"),
       {"2023-01-04 20:00-20:00 S", "2023-01-05 04:00-04:00 Q", "2023-01-05 13:00-14:00 W"}},
      {"... unless the file has a block of that very TZID", "America/New_York", "2023-01-05", "2023-01-05",
       "BEGIN:VTIMEZONE\nTZID:Pacific Standard Time\nBEGIN:STANDARD\nDTSTART:19700101T000000\nTZOFFSETFROM:+0000\n"
       "TZOFFSETTO:+0000\nEND:STANDARD\nEND:VTIMEZONE\n" +
           event("UID:w\nSUMMARY:W\nDTSTART;TZID=Pacific Standard Time:20230105T100000\n"),
       {"2023-01-05 05:00-05:00 W"}},
      {"X-WR-TIMEZONE for floating date-times only", "America/New_York", "2021-09-16", "2021-09-17",
       "X-WR-TIMEZONE:Europe/Brussels\n" +
           event("UID:f\nSUMMARY:F\nDTSTART:20210916T210000\nDTEND:20210916T224500\n") +
           event("UID:d\nSUMMARY:D\nDTSTART;VALUE=DATE:20210917\n") +
           event("UID:u\nSUMMARY:U\nDTSTART:20210917T120000Z\n") +
           event("UID:z\nSUMMARY:Z\nDTSTART;TZID=Asia/Tokyo:20210917T230000\n"),
       {"2021-09-16 15:00-16:45 F", "2021-09-17 08:00-08:00 U", "2021-09-17 10:00-10:00 Z", "2021-09-17 D"}},
      {"an X-WR-TIMEZONE that names no zone", "America/New_York", "2021-09-16", "2021-09-16",
       "X-WR-TIMEZONE:Mars/Olympus\n" + event("UID:f\nSUMMARY:F\nDTSTART:20210916T210000\n"),
       {"2021-09-16 21:00-21:00 F"}},
      {"INTERVAL beyond 16 bits", "UTC", "2024-01-01", "2400-12-31",
       event("UID:i\nSUMMARY:I\nDTSTART:20240101T090000Z\nRRULE:FREQ=DAILY;INTERVAL=65537;COUNT=2\n"),
       {"2024-01-01 09:00-09:00 I", "2203-06-09 09:00-09:00 I"}},
      {"INTERVAL 32768, libical's negative short", "UTC", "2024-01-01", "2400-12-31",
       event("UID:i\nSUMMARY:I\nDTSTART:20240101T090000Z\nRRULE:FREQ=DAILY;INTERVAL=32768;COUNT=2\n"),
       {"2024-01-01 09:00-09:00 I", "2113-09-19 09:00-09:00 I"}},
      {"COUNT beyond 32 bits, and past 9999", "UTC", "9999-12-31", "9999-12-31",
       event("UID:c\nSUMMARY:C\nDTSTART:20240101T090000Z\nRRULE:FREQ=DAILY;COUNT=4294967298\n") +
           event("UID:d\nSUMMARY:D\nDTSTART:20240101T100000Z\nRRULE:FREQ=DAILY;COUNT=99999999999999999999\n"),
       {"9999-12-31 09:00-09:00 C", "9999-12-31 10:00-10:00 D"}},
      {"numbers no rule can hold: the rule is refused", "UTC", "2024-01-01", "2400-12-31",
       event("UID:b\nSUMMARY:B\nDTSTART:20240101T090000Z\nRRULE:FREQ=MONTHLY;BYDAY=65537MO\n") +
           event("UID:n\nSUMMARY:N\nDTSTART:20240101T090000Z\nRRULE:FREQ=DAILY;INTERVAL=-65535\n"),
       {"2024-01-01 09:00-09:00 B", "2024-01-01 09:00-09:00 N"}},
  };
  for (const Listing& l : listings) {
    std::istringstream zones(l.zones);
    for (std::string zone; zones >> zone;) {
      ScopedTimeZone local(zone.c_str());
      EXPECT_EQ(listedLocally(calendar(l.body), l.from, l.to), l.listed) << l.what << " in " << zone;
    }
  }
}

TEST(EventExpansion, EveryWindowAndTheCachedSpanAgreeWithTheWholeListing) {
  ScopedTimeZone local("Europe/Berlin");
  // Copies of a series and of its overrides, ranges, RDATE periods longer
  // than the series, an all-day series with date-time overrides and EXDATEs.
  std::string text = calendar(
      europeBlock("Zone A") +
      event("UID:s\nSEQUENCE:1\nSUMMARY:S\nDTSTART;TZID=Zone A:20240101T100000\nDTEND;TZID=Zone A:20240101T120000\n"
            "RRULE:FREQ=WEEKLY;BYDAY=MO,TH;UNTIL=20241231T000000Z\n"
            "RDATE;VALUE=PERIOD:20240305T120000Z/P9D\n") +
      event("UID:p\nSUMMARY:P\nDTSTART:20240601T120000Z\nRDATE;VALUE=PERIOD:20241230T220000Z/20250120T010000Z\n") +
      event("UID:s\nSUMMARY:Old S\nDTSTART;TZID=Zone A:20240102T100000\nRRULE:FREQ=DAILY\n") +
      event("UID:s\nSUMMARY:Moved\nRECURRENCE-ID;TZID=Zone A:20240205T100000\nDTSTART:20240207T230000Z\n"
            "DURATION:P2DT3H\n") +
      event("UID:s\nSEQUENCE:2\nSUMMARY:Moved again\nRECURRENCE-ID;TZID=Zone A:20240205T100000\n"
            "DTSTART:20240208T230000Z\nDURATION:P2DT3H\n") +
      event("UID:s\nSUMMARY:Later\nRECURRENCE-ID;RANGE=THISANDFUTURE;TZID=Zone A:20240801T100000\n"
            "DTSTART;TZID=Zone A:20240803T180000\nDURATION:P1DT1H\n") +
      event("UID:b\nSUMMARY:B\nDTSTART;VALUE=DATE:20240103\nRRULE:FREQ=WEEKLY;COUNT=50\n"
            "EXDATE;TZID=Europe/London:20240214T000000\n") +
      event("UID:b\nSUMMARY:B moved\nRECURRENCE-ID:20240306T000000Z\nDTSTART;VALUE=DATE:20240308\n"
            "DTEND;VALUE=DATE:20240311\n"));
  auto file = testing::parseFile(text);
  ASSERT_TRUE(file.has_value());
  using Listed = std::tuple<Instant, Instant, std::string, bool>;
  auto listed = [&](Instant from, Instant to) {
    std::vector<Listed> out;
    for (const EventOccurrence& o : testing::occurrencesOf(*file, from, to))
      out.emplace_back(o.start, o.end, o.title.value_or(""), o.isAllDay);
    std::sort(out.begin(), out.end());
    return out;
  };
  std::vector<Listed> whole = listed(utc(2000, 1, 1), utc(2100, 1, 1));
  ASSERT_GT(whole.size(), 150u);
  EventSpan span = file->eventSpan();
  ASSERT_FALSE(span.unbounded);
  for (const Listed& o : whole) EXPECT_TRUE(std::get<0>(o) >= span.first && std::get<1>(o) <= span.last);
  // Windows from shortly before an occurrence to long after its start.
  std::mt19937 random(20261210);
  for (int n = 0; n < 500; ++n) {
    Instant from = std::get<0>(whole[random() % whole.size()]) + std::chrono::seconds(random() % (24 * 86400)) -
                   std::chrono::hours(48);
    Instant to = from + std::chrono::seconds(random() % (3 * 86400));
    std::vector<Listed> expected;
    for (const Listed& o : whole)
      if (std::get<0>(o) <= to && (std::get<1>(o) > from || std::get<0>(o) >= from)) expected.push_back(o);
    EXPECT_EQ(listed(from, to), expected) << n;
  }
}

TEST(CalendarFileParse, RefusesWhatIsNotACalendar) {
  EXPECT_FALSE(testing::parseFile("").has_value());
  EXPECT_FALSE(testing::parseFile("this is not a calendar\n").has_value());
  EXPECT_FALSE(testing::parseFile("BEGIN:VEVENT\nUID:x\nEND:VEVENT\n").has_value());
  EXPECT_FALSE(testing::parseFile(std::string("BEGIN:VCALENDAR\n\0\nEND:VCALENDAR\n", 30)).has_value());
}

}  // namespace
}  // namespace tallowick::ical
