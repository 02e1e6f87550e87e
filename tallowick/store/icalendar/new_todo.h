#pragma once
// The text of the file that holds a new reminder: one VCALENDAR with one
// VTODO, CRLF line endings, lines folded at 75 octets.

#include <string>

#include "tallowick/store/calendar_store.h"
#include "tallowick/zones/zone_source.h"

namespace tallowick::ical {

// `nowUtc` is "YYYYMMDDTHHMMSSZ". Notes and due date are written only when
// present; the due date as a floating date-time, or as a date when it has no
// hour. A due date tied to a zone is written in UTC, converted with `zones`
// (an unknown zone counts as local time).
std::string newTodoText(const Reminder& reminder, const std::string& uid, const std::string& nowUtc,
                        const zones::ZoneSource& zones);

// Throws StoreError when the reminder holds what a calendar file cannot keep
// exactly: a control character other than tab and line feed in its title or
// notes (carriage returns included: iCalendar has one line break, and it reads
// back as a line feed), a priority outside 0 to 9, or a due date outside the
// years 1 to 9999.
void checkStorable(const Reminder& reminder);

// A TEXT value escaped for iCalendar: backslash, semicolon, comma and line
// breaks.
std::string escapeText(const std::string& value);

// A content line folded at 75 octets, never inside a UTF-8 sequence, with
// CRLF after each physical line.
std::string foldLine(const std::string& line);

}  // namespace tallowick::ical
