#include "tallowick/complete_reminder.h"

#include "tallowick/access.h"
#include "tallowick/reminders.h"
#include "tallowick/wire.h"
#include "text/unicode.h"

namespace tallowick {

void runCompleteReminder(CalendarPlatform& platform, std::ostream& out, const std::string& requestPath) {
  CompleteReminderRequest request = readCompleteReminderRequest(requestPath);
  auto store = platform.openStore();
  ensureRemindersAccess(platform, *store);

  IncompleteReminderQuery query;
  for (const Calendar& list : store->calendars(EntityType::reminder)) {
    if (vantrel::text::canonicallyEqual(list.title, request.listName)) {
      query.calendars = std::vector<Calendar>{list};
      break;
    }
  }

  for (Reminder& reminder : fetchIncompleteReminders(*store, query, "runCompleteReminder(requestPath:)")) {
    // Completing an already completed one again would rewrite its completion
    // time, so a store that delivers one anyway does not get it back.
    if (reminder.isCompleted) continue;
    if (!vantrel::text::canonicallyEqual(reminder.title.value_or(""), request.title)) continue;
    reminder.isCompleted = true;
    store->saveReminder(reminder, true);
    break;
  }
  encode(out, successDocument());
}

}  // namespace tallowick
