// The EDS store against an in-memory EDS: how component texts become events
// and reminders, and how a completion guards against other programs.

#include "tallowick/store/eds/eds_store.h"

#include <gtest/gtest.h>

#include "tallowick/fake_store.h"
#include "tallowick/store/eds/fake_eds_service.h"
#include "tallowick/store/icalendar/test_support.h"

namespace tallowick::eds {
namespace {

using ical::testing::utc;
using testing::FakeEds;
using testing::FakeEdsService;
using testing::FakeSource;

const std::string kTodo =
    "BEGIN:VTODO\r\nUID:milk\r\nSUMMARY:Milk\r\nX-ORDER:3\r\nPRIORITY:5\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\n"
    "TRIGGER:-PT1H\r\nEND:VALARM\r\nEND:VTODO\r\n";

class EdsStoreTest : public ::testing::Test {
 protected:
  EdsStore& store(std::optional<std::string> defaultListTitle = std::nullopt) {
    store_ = std::make_unique<EdsStore>(
        std::make_unique<FakeEdsService>(eds_), consent_,
        EdsStoreConfig{defaultListTitle, [] { return std::string("new-uid"); }, {}, [] { return utc(2024, 5, 1, 12); },
                       &zones::systemZones()});
    return *store_;
  }
  std::vector<Reminder> fetch(const IncompleteReminderQuery& query = {}) {
    std::vector<Reminder> out;
    store_->fetchReminders(query, [&](std::optional<std::vector<Reminder>> found) {
      if (found) out = std::move(*found);
    });
    return out;
  }

