#pragma once
// The text of the file that holds a new reminder: one VCALENDAR with one
// VTODO, CRLF line endings, lines folded at 75 octets.

#include <string>

#include "tallowick/store/calendar_store.h"

namespace tallowick::ical {

// `nowUtc` is "YYYYMMDDTHHMMSSZ". Notes and due date are written only when
// present; the due date as a floating date-time, or as a date when it has no
// hour. A due date tied to a zone is written in UTC.
std::string newTodoText(const Reminder& reminder, const std::string& uid, const std::string& nowUtc);

// A TEXT value escaped for iCalendar: backslash, semicolon, comma and line
// breaks.
std::string escapeText(const std::string& value);

// A content line folded at 75 octets, never inside a UTF-8 sequence, with
// CRLF after each physical line.
std::string foldLine(const std::string& line);

}  // namespace tallowick::ical
