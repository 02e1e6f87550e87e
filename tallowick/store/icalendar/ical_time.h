#pragma once
// iCalendar times as the file writes them: the wall-clock value and the zone
// it belongs to, and the zone names TZIDs stand for.
//
// Standard TZIDs go through the system zone data, never through the file's
// own VTIMEZONE: khal and others write truncated blocks that only cover a few
// years. Converting is wall_clock.h's job.

#include <libical/ical.h>

#include <string>
#include <string_view>

#include "tallowick/store/calendar_store.h"
#include "tallowick/zones/zone_source.h"

namespace tallowick::ical {

// A wall-clock time as written in the file, with the zone it belongs to.
struct ZonedTime {
  icaltimetype wall = icaltime_null_time();  // is_date for DATE values; UTC when written with Z
  std::string tzid;                          // empty when floating, UTC or a date
};

// The value of a date or date-time property and its TZID parameter.
ZonedTime zonedTimeOf(icalproperty* property, icaltimetype value);

// How far a TZID is read as the name of a system zone.
enum class ZoneNaming {
  // The IANA name itself, or behind the "/freeassociation.sourceforge.net/"
  // (and "Tzfile/") prefix that libical and Evolution write.
  exact,
  // Also a name with quotes, blanks or leading slashes around it, and a
  // Windows zone name as Outlook writes them ("Pacific Standard Time"), by
  // CLDR's table as ICU carries it. For TZIDs that no block of the file
  // defines.
  lenient,
};

// The IANA name a TZID stands for; empty when `zones` has no zone of that
// name. Only the name comes from here: the zone itself is `zones`'.
std::string systemZoneName(std::string_view tzid, const zones::ZoneSource& zones,
                           ZoneNaming naming = ZoneNaming::exact);

// "YYYYMMDDTHHMMSSZ" of an instant.
std::string utcStamp(Instant instant);

}  // namespace tallowick::ical