  ical::testing::ScopedTimeZone zone_{"Europe/Berlin"};
  FakeEds eds_;
  tallowick::testing::FakeState consentState_;
  tallowick::testing::FakeStore consent_{consentState_};
  std::unique_ptr<EdsStore> store_;
};

TEST_F(EdsStoreTest, EventsAreEachItemsComponentsExpandedTogether) {
  eds_.sources = {{"w",
                   "Work",
                   EdsSourceKind::calendar,
                   {{"single", "",
                     "BEGIN:VEVENT\r\nUID:single\r\nSUMMARY:Plan\r\n"
                     "DTSTART:20240308T090000Z\r\nEND:VEVENT\r\n"}}},
                  {"f",
                   "Family",
                   EdsSourceKind::calendar,
                   {// The instance moved away comes apart from its master and after it.
                    {"swim", "",
                     "BEGIN:VEVENT\r\nUID:swim\r\nSUMMARY:Swim\r\nDTSTART;TZID=America/New_York:20240307T070000\r\n"
                     "DURATION:PT1H\r\nRRULE:FREQ=WEEKLY;COUNT=3\r\nEND:VEVENT\r\n"},
                    {"call", "",
                     "BEGIN:VEVENT\r\nUID:call\r\nSUMMARY:Call\r\nDTSTART;TZID=\"Pacific Standard Time\":"
                     "20240308T080000\r\nDURATION:PT1H\r\nEND:VEVENT\r\n"},
                    {"swim", "20240314T070000",
                     "BEGIN:VEVENT\r\nUID:swim\r\nSUMMARY:Swim (moved)\r\n"
                     "RECURRENCE-ID;TZID=America/New_York:20240314T070000\r\n"
                     "DTSTART;TZID=America/New_York:20240601T070000\r\nDURATION:PT1H\r\nEND:VEVENT\r\n"},
                    {"broken", "", "BEGIN:VEVENT\r\nthis is no event\r\n"}},
                   {{"Pacific Standard Time",
                     "BEGIN:VTIMEZONE\r\nTZID:Pacific Standard Time\r\nBEGIN:STANDARD\r\n"
                     "DTSTART:19700101T000000\r\nTZOFFSETFROM:-0800\r\nTZOFFSETTO:-0800\r\n"
                     "END:STANDARD\r\nEND:VTIMEZONE\r\n"}}}};
  std::vector<Event> events = store().events({utc(2024, 3, 7), utc(2024, 3, 21, 23, 59, 59)});

  std::vector<std::tuple<std::string, Instant, std::string>> got;
  for (const Event& e : events) got.emplace_back(*e.title, *e.startDate, e.calendar->title);
  EXPECT_EQ(got, (decltype(got){{"Swim", utc(2024, 3, 7, 12), "Family"},
                                {"Plan", utc(2024, 3, 8, 9), "Work"},
                                {"Call", utc(2024, 3, 8, 16), "Family"},
                                {"Swim", utc(2024, 3, 21, 11), "Family"}}));
  // The window is asked wider, for EDS's own reading of floating times; a
  // zone the system lacks is asked for once, of its calendar.
  EXPECT_EQ(eds_.calls, (std::vector<std::string>{"sources", "eventComponents(f,w 20240305T000000Z 20240323T235959Z)",
                                                  "timezones(f Pacific Standard Time)"}));

  eds_.calls.clear();
  store().events({utc(1, 1, 1), utc(9999, 12, 31, 23, 59, 59)});
  EXPECT_EQ(eds_.calls[1], "eventComponents(f,w 00010101T000000Z 99991231T235959Z)");
}

TEST_F(EdsStoreTest, DefaultListIsTheSettingsOneElseEdss) {
  eds_.sources = {{"e", "Errands", EdsSourceKind::taskList}, {"h", "Home", EdsSourceKind::taskList}};
  struct Case {
    std::optional<std::string> setting;
    std::string edsDefault;
    std::optional<std::string> expected;
  };
  for (const Case& c : std::vector<Case>{
           {"Home", "e", "h"}, {"Nowhere", "e", "e"}, {std::nullopt, "h", "h"}, {std::nullopt, "gone", std::nullopt}}) {
    eds_.defaultTaskList = c.edsDefault;
    std::optional<Calendar> chosen = store(c.setting).defaultCalendarForNewReminders();
    EXPECT_EQ(chosen ? std::optional(chosen->identifier) : std::nullopt, c.expected) << c.setting.value_or("-");
  }
}

TEST_F(EdsStoreTest, CompletionRereadsTheTaskAndWritesOnlyTheCompletion) {
  struct Case {
    const char* name;
    std::function<void(FakeEds&)> meanwhile;
    std::string error;  // empty: completed
    size_t writes = 0;
  };
  const std::vector<Case> cases{
      {"unchanged", nullptr, ""},
      {"changed by another program",
       [](FakeEds& e) {
         std::string& text = e.source("h").components[0].text;
         text.insert(text.find("PRIORITY"), "LOCATION:Shop\r\n");
       },
       R"(The reminder "Milk" in "Home" changed since it was read; the reminder was not saved)"},
      {"deleted by another program", [](FakeEds& e) { e.source("h").components.clear(); },
       R"(The reminder "Milk" in "Home" changed since it was read; the reminder was not saved)"},
      {"read-only", [](FakeEds& e) { e.source("h").readOnly = true; },
       R"(The reminder list "Home" is read-only; the reminder was not saved)"},
      {"write dropped", [](FakeEds& e) { e.source("h").dropsWrites = true; },
       R"(evolution-data-server did not keep the completion of the reminder "Milk" in "Home"; it was not saved)", 1},
      {"failing", [](FakeEds& e) { e.failure = "Cannot read a reminder of \"Home\": Backend is dead"; },
       "Cannot read a reminder of \"Home\": Backend is dead"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    eds_ = FakeEds{};
    eds_.sources = {{"h", "Home", EdsSourceKind::taskList, {{"milk", "", kTodo}}}};
    store();
    std::vector<Reminder> listed = fetch();
    ASSERT_EQ(listed.size(), 1u);
    // Between the listing and the completion.
    if (c.meanwhile) c.meanwhile(eds_);
    listed[0].isCompleted = true;
    if (c.error.empty()) {
      store_->saveReminder(listed[0], true);
      ASSERT_EQ(eds_.written.size(), 1u);
      EXPECT_EQ(eds_.written[0],
                "BEGIN:VTODO\r\nUID:milk\r\nSUMMARY:Milk\r\nX-ORDER:3\r\nPRIORITY:5\r\nSTATUS:COMPLETED\r\n"
                "COMPLETED:20240501T120000Z\r\nPERCENT-COMPLETE:100\r\nLAST-MODIFIED:20240501T120000Z\r\nSEQUENCE:1\r\n"
                "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT1H\r\nEND:VALARM\r\nEND:VTODO\r\n");
      EXPECT_TRUE(fetch().empty());
    } else {
      try {
        store_->saveReminder(listed[0], true);
        ADD_FAILURE() << "saved";
      } catch (const StoreError& e) {
        EXPECT_EQ(std::string(e.what()), c.error);
      }
      EXPECT_EQ(eds_.written.size(), c.writes);
    }
  }
}

TEST_F(EdsStoreTest, AddingAReminderChecksItAndItsList) {
  struct Case {
    const char* name;
    std::string title;
    bool dropsWrites;
    std::string error;
  };
  for (const Case& c :
       std::vector<Case>{{"saved", "Bread", false, ""},
                         {"write dropped", "Bread", true,
                          R"(evolution-data-server did not keep the new reminder in "Home"; it was not saved)"},
                         {"control character",
                          "Bre\x01"
                          "ad",
                          false,
                          "Cannot save the reminder: its title holds the control character U+0001, which a calendar "
                          "file cannot hold"}}) {
    SCOPED_TRACE(c.name);
    eds_ = FakeEds{};
    eds_.sources = {{"h", "Home", EdsSourceKind::taskList}};
    eds_.sources[0].dropsWrites = c.dropsWrites;
    Reminder r = store().newReminder();
    r.title = c.title;
    r.priority = 1;
    r.calendar = Calendar{"h", "Home"};
    if (c.error.empty()) {
      store_->saveReminder(r, true);
      EXPECT_FALSE(r.identifier.empty());
      ASSERT_EQ(fetch().size(), 1u);
      EXPECT_EQ(*fetch()[0].title, "Bread");
      EXPECT_NE(eds_.written[0].find("UID:new-uid\r\n"), std::string::npos);
      continue;
    }
    try {
      store_->saveReminder(r, true);
      ADD_FAILURE() << "saved";
    } catch (const StoreError& e) {
      EXPECT_EQ(std::string(e.what()), c.error);
    }
    EXPECT_EQ(eds_.written.size(), c.dropsWrites ? 1u : 0u);
  }
}

// As in a vdir folder: a run killed after EDS took its new task, run again,
// finds that task under the UID its content names instead of adding another.
TEST_F(EdsStoreTest, AReminderAddedAgainIsFoundNotAddedTwice) {
  eds_.sources = {{"h", "Home", EdsSourceKind::taskList}};
  auto add = [&] {
    store_ = std::make_unique<EdsStore>(std::make_unique<FakeEdsService>(eds_), consent_,
                                        EdsStoreConfig{std::nullopt, [] { return std::string("fresh"); },
                                                       [](const std::string& name) { return "named-" + std::to_string(name.size()); },
                                                       [] { return utc(2024, 5, 1, 12); }, &zones::systemZones()});
    Reminder r = store_->newReminder();
    r.title = "Bread";
    r.calendar = Calendar{"h", "Home"};
    store_->saveReminder(r, true);
  };
  add();
  add();
  EXPECT_EQ(eds_.written.size(), 1u);
  ASSERT_EQ(fetch().size(), 1u);
  EXPECT_NE(eds_.written[0].find("UID:named-"), std::string::npos);
}

}  // namespace
}  // namespace tallowick::eds
