#pragma once
// complete-reminder <request.json>: marks the first matching incomplete
// reminder completed.

#include <ostream>
#include <string>

#include "tallowick/store/calendar_store.h"

namespace tallowick {

// Reads the request before touching the store, demands reminder access, looks
// in the first list titled `listName` (all lists when none is), completes the
// first incomplete reminder titled `title` and prints {"ok":true}, also when
// nothing matched.
void runCompleteReminder(CalendarPlatform& platform, std::ostream& out, const std::string& requestPath);

}  // namespace tallowick
