#include "tallowick/add_reminder.h"

#include "tallowick/access.h"
#include "tallowick/dates.h"
#include "tallowick/helper_error.h"
#include "tallowick/wire.h"
#include "text/unicode.h"

namespace tallowick {
namespace {

Calendar chooseList(CalendarStore& store, const std::string& listName) {
  auto lists = store.calendars(EntityType::reminder);
  for (const Calendar& list : lists)
    if (vantrel::text::canonicallyEqual(list.title, listName)) return list;
  if (auto fallback = store.defaultCalendarForNewReminders()) return *fallback;
  if (!lists.empty()) return lists.front();
  throw HelperError::notFound("No reminder lists found");
}

}  // namespace

void runAddReminder(CalendarPlatform& platform, std::ostream& out, const std::string& requestPath) {
  AddReminderRequest request = readAddReminderRequest(requestPath);
  auto store = platform.openStore();
  ensureRemindersAccess(platform, *store);
  Calendar list = chooseList(*store, request.listName);

  Reminder reminder = store->newReminder();
  reminder.title = request.title;
  reminder.calendar = list;
  reminder.priority = request.priority;
  // Emptiness is judged on the text as received: blanks are kept.
  if (request.notes && !request.notes->empty()) reminder.notes = request.notes;
  if (request.dueDate && !request.dueDate->empty()) {
    const zones::ZoneRules& local = platform.zoneSource().local();
    reminder.dueDateComponents = localDueComponents(parseYmd(*request.dueDate, local), local);
  }

  store->saveReminder(reminder, true);
  encode(out, successDocument());
}

}  // namespace tallowick
