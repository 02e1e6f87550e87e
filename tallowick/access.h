#pragma once
// The person's permission to use events and reminders: reading it, asking for
// it, and the guards every store operation passes first.

#include <ostream>
#include <string>

#include "tallowick/store/calendar_store.h"

namespace tallowick {

// The store's current status for the entity type; never prompts.
int authStatus(CalendarPlatform& platform, EntityType type);

// Ask for access and wait for the answer. Never fail: an error delivered with
// the answer means not granted on 14.0.0 and later, and is ignored before.
bool requestEventsAccess(CalendarPlatform& platform, CalendarStore& store);
bool requestRemindersAccess(CalendarPlatform& platform, CalendarStore& store);

// Return when the program may read and write the entity type, asking first
// when the person has not decided yet; otherwise throw HelperError::accessDenied.
void ensureEventsAccess(CalendarPlatform& platform, CalendarStore& store);
void ensureRemindersAccess(CalendarPlatform& platform, CalendarStore& store);

// request-access <kind>: asks whatever the current status and prints
// {"granted":...}. Throws HelperError::usage for a kind other than "events" or
// "reminders", after the store is opened and before anything is asked.
void runRequestAccess(CalendarPlatform& platform, std::ostream& out, const std::string& kind);

}  // namespace tallowick
