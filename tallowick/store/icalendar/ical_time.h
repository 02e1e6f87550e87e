#pragma once
// Turning iCalendar times into instants and due-date components.
//
// Standard TZIDs go through the system zone data (/usr/share/zoneinfo, which
// Debian's libical reads for its built-in zones), never through the file's own
// VTIMEZONE: khal and others write truncated blocks that only cover a few years.
// A TZID that names no system zone uses the file's block; floating times and
// dates are local to the process.

#include <libical/ical.h>

#include <string>

#include "tallowick/store/calendar_store.h"

namespace tallowick::ical {

// A wall-clock time as written in the file, with the zone it belongs to.
struct ZonedTime {
  icaltimetype wall = icaltime_null_time();  // is_date for DATE values; UTC when written with Z
  std::string tzid;                          // empty when floating, UTC or a date
};

// The value of a date or date-time property and its TZID parameter.
ZonedTime zonedTimeOf(icalproperty* property, icaltimetype value);

// The system zone a TZID names, or null. Accepts libical's own
// "/freeassociation.sourceforge.net/" prefix.
icaltimezone* systemZone(const std::string& tzid);

// The zone name a standard TZID stands for ("Europe/Berlin" for the prefixed
// form), or empty when it names no system zone.
std::string systemZoneName(const std::string& tzid);

// The instant of a time: a date is local midnight; `calendar` is the file's
// VCALENDAR, searched for non-standard TZIDs.
Instant instantOf(const ZonedTime& time, icalcomponent* calendar);

// Local wall-clock fields to an instant, through the C library's local zone.
Instant localInstant(int year, int month, int day, int hour, int minute, int second);

// Due-date components of a DUE value: a date gives the date only; a floating
// date-time its fields; a standard zone its fields and name; UTC its fields
// and "UTC"; another zone is converted through the file's block to UTC.
DateComponents dueComponentsOf(const ZonedTime& time, icalcomponent* calendar);

// "YYYYMMDDTHHMMSSZ" of an instant.
std::string utcStamp(Instant instant);

}  // namespace tallowick::ical
