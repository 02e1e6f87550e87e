#pragma once
// The settings file of the calendar store, $XDG_CONFIG_HOME/vantrel/calendar.json:
//   {"store": "<path>", "defaultReminderList": "<title>",
//    "access": {"events": "<state>", "reminders": "<state>"}}
// Every member is optional. It is read afresh each time, never cached, so a
// change made by the person applies to the next call.

#include <optional>
#include <string>

#include "tallowick/store/calendar_store.h"

namespace tallowick::ical {

// Any value outside auth_status: the settings cannot be trusted.
inline constexpr int unknownAccessState = -1;

struct Settings {
  std::optional<std::string> store;
  std::optional<std::string> defaultReminderList;
};

// The store path and default list; a missing, unreadable or malformed file (or
// a member of the wrong type) gives none.
Settings readSettings(const std::string& settingsFile);

// The recorded access state: a missing file or member is not-determined; an
// unreadable or malformed file, or an unknown word, is unknownAccessState.
int readAccessState(const std::string& settingsFile, EntityType type);

// Records "full-access" or "denied" for the entity type, keeping every other
// member, atomically. Creates the file and its directory when missing. Refuses
// (StoreError) to overwrite a file it cannot parse.
void recordAccessState(const std::string& settingsFile, EntityType type, bool granted);

}  // namespace tallowick::ical
