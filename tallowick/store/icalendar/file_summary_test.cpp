#include "tallowick/store/icalendar/file_summary.h"

#include <gtest/gtest.h>

#include <limits>

#include "tallowick/store/icalendar/test_support.h"

namespace tallowick::ical {
namespace {

using testing::calendar;
using testing::ScopedTimeZone;
using testing::utc;

int64_t seconds(Instant t) { return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count(); }

FileSummary summaryOf(const std::string& body) { return summarize(testing::parseFile(calendar(body))); }

TEST(FileSummary, SpanOfSingleAndBoundedRecurringEvents) {
  ScopedTimeZone local("UTC");
  FileSummary single = summaryOf("BEGIN:VEVENT\nUID:a\nDTSTART:20240501T090000Z\nDTEND:20240501T100000Z\nEND:VEVENT\n");
  EXPECT_TRUE(single.parses && single.hasEvents && !single.unbounded && !single.hasIncompleteTodos);
  EXPECT_EQ(single.firstStart, seconds(utc(2024, 5, 1, 9)));
  EXPECT_EQ(single.lastEnd, seconds(utc(2024, 5, 1, 10)));
  FileSummary weekly = summaryOf(
      "BEGIN:VEVENT\nUID:w\nDTSTART:20240501T090000Z\nDURATION:PT1H\nRRULE:FREQ=WEEKLY;COUNT=3\nEND:VEVENT\n");
  EXPECT_EQ(weekly.lastEnd, seconds(utc(2024, 5, 15, 10)));
  FileSummary until = summaryOf(
      "BEGIN:VEVENT\nUID:w\nDTSTART:20240501T090000Z\nRRULE:FREQ=DAILY;UNTIL=20240503T090000Z\nEND:VEVENT\n");
  EXPECT_EQ(until.lastEnd, seconds(utc(2024, 5, 3, 9)));
  EXPECT_FALSE(until.unbounded);
  // A COUNT that outlasts 9999 reaches its end.
  FileSummary longCount = summaryOf(
      "BEGIN:VEVENT\nUID:l\nDTSTART:20240501T090000Z\nRRULE:FREQ=DAILY;COUNT=2000000000\nEND:VEVENT\n");
  EXPECT_TRUE(mayOverlap(longCount, utc(9999, 12, 31), utc(9999, 12, 31, 23)));
}

TEST(FileSummary, EndlessRulesAndTodos) {
  FileSummary endless =
      summaryOf("BEGIN:VEVENT\nUID:e\nDTSTART:20240501T090000Z\nRRULE:FREQ=YEARLY\nEND:VEVENT\n"
                "BEGIN:VTODO\nUID:t\nEND:VTODO\n");
  EXPECT_TRUE(endless.unbounded);
  EXPECT_TRUE(endless.hasIncompleteTodos);
  EXPECT_TRUE(mayOverlap(endless, utc(2150, 1, 1), utc(2150, 1, 2)));
  EXPECT_FALSE(mayOverlap(endless, utc(2024, 4, 1), utc(2024, 4, 2)));
  FileSummary done = summaryOf("BEGIN:VTODO\nUID:t\nSTATUS:COMPLETED\nEND:VTODO\n");
  EXPECT_FALSE(done.hasIncompleteTodos);
  EXPECT_FALSE(done.hasEvents);
  EXPECT_FALSE(summarize(std::nullopt).parses);
}

TEST(FileSummary, OverlapIsWidenedForOtherLocalZones) {
  ScopedTimeZone local("Pacific/Kiritimati");  // UTC+14: a floating event made here lies far from UTC
  FileSummary floating = summaryOf("BEGIN:VEVENT\nUID:f\nDTSTART:20240501T090000\nEND:VEVENT\n");
  // In UTC-12 the same wall-clock time is 26 hours later.
  EXPECT_TRUE(mayOverlap(floating, utc(2024, 5, 1, 21), utc(2024, 5, 1, 22)));
  EXPECT_FALSE(mayOverlap(floating, utc(2024, 5, 3), utc(2024, 5, 4)));
  EXPECT_FALSE(mayOverlap(floating, utc(2024, 4, 28), utc(2024, 4, 29)));
  // Events too costly to expand are never listed, whatever the window.
  floating.overBudget = true;
  EXPECT_FALSE(mayOverlap(floating, utc(2024, 5, 1, 21), utc(2024, 5, 1, 22)));
}

TEST(FileSummary, KeepsOpenTodosAsTheyRead) {
  FileSummary s = summaryOf(
      "BEGIN:VTODO\nUID:a\nSUMMARY:Done\nSTATUS:COMPLETED\nEND:VTODO\n"
      "BEGIN:VTODO\nUID:b\nSUMMARY:Call\\, then write\nDESCRIPTION:line one\\nline two\nPRIORITY:5\n"
      "DUE;TZID=Europe/Paris:20240603T143000\nEND:VTODO\n"
      "BEGIN:VTODO\nUID:c\nSTATUS:CANCELLED\nEND:VTODO\n"
      "BEGIN:VTODO\nUID:d\nDUE;VALUE=DATE:20240604\nEND:VTODO\n");
  ASSERT_EQ(s.openTodos.size(), 2u);
  const TodoItem& call = s.openTodos[0];
  EXPECT_EQ(call.index, 1);
  EXPECT_EQ(call.title, "Call, then write");
  EXPECT_EQ(call.notes, "line one\nline two");
  EXPECT_EQ(call.priority, 5);
  ASSERT_TRUE(call.due.has_value());
  EXPECT_EQ(call.due->hour, 14);
  EXPECT_EQ(call.due->timeZone, "Europe/Paris");
  EXPECT_EQ(s.openTodos[1].index, 3);
  EXPECT_EQ(s.openTodos[1].title, std::nullopt);
  EXPECT_EQ(s.openTodos[1].due->hour, std::nullopt);
}

}  // namespace
}  // namespace tallowick::ical
