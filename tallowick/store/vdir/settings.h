#pragma once
// The settings file of the calendar store, $XDG_CONFIG_HOME/vantrel/calendar.json:
//   {"store": "<path>", "defaultReminderList": "<title>",
//    "access": {"events": "<state>", "reminders": "<state>"}}
// Every member is optional. It is read afresh each time, never cached, so a
// change made by the person applies to the next call.

#include "tallowick/store/vdir/layer.h"

#include <optional>
#include <string>

#include "tallowick/store/calendar_store.h"
#include "tallowick/store/vdir/env.h"

namespace tallowick::ical {

// Any value outside auth_status: the settings cannot be trusted.
inline constexpr int unknownAccessState = -1;

struct Settings {
  std::optional<std::string> store;
  std::optional<std::string> defaultReminderList;
  std::optional<std::string> backend;  // as written; a value that is no string as its JSON text
};

// A settings file larger than this is not one a person wrote: it counts as
// malformed.
inline constexpr size_t maxSettingsBytes = 1 << 20;

// The store path, default list and back end; a missing, unreadable or
// malformed file (or a member of the wrong type) gives none.
Settings readSettings(Env& env, const std::string& settingsFile);

// Why the settings file cannot be used as written, in a person's words ("it
// is not valid JSON at byte 12: ..."); nothing when it is fine or missing.
std::optional<std::string> settingsProblem(Env& env, const std::string& settingsFile);

// The recorded access state: a missing file or member is not-determined; an
// unreadable or malformed file, or an unknown word, is unknownAccessState.
int readAccessState(Env& env, const std::string& settingsFile, EntityType type);

// Records "full-access" or "denied" for the entity type, keeping every other
// member, atomically, under the write lock `lockFile` and only over the version
// it read. Creates the file and its directory when missing. A symbolic link at
// `settingsFile` stays and the file it leads to is written. Refuses
// (StoreError) to overwrite a file it cannot parse.
void recordAccessState(Env& env, const std::string& settingsFile, EntityType type, bool granted,
                       const std::string& lockFile = "");

}  // namespace tallowick::ical
