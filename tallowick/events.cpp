#include "tallowick/events.h"

#include <algorithm>

#include "tallowick/access.h"
#include "tallowick/dates.h"
#include "tallowick/wire.h"
#include "text/unicode.h"

namespace tallowick {
namespace {

CalendarEventDTO toDTO(const Event& event, const std::string& calendarTitle, const Clock& now) {
  // The current time only when the event has no start, asked at most once.
  Instant start = event.startDate ? *event.startDate : now();
  Instant end = event.endDate ? *event.endDate : start;
  return {event.title.value_or(""),
          toLocalISOString(start),
          toLocalISOString(end),
          event.isAllDay,
          event.location.value_or(""),
          calendarTitle,
          event.notes.value_or("")};
}

}  // namespace

const std::vector<std::string>& skippedCalendars() {
  static const std::vector<std::string> titles{"Reminders MenuBar", "Scheduled Reminders", "Birthdays",
                                               "India Holidays", "Siri Suggestions"};
  return titles;
}

bool shouldSkipCalendar(const std::string& title) {
  // The skipped titles are ASCII and so already in NFC; normalising the title
  // once makes every comparison a byte comparison.
  std::string nfc = vantrel::text::toNfc(title);
  const auto& skipped = skippedCalendars();
  if (std::find(skipped.begin(), skipped.end(), nfc) != skipped.end()) return true;
  return nfc.find("Holidays") != std::string::npos;
}

void runEvents(CalendarPlatform& platform, std::ostream& out, const std::string& start, const std::string& end,
               const Clock& now) {
  auto store = platform.openStore();
  ensureEventsAccess(platform, *store);
  EventQuery query{parseYmd(start), dayBounds(end, true)};
  std::vector<CalendarEventDTO> listed;
  for (const Event& event : store->events(query)) {
    std::string calendarTitle = event.calendar ? event.calendar->title : "";
    if (shouldSkipCalendar(calendarTitle)) continue;
    listed.push_back(toDTO(event, calendarTitle, now));
  }
  encode(out, listed);
}

}  // namespace tallowick
