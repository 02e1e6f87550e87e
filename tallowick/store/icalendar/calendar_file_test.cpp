#include <gtest/gtest.h>

#include "tallowick/store/icalendar/calendar_file.h"
#include "tallowick/store/icalendar/test_support.h"

namespace tallowick::ical {
namespace {

using testing::calendar;

std::vector<TodoItem> todosOf(const std::string& body) {
  std::optional<CalendarFile> file = testing::parseFile(calendar(body));
  EXPECT_TRUE(file.has_value());
  return file ? file->todos() : std::vector<TodoItem>{};
}

std::optional<DateComponents> dueOf(const std::string& dueLine, const std::string& extra = "") {
  auto todos = todosOf(extra + "BEGIN:VTODO\nUID:t\n" + dueLine + "\nEND:VTODO\n");
  return todos.empty() ? std::nullopt : todos[0].due;
}

void expectFields(const std::optional<DateComponents>& c, int y, int mo, int d, std::optional<int> h,
                  std::optional<int> mi, std::optional<int> s, std::optional<std::string> zone) {
  ASSERT_TRUE(c.has_value());
  EXPECT_EQ(c->year, y);
  EXPECT_EQ(c->month, mo);
  EXPECT_EQ(c->day, d);
  EXPECT_EQ(c->hour, h);
  EXPECT_EQ(c->minute, mi);
  EXPECT_EQ(c->second, s);
  EXPECT_EQ(c->timeZone, zone);
}

TEST(CalendarFileTodos, DueDateComponentsKeepTheirKindAndZone) {
  expectFields(dueOf("DUE;VALUE=DATE:20240501"), 2024, 5, 1, std::nullopt, std::nullopt, std::nullopt, std::nullopt);
  expectFields(dueOf("DUE:20240501T143000"), 2024, 5, 1, 14, 30, 0, std::nullopt);
  expectFields(dueOf("DUE;TZID=Europe/Berlin:20240501T143000"), 2024, 5, 1, 14, 30, 0, "Europe/Berlin");
  expectFields(dueOf("DUE:20240501T143000Z"), 2024, 5, 1, 14, 30, 0, "UTC");
  expectFields(dueOf("DUE;TZID=Pacific Standard Time:20240501T143000"), 2024, 5, 1, 14, 30, 0, "America/Los_Angeles");
  expectFields(dueOf("DUE:20240501T143000", "X-WR-TIMEZONE:Europe/Brussels\n"), 2024, 5, 1, 14, 30, 0,
               "Europe/Brussels");
}

TEST(CalendarFileTodos, DueInACustomZoneIsGivenInUtc) {
  std::string block =
      "BEGIN:VTIMEZONE\nTZID:Office Time\nBEGIN:STANDARD\nDTSTART:19700101T000000\nTZOFFSETFROM:+0530\n"
      "TZOFFSETTO:+0530\nEND:STANDARD\nEND:VTIMEZONE\n";
  expectFields(dueOf("DUE;TZID=Office Time:20240501T033000", block), 2024, 4, 30, 22, 0, 0, "UTC");
}

TEST(CalendarFileTodos, CompletionCancellationAndPriority) {
  auto todos = todosOf(
      "BEGIN:VTODO\nUID:a\nSUMMARY:Open\nDESCRIPTION:Line one\\nline two\\, more\nPRIORITY:5\nEND:VTODO\n"
      "BEGIN:VTODO\nUID:b\nSTATUS:COMPLETED\nEND:VTODO\n"
      "BEGIN:VTODO\nUID:c\nCOMPLETED:20240101T000000Z\nEND:VTODO\n"
      "BEGIN:VTODO\nUID:d\nSTATUS:CANCELLED\nEND:VTODO\n");
  ASSERT_EQ(todos.size(), 4u);
  EXPECT_EQ(todos[0].title, "Open");
  EXPECT_EQ(todos[0].notes, "Line one\nline two, more");
  EXPECT_EQ(todos[0].priority, 5);
  EXPECT_FALSE(todos[0].isCompleted);
  EXPECT_EQ(todos[0].due, std::nullopt);
  EXPECT_TRUE(todos[1].isCompleted);
  EXPECT_TRUE(todos[2].isCompleted);
  EXPECT_TRUE(todos[3].isCancelled);
  EXPECT_EQ(todos[3].index, 3);
  EXPECT_EQ(todos[1].title, std::nullopt);
  EXPECT_EQ(todos[1].priority, 0);
}

TEST(CalendarFileTodos, InvalidUtf8IsRepaired) {
  auto todos = todosOf("BEGIN:VTODO\nUID:a\nSUMMARY:caf\xE9!\nEND:VTODO\n");
  ASSERT_EQ(todos.size(), 1u);
  EXPECT_EQ(todos[0].title, "caf\xEF\xBF\xBD!");
}

// Only RFC 5545's escapes are read; any other backslash stays as written, as
// other calendar programs keep it.
TEST(CalendarFileTexts, MalformedEscapesComeBackAsWritten) {
  struct Case {
    const char* written;
    const char* read;
  } cases[] = {
      {"back\\slash", "back\\slash"},       {"a\\,b\\;c\\\\d\\ne\\Nf", "a,b;c\\d\ne\nf"},
      {"tab\\tand\\rcr", "tab\\tand\\rcr"}, {"lone at the end\\", "lone at the end\\"},
      {" padded\\q ", " padded\\q "},
  };
  for (const Case& c : cases) {
    auto todos = todosOf(std::string("BEGIN:VTODO\nUID:e\nSUMMARY:") + c.written + "\nEND:VTODO\n");
    ASSERT_EQ(todos.size(), 1u) << c.written;
    EXPECT_EQ(todos[0].title, c.read) << c.written;
  }
}

TEST(CalendarFileTexts, TextsAfterAnAlarmAreExactToo) {
  auto todos = todosOf(
      "BEGIN:VTODO\nUID:a\nBEGIN:VALARM\nACTION:DISPLAY\nDESCRIPTION:alarm\nTRIGGER:-PT1H\nEND:VALARM\n"
      "SUMMARY:Call Bob \nDESCRIPTION:  \nEND:VTODO\n");
  ASSERT_EQ(todos.size(), 1u);
  EXPECT_EQ(todos[0].title, "Call Bob ");
  EXPECT_EQ(todos[0].notes, "  ");
}

TEST(CalendarFileTexts, BlanksAtTheEndsAreKept) {
  auto todos = todosOf(
      "BEGIN:VTODO\nUID:a\nSUMMARY:Call Bob \nDESCRIPTION:\t two  lines\\n \n"
      " folded \nEND:VTODO\n"
      "BEGIN:VTODO\nUID:b\nSUMMARY;LANGUAGE=\"en:x\": Quoted\nDESCRIPTION:   \nEND:VTODO\n"
      "BEGIN:VTODO\nUID:c\nSUMMARY:\nEND:VTODO\n"
      "begin:vtodo\nUID:d\nsummary:  lower case \n folded twice\n\t \nend:vtodo\n");
  ASSERT_EQ(todos.size(), 4u);
  EXPECT_EQ(todos[3].title, "  lower case folded twice ");
  EXPECT_EQ(todos[0].title, "Call Bob ");
  EXPECT_EQ(todos[0].notes, "\t two  lines\n folded ");
  EXPECT_EQ(todos[1].title, " Quoted");
  // libical drops a blank value altogether; the file still has it.
  EXPECT_EQ(todos[1].notes, "   ");
  EXPECT_EQ(todos[2].title, "");
}

TEST(CalendarFileTexts, EventTextsAndEscapes) {
  std::optional<CalendarFile> file = testing::parseFile(calendar(
      "BEGIN:VEVENT\r\nUID:e\r\nSUMMARY: Bastille Day\r\nLOCATION:Paris\\, France \r\n"
      "DESCRIPTION:a\\;b\\\\c\\Nd \r\nDTSTART:20240714T100000Z\r\n"
      "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:  alarm\r\nTRIGGER:-PT5M\r\nEND:VALARM\r\n"
      "END:VEVENT\r\n"));
  ASSERT_TRUE(file.has_value());
  auto events = testing::occurrencesOf(*file, testing::utc(2024, 7, 14), testing::utc(2024, 7, 15));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].title, " Bastille Day");
  EXPECT_EQ(events[0].location, "Paris, France ");
  EXPECT_EQ(events[0].notes, "a;b\\c\nd ");
}

