#pragma once
// add-reminder <request.json>: one new reminder from the host's request.

#include <ostream>
#include <string>

#include "tallowick/store/calendar_store.h"

namespace tallowick {

// Reads the request before touching the store, demands reminder access, puts
// the reminder into the list the request names (else the default list, else the
// first list), saves it with commit and prints {"ok":true}.
void runAddReminder(CalendarPlatform& platform, std::ostream& out, const std::string& requestPath);

}  // namespace tallowick
