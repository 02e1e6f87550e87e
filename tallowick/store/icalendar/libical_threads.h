#pragma once
// What makes libical safe to use from the store's worker threads.
//
// libical 3.0 keeps its system zones in one process-wide table that it sets
// up lazily and grows without a lock: the first call of
// icaltimezone_get_utc_timezone (the parser makes it for every UTC time)
// publishes the table before filling it, so a second thread that looks a zone
// up meanwhile reads half-written entries; a lookup of a name missing from
// zone.tab appends to the table, and loading a zone's data rewrites fields of
// its entry that every lookup reads. The rules that follow from this, and that
// the store's reading code keeps:
//  - prepareLibical() runs before any other libical call of the process
//    (CalendarFile::parse makes it);
//  - system zones are looked up only through builtinZone(), which holds one
//    lock and hands out zones already loaded;
//  - no libical getter that resolves TZIDs itself is called on a worker
//    thread (icalproperty_get_exdate and the icalcomponent_get_dtstart family
//    go through icalproperty_get_datetime_with_component, which looks zones up
//    without a lock): property values are read with icalvalue_get_* instead.
// Everything else the threads call works on their own component trees, or on
// a zone's transition cache, which libical guards with a lock of its own.

#include <libical/ical.h>

#include <string>

namespace tallowick::ical {

// Sets up libical's shared zone state once; safe to call from any thread, any
// number of times.
void prepareLibical();

// The system zone of that name ("UTC", "Europe/Berlin", "US/Eastern"), with
// its data loaded, or null when the system has no such zone. Thread-safe;
// answers from a table of its own after the first lookup of a name.
icaltimezone* builtinZone(const std::string& name);

}  // namespace tallowick::ical
