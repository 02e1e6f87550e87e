#include "tallowick/access.h"

#include <gtest/gtest.h>

#include <sstream>

#include "common/one_shot.h"
#include "tallowick/fake_store.h"
#include "tallowick/test_support.h"

namespace tallowick {
namespace {

using testing::FakePlatform;
using testing::helperMessage;

struct GuardCase {
  int status;
  const char* eventsMessage;  // nullptr: access is given
  const char* remindersMessage;
};

const GuardCase kCases[] = {
    {3, nullptr, nullptr},
    {1, "Calendar access denied. Grant access in System Settings > Privacy & Security > Calendars.",
     "Reminders access denied. Grant access in System Settings > Privacy & Security > Reminders."},
    {2, "Calendar access denied. Grant access in System Settings > Privacy & Security > Calendars.",
     "Reminders access denied. Grant access in System Settings > Privacy & Security > Reminders."},
    {4, "Calendar access is write-only. Grant full access in System Settings > Privacy & Security > Calendars.",
     "Reminders access is write-only. Grant full access in System Settings > Privacy & Security > Reminders."},
    {5, "Unknown calendar authorization state", "Unknown reminders authorization state"},
    {-1, "Unknown calendar authorization state", "Unknown reminders authorization state"},
};

TEST(EnsureAccess, DecidedStatusesAnswerWithoutAsking) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.status);
    FakePlatform events;
    events.state.eventsStatus = c.status;
    auto eventsStore = events.openStore();
    EXPECT_EQ(helperMessage([&] { ensureEventsAccess(events, *eventsStore); }),
              c.eventsMessage ? c.eventsMessage : "(no HelperError)");
    EXPECT_FALSE(events.state.askedForAccess());
    EXPECT_TRUE(events.state.asked("authorizationStatus(0)"));

    FakePlatform reminders;
    reminders.state.remindersStatus = c.status;
    auto remindersStore = reminders.openStore();
    EXPECT_EQ(helperMessage([&] { ensureRemindersAccess(reminders, *remindersStore); }),
              c.remindersMessage ? c.remindersMessage : "(no HelperError)");
    EXPECT_FALSE(reminders.state.askedForAccess());
    EXPECT_TRUE(reminders.state.asked("authorizationStatus(1)"));
  }
}

TEST(EnsureAccess, RefusalsAreAccessDenied) {
  FakePlatform p;
  p.state.eventsStatus = auth_status::denied;
  auto store = p.openStore();
  try {
    ensureEventsAccess(p, *store);
    FAIL();
  } catch (const HelperError& e) {
    EXPECT_EQ(e.kind(), HelperError::Case::accessDenied);
  }
}

TEST(EnsureAccess, UndecidedStatusAsksForFullAccessAndGoesByTheAnswer) {
  FakePlatform p;
  p.state.eventsStatus = auth_status::notDetermined;
  p.state.remindersStatus = auth_status::notDetermined;
  p.state.eventsAnswer = {true, std::nullopt};
  p.state.remindersAnswer = {false, std::nullopt};
  auto store = p.openStore();
  EXPECT_EQ(helperMessage([&] { ensureEventsAccess(p, *store); }), "(no HelperError)");
  EXPECT_EQ(helperMessage([&] { ensureRemindersAccess(p, *store); }), "Reminders access was not granted");

  p.state.eventsAnswer = {false, std::nullopt};
  EXPECT_EQ(helperMessage([&] { ensureEventsAccess(p, *store); }), "Calendar access was not granted");
}

TEST(RequestAccess, AnErrorWithTheAnswerMeansNotGrantedFromVersion14) {
  FakePlatform p;
  p.state.eventsAnswer = {true, "The operation couldn't be completed."};
  p.state.remindersAnswer = {true, std::nullopt};
  auto store = p.openStore();
  EXPECT_FALSE(requestEventsAccess(p, *store));
  EXPECT_TRUE(requestRemindersAccess(p, *store));
}

TEST(RequestAccess, OlderSystemsUseTheGeneralRequestAndIgnoreErrors) {
  FakePlatform p;
  p.state.olderThan14 = true;
  p.state.eventsAnswer = {true, "ignored"};
  p.state.remindersAnswer = {false, std::nullopt};
  auto store = p.openStore();
  EXPECT_TRUE(requestEventsAccess(p, *store));
  EXPECT_FALSE(requestRemindersAccess(p, *store));
  EXPECT_EQ(p.state.calls, (std::vector<std::string>{"openStore", "requestAccess(0)", "requestAccess(1)"}));
}

TEST(RequestAccess, AnswersDeliveredOnAnotherThreadAreAwaited) {
  FakePlatform p;
  p.state.completeOnOtherThread = true;
  p.state.remindersStatus = auth_status::notDetermined;
  p.state.remindersAnswer = {true, std::nullopt};
  auto store = p.openStore();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(helperMessage([&] { ensureRemindersAccess(p, *store); }), "(no HelperError)");
}

// A store that drops the completion of an access request without calling it.
class DroppingAccessStore : public testing::FakeStore {
 public:
  using FakeStore::FakeStore;
  void requestFullAccessToEvents(AccessCompletion) override {}
};

TEST(RequestAccess, ADroppedCompletionIsReportedNotAwaitedForever) {
  FakePlatform p;
  DroppingAccessStore store(p.state);
  try {
    requestEventsAccess(p, store);
    FAIL();
  } catch (const vantrel::OneShotMisuse& e) {
    EXPECT_EQ(std::string(e.what()), "requestEventsAccess(store): completion handler was dropped without being called");
  }
}

TEST(RunRequestAccess, AsksWhateverTheStatusAndPrintsTheAnswer) {
  FakePlatform p;
  p.state.eventsStatus = auth_status::denied;
  p.state.eventsAnswer = {true, std::nullopt};
  p.state.remindersStatus = auth_status::fullAccess;
  p.state.remindersAnswer = {false, std::nullopt};
  std::ostringstream out;
  runRequestAccess(p, out, "events");
  runRequestAccess(p, out, "reminders");
  EXPECT_EQ(out.str(), "{\"granted\":true}\n{\"granted\":false}\n");
}

TEST(RunRequestAccess, UnknownKindsAreUsageErrorsAfterOpeningAndBeforeAsking) {
  for (const char* kind : {"Events", "reminders ", "", "calendar"}) {
    FakePlatform p;
    std::ostringstream out;
    try {
      runRequestAccess(p, out, kind);
      FAIL() << kind;
    } catch (const HelperError& e) {
      EXPECT_EQ(e.kind(), HelperError::Case::usage);
      EXPECT_EQ(e.message(), "request-access kind must be 'events' or 'reminders'");
    }
    EXPECT_EQ(p.state.calls, std::vector<std::string>{"openStore"});
    EXPECT_EQ(out.str(), "");
  }
}

}  // namespace
}  // namespace tallowick
