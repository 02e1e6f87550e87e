#pragma once
// What makes libical safe to use from several threads at once.
//
// libical 3.0 keeps its built-in zones in one process-wide table that it sets
// up lazily and grows without a lock: the first call of
// icaltimezone_get_utc_timezone (the parser makes it for every UTC time)
// publishes the table before filling it, so a second thread that looks a zone
// up meanwhile reads half-written entries; a lookup of another name appends
// to the table. The rules that follow from this, and that the reading code
// keeps:
//  - prepareLibical() runs before any other libical call of the process
//    (CalendarFile::parse makes it);
//  - libical's zones are never looked up: every time is converted by the
//    project's own zones (tallowick/zones), from the TZID text;
//  - no libical getter that resolves TZIDs itself is called (the
//    icalcomponent_get_dtstart family and icalproperty_get_exdate go through
//    icalproperty_get_datetime_with_component, which looks zones up):
//    property values are read with icalvalue_get_* instead.
// Everything else works on a thread's own component trees.

namespace tallowick::ical {

// Sets up libical's shared state once; safe to call from any thread, any
// number of times.
void prepareLibical();

}  // namespace tallowick::ical
