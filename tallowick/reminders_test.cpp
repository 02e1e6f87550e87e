#include "tallowick/reminders.h"

#include <gtest/gtest.h>

#include <sstream>

#include "common/one_shot.h"
#include "tallowick/fake_store.h"
#include "tallowick/test_support.h"

namespace tallowick {
namespace {

using testing::FakePlatform;
using testing::helperMessage;

class RemindersTest : public ::testing::Test {
 protected:
  std::string reminders() {
    std::ostringstream out;
    runReminders(platform_, out);
    return out.str();
  }
  std::string lists() {
    std::ostringstream out;
    runReminderLists(platform_, out);
    return out.str();
  }

  testing::ScopedTimeZone zone_{"America/New_York"};
  FakePlatform platform_;
};

TEST_F(RemindersTest, EmptyStorePrintsAnEmptyArray) {
  EXPECT_EQ(reminders(), "[]\n");
  EXPECT_EQ(lists(), "[]\n");
  platform_.state.fetchDeliversNothing = true;
  EXPECT_EQ(reminders(), "[]\n");
}

TEST_F(RemindersTest, FieldsAreMappedAndOrderKept) {
  auto home = platform_.state.addList("Home");
  auto& late = platform_.state.addReminder("Pay rent", home);
  late.priority = 9;
  late.notes = "by transfer";
  late.dueDateComponents = DateComponents{2024, 6, 1, 17, 30, std::nullopt, std::nullopt};
  auto& dayOnly = platform_.state.addReminder("Call mum", home);
  dayOnly.dueDateComponents = DateComponents{2024, 5, 1, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
  Reminder bare;  // no title, list, notes or due date
  bare.identifier = "bare";
  platform_.state.reminders.push_back(bare);

  EXPECT_EQ(reminders(),
            R"([{"title":"Pay rent","completed":false,"priority":9,"dueDate":"2024-06-01T17:30:00","list":"Home","notes":"by transfer"},)"
            R"({"title":"Call mum","completed":false,"priority":0,"dueDate":"2024-05-01T00:00:00","list":"Home","notes":""},)"
            R"({"title":"","completed":false,"priority":0,"dueDate":"","list":"","notes":""}])"
            "\n");
  ASSERT_EQ(platform_.state.reminderQueries.size(), 1u);
  EXPECT_EQ(platform_.state.reminderQueries[0].calendars, std::nullopt);
}

TEST_F(RemindersTest, DueDatesInAnotherZoneOrUnconvertible) {
  auto home = platform_.state.addList("Home");
  platform_.state.addReminder("Berlin", home).dueDateComponents =
      DateComponents{2024, 5, 1, 9, 0, std::nullopt, "Europe/Berlin"};
  platform_.state.addReminder("No year", home).dueDateComponents =
      DateComponents{std::nullopt, 5, 1, 9, 0, std::nullopt, std::nullopt};
  std::string out = reminders();
  EXPECT_NE(out.find(R"("title":"Berlin","completed":false,"priority":0,"dueDate":"2024-05-01T03:00:00")"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(R"("title":"No year","completed":false,"priority":0,"dueDate":"")"), std::string::npos) << out;
}

TEST_F(RemindersTest, CompletedRemindersAreSkippedEvenWhenDelivered) {
  auto home = platform_.state.addList("Home");
  platform_.state.addReminder("done", home).isCompleted = true;
  platform_.state.addReminder("open", home);
  platform_.state.fetchDeliversCompletedToo = true;
  platform_.state.completeOnOtherThread = true;
  EXPECT_EQ(reminders(),
            R"([{"title":"open","completed":false,"priority":0,"dueDate":"","list":"Home","notes":""}])"
            "\n");
}

TEST_F(RemindersTest, ListTitlesKeepDuplicatesAndSkippedNames) {
  platform_.state.addList("Scheduled Reminders");
  platform_.state.addList("Home");
  platform_.state.addList("Home");
  platform_.state.addList("Reminders MenuBar");
  EXPECT_EQ(lists(), R"(["Scheduled Reminders","Home","Home","Reminders MenuBar"])"
                     "\n");
}

TEST_F(RemindersTest, RefusedAccessPrintsNothingAndFetchesNothing) {
  platform_.state.remindersStatus = auth_status::notDetermined;
  platform_.state.remindersAnswer = {false, std::nullopt};
  std::ostringstream out;
  EXPECT_EQ(helperMessage([&] { runReminders(platform_, out); }), "Reminders access was not granted");
  EXPECT_EQ(helperMessage([&] { runReminderLists(platform_, out); }), "Reminders access was not granted");
  EXPECT_EQ(out.str(), "");
  EXPECT_FALSE(platform_.state.asked("fetchReminders"));
  EXPECT_FALSE(platform_.state.asked("calendars(1)"));
}

// A store that drops the completion handler without calling it.
class DroppingRemindersStore : public testing::FakeStore {
 public:
  using FakeStore::FakeStore;
  void fetchReminders(const IncompleteReminderQuery&, RemindersCompletion) override {}
};

TEST(FetchIncompleteReminders, ADroppedCompletionIsReportedNotAwaitedForever) {
  testing::FakeState state;
  DroppingRemindersStore store(state);
  try {
    fetchIncompleteReminders(store, {}, "runReminders()");
    FAIL();
  } catch (const vantrel::OneShotMisuse& e) {
    EXPECT_EQ(std::string(e.what()), "runReminders(): completion handler was dropped without being called");
  }
}

}  // namespace
}  // namespace tallowick
