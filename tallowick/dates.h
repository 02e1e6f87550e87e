#pragma once
// Date texts in, local wall-clock texts out. Everything works in the proleptic
// Gregorian calendar and the process's local time zone (TZ), through the one
// time engine of tallowick/zones: the system's tzdata, as every date of the
// store is read.

#include <optional>
#include <string>

#include "tallowick/store/calendar_store.h"
#include "tallowick/zones/system_zones.h"

namespace tallowick {

// The instant a date text names: "YYYY-MM-DD", optionally followed by
// "THH:MM:SS" from position 11, read at fixed character positions after blanks
// are trimmed, as a wall-clock time of `local`. Out-of-range fields carry
// over. Throws HelperError::invalidInput.
Instant parseYmd(const std::string& text, const zones::ZoneRules& local = zones::systemZones().local());

// parseYmd's instant, or with `endOfDay` 23:59:59 local of the day it falls on.
// Throws HelperError::invalidInput.
Instant dayBounds(const std::string& text, bool endOfDay, const zones::ZoneRules& local = zones::systemZones().local());

// "YYYY-MM-DDTHH:MM:SS" in local wall-clock time, fraction truncated.
std::string toLocalISOString(Instant instant, const zones::ZoneRules& local = zones::systemZones().local());
// The same text written over `text`, which keeps its buffer: a long listing
// prints two per occurrence, mostly in order, which the cursor makes cheap.
void assignLocalISOString(std::string& text, Instant instant, zones::ZoneCursor& local);

// The moment the components name: in their own zone when they carry one that
// `zones` knows, else in local time. Missing hour, minute or second count as
// 0; missing year, month or day, or fields no calendar can build, give
// nothing.
std::optional<Instant> dateFromComponents(const DateComponents& components,
                                          const zones::ZoneSource& source = zones::systemZones());

// Year, month, day, hour and minute of the instant in local time; no second
// and no zone, the form in which a new reminder's due date is stored.
DateComponents localDueComponents(Instant instant, const zones::ZoneRules& local = zones::systemZones().local());

}  // namespace tallowick
