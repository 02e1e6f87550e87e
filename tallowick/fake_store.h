#pragma once
// An in-memory calendar store for tests. It records every call it receives so
// tests can assert what was (and was not) asked, and has switches for the
// platform's awkward behaviours: odd statuses, an older system, errors
// delivered with access answers, completions on another thread, a fetch that
// delivers nothing or completed reminders, and a save that fails.

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tallowick/store/calendar_store.h"
#include "tallowick/zones/system_zones.h"

namespace tallowick::testing {

struct FakeAnswer {
  bool granted = true;
  std::optional<std::string> error;
};

// The data and the switches; shared by the platform and every store it opens.
struct FakeState {
  int eventsStatus = auth_status::fullAccess;
  int remindersStatus = auth_status::fullAccess;
  bool olderThan14 = false;
  FakeAnswer eventsAnswer;
  FakeAnswer remindersAnswer;

  std::vector<Calendar> reminderLists;
  std::optional<Calendar> defaultList;
  std::vector<Event> events;
  std::vector<Reminder> reminders;

  bool completeOnOtherThread = false;
  bool fetchDeliversNothing = false;
  bool fetchDeliversCompletedToo = false;
  std::optional<std::string> saveFailure;

  // What was asked, in order: "openStore", "authorizationStatus(0)",
  // "requestFullAccessToEvents", "requestAccess(1)", "events", ...
  std::vector<std::string> calls;
  std::vector<EventQuery> eventQueries;
  std::vector<IncompleteReminderQuery> reminderQueries;
  std::vector<Reminder> saved;
  int nextIdentifier = 1;

  bool asked(const std::string& call) const { return std::find(calls.begin(), calls.end(), call) != calls.end(); }
  bool askedForAccess() const {
    return asked("requestFullAccessToEvents") || asked("requestFullAccessToReminders") || asked("requestAccess(0)") ||
           asked("requestAccess(1)");
  }

  // Adds a reminder list and returns it.
  Calendar addList(const std::string& title) {
    Calendar list{"list-" + std::to_string(reminderLists.size() + 1), title};
    reminderLists.push_back(list);
    return list;
  }

  Reminder& addReminder(const std::string& title, const Calendar& list) {
    Reminder r;
    r.identifier = std::to_string(nextIdentifier++).insert(0, 1, 'r');  // see saveReminder
    r.title = title;
    r.calendar = list;
    reminders.push_back(r);
    return reminders.back();
  }

  const Reminder* reminder(const std::string& identifier) const {
    for (const auto& r : reminders)
      if (r.identifier == identifier) return &r;
    return nullptr;
  }
};

class FakeStore : public CalendarStore {
 public:
  explicit FakeStore(FakeState& state) : s_(state) {}

  void requestFullAccessToEvents(AccessCompletion done) override {
    s_.calls.push_back("requestFullAccessToEvents");
    answer(s_.eventsAnswer, std::move(done));
  }
  void requestFullAccessToReminders(AccessCompletion done) override {
    s_.calls.push_back("requestFullAccessToReminders");
    answer(s_.remindersAnswer, std::move(done));
  }
  void requestAccess(EntityType type, AccessCompletion done) override {
    s_.calls.push_back("requestAccess(" + std::to_string(static_cast<int>(type)) + ")");
    answer(type == EntityType::event ? s_.eventsAnswer : s_.remindersAnswer, std::move(done));
  }

  std::vector<Calendar> calendars(EntityType type) override {
    s_.calls.push_back("calendars(" + std::to_string(static_cast<int>(type)) + ")");
    return type == EntityType::reminder ? s_.reminderLists : std::vector<Calendar>{};
  }
  std::optional<Calendar> defaultCalendarForNewReminders() override {
    s_.calls.push_back("defaultCalendarForNewReminders");
    return s_.defaultList;
  }
  std::vector<Event> events(const EventQuery& query) override {
    s_.calls.push_back("events");
    s_.eventQueries.push_back(query);
    return s_.events;
  }

  void fetchReminders(const IncompleteReminderQuery& query, RemindersCompletion done) override {
    s_.calls.push_back("fetchReminders");
    s_.reminderQueries.push_back(query);
    std::optional<std::vector<Reminder>> found;
    if (!s_.fetchDeliversNothing) {
      found.emplace();
      for (const auto& r : s_.reminders) {
        if (r.isCompleted && !s_.fetchDeliversCompletedToo) continue;
        if (query.calendars && !inLists(r, *query.calendars)) continue;
        found->push_back(r);
      }
    }
    deliver([done = std::move(done), found = std::move(found)] { done(found); });
  }

  Reminder newReminder() override {
    s_.calls.push_back("newReminder");
    return {};
  }

  void saveReminder(Reminder& reminder, bool commit) override {
    s_.calls.push_back(commit ? "saveReminder(commit)" : "saveReminder");
    if (s_.saveFailure) throw StoreError(*s_.saveFailure);
    if (reminder.identifier.empty()) {
      // Not "r" + to_string(): GCC 12 at -O3 warns (-Wrestrict) about that temporary.
      reminder.identifier = std::to_string(s_.nextIdentifier++).insert(0, 1, 'r');
      s_.reminders.push_back(reminder);
    } else {
      for (auto& r : s_.reminders)
        if (r.identifier == reminder.identifier) r = reminder;
    }
    s_.saved.push_back(reminder);
  }

 private:
  static bool inLists(const Reminder& r, const std::vector<Calendar>& lists) {
    if (!r.calendar) return false;
    for (const auto& list : lists)
      if (list.identifier == r.calendar->identifier) return true;
    return false;
  }

  void answer(const FakeAnswer& a, AccessCompletion done) {
    deliver([done = std::move(done), a] { done(a.granted, a.error); });
  }

  template <typename F>
  void deliver(F call) {
    if (s_.completeOnOtherThread)
      std::thread(std::move(call)).detach();
    else
      call();
  }

  FakeState& s_;
};

class FakePlatform : public CalendarPlatform {
 public:
  FakeState state;

  int authorizationStatus(EntityType type) override {
    state.calls.push_back("authorizationStatus(" + std::to_string(static_cast<int>(type)) + ")");
    return type == EntityType::event ? state.eventsStatus : state.remindersStatus;
  }
  std::unique_ptr<CalendarStore> openStore() override {
    state.calls.push_back("openStore");
    return std::make_unique<FakeStore>(state);
  }
  bool isOperatingSystemAtLeast(int major, int, int) override { return !(state.olderThan14 && major >= 14); }
  const zones::ZoneSource& zoneSource() override { return zones::systemZones(); }
};

}  // namespace tallowick::testing