TEST(CalendarFileTexts, PropertiesLibicalReadsOtherwiseKeepItsReading) {
  // A grouped name is no SUMMARY to libical, and so none here either.
  auto todos = todosOf("BEGIN:VTODO\nUID:a\nX.SUMMARY: grouped \nSUMMARY:  plain \nEND:VTODO\n");
  ASSERT_EQ(todos.size(), 1u);
  EXPECT_EQ(todos[0].title, "  plain ");
}

TEST(CalendarFileTodos, PrioritiesBeyondAnIntAreReadAsWrittenAndNonNumbersAsNone) {
  auto todos = todosOf(
      "BEGIN:VTODO\nUID:a\nPRIORITY:2147483648\nEND:VTODO\n"
      "BEGIN:VTODO\nUID:b\nPRIORITY:9223372036854775807\nEND:VTODO\n"
      "BEGIN:VTODO\nUID:c\nPRIORITY:-2147483649\nEND:VTODO\n"
      "BEGIN:VTODO\nUID:d\nPRIORITY:99999999999999999999\nEND:VTODO\n"
      "BEGIN:VTODO\nUID:e\nPRIORITY:high\nEND:VTODO\n"
      "BEGIN:VTODO\nUID:f\nPRIORITY: 7\nBEGIN:VALARM\nACTION:DISPLAY\nPRIORITY:3\nTRIGGER:-PT5M\nEND:VALARM\n"
      "END:VTODO\n");
  ASSERT_EQ(todos.size(), 6u);
  EXPECT_EQ(todos[0].priority, 2147483648);
  EXPECT_EQ(todos[1].priority, INT64_MAX);
  EXPECT_EQ(todos[2].priority, -2147483649);
  EXPECT_EQ(todos[3].priority, 0);
  EXPECT_EQ(todos[4].priority, 0);
  EXPECT_EQ(todos[5].priority, 7);
}

