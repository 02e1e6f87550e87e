#pragma once
// events <start> <end>: the events of a window of days over all calendars,
// without those of the calendars no one wants listed.

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tallowick/store/calendar_store.h"

namespace tallowick {

// The current time, asked when an event without a start is mapped.
using Clock = std::function<Instant()>;

// The five calendar titles whose events are never listed. Built once, on first
// use; main builds it before the job starts so that the job only reads it.
const std::vector<std::string>& skippedCalendars();

// True for one of the skipped titles, or a title that contains "Holidays".
// Both tests are case-sensitive and under canonical equivalence.
bool shouldSkipCalendar(const std::string& title);

// Opens a store, demands event access, then reads the window (parseYmd for
// `start`, 23:59:59 of the day `end` names) and prints the events as one array.
void runEvents(CalendarPlatform& platform, std::ostream& out, const std::string& start, const std::string& end,
               const Clock& now = currentInstant);

}  // namespace tallowick
