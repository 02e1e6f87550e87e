#include "tallowick/events.h"

#include <algorithm>

#include "tallowick/access.h"
#include "tallowick/dates.h"
#include "tallowick/wire.h"
#include "text/unicode.h"

namespace tallowick {
namespace {

const std::string& calendarTitle(const Event& event) {
  static const std::string untitled;
  return event.calendar ? event.calendar->title : untitled;
}

// Fills the reused DTO, so that its texts keep their buffers from one event
// to the next.
void fillDTO(CalendarEventDTO& dto, const Event& event, const std::string& calendarTitle, const Clock& now,
             zones::ZoneCursor& local) {
  // The current time only when the event has no start, asked at most once.
  Instant start = event.startDate ? *event.startDate : now();
  Instant end = event.endDate ? *event.endDate : start;
  dto.title = event.title ? std::string_view(*event.title) : std::string_view();
  assignLocalISOString(dto.startDate, start, local);
  assignLocalISOString(dto.endDate, end, local);
  dto.isAllDay = event.isAllDay;
  dto.location = event.location ? std::string_view(*event.location) : std::string_view();
  dto.calendar = calendarTitle;
  dto.notes = event.notes ? std::string_view(*event.notes) : std::string_view();
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
  const zones::ZoneRules& local = platform.zoneSource().local();
  EventQuery query{parseYmd(start, local), dayBounds(end, true, local)};
  zones::ZoneCursor cursor(local);
  std::unique_ptr<EventListing> events = store->listEvents(query);

  // Two passes over the listing: the texts are checked before anything is
  // written, then the document is written piece by piece. Events of one
  // calendar come in runs, so its title is looked at once per run.
  EventListWriter document(out);
  std::vector<bool> skipped(events->size());
  Event event;
  std::optional<std::string> lastTitle;
  bool lastSkipped = false;
  for (size_t i = 0; i < events->size(); ++i) {
    events->get(i, event);
    const std::string& title = calendarTitle(event);
    if (!lastTitle || *lastTitle != title) {
      lastTitle = title;
      lastSkipped = shouldSkipCalendar(title);
      document.check(title);
    }
    skipped[i] = lastSkipped;
    if (lastSkipped) continue;
    for (const auto* text : {&event.title, &event.location, &event.notes})
      if (*text) document.check(**text);
  }

  CalendarEventDTO dto;
  for (size_t i = 0; i < events->size(); ++i) {
    if (skipped[i]) continue;
    events->get(i, event);
    fillDTO(dto, event, calendarTitle(event), now, cursor);
    document.add(dto);
  }
  document.finish();
}

}  // namespace tallowick
