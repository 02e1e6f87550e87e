#include "tallowick/events.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tallowick/fake_store.h"
#include "tallowick/test_support.h"

namespace tallowick {
namespace {

using testing::at;
using testing::FakePlatform;
using testing::helperMessage;

constexpr long long kMay1 = 1714536000;  // 2024-05-01T00:00:00 in New York

Event eventIn(const std::string& calendarTitle, const std::string& title) {
  Event e;
  e.title = title;
  e.startDate = at(kMay1 + 9 * 3600);
  e.endDate = at(kMay1 + 10 * 3600);
  e.calendar = Calendar{"c-" + calendarTitle, calendarTitle};
  return e;
}

class EventsTest : public ::testing::Test {
 protected:
  std::string run(const std::string& start = "2024-05-01", const std::string& end = "2024-05-07") {
    std::ostringstream out;
    runEvents(platform_, out, start, end, [] { return at(kMay1 + 12 * 3600 + 34 * 60 + 56); });
    return out.str();
  }
  std::vector<std::string> titlesListed() {
    std::vector<std::string> titles;
    std::string text = run();
    for (size_t p = text.find("\"title\":\""); p != std::string::npos; p = text.find("\"title\":\"", p + 1)) {
      size_t from = p + 9;
      titles.push_back(text.substr(from, text.find('"', from) - from));
    }
    return titles;
  }

  testing::ScopedTimeZone zone_{"America/New_York"};
  FakePlatform platform_;
};

TEST(ShouldSkipCalendar, ExactTitlesAndHolidaysAnywhere) {
  for (const char* skipped : {"Reminders MenuBar", "Scheduled Reminders", "Birthdays", "India Holidays",
                              "Siri Suggestions", "US Holidays", "Holidays in Germany", "Holidays"})
    EXPECT_TRUE(shouldSkipCalendar(skipped)) << skipped;
  for (const char* kept : {"Birthdays 2", "birthdays", "Birthdays ", " Birthdays", "School holidays", "Work", "",
                           "HOLIDAYS", "Siri suggestions"})
    EXPECT_FALSE(shouldSkipCalendar(kept)) << kept;
}

TEST(ShouldSkipCalendar, MatchesWholeCharactersOnly) {
  // A combining mark after the final "s" makes it another character, so the
  // title no longer contains "Holidays".
  EXPECT_FALSE(shouldSkipCalendar("Holidays\u0301"));
  EXPECT_FALSE(shouldSkipCalendar("Holiday\u015b"));
  EXPECT_TRUE(shouldSkipCalendar("Fe\u0302tes Holidays"));
  EXPECT_EQ(skippedCalendars().size(), 5u);
}

TEST_F(EventsTest, SkippedCalendarsAreLeftOutAndOrderIsKept) {
  platform_.state.events = {eventIn("Work", "late"), eventIn("Birthdays", "Ann"), eventIn("birthdays", "Bob"),
                            eventIn("US Holidays", "July 4"), eventIn("School holidays", "Break"),
                            eventIn("Work", "early")};
  platform_.state.events[0].startDate = at(kMay1 + 20 * 3600);
  platform_.state.events[5].startDate = at(kMay1 + 1 * 3600);
  EXPECT_EQ(titlesListed(), (std::vector<std::string>{"late", "Bob", "Break", "early"}));
}

TEST_F(EventsTest, EveryFieldIsMapped) {
  Event e = eventIn("Work", "Review / plan");
  e.isAllDay = true;
  e.location = "Room \"B\"";
  e.notes = "bring\nlaptop";
  platform_.state.events = {e};
  EXPECT_EQ(run(),
            R"([{"title":"Review \/ plan","startDate":"2024-05-01T09:00:00","endDate":"2024-05-01T10:00:00",)"
            R"("isAllDay":true,"location":"Room \"B\"","calendar":"Work","notes":"bring\nlaptop"}])"
            "\n");
}

TEST_F(EventsTest, AbsentFieldsBecomeEmptyTextsOrFallBack) {
  Event bare;  // no title, dates, location, notes or calendar
  Event noEnd = eventIn("Work", "no end");
  noEnd.endDate.reset();
  platform_.state.events = {bare, noEnd};
  EXPECT_EQ(run(),
            R"([{"title":"","startDate":"2024-05-01T12:34:56","endDate":"2024-05-01T12:34:56",)"
            R"("isAllDay":false,"location":"","calendar":"","notes":""},)"
            R"({"title":"no end","startDate":"2024-05-01T09:00:00","endDate":"2024-05-01T09:00:00",)"
            R"("isAllDay":false,"location":"","calendar":"Work","notes":""}])"
            "\n");
}

TEST_F(EventsTest, WindowRunsFromTheStartToTheLastSecondOfTheEndDay) {
  EXPECT_EQ(run("2024-05-01T12:00:00", "2024-05-07T08:00:00"), "[]\n");
  EXPECT_EQ(run("2024-05-01", "2024-05-07"), "[]\n");
  // A start after the end is handed to the store as it is.
  EXPECT_EQ(run("2024-05-09", "2024-05-01"), "[]\n");
  ASSERT_EQ(platform_.state.eventQueries.size(), 3u);
  const auto& q = platform_.state.eventQueries;
  EXPECT_EQ(q[0].start, at(kMay1 + 12 * 3600));
  EXPECT_EQ(q[0].end, at(kMay1 + 7 * 86400 - 1));
  EXPECT_EQ(q[1].start, at(kMay1));
  EXPECT_EQ(q[1].end, at(kMay1 + 7 * 86400 - 1));
  EXPECT_EQ(q[2].start, at(kMay1 + 8 * 86400));
  EXPECT_EQ(q[2].end, at(kMay1 + 86400 - 1));
}

TEST_F(EventsTest, AccessIsSettledBeforeTheDatesAreRead) {
  platform_.state.eventsStatus = auth_status::denied;
  std::ostringstream out;
  EXPECT_EQ(helperMessage([&] { runEvents(platform_, out, "bad", "worse"); }),
            "Calendar access denied. Grant access in System Settings > Privacy & Security > Calendars.");
  EXPECT_EQ(out.str(), "");
  EXPECT_FALSE(platform_.state.asked("events"));
}

TEST_F(EventsTest, BadDatesFailWithoutQuerying) {
  std::ostringstream out;
  EXPECT_EQ(helperMessage([&] { runEvents(platform_, out, "2024-05", "2024-05-07"); }),
            "Date must be YYYY-MM-DD: 2024-05");
  EXPECT_EQ(helperMessage([&] { runEvents(platform_, out, "2024-05-01", "May 7"); }), "Date must be YYYY-MM-DD: May 7");
  EXPECT_EQ(out.str(), "");
  EXPECT_FALSE(platform_.state.asked("events"));
}

TEST_F(EventsTest, InvalidTextFromTheStoreLeavesStdoutEmpty) {
  platform_.state.events = {eventIn("Work", "ok"), eventIn("Work", "bad \xfe")};
  std::ostringstream out;
  EXPECT_EQ(helperMessage([&] { runEvents(platform_, out, "2024-05-01", "2024-05-01"); }), "Failed to encode response");
  EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace tallowick
