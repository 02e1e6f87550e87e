// Stand-in until the iCalendar store lands: no calendars, every status not
// determined, every request refused.
#include "tallowick/store/calendar_store.h"

namespace tallowick {
namespace {

class EmptyStore : public CalendarStore {
 public:
  void requestFullAccessToEvents(AccessCompletion completion) override { completion(false, std::nullopt); }
  void requestFullAccessToReminders(AccessCompletion completion) override { completion(false, std::nullopt); }
  void requestAccess(EntityType, AccessCompletion completion) override { completion(false, std::nullopt); }
  std::vector<Calendar> calendars(EntityType) override { return {}; }
  std::optional<Calendar> defaultCalendarForNewReminders() override { return std::nullopt; }
  std::vector<Event> events(const EventQuery&) override { return {}; }
  void fetchReminders(const IncompleteReminderQuery&, RemindersCompletion completion) override { completion(std::vector<Reminder>{}); }
  Reminder newReminder() override { return {}; }
  void saveReminder(Reminder&, bool) override { throw StoreError("The calendar store is not available"); }
};

class EmptyPlatform : public CalendarPlatform {
 public:
  int authorizationStatus(EntityType) override { return auth_status::notDetermined; }
  std::unique_ptr<CalendarStore> openStore() override { return std::make_unique<EmptyStore>(); }
  bool isOperatingSystemAtLeast(int, int, int) override { return true; }
};

}  // namespace

std::unique_ptr<CalendarPlatform> makeDefaultCalendarPlatform() { return std::make_unique<EmptyPlatform>(); }

}  // namespace tallowick
