#pragma once
// reminders and reminder-lists: every incomplete reminder, and the titles of
// every reminder list, in the store's order.

#include <ostream>

#include "tallowick/store/calendar_store.h"

namespace tallowick {

// Prints every incomplete reminder of every list as one array of ReminderDTO.
void runReminders(CalendarPlatform& platform, std::ostream& out);

// Prints the titles of all reminder lists, duplicates kept, as one array.
void runReminderLists(CalendarPlatform& platform, std::ostream& out);

// Waits for the store's one delivery of incomplete reminders; a delivery of
// nothing counts as none. `label` names the wait in misuse reports.
std::vector<Reminder> fetchIncompleteReminders(CalendarStore& store, const IncompleteReminderQuery& query,
                                               const char* label);

}  // namespace tallowick