// Shapes no calendar program writes, which make libical's parser slow down
// with the square of their size or recurse once per level, are refused
// before it sees them: the verdict depends on the text alone.
TEST(CalendarFileParse, ShapesBeyondTheLimitsAreSkippedWhole) {
  auto parameters = [](int n, const std::string& each) {
    std::string line = "X-Q";
    for (int i = 0; i < n; ++i) line += ";" + each;
    return "BEGIN:VEVENT\nUID:p\n" + line + ":v\nEND:VEVENT\n";
  };
  auto lines = [](int n, const std::string& line) {
    std::string text = "BEGIN:VEVENT\nUID:l\nDTSTART:20240101T090000Z\n";
    for (int i = 0; i < n; ++i) text += line + "\n";
    return text + "END:VEVENT\n";
  };
  auto nested = [](int depth) {
    std::string text = "BEGIN:VEVENT\nUID:n\n";
    for (int i = 0; i < depth; ++i) text += "BEGIN:X-N\n";
    for (int i = 0; i < depth; ++i) text += "END:X-N\n";
    return text + "END:VEVENT\n";
  };
  struct Case {
    std::string name;
    std::string body;
    std::string refusal;  // empty: it parses
  } cases[] = {
      {"100 parameters", parameters(100, "A=b"), ""},
      {"101 parameters", parameters(101, "A=b"), "has a line of more than 100 parameters"},
      {"40,000 parameters", parameters(40000, "A=b"), "has a line of more than 100 parameters"},
      {"semicolons inside quotes", parameters(1, "A=\"" + std::string(5000, ';') + "\""), ""},
      {"48 levels below the event", nested(48), ""},
      {"49 levels below the event", nested(49), "is nested more than 50 components deep"},
      {"a million levels", nested(1000000), "is nested more than 50 components deep"},
      // libical walks the whole component to drop each value it cannot read.
      {"2,000 unreadable dates in one event", lines(2000, "DTSTART:bad"), "holds so many values libical cannot read in one component that removing them would take it seconds"},
      {"1,000 unreadable rules in one event", lines(1000, "RRULE:bad"), ""},
      {"50,000 dates it reads", lines(50000, "EXDATE:20240102T090000Z"), ""},
      {"50,000 date lists, one bad date each", lines(50000, "EXDATE:20240102T090000Z,x"), "holds so many values libical cannot read in one component that removing them would take it seconds"},
      {"50,000 texts", lines(50000, "X-NOTE:a;b,c"), ""},
      {"a line of 4 MB", lines(1, "DESCRIPTION:" + std::string(4 << 20, 'a')), ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(testing::parseFile(calendar(c.body)).has_value(), c.refusal.empty()) << c.name;
    EXPECT_EQ(CalendarFile::refusal(calendar(c.body), zones::systemZones()).value_or(""), c.refusal) << c.name;
  }
}

TEST(CalendarFileParse, AnInterruptedParseSaysNothingAboutTheFile) {
  std::string longFile = "BEGIN:VEVENT\nUID:l\n";
  for (int i = 0; i < 3000; ++i) longFile += "X-LINE:" + std::to_string(i) + "\n";
  longFile = calendar(longFile + "END:VEVENT\n");
  int asked = 0;
  auto stop = [&] { return ++asked > 2; };
  EXPECT_THROW(CalendarFile::parse(longFile, zones::systemZones(), {}, stop), ParseInterrupted);
  EXPECT_EQ(asked, 3);
  // The guard is asked every 256 lines: a short file never meets it.
  EXPECT_TRUE(CalendarFile::parse(calendar("BEGIN:VEVENT\nUID:s\nEND:VEVENT\n"), zones::systemZones(), {}, [] {
                return true;
              }).has_value());
}

}  // namespace
}  // namespace tallowick::ical
