#pragma once
// The system's time-zone data: TZif files under $TZDIR (default
// /usr/share/zoneinfo), as Debian's tzdata keeps them.

#include "tallowick/zones/zone_source.h"

namespace tallowick::zones {

// The one source for the whole process. find() reads each zone file once and
// keeps it. local() is the zone of TZ, read again whenever TZ changes: a zone
// name (":Europe/Berlin" or "Europe/Berlin") or an absolute path of a zone
// file, else a POSIX rule string ("CET-1CEST,M3.5.0,M10.5.0/3"); without TZ,
// /etc/localtime; UTC when none of these can be read, as the C library does.
const ZoneSource& systemZones();

}  // namespace tallowick::zones
