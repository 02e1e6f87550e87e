#include "tallowick/reminders.h"

#include "common/one_shot.h"
#include "tallowick/access.h"
#include "tallowick/dates.h"
#include "tallowick/wire.h"

namespace tallowick {
namespace {

std::string dueDateText(const std::optional<DateComponents>& components, const zones::ZoneSource& source) {
  if (!components) return "";
  auto due = dateFromComponents(*components, source);
  return due ? toLocalISOString(*due, source.local()) : "";
}

}  // namespace

std::vector<Reminder> fetchIncompleteReminders(CalendarStore& store, const IncompleteReminderQuery& query,
                                               const char* label) {
  using Delivery = std::optional<std::vector<Reminder>>;
  vantrel::OneShot<Delivery> bridge(label);
  store.fetchReminders(query, bridge.handler());
  return bridge.wait().value_or(std::vector<Reminder>{});
}

void runReminders(CalendarPlatform& platform, std::ostream& out) {
  auto store = platform.openStore();
  ensureRemindersAccess(platform, *store);
  std::vector<ReminderDTO> listed;
  for (const Reminder& r : fetchIncompleteReminders(*store, IncompleteReminderQuery{}, "runReminders()")) {
    // The query asks for incomplete ones only; a store may still slip one in.
    if (r.isCompleted) continue;
    listed.push_back({r.title.value_or(""), r.isCompleted, r.priority, dueDateText(r.dueDateComponents, platform.zoneSource()),
                      r.calendar ? r.calendar->title : "", r.notes.value_or("")});
  }
  encode(out, listed);
}

void runReminderLists(CalendarPlatform& platform, std::ostream& out) {
  auto store = platform.openStore();
  ensureRemindersAccess(platform, *store);
  std::vector<std::string> titles;
  for (const Calendar& list : store->calendars(EntityType::reminder)) titles.push_back(list.title);
  encode(out, titles);
}

}  // namespace tallowick
