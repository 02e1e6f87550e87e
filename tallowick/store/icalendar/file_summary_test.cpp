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

FileSummary summaryOf(const std::string& body) { return summarize(CalendarFile::parse(calendar(body))); }

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

TEST(CacheText, RoundTripsAndRefusesDamagedOrForeignText) {
  TodoItem tricky;
  tricky.index = 2;
  tricky.title = "tab\there, line\nbreak, back\\slash\r, \\n as text";
  tricky.priority = 9;
  tricky.due = DateComponents{2024, 6, 3, std::nullopt, std::nullopt, std::nullopt, "America/New_York"};
  TodoItem plain;
  plain.title = "-";
  plain.notes = "";
  plain.due = DateComponents{2024, 6, 3, 14, 30, 0, std::nullopt};
  FileSummary withTodos{true, true, true, false, 100, 200, {plain, tricky}};
  std::vector<CacheEntry> entries{
      {"work/a.ics", {120, 1700000000123456789, 1700000000223456789, 42}, withTodos},
      {"home/b b.ics", {7, 1, 2, 3}, {false, false, false, false, 0, 0, {}}},
      {"home/c.ics", {7, 1, 2, 3}, {true, false, true, true, -5, -5, {}}}};
  std::string text = serializeCache("/root/cals", entries);
  auto back = parseCache(text, "/root/cals");
  ASSERT_TRUE(back.has_value());
  ASSERT_EQ(back->size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ((*back)[i].path, entries[i].path);
    EXPECT_EQ((*back)[i].stamp, entries[i].stamp);
    EXPECT_EQ((*back)[i].summary, entries[i].summary);
  }
  EXPECT_EQ((*back)[0].summary.openTodos[1].title, tricky.title);
  EXPECT_FALSE(parseCache(text, "/other").has_value());
  EXPECT_FALSE(parseCache(text.substr(0, text.size() - 9), "/root/cals").has_value());
  std::string flipped = text;
  flipped[flipped.find("\t120\t") + 1] = 'x';
  EXPECT_FALSE(parseCache(flipped, "/root/cals").has_value());
  // A todo line lost: the next file's line is no todo, and the count is off.
  std::string lost = text;
  size_t todoLine = lost.find('\n', lost.find("work/a.ics")) + 1;
  lost.erase(todoLine, lost.find('\n', todoLine) + 1 - todoLine);
  EXPECT_FALSE(parseCache(lost, "/root/cals").has_value());
  std::string badEscape = text;
  badEscape.replace(badEscape.find("\\t"), 2, "\\q");
  EXPECT_FALSE(parseCache(badEscape, "/root/cals").has_value());
  EXPECT_FALSE(parseCache("", "/root/cals").has_value());
}

TEST(CacheText, NumbersKeepTheirWholeRangeAndNothingElseReads) {
  constexpr int64_t lowest = std::numeric_limits<int64_t>::min();
  constexpr int64_t highest = std::numeric_limits<int64_t>::max();
  std::vector<CacheEntry> entries{
      {"a.ics", {highest, lowest, 0, std::numeric_limits<uint64_t>::max()}, {true, false, true, false, lowest, highest, {}}}};
  std::string text = serializeCache("/r", entries);
  auto back = parseCache(text, "/r");
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ((*back)[0].stamp, entries[0].stamp);
  EXPECT_EQ((*back)[0].summary, entries[0].summary);

  // The line of a.ics with its fields: size, mtime, ctime, inode, flags,
  // first start, last end, todo count.
  auto withField = [&](int field, const std::string& value) {
    std::string line = "a.ics";
    const std::string fields[] = {"1", "2", "3", "4", "5", "6", "7", "0"};
    for (int i = 0; i < 8; ++i) line += "\t" + (i == field ? value : fields[i]);
    return std::string(text.substr(0, text.find("a.ics"))) + line + "\nend 1\n";
  };
  ASSERT_TRUE(parseCache(withField(0, "1"), "/r").has_value());
  EXPECT_TRUE(parseCache(withField(5, "-0"), "/r").has_value());
  EXPECT_TRUE(parseCache(withField(0, "007"), "/r").has_value());
  for (const char* bad : {"", "-", "+1", " 1", "1 ", "1x", "0x1", "9223372036854775808", "-9223372036854775809"})
    EXPECT_FALSE(parseCache(withField(1, bad), "/r").has_value()) << bad;
  EXPECT_FALSE(parseCache(withField(3, "-1"), "/r").has_value());                    // an inode is unsigned
  EXPECT_FALSE(parseCache(withField(3, "18446744073709551616"), "/r").has_value());  // 2^64
  EXPECT_FALSE(parseCache(withField(4, "2147483648"), "/r").has_value());            // flags are an int
}

}  // namespace
}  // namespace tallowick::ical
