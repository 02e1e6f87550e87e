#pragma once
// `tallowick doctor`: for a person at the desktop, not for the host. The
// host's texts are fixed and say only that access was not granted or that a
// list was not found; this says which settings and store a run would use,
// which lists and files it sees, what it skips and why, and how the person
// would be asked for access.

#include <ostream>

#include "tallowick/store/calendar_store.h"

namespace tallowick {

// Prints one line per fact, "<name>: <value>" (each made one printable
// line), in the order the platform's diagnose() found them, one "problem:"
// line for each problem, and last "verdict: usable" or "verdict: not usable:
// <first problem>". When something is wrong, throws HelperError runtime
// "The calendar store is not usable: <first problem>", after everything is
// written. Asks nothing and writes nothing.
void runDoctor(CalendarPlatform& platform, std::ostream& out);

}  // namespace tallowick
