#include "tallowick/add_reminder.h"

#include <gtest/gtest.h>

#include <sstream>

#include "common/request_file.h"
#include "tallowick/fake_store.h"
#include "tallowick/test_support.h"
#include "tallowick/wire.h"

namespace tallowick {
namespace {

using testing::FakePlatform;
using testing::helperMessage;
using testing::TempFile;

class AddReminderTest : public ::testing::Test {
 protected:
  // Runs add-reminder with the given members after title/listName/priority.
  std::string run(const std::string& listName, const std::string& more = "") {
    TempFile file(R"({"title":"Buy milk","listName":")" + listName + R"(","priority":1)" + more + "}");
    std::ostringstream out;
    runAddReminder(platform_, out, file.path());
    return out.str();
  }
  const Reminder& saved() {
    EXPECT_EQ(platform_.state.saved.size(), 1u);
    return platform_.state.saved.back();
  }

  testing::ScopedTimeZone zone_{"America/New_York"};
  FakePlatform platform_;
};

TEST_F(AddReminderTest, LandsInTheFirstListOfThatTitleAndPrintsSuccess) {
  platform_.state.addList("Home");
  auto first = platform_.state.addList("Shopping");
  platform_.state.addList("Shopping");
  platform_.state.defaultList = platform_.state.reminderLists[0];
  EXPECT_EQ(run("Shopping"), "{\"ok\":true}\n");
  const Reminder& r = saved();
  EXPECT_EQ(r.calendar->identifier, first.identifier);
  EXPECT_EQ(r.title, "Buy milk");
  EXPECT_EQ(r.priority, 1);
  EXPECT_EQ(r.notes, std::nullopt);
  EXPECT_EQ(r.dueDateComponents, std::nullopt);
  EXPECT_FALSE(platform_.state.asked("defaultCalendarForNewReminders"));
  EXPECT_EQ(platform_.state.calls.back(), "saveReminder(commit)");
}

TEST_F(AddReminderTest, ListTitlesMatchUnderCanonicalEquivalenceOnly) {
  auto cafe = platform_.state.addList("Caf\u00e9");
  platform_.state.defaultList = platform_.state.addList("Inbox");
  run("Cafe\u0301");
  EXPECT_EQ(saved().calendar->identifier, cafe.identifier);
}

TEST_F(AddReminderTest, UnmatchedNamesFallBackToTheDefaultThenTheFirstList) {
  auto home = platform_.state.addList("Home");
  auto inbox = platform_.state.addList("Inbox");
  platform_.state.defaultList = inbox;
  run("home");
  EXPECT_EQ(platform_.state.saved.back().calendar->identifier, inbox.identifier);
  run("Home ");
  EXPECT_EQ(platform_.state.saved.back().calendar->identifier, inbox.identifier);
  platform_.state.defaultList.reset();
  run("Elsewhere");
  EXPECT_EQ(platform_.state.saved.back().calendar->identifier, home.identifier);
}

TEST_F(AddReminderTest, NoListsAtAllIsNotFoundAndSavesNothing) {
  TempFile file(R"({"title":"T","listName":"L","priority":0})");
  std::ostringstream out;
  try {
    runAddReminder(platform_, out, file.path());
    FAIL();
  } catch (const HelperError& e) {
    EXPECT_EQ(e.kind(), HelperError::Case::notFound);
    EXPECT_EQ(e.message(), "No reminder lists found");
  }
  EXPECT_TRUE(platform_.state.saved.empty());
  EXPECT_EQ(out.str(), "");
}

TEST_F(AddReminderTest, NotesAreKeptUnlessAbsentNullOrEmpty) {
  platform_.state.addList("Home");
  run("Home");
  run("Home", R"(,"notes":null)");
  run("Home", R"(,"notes":"")");
  run("Home", R"(,"notes":"   ")");
  run("Home", R"(,"notes":" line\n")");
  const auto& s = platform_.state.saved;
  ASSERT_EQ(s.size(), 5u);
  EXPECT_EQ(s[0].notes, std::nullopt);
  EXPECT_EQ(s[1].notes, std::nullopt);
  EXPECT_EQ(s[2].notes, std::nullopt);
  EXPECT_EQ(s[3].notes, "   ");
  EXPECT_EQ(s[4].notes, " line\n");
}

TEST_F(AddReminderTest, DueDatesKeepTheMinuteAndNoZone) {
  platform_.state.addList("Home");
  run("Home", R"(,"dueDate":null)");
  run("Home", R"(,"dueDate":"")");
  run("Home", R"(,"dueDate":"2024-05-01")");
  run("Home", R"(,"dueDate":"2024-05-01T14:30:45")");
  const auto& s = platform_.state.saved;
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[0].dueDateComponents, std::nullopt);
  EXPECT_EQ(s[1].dueDateComponents, std::nullopt);
  ASSERT_TRUE(s[2].dueDateComponents && s[3].dueDateComponents);
  DateComponents midnight{2024, 5, 1, 0, 0, std::nullopt, std::nullopt};
  DateComponents afternoon{2024, 5, 1, 14, 30, std::nullopt, std::nullopt};
  EXPECT_EQ(testing::fieldsOf(*s[2].dueDateComponents), testing::fieldsOf(midnight));
  EXPECT_EQ(testing::fieldsOf(*s[3].dueDateComponents), testing::fieldsOf(afternoon));
}

TEST_F(AddReminderTest, ABadDueDateSavesNothing) {
  platform_.state.addList("Home");
  EXPECT_EQ(helperMessage([&] { run("Home", R"(,"dueDate":"   ")"); }), "Date must be YYYY-MM-DD:    ");
  EXPECT_EQ(helperMessage([&] { run("Home", R"(,"dueDate":"2024-5-1")"); }), "Date must be YYYY-MM-DD: 2024-5-1");
  EXPECT_TRUE(platform_.state.saved.empty());
}

TEST_F(AddReminderTest, PriorityAndEmptyTitleArePassedUnchanged) {
  platform_.state.addList("Home");
  TempFile file(R"({"title":"","listName":"Home","priority":-42})");
  std::ostringstream out;
  runAddReminder(platform_, out, file.path());
  EXPECT_EQ(saved().title, "");
  EXPECT_EQ(saved().priority, -42);
}

TEST_F(AddReminderTest, ARefusedSavePassesTheStoreErrorThrough) {
  platform_.state.addList("Home");
  platform_.state.saveFailure = "The reminder file changed on disk";
  std::ostringstream out;
  TempFile file(R"({"title":"T","listName":"Home","priority":0})");
  try {
    runAddReminder(platform_, out, file.path());
    FAIL();
  } catch (const StoreError& e) {
    EXPECT_STREQ(e.what(), "The reminder file changed on disk");
  }
  EXPECT_EQ(out.str(), "");
}

TEST_F(AddReminderTest, BadRequestFilesFailBeforeTheStoreIsTouched) {
  platform_.state.remindersStatus = auth_status::notDetermined;
  std::ostringstream out;
  TempFile notJson("not json");
  EXPECT_THROW(runAddReminder(platform_, out, notJson.path()), RequestDecodeError);
  TempFile noPriority(R"({"title":"T","listName":"Home"})");
  EXPECT_THROW(runAddReminder(platform_, out, noPriority.path()), RequestDecodeError);
  EXPECT_THROW(runAddReminder(platform_, out, "/nonexistent/add.json"), vantrel::RequestFileError);
  EXPECT_TRUE(platform_.state.calls.empty());
  EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace tallowick
