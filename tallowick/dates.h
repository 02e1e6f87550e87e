#pragma once
// Date texts in, local wall-clock texts out. Everything works in the proleptic
// Gregorian calendar and the process's local time zone (TZ), through the C
// library; a due date tied to a zone of its own goes through ICU.

#include <optional>
#include <string>

#include "tallowick/store/calendar_store.h"

namespace tallowick {

// The instant a date text names: "YYYY-MM-DD", optionally followed by
// "THH:MM:SS" from position 11, read at fixed character positions after blanks
// are trimmed. Out-of-range fields carry over. Throws HelperError::invalidInput.
Instant parseYmd(const std::string& text);

// parseYmd's instant, or with `endOfDay` 23:59:59 local of the day it falls on.
// Throws HelperError::invalidInput.
Instant dayBounds(const std::string& text, bool endOfDay);

// "YYYY-MM-DDTHH:MM:SS" in local wall-clock time, fraction truncated. The
// offsets, when given and able to tell, stand in for the C library's reading
// of the local zone (see CalendarPlatform::localOffsets).
std::string toLocalISOString(Instant instant, const LocalOffsets& offsets = {});
// The same text written over `text`, which keeps its buffer: a long listing
// prints two per occurrence.
void assignLocalISOString(std::string& text, Instant instant, const LocalOffsets& offsets = {});

// The moment the components name: in their own zone when they carry a known
// one, else in local time. Missing hour, minute or second count as 0; missing
// year, month or day, or fields no calendar can build, give nothing.
std::optional<Instant> dateFromComponents(const DateComponents& components);

// Year, month, day, hour and minute of the instant in local time; no second
// and no zone, the form in which a new reminder's due date is stored.
DateComponents localDueComponents(Instant instant);

}  // namespace tallowick
