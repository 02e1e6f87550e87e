#include "tallowick/complete_reminder.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tallowick/fake_store.h"
#include "tallowick/test_support.h"
#include "tallowick/wire.h"

namespace tallowick {
namespace {

using testing::FakePlatform;
using testing::TempFile;

class CompleteReminderTest : public ::testing::Test {
 protected:
  std::string run(const std::string& title, const std::string& listName) {
    TempFile file(R"({"title":")" + title + R"(","listName":")" + listName + R"("})");
    std::ostringstream out;
    runCompleteReminder(platform_, out, file.path());
    return out.str();
  }
  bool completed(const std::string& identifier) { return platform_.state.reminder(identifier)->isCompleted; }

  FakePlatform platform_;
};

TEST_F(CompleteReminderTest, CompletesOnlyTheFirstMatchAndASecondRunTheNext) {
  auto home = platform_.state.addList("Home");
  auto first = platform_.state.addReminder("Water plants", home).identifier;
  auto second = platform_.state.addReminder("Water plants", home).identifier;
  EXPECT_EQ(run("Water plants", "Home"), "{\"ok\":true}\n");
  EXPECT_TRUE(completed(first));
  EXPECT_FALSE(completed(second));
  EXPECT_EQ(platform_.state.calls.back(), "saveReminder(commit)");
  ASSERT_TRUE(platform_.state.reminderQueries.back().calendars);
  EXPECT_EQ(platform_.state.reminderQueries.back().calendars->at(0).identifier, home.identifier);

  EXPECT_EQ(run("Water plants", "Home"), "{\"ok\":true}\n");
  EXPECT_TRUE(completed(second));
  EXPECT_EQ(platform_.state.saved.size(), 2u);
}

TEST_F(CompleteReminderTest, AnUnknownListSearchesEveryList) {
  auto home = platform_.state.addList("Home");
  auto work = platform_.state.addList("Work");
  platform_.state.addReminder("Other", home);
  auto target = platform_.state.addReminder("File report", work).identifier;
  EXPECT_EQ(run("File report", "Office"), "{\"ok\":true}\n");
  EXPECT_TRUE(completed(target));
  EXPECT_EQ(platform_.state.reminderQueries.back().calendars, std::nullopt);
}

TEST_F(CompleteReminderTest, AMatchedListNarrowsTheSearch) {
  platform_.state.addList("Home");
  auto work = platform_.state.addList("Work");
  auto elsewhere = platform_.state.addReminder("File report", work).identifier;
  EXPECT_EQ(run("File report", "Home"), "{\"ok\":true}\n");
  EXPECT_FALSE(completed(elsewhere));
  EXPECT_TRUE(platform_.state.saved.empty());
}

TEST_F(CompleteReminderTest, OnlyTheFirstOfTwoSameTitledListsIsSearched) {
  auto first = platform_.state.addList("Home");
  auto second = platform_.state.addList("Home");
  auto inSecond = platform_.state.addReminder("Dust", second).identifier;
  EXPECT_EQ(run("Dust", "Home"), "{\"ok\":true}\n");
  EXPECT_FALSE(completed(inSecond));
  EXPECT_EQ(platform_.state.reminderQueries.back().calendars->at(0).identifier, first.identifier);
}

TEST_F(CompleteReminderTest, TitlesMatchExactlyUnderCanonicalEquivalence) {
  auto home = platform_.state.addList("Home");
  auto cafe = platform_.state.addReminder("Caf\u00e9", home).identifier;
  auto milk = platform_.state.addReminder("Milk", home).identifier;
  run("milk", "Home");
  run(" Milk", "Home");
  EXPECT_FALSE(completed(milk));
  run("Cafe\u0301", "Home");
  EXPECT_TRUE(completed(cafe));
}

TEST_F(CompleteReminderTest, AnEmptyTitleMatchesAReminderWithoutOne) {
  auto home = platform_.state.addList("Home");
  auto named = platform_.state.addReminder("Named", home).identifier;
  Reminder untitled;
  untitled.identifier = "untitled";
  untitled.calendar = home;
  platform_.state.reminders.push_back(untitled);
  run("", "Home");
  EXPECT_FALSE(completed(named));
  EXPECT_TRUE(completed("untitled"));
}

TEST_F(CompleteReminderTest, CompletedRemindersAreNotCompletedAgain) {
  auto home = platform_.state.addList("Home");
  platform_.state.addReminder("Done", home).isCompleted = true;
  platform_.state.fetchDeliversCompletedToo = true;
  EXPECT_EQ(run("Done", "Home"), "{\"ok\":true}\n");
  EXPECT_TRUE(platform_.state.saved.empty());
}

TEST_F(CompleteReminderTest, ACompletionOnAnotherThreadIsAwaited) {
  auto home = platform_.state.addList("Home");
  auto id = platform_.state.addReminder("Async", home).identifier;
  platform_.state.completeOnOtherThread = true;
  EXPECT_EQ(run("Async", "Home"), "{\"ok\":true}\n");
  EXPECT_TRUE(completed(id));
}

TEST_F(CompleteReminderTest, ARefusedSaveFailsWithTheStoreError) {
  auto home = platform_.state.addList("Home");
  platform_.state.addReminder("Milk", home);
  platform_.state.saveFailure = "Cannot save reminder: disk full";
  EXPECT_THROW(
      {
        try {
          run("Milk", "Home");
        } catch (const StoreError& e) {
          EXPECT_STREQ(e.what(), "Cannot save reminder: disk full");
          throw;
        }
      },
      StoreError);
}

TEST_F(CompleteReminderTest, BadRequestFilesFailBeforeTheStoreIsTouched) {
  std::ostringstream out;
  TempFile numberTitle(R"({"title":3,"listName":"Home"})");
  EXPECT_THROW(runCompleteReminder(platform_, out, numberTitle.path()), RequestDecodeError);
  TempFile noList(R"({"title":"Milk"})");
  EXPECT_THROW(runCompleteReminder(platform_, out, noList.path()), RequestDecodeError);
  EXPECT_TRUE(platform_.state.calls.empty());
  EXPECT_EQ(out.str(), "");
}

TEST_F(CompleteReminderTest, RefusedAccessTouchesNoList) {
  platform_.state.remindersStatus = auth_status::writeOnly;
  EXPECT_THROW(run("Milk", "Home"), HelperError);
  EXPECT_FALSE(platform_.state.asked("calendars(1)"));
  EXPECT_FALSE(platform_.state.asked("fetchReminders"));
}

}  // namespace
}  // namespace tallowick
